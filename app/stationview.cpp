#include "stationview.h"

#include "station.h"
#include "stationtile.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// Four tiles a row: sixteen fixtures fit a screen at a glance.
constexpr int TilesPerRow = 4;
constexpr int PercentScale = 100;
constexpr const char* BannerStyle = "background: #c0201a; color: white; padding: 6px;";

}

StationView::StationView(Station* station, QWidget* parent)
    : QWidget(parent)
    , m_station(station)
    , m_counts(new QLabel)
    , m_failures(new QLabel)
    , m_banner(new QFrame)
    , m_stopReason(new QLabel)
    , m_tiles(new QGridLayout)
{
    setObjectName(QStringLiteral("stationView"));
    const Station::Setup& setup = station->setup();
    setWindowTitle(tr("Station %1: %2").arg(setup.stationName, setup.fileIdentifier));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buildHeader(setup.operatorName));
    layout->addWidget(m_failures);
    buildStopBanner();
    layout->addWidget(m_banner);
    layout->addWidget(buildTileArea(), 1);

    connect(station, &Station::fixtureAdded, this, &StationView::addTile);
    connect(station, &Station::fixtureChanged, this,
            [this](int index) { m_tileList.at(index)->showFixture(m_station->fixture(index)); });
    connect(station, &Station::countsChanged, this, &StationView::showCounts);
    connect(station, &Station::stopChanged, this, &StationView::showStop);
    for (int index = 0; index < station->fixtureCount(); ++index)
        addTile(index);
    showCounts();
    showStop();
}

QLayout* StationView::buildHeader(const QString& operatorName)
{
    m_counts->setObjectName(QStringLiteral("stationCounts"));
    m_failures->setObjectName(QStringLiteral("stationFailures"));
    m_failures->setWordWrap(true);
    auto* startAll = new QPushButton(tr("Start all"));
    startAll->setObjectName(QStringLiteral("startAll"));
    connect(startAll, &QPushButton::clicked, m_station, &Station::startAll);
    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(tr("Operator: %1").arg(operatorName)));
    header->addWidget(m_counts, 1);
    header->addWidget(startAll);
    return header;
}

void StationView::buildStopBanner()
{
    m_banner->setObjectName(QStringLiteral("stopBanner"));
    m_banner->setStyleSheet(QLatin1String(BannerStyle));
    m_stopReason->setObjectName(QStringLiteral("stopReason"));
    m_stopReason->setWordWrap(true);
    auto* acknowledge = new QPushButton(tr("Acknowledge"));
    acknowledge->setObjectName(QStringLiteral("acknowledge"));
    connect(acknowledge, &QPushButton::clicked, m_station, &Station::acknowledge);
    auto* banner = new QHBoxLayout(m_banner);
    banner->addWidget(m_stopReason, 1);
    banner->addWidget(acknowledge);
}

QWidget* StationView::buildTileArea()
{
    auto* tiles = new QWidget;
    tiles->setLayout(m_tiles);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(tiles);
    return scroll;
}

void StationView::addTile(int index)
{
    auto* tile = new StationTile(index + 1);
    m_tileList.append(tile);
    m_tiles->addWidget(tile, index / TilesPerRow, index % TilesPerRow);
    tile->showFixture(m_station->fixture(index));
    connect(tile, &StationTile::serialEntered, this, [this, tile, index](const QString& number) {
        const QString refusal = m_station->enterSerial(index, number);
        tile->refuseSerial(refusal);
        // The scanner's next unit goes into the next fixture.
        if (refusal.isEmpty())
            m_tileList.at((index + 1) % m_tileList.size())->focusSerial();
    });
    connect(tile, &StationTile::retryClicked, this, [this, index] { m_station->retry(index); });
    connect(tile, &StationTile::flashOnPlugToggled, this, [this, index](bool on) { m_station->setFlashOnPlug(index, on); });
}

void StationView::showCounts()
{
    const StationShift& shift = m_station->shift();
    const double yield = shift.firstPassYield();
    m_counts->setText(tr("Passed: %1   Failed: %2   First-pass yield: %3")
                          .arg(shift.passed())
                          .arg(shift.failed())
                          .arg(yield < 0 ? tr("none yet") : QStringLiteral("%1 %").arg(qRound(yield * PercentScale))));
    QStringList failures;
    for (const StationShift::FailureCount& failure : shift.topFailures())
        failures.append(tr("%1× %2").arg(failure.second).arg(failure.first));
    m_failures->setText(failures.isEmpty() ? QString() : tr("Most frequent failures: %1").arg(failures.join(QStringLiteral("; "))));
    m_failures->setVisible(!failures.isEmpty());
}

void StationView::showStop()
{
    const StationShift& shift = m_station->shift();
    m_stopReason->setText(shift.stopReason());
    m_banner->setVisible(shift.isStopped());
}
