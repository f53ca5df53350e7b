#include "updatephase.h"

namespace {

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
