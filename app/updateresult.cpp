#include "updateresult.h"

#include "hostoptions.h"
#include "updatephase.h"

#include <QLocale>
#include <QStringList>

namespace {

constexpr qint64 MsPerSecond = 1000;
constexpr qint64 SecondsPerMinute = 60;
constexpr double BytesPerKiB = 1024.0;

QString minutesAndSeconds(qint64 ms)
{
    const qint64 seconds = ms / MsPerSecond;
    return QStringLiteral("%1:%2").arg(seconds / SecondsPerMinute).arg(seconds % SecondsPerMinute, 2, 10, QLatin1Char('0'));
}

QString groupedNumber(qint64 number)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(number);
}

QString outcomeName(UpdateResult::Outcome outcome)
{
    switch (outcome) {
    case UpdateResult::Outcome::Updated:
        return QStringLiteral("updated");
    case UpdateResult::Outcome::Failed:
        return QStringLiteral("failed");
    case UpdateResult::Outcome::TimedOut:
        return QStringLiteral("timed out");
    case UpdateResult::Outcome::Interrupted:
        return QStringLiteral("interrupted");
    case UpdateResult::Outcome::NotStarted:
        break;
    }
    return QStringLiteral("not started");
}

}

int UpdateResult::exitCode() const
{
    switch (outcome) {
    case Outcome::Updated:
        return HostOptions::ExitUpdated;
    case Outcome::Failed:
    case Outcome::TimedOut:
        return HostOptions::ExitUpdateFailed;
    case Outcome::Interrupted:
        return HostOptions::ExitInterrupted;
    case Outcome::NotStarted:
        break;
    }
    return HostOptions::ExitUsage;
}

QString UpdateResult::moduleStateAfter(const QString& phase)
{
    if (phase.isEmpty())
        return QStringLiteral("the module was not touched");
    // The phases in the order they are reached, by what they leave on the module: past the entry the
    // module is in its bootloader, from the erase on without firmware, from the restart on with the new one.
    UpdatePhase reached;
    const bool known = UpdatePhases::fromName(phase, &reached) && reached != UpdatePhase::Entry;
    if (known && reached < UpdatePhase::Erase)
        return QStringLiteral("the module is in its bootloader, its firmware not yet erased; run the update again");
    if (known && reached < UpdatePhase::Restart)
        return QStringLiteral("the module stays in its bootloader with no firmware; run the update again");
    if (known)
        return QStringLiteral("the new firmware is stored; if the module does not come back, power-cycle it and "
                              "check it with --list");
    return QStringLiteral("the module may have switched to its bootloader, its firmware not yet erased; run the "
                          "update again");
}

QString UpdateResult::closingLine() const
{
    const QString state = moduleState.isEmpty() ? moduleStateAfter(phase) : moduleState;
    const QString inPhase = phase.isEmpty() ? QStringLiteral("before it started")
                                            : QStringLiteral("in the %1 phase").arg(phase);
    switch (outcome) {
    case Outcome::Updated: {
        const double seconds = qMax<qint64>(elapsedMs, 1) / double(MsPerSecond);
        return QStringLiteral("Updated %1 to %2: %3 bytes in %4 (%5 KiB/s)")
            .arg(moduleKey, firmwareVersion, groupedNumber(bytes), minutesAndSeconds(elapsedMs))
            .arg(bytes / BytesPerKiB / seconds, 0, 'f', 2);
    }
    case Outcome::Failed:
        return QStringLiteral("Update of %1 failed %2 after %3: %4; %5")
            .arg(moduleKey, inPhase, minutesAndSeconds(elapsedMs), failureText, state);
    case Outcome::TimedOut:
        return QStringLiteral("Update of %1 timed out after %2 s %3 (cancelled); %4")
            .arg(moduleKey)
            .arg(timeoutSeconds)
            .arg(inPhase, state);
    case Outcome::Interrupted:
        return QStringLiteral("Update of %1 interrupted %2 (cancelled); %3").arg(moduleKey, inPhase, state);
    case Outcome::NotStarted:
        break;
    }
    return QStringLiteral("dux-host: %1").arg(failureText);
}

QJsonObject UpdateResult::toJson() const
{
    return QJsonObject{
        {QStringLiteral("module"), moduleKey},
        {QStringLiteral("port"), port},
        {QStringLiteral("file"), fileName},
        {QStringLiteral("identifier"), identifier},
        {QStringLiteral("result"), outcomeName(outcome)},
        {QStringLiteral("failure"), failureText},
        {QStringLiteral("phase"), phase},
        {QStringLiteral("bytes"), bytes},
        {QStringLiteral("seconds"), double(elapsedMs) / MsPerSecond},
        {QStringLiteral("firmwareVersion"), firmwareVersion},
    };
}
