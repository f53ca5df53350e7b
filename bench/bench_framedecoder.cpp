// bench_framedecoder [--runs N]
// Times the DUXL frame decoder draining 1 MiB handed to it at once: start bytes only (every byte a
// false start), random bytes, and back-to-back replies. The time per stream must not grow with the
// square of its length, whatever the bytes are. The result is the median of N runs for the start bytes.

#include "benchsetup.h"
#include "benchstats.h"
#include "duxlframe.h"
#include "duxlframedecoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// What came out of one stream, and how long it took.
struct Drained
{
    double ms = 0;
    int frames = 0;
    int corrupt = 0;
};

constexpr int StreamBytes = 1 << 20;
constexpr int DefaultRuns = 5;
constexpr quint32 RandomSeed = 0xD7D7;
constexpr double TargetMs = 50;

Drained drain(const QByteArray& stream)
{
    Drained result;
    QElapsedTimer timer;
    timer.start();
    DuxlFrameDecoder decoder;
    decoder.append(stream);
    DuxlFrame frame;
    for (;;) {
        const DuxlFrameDecoder::Result next = decoder.next(&frame);
        if (next == DuxlFrameDecoder::Result::NeedMore)
            break;
        ++(next == DuxlFrameDecoder::Result::Frame ? result.frames : result.corrupt);
    }
    result.ms = double(timer.nsecsElapsed()) / 1e6;
    return result;
}

// Median time of `runs` drains of `stream`, printed with what came out.
double report(const char* what, const QByteArray& stream, int runs)
{
    std::vector<double> ms;
    Drained last;
    for (int i = 0; i < runs; ++i) {
        last = drain(stream);
        ms.push_back(last.ms);
    }
    const double median = BenchStats::median(ms);
    std::printf("%-24s median %9.3f ms (runs %.3f - %.3f ms); %d frames, %d corrupt\n", what, median,
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()), last.frames,
                last.corrupt);
    std::fflush(stdout);
    return median;
}

QByteArray randomBytes()
{
    QByteArray bytes(StreamBytes, Qt::Uninitialized);
    QRandomGenerator random(RandomSeed);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / int(sizeof(quint32)));
    return bytes;
}

QByteArray replies()
{
    QByteArray bytes;
    for (quint32 sequence = 0; bytes.size() < StreamBytes; ++sequence)
        bytes += DuxlFrame::encodeCommandReply(quint8(sequence), 201, 100, qint32(sequence));
    bytes.truncate(StreamBytes);
    return bytes;
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = qMax(1, BenchSetup::intOption(app.arguments(), "--runs", DefaultRuns));
    std::printf("DUXL frame decoder, %d bytes appended at once and drained, %d runs each\n", StreamBytes, runs);
    const double startBytesMs = report("start bytes (0xD7)", QByteArray(StreamBytes, char(DuxlFrame::StartOfFrame)),
                                       runs);
    report("random bytes", randomBytes(), runs);
    report("back-to-back replies", replies(), runs);
    std::printf("framedecoder_1MiB_start_bytes: %.3f ms (target < %.0f ms)\n", startBytesMs, TargetMs);
    return 0;
}
