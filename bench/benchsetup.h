#pragma once

#include <QStringList>

// What every benchmark sets up before it measures: the dialogue's delays scaled down unless the caller
// chose a scale, the tool's debug chatter off the measured path, and "--name value" options.
namespace BenchSetup {

// Sets DUX_TIME_SCALE to `scale` unless the environment already has one.
void defaultTimeScale(const char* scale);
// Runs without a display unless the caller chose a platform.
void defaultOffscreen();
// Drops debug and info messages; warnings and worse still reach stderr.
void discardDebugMessages();
// The integer after `name` in the arguments, at least 0; `fallback` when the option is absent.
int intOption(const QStringList& arguments, const char* name, int fallback);

}
