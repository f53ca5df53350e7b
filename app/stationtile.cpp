#include "stationtile.h"

#include "recordsview.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

// The verdict is read from across the line: several times the text's size.
constexpr double VerdictScale = 2.5;
constexpr const char* PassColour = "#1b7f2a";
constexpr const char* FailColour = "#c0201a";
constexpr const char* IdleColour = "#6b6b6b";

}

StationTile::StationTile(int number, QWidget* parent)
    : QFrame(parent)
    , m_module(new QLabel)
    , m_serial(new QLineEdit)
    , m_phase(new QLabel)
    , m_progress(new QProgressBar)
    , m_verdict(new QLabel)
    , m_message(new QLabel)
    , m_retry(new QPushButton(tr("Retry")))
    , m_flashOnPlug(new QCheckBox(tr("Flash on plug")))
{
    setObjectName(QStringLiteral("fixture%1").arg(number));
    setFrameShape(QFrame::StyledPanel);
    auto* title = new QLabel(tr("Fixture %1").arg(number));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    m_serial->setObjectName(QStringLiteral("serial"));
    m_serial->setPlaceholderText(tr("Serial number"));
    m_verdict->setObjectName(QStringLiteral("verdict"));
    m_verdict->setAlignment(Qt::AlignCenter);
    QFont large = m_verdict->font();
    large.setPointSizeF(large.pointSizeF() * VerdictScale);
    large.setBold(true);
    m_verdict->setFont(large);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_retry->setObjectName(QStringLiteral("retry"));
    m_flashOnPlug->setObjectName(QStringLiteral("flashOnPlug"));
    m_phase->setObjectName(QStringLiteral("phase"));
    m_module->setObjectName(QStringLiteral("module"));

    auto* layout = new QGridLayout(this);
    layout->addWidget(title, 0, 0);
    layout->addWidget(m_module, 0, 1);
    layout->addWidget(m_serial, 1, 0, 1, 2);
    layout->addWidget(m_phase, 2, 0);
    layout->addWidget(m_progress, 2, 1);
    layout->addWidget(m_verdict, 3, 0, 1, 2);
    layout->addWidget(m_message, 4, 0, 1, 2);
    layout->addWidget(m_flashOnPlug, 5, 0);
    layout->addWidget(m_retry, 5, 1);

    connect(m_serial, &QLineEdit::returnPressed, this, [this] { emit serialEntered(m_serial->text()); });
    connect(m_retry, &QPushButton::clicked, this, &StationTile::retryClicked);
    connect(m_flashOnPlug, &QCheckBox::toggled, this, &StationTile::flashOnPlugToggled);
}

void StationTile::showFixture(const Station::Fixture& fixture)
{
    m_module->setText(fixture.moduleKey.isEmpty() ? tr("no module") : fixture.moduleKey);
    if (!m_serial->hasFocus() || fixture.state == Station::State::Running)
        m_serial->setText(fixture.serialNumber);
    m_serial->setReadOnly(fixture.state == Station::State::Running);
    m_phase->setText(RecordsView::shownPhase(fixture.phase));
    m_progress->setValue(fixture.percent);
    const bool passed = fixture.state == Station::State::Passed;
    const bool failed = fixture.state == Station::State::Failed;
    m_verdict->setText(passed ? tr("PASS") : failed ? tr("FAIL") : QString());
    m_verdict->setStyleSheet(QStringLiteral("color: %1").arg(QLatin1String(passed ? PassColour : failed ? FailColour : IdleColour)));
    m_message->setText(fixture.message);
    m_retry->setEnabled(failed);
}

void StationTile::refuseSerial(const QString& reason)
{
    m_message->setText(reason);
    m_serial->selectAll();
}

void StationTile::focusSerial()
{
    m_serial->setFocus();
    m_serial->selectAll();
}
