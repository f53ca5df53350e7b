// bench_hexload [--runs N] [--write FILE]
// Times loading the HEX file of a full 0x40000-byte image (random bytes, 16-byte records) in process:
// the reader with the identifier scan alone, and the tool's own path (file name set, file loaded,
// identified and handed to the worker). --write FILE only writes that HEX file, for whole-process
// comparisons with other tools (bench/compare_hex_tools.sh).

#include "appsettings.h"
#include "benchsetup.h"
#include "firmwareupdate.h"
#include "intelhexparser.h"
#include "peripherymanager.h"
#include "pluginhandler.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int DefaultRuns = 201;
constexpr int WarmUpRuns = 5;
constexpr quint32 ImageSeed = 0x5EED;
constexpr double TargetMs = 2.5;

QByteArray benchmarkHex()
{
    QByteArray image(IntelHex::ImageSize, '\0');
    QRandomGenerator random(ImageSeed);
    random.fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / int(sizeof(quint32)));
    return QByteArray::fromStdString(IntelHex::write(reinterpret_cast<const unsigned char*>(image.constData()),
                                                     image.size(), 0, IntelHex::AddressStyle::Linear));
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// Median, minimum and maximum of `runs` timed calls, in milliseconds; returns the median.
double report(const char* what, int runs, const std::function<void()>& call)
{
    for (int i = 0; i < WarmUpRuns; ++i)
        call();
    std::vector<double> ms;
    ms.reserve(size_t(runs));
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        call();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s median %.3f ms  (min %.3f, max %.3f, %d runs)\n", what, ms[ms.size() / 2], ms.front(),
                ms.back(), runs);
    return ms[ms.size() / 2];
}

}

int main(int argc, char** argv)
{
    const QByteArray hex = benchmarkHex();
    int runs = DefaultRuns;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--write" && i + 1 < argc)
            return writeFile(QString::fromLocal8Bit(argv[i + 1]), hex) ? 0 : 1;
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, QByteArray(argv[++i]).toInt());
            continue;
        }
        std::fprintf(stderr, "usage: bench_hexload [--runs N] [--write FILE]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.hex"));
    if (!dir.isValid() || !writeFile(path, hex)) {
        std::fprintf(stderr, "bench_hexload: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("HEX file: %d bytes, 0x%x image bytes in 16-byte records\n", int(hex.size()), IntelHex::ImageSize);

    const auto image = std::make_unique<unsigned char[]>(IntelHex::ImageSize);
    const auto load = [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        IntelHex::read([&file](char* buffer, std::int64_t capacity) { return file.read(buffer, capacity); },
                       image.get());
    };
    report("reader", runs, load);
    report("identifier scan", runs, [&] { IntelHex::findIdentifier(image.get(), IntelHex::ImageSize); });
    report("reader + identifier scan", runs, [&] {
        load();
        IntelHex::findIdentifier(image.get(), IntelHex::ImageSize);
    });

    // The tool as the host shows it, with its home in the temporary folder and its chatter switched off.
    qputenv(AppSettings::HomeEnvironmentVariable, dir.filePath(QStringLiteral("home")).toUtf8());
    BenchSetup::defaultOffscreen();
    QApplication app(argc, argv);
    BenchSetup::discardDebugMessages();
    PeripheryManager::instance()->setPortSource([] { return QList<QSerialPortInfo>(); });
    PluginHandler plugins;
    QDialog window;
    auto* tool = new FirmwareUpdate(QStringLiteral("FirmwareUpdate"), &plugins);
    tool->setParent(&window);
    tool->init(&window);
    const double toolMs = report("tool: file name set, loaded, handed over", runs, [&] {
        bool identified = false;
        // Invoked directly rather than through the text field, so that every run loads the file.
        QMetaObject::invokeMethod(tool, "fileNameChanged", Qt::DirectConnection, Q_RETURN_ARG(bool, identified),
                                  Q_ARG(QString, path));
    });
    std::printf("hex_load: %.3f ms, the tool's path (target <= %.1f ms)\n", toolMs, TargetMs);
    return 0;
}
