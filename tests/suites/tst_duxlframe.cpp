#include "command.h"
#include "duxlframe.h"
#include "duxlframedecoder.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// Bit-by-bit CRC-16/CCITT-FALSE, written independently of the table-driven one under test.
quint16 referenceCrc(const QByteArray& bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint16(quint8(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

// A frame built by hand from its fields, as docs/protocol.md lays it out: kind code and sequence share
// the control byte.
QByteArray handFrame(quint8 code, quint8 sequence, const QByteArray& body)
{
    QByteArray covered;
    covered.append(char((code << 5) | sequence));
    covered.append(body);
    const quint16 crc = referenceCrc(covered);
    return QByteArray(1, char(0xD7)) + covered + char(crc >> 8) + char(crc & 0xFF);
}

QByteArray reply(quint8 sequence, qint32 value = 0x01020304)
{
    return DuxlFrame::encodeCommandReply(sequence, 206, 100, value);
}

// Feeds `stream` in pieces of `chunk` bytes (0: all at once) and lists what came out:
// "F<sequence>" for a frame, "C" for a corrupt one.
QStringList decodeAll(const QByteArray& stream, int chunk, DuxlFrameDecoder* decoder, QList<DuxlFrame>* frames = nullptr)
{
    QStringList events;
    const int step = chunk > 0 ? chunk : qMax(1, stream.size());
    for (int offset = 0; offset < stream.size(); offset += step) {
        decoder->append(stream.mid(offset, step));
        DuxlFrame frame;
        for (;;) {
            const DuxlFrameDecoder::Result result = decoder->next(&frame);
            if (result == DuxlFrameDecoder::Result::NeedMore)
                break;
            if (result == DuxlFrameDecoder::Result::Corrupt) {
                events << QStringLiteral("C");
                continue;
            }
            events << QStringLiteral("F%1").arg(frame.sequence());
            if (frames)
                frames->append(frame);
        }
    }
    return events;
}

}

// What the decoder read from a frame, field by field, in the words of the rows below.
QString fieldsOf(const DuxlFrame& frame)
{
    const QString value = QString::number(quint32(frame.value()), 16);
    switch (frame.kind()) {
    case DuxlFrame::Kind::CommandRequest: {
        const Command request = frame.toCommand();
        return QStringLiteral("request %1 to %2 from %3: %4/%5/%6=%7%8%9")
            .arg(int(frame.sequence()))
            .arg(int(request.moduleAddress()))
            .arg(int(request.replyAddress()))
            .arg(int(request.command()))
            .arg(int(request.type()))
            .arg(int(request.motorBank()))
            .arg(QString::number(quint32(request.value()), 16))
            .arg(request.isBroadcast() ? QStringLiteral(", broadcast") : QString())
            .arg(frame.wantsReply() ? QStringLiteral(", reply wanted") : QString());
    }
    case DuxlFrame::Kind::CommandReply:
        return QStringLiteral("reply %1: %2 status %3=%4")
            .arg(int(frame.sequence()))
            .arg(int(frame.command()))
            .arg(int(frame.status()))
            .arg(value);
    case DuxlFrame::Kind::VersionReply:
        return QStringLiteral("version %1: ").arg(int(frame.sequence())) + frame.text();
    case DuxlFrame::Kind::Window:
        return QStringLiteral("window %1").arg(int(frame.window()));
    case DuxlFrame::Kind::VersionRequest:
        break;
    }
    return QStringLiteral("version request");
}

class TestDuxlFrame : public QObject
{
    Q_OBJECT
private slots:
    void encodesByteByByte_data();
    void encodesByteByByte();
    void decodesWhatWasEncoded_data();
    void decodesWhatWasEncoded();
    void decoderStream_data();
    void decoderStream();
    void everySingleBitFlipIsRejected_data();
    void everySingleBitFlipIsRejected();
    void framesSurviveInterleavedGarbage();
};

void TestDuxlFrame::encodesByteByByte_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("expected");

    const Command write(1, 201, 0x1234, 0x56, int(0x89ABCDEF), false, 12);
    QTest::newRow("request without reply")
        << DuxlFrame::encodeCommandRequest(8, write, false)
        << handFrame(1, 8, QByteArray::fromHex("01 c9 1234 56 89abcdef"));
    QTest::newRow("sequence kept to five bits")
        << DuxlFrame::encodeCommandRequest(7 + 32, write, true)
        << handFrame(0, 7, QByteArray::fromHex("01 c9 1234 56 89abcdef"));
    QTest::newRow("page size request as documented")
        << DuxlFrame::encodeCommandRequest(7, Command(1, 206, 0, 0, 0, false, 12), true)
        << QByteArray::fromHex("d7 07 01 ce 00 00 00 00 00 00 00 83 a0");
    QTest::newRow("page size reply as documented")
        << DuxlFrame::encodeCommandReply(7, 206, 100, 256)
        << QByteArray::fromHex("d7 87 ce 64 00 00 01 00 de 0b");
    // The sums of the first two pages of 256 bytes at flash base 0x08000000: two running sums.
    QTest::newRow("running sum through the first page as documented")
        << DuxlFrame::encodeCommandRequest(3, Command(1, 203, 0, 0, 0x080000FF, false, 12), true)
        << QByteArray::fromHex("d7 03 01 cb 00 00 00 08 00 00 ff fd 18");
    QTest::newRow("running sum reply, first page, as documented")
        << DuxlFrame::encodeCommandReply(3, 203, 100, 0xBE83) << QByteArray::fromHex("d7 83 cb 64 00 00 be 83 f3 14");
    QTest::newRow("running sum through the second page as documented")
        << DuxlFrame::encodeCommandRequest(4, Command(1, 203, 0, 0, 0x080001FF, false, 12), true)
        << QByteArray::fromHex("d7 04 01 cb 00 00 00 08 00 01 ff d2 d3");
    QTest::newRow("running sum reply, second page, as documented")
        << DuxlFrame::encodeCommandReply(4, 203, 100, 0x17D0A) << QByteArray::fromHex("d7 84 cb 64 00 01 7d 0a 9e c6");
    // The read-back's byte at 0x08000100, after the first page's running sum.
    QTest::newRow("running sum through one byte more as documented")
        << DuxlFrame::encodeCommandRequest(5, Command(1, 203, 0, 0, 0x08000100, false, 12), true)
        << QByteArray::fromHex("d7 05 01 cb 00 00 00 08 00 01 00 a3 66");
    QTest::newRow("running sum reply, one byte more, as documented")
        << DuxlFrame::encodeCommandReply(5, 203, 100, 0xBF05) << QByteArray::fromHex("d7 85 cb 64 00 00 bf 05 90 4e");
    const Command broadcast(0, 205, 0, 0, 0, true, 12);
    QTest::newRow("broadcast") << DuxlFrame::encodeCommandRequest(9, broadcast, true)
                               << handFrame(2, 9, QByteArray::fromHex("00 cd 0000 00 00000000"));
    QTest::newRow("reply") << DuxlFrame::encodeCommandReply(0x1F, 203, 100, -2)
                           << handFrame(4, 0x1F, QByteArray::fromHex("cb 64 fffffffe"));
    QTest::newRow("version request") << DuxlFrame::encodeVersionRequest(1, 5)
                                     << handFrame(3, 1, QByteArray::fromHex("05"));
    QTest::newRow("version reply") << DuxlFrame::encodeVersionReply(2, QStringLiteral("1234V101"))
                                   << handFrame(5, 2, QByteArray::fromHex("08") + "1234V101");
    QTest::newRow("window question as documented")
        << DuxlFrame::encodeWindow(4) << QByteArray::fromHex("d7 e0 04 4d 39");
    QTest::newRow("empty version reply") << DuxlFrame::encodeVersionReply(3, QString())
                                         << handFrame(5, 3, QByteArray::fromHex("00"));
    // dux-sim's wire faults send a reply again under another sequence number: the kind stays, the CRC holds.
    QTest::newRow("version reply re-sequenced")
        << DuxlFrame::withSequence(DuxlFrame::encodeVersionReply(2, QStringLiteral("1234V101")), 0x1F)
        << handFrame(5, 0x1F, QByteArray::fromHex("08") + "1234V101");
    QTest::newRow("re-sequenced beyond five bits")
        << DuxlFrame::withSequence(DuxlFrame::encodeCommandReply(31, 206, 100, 256), 32 + 1)
        << DuxlFrame::encodeCommandReply(1, 206, 100, 256);
    QTest::newRow("sequence read back from a reply")
        << QByteArray(1, char(DuxlFrame::sequenceOf(DuxlFrame::encodeCommandReply(0x1F, 206, 100, 256))))
        << QByteArray::fromHex("1f");
    QTest::newRow("version text cut to 32 bytes")
        << DuxlFrame::encodeVersionReply(4, QString(40, QLatin1Char('x')))
        << handFrame(5, 4, QByteArray::fromHex("20") + QByteArray(32, 'x'));
}

void TestDuxlFrame::encodesByteByByte()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QByteArray, expected);
    QCOMPARE(encoded.toHex(' '), expected.toHex(' '));
}

void TestDuxlFrame::decodesWhatWasEncoded_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("page-number word")
        << DuxlFrame::encodeCommandRequest(22, Command(1, 201, 0xFF, 16, int(0xDEADBEEF), false, 12), true)
        << "request 22 to 1 from 12: 201/255/16=deadbeef, reply wanted";
    QTest::newRow("bootloader entry")
        << DuxlFrame::encodeCommandRequest(22, Command(5, 242, 0x47, 0x6E, 0x5D2C8B19, false, 12), false)
        << "request 22 to 5 from 12: 242/71/110=5d2c8b19";
    QTest::newRow("largest fields")
        << DuxlFrame::encodeCommandRequest(22, Command(255, 255, 0xFFFF, 255, int(0x80000000), false, 12), true)
        << "request 22 to 255 from 12: 255/65535/255=80000000, reply wanted";
    // A broadcast is never answered, whatever the caller asked for.
    QTest::newRow("broadcast") << DuxlFrame::encodeCommandRequest(22, Command(0, 205, 0, 0, 1, true, 12), true)
                               << "request 22 to 0 from 12: 205/0/0=1, broadcast";
    QTest::newRow("reply") << DuxlFrame::encodeCommandReply(20, 208, 2, int(0xFFFFFFFF))
                           << "reply 20: 208 status 2=ffffffff";
    QTest::newRow("firmware version") << DuxlFrame::encodeVersionReply(5, QStringLiteral("1234V101"))
                                      << "version 5: 1234V101";
    QTest::newRow("empty version") << DuxlFrame::encodeVersionReply(5, QString()) << "version 5: ";
    QTest::newRow("version with start byte inside") << DuxlFrame::encodeVersionReply(5, QStringLiteral("12\u00D7V1"))
                                                    << QStringLiteral("version 5: 12\u00D7V1");
    QTest::newRow("window") << DuxlFrame::encodeWindow(16) << "window 16";
    QTest::newRow("longest version") << DuxlFrame::encodeVersionReply(5, QString(32, QLatin1Char('9')))
                                     << QStringLiteral("version 5: ") + QString(32, QLatin1Char('9'));
}

void TestDuxlFrame::decodesWhatWasEncoded()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QString, decoded);

    DuxlFrameDecoder decoder;
    decoder.append(encoded);
    DuxlFrame frame;
    QCOMPARE(decoder.next(&frame), DuxlFrameDecoder::Result::Frame);
    QCOMPARE(fieldsOf(frame), decoded);
    QCOMPARE(decoder.next(&frame), DuxlFrameDecoder::Result::NeedMore);
    QCOMPARE(decoder.discardedBytes(), qint64(0));
}

void TestDuxlFrame::decoderStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("discarded");

    const QByteArray one = reply(1);
    const QByteArray two = reply(2);
    QByteArray badCrc = reply(3);
    badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 0x01);
    QByteArray badPayload = reply(4);
    badPayload[6] = char(badPayload.at(6) ^ 0x40);
    const QByteArray garbage = QByteArray::fromHex("00 ff 55 aa 12 34");

    QTest::newRow("one frame") << one << 0 << QStringList{"F1"} << 0;
    QTest::newRow("garbage before") << garbage + one << 0 << QStringList{"F1"} << garbage.size();
    QTest::newRow("split byte by byte") << one + two << 1 << QStringList{"F1", "F2"} << 0;
    QTest::newRow("split in threes") << garbage + one + two << 3 << QStringList{"F1", "F2"} << garbage.size();
    QTest::newRow("bad CRC") << badCrc << 0 << QStringList{"C"} << badCrc.size();
    QTest::newRow("bad payload then good") << badPayload + two << 0 << QStringList{"C", "F2"} << badPayload.size();
    QTest::newRow("truncated then good, bytewise") << one.left(7) + two << 1 << QStringList{"C", "F2"} << 7;
    QTest::newRow("truncated at the end") << one + two.left(6) << 0 << QStringList{"F1"} << 0;
    QTest::newRow("header only") << one.left(2) << 0 << QStringList{} << 0;
    QTest::newRow("unknown kind") << QByteArray::fromHex("d7 c0 09 00 00") + one << 0 << QStringList{"F1"} << 5;
    // Code 7 is a frame with sequence 0 alone: a module that stands it is not taken for a window frame.
    QTest::newRow("code 7 with a sequence") << handFrame(7, 1, QByteArray::fromHex("04")) + one << 0 << QStringList{"F1"} << 5;
    QTest::newRow("version text longer than allowed")
        << QByteArray::fromHex("d7 a0 21") + one << 0 << QStringList{"F1"} << 3;
    QTest::newRow("start byte inside garbage") << QByteArray::fromHex("d7 d7 d7") + one << 0 << QStringList{"F1"} << 3;
    QTest::newRow("false start with plausible header")
        << QByteArray::fromHex("d7 80 09 01") + one << 0 << QStringList{"C", "F1"} << 4;
    QTest::newRow("spoiled CRC then good")
        << DuxlFrame::withSpoiledCrc(one) + two << 0 << QStringList{"C", "F2"} << one.size();
    QTest::newRow("version request between replies")
        << one + DuxlFrame::encodeVersionRequest(9, 1) + two << 2 << QStringList{"F1", "F9", "F2"} << 0;
}

void TestDuxlFrame::decoderStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, chunk);
    QFETCH(QStringList, events);
    QFETCH(int, discarded);

    DuxlFrameDecoder decoder;
    QCOMPARE(decodeAll(stream, chunk, &decoder), events);
    QCOMPARE(decoder.discardedBytes(), qint64(discarded));
}

void TestDuxlFrame::everySingleBitFlipIsRejected_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("reply") << reply(17, 0x7F00FF01);
    QTest::newRow("request") << DuxlFrame::encodeCommandRequest(18, Command(1, 201, 0x3F, 2, 99, false, 12), true);
    QTest::newRow("version reply") << DuxlFrame::encodeVersionReply(19, QStringLiteral("1234V101"));
    QTest::newRow("window") << DuxlFrame::encodeWindow(4);
}

void TestDuxlFrame::everySingleBitFlipIsRejected()
{
    QFETCH(QByteArray, frame);
    for (int bit = 0; bit < frame.size() * 8; ++bit) {
        QByteArray flipped = frame;
        flipped[bit / 8] = char(flipped.at(bit / 8) ^ (1 << (bit % 8)));
        DuxlFrameDecoder decoder;
        const QStringList events = decodeAll(flipped, 0, &decoder);
        QVERIFY2(!events.join(QString()).contains(QLatin1Char('F')), qPrintable(QStringLiteral("bit %1").arg(bit)));
    }
}

void TestDuxlFrame::framesSurviveInterleavedGarbage()
{
    QRandomGenerator random(77);
    QByteArray stream;
    QStringList expected;
    for (int sequence = 0; sequence < 200; ++sequence) {
        QByteArray noise(int(random.bounded(12)), Qt::Uninitialized);
        for (char& c : noise)
            c = char(random.bounded(256));
        stream += noise;
        stream += reply(quint8(sequence), int(random.generate()));
        expected << QStringLiteral("F%1").arg(sequence & DuxlFrame::SequenceMask);
    }
    DuxlFrameDecoder decoder;
    QList<DuxlFrame> frames;
    QStringList events = decodeAll(stream, 5, &decoder, &frames);
    events.removeAll(QStringLiteral("C"));
    QCOMPARE(events, expected);
    QCOMPARE(frames.size(), 200);
}

QTEST_APPLESS_MAIN(TestDuxlFrame)
#include "tst_duxlframe.moc"
