#include "command.h"
#include "fakeconnectionplugin.h"
#include "fakehost.h"
#include "fakemoduleplugin.h"
#include "firmwarebuilder.h"
#include "firmwareimage.h"
#include "global.h"
#include "messagelog.h"
#include "leftstate.h"
#include "modulekey.h"
#include "modulestatenote.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portchange.h"
#include "runoptions.h"
#include "simulatedcommandhandler.h"
#include "simulatedmodule.h"
#include "timescale.h"
#include "toolhome.h"
#include "toolsettings.h"
#include "updatechecks.h"
#include "updateoutcome.h"
#include "updatesession.h"
#include "updatesteps.h"
#include "workerhost.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QtTest>

using namespace UpdateChecks;

namespace {
constexpr int Usb = DUXLConnectionInterface::Usb;
constexpr int Serial = DUXLConnectionInterface::Serial;
constexpr unsigned char EraseCommand = 200;
constexpr unsigned char ParameterCommand = 206;
constexpr const char* NewIdentifier = "1234V102";
constexpr const char* ModuleFirmware = "1234V101";
constexpr const char* ModuleBootloader = "1234B101";
constexpr int FirmwareRate = 19200;
// A whole update at DUX_TIME_SCALE 0.02 takes well under a second; this is the ceiling.
constexpr int UpdateTimeoutMs = 30000;
// How long a test waits to be sure that a scaled single-shot timer did not fire.
constexpr int QuietMs = 300;
// The worker asks for the module's version (and Cancel is freed) at the bootloader's address 1, given
// with bits above the low 8, which do not count.
constexpr int VersionQueryAddress = 257;

// What the pool holds under the chosen file's name; NoName: no file name is known (Cancel cleared it);
// or the pool folder is a regular file.
enum class Pooled { Nothing, ChosenFile, OtherFile, NoName, FolderIsFile };
// The file handed to the session before the update starts.
// IfNewer, RightHash, WrongHash: the firmware file, with the host's guard "only if newer" or an expected hash.
enum class Chosen { Firmware, CutShort, NotHex, OtherType, IfNewer, RightHash, WrongHash };

// One update session among the host's fakes, without a form: what it would show is recorded here.
struct SessionRig
{
    SessionRig()
        : session(host.pluginHandler(), settings)
    {
        session.createWorker();
        const auto record = [this](const QString& html) {
            history.append(QTextDocumentFragment::fromHtml(html).toPlainText());
        };
        QObject::connect(&session, &UpdateSession::historyLine, record);
        QObject::connect(&session, &UpdateSession::historyNote, [this](const QString& text) { history.append(text); });
        QObject::connect(&session, &UpdateSession::historyCleared, [this] { history.clear(); });
        QObject::connect(&session, &UpdateSession::progressText,
                         [this](const ProgressMessage& message) { progress.append(message.english()); });
        QObject::connect(PeripheryManager::instance(), &PeripheryManager::handleUSBInterfaces, &session,
                         [this](QList<QSerialPortInfo> actual, QList<QSerialPortInfo> old) {
                             session.followPorts(actual, old);
                         });
    }
    QString historyText() const { return history.join(QLatin1Char('\n')); }

    FakeHost host;
    ToolSettings settings;
    UpdateSession session;
    QStringList history;
    QSignalSpy completed{&session, SIGNAL(firmwareCompleted(QString, QString))};
    QStringList progress;
};

FakeHost::ModuleSetup setupFor(const QString& port, int linkKind = Serial, unsigned char address = 1)
{
    FakeHost::ModuleSetup setup;
    setup.port = port;
    setup.linkKind = linkKind;
    setup.address = address;
    setup.moduleName = QStringLiteral("M");
    return setup;
}
}

Q_DECLARE_METATYPE(Pooled)
Q_DECLARE_METATYPE(Chosen)
Q_DECLARE_METATYPE(UpdateSteps::State)
Q_DECLARE_METATYPE(UpdateSteps::Event)

// The update session on its own: the link, the bootloader entry, the reopen by link kind and mode,
// the port following, the worker's requests and the completion, without a window.
class TestUpdateSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void stepMoves_data();
    void stepMoves();
    void stepMeanings_data();
    void stepMeanings();
    void workerRequestsReachModuleUnderUpdate();
    void closeDevice_data();
    void closeDevice();
    void reopenByLinkKindAndState_data();
    void reopenByLinkKindAndState();
    void keyAlreadyOnNewPortIsKept();
    void moduleKeyParts_data();
    void moduleKeyParts();
    void portChangesThatAreNotFollowed_data();
    void portChangesThatAreNotFollowed();
    void startWithoutLinkDoesNothing();
    void shutDownHandsBackOnce_data();
    void shutDownHandsBackOnce();
    void firstCallEntersBootloader_data();
    void firstCallEntersBootloader();
    void completionKeepsCopyInPool_data();
    void completionKeepsCopyInPool();
    void failedCompletionWithoutLink_data();
    void failedCompletionWithoutLink();
    void recallDelays_data();
    void recallDelays();
    void moduleStateAfterFailure_data();
    void moduleStateAfterFailure();

private:
    // A module of kind 1234 (or `kind`) at `port`, chosen in the session, its device set for the test firmware.
    QString addModule(SessionRig& rig, const QString& port, int linkKind, unsigned char address,
                      unsigned char bootloaderAddress = 1, const QString& kind = QStringLiteral("1234"));
    // Writes firmware with the new identifier (or `content`) and hands it to the session.
    QString chooseFirmware(SessionRig& rig, const QString& name = QStringLiteral("files/fw.hex"),
                           const QByteArray& content = FirmwareBuilder::firmwareHex(NewIdentifier));
    // Starts an update of a USB module so far that the session holds its handler and waits for the port change.
    QString startUsbUpdate(SessionRig& rig, const QString& port, unsigned char address);

    ToolHome m_home;
};

void TestUpdateSession::initTestCase()
{
    QVERIFY(m_home.setUp("0.02"));
}

void TestUpdateSession::init()
{
    m_home.reset();
}

void TestUpdateSession::cleanup()
{
    // No worker may outlive a test into the next one's registry count.
    QTRY_VERIFY_WITH_TIMEOUT(!workerRunning(), UpdateTimeoutMs);
}

QString TestUpdateSession::addModule(SessionRig& rig, const QString& port, int linkKind, unsigned char address,
                                     unsigned char bootloaderAddress, const QString& kind)
{
    FakeHost::ModuleSetup setup = setupFor(port, linkKind, address);
    setup.bootloaderAddress = bootloaderAddress;
    setup.nameInFirmware = kind;
    const QString key = rig.host.addModule(setup);
    SimulatedModule* device = rig.host.device(key);
    device->setFlashBase(FirmwareBuilder::FlashBase);
    device->setFirmwareVersion(QLatin1String(ModuleFirmware));
    device->setBootloaderVersion(QLatin1String(ModuleBootloader));
    rig.host.handler(key)->setDataRate(FirmwareRate);
    rig.session.selectModule(key);
    return key;
}

QString TestUpdateSession::chooseFirmware(SessionRig& rig, const QString& name, const QByteArray& content)
{
    const QString path = FirmwareBuilder::writeFile(m_home.filePath(name), content);
    rig.session.setChosenFile(path);
    // The form loads only HEX files; for others it hands over no program.
    const FirmwareImage image = path.endsWith(QLatin1String(".hex")) ? FirmwareImage::load(path) : FirmwareImage();
    rig.session.setImage(image.identifier().isEmpty() ? image.withoutProgram(image.problem()) : image);
    return path;
}

QString TestUpdateSession::startUsbUpdate(SessionRig& rig, const QString& port, unsigned char address)
{
    rig.host.setReenumerationDelays(-1, 0);
    const QString key = rig.host.addModule(setupFor(port, Usb, address));
    rig.session.selectModule(key);
    rig.host.reportPorts();
    chooseFirmware(rig);
    rig.session.proceed(true);
    if (rig.progress.isEmpty() || rig.progress.last() != QLatin1String("Disconnecting..."))
        return QString();
    return key;
}

void TestUpdateSession::stepMoves_data()
{
    using S = UpdateSteps::State;
    using E = UpdateSteps::Event;
    QTest::addColumn<S>("from");
    QTest::addColumn<E>("event");
    QTest::addColumn<S>("next");
    QTest::newRow("detached:worker-made") << S::Detached << E::WorkerMade << S::Idle;
    QTest::newRow("running:worker-made-again") << S::Running << E::WorkerMade << S::Running;
    QTest::newRow("idle:refused") << S::Idle << E::Refused << S::Refusing;
    QTest::newRow("idle:entry-sent") << S::Idle << E::EntrySent << S::Entered;
    QTest::newRow("detached:entry-sent") << S::Detached << E::EntrySent << S::Detached;
    QTest::newRow("idle:start-scheduled") << S::Idle << E::StartScheduled << S::Starting;
    QTest::newRow("entered:start-scheduled") << S::Entered << E::StartScheduled << S::EnteredStarting;
    // A module back in its bootloader after the run (a restart that failed) is updated again.
    QTest::newRow("reconnecting:start-scheduled") << S::Reconnecting << E::StartScheduled << S::EnteredStarting;
    QTest::newRow("starting:worker-started") << S::Starting << E::WorkerStarted << S::Running;
    QTest::newRow("entered-starting:worker-started") << S::EnteredStarting << E::WorkerStarted << S::EnteredRunning;
    QTest::newRow("idle:worker-started") << S::Idle << E::WorkerStarted << S::Idle;
    QTest::newRow("running:ran-well-away") << S::Running << E::RanWellAway << S::Reconnecting;
    QTest::newRow("entered-running:ran-well-away") << S::EnteredRunning << E::RanWellAway << S::Reconnecting;
    // A cancelled update ended before its worker did.
    QTest::newRow("idle:ran-well-away") << S::Idle << E::RanWellAway << S::Idle;
    QTest::newRow("entered-running:ended") << S::EnteredRunning << E::Ended << S::Idle;
    QTest::newRow("reconnecting:ended") << S::Reconnecting << E::Ended << S::Idle;
    QTest::newRow("detached:ended") << S::Detached << E::Ended << S::Detached;
}

// Each move of an update's steps, without a link or a window.
void TestUpdateSession::stepMoves()
{
    QFETCH(UpdateSteps::State, from);
    QFETCH(UpdateSteps::Event, event);
    QFETCH(UpdateSteps::State, next);
    QCOMPARE(UpdateSteps::next(from, event), next);
}

void TestUpdateSession::stepMeanings_data()
{
    using S = UpdateSteps::State;
    QTest::addColumn<QList<UpdateSteps::Event>>("events"); // from Detached
    QTest::addColumn<S>("state");
    QTest::addColumn<bool>("entered");
    QTest::addColumn<bool>("underWay");
    QTest::addColumn<bool>("cancelEnds");
    using E = UpdateSteps::Event;
    const E made = E::WorkerMade;
    QTest::newRow("detached") << QList<E>{} << S::Detached << false << false << false;
    QTest::newRow("idle") << QList<E>{made} << S::Idle << false << false << false;
    QTest::newRow("refusing") << QList<E>{made, E::Refused} << S::Refusing << false << true << true;
    QTest::newRow("entered") << QList<E>{made, E::EntrySent} << S::Entered << true << true << true;
    QTest::newRow("starting") << QList<E>{made, E::StartScheduled} << S::Starting << false << true << true;
    QTest::newRow("entered-starting") << QList<E>{made, E::EntrySent, E::StartScheduled} << S::EnteredStarting << true
                                      << true << true;
    // The worker reports the end of a run it was started for.
    QTest::newRow("running") << QList<E>{made, E::StartScheduled, E::WorkerStarted} << S::Running << false << true
                             << false;
    QTest::newRow("entered-running") << QList<E>{made, E::EntrySent, E::StartScheduled, E::WorkerStarted}
                                     << S::EnteredRunning << true << true << true;
    QTest::newRow("reconnecting") << QList<E>{made, E::EntrySent, E::StartScheduled, E::WorkerStarted, E::RanWellAway}
                                  << S::Reconnecting << true << false << true;
}

// What each step means to the session: a new port is the module's, the link is held, Cancel ends it.
void TestUpdateSession::stepMeanings()
{
    QFETCH(QList<UpdateSteps::Event>, events);
    QFETCH(UpdateSteps::State, state);
    QFETCH(bool, entered);
    QFETCH(bool, underWay);
    QFETCH(bool, cancelEnds);
    UpdateSteps steps;
    for (UpdateSteps::Event event : events)
        steps.move(event);
    QCOMPARE(steps.state(), state);
    QCOMPARE(steps.entered(), entered);
    QCOMPARE(steps.underWay(), underWay);
    QCOMPARE(steps.cancelEnds(), cancelEnds);
}

void TestUpdateSession::workerRequestsReachModuleUnderUpdate()
{
    SessionRig rig;
    const QString key = startUsbUpdate(rig, QStringLiteral("ttyACM0"), 1);
    QVERIFY(!key.isEmpty());
    QCOMPARE(rig.host.device(key)->mode(), SimulatedModule::Mode::Bootloader);

    // The first version query of the worker frees Cancel; only the low 8 bits of the address count.
    QSignalSpy cancelAllowed(&rig.session, SIGNAL(cancelAllowed(bool)));
    QString version;
    rig.session.workerHost()->readFirmwareVersion(&version, VersionQueryAddress);
    QCOMPARE(version, QLatin1String(ModuleBootloader));
    QCOMPARE(cancelAllowed.count(), 1);
    QCOMPARE(cancelAllowed.first().first().toBool(), true);

    // The erase alone is announced as running while it waits; each request arrives as sent.
    QStringList arrived;
    bool erasing = false;
    QObject::connect(&rig.session, &UpdateSession::eraseRunning, [&](bool running) { erasing = running; });
    SimulatedCommandHandler* handler = rig.host.handler(key);
    QObject::connect(handler, &SimulatedCommandHandler::requestArrived, [&](const Command& request) {
        arrived << QStringLiteral("%1/%2 %3").arg(request.command()).arg(request.type()).arg(erasing);
    });
    for (const int command : {EraseCommand, ParameterCommand}) {
        Command request(1, quint8(command), 0, 0, 0, false, 12);
        Command reply;
        rig.session.workerHost()->forwardRequest(&request, &reply);
        QVERIFY(reply.isValid());
        QCOMPARE(int(reply.command()), command);
        if (command == ParameterCommand)
            QCOMPARE(reply.value(), rig.host.device(key)->pageSize());
    }
    QVERIFY(!erasing);
    Command request(1, ParameterCommand, 1, 0, 0, false, 12);
    rig.session.workerHost()->forwardRequestWithoutReply(&request);
    QCOMPARE(arrived, (QStringList{"200/0 1", "206/0 0", "206/1 0"}));
}

void TestUpdateSession::moduleKeyParts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("parts"); // port, module type, address
    // The key the port following gives the module after a re-enumeration onto COM4.
    QTest::addColumn<QString>("onNewPort");

    QTest::newRow("whole-key") << "ttyUSB0/DUX1234/id3" << QStringList{"ttyUSB0", "DUX1234", "id3"} << "COM4/DUX1234/id1";
    QTest::newRow("no-address") << "COM3/M" << QStringList{"COM3", "M", ""} << "COM4/M/id1";
    QTest::newRow("port-only") << "COM3" << QStringList{"COM3", "", ""} << "COM4//id1";
    QTest::newRow("empty-port") << "/M/id2" << QStringList{"", "M", "id2"} << "COM4/M/id1";
    QTest::newRow("more-parts") << "COM3/M/id2/x" << QStringList{"COM3", "M", "id2"} << "COM4/M/id1/x";
}

void TestUpdateSession::moduleKeyParts()
{
    QFETCH(QString, key);
    QFETCH(QStringList, parts);
    const ModuleKey parsed(key);
    QCOMPARE((QStringList{parsed.port(), parsed.moduleType(), parsed.address()}), parts);
    QTEST(PortChange::rekeyed(key, QStringLiteral("COM4")), "onNewPort");
}

void TestUpdateSession::closeDevice_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<int>("closes");

    QTest::newRow("USB link is closed") << Usb << 1;
    QTest::newRow("serial link stays open") << Serial << 0;
}

void TestUpdateSession::closeDevice()
{
    QFETCH(int, linkKind);
    QFETCH(int, closes);

    SessionRig rig;
    const QString key = rig.host.addModule(setupFor(QStringLiteral("COM3"), linkKind));
    rig.session.selectModule(key);
    rig.session.workerHost()->closeDevice();

    QCOMPARE(rig.host.handler(key)->closeCount(), closes);
    QCOMPARE(rig.host.handler(key)->isDeviceOpen(), closes == 0);
}

void TestUpdateSession::reopenByLinkKindAndState_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QList<int>>("acceptedRates");
    QTest::addColumn<int>("rememberedRate");
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QString>("historyLine");
    // The remembered address is only seen in the debug line.
    QTest::addColumn<QString>("debugLine");
    QTest::addColumn<int>("opens");
    QTest::addColumn<QList<int>>("moduleStates");

    const QList<int> any;
    const QList<int> slowPort{9600, 57600, 115200};
    const QString none;
    QTest::newRow("serial 2804 to bootloader") << Serial << "2804" << any << 0 << 0 << QList<int>{111111}
                                               << "to bootloader mode" << none << 0 << QList<int>();
    QTest::newRow("serial 3907 refused") << Serial << "3907" << slowPort << 0 << 0 << QList<int>{111111}
                                         << "Could not set baudrate (111111) needed by this module. Use a serial "
                                            "port that supports this."
                                         << none << 0 << QList<int>();
    QTest::newRow("serial other kind to bootloader")
        << Serial << "1234" << QList<int>{9600} << 0 << 0 << QList<int>{115200} << "to bootloader mode" << none << 0
        << QList<int>();
    QTest::newRow("serial to firmware, nothing remembered")
        << Serial << "1234" << any << 0 << 1 << QList<int>{9600} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() lastDataRate: 9600 lastId: 1" << 0 << QList<int>();
    QTest::newRow("serial to firmware, remembered")
        << Serial << "1234" << any << 57600 << 1 << QList<int>{57600} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() lastDataRate: 57600 lastId: 4" << 0 << QList<int>();
    QTest::newRow("serial to ready") << Serial << "1234" << any << 0 << 2 << QList<int>() << "to ready mode" << none
                                     << 0 << QList<int>();
    QTest::newRow("kind 3 to bootloader, nothing remembered")
        << 3 << "1234" << any << 0 << 0 << QList<int>{1000} << "to bootloader mode"
        << "FirmwareUpdate::handleReOpenDevice() 0 lastDataRate: 1000 lastId: 1" << 0 << QList<int>();
    QTest::newRow("kind 8 to firmware, remembered")
        << 8 << "1234" << any << 250000 << 1 << QList<int>{250000} << "to firmware mode"
        << "FirmwareUpdate::handleReOpenDevice() 1 lastDataRate: 250000 lastId: 4" << 0 << QList<int>();
    QTest::newRow("USB to ready") << Usb << "1234" << any << 0 << 2 << QList<int>() << "COM3/M/id4 Waiting..." << none
                                  << 0 << QList<int>{2};
    QTest::newRow("USB to bootloader") << Usb << "1234" << any << 0 << 0 << QList<int>() << "to bootloader mode"
                                       << none << 1 << QList<int>();
    QTest::newRow("USB to other mode") << Usb << "1234" << any << 0 << 7 << QList<int>() << "to other mode 7" << none
                                       << 1 << QList<int>();
    QTest::newRow("unknown link kind") << 7 << "1234" << any << 57600 << 1 << QList<int>() << "to firmware mode"
                                       << none << 0 << QList<int>();
    // A link without command handler: the note is still written, nothing else happens.
    QTest::newRow("serial without handler") << Serial << "1234" << any << 0 << 1 << QList<int>() << "to firmware mode"
                                            << none << 0 << QList<int>();
}

void TestUpdateSession::reopenByLinkKindAndState()
{
    QFETCH(int, linkKind);
    QFETCH(QString, kind);
    QFETCH(QList<int>, acceptedRates);
    QFETCH(int, rememberedRate);
    QFETCH(int, state);
    QFETCH(QList<int>, rates);
    QFETCH(QString, historyLine);
    QFETCH(QString, debugLine);
    QFETCH(int, opens);
    QFETCH(QList<int>, moduleStates);

    SessionRig rig;
    FakeHost::ModuleSetup setup = setupFor(QStringLiteral("COM3"), linkKind, 4);
    setup.nameInFirmware = kind;
    setup.withHandler = !QByteArray(QTest::currentDataTag()).endsWith("without handler");
    const QString key = rig.host.addModule(setup);
    SimulatedCommandHandler* handler = rig.host.handler(key);
    if (rememberedRate) {
        // Choosing a module that runs its firmware remembers the rate of its link and its address.
        handler->setDataRate(rememberedRate);
    } else {
        rig.host.device(key)->setFirmwareVersion(QString());
    }
    rig.session.selectModule(key);
    if (handler)
        handler->setAcceptedDataRates(acceptedRates);
    const int ratesBefore = handler ? handler->requestedDataRates().size() : 0;
    const int opensBefore = handler ? handler->openCount() : 0;

    MessageLog log;
    rig.session.workerHost()->reopenDevice(state);

    if (handler) {
        QCOMPARE(handler->requestedDataRates().mid(ratesBefore), rates);
        QCOMPARE(handler->openCount() - opensBefore, opens);
    }
    QCOMPARE(rig.host.module(key)->moduleStates(), moduleStates);
    QVERIFY2(rig.historyText().contains(historyLine), qPrintable(rig.historyText()));
    if (!debugLine.isEmpty())
        QVERIFY2(log.messages().contains(debugLine), qPrintable(log.messages().join(QLatin1Char('\n'))));
}

void TestUpdateSession::keyAlreadyOnNewPortIsKept()
{
    SessionRig rig;
    const QString key = startUsbUpdate(rig, QStringLiteral("COM4"), 3);
    QVERIFY(!key.isEmpty());

    // The port goes and comes back under the same name; the host keeps the module.
    rig.host.removePort(QStringLiteral("COM4"));
    rig.host.reportPorts();
    rig.host.addPort(QStringLiteral("COM4"));
    rig.host.reportPorts();
    QVERIFY(!rig.historyText().contains(QStringLiteral("COM-Port has changed")));
    QTRY_VERIFY(rig.historyText().contains(QStringLiteral("Reconnected.")));
    QCOMPARE(rig.session.moduleKey(), key);
    rig.session.workerHost()->reopenDevice(2);
    QVERIFY(rig.historyText().contains(QStringLiteral("COM4/M/id3 Waiting...")));
}

void TestUpdateSession::portChangesThatAreNotFollowed_data()
{
    QTest::addColumn<bool>("updating");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("added");

    // The first call of a USB update waits for its port to change; nothing calls the update again before.
    QTest::newRow("update under way, no port change") << true << QStringList() << QStringList();
    QTest::newRow("update under way, ports only removed") << true << QStringList{"COM4", "COM5"} << QStringList();
    QTest::newRow("idle, port added") << false << QStringList() << QStringList{"COM9"};
}

void TestUpdateSession::portChangesThatAreNotFollowed()
{
    QFETCH(bool, updating);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, added);

    SessionRig rig;
    rig.host.addPort(QStringLiteral("COM5"));
    QString key;
    if (updating) {
        key = startUsbUpdate(rig, QStringLiteral("COM4"), 3);
        QVERIFY(!key.isEmpty());
        QVERIFY_IN_ORDER(rig.historyText(), (QStringList{"Enter bootloader mode...", "Disconnecting..."}));
        QVERIFY(!rig.historyText().contains(QStringLiteral("Reopen device...")));
        QCOMPARE(rig.host.device(key)->requestCount(SimulatedModule::EnterBootloaderCommand), 1);
        QVERIFY(rig.host.module(key)->moduleStates().isEmpty());
    } else {
        key = rig.host.addModule(setupFor(QStringLiteral("COM4"), Usb, 3));
        rig.session.selectModule(key);
        rig.host.reportPorts();
    }
    const QString before = rig.historyText();
    const int queries = rig.host.device(key)->versionQueryCount();

    for (const QString& port : removed)
        rig.host.removePort(port);
    for (const QString& port : added)
        rig.host.addPort(port);
    rig.host.reportPorts();
    QTest::qWait(QuietMs);

    QCOMPARE(rig.historyText(), before);
    QCOMPARE(rig.host.device(key)->versionQueryCount(), queries);
    QCOMPARE(rig.session.moduleKey(), key);
}

void TestUpdateSession::startWithoutLinkDoesNothing()
{
    SessionRig rig;
    FakeHost::ModuleSetup setup;
    setup.withConnection = false;
    const QString key = rig.host.addModule(setup);
    rig.session.selectModule(key);
    chooseFirmware(rig);
    QSignalSpy begun(&rig.session, SIGNAL(begun()));

    rig.session.proceed(true);
    QVERIFY(rig.history.isEmpty());
    QCOMPARE(begun.count(), 0);
    QVERIFY(rig.session.isIdle());
    QVERIFY(rig.host.module(key)->isPluginEnabled());
    QCOMPARE(rig.host.device(key)->versionQueryCount(), 0);
}

void TestUpdateSession::shutDownHandsBackOnce_data()
{
    QTest::addColumn<Chosen>("chosen");
    QTest::addColumn<bool>("ended"); // the update ended before the session goes
    QTest::newRow("refused") << Chosen::NotHex << false;
    QTest::newRow("entered") << Chosen::Firmware << false;
    QTest::newRow("ended") << Chosen::Firmware << true;
}

// An update under way, even one refused whose end is still to come, gives the module's link back when
// the session goes; one that ended gave it back already. The tool's widget shuts its session down, and
// the session's destructor does so again: the second finds nothing under way.
void TestUpdateSession::shutDownHandsBackOnce()
{
    QFETCH(Chosen, chosen);
    QFETCH(bool, ended);
    SessionRig rig;
    const QString key = addModule(rig, QStringLiteral("COM3"), Serial, 3);
    chooseFirmware(rig, chosen == Chosen::NotHex ? QStringLiteral("files/fw.txt") : QStringLiteral("files/fw.hex"));
    rig.session.proceed(true);
    if (ended)
        rig.session.complete(false);
    rig.session.shutDown();
    rig.session.shutDown();
    QCOMPARE(rig.host.connection(key)->activeCalls(), (QList<bool>{false, true}));
}

void TestUpdateSession::firstCallEntersBootloader_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<bool>("reopened");
    QTest::addColumn<Chosen>("chosen");
    QTest::addColumn<QString>("firmware");
    // What the history says instead of entering the bootloader; empty: it enters.
    QTest::addColumn<QString>("refusal");

    const QString v101 = QLatin1String(ModuleFirmware);
    QTest::newRow("serial") << Serial << "1234" << QList<int>{115200} << true << Chosen::Firmware << v101 << "";
    QTest::newRow("serial, module kind 2804") << Serial << "2804" << QList<int>{111111} << true << Chosen::Firmware
                                              << v101 << "";
    QTest::newRow("kind 3") << 3 << "1234" << QList<int>{1000} << false << Chosen::Firmware << v101 << "";
    QTest::newRow("unknown kind") << 7 << "1234" << QList<int>() << true << Chosen::Firmware << v101 << "";
    QTest::newRow("cut-short file") << Serial << "1234" << QList<int>() << false << Chosen::CutShort << v101
                                    << "fw.hex is cut short: reading ended at malformed line 66; it is not written.";
    QTest::newRow("no program") << Serial << "1234" << QList<int>() << false << Chosen::NotHex << v101
                                << "No firmware loaded: choose a HEX file first.";
    // Markup from a module stays text; control characters are dropped.
    QTest::newRow("another type, version with markup")
        << Serial << "1234" << QList<int>() << false << Chosen::OtherType << "1234V101<i>x</i><!--\x1b[2J"
        << "Module (1234V101<i>x</i><!--[2J) and Firmware (4321V102) do not match!";
    // The host's guards: a module whose firmware is not older, a file that is not the one expected.
    QTest::newRow("only if newer, module older") << Serial << "1234" << QList<int>{115200} << true << Chosen::IfNewer
                                                 << v101 << "";
    QTest::newRow("only if newer, module on the file's firmware")
        << Serial << "1234" << QList<int>() << false << Chosen::IfNewer << QString(QLatin1String(NewIdentifier))
        << QStringLiteral("The module's firmware %1 is not older than the file's %1: not written (only if newer).")
               .arg(QLatin1String(NewIdentifier));
    QTest::newRow("expected hash") << Serial << "1234" << QList<int>{115200} << true << Chosen::RightHash << v101 << "";
    QTest::newRow("another hash expected") << Serial << "1234" << QList<int>() << false << Chosen::WrongHash << v101
                                           << "is not the one expected, " + QString(64, QLatin1Char('0')) + ": not written.";
}

void TestUpdateSession::firstCallEntersBootloader()
{
    QFETCH(int, linkKind);
    QFETCH(QString, kind);
    QFETCH(QList<int>, rates);
    QFETCH(bool, reopened);
    QFETCH(Chosen, chosen);
    QFETCH(QString, firmware);
    QFETCH(QString, refusal);

    // The tool's widget, where the host sets its guards; made first, so that it outlives the session.
    QObject tool;
    SessionRig rig;
    rig.session.setParent(&tool);
    RunOptions options;
    options.ifNewer = chosen == Chosen::IfNewer;
    const QString key = addModule(rig, QStringLiteral("COM3"), linkKind, 3, 1, kind);
    rig.host.device(key)->setFirmwareVersion(firmware);
    // After the first call's version query the module falls silent: the update then waits, and only
    // the first call is looked at.
    rig.host.device(key)->setFailure(SimulatedModule::FailureMode::NoReply, SimulatedModule::VersionQuery, 2);
    QByteArray content = FirmwareBuilder::firmwareHex(chosen == Chosen::OtherType ? "4321V102" : NewIdentifier);
    if (chosen == Chosen::CutShort)
        content.insert(content.indexOf(":00000001FF"), '\n');
    chooseFirmware(rig, chosen == Chosen::NotHex ? QStringLiteral("files/fw.txt") : QStringLiteral("files/fw.hex"),
                   content);
    if (chosen == Chosen::RightHash || chosen == Chosen::WrongHash) {
        const QByteArray hash = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toUpper();
        options.expectedSha256 = chosen == Chosen::RightHash ? QString::fromLatin1(hash) : QString(64, QLatin1Char('0'));
    }
    RunOptions::handTo(&tool, options);
    SimulatedCommandHandler* handler = rig.host.handler(key);
    const int ratesBefore = handler->requestedDataRates().size();
    QSignalSpy begun(&rig.session, SIGNAL(begun()));
    QSignalSpy released(&rig.session, SIGNAL(released(bool)));
    QSignalSpy outcomes(rig.session.findChild<UpdateOutcome*>(QStringLiteral("updateOutcome")),
                        SIGNAL(finished(UpdateOutcome::Report)));

    rig.session.proceed(true);
    QCOMPARE(begun.count(), 1);
    if (!refusal.isEmpty()) {
        QVERIFY2(rig.historyText().contains(refusal), qPrintable(rig.historyText()));
        QTRY_COMPARE(released.count(), 1);
        QCOMPARE(released.first().first().toBool(), chosen != Chosen::NotHex);
        QCOMPARE(outcomes.count(), 1);
        QVERIFY(outcomes.first().first().value<UpdateOutcome::Report>().failureText.endsWith(refusal));
        QVERIFY(rig.host.device(key)->requests().isEmpty());
        QCOMPARE(rig.host.device(key)->mode(), SimulatedModule::Mode::Firmware);
        QVERIFY(rig.session.isIdle());
        return;
    }

    const QVector<Command> requests = rig.host.device(key)->requests();
    QCOMPARE(requests.size(), 1);
    const Command& entry = requests.first();
    QCOMPARE(int(entry.moduleAddress()), 3);
    QCOMPARE(int(entry.command()), 242);
    QCOMPARE(int(entry.type()), 0x47);
    QCOMPARE(int(entry.motorBank()), 0x6E);
    QCOMPARE(entry.value(), 0x5D2C8B19);
    QVERIFY(!entry.isBroadcast());
    QCOMPARE(int(entry.replyAddress()), 12);
    QCOMPARE(rig.host.device(key)->mode(), SimulatedModule::Mode::Bootloader);

    QCOMPARE(handler->requestedDataRates().mid(ratesBefore), rates);
    QCOMPARE(rig.host.module(key)->moduleStates(), QList<int>{4});
    QCOMPARE(completions(rig.completed), (QList<Completion>{{key, QStringLiteral("Start fw update")}}));
    QCOMPARE(rig.progress.last(), QStringLiteral("Enter bootloader mode..."));
    QVERIFY(rig.historyText().startsWith(QStringLiteral("Firmwareupdate started @COM3/M/id3")));
    QVERIFY_IN_ORDER(rig.historyText(), (QStringList{"Firmwareupdate started @COM3/M/id3",
                                                     "Active firmware: (1234V101)", "Enter bootloader mode...",
                                                     "Reopen device..."}));
    QCOMPARE(rig.historyText().contains(QStringLiteral("to bootloader mode")), reopened);
    QVERIFY(!rig.session.isIdle());
    QCOMPARE(released.count(), 0);

    // The module and its link belong to the update now.
    QVERIFY(!rig.host.connection(key)->isActive());
    QVERIFY(!rig.host.connection(key)->isPluginEnabled());
    QVERIFY(!rig.host.module(key)->isPluginEnabled());
}

void TestUpdateSession::completionKeepsCopyInPool_data()
{
    QTest::addColumn<bool>("successful");
    QTest::addColumn<Pooled>("before");
    QTest::addColumn<Pooled>("after");
    QTest::addColumn<QString>("note");

    QTest::newRow("copied") << true << Pooled::Nothing << Pooled::ChosenFile << "";
    QTest::newRow("not after failure") << false << Pooled::Nothing << Pooled::Nothing << "";
    QTest::newRow("name taken in pool") << true << Pooled::OtherFile << Pooled::OtherFile
                                        << "which differs from " + m_home.filePath("files/fw.hex")
                                               + "; it was not replaced.";
    // The file is chosen from the pool itself.
    QTest::newRow("file already in pool") << true << Pooled::ChosenFile << Pooled::ChosenFile << "";
    QTest::newRow("pool folder is a file") << true << Pooled::FolderIsFile << Pooled::Nothing
                                           << "No copy of fw.hex was kept in the firmware pool: " + m_home.poolPath()
                                                  + " is a file, not a folder.";
    QTest::newRow("no file name after a cancel") << true << Pooled::NoName << Pooled::Nothing << "";
}

void TestUpdateSession::completionKeepsCopyInPool()
{
    QFETCH(bool, successful);
    QFETCH(Pooled, before);
    QFETCH(Pooled, after);
    QFETCH(QString, note);

    SessionRig rig;
    addModule(rig, QStringLiteral("COM3"), Serial, 3);
    if (before == Pooled::NoName) {
        // Nothing to keep: not even the pool folder is made again.
        QDir(m_home.poolPath()).removeRecursively();
        rig.session.setChosenFile(QString());
        rig.session.complete(successful);
        QVERIFY(!QFileInfo::exists(m_home.poolPath()));
        return;
    }
    const QString pooled = QDir(m_home.poolPath()).filePath(QStringLiteral("fw.hex"));
    const QByteArray chosen = FirmwareBuilder::firmwareHex(NewIdentifier);
    const QByteArray other = FirmwareBuilder::firmwareHex("1234V099");
    if (before == Pooled::OtherFile)
        FirmwareBuilder::writeFile(pooled, other);
    if (before == Pooled::FolderIsFile)
        QVERIFY(QDir(m_home.poolPath()).removeRecursively() && FirmwareBuilder::writeFile(m_home.poolPath(), other) == m_home.poolPath());
    const QString path = before == Pooled::ChosenFile ? pooled : m_home.filePath(QStringLiteral("files/fw.hex"));
    FirmwareBuilder::writeFile(path, chosen);
    rig.session.setChosenFile(path);

    rig.session.complete(successful);
    if (note.isEmpty())
        QVERIFY(!rig.historyText().contains(QStringLiteral("pool")));
    else
        QVERIFY2(rig.historyText().contains(note), qPrintable(rig.historyText()));

    QFile copy(pooled);
    if (after == Pooled::Nothing) {
        QVERIFY(!copy.exists());
        return;
    }
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), after == Pooled::ChosenFile ? chosen : other);
    QCOMPARE(QDir(m_home.poolPath()).entryList(QDir::Files), QStringList{QStringLiteral("fw.hex")});
}

void TestUpdateSession::failedCompletionWithoutLink_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<bool>("withConnection");
    QTest::addColumn<bool>("linkHandedBack");
    QTest::addColumn<bool>("critical");

    QTest::newRow("serial link without handler") << Serial << true << true << false;
    QTest::newRow("USB link without handler") << Usb << true << false << false;
    QTest::newRow("no connection") << Serial << false << false << true;
}

void TestUpdateSession::failedCompletionWithoutLink()
{
    QFETCH(int, linkKind);
    QFETCH(bool, withConnection);
    QFETCH(bool, linkHandedBack);
    QFETCH(bool, critical);

    SessionRig rig;
    FakeHost::ModuleSetup setup = setupFor(QStringLiteral("COM3"), linkKind);
    setup.withHandler = false;
    setup.withConnection = withConnection;
    const QString key = rig.host.addModule(setup);
    rig.session.selectModule(key);
    FakeConnectionPlugin* connection = withConnection ? rig.host.connection(key) : nullptr;
    if (connection)
        connection->setEnabled(false);
    QSignalSpy rebuilds(&rig.session, SIGNAL(listRebuildWanted()));

    Global::instance(false)->setInternal(true);
    MessageLog log;
    rig.session.complete(false);
    Global::instance(false)->setInternal(false);

    if (connection) {
        QCOMPARE(connection->isPluginEnabled(), linkHandedBack);
        QCOMPARE(connection->activeCalls(), linkHandedBack ? QList<bool>{true} : QList<bool>());
    }
    QCOMPARE(log.messages(QtCriticalMsg).contains(QStringLiteral("no Connection Plugin")), critical);
    QVERIFY(rig.completed.isEmpty());
    QCOMPARE(rebuilds.count(), 1);
}

void TestUpdateSession::recallDelays_data()
{
    // The module needs this long (unscaled) before the update looks at it again.
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<int>("delayMs");
    QTest::newRow("after the bootloader-entry command") << Serial << 5000;
    QTest::newRow("after the module's port changed") << Usb << 750;
}

void TestUpdateSession::recallDelays()
{
    QFETCH(int, linkKind);
    QFETCH(int, delayMs);

    SessionRig rig;
    QElapsedTimer clock;
    qint64 recalledAfterMs = -1;
    QObject::connect(&rig.session, &UpdateSession::historyLine, [&](const QString& line) {
        if (clock.isValid() && recalledAfterMs < 0 && line.startsWith(QLatin1String("Active firmware")))
            recalledAfterMs = clock.elapsed();
    });
    if (linkKind == Usb) {
        const QString key = startUsbUpdate(rig, QStringLiteral("ttyACM0"), 1);
        clock.start();
        rig.host.reenumerate(key, QStringLiteral("ttyACM1"));
    } else {
        addModule(rig, QStringLiteral("COM3"), Serial, 3);
        chooseFirmware(rig);
        rig.session.proceed(true);
        clock.start();
    }
    QTRY_VERIFY_WITH_TIMEOUT(recalledAfterMs >= 0, UpdateTimeoutMs);
    // Timers may fire a little early; a tenth of the delay is left for that.
    const int scaledMs = TimeScale::scaledMs(delayMs);
    QVERIFY2(recalledAfterMs >= scaledMs - scaledMs / 10, qPrintable(QString::number(recalledAfterMs)));
}

void TestUpdateSession::moduleStateAfterFailure_data()
{
    // Where the update left the module (LeftStates::after, which tst_hostapp's closingState tells
    // apart): the start of the line that says it, and whether the module waits in its bootloader
    // (whose version the host's list then shows).
    QTest::addColumn<int>("left");
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("inBootloader");

    QTest::newRow("untouched") << int(LeftState::Untouched) << "" << false;
    QTest::newRow("unknown") << int(LeftState::Unknown) << "Module state: unknown." << false;
    QTest::newRow("firmware") << int(LeftState::Firmware) << "Module state: runs its firmware 1234V101." << false;
    QTest::newRow("not erased") << int(LeftState::NotErased) << "Module state: in its bootloader, its firmware not erased yet." << true;
    QTest::newRow("no firmware") << int(LeftState::NoFirmware) << "Module state: in its bootloader with no firmware." << true;
    QTest::newRow("new firmware") << int(LeftState::NewFirmware) << "Module state: in its bootloader, the new firmware stored." << true;
}

void TestUpdateSession::moduleStateAfterFailure()
{
    QFETCH(int, left);
    QFETCH(QString, state);
    QFETCH(bool, inBootloader);

    const ModuleStateNote note = ModuleStateNote::of(LeftState(left), QStringLiteral("1234V101"));
    QVERIFY2(state.isEmpty() ? note.text.isEmpty() : note.text.startsWith(state), qPrintable(note.text));
    QCOMPARE(note.inBootloader, inBootloader);
}

QTEST_MAIN(TestUpdateSession)
#include "tst_updatesession.moc"
