#pragma once

#include <QtGlobal>
#include <vector>

// Order statistics for the benchmarks: samples are copied, the callers' order is kept.
namespace BenchStats {

// The value below which `fraction` (0 to 1) of the samples lie, nearest rank; 0 without samples.
double percentile(std::vector<double> samples, double fraction);
double median(const std::vector<double>& samples);
// Differences between consecutive time stamps (nanoseconds), in microseconds.
std::vector<double> intervalsUs(const std::vector<qint64>& stampsNs);
// Peak and present resident set size of this process, in KiB (VmHWM and VmRSS of /proc/self/status).
qint64 peakRssKiB();
qint64 rssKiB();
// The system's load average over the last minute; -1 when it cannot be read.
double loadAverage();

}
