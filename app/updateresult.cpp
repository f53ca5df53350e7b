#include "updateresult.h"

#include "bootloadercommands.h"
#include "hostoptions.h"
#include "leftstate.h"
#include "versiontext.h"
#include "visibletext.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QLocale>
#include <QStringList>

namespace {

constexpr qint64 MsPerSecond = 1000;
constexpr qint64 SecondsPerMinute = 60;
constexpr double BytesPerKiB = 1024.0;
// The module was not asked, or did not answer, after the run.
constexpr const char* UnknownState = "state unknown: check with --list";

QString minutesAndSeconds(qint64 ms)
{
    const qint64 seconds = ms / MsPerSecond;
    return QStringLiteral("%1:%2").arg(seconds / SecondsPerMinute).arg(seconds % SecondsPerMinute, 2, 10, QLatin1Char('0'));
}

QString groupedNumber(qint64 number)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(number);
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

}

QString UpdateResult::timedOutText() const
{
    return QStringLiteral("timed out after %1 s").arg(timeoutSeconds);
}

QStringList UpdateResult::pageAddresses(const QVector<quint32>& pages)
{
    QStringList addresses;
    for (quint32 page : pages)
        addresses << QStringLiteral("0x%1").arg(page, 8, 16, QLatin1Char('0'));
    return addresses;
}

QJsonValue UpdateResult::differingPagesJson() const
{
    if (result != Result::Verified && result != Result::Differs)
        return QJsonValue(QJsonValue::Null);
    return QJsonArray::fromStringList(pageAddresses(differingPages));
}

int UpdateResult::exitCode() const
{
    switch (result) {
    case Result::Updated:
    case Result::Resumed:
    case Result::Skipped:
    case Result::Planned:
    case Result::Verified:
    case Result::ReadBack:
        return HostOptions::ExitUpdated;
    case Result::Failed:
    case Result::TimedOut:
    case Result::Differs:
        return HostOptions::ExitUpdateFailed;
    case Result::Interrupted:
        return HostOptions::ExitInterrupted;
    case Result::NotStarted:
    case Result::LineStopped:
    case Result::LineRestarted:
        break;
    }
    return HostOptions::ExitUsage;
}

QString UpdateResult::moduleStateAfter(const QString& phase, bool erases, const QString& answer)
{
    switch (LeftStates::after(phase, erases, answer)) {
    case LeftState::Untouched:
        return QStringLiteral("the module was not touched");
    case LeftState::Unknown:
        return QLatin1String(UnknownState);
    case LeftState::Firmware:
        return QStringLiteral("the module runs its firmware %1; run the update again").arg(answer);
    case LeftState::NotErased:
        return QStringLiteral("the module is in its bootloader, its firmware not yet erased; run the update again");
    case LeftState::NoFirmware:
        return QStringLiteral("the module stays in its bootloader with no firmware; run the update again");
    case LeftState::NewFirmware:
        break;
    }
    return QStringLiteral("the module is in its bootloader, the new firmware written; run the update again");
}

QString UpdateResult::stateText() const
{
    switch (result) {
    case Result::Updated:
    case Result::Resumed:
    case Result::Planned:
        return QString();
    case Result::Verified:
        return QStringLiteral("it holds %1, restarted without an erase").arg(fileIdentifier);
    case Result::ReadBack:
        return QStringLiteral("%1 bytes from 0x%2 written to %3; restarted without an erase")
            .arg(groupedNumber(readBytes.size()), QString::number(readBase, 16), readBackFile);
    case Result::Differs:
        return QStringLiteral("%1 pages differ from %2, at %3; restarted without an erase")
            .arg(differingPages.size())
            .arg(fileIdentifier, pageAddresses(differingPages).join(QStringLiteral(", ")));
    case Result::Skipped:
        // Skipped after its restart, it runs what it answered then; left alone by --watch, what it ran.
        return QStringLiteral("it already runs %1").arg(firmwareAfter.isEmpty() ? firmwareBefore : firmwareAfter);
    default:
        // Empty when the module was not asked (the run was cut short while its worker held the link).
        return moduleState.isEmpty() ? moduleStateAfter(phase, erases, QString()) : moduleState;
    }
}

QString UpdateResult::closingLine() const
{
    const QString module = visibleText(moduleKey);
    const QString failure = visibleText(failureText);
    const QString state = visibleText(stateText());
    const QString inPhase = phase.isEmpty() ? QStringLiteral("before it started")
                                            : QStringLiteral("in the %1 phase").arg(phase);
    switch (result) {
    case Result::Updated:
    case Result::Resumed:
        return writtenLine();
    case Result::Failed:
        return QStringLiteral("Update of %1 failed %2 after %3: %4; %5")
            .arg(module, inPhase, minutesAndSeconds(durationMs), failure, state);
    case Result::TimedOut:
        return QStringLiteral("Update of %1 timed out after %2 s %3 (cancelled); %4")
            .arg(module)
            .arg(timeoutSeconds)
            .arg(inPhase, state);
    case Result::Interrupted:
        if (moduleKey.isEmpty())
            return QStringLiteral("dux-host: %1").arg(failure);
        return QStringLiteral("Update of %1 interrupted %2 (cancelled); %3").arg(module, inPhase, state);
    case Result::Skipped:
        return QStringLiteral("Skipped %1: %2").arg(module, state);
    case Result::Verified:
        return QStringLiteral("Verified %1: %2").arg(module, state);
    case Result::ReadBack:
        return QStringLiteral("Read back %1 in %2: %3").arg(module, minutesAndSeconds(durationMs), state);
    case Result::Differs:
        return QStringLiteral("%1 differs from %2: %3").arg(module, visibleText(fileName), state);
    case Result::Planned:
        return plannedLine();
    case Result::NotStarted:
    case Result::LineStopped:
    case Result::LineRestarted:
        break;
    }
    if (moduleKey.isEmpty())
        return QStringLiteral("dux-host: %1").arg(failure);
    return QStringLiteral("Update of %1 not started: %2; %3").arg(module, failure, state);
}

QString UpdateResult::writtenLine() const
{
    const double seconds = qMax<qint64>(durationMs, 1) / double(MsPerSecond);
    return QStringLiteral("%1 %2 to %3: %4 bytes in %5 (%6 KiB/s, window %7)")
        .arg(result == Result::Resumed ? QStringLiteral("Resumed") : QStringLiteral("Updated"), visibleText(moduleKey),
             visibleText(firmwareAfter), groupedNumber(bytes), minutesAndSeconds(durationMs))
        .arg(bytes / BytesPerKiB / seconds, 0, 'f', 2)
        .arg(window);
}

QString UpdateResult::plannedLine() const
{
    // What the module runs as the run found it: a bootloader's answer is no firmware.
    const QString running = VersionText::modeOf(firmwareBefore) == VersionText::Mode::Bootloader
        ? QStringLiteral("in its bootloader %1").arg(visibleText(firmwareBefore))
        : QStringLiteral("firmware %1").arg(visibleText(firmwareBefore));
    const QString held =
        firmwareBefore == fileIdentifier ? QStringLiteral("; it already runs this firmware") : QString();
    return QStringLiteral("Would update %1 (%2) with %3 (firmware %4): %5 bytes, %6 flash words, "
                          "at least %7 on the line; nothing was sent to the module%8")
        .arg(visibleText(moduleKey), running, visibleText(fileName), visibleText(fileIdentifier), groupedNumber(bytes),
             groupedNumber(bytes / Bootloader::WordBytes), minutesAndSeconds(estimatedMs), held);
}

QJsonObject UpdateResult::toJson() const
{
    QJsonObject object = EndedUpdate::toJson();
    // The lines name the file as it was given; the JSON as the record does.
    object.insert(QStringLiteral("file"), textOrNull(filePath(fileName)));
    object.insert(QStringLiteral("state"), textOrNull(stateText()));
    object.insert(QStringLiteral("bytes"), bytes);
    object.insert(QStringLiteral("window"), window > 0 ? QJsonValue(window) : QJsonValue(QJsonValue::Null));
    object.insert(QStringLiteral("differingPages"), differingPagesJson());
    object.insert(QStringLiteral("estimatedSeconds"),
                  estimatedMs < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(estimatedMs) / MsPerSecond));
    return object;
}
