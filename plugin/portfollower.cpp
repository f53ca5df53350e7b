#include "portfollower.h"

#include "linkpolicy.h"
#include "lowlevel.h"
#include "modulekey.h"
#include "portchange.h"

#include <QDebug>

namespace {
constexpr const char* PortChangeTemplate = "<span style=\"color: gold;\"><br>COM-Port has changed from %1 to %2<br></span>";
constexpr const char* UnfollowedPortTemplate =
    "<span style=\"color: gold;\"><br>Port %1 appeared during the update and is ignored: only a module on a USB link "
    "comes back under a new port; the update stays on %2.<br></span>";
// Debug lines go out under the name of the tool's slot that leads here.
constexpr const char* PortsFunction = "FirmwareUpdate::handleUSBDevices()";
}

PortFollower::Following PortFollower::follow(const PortChange& change, const QString& moduleKey, bool entered, int linkKind)
{
    qDebug() << PortsFunction << change.present << change.old << change.removed;
    Following following;
    following.moduleKey = moduleKey;
    if (change.added.isEmpty() || !entered)
        return following;
    if (!LinkPolicy::forKind(linkKind).followsPortChange()) {
        following.historyLine = QString::fromLatin1(UnfollowedPortTemplate)
                                    .arg(change.added.join(QStringLiteral(", ")).toHtmlEscaped(),
                                         ModuleKey(moduleKey).port().toHtmlEscaped());
        return following;
    }
    const QString newPort = change.added.first();
    if (!moduleKey.startsWith(newPort)) {
        following.moduleKey = PortChange::rekeyed(moduleKey, newPort);
        following.historyLine = QString::fromLatin1(PortChangeTemplate).arg(ModuleKey(moduleKey).port(), newPort);
    }
    following.recall = true;
    qCDebug(debLowLevel) << PortsFunction << change.added << following.moduleKey << "\r\n" << entered;
    return following;
}
