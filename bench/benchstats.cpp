#include "benchstats.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>

namespace {

constexpr double NsPerUs = 1000.0;

// A "Name:   1234 kB" line of a /proc status file, in KiB; -1 when missing.
qint64 statusField(const QString& path, const char* name)
{
    QFile status(path);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

}

namespace BenchStats {

double percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    const auto rank = size_t(std::ceil(fraction * double(samples.size())));
    const auto at = samples.begin() + std::clamp<size_t>(rank, 1, samples.size()) - 1;
    std::nth_element(samples.begin(), at, samples.end());
    return *at;
}

double median(const std::vector<double>& samples)
{
    return percentile(samples, 0.5);
}

std::vector<double> intervalsUs(const std::vector<qint64>& stampsNs)
{
    std::vector<double> intervals;
    for (size_t i = 1; i < stampsNs.size(); ++i)
        intervals.push_back(double(stampsNs[i] - stampsNs[i - 1]) / NsPerUs);
    return intervals;
}

qint64 peakRssKiB()
{
    return statusField(QStringLiteral("/proc/self/status"), "VmHWM");
}

qint64 rssKiB()
{
    return statusField(QStringLiteral("/proc/self/status"), "VmRSS");
}

double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : -1;
}

}
