#include "updateform.h"
#include "ui_firmwareupdate.h"

#include "progressmessage.h"
#include "updateoutcome.h"
#include "updatesession.h"

#include <QTextCursor>
#include <QTextStream>

namespace {
constexpr const char* HistoryEchoPrefix = "void FirmwareUpdate::handleDebugMessage(QString)";
// One of these per flash page: they stay out of the console, which would slow the write down.
constexpr const char* UnechoedHistoryPrefix = "Writing page at";
}

UpdateForm::UpdateForm(UpdateSession* session, Ui::FirmwareUpdate* ui, QObject* parent)
    : QObject(parent)
    , m_ui(ui)
{
    connect(session, &UpdateSession::historyLine, this, &UpdateForm::addHistoryLine);
    connect(session, &UpdateSession::historyNote, ui->teHistory, &QTextEdit::append);
    connect(session, &UpdateSession::historyMark, ui->teHistory, &QTextEdit::insertPlainText);
    connect(session, &UpdateSession::historyCleared, ui->teHistory, &QTextEdit::clear);
    connect(session, &UpdateSession::progressText, ui->leProgress,
            [ui](const ProgressMessage& message) { ui->leProgress->setText(message.translated()); });
    connect(session, &UpdateSession::progressValue, ui->pbProcess, &QProgressBar::setValue);
    connect(session, &UpdateSession::progressMaximum, ui->pbProcess, &QProgressBar::setMaximum);
    connect(session, &UpdateSession::moduleVersionRead, ui->leModuleVersion, &QLineEdit::setText);
    connect(session, &UpdateSession::activeFirmwareShown, this, &UpdateForm::showActiveFirmware);
    connect(session, &UpdateSession::cancelAllowed, ui->btnCancel, &QPushButton::setEnabled);
    connect(session, &UpdateSession::eraseRunning, ui->pbProcess, &QProgressBar::setInvertedAppearance);
    connect(session, &UpdateSession::begun, this, &UpdateForm::lock);
    connect(session, &UpdateSession::released, this, &UpdateForm::release);
    connect(session, &UpdateSession::workerStarting, this, &UpdateForm::showWorkerStarting);
    // A good update ends after the list rebuild (on a USB link, once the module is back).
    connect(session->outcome(), &UpdateOutcome::finished, this,
            [this](const UpdateOutcome::Report& report) { showDone(report); });
}

void UpdateForm::addHistoryLine(const QString& html)
{
    // Each message gets a block of its own and the cursor waits in a fresh empty block after it: the
    // reader sees one line per message as with a line break, but an insertion only lays out its own
    // block, where one growing paragraph would be laid out again in full for every line.
    QTextCursor cursor = m_ui->teHistory->textCursor();
    cursor.insertHtml(html);
    // The new line starts without the colour a span of the message may have left at the cursor.
    cursor.insertBlock(cursor.blockFormat(), QTextCharFormat());
    m_ui->teHistory->setTextCursor(cursor);
    m_ui->teHistory->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
    m_ui->teHistory->update();

    if (html.startsWith(QLatin1String(UnechoedHistoryPrefix)))
        return;
    QTextStream console(stderr);
    console << HistoryEchoPrefix << ' ' << html << "\r\n";
}

void UpdateForm::lock()
{
    m_ui->btnCancel->setEnabled(false);
    m_ui->btnUpdate->setEnabled(false);
    m_ui->btnRefresh->setEnabled(false);
    m_ui->gbNewFirmware->setEnabled(false);
}

void UpdateForm::release(bool updateAllowed)
{
    m_ui->pbProcess->setRange(1, 99);
    m_ui->pbProcess->setValue(0);
    m_ui->btnCancel->setEnabled(false);
    m_ui->btnUpdate->setEnabled(updateAllowed);
    m_ui->btnRefresh->setEnabled(true);
    m_ui->gbNewFirmware->setEnabled(true);
}

void UpdateForm::showDone(const UpdateOutcome::Report& report)
{
    if (!report.success)
        return;
    // The completion resets the bar; the history says it is done, as it says what a failed update left.
    if (report.skipped || report.subject.verifyOnly || report.subject.readBack)
        addHistoryLine(QCoreApplication::translate("ModuleStateNote", "Module state: runs the firmware it already held; it "
                                                                      "was restarted, not erased."));
    else
        addHistoryLine(QCoreApplication::translate("ModuleStateNote", "Module state: runs its new firmware. The update is done."));
}

void UpdateForm::showActiveFirmware(const QString& version)
{
    // Versions are the module's own; only the word for none read back is ours.
    m_ui->leActualFirmware->setText(version == QLatin1String(UpdateSession::NoVersionText)
                                        ? QCoreApplication::translate("FirmwareUpdate", UpdateSession::NoVersionText)
                                        : version);
    m_ui->teHistory->moveCursor(QTextCursor::End);
    m_ui->teHistory->repaint();
}

void UpdateForm::showWorkerStarting()
{
    m_ui->pbProcess->setRange(0, 0);
    // Until the next rebuild of the list, so that the selection cannot change under the running update.
    m_ui->cmbModules->blockSignals(true);
}
