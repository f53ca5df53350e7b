#include "updatephase.h"

namespace {

// The tool's and the dialogue's waits, by the phase in which they fall.
constexpr int VersionAnswerWaitMs = 333;
// The entry: the tool waits 5 s for the module to come up in its bootloader, then looks once more.
constexpr int EntryPausesMs = 5000 + VersionAnswerWaitMs + 250;
constexpr int DetectionPausesMs = VersionAnswerWaitMs + 300;
constexpr int ParametersPausesMs = 50;
constexpr int ErasePausesMs = 250;
// Before the first page and after the last word.
constexpr int WritePausesMs = 250 + 1000;
// The restarted module is looked for after 1.5 s, then its version is asked after 0.666 s.
constexpr int ReconnectPausesMs = 1500 + 666 + VersionAnswerWaitMs;

// A switch without a default, so that the compiler names a phase that has no name yet; null past the
// last phase.
const char* nameOf(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Entry:
        return "entry";
    case UpdatePhase::Detection:
        return "detection";
    case UpdatePhase::Parameters:
        return "parameters";
    case UpdatePhase::Erase:
        return "erase";
    case UpdatePhase::Write:
        return "write";
    case UpdatePhase::Verify:
        return "verify";
    case UpdatePhase::Store:
        return "store";
    case UpdatePhase::Restart:
        return "restart";
    case UpdatePhase::Reconnect:
        return "reconnect";
    }
    return nullptr;
}

}

QVector<UpdatePhase> UpdatePhases::all()
{
    // The values count up from 0 without gaps.
    QVector<UpdatePhase> phases;
    for (int value = 0; nameOf(UpdatePhase(value)); ++value)
        phases.append(UpdatePhase(value));
    return phases;
}

QString UpdatePhases::name(UpdatePhase phase)
{
    return QLatin1String(nameOf(phase));
}

QStringList UpdatePhases::names()
{
    QStringList names;
    for (UpdatePhase phase : all())
        names.append(name(phase));
    return names;
}

UpdatePhases::Share UpdatePhases::progressShare(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Entry:
        return {0, 2};
    case UpdatePhase::Detection:
        return {2, 3};
    case UpdatePhase::Parameters:
        return {3, 4};
    case UpdatePhase::Erase:
        return {4, 5};
    case UpdatePhase::Write:
        return {5, 85};
    case UpdatePhase::Verify:
        return {85, 95};
    case UpdatePhase::Store:
        return {95, 96};
    case UpdatePhase::Restart:
        return {96, 98};
    case UpdatePhase::Reconnect:
        return {98, 99};
    }
    return {0, 0};
}

bool UpdatePhases::fromName(const QString& name, UpdatePhase* phase)
{
    for (UpdatePhase candidate : all()) {
        if (name == QLatin1String(nameOf(candidate))) {
            *phase = candidate;
            return true;
        }
    }
    return false;
}

int UpdatePhases::knownPausesMs(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Entry:
        return EntryPausesMs;
    case UpdatePhase::Detection:
        return DetectionPausesMs;
    case UpdatePhase::Parameters:
        return ParametersPausesMs;
    case UpdatePhase::Erase:
        return ErasePausesMs;
    case UpdatePhase::Write:
        return WritePausesMs;
    case UpdatePhase::Reconnect:
        return ReconnectPausesMs;
    case UpdatePhase::Verify:
    case UpdatePhase::Store:
    case UpdatePhase::Restart:
        break;
    }
    return 0;
}
