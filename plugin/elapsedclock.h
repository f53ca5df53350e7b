#pragma once

#include <QString>

// The running clock of an update as the host window's title shows it.
namespace ElapsedClock {

// The clock shows whole steps of this size.
constexpr int ResolutionMs = 50;
// Without a first version query by then, the update is taken to hang and Cancel is freed.
constexpr qint64 WatchdogMs = 16000;

// " [m:ss.zzz]" for `elapsedMs`, truncated to ResolutionMs; minutes are those of a time of day, so
// an hour or more wraps (the hour is not shown).
QString titleSuffix(qint64 elapsedMs);

}
