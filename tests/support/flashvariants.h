#pragma once

#include <QByteArray>
#include <QString>
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
// A pair of `family`, the file of about `bytes` bytes (at least 2 pages, whole words) on pages of
// `pageSize`.
Case make(Family family, quint32 seed, int bytes, int pageSize);

}
