#include "firmwarebuilder.h"
#include "framedecodechecker.h"
#include "guardedimage.h"
#include "hexfile.h"
#include "hexreadchecker.h"
#include "intelhexparser.h"

#include <QBuffer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <vector>

using IntelHex::ReadResult;

namespace {

constexpr int Kib64 = 0x10000;
// Input of the bounded-cost cases: larger than any firmware, small enough to run in seconds.
constexpr qint64 HugeInputBytes = 100 * 1024 * 1024;
// Generous upper bounds for those cases, sanitizer builds included.
constexpr qint64 HugeInputTimeLimitMs = 30000;
constexpr long HugeInputMemoryLimitKib = 32 * 1024;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

const unsigned char* raw(const QByteArray& b)
{
    return reinterpret_cast<const unsigned char*>(b.constData());
}

QByteArray record(int type, int address, const QByteArray& payload)
{
    return QByteArray::fromStdString(IntelHex::record(type, quint16(address), raw(payload), payload.size()));
}

QByteArray data(int address, const QByteArray& payload)
{
    return record(IntelHex::DataRecord, address, payload);
}

QByteArray endOfFile()
{
    return record(IntelHex::EndOfFileRecord, 0, QByteArray());
}

QByteArray linear(int value)
{
    return record(IntelHex::ExtendedLinearAddressRecord, 0, bytes({value >> 8, value & 0xFF}));
}

QByteArray segment(int value)
{
    return record(IntelHex::ExtendedSegmentAddressRecord, 0, bytes({value >> 8, value & 0xFF}));
}

QByteArray withCrLf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

// The same record with its last checksum digit changed.
QByteArray badChecksum(QByteArray record)
{
    const int last = record.lastIndexOf('\n') - 1;
    record[last] = record[last] == '0' ? '1' : '0';
    return record;
}

QByteArray filler(int size, int seed)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 131 + seed) & 0xFF);
    return out;
}

int byteSum(const QByteArray& b)
{
    int sum = 0;
    for (const char c : b)
        sum += static_cast<unsigned char>(c);
    return sum;
}

ReadResult readDevice(QIODevice& device, unsigned char* image)
{
    return IntelHex::read([&device](char* buffer, std::int64_t capacity) { return device.read(buffer, capacity); },
                          image);
}

ReadResult readText(const QByteArray& text, unsigned char* image)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return readDevice(buffer, image);
}

// Endless input made on the fly, so that a huge stream costs the test no memory of its own.
class GeneratedDevice : public QIODevice
{
public:
    enum Kind { RandomBytes, ColonThenZeros, OnlyColons, OnlyCarriageReturns };
    GeneratedDevice(Kind kind, qint64 size)
        : m_kind(kind)
        , m_size(size)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 delivered() const { return m_pos; }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        const qint64 n = std::min(max, m_size - m_pos);
        for (qint64 i = 0; i < n; ++i)
            out[i] = next(m_pos + i);
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    char next(qint64 pos)
    {
        switch (m_kind) {
        case RandomBytes:
            m_state ^= m_state << 13;
            m_state ^= m_state >> 7;
            m_state ^= m_state << 17;
            return char(m_state);
        case ColonThenZeros:
            return pos == 0 ? ':' : '0';
        case OnlyColons:
            return ':';
        case OnlyCarriageReturns:
            return '\r';
        }
        return '\0';
    }

    Kind m_kind;
    qint64 m_size;
    qint64 m_pos = 0;
    quint64 m_state = 0x9E3779B97F4A7C15ULL;
};

long maxResidentKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}

// The reader, the identifier search and the writer of Intel HEX, and every input a fuzzer ever failed on.
class TestHex : public QObject
{
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void loadFile_data();
    void loadFile();
    void identifier_data();
    void identifier();
    void writerRoundTrip_data();
    void writerRoundTrip();
    void hugeInputCostsBoundedTimeAndMemory_data();
    void hugeInputCostsBoundedTimeAndMemory();
    void fuzzerFindings_data();
    void fuzzerFindings();
};

void TestHex::read_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("progStart");
    QTest::addColumn<int>("programSize");
    QTest::addColumn<int>("extendedLinearAddress");
    QTest::addColumn<int>("segmentAddress");
    QTest::addColumn<int>("ARMFlashAddress");
    // What the image holds afterwards: these bytes at this offset, 0 everywhere else.
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("stored");

    const QByteArray four = bytes({0x01, 0x02, 0x03, 0x04});
    const QByteArray sixteen = filler(16, 7);
    const int complete = ReadResult::Complete;

    // Record types
    QTest::newRow("end-of-file record only") << endOfFile() << complete << 0 << 0 << 0 << 0 << 0 << 0 << 0
                                             << QByteArray();
    QTest::newRow("data without end-of-file record")
        << data(0x10, four) << complete << 0 << 0x10 << 4 << 0 << 0 << 0 << 0x10 << four;
    QTest::newRow("extended segment address")
        << segment(0x1000) + data(0x0004, four) + endOfFile() << complete << 0 << 0x10004 << 4 << 0 << 0x10000 << 0
        << 0x10004 << four;
    QTest::newRow("segment value read from positions 9-12 whatever the count")
        << record(IntelHex::ExtendedSegmentAddressRecord, 0, bytes({0x20, 0x00, 0x99})) + data(0, four)
        << complete << 0 << 0x20000 << 4 << 0 << 0x20000 << 0 << 0x20000 << four;
    QTest::newRow("start segment address ignored")
        << record(IntelHex::StartSegmentAddressRecord, 0, bytes({0x12, 0x34, 0x56, 0x78})) + data(0, four)
               + endOfFile()
        << complete << 0 << 0 << 4 << 0 << 0 << 0 << 0 << four;
    QTest::newRow("type 06 not supported") << data(0, four) + record(6, 0, QByteArray()) + endOfFile()
                                           << int(ReadResult::UnsupportedRecordType) << 2 << 0 << 0 << 0 << 0 << 0
                                           << 0 << four;

    // Checksums: only data records are tested
    QTest::newRow("data record checksum wrong")
        << data(0, four) + badChecksum(data(0x20, four)) + endOfFile() << int(ReadResult::RecordChecksumError) << 2
        << 0 << 0 << 0 << 0 << 0 << 0 << four + QByteArray(0x1C, '\0') + four;
    QTest::newRow("segment record checksum unchecked")
        << badChecksum(segment(0x1000)) + data(0, four) << complete << 0 << 0x10000 << 4 << 0 << 0x10000 << 0
        << 0x10000 << four;
    QTest::newRow("linear record checksum unchecked")
        << badChecksum(linear(0x0001)) + data(0, four) << complete << 0 << 0x10000 << 4 << 0x10000 << 0 << 0
        << 0x10000 << four;
    QTest::newRow("end-of-file record checksum unchecked")
        << data(0, four) + badChecksum(endOfFile()) << complete << 0 << 0 << 4 << 0 << 0 << 0 << 0 << four;
    QTest::newRow("skipped data record checksum unchecked")
        << linear(0x0010) + linear(0x0014) + badChecksum(data(0, four)) << complete << 0 << 0 << 0 << 0x140000 << 0
        << 0x100000 << 0 << QByteArray();

    // Image boundaries
    QTest::newRow("last image byte 0x3FFFF") << linear(0x0003) + data(0xFFFF, bytes({0x5A})) + endOfFile()
                                             << complete << 0 << 0x3FFFF << 2 << 0x30000 << 0 << 0 << 0x3FFFF
                                             << bytes({0x5A});
    QTest::newRow("byte at 0x40000 too large")
        << linear(0x0003) + data(0xFFFF, bytes({0x5A, 0x5B})) + endOfFile() << int(ReadResult::ImageTooLarge) << 2
        << 0x3FFFF << 0 << 0x30000 << 0 << 0 << 0x3FFFF << bytes({0x5A});
    QTest::newRow("byte above 0x40000 too high")
        << linear(0x0004) + data(0x0001, bytes({0x5A})) + endOfFile() << int(ReadResult::AddressTooHigh) << 2
        << 0x40001 << 0 << 0x40000 << 0 << 0 << 0 << QByteArray();
    QTest::newRow("segment base beyond image")
        << segment(0x4000) + data(0x0000, bytes({0x5A})) << int(ReadResult::ImageTooLarge) << 2 << 0x40000 << 0 << 0
        << 0x40000 << 0 << 0 << QByteArray();
    // External tools write 32 bytes a record; the writer here, 16.
    QTest::newRow("record of 32 bytes") << data(0x20, filler(32, 5)) + endOfFile() << complete << 0 << 0x20 << 32
                                        << 0 << 0 << 0 << 0x20 << filler(32, 5);
    QTest::newRow("record crossing 64 KiB") << data(0xFFF8, sixteen) + endOfFile() << complete << 0 << 0xFFF8 << 16
                                            << 0 << 0 << 0 << 0xFFF8 << sixteen;
    QTest::newRow("odd length rounded up") << data(0x100, bytes({1, 2, 3})) << complete << 0 << 0x100 << 4 << 0 << 0
                                           << 0 << 0x100 << bytes({1, 2, 3});

    // Flash base mapping, row by row
    QTest::newRow("map 0x0800 to offset 0") << linear(0x0800) + data(0, four) << complete << 0 << 0 << 4 << 0 << 0
                                            << 0x08000000 << 0 << four;
    QTest::newRow("map 0x0803") << linear(0x0803) + data(0x10, four) << complete << 0 << 0x30010 << 4 << 0x30000
                                << 0 << 0x08000000 << 0x30010 << four;
    QTest::newRow("map 0x0C00") << linear(0x0C00) + data(0, four) << complete << 0 << 0 << 4 << 0 << 0 << 0x0C000000
                                << 0 << four;
    QTest::newRow("map 0x1000") << linear(0x1000) + data(0, four) << complete << 0 << 0 << 4 << 0 << 0 << 0x10000000
                                << 0 << four;
    QTest::newRow("map 0x0010") << linear(0x0010) + data(0, four) << complete << 0 << 0 << 4 << 0 << 0 << 0x00100000
                                << 0 << four;
    QTest::newRow("map 0x0013") << linear(0x0013) + data(0, four) << complete << 0 << 0x30000 << 4 << 0x30000 << 0
                                << 0x00100000 << 0x30000 << four;
    QTest::newRow("0x0014 unmapped, above window") << linear(0x0014) + data(0, four) << complete << 0 << 0 << 0
                                                   << 0x140000 << 0 << 0 << 0 << QByteArray();
    QTest::newRow("0x0003 unmapped, inside window") << linear(0x0003) + data(0, four) << complete << 0 << 0x30000
                                                    << 4 << 0x30000 << 0 << 0 << 0x30000 << four;
    QTest::newRow("1 MiB above 0x08000000 skipped") << linear(0x0810) + data(0, four) << complete << 0 << 0 << 0
                                                    << 0x100000 << 0 << 0x08000000 << 0 << QByteArray();
    QTest::newRow("0x1FFE mapped, above window") << linear(0x1FFE) + data(0, four) << complete << 0 << 0 << 0
                                                 << 0x0FFE0000 << 0 << 0x10000000 << 0 << QByteArray();
    QTest::newRow("0x1FFF above 0x1FFEFFFF skipped") << linear(0x1FFF) + data(0, four) << complete << 0 << 0 << 0
                                                     << 0x1FFF0000 << 0 << 0 << 0 << QByteArray();
    QTest::newRow("flash base kept by later record")
        << linear(0x0800) + linear(0x0000) + data(0, four) << complete << 0 << 0 << 4 << 0 << 0 << 0x08000000 << 0
        << four;
    QTest::newRow("negative linear base skipped") << linear(0x8000) + data(0, four) << complete << 0 << 0 << 0
                                                  << int(0x80000000u) << 0 << 0 << 0 << QByteArray();
    QTest::newRow("0xFFFF linear base skipped, base kept")
        << linear(0x0800) + data(0, four) + linear(0xFFFF) + data(0, bytes({9, 9})) << complete << 0 << 0 << 4
        << int(0xFFFF0000u) << 0 << 0x08000000 << 0 << four;

    // Reading
    QTest::newRow("lower-case digits") << QByteArray(":04001000deadbeefb4\n:00000001ff\n") << complete << 0 << 0x10
                                       << 4 << 0 << 0 << 0 << 0x10 << bytes({0xDE, 0xAD, 0xBE, 0xEF});
    QTest::newRow("empty line ends reading") << data(0, four) + "\n" + data(4, four) + endOfFile() << complete << 2
                                             << 0 << 4 << 0 << 0 << 0 << 0 << four;
    QTest::newRow("line without colon ends reading") << data(0, four) + data(4, four).mid(1) + endOfFile()
                                                     << complete << 2 << 0 << 4 << 0 << 0 << 0 << 0 << four;
    QTest::newRow("lines after end-of-file record not read")
        << data(0, four) + endOfFile() + record(6, 0, QByteArray()) + "garbage\n" << complete << 0 << 0
        << 4 << 0 << 0 << 0 << 0 << four;
    QTest::newRow("non-hex address reads 0")
        << QByteArray(":010G100041AE\n") << complete << 0 << 0 << 2 << 0 << 0 << 0 << 0 << bytes({0x41});
    QTest::newRow("checksum past line end reads 0")
        << QByteArray(":0100000041\n") << int(ReadResult::RecordChecksumError) << 1 << 0 << 0 << 0 << 0 << 0 << 0
        << bytes({0x41});
    // CR LF ends a line as LF does; counted with the line, it makes an end record without checksum long enough.
    const QByteArray two = bytes({0x41, 0x42});
    QTest::newRow("CR LF line ends") << withCrLf(data(0x200, four) + endOfFile()) << complete << 0 << 0x200 << 4 << 0
                                     << 0 << 0 << 0x200 << four;
    QTest::newRow("end record without checksum, LF") << data(0, two) + ":00000001\n" << complete << 2 << 0 << 2 << 0
                                                     << 0 << 0 << 0 << two;
    QTest::newRow("end record without checksum, CR LF") << withCrLf(data(0, two) + ":00000001\n") << complete << 0
                                                        << 0 << 2 << 0 << 0 << 0 << 0 << two;
    QTest::newRow("last record without line end") << QByteArray(":0100000041BE") << complete << 0 << 0 << 2 << 0
                                                  << 0 << 0 << 0 << bytes({0x41});
    QTest::newRow("lowest record start wins, empty record included")
        << data(0x100, bytes({1, 2})) + data(0x80, QByteArray()) + endOfFile() << complete << 0 << 0x80 << 0x82 << 0
        << 0 << 0 << 0x100 << bytes({1, 2});
    QTest::newRow("line longer than a read block")
        << data(0, four).chopped(1) + QByteArray(70000, 'x') + "\n" + data(4, four) << complete << 0 << 0 << 8 << 0
        << 0 << 0 << 0 << four + four;
}

void TestHex::read()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, status);
    QFETCH(int, line);
    QFETCH(int, progStart);
    QFETCH(int, programSize);
    QFETCH(int, extendedLinearAddress);
    QFETCH(int, segmentAddress);
    QFETCH(int, ARMFlashAddress);
    QFETCH(int, offset);
    QFETCH(QByteArray, stored);

    const GuardedImage guarded;
    QVERIFY(guarded.isValid());
    const ReadResult result = readText(hex, guarded.image());
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.line, line);
    QCOMPARE(result.progStart, progStart);
    QCOMPARE(result.extendedLinearAddress, extendedLinearAddress);
    QCOMPARE(result.segmentAddress, segmentAddress);
    QCOMPARE(result.ARMFlashAddress, ARMFlashAddress);
    if (result.isComplete()) {
        QCOMPARE(result.programSize, programSize);
        QCOMPARE(result.checksum, byteSum(stored));
    }

    QByteArray expected(IntelHex::ImageSize, '\0');
    expected.replace(offset, stored.size(), stored);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(guarded.image()), IntelHex::ImageSize), expected);
}

void TestHex::loadFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("verdict");
    // What follows the file's name in the problem and the warning; empty: none.
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("warning");

    using IntelHex::FileLoad;
    const QByteArray four = bytes({0x01, 0x02, 0x03, 0x04});
    const QByteArray two = bytes({0x05, 0x06});
    const QString file = QStringLiteral("file");
    const QString cutShort = QStringLiteral(" is cut short: ");

    QTest::newRow("firmware") << file << data(0, four) + endOfFile() << int(FileLoad::Loaded) << "" << "";
    QTest::newRow("empty file") << file << QByteArray() << int(FileLoad::NoRecords) << " holds no HEX records" << "";
    QTest::newRow("plain text") << file << QByteArray("hello\nworld\n") << int(FileLoad::NotHexRecords)
                                << " is not a HEX file: line 1 is not a HEX record" << "";
    QTest::newRow("no end-of-file record") << file << data(0, four) << int(FileLoad::CutShort)
                                           << cutShort + "no end-of-file record" << "";
    QTest::newRow("last record cut inside its data") << file << data(0, four) + data(4, four).left(13)
                                                     << int(FileLoad::CutShort)
                                                     << cutShort + "line 2 ends inside its record" << "";
    QTest::newRow("only record cut") << file << data(0, four).left(12) << int(FileLoad::CutShort)
                                     << cutShort + "line 1 ends inside its record" << "";
    QTest::newRow("adjacent records") << file << data(0, four) + data(4, four) + endOfFile() << int(FileLoad::Loaded)
                                      << "" << "";
    QTest::newRow("overlapping records, flash base")
        << file << linear(0x0800) + data(0, four) + data(3, two) + endOfFile() << int(FileLoad::Loaded) << ""
        << ": the record in line 3 overlaps data an earlier record gave, from address 0x08000003; the later bytes "
           "are written";
    QTest::newRow("two overlaps, the first told")
        << file << data(0, four) + data(2, two) + data(0, two) + endOfFile() << int(FileLoad::Loaded) << ""
        << ": the record in line 2 overlaps data an earlier record gave, from address 0x00000002; the later bytes "
           "are written";
    QTest::newRow("folder") << "folder" << QByteArray() << int(FileLoad::NotRegularFile)
                            << " is a folder, not a regular file" << "";
    QTest::newRow("FIFO") << "fifo" << QByteArray() << int(FileLoad::NotRegularFile) << " is a FIFO, not a regular file"
                          << "";
    QTest::newRow("device") << "/dev/null" << QByteArray() << int(FileLoad::NotRegularFile)
                            << " is a device, not a regular file" << "";
    QTest::newRow("missing") << "missing" << QByteArray() << int(FileLoad::CannotOpen)
                             << " cannot be read: No such file or directory" << "";
}

void TestHex::loadFile()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, verdict);
    QFETCH(QString, problem);
    QFETCH(QString, warning);

    // Anything but a regular file is refused at once, without waiting for a writer.
    constexpr qint64 RefusalLimitMs = 1000;
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("fw.hex"));
    std::unique_ptr<FirmwareBuilder::UnwrittenFifo> fifo;
    if (kind == QLatin1String("file"))
        FirmwareBuilder::writeFile(path, content);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("fw.hex")));
    else if (kind == QLatin1String("fifo"))
        QVERIFY((fifo = std::make_unique<FirmwareBuilder::UnwrittenFifo>(path))->isValid());
    else if (kind != QLatin1String("missing"))
        path = kind;

    const GuardedImage guarded;
    QVERIFY(guarded.isValid());
    QElapsedTimer clock;
    clock.start();
    const IntelHex::FileLoad load = IntelHex::loadFile(path.toStdString(), guarded.image());
    QVERIFY2(clock.elapsed() < RefusalLimitMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(int(load.verdict), verdict);
    QCOMPARE(QString::fromStdString(IntelHex::problemText(path.toStdString(), load)),
             problem.isEmpty() ? QString() : path + problem);
    QCOMPARE(QString::fromStdString(IntelHex::overlapText(path.toStdString(), load.read)),
             warning.isEmpty() ? QString() : path + warning);
}

void TestHex::identifier_data()
{
    QTest::addColumn<int>("firstOffset");
    QTest::addColumn<QByteArray>("firstText");
    QTest::addColumn<int>("secondOffset");
    QTest::addColumn<QByteArray>("secondText");
    QTest::addColumn<QString>("expected");

    const int end = IntelHex::ImageSize;
    QTest::newRow("at offset 0 not found") << 0 << QByteArray("1234V567") << 0 << QByteArray() << QString();
    QTest::newRow("at offset 1 found") << 1 << QByteArray("1234V567") << 0 << QByteArray() << "1234V567";
    QTest::newRow("ending at the last image byte") << end - 8 << QByteArray("1234V567") << 0 << QByteArray()
                                                   << "1234V567";
    QTest::newRow("cut by the image end") << end - 7 << QByteArray("1234V56") << 0 << QByteArray() << QString();
    QTest::newRow("lower-case v does not match") << 0x100 << QByteArray("1234v567") << 0 << QByteArray() << QString();
    QTest::newRow("letter in a digit place") << 0x100 << QByteArray("12a4V567") << 0 << QByteArray() << QString();
    QTest::newRow("longer digit run") << 0x100 << QByteArray("91234V5678") << 0 << QByteArray() << "1234V567";
    QTest::newRow("####C###") << 0x100 << QByteArray("1234C567") << 0 << QByteArray() << "1234C567";
    QTest::newRow("###V#.##") << 0x100 << QByteArray("123V4.56") << 0 << QByteArray() << "123V4.56";
    QTest::newRow("###V#.## needs the dot") << 0x100 << QByteArray("123V4,56") << 0 << QByteArray() << QString();
    QTest::newRow("C###V###") << 0x100 << QByteArray("C123V456") << 0 << QByteArray() << "C123V456";
    QTest::newRow("pattern order beats position")
        << 0x100 << QByteArray("1234C567") << 0x2000 << QByteArray("1234V567") << "1234V567";
    QTest::newRow("###V#.## before C###V###")
        << 0x100 << QByteArray("C123V456") << 0x2000 << QByteArray("123V4.56") << "123V4.56";
    QTest::newRow("lowest position within one pattern")
        << 0x2000 << QByteArray("1111V111") << 0x100 << QByteArray("2222V222") << "2222V222";
}

void TestHex::identifier()
{
    QFETCH(int, firstOffset);
    QFETCH(QByteArray, firstText);
    QFETCH(int, secondOffset);
    QFETCH(QByteArray, secondText);
    QFETCH(QString, expected);

    std::vector<unsigned char> image(size_t(IntelHex::ImageSize), 0);
    std::memcpy(image.data() + firstOffset, firstText.constData(), size_t(firstText.size()));
    std::memcpy(image.data() + secondOffset, secondText.constData(), size_t(secondText.size()));
    QCOMPARE(QString::fromStdString(IntelHex::findIdentifier(image.data(), IntelHex::ImageSize)), expected);
}

void TestHex::writerRoundTrip_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<quint32>("base");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("imageOffset");
    QTest::addColumn<int>("ARMFlashAddress");

    const int segmentStyle = int(IntelHex::AddressStyle::Segment);
    const int linearStyle = int(IntelHex::AddressStyle::Linear);
    QTest::newRow("segment, full image") << segmentStyle << 0u << IntelHex::ImageSize << 0 << 0;
    QTest::newRow("segment, unaligned across 64 KiB") << segmentStyle << 0xFFF5u << 40 << 0xFFF5 << 0;
    QTest::newRow("linear, full image at 0x08000000") << linearStyle << 0x08000000u << IntelHex::ImageSize << 0
                                                      << 0x08000000;
    QTest::newRow("linear, odd size at 0x00100000") << linearStyle << 0x00100000u << 33 << 0 << 0x00100000;
    QTest::newRow("linear, low address") << linearStyle << 0x1234u << 100 << 0x1234 << 0;
    // An image offset of -1: the data does not fit the address style, and nothing is written.
    QTest::newRow("segment, past the first MiB") << segmentStyle << 0xFFFF0u << 32 << -1 << 0;
    QTest::newRow("linear, past 4 GiB") << linearStyle << 0xFFFFFFF0u << 32 << -1 << 0;
}

void TestHex::writerRoundTrip()
{
    QFETCH(int, style);
    QFETCH(quint32, base);
    QFETCH(int, size);
    QFETCH(int, imageOffset);
    QFETCH(int, ARMFlashAddress);

    QByteArray payload(size, '\0');
    QRandomGenerator random(size);
    for (char& b : payload)
        b = char(random.bounded(256));
    const QByteArray hex = FirmwareBuilder::hexOf(payload, base, IntelHex::AddressStyle(style));
    if (imageOffset < 0) {
        QVERIFY(hex.isEmpty());
        return;
    }

    const char expectedAddressType = style == int(IntelHex::AddressStyle::Linear) ? '4' : '2';
    for (const QByteArray& line : hex.split('\n')) {
        if (line.isEmpty())
            continue;
        const int count = line.mid(1, 2).toInt(nullptr, 16);
        const int type = line.mid(7, 2).toInt(nullptr, 16);
        QVERIFY2(type == 0 || type == 1 || line.at(8) == expectedAddressType, line.constData());
        if (type == 0) {
            QVERIFY(count <= 16);
            QVERIFY(line.mid(3, 4).toInt(nullptr, 16) + count <= Kib64);
        }
    }

    const GuardedImage guarded;
    QVERIFY(guarded.isValid());
    const ReadResult result = readText(hex, guarded.image());
    QVERIFY(result.isComplete());
    QCOMPARE(result.ARMFlashAddress, ARMFlashAddress);
    QCOMPARE(result.progStart, imageOffset);
    QCOMPARE(result.programSize, size + size % 2);
    QCOMPARE(result.checksum, byteSum(payload));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(guarded.image()) + imageOffset, size), payload);
}

void TestHex::hugeInputCostsBoundedTimeAndMemory_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("readsEverything");

    QTest::newRow("random bytes") << int(GeneratedDevice::RandomBytes) << 1 << false;
    QTest::newRow("one endless record line") << int(GeneratedDevice::ColonThenZeros) << 0 << true;
    QTest::newRow("one endless line of colons") << int(GeneratedDevice::OnlyColons) << 0 << true;
    QTest::newRow("carriage returns without line feed") << int(GeneratedDevice::OnlyCarriageReturns) << 1 << false;
}

void TestHex::hugeInputCostsBoundedTimeAndMemory()
{
    QFETCH(int, kind);
    QFETCH(int, line);
    QFETCH(bool, readsEverything);

    GeneratedDevice device(GeneratedDevice::Kind(kind), HugeInputBytes);
    const GuardedImage guarded;
    QVERIFY(guarded.isValid());
    const long residentBefore = maxResidentKib();
    QElapsedTimer timer;
    timer.start();
    const ReadResult result = readDevice(device, guarded.image());
    QVERIFY2(timer.elapsed() < HugeInputTimeLimitMs, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(maxResidentKib() - residentBefore < HugeInputMemoryLimitKib,
             qPrintable(QString::number(maxResidentKib() - residentBefore)));
    // No identifier can come of it, so the file counts as one without firmware.
    QVERIFY(result.isComplete());
    QCOMPARE(result.line, line);
    QCOMPARE(result.programSize, 0);
    QCOMPARE(device.delivered() == HugeInputBytes, readsEverything);
}

// Inputs under tests/data/ (frame streams in frames/, HEX files elsewhere), read again with the failed
// fuzzer's own invariant checks, so that a fault it once found cannot come back unnoticed.
void TestHex::fuzzerFindings_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("frames");
    const QDir dir(QStringLiteral(DUX_FINDINGS_DIR));
    int frameStreams = 0;
    QStringList files;
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << dir.relativeFilePath(it.next());
    files.sort();
    for (const QString& file : files) {
        const bool frames = file.startsWith(QLatin1String("frames/"));
        frameStreams += frames;
        QTest::newRow(qPrintable(file)) << dir.filePath(file) << frames;
    }
    // No inputs of a kind would pass without checking anything, e.g. after the folder moved.
    if (frameStreams == 0 || frameStreams == files.size())
        qFatal("fuzzer findings missing in %s", DUX_FINDINGS_DIR);
}

void TestHex::fuzzerFindings()
{
    QFETCH(QString, path);
    QFETCH(bool, frames);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray input = file.readAll();
    const std::string broken = frames ? FrameDecodeChecker().check(input.constData(), std::size_t(input.size()))
                                      : HexReadChecker().check(input.constData(), std::size_t(input.size()));
    QVERIFY2(broken.empty(), broken.c_str());
}

QTEST_GUILESS_MAIN(TestHex)
#include "tst_hex.moc"
