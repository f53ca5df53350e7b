#include "duxlconnectioninterface.h"
#include "history.h"
#include "hostoptions.h"
#include "modulekey.h"
#include "recordkeeper.h"
#include "recordrig.h"
#include "recordstore.h"
#include "recordsummary.h"
#include "recordsview.h"
#include "recordwriter.h"
#include "resumehint.h"
#include "stationrecorder.h"
#include "updateoutcome.h"
#include "updatephase.h"
#include "updaterecorder.h"

#include <QApplication>
#include <QComboBox>
#include <QGraphicsTextItem>
#include <QVBoxLayout>
#include <QtCharts>
#include <QLineEdit>
#include <QDir>
#include <QLibrary>
#include <QProcess>
#include <QTreeWidget>
#include <QSignalSpy>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace QtCharts;

namespace {

constexpr const char* WriteMode = "--write";
constexpr const char* ServeMode = "--serve";
constexpr const char* UpdateAndExitMode = "--update-and-exit";
constexpr const char* LockMode = "--lock";
constexpr const char* LockedLine = "locked";
// A server's postmaster and backends end within this once their test is gone.
constexpr int ServerEndWaitMs = 20000;
constexpr int Writers = 4;
constexpr int RecordsPerWriter = 50;
constexpr int WriterTimeoutMs = 120000;
// A writer's records of one update are kept well within this.
constexpr int FlushWaitMs = 10000;
constexpr int OutageRound = 10;
// Far longer than the writer's thread needs for a second record.
constexpr int SaidAgainWaitMs = 200;

UpdateRecord recordOf(const QString& id, const QString& module, const QString& firmware, UpdateRecord::Result result,
                      const QString& station, const QString& started)
{
    UpdateRecord record;
    record.id = id;
    record.moduleKey = module;
    record.fileIdentifier = firmware;
    record.result = result;
    record.station = station;
    record.startedUtc = QDateTime::fromString(started, Qt::ISODate);
    record.startedUtc.setTimeSpec(Qt::UTC);
    record.durationMs = 1000;
    return record;
}

// This process's threads of that name (a QThread's object name names its thread).
int threadsNamed(const QString& name)
{
    int count = 0;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && QString::fromLocal8Bit(comm.readAll()).trimmed() == name)
            ++count;
    }
    return count;
}

QStringList idsOf(const QVector<UpdateRecord>& records)
{
    QStringList ids;
    for (const UpdateRecord& record : records)
        ids.append(record.id);
    return ids;
}

}

// The records: the store's schema, filters and spool, the keeper's choice between server and spool, and
// several processes writing at once, against real SQLite files and a real PostgreSQL server.
class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdict_data();
    void verdict();
    void resumeHint_data();
    void resumeHint();
    void recorder_data();
    void recorder();
    void writerSharedWithThePlugin();
    void summary_data();
    void summary();
    void filters_data();
    void filters();
    void migration_data();
    void migration();
    void lineStop();
    void recordsView_data();
    void recordsView();
    void badLocations_data();
    void badLocations();
    void concurrentWriters_data();
    void concurrentWriters();
    void outage();
    void serverDiesWithTest();
    void history_data();
    void history();
    void recordedAtExit_data();
    void recordedAtExit();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void clearServer();

    QTemporaryDir m_dir;
    PgServer m_server;
    QMap<QString, UpdateRecord> m_written;
};

void TestRecords::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("DUX_HOME", path(QStringLiteral("home")).toLocal8Bit());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    RecordStore store(path(QStringLiteral("filters.sqlite")));
    for (const UpdateRecord& record :
         {recordOf("r1", "A", "F1", UpdateRecord::Result::Updated, "s1", "2026-01-01T10:00:00"),
          recordOf("r2", "B", "F1", UpdateRecord::Result::Failed, "s2", "2026-01-02T10:00:00"),
          recordOf("r3", "A", "F2", UpdateRecord::Result::Failed, "s1", "2026-01-03T12:00:00"),
          recordOf("r4", "A", "F2", UpdateRecord::Result::NotStarted, "s2", "2026-01-04T10:00:00")}) {
        UpdateRecord unit = record;
        // Units of a station: r1 and r3 the same unit, r2 another; r4 made outside a station.
        if (unit.id != QLatin1String("r4")) {
            unit.serialNumber = unit.id == QLatin1String("r2") ? QStringLiteral("SN-2") : QStringLiteral("SN-1");
            unit.fixture = unit.id == QLatin1String("r1") ? QStringLiteral("1") : QStringLiteral("2");
            unit.operatorName = unit.id == QLatin1String("r3") ? QStringLiteral("ben") : QStringLiteral("anna");
        }
        QVERIFY2(store.insert(unit), qPrintable(store.errorString()));
        m_written.insert(unit.id, unit);
    }
}

void TestRecords::clearServer()
{
    RecordStore store(m_server.location());
    QVERIFY2(store.open(), qPrintable(store.errorString()));
    QVERIFY(QSqlQuery(store.database()).exec(QStringLiteral("DELETE FROM update_records")));
}

void TestRecords::verdict_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("interrupted");
    QTest::addColumn<bool>("resumed");
    QTest::addColumn<QString>("phase");
    // What the run was: an update, or one that found the file held already, a verify, a read-back.
    QTest::addColumn<QString>("run");
    QTest::addColumn<QString>("result");
    QTest::newRow("updated") << true << false << false << "reconnect" << "update" << "updated";
    QTest::newRow("resumed") << true << false << true << "reconnect" << "update" << "resumed";
    QTest::newRow("failed") << false << false << false << "write" << "update" << "failed";
    QTest::newRow("failed after a resume") << false << false << true << "write" << "update" << "failed";
    QTest::newRow("cancelled") << false << true << false << "erase" << "update" << "interrupted";
    QTest::newRow("refused") << false << false << false << "" << "update" << "not started";
    QTest::newRow("cancelled before the module") << false << true << false << "" << "update" << "not started";
    QTest::newRow("skipped") << true << false << false << "restart" << "skip" << "skipped";
    QTest::newRow("verified") << true << false << false << "reconnect" << "verify" << "verified";
    QTest::newRow("differs") << true << false << false << "reconnect" << "verify differs" << "differs";
    QTest::newRow("verify failed") << false << false << false << "verify" << "verify differs" << "failed";
    QTest::newRow("read back") << true << false << false << "reconnect" << "read back" << "read back";
}

void TestRecords::verdict()
{
    QFETCH(bool, success);
    QFETCH(bool, interrupted);
    QFETCH(bool, resumed);
    QFETCH(QString, phase);
    QFETCH(QString, run);
    UpdateOutcome::Report report;
    report.success = success;
    report.interrupted = interrupted;
    report.resumed = resumed;
    report.phase = phase;
    report.skipped = run == QLatin1String("skip");
    report.subject.verifyOnly = run.startsWith(QLatin1String("verify"));
    report.subject.readBack = run == QLatin1String("read back");
    if (run.endsWith(QLatin1String("differs")))
        report.differingPages = {0x3000};
    QTEST(EndedUpdate::resultName(report.verdict()), "result");
}

void TestRecords::resumeHint_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("phase");
    QTest::addColumn<QString>("recordedSha256");
    QTest::addColumn<QString>("fileSha256");
    QTest::addColumn<bool>("suggests");
    const QString sha = QStringLiteral("5a").repeated(32);
    const QString other = QStringLiteral("a5").repeated(32);
    QTest::newRow("interrupted in the write") << "interrupted" << "write" << sha << sha << true;
    QTest::newRow("failed in the reconnection") << "failed" << "reconnect" << sha << sha << true;
    // Cut short in the erase, the flash may hold anything.
    QTest::newRow("interrupted in the erase") << "interrupted" << "erase" << sha << sha << false;
    QTest::newRow("another file") << "interrupted" << "write" << other << sha << false;
    QTest::newRow("file not read, none recorded") << "failed" << "write" << "" << "" << false;
    QTest::newRow("updated") << "updated" << "reconnect" << sha << sha << false;
    QTest::newRow("resumed") << "resumed" << "reconnect" << sha << sha << false;
    QTest::newRow("not started") << "not started" << "" << sha << sha << false;
}

void TestRecords::resumeHint()
{
    QFETCH(QString, result);
    QFETCH(QString, phase);
    QFETCH(QString, recordedSha256);
    QFETCH(QString, fileSha256);
    UpdateRecord last;
    QVERIFY(UpdateRecord::resultFromName(result, &last.result));
    last.phase = phase;
    last.fileSha256 = recordedSha256;
    QTEST(ResumeHint::suggests(last, fileSha256), "suggests");
}

void TestRecords::recorder_data()
{
    QTest::addColumn<bool>("corrupt");
    // Why a host cancels the update (empty: it does not), and whether it counts as an interruption.
    QTest::addColumn<QString>("cancelReason");
    QTest::addColumn<bool>("interrupted");
    // How the update ends: "updated", "cancelled" (by the plug-in's Cancel), or "" (the process ends first).
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("failure");
    // A station's unit (empty: none told), which the record carries with the fixture, station and operator.
    QTest::addColumn<QString>("serial");
    // Plug-in instances recording such an update at once.
    QTest::addColumn<int>("instances");
    QTest::newRow("kept") << false << "" << false << "updated" << "updated" << "" << "" << 1;
    QTest::newRow("a station's unit") << false << "" << false << "updated" << "updated" << "" << "SN-7" << 1;
    QTest::newRow("not kept: said once") << true << "" << false << "updated" << "updated" << "" << "" << 1;
    // The host's cancel writes the final record at once, and the update's end writes it again.
    QTest::newRow("not kept, cancelled by the host: said once") << true << "timed out after 3 s" << false << "cancelled"
                                                                << "failed" << "" << "" << 1;
    // The writer they share says each record's loss to its own recorder only.
    QTest::newRow("not kept, two instances: each says its own") << true << "" << false << "updated" << "updated" << ""
                                                                << "" << 2;
    QTest::newRow("cancelled by the user") << false << "" << false << "cancelled" << "interrupted"
                                           << "Firmware update canceled." << "" << 1;
    QTest::newRow("host's time-out: failed, its reason") << false << "timed out after 3 s" << false << "cancelled"
                                                         << "failed" << "timed out after 3 s" << "" << 1;
    QTest::newRow("host interrupted: its reason") << false << "interrupted" << true << "cancelled" << "interrupted"
                                                  << "interrupted" << "" << 1;
    QTest::newRow("host gives up, the update never ends") << false << "timed out after 3 s" << false << ""
                                                          << "failed" << "timed out after 3 s" << "" << 1;
    QTest::newRow("host's reason, the update succeeds all the same") << false << "interrupted" << true << "updated"
                                                                     << "updated" << "" << "" << 1;
    // The process ends with nothing told: the record is not finished, not failed at its last step.
    QTest::newRow("the process ends first") << false << "" << false << "" << "interrupted" << "not finished" << "" << 1;
    // Sixteen modules at once: one writer's thread, every record kept.
    QTest::newRow("sixteen instances share one writer") << false << "" << false << "updated" << "updated" << "" << "" << 16;
}

// What the plug-in's outcome reports ends up in the record; a record that cannot be kept is said.
void TestRecords::recorder()
{
    QFETCH(bool, corrupt);
    QFETCH(QString, cancelReason);
    QFETCH(bool, interrupted);
    QFETCH(QString, end);
    QFETCH(QString, result);
    QFETCH(QString, serial);
    QFETCH(int, instances);
    const QString file = path(QStringLiteral("recorder-%1.sqlite").arg(QTest::currentDataTag()));
    if (corrupt) {
        QFile garbage(file);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'x'));
        for (int i = 0; i < instances; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("is not kept: .*not a database")));
    }
    qputenv(RecordKeeper::LocationVariable, file.toLocal8Bit());
    // The writers of the rows before have left.
    QTRY_COMPARE(threadsNamed(QStringLiteral("records")), 0);
    // Declared first: each outcome outlives its recorder.
    std::vector<std::unique_ptr<UpdateOutcome>> outcomes;
    std::vector<std::unique_ptr<UpdateRecorder>> recorders;
    for (int i = 0; i < instances; ++i) {
        outcomes.push_back(std::make_unique<UpdateOutcome>());
        recorders.push_back(std::make_unique<UpdateRecorder>(outcomes.back().get(), nullptr));
    }
    UpdateRecorder* recorder = recorders.front().get();
    QSignalSpy said(recorder, &UpdateRecorder::unrecorded);
    if (!serial.isEmpty())
        QVERIFY(QMetaObject::invokeMethod(recorder, "setUnit", Q_ARG(QString, serial), Q_ARG(QString, "4"),
                                          Q_ARG(QString, "line-3"), Q_ARG(QString, "anna")));
    for (int i = 0; i < instances; ++i) {
        UpdateOutcome& outcome = *outcomes[i];
        outcome.begin();
        outcome.describe({QStringLiteral("ttyS0/DUX1234/id3"), QStringLiteral("/no/such.hex"), QStringLiteral("1234V200"), 0x1234,
                          16384, DUXLConnectionInterface::Serial, QStringLiteral("1234V101")});
        outcome.noteStatus(QStringLiteral("Erasing finished."));
        outcome.reachPhase(UpdatePhase::Write);
        // The phase's record is written before the end comes, as an update's seconds later.
        QVERIFY(recorders[i]->flush(FlushWaitMs));
        if (!cancelReason.isEmpty()) {
            // By name, as a host that knows the plug-in's classes only by their meta-objects; and written
            // before the update ends, as a host waits for it.
            QVERIFY(QMetaObject::invokeMethod(recorders[i].get(), "setCancelReason",
                                              Q_ARG(QString, cancelReason), Q_ARG(bool, interrupted)));
            QVERIFY(recorders[i]->flush(FlushWaitMs));
        }
        if (end == QLatin1String("updated"))
            outcome.finish(true, QString(), QStringLiteral("ttyS0/DUX1234/id3"), QStringLiteral("1234V200"));
        else if (end == QLatin1String("cancelled"))
            outcome.finish(false, QStringLiteral("Firmware update canceled."), QStringLiteral("ttyS0/DUX1234/id3"), QString(),
                           true);
    }
    // Every writer has run by then, and so named its thread.
    for (const std::unique_ptr<UpdateRecorder>& each : recorders)
        QVERIFY(each->flush(FlushWaitMs));
    QCOMPARE(threadsNamed(QStringLiteral("records")), 1);
    qunsetenv(RecordKeeper::LocationVariable);
    if (corrupt) {
        // The record written at the phase and the one at the end are one record, said once with the
        // result the update ended with.
        QTRY_COMPARE(said.count(), 1);
        QTest::qWait(SaidAgainWaitMs);
        QCOMPARE(said.count(), 1);
        const QString text = said.first().first().toString();
        QVERIFY2(text.contains(QStringLiteral(", %1, ").arg(result)), qPrintable(text));
        return;
    }
    // The writer keeps what it was handed before its last recorder goes.
    recorders.clear();
    const QVector<UpdateRecord> records = RecordStore(file).select({});
    QCOMPARE(records.size(), instances);
    const UpdateRecord& record = records.first();
    QCOMPARE(UpdateRecord::resultName(record.result), result);
    QTEST(record.failureText, "failure");
    QCOMPARE(record.phase, QStringLiteral("write"));
    const ModuleKey key(record.moduleKey);
    QCOMPARE(QStringList({key.port(), key.moduleType(), key.address(), record.linkKind, record.firmwareBefore,
                          record.firmwareAfter, record.fileIdentifier}),
             QStringList({"ttyS0", "DUX1234", "id3", "serial", "1234V101",
                          end == QLatin1String("updated") ? "1234V200" : "", "1234V200"}));
    QCOMPARE(record.fileBytes, 16384);
    QCOMPARE(record.fileChecksum, 0x1234);
    QCOMPARE(QStringList({record.serialNumber, record.fixture, record.station}),
             serial.isEmpty() ? QStringList({"", "", QSysInfo::machineHostName()})
                              : QStringList({serial, "4", "line-3"}));
    if (!serial.isEmpty())
        QCOMPARE(record.operatorName, QStringLiteral("anna"));
}

// dux-host's own records and the plug-in's, in one process: one writer of a location (one thread). The
// plug-in library's copy of the shared writer is asked by name, as the plug-in itself asks it.
void TestRecords::writerSharedWithThePlugin()
{
    const QString file = path(QStringLiteral("shared-writer.sqlite"));
    QLibrary plugin(QDir(QLatin1String(DUX_PLUGIN_DIR)).filePath(QStringLiteral("libfirmwareupdate.so")));
    using Shared = std::shared_ptr<RecordWriter> (*)(const QString&, const QString&);
    const auto pluginShared = reinterpret_cast<Shared>(plugin.resolve("_ZN12RecordWriter6sharedERK7QStringS2_"));
    QVERIFY2(pluginShared, qPrintable(plugin.errorString()));
    const std::shared_ptr<RecordWriter> pluginWriter = pluginShared(file, file);
    QCOMPARE(RecordWriter::shared(file, file).get(), pluginWriter.get());
}

void TestRecords::summary_data()
{
    QTest::addColumn<QList<qint64>>("updatedMs");
    QTest::addColumn<QStringList>("failedPhases");
    QTest::addColumn<qint64>("medianMs");
    QTest::addColumn<QString>("failuresByPhase");
    QTest::newRow("odd count") << QList<qint64>{3000, 1000, 2000} << QStringList() << qint64(2000) << "";
    QTest::newRow("even count: between the middle two") << QList<qint64>{1000, 4000, 2000, 10000}
                                                        << QStringList{"write", "verify", "write"} << qint64(3000)
                                                        << "verify=1 write=2";
    QTest::newRow("none updated") << QList<qint64>() << QStringList{"erase"} << qint64(-1) << "erase=1";
    // -1: the update's time is not known.
    QTest::newRow("an untimed update") << QList<qint64>{-1, 3000} << QStringList() << qint64(3000) << "";
}

// The median is of the updates that succeeded; failures count by the phase they happened in.
void TestRecords::summary()
{
    QFETCH(QList<qint64>, updatedMs);
    QFETCH(QStringList, failedPhases);
    QVector<UpdateRecord> records;
    for (qint64 ms : updatedMs) {
        records.append(recordOf("u", "A", "F1", UpdateRecord::Result::Updated, "s1", "2026-01-01T10:00:00"));
        records.last().durationMs = ms;
    }
    for (const QString& phase : failedPhases) {
        records.append(recordOf("f", "A", "F1", UpdateRecord::Result::Failed, "s1", "2026-01-02T10:00:00"));
        records.last().phase = phase;
    }
    // An interrupted update is neither a failure nor a time.
    records.append(recordOf("i", "A", "F1", UpdateRecord::Result::Interrupted, "s1", "2026-01-02T10:00:00"));
    records.last().phase = QStringLiteral("write");
    const RecordSummary summary = RecordSummary::of(records);
    QTEST(summary.medianMs, "medianMs");
    QStringList failures;
    for (auto it = summary.failuresByPhase.cbegin(); it != summary.failuresByPhase.cend(); ++it)
        failures.append(QStringLiteral("%1=%2").arg(it.key()).arg(it.value()));
    QTEST(failures.join(QLatin1Char(' ')), "failuresByPhase");
    QCOMPARE(summary.perResult.value(QStringLiteral("updated")), updatedMs.size());
}

void TestRecords::filters_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("since");
    QTest::addColumn<int>("limit");
    // Operator, serial number and fixture: "operator/serial/fixture", a part empty for no filter.
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("all, newest first") << "" << "" << "" << "" << "" << 0 << "//" << QStringList{"r4", "r3", "r2", "r1"};
    QTest::newRow("module") << "A" << "" << "" << "" << "" << 0 << "//" << QStringList{"r4", "r3", "r1"};
    QTest::newRow("firmware") << "" << "F1" << "" << "" << "" << 0 << "//" << QStringList{"r2", "r1"};
    QTest::newRow("result") << "" << "" << "failed" << "" << "" << 0 << "//" << QStringList{"r3", "r2"};
    QTest::newRow("station") << "" << "" << "" << "s2" << "" << 0 << "//" << QStringList{"r4", "r2"};
    QTest::newRow("since, inclusive") << "" << "" << "" << "" << "2026-01-03T12:00:00" << 0 << "//"
                                      << QStringList{"r4", "r3"};
    QTest::newRow("module and result") << "A" << "" << "failed" << "" << "" << 0 << "//" << QStringList{"r3"};
    QTest::newRow("limit") << "" << "" << "" << "" << "" << 2 << "//" << QStringList{"r4", "r3"};
    QTest::newRow("operator") << "" << "" << "" << "" << "" << 0 << "anna//" << QStringList{"r2", "r1"};
    QTest::newRow("serial number: a unit's attempts") << "" << "" << "" << "" << "" << 0 << "/SN-1/"
                                                      << QStringList{"r3", "r1"};
    QTest::newRow("fixture") << "" << "" << "" << "" << "" << 0 << "//2" << QStringList{"r3", "r2"};
    QTest::newRow("serial number and fixture") << "" << "" << "" << "" << "" << 0 << "/SN-1/1" << QStringList{"r1"};
}

void TestRecords::filters()
{
    QFETCH(QString, since);
    RecordStore::Filter filter;
    QFETCH(QString, module);
    QFETCH(QString, firmware);
    QFETCH(QString, result);
    QFETCH(QString, station);
    QFETCH(int, limit);
    QFETCH(QString, unit);
    const QStringList parts = unit.split(QLatin1Char('/'));
    filter = {module, firmware, result, station, QDateTime::fromString(since, Qt::ISODate), limit,
              parts.at(0), parts.at(1), parts.at(2)};
    filter.since.setTimeSpec(Qt::UTC);
    RecordStore store(path(QStringLiteral("filters.sqlite")));
    bool ok = false;
    const QVector<UpdateRecord> records = store.select(filter, &ok);
    QVERIFY2(ok, qPrintable(store.errorString()));
    QTEST(idsOf(records), "ids");
    for (const UpdateRecord& record : records)
        QCOMPARE(record.values(), m_written.value(record.id).values());
}

void TestRecords::migration_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("SQLite, and a spool of the first schema") << false;
    QTest::newRow("PostgreSQL") << true;
}

// A database (and a spool) of the first schema gains the unit's columns: what it held stays, and a
// station's record goes in with its serial number and fixture.
void TestRecords::migration()
{
    QFETCH(bool, server);
    const QString location = server ? m_server.location() : path(QStringLiteral("first-schema.sqlite"));
    const QString spool = path(QStringLiteral("first-schema-spool.sqlite"));
    QStringList firstColumns = UpdateRecord::columns();
    firstColumns.removeAll(QStringLiteral("serial_number"));
    firstColumns.removeAll(QStringLiteral("fixture"));
    const UpdateRecord old = recordOf("old", "A", "F1", UpdateRecord::Result::Updated, "s1", "2026-01-01T10:00:00");
    QStringList definitions;
    for (const QString& column : firstColumns)
        definitions.append(column + (column.endsWith(QLatin1String("_ms")) || column.startsWith(QLatin1String("file_b"))
                                             || column == QLatin1String("file_checksum")
                                         ? QLatin1String(" BIGINT")
                                         : QLatin1String(" TEXT")));
    // The first schema's tables as the program of that schema made them, holding one record.
    const auto makeFirstSchema = [&](const QString& at, const QString& table, const QStringList& made) {
        RecordStore store(at);
        QVERIFY2(store.open(), qPrintable(store.errorString()));
        QSqlQuery query(store.database());
        for (const QString& statement : made)
            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
        query.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(table, firstColumns.join(QLatin1Char(',')),
                               QStringLiteral("?,").repeated(firstColumns.size()).chopped(1)));
        for (const QVariant& value : old.values().mid(0, firstColumns.size()))
            query.addBindValue(value);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    };
    makeFirstSchema(location, QStringLiteral("update_records"),
                    {QStringLiteral("DROP TABLE update_records"),
                     QStringLiteral("CREATE TABLE update_records (%1, PRIMARY KEY (id))").arg(definitions.join(QLatin1Char(','))),
                     QStringLiteral("UPDATE dux_records_schema SET version = 1")});
    if (!server) {
        QFile::remove(spool);
        makeFirstSchema(spool, QStringLiteral("record_spool"),
                        {QStringLiteral("CREATE TABLE record_spool (place INTEGER PRIMARY KEY AUTOINCREMENT, %1, "
                                        "UNIQUE (id))").arg(definitions.join(QLatin1Char(',')))});
    }
    UpdateRecord unit = recordOf("unit", "B", "F1", UpdateRecord::Result::Failed, "line-3", "2026-01-02T10:00:00");
    unit.serialNumber = QStringLiteral("SN-9");
    unit.fixture = QStringLiteral("12");
    RecordStore store(location);
    QVERIFY2(store.insert(unit), qPrintable(store.errorString()));
    const QVector<UpdateRecord> records = store.select({});
    QCOMPARE(idsOf(records), QStringList({"unit", "old"}));
    QCOMPARE(records.at(0).values(), unit.values());
    QCOMPARE(records.at(1).values(), old.values());
    if (server) {
        clearServer();
        return;
    }
    RecordStore waiting(spool);
    const QVector<RecordStore::Spooled> spooled = waiting.spooled(Writers);
    QCOMPARE(spooled.size(), 1);
    QCOMPARE(spooled.first().second.values(), old.values());
    QVERIFY2(waiting.spool(unit), qPrintable(waiting.errorString()));
    QCOMPARE(waiting.spooled(Writers).value(1).second.values(), unit.values());
}

// A station's line stop and the acknowledgement that starts the line again are records of the shift.
void TestRecords::lineStop()
{
    const QString file = path(QStringLiteral("line-stop.sqlite"));
    qputenv(RecordKeeper::LocationVariable, file.toLocal8Bit());
    {
        StationRecorder recorder(QStringLiteral("line-3"), QStringLiteral("anna"));
        recorder.recordStop(QStringLiteral("failures in a row: 3"), 7, QStringLiteral("/fw/a.hex"), QStringLiteral("1234V200"));
        QTest::qWait(2);
        recorder.recordRestart();
        QVERIFY(recorder.flush(WriterTimeoutMs));
    }
    qunsetenv(RecordKeeper::LocationVariable);
    RecordStore::Filter filter;
    filter.station = QStringLiteral("line-3");
    filter.operatorName = QStringLiteral("anna");
    const QVector<UpdateRecord> records = RecordStore(file).select(filter);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0).result, UpdateRecord::Result::LineRestarted);
    QCOMPARE(records.at(1).result, UpdateRecord::Result::LineStopped);
    QCOMPARE(QStringList({records.at(1).failureText, records.at(1).fixture, records.at(1).fileIdentifier}),
             QStringList({"failures in a row: 3", "7", "1234V200"}));
    QCOMPARE(records.at(0).fixture, QString());
}

void TestRecords::recordsView_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<int>("resultIndex");
    QTest::addColumn<QStringList>("rows");
    // In German: the view's values, its filter and its charts' legend; the filter still filters.
    QTest::addColumn<bool>("german");
    QTest::newRow("all") << "" << 0 << QStringList{"r4", "r3", "r2", "r1"} << false;
    QTest::newRow("module") << "A" << 0 << QStringList{"r4", "r3", "r1"} << false;
    QTest::newRow("module and result") << "A" << 2 << QStringList{"r3"} << false;
    QTest::newRow("module and result, in German") << "A" << 2 << QStringList{"r3"} << true;
}

// The host window's view lists what its filters let through, newest first.
void TestRecords::recordsView()
{
    QFETCH(QString, module);
    QFETCH(int, resultIndex);
    QFETCH(bool, german);
    QTranslator catalogue;
    QVERIFY(catalogue.load(QStringLiteral("dux_de"), QStringLiteral(DUX_TRANSLATION_DIR)));
    // Taken out again as it goes.
    if (german)
        QCoreApplication::installTranslator(&catalogue);
    // As the host's Records window holds it, at that window's size.
    QWidget window;
    auto* view = new RecordsView(path(QStringLiteral("filters.sqlite")));
    (new QVBoxLayout(&window))->addWidget(view);
    window.resize(900, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* moduleFilter = view->findChild<QLineEdit*>(QStringLiteral("moduleFilter"));
    auto* resultFilter = view->findChild<QComboBox*>(QStringLiteral("resultFilter"));
    auto* list = view->findChild<QTreeWidget*>(QStringLiteral("recordsList"));
    QVERIFY(moduleFilter && resultFilter && list);
    moduleFilter->setText(module);
    resultFilter->setCurrentIndex(resultIndex);
    view->refresh();
    QStringList started;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        started.append(list->topLevelItem(i)->text(0));
    QStringList expected;
    QFETCH(QStringList, rows);
    for (const QString& id : rows)
        expected.append(m_written.value(id).startedUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    QCOMPARE(started, expected);
    const int resultColumn = 3;
    const UpdateRecord::Result result = m_written.value(rows.constFirst()).result;
    QCOMPARE(list->topLevelItem(0)->text(resultColumn) == UpdateRecord::resultName(result), !german);
    QCOMPARE(resultFilter->itemText(1), german ? QStringLiteral("aktualisiert") : QStringLiteral("updated"));
    QCOMPARE(RecordsView::shownPhase(QStringLiteral("a phase of its own")), QStringLiteral("a phase of its own"));
    // Every legend entry is drawn whole: one cut short ends in an ellipsis instead.
    QTest::qWait(50);
    QStringList cut;
    for (QChartView* chartView : view->findChildren<QChartView*>()) {
        QLegend* legend = chartView->chart()->legend();
        if (!legend->isVisible())
            continue;
        QStringList drawn;
        for (QGraphicsItem* item : chartView->scene()->items()) {
            if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
                drawn.append(text->toPlainText());
        }
        for (QLegendMarker* marker : legend->markers()) {
            if (!drawn.contains(marker->label()))
                cut.append(marker->label());
        }
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
}

void TestRecords::badLocations_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QByteArray>("fileContents");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<int>("spooled");
    QTest::addColumn<QString>("message");
    const QString sqlite = path(QStringLiteral("bad.sqlite"));
    QTest::newRow("corrupt SQLite file") << sqlite << QByteArray(4096, 'x') << false << 0 << "file is not a database";
    QTest::newRow("newer schema") << sqlite << QByteArray("newer") << false << 0 << "newer than this program's 2";
    QTest::newRow("no server") << QStringLiteral("postgresql://dux:x@/postgres?host=%1").arg(path(QStringLiteral("home")))
                               << QByteArray() << true << 1 << "wait in";
    QTest::newRow("wrong password") << m_server.location(QStringLiteral("wrong")) << QByteArray() << true << 1
                                    << "password authentication failed";
}

// Each bad place gives a clear message; a server's record waits in the spool, a file's is said.
void TestRecords::badLocations()
{
    QFETCH(QString, location);
    QFETCH(QByteArray, fileContents);
    QFile::remove(location);
    const QString spool = path(QStringLiteral("bad-spool-%1.sqlite").arg(QTest::currentDataTag()));
    if (fileContents == "newer") {
        RecordStore store(location);
        QVERIFY(store.open());
        QVERIFY(QSqlQuery(store.database())
                    .exec(QStringLiteral("UPDATE dux_records_schema SET version = %1").arg(RecordStore::SchemaVersion + 1)));
    } else if (!fileContents.isEmpty()) {
        QFile file(location);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileContents);
    }
    RecordKeeper keeper(location, spool);
    const RecordKeeper::Kept kept =
        keeper.keep(recordOf("b1", "A", "F1", UpdateRecord::Result::Updated, "s1", "2026-01-01T10:00:00"));
    QTEST(kept.kept, "kept");
    QFETCH(QString, message);
    QVERIFY2(kept.message.contains(message), qPrintable(kept.message));
    QTEST(int(RecordStore(spool).spooled(Writers).size()), "spooled");
}

void TestRecords::concurrentWriters_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("SQLite") << false;
    QTest::newRow("PostgreSQL") << true;
}

// Four processes at once, each record sent twice: every record once.
void TestRecords::concurrentWriters()
{
    QFETCH(bool, server);
    if (server)
        clearServer();
    const QString location = server ? m_server.location() : path(QStringLiteral("concurrent.sqlite"));
    QList<QProcess*> writers;
    for (int i = 0; i < Writers; ++i) {
        auto* writer = new QProcess(this);
        writer->setProcessChannelMode(QProcess::ForwardedChannels);
        writer->start(QCoreApplication::applicationFilePath(),
                      {QLatin1String(WriteMode), location, path(QStringLiteral("spool-%1.sqlite").arg(i)),
                       QStringLiteral("writer%1").arg(i), QString::number(RecordsPerWriter)});
        writers.append(writer);
    }
    for (QProcess* writer : writers) {
        QVERIFY(writer->waitForFinished(WriterTimeoutMs));
        QCOMPARE(writer->exitCode(), 0);
        delete writer;
    }
    const RecordRig::Counts counts = RecordRig::countRows(location);
    QCOMPARE(counts.rows, Writers * RecordsPerWriter);
    QCOMPARE(counts.distinct, Writers * RecordsPerWriter);
}

// The server goes away in the middle of a run and comes back: the records between wait in the spool,
// are said once, and reach the server in the order they were made, each once.
void TestRecords::outage()
{
    clearServer();
    const QString spool = path(QStringLiteral("outage-spool.sqlite"));
    RecordKeeper keeper(m_server.location(), spool);
    QStringList ids;
    int said = 0;
    const auto round = [&] {
        for (int i = 0; i < OutageRound; ++i) {
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            const RecordKeeper::Kept kept = keeper.keep(recordOf(id, "A", "F1", UpdateRecord::Result::Updated, "s1",
                                                                 "2026-01-01T10:00:00"));
            QVERIFY(kept.kept);
            said += !kept.message.isEmpty();
            ids.append(id);
        }
    };
    round();
    QVERIFY2(m_server.stop(), qPrintable(m_server.errorString()));
    round();
    QCOMPARE(RecordStore(spool).spooled(OutageRound + 1).size(), OutageRound);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    round();
    QCOMPARE(said, 1);
    QCOMPARE(RecordStore(spool).spooled(OutageRound).size(), 0);
    RecordStore store(m_server.location());
    QVERIFY(store.open());
    // Each insert is a transaction of its own, whose number tells the order they came in.
    QSqlQuery query(store.database());
    QVERIFY(query.exec(QStringLiteral("SELECT id FROM update_records ORDER BY xmin::text::bigint")));
    QStringList arrived;
    while (query.next())
        arrived.append(query.value(0).toString());
    qInfo("outage: %d records made, %d spooled, %d on the server, %d lost, %d doubled", int(ids.size()), OutageRound,
          int(arrived.size()), int(ids.size() - QSet<QString>(arrived.begin(), arrived.end()).size()),
          int(arrived.size() - QSet<QString>(arrived.begin(), arrived.end()).size()));
    QCOMPARE(arrived, ids);
}

// A test killed with its server running leaves no server behind: the next run's would find its socket
// folder gone and the machine's memory taken.
void TestRecords::serverDiesWithTest()
{
    QProcess test;
    test.start(QCoreApplication::applicationFilePath(), {QLatin1String(ServeMode)});
    QVERIFY(test.waitForReadyRead(WriterTimeoutMs));
    const qint64 server = test.readLine().trimmed().toLongLong();
    QVERIFY(server > 0);
    QVERIFY(QFile::exists(QStringLiteral("/proc/%1").arg(server)));
    // A server that outlives its test here is stopped all the same: the failure says enough.
    const auto stopLeftover = qScopeGuard([server] { ::kill(pid_t(server), SIGQUIT); });
    test.kill();
    QVERIFY(test.waitForFinished());
    // Gone, or a zombie that its new parent has yet to reap.
    const auto ended = [server] {
        QFile status(QStringLiteral("/proc/%1/stat").arg(server));
        return !status.open(QIODevice::ReadOnly) || status.readAll().contains(") Z ");
    };
    QTRY_VERIFY_WITH_TIMEOUT(ended(), ServerEndWaitMs);
}

// A process that ends right after an update, its recorder never deleted (a plug-in's instance at the
// end of a host), still leaves the update's record behind: no turn of its event loop is needed.
// --history reads a SQLite file or a PostgreSQL server, and shows first, marked, what waits in the spool.
void TestRecords::history_data()
{
    QTest::addColumn<bool>("server");
    QTest::addColumn<QString>("format");
    // dux-host's arguments beyond --history, --records and the format's.
    QTest::addColumn<QStringList>("more");
    // "filled": the store holds an update and its spool a failure; "empty": neither holds any;
    // "unreadable": the spool as filled, the store a file that is no database.
    QTest::addColumn<QString>("store");
    // What --summary prints, exactly; as JSON, the object it prints.
    QTest::addColumn<QString>("summary");
    for (const bool server : {false, true}) {
        for (const char* format : {"table", "csv", "json"})
            QTest::addRow("%s, %s", server ? "PostgreSQL" : "SQLite", format)
                << server << QString::fromLatin1(format) << QStringList() << "filled" << QString();
    }
    const QStringList summary{QStringLiteral("--summary")};
    // The spooled record counts too; it names no firmware, and its failure no phase.
    QTest::newRow("summary") << false << "table" << summary << "filled"
                             << "2 records; median time of an update: 1.0 s\n"
                                "Per result:\n  failed                  1\n  updated                 1\n"
                                "Per firmware:\n  (none)                  1\n  F1                      1\n"
                                "Failures by phase:\n  (none)                  1\n";
    QTest::newRow("summary-of-F1") << false << "table" << summary + QStringList{"--firmware", "F1"} << "filled"
                                   << "1 record; median time of an update: 1.0 s\n"
                                      "Per result:\n  updated                 1\n"
                                      "Per firmware:\n  F1                      1\n"
                                      "Failures by phase:\n  none\n";
    QTest::newRow("summary-of-an-empty-store") << false << "table" << summary << "empty"
                                               << "0 records; median time of an update: none\n"
                                                  "Per result:\n  none\nPer firmware:\n  none\nFailures by phase:\n  none\n";
    // Counts of some of the records would mislead: there are none.
    QTest::newRow("summary-of-an-unreadable-store") << false << "table" << summary << "unreadable" << QString();
    QTest::newRow("summary-json") << false << "json" << summary << "filled"
                                  << R"json({"schema": 2, "records": 2, "perResult": {"failed": 1, "updated": 1},
                                         "perFirmware": {"(none)": 1, "F1": 1}, "medianMs": 1000,
                                         "failuresByPhase": {"(none)": 1}})json";
    QTest::newRow("summary-json-since-on-a-server")
        << true << "json" << summary + QStringList{"--since", "2026-01-02"} << "filled"
        << R"json({"schema": 2, "records": 1, "perResult": {"failed": 1}, "perFirmware": {"(none)": 1},
                   "medianMs": null, "failuresByPhase": {"(none)": 1}})json";
}

void TestRecords::history()
{
    QFETCH(bool, server);
    QFETCH(QString, format);
    QFETCH(QStringList, more);
    QFETCH(QString, store);
    QFETCH(QString, summary);
    if (server)
        clearServer();
    const QString location = server ? m_server.location() : path(QStringLiteral("history.sqlite"));
    const QString spool = server ? RecordKeeper::localFile() : RecordKeeper::spoolBeside(location);
    QFile::remove(spool);
    if (!server)
        QFile::remove(location);
    UpdateRecord kept = recordOf("kept", "A", "F1", UpdateRecord::Result::Updated, "s1", "2026-01-01T10:00:00");
    // Text that JSON escapes, and text it leaves as it is.
    kept.failureText = QStringLiteral("\"quoted\" \\ \x1b[2J\t\u00e9\u2603");
    if (store == QLatin1String("filled"))
        QVERIFY(RecordStore(location).insert(kept));
    if (store != QLatin1String("empty"))
        QVERIFY(RecordStore(spool).spool(recordOf("waits", "A", "", UpdateRecord::Result::Failed, "s1", "2026-01-02T10:00:00")));
    if (store == QLatin1String("unreadable")) {
        QFile noDatabase(location);
        QVERIFY(noDatabase.open(QIODevice::WriteOnly));
        noDatabase.write(QByteArray(4096, 'x'));
    }

    QStringList arguments{QStringLiteral("--history"), QStringLiteral("--records"), location};
    if (format != QLatin1String("table"))
        arguments.append(QStringLiteral("--") + format);
    arguments += more;
    const HostOptions::Parsed parsed = HostOptions::parse(QStringList{QStringLiteral("dux-host")} + arguments);
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    const HostOptions& options = parsed.options;
    QString text;
    QString problem;
    QTextStream out(&text);
    QTextStream err(&problem);
    const bool readable = store != QLatin1String("unreadable");
    QCOMPARE(History::run(options, out, err), int(readable ? HostOptions::ExitUpdated : HostOptions::ExitUpdateFailed));
    QVERIFY2(readable ? problem.isEmpty() : problem.startsWith(QLatin1String("dux-host: the records cannot be read: ")),
             qPrintable(problem));
    // The same through dux-host itself, a process of its own with its own drivers.
    QProcess host;
    host.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dux-host")), arguments);
    QVERIFY(host.waitForFinished(WriterTimeoutMs));
    QVERIFY2(host.exitCode() == (readable ? 0 : 1), host.readAllStandardError().constData());
    QCOMPARE(QString::fromUtf8(host.readAllStandardOutput()), text);
    if (options.summary) {
        if (options.json)
            QCOMPARE(QJsonDocument::fromJson(text.toUtf8()).object(), QJsonDocument::fromJson(summary.toUtf8()).object());
        else
            QCOMPARE(text, summary);
        return;
    }
    if (options.json) {
        // Written field by field, as QJsonDocument writes the records' objects.
        QJsonObject waiting = RecordStore(spool).spooled(1).value(0).second.toJson();
        QCOMPARE(waiting.value(QLatin1String("id")).toString(), QStringLiteral("waits"));
        waiting.insert(QStringLiteral("spooled"), true);
        const QJsonArray expected{waiting, RecordStore(location).select({}).value(0).toJson()};
        QCOMPARE(text, QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Indented)));
        const QJsonArray records = QJsonDocument::fromJson(text.toUtf8()).array();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.at(0).toObject().value(QLatin1String("id")).toString(), QStringLiteral("waits"));
        QCOMPARE(records.at(0).toObject().value(QLatin1String("spooled")).toBool(), true);
        QCOMPARE(records.at(1).toObject().value(QLatin1String("id")).toString(), QStringLiteral("kept"));
        QVERIFY(!records.at(1).toObject().contains(QLatin1String("spooled")));
        return;
    }
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    if (options.csv) {
        QVERIFY2(lines.at(0).endsWith(QLatin1String(",spooled")), qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).startsWith(QLatin1String("waits,")) && lines.at(1).endsWith(QLatin1String(",yes")), qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).startsWith(QLatin1String("kept,")) && lines.at(2).endsWith(QLatin1Char(',')), qPrintable(lines.at(2)));
    } else {
        QVERIFY2(lines.at(1).contains(QLatin1String(" failed (spooled) ")), qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).contains(QLatin1String(" updated ")) && !lines.at(2).contains(QLatin1String("spooled")),
                 qPrintable(lines.at(2)));
    }
}

void TestRecords::recordedAtExit_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("free file") << false;
    // Another program holds a write lock on the file beyond the process's end: the record waits beside
    // the file, said, and goes into it once the lock is gone.
    QTest::newRow("another process holds the file locked") << true;
}

void TestRecords::recordedAtExit()
{
    QFETCH(bool, locked);
    const QString file = path(QStringLiteral("at-exit-%1.sqlite").arg(locked));
    const QString spool = RecordKeeper::spoolBeside(file);
    QFile::remove(file);
    QFile::remove(spool);
    QProcess holder;
    if (locked) {
        QVERIFY(RecordStore(file).open());
        holder.start(QCoreApplication::applicationFilePath(), {QLatin1String(LockMode), file});
        QVERIFY(holder.waitForReadyRead(WriterTimeoutMs));
        QCOMPARE(holder.readLine().trimmed(), QByteArray(LockedLine));
    }
    QProcess updating;
    updating.start(QCoreApplication::applicationFilePath(), {QLatin1String(UpdateAndExitMode), file});
    QVERIFY(updating.waitForFinished(WriterTimeoutMs));
    QCOMPARE(updating.exitCode(), 0);
    const QString said = QString::fromLocal8Bit(updating.readAllStandardError());
    if (locked) {
        QVERIFY2(said.contains(QStringLiteral("another program holds it locked); they wait in")), qPrintable(said));
        QCOMPARE(RecordStore(spool).spooled(Writers).size(), 1);
        holder.kill();
        QVERIFY(holder.waitForFinished(WriterTimeoutMs));
        RecordKeeper keeper(file, QString());
        QVERIFY(keeper.keep(recordOf("n1", "B", "F1", UpdateRecord::Result::Updated, "s1", "2026-01-01T10:00:00")).kept);
        QVERIFY(RecordStore(spool).spooled(Writers).isEmpty());
    } else {
        QVERIFY2(said.isEmpty(), qPrintable(said));
        QVERIFY(!QFileInfo::exists(spool));
    }
    RecordStore::Filter module;
    module.module = QStringLiteral("ttyS0/DUX1234/id3");
    const QVector<UpdateRecord> records = RecordStore(file).select(module);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().result, UpdateRecord::Result::Updated);
}

// The child of recordedAtExit that holds a write lock on the SQLite file until it is killed.
int holdLock(int argc, char* argv[])
{
    QCoreApplication holding(argc, argv);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(holding.arguments().at(2));
    if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")))
        return 1;
    std::printf("%s\n", LockedLine);
    std::fflush(stdout);
    return holding.exec();
}

// The child of recordedAtExit: one update, then the application object goes and the process ends
// without the clean-up of its static objects.
int updateAndExit(int argc, char* argv[])
{
    {
        QCoreApplication updating(argc, argv);
        qputenv(RecordKeeper::LocationVariable, updating.arguments().at(2).toLocal8Bit());
        auto* outcome = new UpdateOutcome;
        new UpdateRecorder(outcome, outcome);
        outcome->begin();
        outcome->reachPhase(UpdatePhase::Write);
        outcome->finish(true, QString(), QStringLiteral("ttyS0/DUX1234/id3"), QStringLiteral("1234V200"));
    }
    std::fflush(stdout);
    std::_Exit(0);
}

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], UpdateAndExitMode) == 0)
        return updateAndExit(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], LockMode) == 0)
        return holdLock(argc, argv);
    // A test that starts its server, tells the server's pid and waits to be killed: --serve.
    if (argc == 2 && qstrcmp(argv[1], ServeMode) == 0) {
        QCoreApplication serving(argc, argv);
        PgServer server;
        if (!server.start())
            return 1;
        std::printf("%lld\n", server.pid());
        std::fflush(stdout);
        return serving.exec();
    }
    // A writer process of concurrentWriters: --write LOCATION SPOOL MODULE COUNT.
    if (argc == 6 && qstrcmp(argv[1], WriteMode) == 0) {
        QCoreApplication writer(argc, argv);
        return RecordRig::writeRecords(writer.arguments().at(2), writer.arguments().at(3), writer.arguments().at(4),
                                       writer.arguments().at(5).toInt());
    }
    QApplication app(argc, argv);
    TestRecords test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_records.moc"
