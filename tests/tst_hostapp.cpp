#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPluginLoader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int HostTimeoutMs = 120000;
constexpr int UpdateTimeoutSeconds = 90;
// The dialogue's delays (5 s before the second update call, the worker's sleeps) run twenty times faster.
constexpr const char* TimeScale = "0.05";
constexpr const char* NewFirmware = "1234V201";
const QRegularExpression HistoryLine(QStringLiteral("^\\[\\d+:\\d\\d\\.\\d{3}\\] \\S"));

QString binary(const char* name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(name));
}

struct Run
{
    int exitCode = -1;
    QStringList out;
    QString err;
};

}

class TestHostApp : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void headlessUpdate_data();
    void headlessUpdate();
    void headlessFailureEndsWithItsMessage_data();
    void headlessFailureEndsWithItsMessage();
    void setupErrors_data();
    void setupErrors();
    void brokenPluginIsReportedAndTheHostGoesOn();
    void withoutTheUpdatePluginNothingIsUpdated();

private:
    bool startSimulator(const QStringList& arguments);
    QString makeFirmware(const QString& version);
    Run runHost(const QStringList& arguments);
    QString pluginFolderWithBrokenPlugin(bool withUpdatePlugin);

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QProcess> m_simulator;
};

void TestHostApp::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestHostApp::cleanup()
{
    if (m_simulator) {
        m_simulator->terminate();
        if (!m_simulator->waitForFinished(StartTimeoutMs))
            m_simulator->kill();
        m_simulator->waitForFinished(StartTimeoutMs);
        m_simulator.reset();
    }
    m_folder.reset();
}

bool TestHostApp::startSimulator(const QStringList& arguments)
{
    const QString portList = m_folder->filePath(QStringLiteral("ports"));
    m_simulator = std::make_unique<QProcess>();
    m_simulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_simulator->start(binary("dux-sim"),
                       QStringList{QStringLiteral("--port-file"), portList, QStringLiteral("--exit-with-parent")} + arguments);
    if (!m_simulator->waitForStarted(StartTimeoutMs))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < StartTimeoutMs) {
        QFile file(portList);
        if (file.open(QIODevice::ReadOnly) && !file.readAll().trimmed().isEmpty())
            return true;
        if (m_simulator->waitForFinished(20))
            return false;
    }
    return false;
}

QString TestHostApp::makeFirmware(const QString& version)
{
    const QString file = m_folder->filePath(QStringLiteral("firmware-%1.hex").arg(version));
    const int result = QProcess::execute(binary("dux-mkfirmware"), {QStringLiteral("--version"), version,
                                                                     QStringLiteral("--size"), QStringLiteral("6000"),
                                                                     QStringLiteral("--output"), file});
    return result == 0 ? file : QString();
}

Run TestHostApp::runHost(const QStringList& arguments)
{
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DUX_HOME"), m_folder->filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("DUX_TIME_SCALE"), QLatin1String(TimeScale));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    host.setProcessEnvironment(environment);
    host.start(binary("dux-host"), arguments);
    Run run;
    if (!host.waitForStarted(StartTimeoutMs) || !host.waitForFinished(HostTimeoutMs)) {
        host.kill();
        host.waitForFinished(StartTimeoutMs);
        return run;
    }
    run.exitCode = host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    run.out = QString::fromLocal8Bit(host.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromLocal8Bit(host.readAllStandardError());
    return run;
}

QString TestHostApp::pluginFolderWithBrokenPlugin(bool withUpdatePlugin)
{
    const QString folder = m_folder->filePath(QStringLiteral("plugins"));
    QDir().mkpath(folder);
    QFile broken(QDir(folder).filePath(QStringLiteral("libbroken.so")));
    if (!broken.open(QIODevice::WriteOnly) || broken.write(QByteArray(4096, 'x')) != 4096)
        return QString();
    broken.close();
    if (withUpdatePlugin) {
        const QString plugin = QDir(QLatin1String(DUX_PLUGIN_DIR)).filePath(QStringLiteral("libfirmwareupdate.so"));
        if (!QFile::link(plugin, QDir(folder).filePath(QStringLiteral("libfirmwareupdate.so"))))
            return QString();
    }
    return folder;
}

void TestHostApp::headlessUpdate_data()
{
    QTest::addColumn<QStringList>("simulatorArguments");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("finalPort");
    QTest::addColumn<QString>("portChange");

    QTest::newRow("serial link") << QStringList() << "1234" << "ttySIM0" << "";
    // Bootloaders of type 7342 take the page-number scheme.
    QTest::newRow("serial link, page-number scheme, paced")
        << QStringList{QStringLiteral("--type"), QStringLiteral("7342"), QStringLiteral("--baud"), QStringLiteral("460800")}
        << "7342" << "ttySIM0" << "";
    // Into the bootloader and back out: the module comes back under two new port names.
    QTest::newRow("USB-like link")
        << QStringList{QStringLiteral("--link"), QStringLiteral("usb"), QStringLiteral("--reconnect-ms"),
                       QStringLiteral("150")}
        << "1234" << "ttySIM2" << "COM-Port has changed from ttySIM1 to ttySIM2";
}

void TestHostApp::headlessUpdate()
{
    QFETCH(QStringList, simulatorArguments);
    QFETCH(QString, type);
    QFETCH(QString, finalPort);
    QFETCH(QString, portChange);

    const QString newFirmware = type + QStringLiteral("V201");
    const QString firmware = makeFirmware(newFirmware);
    QVERIFY(!firmware.isEmpty());
    QVERIFY(startSimulator(simulatorArguments));
    const Run run = runHost({QStringLiteral("--headless"), QStringLiteral("--port-file"),
                             m_folder->filePath(QStringLiteral("ports")), QStringLiteral("--file"), firmware,
                             QStringLiteral("--plugins"), QLatin1String(DUX_PLUGIN_DIR), QStringLiteral("--timeout"),
                             QString::number(UpdateTimeoutSeconds)});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out.mid(qMax(0, run.out.size() - 5)).join(QLatin1Char('\n'))));
    QVERIFY(run.out.size() > 4);
    const QString moduleKey = QStringLiteral("ttySIM0/DUX%1/id1").arg(type);
    QCOMPARE(run.out.first(), QStringLiteral("Updating %1 (firmware %2V101) with firmware-%3.hex (firmware %3)")
                                  .arg(moduleKey, type, newFirmware));
    QCOMPARE(run.out.last(),
             QStringLiteral("%1/DUX%2/id1 now runs firmware %3").arg(finalPort, type, newFirmware));
    QVERIFY(run.out.at(run.out.size() - 2).startsWith(QLatin1String("Update succeeded after ")));

    const QStringList history = run.out.mid(1, run.out.size() - 3);
    for (const QString& line : history)
        QVERIFY2(HistoryLine.match(line).hasMatch(), qPrintable(line));
    const QString text = history.join(QLatin1Char('\n'));
    QVERIFY(text.contains(QStringLiteral("] Firmwareupdate started @") + moduleKey));
    QVERIFY(text.contains(QLatin1String("] Module-CheckSum: ")));
    QVERIFY(text.contains(QLatin1String("] Update completed.")));
    // Each scheme announces its pages in its own words.
    QVERIFY(text.contains(type == QLatin1String("7342") ? QLatin1String("] Written page at address: 0x")
                                                        : QLatin1String("] Writing page at address: 0x")));
    if (!portChange.isEmpty())
        QVERIFY2(text.contains(portChange), qPrintable(text));

    // The completion keeps a copy of the file in the local pool.
    QVERIFY(QFile::exists(m_folder->filePath(QStringLiteral("Firmware/firmware-%1.hex").arg(newFirmware))));
}

void TestHostApp::headlessFailureEndsWithItsMessage_data()
{
    QTest::addColumn<QStringList>("simulatorArguments");
    QTest::addColumn<int>("timeoutSeconds");
    QTest::addColumn<QString>("message");
    // The dialogue asks for the page size until it is cancelled: the host's time-out ends it.
    QTest::newRow("page size never read") << QStringList{QStringLiteral("--fail"), QStringLiteral("invalid-reply:206")}
                                          << 3 << "no result after 3 s";
}

void TestHostApp::headlessFailureEndsWithItsMessage()
{
    QFETCH(QStringList, simulatorArguments);
    QFETCH(int, timeoutSeconds);
    QFETCH(QString, message);

    const QString firmware = makeFirmware(QLatin1String(NewFirmware));
    QVERIFY(startSimulator(simulatorArguments));
    const Run run = runHost({QStringLiteral("--headless"), QStringLiteral("--port-file"),
                             m_folder->filePath(QStringLiteral("ports")), QStringLiteral("--file"), firmware,
                             QStringLiteral("--plugins"), QLatin1String(DUX_PLUGIN_DIR), QStringLiteral("--timeout"),
                             QString::number(timeoutSeconds)});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.out.isEmpty());
    QVERIFY2(run.out.last().startsWith(QLatin1String("Update failed after ")), qPrintable(run.out.last()));
    QVERIFY2(run.out.last().contains(message), qPrintable(run.out.last()));
}

void TestHostApp::setupErrors_data()
{
    QTest::addColumn<bool>("withSimulator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no module") << false << QStringList{QStringLiteral("--file"), QStringLiteral("@firmware")}
                               << "dux-host: no module found";
    QTest::newRow("no such file") << true << QStringList{QStringLiteral("--file"), QStringLiteral("/nonexistent.hex")}
                                  << "dux-host: cannot read the firmware file /nonexistent.hex";
    QTest::newRow("unknown module") << true
                                    << QStringList{QStringLiteral("--file"), QStringLiteral("@firmware"),
                                                   QStringLiteral("--module"), QStringLiteral("ttyXY/DUX1/id1")}
                                    << "dux-host: module ttyXY/DUX1/id1 is not listed (found: ttySIM0/DUX1234/id1)";
    QTest::newRow("headless without file") << true << QStringList() << "dux-host: --headless needs --file";
}

void TestHostApp::setupErrors()
{
    QFETCH(bool, withSimulator);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const QString firmware = makeFirmware(QLatin1String(NewFirmware));
    arguments.replaceInStrings(QStringLiteral("@firmware"), firmware);
    if (withSimulator)
        QVERIFY(startSimulator({}));
    const Run run = runHost(QStringList{QStringLiteral("--headless"), QStringLiteral("--port-file"),
                                        m_folder->filePath(QStringLiteral("ports")), QStringLiteral("--plugins"),
                                        QLatin1String(DUX_PLUGIN_DIR)}
                            + arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
}

void TestHostApp::brokenPluginIsReportedAndTheHostGoesOn()
{
    const QString folder = pluginFolderWithBrokenPlugin(true);
    QVERIFY(!folder.isEmpty());
    QPluginLoader expected(QDir(folder).filePath(QStringLiteral("libbroken.so")));
    QVERIFY(!expected.load());
    QVERIFY(startSimulator({}));

    const Run run = runHost({QStringLiteral("--list"), QStringLiteral("--plugins"), folder, QStringLiteral("--port-file"),
                             m_folder->filePath(QStringLiteral("ports"))});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.contains(QStringLiteral("dux-host: plug-in libbroken.so not loaded: ") + expected.errorString()),
             qPrintable(run.err));
    QCOMPARE(run.out, QStringList({QStringLiteral("1 module"), QStringLiteral("  ttySIM0/DUX1234/id1  type 1234, address 1"),
                                   QStringLiteral("1 plug-in"), QStringLiteral("  Firmware Update")}));
}

void TestHostApp::withoutTheUpdatePluginNothingIsUpdated()
{
    const QString folder = pluginFolderWithBrokenPlugin(false);
    QVERIFY(!folder.isEmpty());
    const QString firmware = makeFirmware(QLatin1String(NewFirmware));
    QVERIFY(startSimulator({}));
    const Run run = runHost({QStringLiteral("--headless"), QStringLiteral("--plugins"), folder, QStringLiteral("--port-file"),
                             m_folder->filePath(QStringLiteral("ports")), QStringLiteral("--file"), firmware});
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains(QLatin1String("plug-in libbroken.so not loaded: ")));
    QVERIFY2(run.err.contains(QStringLiteral("no \"Firmware update\" plug-in in ") + folder), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestHostApp)
#include "tst_hostapp.moc"
