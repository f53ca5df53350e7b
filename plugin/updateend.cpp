#include "updateend.h"

#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareimage.h"
#include "firmwarepool.h"
#include "firmwareupdaterthread.h"
#include "leftstateteller.h"
#include "linkpolicy.h"
#include "modulelink.h"
#include "timescale.h"
#include "toolsettings.h"
#include "updateoutcome.h"
#include "updatesession.h"
#include "updatesteps.h"
#include "workerhost.h"

#include <QDebug>
#include <QTimer>

namespace {
constexpr int RefreshAfterReconnectMs = 50;
constexpr int CompletionRetryMs = 300;
// Debug lines go out under the name of the tool's slot that leads here.
constexpr const char* CompletionFunction = "FirmwareUpdate::handleUpdateCompleted()";
}

UpdateEnd::UpdateEnd(const Parts& parts, QObject* parent)
    : QObject(parent)
    , m_parts(parts)
{
}

void UpdateEnd::complete(bool successful)
{
    if (!successful && m_parts.workerHost.worker()->isCancelRequested()) {
        const ProgressMessage canceled(ProgressId::Canceled);
        emit progressText(canceled);
        emit historyLine(canceled.english());
    }
    m_parts.leftState.noteEnd(!successful && m_parts.steps.underWay());
    emit released(m_parts.image.size() > 0);
    qDebug() << CompletionFunction << "successfull:" << successful << "actualModuleKey:" << m_parts.moduleKey;

    const ModuleLink link = ModuleLink::lookUp(m_parts.pluginHandler, m_parts.moduleKey);
    if (!link.isComplete() && successful) {
        // The restarted module is not known to the host yet: try again until it is.
        emit historyMark(QStringLiteral("*"));
        QTimer::singleShot(TimeScale::scaledMs(CompletionRetryMs), this, [this] { complete(true); });
        return;
    }
    QString version = QLatin1String(UpdateSession::NoVersionText);
    if (!link.isComplete()) {
        ModuleLink::handConnectionBack(m_parts.pluginHandler, m_parts.moduleKey);
    } else {
        version = handOver(link, successful);
        // The module restarts and re-enumerates; its return under the new port ends the update.
        if (successful && LinkPolicy::forKind(link.kind()).followsPortChange()) {
            m_parts.steps.move(UpdateSteps::Event::RanWellAway);
            return;
        }
    }
    finish(successful, version, Ending::Here);
}

void UpdateEnd::completeOnReturn(const ModuleLink& link, const QString& version)
{
    // Back in its firmware after the update: the host gets the module and its new link.
    link.connection->setActive(true);
    link.connection->setEnabled(true);
    link.module->setEnabled(true);
    finish(true, version, Ending::OnReturn);
}

QString UpdateEnd::handOver(const ModuleLink& link, bool successful)
{
    const QString version = LinkPolicy::forKind(link.kind()).handsLinkBack()
                                ? handBackAndReport(link, successful)
                                : QLatin1String(UpdateSession::NoVersionText);
    emit activeFirmwareShown(version);
    if (successful) {
        const QString poolNote = FirmwarePool(m_parts.settings.homePath()).keepCopy(m_parts.chosenFile);
        if (!poolNote.isEmpty())
            emit historyLine(poolNote.toHtmlEscaped());
    }
    return version;
}

QString UpdateEnd::handBackAndReport(const ModuleLink& link, bool successful)
{
    ModuleLink::handBack(link);
    QString version = QLatin1String(UpdateSession::NoVersionText);
    QString reportedKey;
    if (successful) {
        version = link.handler->getFirmwareVersion(link.module->moduleAddress());
        reportedKey = link.module->key();
    }
    emit firmwareCompleted(reportedKey, successful ? QStringLiteral("true") : QStringLiteral("false"));
    return version;
}

void UpdateEnd::finish(bool successful, const QString& version, Ending ending)
{
    // The rebuilt list selects its first module: with several listed, that need not be this one.
    const QString updatedModuleKey = m_parts.moduleKey;
    // The rebuild asks the selected module its version; a cancelled worker still out rebuilds as it ends.
    // A module back under its new port is given a moment to settle first.
    if (ending == Ending::OnReturn)
        QTimer::singleShot(TimeScale::scaledMs(RefreshAfterReconnectMs), this, &UpdateEnd::listRebuildWanted);
    else if (!m_parts.workerHost.workerOut())
        emit listRebuildWanted();
    // The update is over: a re-call still pending (a port that came back while the run ended) would
    // find the module in its bootloader and start a second run with the program the rebuild released.
    emit over();
    m_parts.steps.move(UpdateSteps::Event::Ended);
    if (ending == Ending::Here)
        emit concluded();
    reportOutcome(successful, version, updatedModuleKey);
}

void UpdateEnd::reportOutcome(bool successful, const QString& version, const QString& moduleKey)
{
    const bool cancelled = m_parts.workerHost.worker()->isCancelRequested();
    QString failure = cancelled ? ProgressMessage(ProgressId::Canceled).english() : m_parts.outcome.lastStatus();
    // The step's fixed text says what failed; the link's reason, after it, says why.
    const QString reason = m_parts.workerHost.requestFailure();
    if (!successful && !cancelled && !reason.isEmpty())
        failure += QStringLiteral(": ") + (reason.endsWith(QLatin1Char('.')) ? reason.chopped(1) : reason);
    const QString readBack = version == QLatin1String(UpdateSession::NoVersionText) ? QString() : version;
    m_parts.outcome.finish(successful, failure, moduleKey, readBack, cancelled);
}
