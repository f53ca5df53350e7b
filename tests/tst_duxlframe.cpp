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

class TestDuxlFrame : public QObject
{
    Q_OBJECT
private slots:
    void encodesByteByByte_data();
    void encodesByteByByte();
    void requestRoundTrip_data();
    void requestRoundTrip();
    void replyRoundTrip();
    void versionReplyRoundTrip_data();
    void versionReplyRoundTrip();
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
    QTest::newRow("request wanting a reply")
        << DuxlFrame::encodeCommandRequest(7, write, true)
        << handFrame(0, 7, QByteArray::fromHex("01 c9 1234 56 89abcdef"));
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
    const Command broadcast(0, 205, 0, 0, 0, true, 12);
    QTest::newRow("broadcast") << DuxlFrame::encodeCommandRequest(9, broadcast, true)
                               << handFrame(2, 9, QByteArray::fromHex("00 cd 0000 00 00000000"));
    QTest::newRow("reply") << DuxlFrame::encodeCommandReply(0x1F, 203, 100, -2)
                           << handFrame(4, 0x1F, QByteArray::fromHex("cb 64 fffffffe"));
    QTest::newRow("version request") << DuxlFrame::encodeVersionRequest(1, 5)
                                     << handFrame(3, 1, QByteArray::fromHex("05"));
    QTest::newRow("version reply") << DuxlFrame::encodeVersionReply(2, QStringLiteral("1234V101"))
                                   << handFrame(5, 2, QByteArray::fromHex("08") + "1234V101");
    QTest::newRow("empty version reply") << DuxlFrame::encodeVersionReply(3, QString())
                                         << handFrame(5, 3, QByteArray::fromHex("00"));
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

void TestDuxlFrame::requestRoundTrip_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("motorBank");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<bool>("wantsReply");

    QTest::newRow("page-number word") << 1 << 201 << 0xFF << 16 << int(0xDEADBEEF) << false << true;
    QTest::newRow("bootloader entry") << 5 << 242 << 0x47 << 0x6E << 0x5D2C8B19 << false << false;
    QTest::newRow("largest fields") << 255 << 255 << 0xFFFF << 255 << int(0x80000000) << false << true;
    QTest::newRow("broadcast") << 0 << 205 << 0 << 0 << 1 << true << true;
}

void TestDuxlFrame::requestRoundTrip()
{
    QFETCH(int, address);
    QFETCH(int, command);
    QFETCH(int, type);
    QFETCH(int, motorBank);
    QFETCH(int, value);
    QFETCH(bool, broadcast);
    QFETCH(bool, wantsReply);

    const Command request(quint8(address), quint8(command), quint16(type), quint8(motorBank), value, broadcast, 12);
    DuxlFrameDecoder decoder;
    decoder.append(DuxlFrame::encodeCommandRequest(22, request, wantsReply));
    DuxlFrame frame;
    QCOMPARE(decoder.next(&frame), DuxlFrameDecoder::Result::Frame);
    QCOMPARE(frame.kind(), DuxlFrame::Kind::CommandRequest);
    QCOMPARE(frame.sequence(), quint8(22));
    QCOMPARE(frame.wantsReply(), wantsReply && !broadcast);
    const Command decoded = frame.toCommand();
    QCOMPARE(decoded.moduleAddress(), quint8(address));
    QCOMPARE(decoded.command(), quint8(command));
    QCOMPARE(decoded.type(), quint16(type));
    QCOMPARE(decoded.motorBank(), quint8(motorBank));
    QCOMPARE(decoded.value(), value);
    QCOMPARE(decoded.isBroadcast(), broadcast);
    QCOMPARE(decoded.replyAddress(), quint8(12));
    QCOMPARE(decoder.next(&frame), DuxlFrameDecoder::Result::NeedMore);
    QCOMPARE(decoder.discardedBytes(), qint64(0));
}

void TestDuxlFrame::replyRoundTrip()
{
    DuxlFrameDecoder decoder;
    decoder.append(DuxlFrame::encodeCommandReply(20, 208, 2, int(0xFFFFFFFF)));
    DuxlFrame frame;
    QCOMPARE(decoder.next(&frame), DuxlFrameDecoder::Result::Frame);
    QCOMPARE(frame.kind(), DuxlFrame::Kind::CommandReply);
    QCOMPARE(frame.sequence(), quint8(20));
    QCOMPARE(frame.command(), quint8(208));
    QCOMPARE(frame.status(), quint8(2));
    QCOMPARE(frame.value(), -1);
}

void TestDuxlFrame::versionReplyRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("firmware") << "1234V101";
    QTest::newRow("empty") << "";
    QTest::newRow("with start byte inside") << QStringLiteral("12\u00D7V1");
    QTest::newRow("longest") << QString(32, QLatin1Char('9'));
}

void TestDuxlFrame::versionReplyRoundTrip()
{
    QFETCH(QString, text);
    DuxlFrameDecoder decoder;
    decoder.append(DuxlFrame::encodeVersionReply(5, text));
    DuxlFrame frame;
    QCOMPARE(decoder.next(&frame), DuxlFrameDecoder::Result::Frame);
    QCOMPARE(frame.kind(), DuxlFrame::Kind::VersionReply);
    QCOMPARE(frame.text(), text);
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
    QTest::newRow("unknown kind") << QByteArray::fromHex("d7 e0 09 00 00") + one << 0 << QStringList{"F1"} << 5;
    QTest::newRow("version text longer than allowed")
        << QByteArray::fromHex("d7 a0 21") + one << 0 << QStringList{"F1"} << 3;
    QTest::newRow("start byte inside garbage") << QByteArray::fromHex("d7 d7 d7") + one << 0 << QStringList{"F1"} << 3;
    QTest::newRow("false start with plausible header")
        << QByteArray::fromHex("d7 80 09 01") + one << 0 << QStringList{"C", "F1"} << 4;
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
