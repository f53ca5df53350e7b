// Writes the frame fuzzer's seed inputs into the folder given as the only argument: frames of every
// kind made by the encoders, and streams broken the ways a serial line breaks them.
#include "command.h"
#include "duxlframe.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <cstdio>
#include <utility>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: frameseeds <folder>\n");
        return 2;
    }
    const QByteArray request = DuxlFrame::encodeCommandRequest(7, Command(1, 206, 0, 0, 0, false, 12), true);
    const QByteArray broadcast = DuxlFrame::encodeCommandRequest(8, Command(0, 242, 0x47, 0x6E, -1, false, 12), false);
    const QByteArray reply = DuxlFrame::encodeCommandReply(7, 206, 100, 512);
    const QByteArray version = DuxlFrame::encodeVersionRequest(9, 1);
    const QByteArray versionReply = DuxlFrame::encodeVersionReply(9, QStringLiteral("1234V101"));
    const QByteArray longest = DuxlFrame::encodeVersionReply(10, QString(DuxlFrame::MaxVersionTextBytes, 'x'));
    QByteArray corrupt = reply;
    corrupt[corrupt.size() - 1] = char(corrupt.at(corrupt.size() - 1) ^ 0xFF);
    const QByteArray startBytes(64, char(DuxlFrame::StartOfFrame));

    const QList<std::pair<const char*, QByteArray>> seeds = {
        {"command-request", request},
        {"broadcast-without-reply", broadcast},
        {"command-reply", reply},
        {"version-request", version},
        {"version-reply", versionReply},
        {"longest-version-reply", longest},
        {"frames-back-to-back", request + reply + version + versionReply},
        {"garbage-then-frame", QByteArray("\x01\x02\xd7\x81\xff noise") + reply},
        {"corrupt-then-good", corrupt + reply},
        {"cut-off-by-a-frame", longest.left(20) + reply},
        {"start-bytes-then-frame", startBytes + versionReply},
        {"start-bytes", startBytes},
        {"truncated", versionReply.left(versionReply.size() - 1)},
    };
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "frameseeds: cannot make %s\n", argv[1]);
        return 1;
    }
    for (const auto& seed : seeds) {
        QFile file(folder.filePath(QString::fromLatin1(seed.first)));
        if (!file.open(QIODevice::WriteOnly) || file.write(seed.second) != seed.second.size()) {
            std::fprintf(stderr, "frameseeds: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
