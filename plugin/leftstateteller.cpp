#include "leftstateteller.h"

#include "commandhandlerinterface.h"
#include "leftstate.h"
#include "modulelink.h"
#include "modulestatenote.h"
#include "pluginhandler.h"
#include "updateoutcome.h"
#include "workerhost.h"

#include <QPointer>

LeftStateTeller::LeftStateTeller(PluginHandler* pluginHandler, const QString& moduleKey, const UpdateOutcome& outcome,
                                 const WorkerHost& workerHost, QObject* parent)
    : QObject(parent)
    , m_pluginHandler(pluginHandler)
    , m_moduleKey(moduleKey)
    , m_outcome(outcome)
    , m_workerHost(workerHost)
{
}

void LeftStateTeller::noteEnd(bool owes)
{
    if (owes)
        m_owed = true;
    if (m_owed && m_workerHost.linkFree()) {
        m_owed = false;
        tell();
    }
}

void LeftStateTeller::tell()
{
    const UpdateOutcome::Report report = m_outcome.progressReport();
    if (report.phase.isEmpty())
        return;
    // The module is asked where it is now, as dux-host asks it: a module whose last request went
    // unanswered is not asked again.
    const QPointer<LeftStateTeller> alive(this);
    const ModuleLink link = ModuleLink::lookUp(m_pluginHandler, m_moduleKey);
    const bool askable = m_workerHost.moduleAnswered() && link.isComplete() && link.handler->isDeviceOpen();
    const QString answer = askable ? ModuleLink::askVersion(link) : QString();
    if (!alive)
        return;
    const bool erases = !(report.subject.verifyOnly || report.subject.readBack || report.skipped);
    const ModuleStateNote state = ModuleStateNote::of(LeftStates::after(report.phase, erases, answer), answer);
    emit told(state.text);
    // The host's module lists still show the firmware the module ran before.
    if (state.inBootloader && m_pluginHandler)
        m_pluginHandler->noteModuleVersion(m_moduleKey, answer);
}
