#include "flashvariants.h"

#include "firmwarebuilder.h"

#include <QRandomGenerator>

#include <functional>
#include <utility>

namespace FlashVariants {

namespace {

constexpr int IdentifierBytes = 8;
// Bytes of 0x80 and above hold no digit and no identifier letter, so an image's identifier is the one
// put in; 0xFF stays out so that no program byte looks erased.
constexpr int LowestByte = 0x80;
constexpr int HighestByte = 0xFE;
// An update writes whole words, the last one filled with zeros: a flash it wrote ends on a word.
constexpr int WordBytes = 4;
// The largest step of an opposite change.
constexpr int MaxStep = 16;

QByteArray identifierOf(quint32 version)
{
    return QStringLiteral("1234V%1").arg(version % 1000, 3, 10, QLatin1Char('0')).toLatin1();
}

QByteArray image(QRandomGenerator& random, int bytes, const QByteArray& identifier)
{
    QByteArray result(bytes, '\0');
    for (char& byte : result)
        byte = char(random.bounded(LowestByte, HighestByte + 1));
    result.replace(IdentifierOffset, IdentifierBytes, identifier);
    return result;
}

int byteSum(const QByteArray& bytes)
{
    int sum = 0;
    for (const char byte : bytes)
        sum += quint8(byte);
    return sum;
}

bool nearIdentifier(int offset)
{
    return offset >= IdentifierOffset && offset < IdentifierOffset + IdentifierBytes;
}

// An offset outside the identifier: in page `page` when it is 0 or more, anywhere else otherwise.
int offsetIn(QRandomGenerator& random, int bytes, int pageSize, int page)
{
    for (;;) {
        const int offset = page < 0 ? random.bounded(bytes)
                                    : page * pageSize + random.bounded(qMin(pageSize, bytes - page * pageSize));
        if (!nearIdentifier(offset))
            return offset;
    }
}

// Two offsets whose bytes differ, in one page or in two.
std::pair<int, int> twoOffsets(QRandomGenerator& random, const QByteArray& bytes, int pageSize, bool samePage,
                           const std::function<bool(int, int)>& fits)
{
    const int pages = (bytes.size() + pageSize - 1) / pageSize;
    for (;;) {
        const int first = offsetIn(random, bytes.size(), pageSize, -1);
        const int second = offsetIn(random, bytes.size(), pageSize, samePage ? first / pageSize : random.bounded(pages));
        if (first != second && (first / pageSize == second / pageSize) == samePage && fits(first, second))
            return {first, second};
    }
}

// The shortest image: a page, and whole words past the identifier, without which a module runs nothing.
int shortest(int pageSize)
{
    const int pastIdentifier = IdentifierOffset + IdentifierBytes;
    return qMax(pageSize, pastIdentifier + (WordBytes - pastIdentifier % WordBytes) % WordBytes);
}

QString hexOffset(int offset)
{
    return QStringLiteral("0x%1").arg(offset, 0, 16);
}

}

QVector<Family> families()
{
    return {Family::ExchangeWithinPage, Family::ExchangeAcrossPages, Family::OppositeWithinPage,
            Family::OppositeAcrossPages, Family::OtherIdentifier, Family::TruncatedFile,
            Family::TruncatedFlash, Family::StalePage, Family::OtherFirmware};
}

QString name(Family family)
{
    switch (family) {
    case Family::ExchangeWithinPage: return QStringLiteral("exchange within a page");
    case Family::ExchangeAcrossPages: return QStringLiteral("exchange across pages");
    case Family::OppositeWithinPage: return QStringLiteral("+k/-k within a page");
    case Family::OppositeAcrossPages: return QStringLiteral("+k/-k across pages");
    case Family::OtherIdentifier: return QStringLiteral("another identifier");
    case Family::TruncatedFile: return QStringLiteral("file's tail cut");
    case Family::TruncatedFlash: return QStringLiteral("flash's tail cut");
    case Family::StalePage: return QStringLiteral("a stale page");
    case Family::OtherFirmware: return QStringLiteral("another firmware");
    }
    return QString();
}

bool isBlindSpot(Family family)
{
    return family == Family::ExchangeWithinPage || family == Family::OppositeWithinPage;
}

QStringList simulatorArguments(const Case& pair, const QString& heldFile)
{
    return {QStringLiteral("--flash-image"), heldFile, QStringLiteral("--firmware"), QString::fromLatin1(pair.identifier),
            QStringLiteral("--page-size"), QString::number(PageBytes), QStringLiteral("--flash-size"),
            QString::number(FlashBytes), QStringLiteral("--flash-base"), QString::number(FirmwareBuilder::FlashBase)};
}

Case make(Family family, quint32 seed, int bytes, int pageSize)
{
    QRandomGenerator random(seed);
    Case pair;
    pair.family = family;
    pair.seed = seed;
    pair.identifier = identifierOf(random.bounded(100, 1000));
    pair.held = image(random, bytes, pair.identifier);
    pair.file = pair.held;
    const bool samePage = family == Family::ExchangeWithinPage || family == Family::OppositeWithinPage;
    switch (family) {
    case Family::ExchangeWithinPage:
    case Family::ExchangeAcrossPages: {
        const auto [first, second] = twoOffsets(random, pair.file, pageSize, samePage, [&pair](int a, int b) {
            return pair.file.at(a) != pair.file.at(b);
        });
        const char kept = pair.file.at(first);
        pair.file[first] = pair.file.at(second);
        pair.file[second] = kept;
        pair.change = QStringLiteral("bytes at %1 and %2 exchanged").arg(hexOffset(first), hexOffset(second));
        break;
    }
    case Family::OppositeWithinPage:
    case Family::OppositeAcrossPages: {
        const int step = random.bounded(1, MaxStep + 1);
        const auto [up, down] = twoOffsets(random, pair.file, pageSize, samePage, [&pair, step](int a, int b) {
            return quint8(pair.file.at(a)) + step <= HighestByte && quint8(pair.file.at(b)) - step >= LowestByte;
        });
        pair.file[up] = char(quint8(pair.file.at(up)) + step);
        pair.file[down] = char(quint8(pair.file.at(down)) - step);
        pair.change = QStringLiteral("+%1 at %2, -%1 at %3").arg(step).arg(hexOffset(up), hexOffset(down));
        break;
    }
    case Family::OtherIdentifier: {
        QByteArray other;
        do
            other = identifierOf(random.bounded(100, 1000));
        // One whose bytes sum as the old one's would be a change within a page, sums' blind spot.
        while (byteSum(other) == byteSum(pair.identifier));
        pair.file.replace(IdentifierOffset, IdentifierBytes, other);
        pair.change = QStringLiteral("identifier %1, the flash's %2")
                          .arg(QString::fromLatin1(other), QString::fromLatin1(pair.identifier));
        pair.identifier = other;
        break;
    }
    case Family::TruncatedFile:
    case Family::TruncatedFlash: {
        // The identifier stays, and a page at least; a flash is cut at a word, as an update leaves it.
        int kept = random.bounded(shortest(pageSize), bytes);
        if (family == Family::TruncatedFlash)
            kept -= kept % WordBytes;
        (family == Family::TruncatedFile ? pair.file : pair.held).truncate(kept);
        pair.change = QStringLiteral("%1 cut to %2 of %3 bytes")
                          .arg(family == Family::TruncatedFile ? QStringLiteral("file") : QStringLiteral("flash"))
                          .arg(kept)
                          .arg(bytes);
        break;
    }
    case Family::StalePage: {
        const QByteArray older = image(random, bytes, pair.identifier);
        const int pages = (bytes + pageSize - 1) / pageSize;
        int page = IdentifierOffset / pageSize;
        while (page == IdentifierOffset / pageSize)
            page = random.bounded(pages);
        pair.held.replace(page * pageSize, pageSize, older.mid(page * pageSize, pageSize));
        pair.change = QStringLiteral("the flash's page at %1 from an older firmware").arg(hexOffset(page * pageSize));
        break;
    }
    case Family::OtherFirmware:
        pair.held = image(random, random.bounded(shortest(pageSize) / WordBytes, bytes / WordBytes + 1) * WordBytes,
                          pair.identifier);
        pair.change = QStringLiteral("the flash holds another firmware of %1 bytes").arg(pair.held.size());
        break;
    }
    return pair;
}

}
