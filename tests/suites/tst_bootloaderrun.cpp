#include "bootloaderdialogue.h"
#include "command.h"
#include "duxlconnectioninterface.h"
#include "fakedialoguechannel.h"
#include "firmwarebuilder.h"
#include "firmwareupdaterthread.h"
#include "global.h"
#include "moduleparameters.h"
#include "replycheck.h"
#include "flashsums.h"
#include "resumepoint.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "timescale.h"
#include "versiontext.h"
#include "windowedwords.h"
#include "workerbridge.h"
#include "workerdevice.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr int ImageBytes = 0x40000;
constexpr int RunTimeoutMs = 60000;
constexpr const char* PortName = "COM7";

using Scheme = SimulatedModule::WriteScheme;
using Mode = SimulatedModule::FailureMode;

// A program image as the HEX loader leaves it: the whole 0x40000-byte buffer, program bytes from
// progStart on, an identifier inside, and the loader's sum of the program bytes.
struct Firmware
{
    QByteArray image;
    int progStart = 0;
    int programSize = 0;
    int armFlashAddress = 0;
    QString version;
    int checksum = 0;

    quint32 base() const { return quint32(progStart) + quint32(armFlashAddress); }

    // The image as the tool hands it over: written as a HEX file at base() and loaded back.
    FirmwareImage loaded() const
    {
        QTemporaryDir dir;
        const QString path = FirmwareBuilder::writeFile(dir.filePath(QStringLiteral("fw.hex")),
                                                        FirmwareBuilder::hexOf(image.mid(progStart, programSize), base()));
        return FirmwareImage::load(path);
    }
};

Firmware makeFirmware(int progStart, int programSize, const QString& version, int armFlashAddress = 0)
{
    Firmware firmware;
    firmware.progStart = progStart;
    firmware.programSize = programSize;
    firmware.armFlashAddress = armFlashAddress;
    firmware.version = version;
    // The identifier lies inside the program, never at its first byte, where no scan looks.
    const QByteArray identifier = version.toLatin1();
    const int identifierOffset = qMin(16, programSize - identifier.size());
    const QByteArray program = FirmwareBuilder::firmwareImage(identifierOffset >= 1 ? identifier : QByteArray(),
                                                              programSize, qMax(identifierOffset, 1));
    firmware.image = QByteArray(ImageBytes, '\0').replace(progStart, programSize, program);
    quint32 sum = 0;
    for (int i = 0; i < programSize; ++i)
        sum += quint8(firmware.image.at(progStart + i));
    firmware.checksum = int(sum);
    return firmware;
}

QString describe(const Command& request)
{
    return QStringLiteral("%1/%2/%3=0x%4")
        .arg(request.command())
        .arg(request.type())
        .arg(request.motorBank())
        .arg(QString::number(quint32(request.value()), 16));
}

QString describe(int command, int type, int bank, quint32 value)
{
    return describe(Command(1, quint8(command), quint16(type), quint8(bank), int(value), false, 12));
}

quint32 wordAt(const QByteArray& image, int position)
{
    quint32 word = 0;
    for (int i = 0; i < 4; ++i) {
        if (position + i < image.size())
            word |= quint32(quint8(image.at(position + i))) << (8 * i);
    }
    return word;
}

// The requests of a whole update, from the page size query to the restart, built from the
// bootloader's rules for each scheme.
QStringList expectedRequests(const Firmware& firmware, Scheme scheme, int pageSize, bool flashWordFallback)
{
    QStringList requests{describe(206, 0, 0, 0), describe(206, 1, 0, 0), describe(206, 2, 0, 0), describe(200, 0, 0, 0)};
    const int end = firmware.progStart + firmware.programSize;
    int offset = 0;
    int page = 16;
    quint32 pageAddress = firmware.base();
    for (int position = firmware.progStart; position < end; position += 4) {
        const quint32 word = wordAt(firmware.image, position);
        if (scheme == Scheme::PageNumber)
            requests << describe(201, offset / 4, page, word);
        else
            requests << describe(201, (offset / 4) % 256, offset / 1024, word);
        offset += 4;
        const bool pageFull = offset == pageSize;
        if (scheme == Scheme::PageBuffer && (pageFull || position + 4 >= end)) {
            requests << describe(202, 0, 0, pageAddress);
            pageAddress += quint32(pageSize);
            offset = 0;
        } else if (pageFull) {
            ++page;
            offset = 0;
        }
    }
    requests << describe(203, 0, 0, firmware.base() + quint32(firmware.programSize) - 1);
    requests << describe(208, 0, 0, quint32(firmware.programSize));
    if (!flashWordFallback) {
        requests << describe(208, 1, 0, quint32(firmware.checksum));
    } else if (scheme == Scheme::PageNumber) {
        requests << describe(201, 0xFE, 0x7F, quint32(firmware.programSize));
        requests << describe(201, 0xFF, 0x7F, quint32(firmware.checksum));
    } else {
        requests << describe(201, 0x7E, 0, quint32(firmware.programSize));
        requests << describe(201, 0x7F, 0, quint32(firmware.checksum));
        requests << describe(202, 0, 0, 0x3FE00);
    }
    requests << describe(205, 0, 0, 0);
    return requests;
}

// A text said on both channels: the status line, then the history.
QStringList both(const QString& text)
{
    return {QStringLiteral("P:") + text, QStringLiteral("L:") + text};
}

QStringList describeAll(const QVector<Command>& requests)
{
    QStringList described;
    for (const Command& request : requests)
        described << describe(request);
    return described;
}

QString hex(quint32 value)
{
    return QString::number(value, 16);
}

// The erase time varies from run to run; texts compare with it masked.
QStringList maskEraseTime(QStringList texts)
{
    return texts.replaceInStrings(QRegularExpression(QStringLiteral("^(L:)?Erasing after \\d+ ms finished\\.$")),
                                  QStringLiteral("\\1Erasing after # ms finished."));
}

QVector<Command> requestsOf(const SimulatedModule& module, int command)
{
    QVector<Command> matching;
    for (const Command& request : module.requests()) {
        if (request.command() == command)
            matching << request;
    }
    return matching;
}

}

// Plays the widget's device side for the worker, on the GUI thread as the widget's slots do: forwards
// requests and version queries to the simulated handler, closes and reopens it like a link that is
// opened anew, sets address 1 for the bootloader, and writes down everything the worker says, in order.
class DeviceSide : public QObject, public WorkerDevice
{
    Q_OBJECT
public:
    DeviceSide(FirmwareUpdaterThread* updater, SimulatedCommandHandler* handler)
        : m_updater(updater)
        , m_handler(handler)
    {
    }

    // "P:" progress text, "L:" history text, "max:", "query:", "close", "reopen:", "shown:", "done:".
    QStringList transcript;
    QList<int> barValues;
    QList<bool> completions;
    int registeredThreadsWhileRunning = -1;
    // Whether the reopen requests of states 0 and 1 are answered at all.
    bool answersReopen = true;
    // The words in flight the device offers; its windowed requests are the default's, one at a time.
    int window = 1;
    // The device hands the words on and returns: they end on a later turn of its event loop, as on a
    // link that shares its thread with others.
    bool wordsLater = false;
    // Called before each version query with the number of queries so far (1 for the first).
    std::function<void(int)> beforeVersionQuery;

    QStringList texts(const QString& channel) const
    {
        QStringList result;
        for (const QString& entry : transcript) {
            if (entry.startsWith(channel))
                result << entry.mid(channel.size());
        }
        return result;
    }
    // The texts of both channels, "P:" and "L:", in order.
    QStringList messages() const { return transcript.filter(QRegularExpression(QStringLiteral("^[PL]:"))); }

    QString runRequest(Command* request, Command* reply) override
    {
        m_handler->doDirectRequest(request, reply);
        return m_handler->requestFailure();
    }
    void runRequestWithoutReply(Command* request) override { m_handler->doDirectRequestWithoutReply(request); }
    int requestWindow() override { return window; }
    void startWindowedRequests(WindowedWords& words, const WindowedWordsDone& done) override
    {
        if (!wordsLater) {
            WorkerDevice::startWindowedRequests(words, done);
            return;
        }
        QTimer::singleShot(0, this, [this, &words, done] { WorkerDevice::startWindowedRequests(words, done); });
    }
    void readFirmwareVersion(QString* version, int moduleAddress) override
    {
        ++m_queries;
        transcript << QStringLiteral("query:%1").arg(moduleAddress);
        registeredThreadsWhileRunning = Global::instance(false)->registeredThreadCount();
        if (beforeVersionQuery)
            beforeVersionQuery(m_queries);
        *version = m_handler->getFirmwareVersion(quint8(moduleAddress));
    }
    void closeDevice() override
    {
        transcript << QStringLiteral("close");
        m_handler->closeDevice();
        m_updater->setDeviceClosed();
    }
    void reopenDevice(int moduleState) override
    {
        transcript << QStringLiteral("reopen:%1").arg(moduleState);
        if (moduleState == 2 || !answersReopen)
            return;
        if (moduleState == 0)
            m_updater->setModuleAddress(1);
        m_updater->setReopenResult(m_handler->openDevice());
    }
    void updateCompleted(bool successful) override
    {
        transcript << QStringLiteral("done:%1").arg(successful);
        completions << successful;
    }
    void showProgress(const ProgressMessage& message) override { transcript << QStringLiteral("P:") + message.english(); }
    void showDebugMessage(const QString& text) override { transcript << QStringLiteral("L:") + text; }
    void showProgressBarMaximum(int maximum) override { transcript << QStringLiteral("max:%1").arg(maximum); }
    void showProgressBarValue(int value) override { barValues << value; }
    void showModuleVersion(const QString& version) override { transcript << QStringLiteral("shown:") + version; }

private:
    FirmwareUpdaterThread* m_updater;
    SimulatedCommandHandler* m_handler;
    int m_queries = 0;
};

// One worker, one simulated module behind its handler, and the device side that records what the worker says.
class Rig
{
public:
    Rig()
        : handler(&module)
        , side(&updater, &handler)
    {
        handler.setPortName(QLatin1String(PortName));
        WorkerBridge::connect(updater, side, side);
    }

    ~Rig()
    {
        updater.cancelUpdate();
        while (!updater.wait(10))
            QCoreApplication::processEvents();
    }

    void load(const Firmware& loaded)
    {
        firmware = loaded;
        updater.setCommandHandler(&handler);
        updater.setImage(firmware.loaded());
    }

    // Sets the module up for `firmware` in bootloader mode with the given geometry.
    void prepareModule(const QString& bootloaderVersion, Scheme scheme, int pageSize, quint32 flashBase,
                       quint32 flashSize = 0x40000)
    {
        module.setBootloaderVersion(bootloaderVersion);
        module.setWriteScheme(scheme);
        module.setPageSize(pageSize);
        module.setFlashBase(flashBase);
        module.setFlashSize(flashSize);
        module.setMode(SimulatedModule::Mode::Bootloader);
    }

    // Starts the worker and waits for its thread to end; then delivers what is still queued.
    bool run()
    {
        QSignalSpy finished(&updater, &QThread::finished);
        updater.start();
        if (!finished.wait(RunTimeoutMs))
            return false;
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return updater.isFinished();
    }

    // Runs `action` when the module is about to see the `nth` request of `command` (and `type`).
    void onRequest(int command, int nth, std::function<void()> action, int type = SimulatedModule::AnyType)
    {
        auto seen = std::make_shared<int>(0);
        QObject::connect(&handler, &SimulatedCommandHandler::requestArrived, &handler,
                         [=](const Command& request) {
                             if (request.command() != command || (type != SimulatedModule::AnyType && request.type() != type))
                                 return;
                             if (++*seen == nth)
                                 action();
                         });
    }

    SimulatedModule module;
    SimulatedCommandHandler handler;
    FirmwareUpdaterThread updater;
    DeviceSide side;
    Firmware firmware;
};

// Runs the worker and checks that it completed once, as expected; the test stops at the first failure.
#define RUN_TO_ONE_COMPLETION(rig, expected)                                                                           \
    do {                                                                                                               \
        runToOneCompletion(rig, expected);                                                                             \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

using RigSetup = std::function<void(Rig&)>;
Q_DECLARE_METATYPE(RigSetup)
using ChannelSetup = std::function<void(SimulatedModule&, FakeDialogueChannel&, BootloaderDialogue::Target&)>;
Q_DECLARE_METATYPE(ChannelSetup)

class TestBootloaderRun : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void versionStringTest_data();
    void versionStringTest();
    void replyCheck_data();
    void replyCheck();
    void parameterPlausibility_data();
    void parameterPlausibility();
    void resumePoint_data();
    void resumePoint();
    void dialogueDecisions_data();
    void dialogueDecisions();

    void completeRun_data();
    void completeRun();
    void failures_data();
    void failures();
    void flashWordFallback_data();
    void flashWordFallback();
    void pageCommandProgramsItsPage_data();
    void pageCommandProgramsItsPage();
    void cancel_data();
    void cancel();

    void transcripts_data();
    void transcripts();
    void detectionWaitsForReopenUntilCancel();
    void reconnectionGivesUpAfterHundredAttempts();

private:
    std::unique_ptr<Rig> makeRig() { return std::make_unique<Rig>(); }
    std::unique_ptr<Rig> makeReadyRig(int programSize, Scheme scheme = Scheme::PageBuffer, int pageSize = 256);
    void runToOneCompletion(Rig& rig, bool expected);

    QTemporaryDir m_home;
    int m_baseThreadCount = 0;
};

void TestBootloaderRun::initTestCase()
{
    // The dialogue's own pacing, a hundred times faster; reply time-outs are not involved in process.
    if (qEnvironmentVariableIsEmpty(TimeScale::EnvironmentVariable))
        qputenv(TimeScale::EnvironmentVariable, "0.01");
    QVERIFY(TimeScale::factor() < 1.0);
    qputenv("DUX_HOME", m_home.path().toLocal8Bit());
}

void TestBootloaderRun::init()
{
    m_baseThreadCount = Global::instance(false)->registeredThreadCount();
}

void TestBootloaderRun::cleanup()
{
    QCOMPARE(Global::instance(false)->registeredThreadCount(), m_baseThreadCount);
}

// A rig with a program of `programSize` bytes at address 0 loaded, its module waiting in a bootloader of
// a family that writes with `scheme`.
std::unique_ptr<Rig> TestBootloaderRun::makeReadyRig(int programSize, Scheme scheme, int pageSize)
{
    auto rig = makeRig();
    const QString family = scheme == Scheme::PageNumber ? QStringLiteral("7342") : QStringLiteral("1234");
    rig->load(makeFirmware(0, programSize, family + "V205"));
    rig->prepareModule(family + "B101", scheme, pageSize, 0);
    return rig;
}

void TestBootloaderRun::runToOneCompletion(Rig& rig, bool expected)
{
    QVERIFY(rig.run());
    QCOMPARE(rig.side.completions, QList<bool>{expected});
    QVERIFY(rig.updater.isFinished());
    // Nothing follows the completion but, after success, nothing at all.
    QCOMPARE(rig.side.transcript.last(), QStringLiteral("done:%1").arg(expected));
}

void TestBootloaderRun::versionStringTest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passes");
    // What its letters say: "B" a bootloader's answer to the run, "b" a bootloader to the tool and the
    // host, "v" a running firmware.
    QTest::addColumn<QString>("names");
    QTest::newRow("bootloader") << "1234B101" << true << "Bb";
    QTest::newRow("seven digits") << "1234567" << true << "";
    QTest::newRow("six characters") << "1234B1" << false << "Bb";
    QTest::newRow("letters of versions") << "0123456789BbVv.C" << true << "bv";
    QTest::newRow("lower-case c") << "1234c101" << false << "";
    QTest::newRow("lower-case-b") << "1234b101" << true << "b";
    QTest::newRow("type-of-five") << "12345B10" << true << "b";
    QTest::newRow("no-type") << "B1234567" << true << "Bb";
    QTest::newRow("firmware") << "1234V101" << true << "v";
    // Junk on the line is no version, whatever its letters.
    QTest::newRow("code 0") << QString::fromLatin1("1234B10\0", 8) << false << "Bb";
    QTest::newRow("escape") << QString::fromLatin1("1234B10\x1b") << false << "Bb";
    QTest::newRow("invisible code above 255") << QString::fromUtf8("1234B10\u200b") << false << "Bb";
    QTest::newRow("one character longer than a version") << "0123456789BbVv.CB" << false << "bv";
    QTest::newRow("code above 255") << QString::fromUtf8("1234B10\u20ac") << true << "Bb";
    QTest::newRow("code 255") << QString::fromLatin1("1234B10\xff") << false << "Bb";
}

void TestBootloaderRun::versionStringTest()
{
    QFETCH(QString, text);
    QFETCH(bool, passes);
    QCOMPARE(BootloaderDialogue::isVersionString(text), passes);
    const QString names = QString(VersionText::isBootloaderAnswer(text) ? QStringLiteral("B") : QString())
        + (VersionText::namesBootloader(text) ? QStringLiteral("b") : QString())
        + (VersionText::namesFirmware(text) ? QStringLiteral("v") : QString());
    QTEST(names, "names");
}

void TestBootloaderRun::replyCheck_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("echo"); // -1: no reply
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("objection"); // the start of it; empty: the reply is the answer
    QTest::addColumn<bool>("anyStatus"); // the store fallback's requests: the status is not looked at

    QTest::newRow("done, own command") << 201 << 0 << 201 << 100 << "" << false;
    QTest::newRow("no reply") << 201 << 0 << -1 << 0 << "" << false;
    QTest::newRow("another command") << 206 << 0 << 205 << 100 << "The reply to command 206 echoes command 205" << false;
    QTest::newRow("checksum with another command") << 203 << 0 << 204 << 100 << "" << false;
    QTest::newRow("value refused") << 201 << 0 << 201 << 4 << "The reply to command 201 has status 4" << false;
    QTest::newRow("unknown status") << 202 << 0 << 202 << 7 << "The reply to command 202 has status 7" << false;
    QTest::newRow("size store falls back") << 208 << 0 << 208 << 2 << "" << false;
    QTest::newRow("checksum store refused") << 208 << 1 << 208 << 2 << "The reply to command 208 has status 2" << false;
    QTest::newRow("fallback word refused") << 201 << 0x7E << 201 << 4 << "" << true;
    QTest::newRow("fallback page command, unknown status") << 202 << 0 << 202 << 7 << "" << true;
    QTest::newRow("fallback word, another command") << 201 << 0x7F << 202 << 100
                                                    << "The reply to command 201 echoes command 202" << true;
    QTest::newRow("parameter unknown") << 206 << 0 << 206 << 2 << "The reply to command 206 has status 2" << false;
}

void TestBootloaderRun::replyCheck()
{
    QFETCH(int, command);
    QFETCH(int, type);
    QFETCH(int, echo);
    QFETCH(int, status);
    QFETCH(QString, objection);
    QFETCH(bool, anyStatus);
    const Command request(1, quint8(command), quint16(type), 0, 0, false, 12);
    Command reply;
    if (echo >= 0)
        reply.setReply(1, quint8(echo), quint8(status), 0);
    const QString said = ReplyCheck::objection(request, reply,
                                               anyStatus ? ReplyCheck::StatusRule::Any : ReplyCheck::StatusRule::Done);
    QVERIFY2(objection.isEmpty() ? said.isEmpty() : said.startsWith(objection), qPrintable(said));
}

void TestBootloaderRun::parameterPlausibility_data()
{
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<quint32>("flashBase");
    QTest::addColumn<qint64>("memorySize"); // -1: not read
    QTest::addColumn<int>("programSize");
    QTest::addColumn<QString>("implausibility");

    QTest::newRow("usual module") << 256 << quint32(0) << qint64(0x40000) << 1000 << "";
    QTest::newRow("one word a page") << 4 << quint32(0) << qint64(0x40000) << 1000 << "";
    QTest::newRow("page not whole words") << 6 << quint32(0) << qint64(0x40000) << 1000 << "Implausible page size: 6";
    QTest::newRow("largest page") << 65536 << quint32(0) << qint64(0x40000) << 1000 << "";
    QTest::newRow("page too large") << 65540 << quint32(0) << qint64(0x40000) << 1000
                                    << "Implausible page size: 65540";
    QTest::newRow("flash up to the last address") << 256 << quint32(0x8000000) << qint64(0xF8000000) << 1000 << "";
    QTest::newRow("flash past the address space")
        << 256 << quint32(0x8000000) << qint64(0xF8000004) << 1000
        << "Implausible memory size: 4160749572 above flash base address 0x8000000";
    QTest::newRow("image up to the last address, size not read") << 256 << quint32(0xFFFFFF00) << qint64(-1) << 256
                                                                 << "";
    QTest::newRow("image past the address space")
        << 256 << quint32(0xFFFFFF00) << qint64(-1) << 260
        << "Implausible flash base address: 0xffffff00 for 260 bytes";
}

void TestBootloaderRun::parameterPlausibility()
{
    QFETCH(int, pageSize);
    QFETCH(quint32, flashBase);
    QFETCH(qint64, memorySize);
    QFETCH(int, programSize);
    QFETCH(QString, implausibility);
    QCOMPARE(ModuleParameters::implausibility(pageSize, flashBase, memorySize, programSize).value_or(ProgressMessage()).english(),
             implausibility);
}

using FlashShape = std::function<void(QByteArray& flash)>;
Q_DECLARE_METATYPE(FlashShape)

void TestBootloaderRun::resumePoint_data()
{
    // A file of 4 pages of 256 bytes and 8 bytes more, in a memory of 8 pages; the flash is shaped from the
    // file written whole, the rest erased.
    QTest::addColumn<FlashShape>("shape");
    QTest::addColumn<bool>("wordsWithinPage");
    QTest::addColumn<qint64>("memorySize");
    QTest::addColumn<int>("failingRequest"); // the checksum request that gets no sum; 0: none
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("requests");
    constexpr int Memory = 0x800;
    const auto erasedFrom = [](QByteArray& flash, int offset) {
        flash.replace(offset, flash.size() - offset, QByteArray(flash.size() - offset, char(0xFF)));
    };
    const auto cutAt = [=](int offset) { return FlashShape([=](QByteArray& flash) { erasedFrom(flash, offset); }); };
    // Cut, and one byte changed: stale where the file was written, not erased after it.
    const auto cutAndChange = [=](int offset, int changed) {
        return FlashShape([=](QByteArray& flash) {
            erasedFrom(flash, offset);
            flash[changed] = char(flash.at(changed) ^ 0x5A);
        });
    };
    // Page sums through the first page that differs, the memory's end, for words 6 halvings of 64, and the
    // identifier's 8 bytes when the prefix holds them.
    QTest::newRow("page buffer, cut at a page") << cutAt(0x200) << false << qint64(Memory) << 0 << 0x200 << 3 + 1 + 8;
    QTest::newRow("page number, cut at a word") << cutAt(0x2C4) << true << qint64(Memory) << 0 << 0x2C4 << 3 + 1 + 6 + 8;
    QTest::newRow("page number, cut at a page") << cutAt(0x200) << true << qint64(Memory) << 0 << 0x200 << 3 + 1 + 6 + 8;
    // The page buffer programs whole pages: a page written in part is no place to go on.
    QTest::newRow("page buffer, cut at a word") << cutAt(0x2C4) << false << qint64(Memory) << 0 << -1 << 3 + 1;
    QTest::newRow("nothing written") << cutAt(0) << true << qint64(Memory) << 0 << -1 << 1 + 1 + 6;
    QTest::newRow("whole file written") << cutAt(0x408) << true << qint64(Memory) << 0 << 0x408 << 5 + 1 + 8;
    QTest::newRow("whole file, memory ends with it") << cutAt(0x408) << false << qint64(0x408) << 0 << 0x408 << 5 + 8;
    // Another version of the firmware whose text trades digits sums alike in every page; its identifier,
    // read byte by byte, does not match.
    QTest::newRow("another version summing alike") << FlashShape([](QByteArray& flash) {
        flash.replace(flash.indexOf("1234V200"), 8, "1234V101");
    }) << false << qint64(Memory) << 0 << -1 << 5 + 1 + 8;
    QTest::newRow("last word of the prefix stale")
        << cutAndChange(0x2C4, 0x2C0) << true << qint64(Memory) << 0 << -1 << 3 + 1 + 6;
    QTest::newRow("a page of the prefix stale") << cutAndChange(0x300, 0x150) << true << qint64(Memory) << 0 << -1
                                                << 2 + 1;
    QTest::newRow("a byte after the prefix not erased")
        << cutAndChange(0x200, 0x7FF) << false << qint64(Memory) << 0 << -1 << 3 + 1;
    QTest::newRow("a word later in the cut page not erased")
        << cutAndChange(0x2C4, 0x2F0) << true << qint64(Memory) << 0 << -1 << 3 + 1 + 6;
    QTest::newRow("a byte after the page written not erased")
        << cutAndChange(0x2C4, 0x500) << true << qint64(Memory) << 0 << -1 << 3 + 1;
    QTest::newRow("memory size not stated") << cutAt(0x200) << true << qint64(-1) << 0 << -1 << 0;
    QTest::newRow("no sum for a page") << cutAt(0x200) << false << qint64(Memory) << 2 << -1 << 2;
    QTest::newRow("no sum for the memory's end") << cutAt(0x200) << false << qint64(Memory) << 4 << -1 << 4;
    QTest::newRow("no sum while halving") << cutAt(0x2C4) << true << qint64(Memory) << 6 << -1 << 6;
}

void TestBootloaderRun::resumePoint()
{
    QFETCH(FlashShape, shape);
    QFETCH(bool, wordsWithinPage);
    QFETCH(qint64, memorySize);
    QFETCH(int, failingRequest);
    QFETCH(int, point);
    QFETCH(int, requests);
    constexpr quint32 Base = 0x8000000;
    constexpr int PageSize = 256;
    const QByteArray file = FirmwareBuilder::firmwareImage("1234V200", 0x408);
    QByteArray flash = file + QByteArray(0x800 - file.size(), char(0xFF));
    shape(flash);
    int asked = 0;
    FlashSums sums(Base, [&](quint32 lastAddress, quint32* sum) {
        if (++asked == failingRequest)
            return false;
        *sum = 0;
        for (quint32 at = Base; at <= lastAddress; ++at)
            *sum += quint8(flash.at(int(at - Base)));
        return true;
    });
    QCOMPARE(ResumePoint(file, PageSize, memorySize, wordsWithinPage, "1234V200").find(sums), point);
    QCOMPARE(asked, requests);
}

void TestBootloaderRun::dialogueDecisions_data()
{
    // A dialogue with its channel played by a script over a simulated module: 40 bytes written in pages of
    // 16 into a memory of 64. The requests the module saw ("cmd/type[/bank][=0xvalue]", a run of words to
    // one bank as "201/type/bank*n", "[..]" for words handed over at once) and the run's notes, in order.
    QTest::addColumn<QString>("bootloader");
    QTest::addColumn<ChannelSetup>("setup");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QStringList>("trace"); // %sum: the file's checksum
    QTest::addColumn<QString>("lastSaid"); // the last texts said, one a line

    using Answer = FakeDialogueChannel::Answer;
    const auto scripted = [](int command, int type, int nth, int count, Answer answer, int value = 0) {
        return ChannelSetup([=](SimulatedModule&, FakeDialogueChannel& channel, BootloaderDialogue::Target&) {
            channel.script.append({command, type, nth, count, answer, value});
        });
    };
    const auto onModule = [](std::function<void(SimulatedModule&)> change) {
        return ChannelSetup([=](SimulatedModule& module, FakeDialogueChannel&, BootloaderDialogue::Target&) { change(module); });
    };
    const auto onTarget = [](std::function<void(BootloaderDialogue::Target&)> change, ChannelSetup more = {}) {
        return ChannelSetup([=](SimulatedModule& module, FakeDialogueChannel& channel, BootloaderDialogue::Target& target) {
            change(target);
            if (more)
                more(module, channel, target);
        });
    };
    const auto window = [](int words, ChannelSetup more) {
        return ChannelSetup([=](SimulatedModule& module, FakeDialogueChannel& channel, BootloaderDialogue::Target& target) {
            channel.window = words;
            more(module, channel, target);
        });
    };
    const auto holding = [](std::function<void(QByteArray&)> change) {
        return [=](SimulatedModule& module) {
            QByteArray program = makeFirmware(0, 40, QStringLiteral("1234V205")).image.left(40);
            change(program);
            module.loadFlash(0, program);
        };
    };
    const auto unchanged = [](QByteArray&) {};
    const auto ifChanged = [](BootloaderDialogue::Target& target) { target.skipIfHeld = true; };
    const auto resume = [](BootloaderDialogue::Target& target) { target.tryResume = true; };
    const ChannelSetup plain = [](SimulatedModule&, FakeDialogueChannel&, BootloaderDialogue::Target&) {};

    const QString buffer = QStringLiteral("1234B101");
    const QString number = QStringLiteral("7342B101");
    const QStringList params{"206/0", "206/1", "206/2"};
    const QStringList pages2and3{"201/0/0*4", "202/0=0x10", "201/0/0*2", "202/0=0x20"};
    const QStringList bufferWrite = QStringList{"200/0", "window:1", "201/0/0*4", "202/0"} + pages2and3;
    const QStringList numberWrite{"200/0", "window:1", "201/0/16*4", "201/0/17*4", "201/0/18*2"};
    const QStringList store{"203/0=0x27", "208/0=0x28", "208/1=0x%sum"};
    const QStringList update = params + bufferWrite + store + QStringList{"205/0"};
    const QString restarted = QStringLiteral("L:Restarted module with firmware version \"1234V205\".");
    const QString restartedNumber = QStringLiteral("L:Restarted module with firmware version \"7342V205\".");

    QTest::newRow("page-buffer") << buffer << plain << true << update << restarted;
    QTest::newRow("page-number") << number << plain << true << params + numberWrite + store + QStringList{"205/0"}
                                 << restartedNumber;
    // The page size is asked for until it comes; a memory size that does not come is not needed.
    QTest::newRow("page-size-unanswered-twice") << buffer << scripted(206, 0, 1, 2, Answer::Silent) << true
                                                << QStringList{"206/0", "206/0"} + update << restarted;
    QTest::newRow("page-size-0") << buffer << onModule([](SimulatedModule& module) { module.setPageSize(0); }) << false
                                 << QStringList{"206/0"} << "L:Could not read page size!";
    QTest::newRow("page-size-unanswered-until-cancelled")
        << buffer << ChannelSetup([](SimulatedModule&, FakeDialogueChannel& channel, BootloaderDialogue::Target&) {
               channel.script = {{206, 0, 1, 1000, Answer::Silent, 0}, {206, 0, 3, 1, Answer::Cancel, 0}};
           })
        << false << QStringList{"206/0", "206/0", "206/0"} << "L:silent";
    QTest::newRow("memory-size-unanswered") << buffer << scripted(206, 2, 1, 1, Answer::Silent) << true << update
                                            << restarted;
    QTest::newRow("program-fills-the-memory") << buffer << onModule([](SimulatedModule& module) { module.setFlashSize(40); })
                                              << true << update << restarted;
    QTest::newRow("memory-a-byte-short") << buffer << onModule([](SimulatedModule& module) { module.setFlashSize(39); })
                                         << false << params << "L:Memory size: 39 -> File too large!";
    QTest::newRow("base-differs") << buffer << onModule([](SimulatedModule& module) { module.setFlashBase(0x10); })
                                  << false << QStringList{"206/0", "206/1"}
                                  << "L:Hex file base address (0x0) does not match with flash base address (0x10)!\n"
                                     "P:Hex file base address (0x0) does not match with flash base address (0x10)!";
    // A word is sent until its reply carries it out, ten times at most; a refusing status is no reply.
    QTest::newRow("word-unanswered-9-times") << buffer << scripted(201, -1, 5, 9, Answer::Silent) << true
                                             << params + QStringList{"200/0", "window:1", "201/0/0*4", "202/0",
                                                                     "201/0/0*13", "202/0=0x10", "201/0/0*2", "202/0=0x20"}
                                                    + store + QStringList{"205/0"}
                                             << restarted;
    QTest::newRow("word-unanswered-10-times") << buffer << scripted(201, -1, 5, 10, Answer::Silent) << false
                                              << params + QStringList{"200/0", "window:1", "201/0/0*4", "202/0", "201/0/0*10"}
                                              << "L:silent";
    QTest::newRow("word-refused-once") << buffer << scripted(201, -1, 3, 1, Answer::Status, 4) << true
                                       << params + QStringList{"200/0", "window:1", "201/0/0*5", "202/0"} + pages2and3
                                              + store + QStringList{"205/0"}
                                       << restarted;
    // With a window a page's words go at once; after a failed one the rest goes one at a time, the failed
    // word first, its failure in the window counted as its first try.
    QTest::newRow("window") << buffer << window(4, plain) << true
                            << params + QStringList{"200/0", "window:4", "[201/0/0*4]", "202/0", "[201/0/0*4]", "202/0=0x10",
                                                    "[201/0/0*2]", "202/0=0x20"} + store + QStringList{"205/0"}
                            << restarted;
    const QStringList windowFails = params + QStringList{"200/0", "window:4", "[201/0/0*4]", "202/0", "[201/0/0*4]", "window:1"};
    QTest::newRow("window-word-unanswered-9-times") << buffer << window(4, scripted(201, -1, 6, 9, Answer::Silent)) << true
                                                    << windowFails + QStringList{"201/1/0*11", "202/0=0x10", "201/0/0*2",
                                                                                 "202/0=0x20"} + store + QStringList{"205/0"}
                                                    << restarted;
    QTest::newRow("window-word-unanswered-10-times") << buffer << window(4, scripted(201, -1, 6, 10, Answer::Silent))
                                                     << false << windowFails + QStringList{"201/1/0*9"} << "L:silent";
    // A word the link carried out but the module refused goes again, one at a time from there.
    QTest::newRow("window-word-refused") << buffer << window(4, scripted(201, -1, 6, 1, Answer::Status, 4)) << true
                                         << windowFails + QStringList{"201/1/0*3", "202/0=0x10", "201/0/0*2", "202/0=0x20"}
                                                + store + QStringList{"205/0"}
                                         << restarted;
    // The checksum is asked for once more when its reply is missing or echoes another command.
    QTest::newRow("checksum-echoes-another-command") << buffer << scripted(203, -1, 1, 1, Answer::Echo, 204) << true
                                                     << params + bufferWrite + QStringList{"203/0=0x27"} + store
                                                            + QStringList{"205/0"}
                                                     << restarted;
    // The second reply is only tested for being well-formed.
    QTest::newRow("checksum-echoes-another-command-twice") << buffer << scripted(203, -1, 1, 2, Answer::Echo, 204) << true
                                                           << params + bufferWrite + QStringList{"203/0=0x27"} + store
                                                                  + QStringList{"205/0"}
                                                           << restarted;
    QTest::newRow("checksum-unanswered-twice") << buffer << scripted(203, -1, 1, 2, Answer::Silent) << false
                                               << params + bufferWrite + QStringList{"203/0=0x27", "203/0=0x27"}
                                               << "L:silent";
    QTest::newRow("checksums-differ") << buffer << onModule([](SimulatedModule& module) {
        module.setFailure(SimulatedModule::FailureMode::WrongChecksum);
    }) << false << params + bufferWrite + QStringList{"203/0=0x27"}
       << "L:Module-CheckSum: 0x%sum1 and Hexfile-CheckSum: 0x%sum do not match!";
    // A bootloader without the attribute store takes size and checksum as flash words of their own.
    const auto noAttributes = onModule([](SimulatedModule& module) { module.setFailure(SimulatedModule::FailureMode::Status2On208); });
    const QStringList bufferFallback{"203/0=0x27", "208/0=0x28", "201/126=0x28", "201/127=0x%sum", "202/0=0x3fe00"};
    QTest::newRow("attribute-store-fallback-page-buffer") << buffer << noAttributes << true
                                                          << params + bufferWrite + bufferFallback + QStringList{"205/0"}
                                                          << restarted;
    QTest::newRow("attribute-store-fallback-page-number")
        << number << noAttributes << true
        << params + numberWrite + QStringList{"203/0=0x27", "208/0=0x28", "201/254/127=0x28", "201/255/127=0x%sum", "205/0"}
        << restartedNumber;
    // Their status is not looked at; a missing reply fails them.
    const auto noAttributesAnd = [](QVector<FakeDialogueChannel::Scripted> script) {
        return ChannelSetup([=](SimulatedModule& module, FakeDialogueChannel& channel, BootloaderDialogue::Target&) {
            module.setFailure(SimulatedModule::FailureMode::Status2On208);
            channel.script = script;
        });
    };
    QTest::newRow("attribute-store-fallback-status-not-looked-at")
        << buffer << noAttributesAnd({{201, 0x7E, 1, 1, Answer::Status, 4}, {202, -1, 4, 1, Answer::Status, 7}}) << true
        << params + bufferWrite + bufferFallback + QStringList{"205/0"} << restarted;
    QTest::newRow("attribute-store-fallback-word-unanswered")
        << buffer << noAttributesAnd({{201, 0x7F, 1, 1, Answer::Silent, 0}}) << false
        << params + bufferWrite + bufferFallback.mid(0, 4) << "L:silent";
    QTest::newRow("checksum-attribute-refused") << buffer << scripted(208, 1, 1, 1, Answer::Status, 2) << false
                                                << params + bufferWrite + store
                                                << "L:Error saving new checksum!";
    // Only if changed: the whole sum first, the page sums only when it equals, and the flash after the file.
    QTest::newRow("if-changed-module-holds-the-file")
        << buffer << onTarget(ifChanged, onModule(holding(unchanged))) << true
        << params + QStringList{"203/0=0x27", "203/0=0xf", "203/0=0x1f", "203/0=0x3f", "skipped", "205/0"}
        << restarted;
    QTest::newRow("if-changed-whole-sum-differs")
        << buffer << onTarget(ifChanged) << true << params + QStringList{"203/0=0x27"} + bufferWrite + store + QStringList{"205/0"}
        << restarted;
    QTest::newRow("if-changed-bytes-exchanged-across-pages")
        << buffer << onTarget(ifChanged, onModule(holding([](QByteArray& program) { std::swap(program.data()[4], program.data()[20]); })))
        << true << params + QStringList{"203/0=0x27", "203/0=0xf", "203/0=0x1f"} + bufferWrite + store + QStringList{"205/0"}
        << restarted;
    QTest::newRow("if-changed-flash-after-the-file-written")
        << buffer << onTarget(ifChanged, onModule(holding([](QByteArray& program) { program += "more"; })))
        << true << params + QStringList{"203/0=0x27", "203/0=0xf", "203/0=0x1f", "203/0=0x3f"} + bufferWrite + store
               + QStringList{"205/0"}
        << restarted;
    // A resume writes on from the first page that is not the file's, when the flash after it reads erased.
    QTest::newRow("resume-after-the-first-page")
        << buffer << onTarget(resume, onModule(holding([](QByteArray& program) { program.truncate(16); }))) << true
        << params + QStringList{"203/0=0xf", "203/0=0x1f", "203/0=0x3f", "resumed", "window:1"} + pages2and3 + store
               + QStringList{"205/0"}
        << restarted;
    QTest::newRow("resume-nothing-in-place")
        << buffer << onTarget(resume) << true << params + QStringList{"203/0=0xf", "203/0=0x3f"} + bufferWrite + store + QStringList{"205/0"}
        << restarted;
    // A verify restarts the module unerased and names the pages that differ.
    QTest::newRow("verify-a-page-differs")
        << buffer << onTarget([](BootloaderDialogue::Target& target) { target.verifyOnly = true; },
                              onModule(holding([](QByteArray& program) { program[36] = char(program.at(36) ^ 1); })))
        << true << params + QStringList{"203/0=0x27", "203/0=0xf", "203/0=0x1f", "203/0=0x3f", "differing:0x20", "205/0"}
        << restarted;
    // A read-back takes a byte from two running sums, within the stated memory only, and restarts unerased.
    const auto readBack = [](qint64 first, qint64 end) {
        return [=](BootloaderDialogue::Target& target) {
            target.readBack = true;
            target.readFirst = first;
            target.readEnd = end;
        };
    };
    QTest::newRow("read-back") << buffer << onTarget(readBack(0x10, 0x13), onModule(holding(unchanged))) << true
                               << params + QStringList{"203/0=0xf", "203/0=0x10", "203/0=0x11", "203/0=0x12", "read:0x10+3", "205/0"}
                               << restarted;
    QTest::newRow("read-back-to-the-memory-end") << buffer << onTarget(readBack(0x3e, -1), onModule(holding(unchanged))) << true
                                                 << params + QStringList{"203/0=0x3d", "203/0=0x3e", "203/0=0x3f", "read:0x3e+2", "205/0"}
                                                 << restarted;
    QTest::newRow("read-back-past-the-memory") << buffer << onTarget(readBack(0x3e, 0x41)) << false << params
                                               << "L:The range 0x3e to 0x41 does not lie in the module's flash, which starts at 0x0 "
                                                  "and holds 64 bytes.";
    // A cancel stops a page-buffer write after the word; a page-number write goes on to the verify.
    QTest::newRow("cancel-page-buffer-write") << buffer << scripted(201, -1, 3, 1, Answer::Cancel) << false
                                              << params + QStringList{"200/0", "window:1", "201/0/0*3"} << "L:Writing 40 bytes...";
    QTest::newRow("cancel-page-number-write")
        << number << scripted(201, -1, 3, 1, Answer::Cancel) << false << params + numberWrite + QStringList{"203/0=0x27"}
        << "L:Module-CheckSum: 0x%sum and Hexfile-CheckSum: 0x%sum suit each other.";
}

void TestBootloaderRun::dialogueDecisions()
{
    QFETCH(QString, bootloader);
    QFETCH(ChannelSetup, setup);
    QFETCH(bool, succeeds);
    QFETCH(QStringList, trace);
    QFETCH(QString, lastSaid);

    const QString family = bootloader.left(4);
    const Firmware firmware = makeFirmware(0, 40, family + "V205");
    SimulatedModule module;
    module.setBootloaderVersion(bootloader);
    module.setWriteScheme(family == QLatin1String("7342") ? Scheme::PageNumber : Scheme::PageBuffer);
    module.setPageSize(16);
    module.setFlashBase(0);
    module.setFlashSize(64);
    module.setMode(SimulatedModule::Mode::Bootloader);
    FakeDialogueChannel channel(module);
    BootloaderDialogue::Target target;
    target.linkKind = DUXLConnectionInterface::Serial;
    target.portName = QLatin1String(PortName);
    target.image = firmware.loaded();
    setup(module, channel, target);

    QCOMPARE(BootloaderDialogue(channel, target).run(), succeeds);
    const QString sum = hex(quint32(firmware.checksum));
    QCOMPARE(channel.trace(), trace.replaceInStrings(QStringLiteral("%sum"), sum));
    const QStringList ending = lastSaid.replace(QStringLiteral("%sum1"), hex(quint32(firmware.checksum) + 1))
                                   .replace(QStringLiteral("%sum"), sum)
                                   .split(QLatin1Char('\n'));
    QCOMPARE(channel.said.mid(channel.said.size() - ending.size()), ending);
    // Whatever was written, the module's flash holds the file.
    if (succeeds && (trace.contains(QStringLiteral("200/0")) || trace.contains(QStringLiteral("resumed"))))
        QCOMPARE(module.flash().left(40), firmware.image.left(40));
}

void TestBootloaderRun::completeRun_data()
{
    QTest::addColumn<QString>("bootloader");
    QTest::addColumn<QString>("fileVersion");
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("progStart");
    QTest::addColumn<int>("programSize");
    QTest::addColumn<int>("armFlashAddress");
    // Words the device keeps in flight: the requests and the texts are those of one at a time.
    QTest::addColumn<int>("window");
    QTest::addColumn<bool>("wordsLater");
    // The module's stated memory size; the default flash, or exactly the program.
    QTest::addColumn<int>("memorySize");
    constexpr int Flash = 0x40000;

    QTest::newRow("page buffer, partial last page") << "1234B101" << "1234V205" << int(Scheme::PageBuffer) << 256 << 0
                                                    << 1000 << 0 << 1 << false << Flash;
    QTest::newRow("page buffer, partial last page, window") << "1234B101" << "1234V205" << int(Scheme::PageBuffer)
                                                            << 256 << 0 << 1000 << 0 << 4 << false << Flash;
    QTest::newRow("page buffer, ARM base, pages over 1 KiB")
        << "3110B102" << "3110V310" << int(Scheme::PageBuffer) << 2048 << 0x100 << 5000 << 0x8000000 << 1 << false << Flash;
    QTest::newRow("page buffer, window, words end later") << "1234B101" << "1234V205" << int(Scheme::PageBuffer)
                                                          << 256 << 0 << 1000 << 0 << 4 << true << Flash;
    QTest::newRow("page number 7342") << "7342B101" << "7342V205" << int(Scheme::PageNumber) << 1024 << 0x4000
                                      << 5000 << 0 << 1 << false << Flash;
    QTest::newRow("page number 7342, window") << "7342B101" << "7342V205" << int(Scheme::PageNumber) << 1024
                                              << 0x4000 << 5000 << 0 << 4 << false << Flash;
    QTest::newRow("page number 7351, whole pages") << "7351B100" << "7351V120" << int(Scheme::PageNumber) << 512
                                                   << 0x2000 << 2048 << 0 << 1 << false << Flash;
    QTest::newRow("page number family 473") << "4731B100" << "4731V100" << int(Scheme::PageNumber) << 256 << 0x1000
                                            << 1502 << 0 << 1 << false << Flash;
    // Three words, the last with two bytes of program and two from beyond the buffer, read as zero.
    QTest::newRow("program ends at the image end") << "1234B101" << "1234V205" << int(Scheme::PageBuffer) << 256
                                                   << ImageBytes - 10 << 10 << 0 << 4 << false << Flash;
    // The program fills the memory to its last byte: not too large.
    QTest::newRow("program fills the memory") << "1234B101" << "1234V205" << int(Scheme::PageBuffer) << 256 << 0
                                              << 1024 << 0 << 1 << false << 1024;
    QTest::newRow("0077 skips match and base") << "0077B100" << "1234V205" << int(Scheme::PageBuffer) << 256 << 0
                                               << 600 << 0 << 1 << false << Flash;
}

void TestBootloaderRun::completeRun()
{
    QFETCH(QString, bootloader);
    QFETCH(QString, fileVersion);
    QFETCH(int, scheme);
    QFETCH(int, pageSize);
    QFETCH(int, progStart);
    QFETCH(int, programSize);
    QFETCH(int, armFlashAddress);
    QFETCH(int, window);
    QFETCH(bool, wordsLater);
    QFETCH(int, memorySize);

    auto rig = makeRig();
    rig->side.window = window;
    rig->side.wordsLater = wordsLater;
    const Firmware firmware = makeFirmware(progStart, programSize, fileVersion, armFlashAddress);
    rig->load(firmware);
    const bool unchecked = bootloader.startsWith(QLatin1String("0077"));
    // A 0077 module reports a base that the file does not have; the run does not look at it.
    const quint32 flashBase = unchecked ? firmware.base() + 0x1000 : firmware.base();
    rig->prepareModule(bootloader, Scheme(scheme), pageSize, flashBase, quint32(memorySize));

    // The handler settings in force for each command the module sees.
    QMap<int, QStringList> settings;
    QObject::connect(&rig->handler, &SimulatedCommandHandler::requestArrived, &rig->handler, [&](const Command& request) {
        const QString setting = QString::number(rig->handler.maxTimeoutMS())
            + (rig->handler.forceProcessEvents() ? "+events" : "") + (rig->handler.traceMode() ? "+trace" : "");
        QStringList& seen = settings[request.command()];
        if (!seen.contains(setting))
            seen << setting;
    });

    RUN_TO_ONE_COMPLETION(*rig, true);
    QVERIFY(rig->side.registeredThreadsWhileRunning == m_baseThreadCount + 1);

    // The requests, as the bootloader saw them.
    Firmware sent = firmware;
    if (unchecked) {
        // The words go to the reported base; the file's own start address is not used for them.
        sent.armFlashAddress = int(flashBase) - progStart;
    }
    QCOMPARE(describeAll(rig->module.requests()), expectedRequests(sent, Scheme(scheme), pageSize, false));
    for (const Command& request : rig->module.requests()) {
        QCOMPARE(int(request.moduleAddress()), 1);
        QVERIFY(!request.isBroadcast());
        QCOMPARE(int(request.replyAddress()), 12);
    }
    QMap<int, QStringList> expectedSettings{{206, {"1000"}}, {200, {"15000+events"}}, {201, {"5000+trace"}},
                                            {203, {"50000"}},  {208, {"1000"}},         {205, {"1000"}}};
    if (scheme == int(Scheme::PageBuffer))
        expectedSettings.insert(202, {"5000+trace"});
    QCOMPARE(settings, expectedSettings);
    QCOMPARE(rig->handler.maxTimeoutMS(), int(CommandHandlerInterface::DefaultTimeoutMs));
    QVERIFY(!rig->handler.forceProcessEvents());
    QVERIFY(!rig->handler.traceMode());

    // The flash holds the program, and the module took size and checksum.
    QCOMPARE(rig->module.flash().left(programSize), firmware.image.mid(progStart, programSize));
    QCOMPARE(rig->module.flashChecksum(flashBase + quint32(programSize) - 1), quint32(firmware.checksum));
    QVERIFY(rig->module.hasStoredSize());
    QCOMPARE(rig->module.storedSize(), programSize);
    QVERIFY(rig->module.hasStoredChecksum());
    QCOMPARE(rig->module.storedChecksum(), firmware.checksum);
    QCOMPARE(rig->module.mode(), SimulatedModule::Mode::Firmware);

    // What was said, on which channel, in which order.
    const QString pair = QStringLiteral("Module (%1) and Firmware (%2) are matching.").arg(bootloader, fileVersion);
    const QString base = QStringLiteral("Flash base address: 0x") + hex(flashBase);
    QStringList expected = QStringList{"L:Try to read bootloader version at id 1... (1)", "L:Bootloader: " + bootloader}
        + both(pair) + QStringList{QStringLiteral("L:Page size: %1").arg(pageSize), "L:" + base, "P:" + base,
                                   "L:Memory size: " + QString::number(memorySize)}
        + both("Erasing...") + QStringList{"P:Erasing finished.", "L:Erasing after # ms finished."}
        + both(QStringLiteral("Writing %1 bytes...").arg(programSize));
    const int pages = (programSize + pageSize - 1) / pageSize;
    for (int page = 0; page < pages; ++page) {
        if (scheme == int(Scheme::PageBuffer))
            expected << "L:Writing page at address: 0x" + hex(flashBase + quint32(page * pageSize));
        else if ((page + 1) * pageSize <= programSize)
            expected << "L:Written page at address: 0x" + hex(quint32(pageSize * (16 + page)) + flashBase);
    }
    const QString sums = QStringLiteral("Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%1 suit each other.")
                             .arg(hex(quint32(firmware.checksum)));
    const QString storing = QStringLiteral("Writing checksum 0x") + hex(quint32(firmware.checksum));
    const QString restarted = QStringLiteral("Restarted module with firmware version \"%1\".").arg(fileVersion);
    expected << "P:Verifying checksum..."
             << "L:Verifying checksum at address 0x" + hex(flashBase + quint32(programSize) - 1) + "...";
    expected << both(sums) + both(storing) + both("Restarting module...")
             << "L:Try to read firmware version... (1/100) @COM7 id 1 is open"
             << "P:Update completed. " + restarted << "L:" + restarted << "L:Update completed.\n";
    QCOMPARE(maskEraseTime(rig->side.messages()), expected);

    // The other signals, between the texts.
    const QStringList& transcript = rig->side.transcript;
    QCOMPARE(transcript.mid(0, 5), (QStringList{"max:0", "L:Try to read bootloader version at id 1... (1)", "query:1",
                                                "L:Bootloader: " + bootloader, "shown:" + bootloader}));
    QStringList maxima;
    for (const QString& entry : transcript) {
        if (entry.startsWith(QLatin1String("max:")))
            maxima << entry;
    }
    QCOMPARE(maxima, (QStringList{"max:0", "max:0", "max:1", QStringLiteral("max:%1").arg(programSize), "max:1000"}));
    QCOMPARE(transcript.indexOf("reopen:2"), transcript.indexOf("L:Restarting module...") + 1);
    QCOMPARE(rig->side.barValues.first(), 0);
    QCOMPARE(rig->side.barValues.last(), 0);
    // The bar counts whole words: a program that ends inside a word ends the bar past its size.
    QVERIFY(rig->side.barValues.contains((programSize + 3) / 4 * 4));
}

void TestBootloaderRun::failures_data()
{
    // Each row sets up one fault; the run must end with exactly these texts after "marker" (the
    // last text before the fault), then the failed completion.
    QTest::addColumn<RigSetup>("setup");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QStringList>("ending");

    const QString pair = QStringLiteral("Module (1234B101) and Firmware (1234V205) are matching.");
    const QString sums = QStringLiteral("Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%1 suit each other.");
    // Why the last request failed, on a line of its own after the step's fixed text.
    const QString corrupt = QStringLiteral("L:The module's reply arrived corrupt.");
    const auto silentFor = [](int ms) { return QStringLiteral("L:The module did not answer within %1 ms.").arg(ms); };
    auto armAt = [](int command, int type, Mode mode, int commandToWatch) {
        return RigSetup([=](Rig& rig) {
            rig.onRequest(commandToWatch, 1, [&rig, command, type, mode] {
                SimulatedModule::Failure failure;
                failure.mode = mode;
                failure.command = command;
                failure.type = type;
                rig.module.addFailure(failure);
            });
        });
    };
    // A bootloader that cannot store attributes: the flash words and the page command of the fallback.
    auto fallbackThen = [armAt](int command, int type) {
        return RigSetup([=](Rig& rig) {
            rig.module.setFailure(Mode::Status2On208);
            armAt(command, type, Mode::InvalidReply, 208)(rig);
        });
    };

    QTest::newRow("USB handler not open")
        << RigSetup([](Rig& rig) {
               rig.handler.setUsbNumber(3);
               rig.handler.closeDevice();
           })
        << QString() << QStringList{"L:Invalid handle @COM7"};
    // A module that never answers as a bootloader: detection ends at the first try that ends past its
    // bound (each try 0.8 s here, the bound 2 s), and says so.
    QTest::newRow("no-bootloader-answer-within-the-bound")
        << RigSetup([](Rig& rig) {
               rig.module.setBootloaderVersion(QStringLiteral("1234B1"));
               rig.updater.setDetectionBoundMs(2000);
               rig.side.beforeVersionQuery = [](int) { QThread::msleep(800); };
           })
        << "L:Try to read bootloader version at id 1... (3)"
        << both("Bootloader detection timed out: no bootloader answer within 2 s (3 tries)");
    QTest::newRow("B not after four characters")
        << RigSetup([](Rig& rig) { rig.module.setBootloaderVersion("12345B10"); }) << "L:Bootloader: 12345B10"
        << both("Cannot switch module to bootloader mode!");
    QTest::newRow("version match fails")
        << RigSetup([](Rig& rig) { rig.module.setBootloaderVersion("5678B101"); }) << "L:Bootloader: 5678B101"
        << both("Module (5678B101) and Firmware (1234V205) do not match!");
    QTest::newRow("cancel while the page size is asked for")
        << RigSetup([](Rig& rig) {
               rig.module.setFailure(Mode::NoReply, 206);
               rig.onRequest(206, 5, [&rig] { rig.updater.cancelUpdate(); });
           })
        << "L:" + pair << both("Could not read page size!") + QStringList{silentFor(1000)};
    QTest::newRow("flash base not read")
        << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::InvalidReply, 206, 2, SimulatedModule::Forever); })
        << "L:Page size: 256" << both("Could not read flash base address!") + QStringList{corrupt};
    QTest::newRow("port gone after the page size")
        << RigSetup([](Rig& rig) { rig.onRequest(206, 1, [&rig] { rig.handler.closeDevice(); }); })
        << "L:Page size: 256"
        << both("Could not read flash base address!") + QStringList{"L:The module's port is gone."};
    QTest::newRow("implausible page size, before the erase")
        << RigSetup([](Rig& rig) { rig.module.setPageSize(6); }) << "L:Memory size: 262144"
        << both("Implausible page size: 6");
    QTest::newRow("page program fails")
        << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::InvalidReply, 202, 2, 1); })
        << "L:Writing page at address: 0x100" << both("Programming error (2)") + QStringList{corrupt};
    QTest::newRow("checksum not read")
        << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::NoReply, 203); })
        << "L:Verifying checksum at address 0x3e7..."
        << QStringList{"L:Checksum reply is invalid! -> trying again"} + both("Checksum read error!")
            + QStringList{silentFor(Bootloader::ChecksumTimeoutMs)};
    QTest::newRow("size not stored") << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::InvalidReply, 208); })
                                     << "L:Writing checksum 0x%1"
                                     << both("Error saving firmware size!") + QStringList{corrupt};
    QTest::newRow("checksum not stored") << armAt(208, 1, Mode::NoReply, 208) << "L:Writing checksum 0x%1"
                                         << both("Error saving new checksum!") + QStringList{silentFor(1000)};
    QTest::newRow("fallback size word") << fallbackThen(201, 0x7E) << "L:Writing checksum 0x%1"
                                        << both("Error writing firmware size!") + QStringList{corrupt};
    QTest::newRow("fallback checksum word") << fallbackThen(201, 0x7F) << "L:Writing checksum 0x%1"
                                            << both("Error writing new check sum!") + QStringList{corrupt};
    QTest::newRow("fallback page program") << fallbackThen(202, SimulatedModule::AnyType) << "L:Writing checksum 0x%1"
                                           << both("Error saving size and check sum!") + QStringList{corrupt};
    // The restart is not carried out: the bootloader answers every version request.
    QTest::newRow("bootloader after restart")
        << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::NoReply, 205); })
        << "L:Try to read firmware version... (100/100) @COM7 id 1 is open"
        << QStringList{"P:Reconnection failed.", "L:Reconnection canceled."};
    QTest::newRow("no version after restart, cancelled")
        << RigSetup([](Rig& rig) {
               rig.side.beforeVersionQuery = [&rig](int query) {
                   if (query == 4)
                       rig.updater.cancelUpdate();
               };
               rig.onRequest(205, 1, [&rig] { rig.module.setFailure(Mode::NoReply, SimulatedModule::VersionQuery); });
           })
        << "L:Try to read firmware version... (3/100) @COM7 id 1 is open"
        << QStringList{"P:Reconnection failed.", "L:Reconnection canceled."};
    // A read-back stops at the byte where it was cancelled, or where a sum did not come: no restart.
    const auto readBack = [](std::function<void(Rig&)> more) {
        return RigSetup([=](Rig& rig) {
            rig.updater.setReadBack(true, 0x10, 0x110);
            more(rig);
        });
    };
    const QString reading = QStringLiteral("L:Reading back 0x10 to 0x10f (256 bytes), one checksum request a byte...");
    QTest::newRow("read-back, cancelled at its tenth byte")
        << readBack([](Rig& rig) { rig.onRequest(203, 11, [&rig] { rig.updater.cancelUpdate(); }); })
        << reading << QStringList();
    QTest::newRow("read-back, a sum not answered")
        << readBack([](Rig& rig) { rig.module.setFailure(Mode::NoReply, 203, 5, 1); }) << reading
        << QStringList{"P:The module's flash could not be read back at 0x13.", "L:The module's flash could not be read back at 0x13.",
                       silentFor(50000)};
    // A verify whose sums do not all come writes nothing and leaves the module in its bootloader.
    QTest::newRow("verify, a page sum not answered")
        << RigSetup([](Rig& rig) {
               rig.updater.setVerifyOnly(true);
               rig.module.setFailure(Mode::NoReply, 203, 2, 1);
           })
        << "L:Memory size: 262144"
        << QStringList{"P:Comparing the module's page sums with the file's...", "P:The module's sums could not be read.",
                       "L:The module's sums could not be read.", silentFor(50000)};
}

void TestBootloaderRun::failures()
{
    QFETCH(RigSetup, setup);
    QFETCH(QString, marker);
    QFETCH(QStringList, ending);

    auto rig = makeReadyRig(1000);
    setup(*rig);

    RUN_TO_ONE_COMPLETION(*rig, false);

    const QString sum = hex(quint32(rig->firmware.checksum));
    marker.replace(QLatin1String("%1"), sum);
    ending.replaceInStrings(QStringLiteral("%1"), sum);
    const QStringList said = rig->side.messages();
    const int at = marker.isEmpty() ? -1 : said.lastIndexOf(marker);
    QVERIFY2(marker.isEmpty() || at >= 0, qPrintable(said.join('\n')));
    QCOMPARE(said.mid(at + 1), ending);
    QVERIFY(!said.contains("L:Update completed.\n"));
}

void TestBootloaderRun::flashWordFallback_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("pageSize");
    // Size and checksum go to words of their own, outside the application's flash, whatever the page
    // size: the page buffer's words 0x7E and 0x7F lie beyond a 256-byte page, and 0x3FE00 is no
    // 1024-byte page's first address.
    for (const int pageSize : {256, 512, 1024, 2048}) {
        QTest::newRow(qPrintable(QStringLiteral("page buffer, %1-byte pages").arg(pageSize)))
            << int(Scheme::PageBuffer) << pageSize;
        QTest::newRow(qPrintable(QStringLiteral("page number, %1-byte pages").arg(pageSize)))
            << int(Scheme::PageNumber) << pageSize;
    }
}

void TestBootloaderRun::flashWordFallback()
{
    QFETCH(int, scheme);
    QFETCH(int, pageSize);

    auto rig = makeReadyRig(3000, Scheme(scheme), pageSize);
    const Firmware& firmware = rig->firmware;
    rig->module.setFailure(Mode::Status2On208);

    RUN_TO_ONE_COMPLETION(*rig, true);
    QCOMPARE(describeAll(rig->module.requests()), expectedRequests(firmware, Scheme(scheme), pageSize, true));
    QCOMPARE(rig->module.requestCount(208, 1), 0);
    QVERIFY(rig->module.hasStoredSize() && rig->module.hasStoredChecksum());
    QCOMPARE(rig->module.storedSize(), firmware.programSize);
    QCOMPARE(rig->module.storedChecksum(), firmware.checksum);
    // The program where it belongs, and every other byte erased.
    const QByteArray flash = rig->module.flash();
    QCOMPARE(flash.left(3000), firmware.image.left(3000));
    QCOMPARE(flash.mid(3000), QByteArray(flash.size() - 3000, char(SimulatedModule::ErasedByte)));
}

void TestBootloaderRun::pageCommandProgramsItsPage_data()
{
    QTest::addColumn<quint32>("address");
    QTest::newRow("the page's first byte") << quint32(0x400);
    QTest::newRow("inside the page") << quint32(0x5FE);
    QTest::newRow("the page's last byte") << quint32(0x7FF);
}

// dux-sim's page-buffer bootloader programs the page that holds the page command's address.
void TestBootloaderRun::pageCommandProgramsItsPage()
{
    QFETCH(quint32, address);
    constexpr int PageBytes = 1024;
    constexpr quint32 Word = 0x12345678;
    SimulatedModule module;
    module.setMode(SimulatedModule::Mode::Bootloader);
    Command reply;
    module.handleRequest(Command(1, 201, 1, 0, int(Word), false, 12), &reply);
    module.handleRequest(Command(1, 202, 0, 0, int(address), false, 12), &reply);
    QCOMPARE(int(reply.status()), int(SimulatedModule::StatusOk));
    QCOMPARE(module.flashWord(PageBytes + 4), Word);
    QCOMPARE(module.flash().count(char(SimulatedModule::ErasedByte)), module.flash().size() - 4);
}

void TestBootloaderRun::cancel_data()
{
    // Where the cancel request arrives, and what the run has done when it stops.
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("lastText");
    QTest::addColumn<QString>("notSent");
    QTest::addColumn<bool>("succeeds");
    // Asked to leave a module that holds the file alone: 0 no; 1 yes, the module erased; 2 yes, it holds it.
    QTest::addColumn<int>("ifChanged");

    QTest::newRow("during erase") << int(Scheme::PageBuffer) << 200 << 1 << "L:Erasing after # ms finished."
                                  << "201" << false << 0;
    QTest::newRow("page buffer, tenth word") << int(Scheme::PageBuffer) << 201 << 10 << "L:Writing 1000 bytes..."
                                             << "203" << false << 0;
    // Page-number bootloaders are not left in the middle of the write: the cancel waits for the
    // checksum to be verified, as one that arrives during the verify does.
    QTest::newRow("page number, tenth word") << int(Scheme::PageNumber) << 201 << 10
                                             << "L:Module-CheckSum: 0x%1 and Hexfile-CheckSum: 0x%1 suit each other."
                                             << "208" << false << 0;
    QTest::newRow("while storing the size") << int(Scheme::PageBuffer) << 208 << 1 << "L:Writing checksum 0x%1"
                                            << "205" << false << 0;
    // Past the restart a pending cancel ends the reconnection as a success.
    QTest::newRow("at the restart") << int(Scheme::PageBuffer) << 205 << 1 << "L:Update completed.\n" << "" << true << 0;
    // A cancel while the sum is read: a module that holds the file is still restarted; no other is erased.
    QTest::newRow("if changed, during the sum, module erased")
        << int(Scheme::PageBuffer) << 203 << 1
        << "L:Module-CheckSum: 0x3e418 differs from Hexfile-CheckSum: 0x%1; updating." << "200" << false << 1;
    QTest::newRow("if changed, during the sum, module holds the file")
        << int(Scheme::PageBuffer) << 203 << 1 << "L:Update completed.\n" << "200" << true << 2;
}

void TestBootloaderRun::cancel()
{
    QFETCH(int, scheme);
    QFETCH(int, command);
    QFETCH(int, nth);
    QFETCH(QString, lastText);
    QFETCH(QString, notSent);
    QFETCH(bool, succeeds);
    QFETCH(int, ifChanged);

    auto rig = makeReadyRig(1000, Scheme(scheme));
    rig->updater.setSkipIfHeld(ifChanged > 0);
    if (ifChanged == 2)
        rig->module.loadFlash(0, rig->firmware.image.mid(0, 1000));
    rig->onRequest(command, nth, [&rig] { rig->updater.cancelUpdate(); });

    RUN_TO_ONE_COMPLETION(*rig, succeeds);
    const QStringList said = maskEraseTime(rig->side.messages());
    QCOMPARE(said.last(), QString(lastText).replace(QLatin1String("%1"), hex(quint32(rig->firmware.checksum))));
    if (!notSent.isEmpty())
        QCOMPARE(rig->module.requestCount(notSent.toInt()), 0);
    if (command == 201 && scheme == int(Scheme::PageBuffer))
        QCOMPARE(rig->module.requestCount(201), nth);
    if (command == 201 && scheme == int(Scheme::PageNumber))
        QCOMPARE(rig->module.requestCount(201), 250);
    if (succeeds)
        QCOMPARE(rig->side.texts("L:").filter("Try to read firmware version").size(), 0);
}

void TestBootloaderRun::transcripts_data()
{
    // Runs that succeed; what the worker says and asks of the device side from `marker` on.
    QTest::addColumn<RigSetup>("setup");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QStringList>("said");

    QTest::newRow("no handler: done at once") << RigSetup([](Rig& rig) { rig.updater.setCommandHandler(nullptr); })
                                              << "max:0" << QStringList{"max:0", "L:Update completed.\n", "done:1"};
    // Nobody answers at 3; the reopen for the bootloader sets address 1, which the next attempt uses.
    QTest::newRow("address read for every request")
        << RigSetup([](Rig& rig) { rig.updater.setModuleAddress(3); })
        << "L:Try to read bootloader version at id 3... (1)"
        << QStringList{"L:Try to read bootloader version at id 3... (1)", "query:3", "close", "reopen:0",
                       "L:Try to read bootloader version at id 1... (2)", "query:1", "L:Bootloader: 1234B101"};
    // The page size is asked for until it comes; a memory size that does not come is not needed.
    const QString pair = QStringLiteral("L:Module (1234B101) and Firmware (1234V205) are matching.");
    QTest::newRow("page size without reply twice")
        << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::NoReply, 206, 1, 2); }) << pair
        << QStringList{pair, "L:Page size: 256", "L:Flash base address: 0x0", "P:Flash base address: 0x0",
                       "L:Memory size: 262144", "P:Erasing..."};
    QTest::newRow("memory size without reply")
        << RigSetup([](Rig& rig) { rig.module.setFailure(Mode::NoReply, 206, 3, 1); }) << pair
        << QStringList{pair, "L:Page size: 256", "L:Flash base address: 0x0", "P:Flash base address: 0x0",
                       "P:Erasing..."};
    QTest::newRow("USB handler ends after the restart") << RigSetup([](Rig& rig) { rig.handler.setUsbNumber(5); })
                                                        << "L:Restarting module..."
                                                        << QStringList{"L:Restarting module...", "reopen:2",
                                                                       "max:1000", "L:Update completed.\n", "done:1"};
    QTest::newRow("unreachable after the restart")
        << RigSetup([](Rig& rig) {
               rig.onRequest(205, 1, [&rig] {
                   rig.handler.closeDevice();
                   rig.handler.setOpenSucceeds(false);
               });
           })
        << "L:Restarting module..."
        << QStringList{"L:Restarting module...", "reopen:2", "max:1000", "reopen:1", "L:COM7: Unable to reconnect ",
                       "L:Update completed.\n", "done:1"};

    // Asked to leave a module that holds the file alone: the sum over the file's range decides before the erase.
    const QString memory = QStringLiteral("L:Memory size: 262144");
    const QString fileSum = hex(quint32(makeFirmware(0, 600, "1234V205").checksum));
    const auto ifChanged = [](bool holdsFile, std::function<void(Rig&)> more = {}) {
        return RigSetup([=](Rig& rig) {
            rig.updater.setSkipIfHeld(true);
            if (holdsFile)
                rig.module.loadFlash(0, rig.firmware.image.mid(rig.firmware.progStart, rig.firmware.programSize));
            if (more)
                more(rig);
        });
    };
    const QString held = QStringLiteral("The module already holds this firmware (checksum 0x%1).").arg(fileSum);
    QTest::newRow("if changed, module holds the file")
        << ifChanged(true) << memory
        << QStringList{memory, "P:" + held, "L:" + held, "L:All 3 page sums equal the file's.",
                       "P:Restarting module...", "L:Restarting module...", "reopen:2", "max:1000"};
    // The whole sum stays when bytes trade places or change in opposite directions; the page sums do not.
    const auto exchange = [](int first, int second) {
        return [=](Rig& rig) {
            const QByteArray program = rig.firmware.image.mid(rig.firmware.progStart, rig.firmware.programSize);
            rig.module.loadFlash(quint32(first), program.mid(second, 1));
            rig.module.loadFlash(quint32(second), program.mid(first, 1));
        };
    };
    QTest::newRow("if changed, bytes exchanged across pages")
        << ifChanged(true, exchange(0x10, 0x110)) << memory
        << QStringList{memory, "L:2 of 3 page sums differ from the file's, at 0x0, 0x100; updating.", "P:Erasing..."};
    QTest::newRow("if changed, one byte up and one down in the last pages")
        << ifChanged(true, [](Rig& rig) {
               const QByteArray program = rig.firmware.image.mid(rig.firmware.progStart, rig.firmware.programSize);
               rig.module.loadFlash(0x150, QByteArray(1, char(program.at(0x150) + 1)));
               rig.module.loadFlash(0x250, QByteArray(1, char(program.at(0x250) - 1)));
           })
        << memory << QStringList{memory, "L:2 of 3 page sums differ from the file's, at 0x100, 0x200; updating.", "P:Erasing..."};
    // Within one page the sums cannot tell: the blind spot the documents name.
    QTest::newRow("if changed, bytes exchanged within a page")
        << ifChanged(true, exchange(0x110, 0x1F0)) << memory
        << QStringList{memory, "P:" + held, "L:" + held, "L:All 3 page sums equal the file's."};
    // A verify compares every page, whatever the whole sum, and restarts the module unerased.
    const auto verify = [](std::function<void(Rig&)> change) {
        return RigSetup([=](Rig& rig) {
            rig.updater.setVerifyOnly(true);
            rig.module.loadFlash(0, rig.firmware.image.mid(rig.firmware.progStart, rig.firmware.programSize));
            change(rig);
        });
    };
    const QString comparing = QStringLiteral("P:Comparing the module's page sums with the file's...");
    QTest::newRow("verify, the module holds the file")
        << verify([](Rig&) {}) << comparing
        << QStringList{comparing, QStringLiteral("L:Module-CheckSum: 0x%1, Hexfile-CheckSum: 0x%1; 4 checksum requests.").arg(fileSum),
                       "P:The module holds this firmware: all 3 page sums equal the file's.",
                       "L:The module holds this firmware: all 3 page sums equal the file's.", "P:Restarting module..."};
    const auto firmware = makeFirmware(0, 600, "1234V205");
    quint32 erasedPageSum = quint32(firmware.checksum) + 0xFF * 0x100;
    for (int at = 0x100; at < 0x200; ++at)
        erasedPageSum -= quint8(firmware.image.at(firmware.progStart + at));
    QTest::newRow("verify, one page erased")
        << verify([](Rig& rig) { rig.module.loadFlash(0x100, QByteArray(0x100, char(0xFF))); }) << comparing
        << QStringList{comparing, QStringLiteral("L:Module-CheckSum: 0x%1, Hexfile-CheckSum: 0x%2; 4 checksum requests.")
                                      .arg(hex(erasedPageSum), fileSum),
                       "P:1 of 3 page sums differ from the file's, at 0x100.",
                       "L:1 of 3 page sums differ from the file's, at 0x100.", "P:Restarting module..."};
    // The file cut short of what the flash holds: its own range sums alike, what follows is not erased.
    QTest::newRow("verify, the flash holds more after the file")
        << verify([](Rig& rig) { rig.module.loadFlash(600, QByteArray(8, char(0x5A))); }) << comparing
        << QStringList{comparing, QStringLiteral("L:Module-CheckSum: 0x%1, Hexfile-CheckSum: 0x%1; 4 checksum requests.").arg(fileSum),
                       "P:1 of 3 page sums differ from the file's, at 0x200.",
                       "L:1 of 3 page sums differ from the file's, at 0x200.", "P:Restarting module..."};
    QTest::newRow("if changed, a page sum not answered")
        << ifChanged(true, [](Rig& rig) { rig.module.setFailure(Mode::NoReply, 203, 2, 2); }) << memory
        << QStringList{memory, "L:The module's checksum could not be read; updating.",
                       "L:The module did not answer within 50000 ms.", "P:Erasing..."};
    QTest::newRow("if changed, module erased")
        << ifChanged(false) << memory
        << QStringList{memory, QStringLiteral("L:Module-CheckSum: 0x%1 differs from Hexfile-CheckSum: 0x%2; updating.")
                                   .arg(hex(600 * 0xFF), fileSum),
                       "P:Erasing...", "L:Erasing..."};
    QTest::newRow("if changed, sum not answered")
        << ifChanged(true, [](Rig& rig) { rig.module.setFailure(Mode::NoReply, 203, 1, 1); }) << memory
        << QStringList{memory, "L:The module's checksum could not be read; updating.",
                       "L:The module did not answer within 50000 ms.", "P:Erasing..."};
    QTest::newRow("if changed, sum echoes another command")
        << ifChanged(true, [](Rig& rig) { rig.module.setFailure(Mode::WrongEchoOn203, 203, 1, 1); }) << memory
        << QStringList{memory, "L:The module's checksum could not be read; updating.", "P:Erasing..."};
}

void TestBootloaderRun::transcripts()
{
    QFETCH(RigSetup, setup);
    QFETCH(QString, marker);
    QFETCH(QStringList, said);

    auto rig = makeReadyRig(600);
    setup(*rig);

    RUN_TO_ONE_COMPLETION(*rig, true);
    const QStringList& transcript = rig->side.transcript;
    QVERIFY2(transcript.contains(marker), qPrintable(transcript.join('\n')));
    QCOMPARE(transcript.mid(transcript.indexOf(marker), said.size()), said);
    for (const Command& request : rig->module.requests())
        QCOMPARE(int(request.moduleAddress()), 1);
    // The flash is erased exactly when the run says so.
    QCOMPARE(requestsOf(rig->module, 200).size(), int(transcript.contains("P:Erasing...")));
    // A whole sum that differs is enough to update: no page sums are asked for, only the verify's sum.
    if (!transcript.filter(QStringLiteral("differs from Hexfile-CheckSum")).isEmpty())
        QCOMPARE(requestsOf(rig->module, 203).size(), 2);
}

void TestBootloaderRun::detectionWaitsForReopenUntilCancel()
{
    auto rig = makeReadyRig(600);
    rig->module.setBootloaderVersion(QStringLiteral("1234B1"));
    // Six characters never pass: the loop goes on until the user cancels. At the third attempt the
    // link stops answering reopen requests, so the worker waits in its poll until the cancel.
    rig->side.beforeVersionQuery = [&rig](int query) {
        if (query == 3) {
            rig->side.answersReopen = false;
            QTimer::singleShot(100, &rig->updater, [&rig] { rig->updater.cancelUpdate(); });
        }
    };

    RUN_TO_ONE_COMPLETION(*rig, false);
    QCOMPARE(rig->side.texts("L:"),
             (QStringList{"Try to read bootloader version at id 1... (1)", "Try to read bootloader version at id 1... (2)",
                          "Try to read bootloader version at id 1... (3)"}));
    QCOMPARE(rig->side.transcript.count("reopen:0"), 3);
    QVERIFY(rig->side.texts("P:").isEmpty());
    QCOMPARE(rig->module.requests().size(), 0);
}

void TestBootloaderRun::reconnectionGivesUpAfterHundredAttempts()
{
    auto rig = makeReadyRig(600);
    // Without a handler property the port is named by the handler's object name, read when the worker
    // is given the handler.
    rig->handler.setProperty("dpComPort", QVariant());
    rig->handler.setObjectName(QStringLiteral("serial link"));
    rig->updater.setCommandHandler(&rig->handler);
    rig->onRequest(205, 1, [&rig] { rig->module.setFailure(Mode::NoReply, SimulatedModule::VersionQuery); });

    RUN_TO_ONE_COMPLETION(*rig, false);
    const QStringList attempts = rig->side.texts("L:").filter("Try to read firmware version");
    QCOMPARE(attempts.size(), 100);
    QCOMPARE(attempts.first(), QStringLiteral("Try to read firmware version... (1/100) @serial link id 1 is open"));
    QCOMPARE(attempts.last(), QStringLiteral("Try to read firmware version... (100/100) @serial link id 1 is open"));
    QCOMPARE(rig->side.messages().mid(rig->side.messages().size() - 2),
             (QStringList{"P:Reconnection failed.", "L:Reconnection canceled."}));
    // One reopen before the first attempt and one after each failed one but the last.
    QCOMPARE(rig->side.transcript.count("reopen:1"), 100);
}

QTEST_MAIN(TestBootloaderRun)
#include "tst_bootloaderrun.moc"
