#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

// Pairs of a module's flash and a firmware file that differs from it, in the families a verdict drawn
// from sums must tell apart; the same seed gives the same pair, so a false verdict can be replayed.
namespace FlashVariants {

enum class Family {
    ExchangeWithinPage,
    ExchangeAcrossPages,
    OppositeWithinPage,
    OppositeAcrossPages,
    OtherIdentifier,
    TruncatedFile,
    TruncatedFlash,
    StalePage,
    OtherFirmware,
};

// The pairs the test and the benchmark run: files of 4 KiB on pages of 256 bytes, in a module that
// states 8 KiB of memory at the test firmware's flash base.
constexpr int FileBytes = 4096;
constexpr int PageBytes = 256;
constexpr int FlashBytes = 8192;

// Where the images' identifier sits; the changes of the other families keep clear of it.
constexpr int IdentifierOffset = 0x100;

struct Case
{
    Family family = Family::ExchangeWithinPage;
    quint32 seed = 0; // what make() was given, to make the pair again
    QByteArray held; // the program bytes the module's flash holds from its base
    QByteArray file; // the program bytes of the file, from the same base
    QByteArray identifier; // the file's identifier, which the module says it runs
    QString change; // what differs, for a report
};

QVector<Family> families();
QString name(Family family);
// Sums of pages cannot tell these from the file: the blind spot docs/protocol.md names.
bool isBlindSpot(Family family);
// dux-sim's options for a module whose flash holds `heldFile` (pair.held written as Intel HEX) and that
// says it runs the file's identifier, so that only the sums decide.
QStringList simulatorArguments(const Case& pair, const QString& heldFile);
// A pair of `family`, the file of about `bytes` bytes (at least 2 pages, whole words) on pages of
// `pageSize`.
Case make(Family family, quint32 seed, int bytes, int pageSize);

}
