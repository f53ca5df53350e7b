#include "appsettings.h"
#include "filesystemmodel.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "messagelog.h"
#include "simulatedmodule.h"
#include "toolharness.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWhatsThis>
#include <QtTest>

#include <functional>
#include <memory>

// The home folder and the diagnostic lines of a form test; a base of its own so that it outlives the
// tool, which writes its settings into the home folder on its way out.
class FormHome
{
protected:
    FormHome()
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("home"));
        root.mkpath(QStringLiteral("files"));
        qputenv(AppSettings::HomeEnvironmentVariable, root.filePath(QStringLiteral("home")).toUtf8());
    }

    MessageLog m_log;
    QTemporaryDir m_dir;
};

// The "Firmware update" tool in a host window of the fake host, with its home in a temporary folder,
// modules that answer with their firmware text, and the diagnostic lines it writes.
class FirmwareFormHarness : private FormHome, public ToolHarness
{
public:
    static constexpr const char* ModuleName = "Stepper-1234";
    static constexpr const char* ModuleFirmware = "1234V308";
    static constexpr const char* DefaultModuleKey = "COM3/1/id1";

    explicit FirmwareFormHarness(const QStringList& moduleKeys = {QLatin1String(DefaultModuleKey)})
    {
        for (const QString& key : moduleKeys)
            addModule(key);
        start();
    }

    template<typename T>
    T* child(const char* name) const
    {
        return tool()->findChild<T*>(QLatin1String(name));
    }
    QString text(const char* lineEditName) const { return lineEdit(lineEditName)->text(); }
    void setFileName(const QString& name) { lineEdit("leFilename")->setText(name); }

    QString rootPath() const { return m_dir.path(); }
    QString homePath() const { return AppSettings::homePath(); }
    QString poolPath() const { return QDir::cleanPath(homePath() + QStringLiteral("/../Firmware")); }
    // A folder beside the home folder, where the user keeps firmware.
    QString filesPath(const QString& name) const { return m_dir.filePath(QStringLiteral("files/") + name); }

    void addModule(const QString& key)
    {
        FakeHost::ModuleSetup setup;
        setup.port = key.section(QLatin1Char('/'), 0, 0);
        setup.moduleName = QLatin1String(ModuleName);
        setup.key = key;
        host().addModule(setup);
        host().device(key)->setFirmwareVersion(QLatin1String(ModuleFirmware));
    }
    void removeModule(const QString& key) { host().withdrawModule(key); }
    void refreshModules() { button("btnRefresh")->click(); }

    // The remembered firmware location of the test modules; invalid when none is stored.
    QVariant storedDirectory() const
    {
        QSettings stored(homePath() + QStringLiteral("/dux.ini"), QSettings::IniFormat);
        return stored.value(QStringLiteral("Container_FirmwareUpdate/%1_Dir").arg(QLatin1String(ModuleName)));
    }

    // Calls the slot as the text field does, and returns its result.
    bool fileNameChanged(const QString& name)
    {
        bool loaded = false;
        QMetaObject::invokeMethod(tool(), "fileNameChanged", Qt::DirectConnection, Q_RETURN_ARG(bool, loaded),
                                  Q_ARG(QString, name));
        return loaded;
    }

    // Diagnostic lines written since the last call.
    QStringList takeMessages()
    {
        const QStringList lines = m_log.messages();
        m_log.clear();
        return lines;
    }
    // Those of one function, without its name.
    QStringList takeMessagesOf(const QString& function)
    {
        QStringList lines;
        const QString prefix = function + QLatin1Char(' ');
        for (const QString& line : takeMessages()) {
            if (line.startsWith(prefix))
                lines << line.mid(prefix.size());
        }
        return lines;
    }
};

namespace {

constexpr const char* LoaderName = "FirmwareUpdate::loadHexFile()";
const QByteArray ReferenceIdentifier = "1111V111";
const QByteArray Identifier = "1234V567";
const QByteArray SuitingIdentifier = "1234V101";
const QByteArray ForeignIdentifier = "5678V100";
// The extra column of the pool window.
constexpr int IdentifierColumn = 4;
// How often the test looks for a modal window it has to answer, and how long it waits for one.
constexpr int ModalPollMs = 10;
constexpr int ModalLimitMs = 10000;

// Answers a modal window the code under test opens with exec(): from the event loop of that exec(),
// a timer looks for the window and hands it to `answer` once it is visible. If none shows up in
// time, it closes whatever popup or modal window is active, so that the test fails instead of hanging.
class ModalAnswer : public QObject
{
public:
    ModalAnswer(std::function<QWidget*()> find, std::function<void(QWidget*)> answer)
        : m_find(std::move(find))
        , m_answer(std::move(answer))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswer::poll);
        m_elapsed.start();
        m_timer.start(ModalPollMs);
    }
    bool answered() const { return m_answered; }

private:
    void poll()
    {
        // A file dialog may still be reading the folder when it is first answered and then stays open:
        // it is answered again on every tick until it goes away.
        if (QWidget* window = m_find(); window && window->isVisible() && m_elapsed.elapsed() <= ModalLimitMs) {
            m_answered = true;
            m_answer(window);
        } else if (m_answered) {
            m_timer.stop();
        } else if (m_elapsed.elapsed() > ModalLimitMs) {
            m_timer.stop();
            if (QWidget* stuck = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                                   : QApplication::activeModalWidget())
                stuck->close();
        }
    }

    std::function<QWidget*()> m_find;
    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    bool m_answered = false;
};

QWidget* visibleFileDialog()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (qobject_cast<QFileDialog*>(window) && window->isVisible())
            return window;
    }
    return nullptr;
}

QToolButton* selectButton(FirmwareFormHarness& harness)
{
    return harness.child<QToolButton>("btnSelect");
}

QAction* poolAction(FirmwareFormHarness& harness)
{
    return selectButton(harness)->menu()->actions().first();
}

// Opens the button's menu as a click on its arrow does; the menu prepares its entries on showing.
void openAndCloseMenu(FirmwareFormHarness& harness)
{
    ModalAnswer answer(QApplication::activePopupWidget, [](QWidget* menu) { menu->close(); });
    selectButton(harness)->showMenu();
    QVERIFY(answer.answered());
}

// Chooses "Local pool" in the button's menu with the mouse and waits for the pool window.
QPointer<QDialog> openPoolWindow(FirmwareFormHarness& harness)
{
    ModalAnswer answer(QApplication::activePopupWidget, [](QWidget* popup) {
        auto* menu = qobject_cast<QMenu*>(popup);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().first()).center());
    });
    selectButton(harness)->showMenu();
    QPointer<QDialog> dialog = harness.tool()->findChild<QDialog*>(harness.poolPath());
    if (!answer.answered() || !dialog || !QTest::qWaitFor([&] { return dialog && dialog->isVisible(); }))
        return nullptr;
    return dialog;
}

QTreeView* poolTree(QDialog* dialog)
{
    return dialog->findChild<QTreeView*>(QStringLiteral("deviceTree"));
}

// Waits until the pool window's model has been given its name filters by the pool scan.
FileSystemModel* scannedModel(QDialog* dialog)
{
    auto* model = qobject_cast<FileSystemModel*>(poolTree(dialog)->model());
    if (!model || !QTest::qWaitFor([model] { return !model->nameFilters().isEmpty(); }))
        return nullptr;
    return model;
}

QString poolFile(FirmwareFormHarness& harness, const QString& name, const QByteArray& content)
{
    return FirmwareBuilder::writeFile(harness.poolPath() + QLatin1Char('/') + name, content);
}

// A pool with a file for each kind of entry the window tells apart.
void fillPool(FirmwareFormHarness& harness)
{
    poolFile(harness, QStringLiteral("suiting.hex"), FirmwareBuilder::firmwareHex(SuitingIdentifier));
    poolFile(harness, QStringLiteral("UPPER.HEX"), FirmwareBuilder::firmwareHex("1234V202"));
    poolFile(harness, QStringLiteral("foreign.hex"), FirmwareBuilder::firmwareHex(ForeignIdentifier));
    poolFile(harness, QStringLiteral("anonymous.hex"), FirmwareBuilder::firmwareHex(QByteArray()));
    poolFile(harness, QStringLiteral("notes.txt"), "not firmware\n");
    poolFile(harness, QStringLiteral("old.hex.bak"), FirmwareBuilder::firmwareHex(SuitingIdentifier));
}

bool isEnabled(const QAbstractItemModel* model, const QModelIndex& index)
{
    return model->flags(index).testFlag(Qt::ItemIsEnabled);
}

QMimeData* uriList(const QStringList& urls)
{
    auto* mime = new QMimeData;
    QList<QUrl> list;
    for (const QString& url : urls)
        list << QUrl(url);
    mime->setUrls(list);
    // An empty list still carries the format, as a drag of no files would.
    if (urls.isEmpty())
        mime->setData(QStringLiteral("text/uri-list"), QByteArray());
    return mime;
}

QWidget* visibleWhatsThis()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (qstrcmp(window->metaObject()->className(), "QWhatsThat") == 0 && window->isVisible())
            return window;
    }
    return nullptr;
}

}

// Choosing the firmware file through the tool's form: the file-name field, which loads and identifies it,
// the browse menu, the file dialog, the pool window, and drag and drop.
class TestFirmwareFile : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void typingLoadsOnceTheNameEndsInHex();
    void loadShowsOrKeepsFields_data();
    void loadShowsOrKeepsFields();
    void locationRemembered_data();
    void locationRemembered();
    void clearingFileFields();
    void poolEntryEnabling_data();
    void poolEntryEnabling();
    void fileDialog_data();
    void fileDialog();
    void poolEntries_data();
    void poolEntries();
    void poolScanClearsFileFields();
    void doubleClick_data();
    void doubleClick();
    void closingReleasesTheModel();
    void leaveSelection();
    void dragEnter_data();
    void dragEnter();
    void drop_data();
    void drop();

private:
    // Loads a first file, so that kept and replaced fields can be told apart.
    static QString loadReference(FirmwareFormHarness& harness);
    static QPair<bool, bool> clickLeaveSelection(FirmwareFormHarness& harness);
};

// A failed row may leave the drop hint up.
void TestFirmwareFile::cleanup()
{
    QWhatsThis::hideText();
}

void TestFirmwareFile::poolEntryEnabling_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("no pool folder yet") << QStringList() << false;
    QTest::newRow("other files only") << QStringList{"notes.txt", "fw.bin", "fw.hex.bak"} << false;
    QTest::newRow("a HEX file") << QStringList{"notes.txt", "fw.hex"} << true;
    QTest::newRow("upper-case extension") << QStringList{"FW.HEX"} << true;
}

void TestFirmwareFile::poolEntryEnabling()
{
    QFETCH(QStringList, files);
    QFETCH(bool, enabled);

    FirmwareFormHarness harness;
    for (const QString& name : files)
        poolFile(harness, name, FirmwareBuilder::firmwareHex(SuitingIdentifier));
    openAndCloseMenu(harness);
    QVERIFY(QFileInfo(harness.poolPath()).isDir());
    QCOMPARE(poolAction(harness)->isEnabled(), enabled);
}

void TestFirmwareFile::fileDialog_data()
{
    QTest::addColumn<bool>("choose");
    QTest::addColumn<bool>("alreadyShown");
    QTest::addColumn<QString>("version");
    QTest::newRow("cancelled") << false << false << QString();
    QTest::newRow("file chosen") << true << false << "1234V999";
    QTest::newRow("shown file chosen again") << true << true << "1234V999";
}

void TestFirmwareFile::fileDialog()
{
    QFETCH(bool, choose);
    QFETCH(bool, alreadyShown);
    QFETCH(QString, version);

    FirmwareFormHarness harness;
    const QString path = harness.filesPath(QStringLiteral("fw.hex"));
    if (alreadyShown) {
        FirmwareBuilder::writeFile(path, FirmwareBuilder::firmwareHex(SuitingIdentifier));
        harness.setFileName(path);
        QCOMPARE(harness.text("leVersion"), QLatin1String(SuitingIdentifier));
    }
    // The file changes on disk; choosing it again must read it again.
    FirmwareBuilder::writeFile(path, FirmwareBuilder::firmwareHex("1234V999"));

    QString title;
    QString directory;
    QStringList filters;
    ModalAnswer answer(visibleFileDialog, [&](QWidget* window) {
        auto* dialog = qobject_cast<QFileDialog*>(window);
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        filters = dialog->nameFilters();
        if (!choose) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        // selectFile() leaves the name field alone once it has the focus, which the offscreen platform
        // gives it at no fixed moment; the field is what the dialog accepts.
        if (auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            nameField->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    // A click on the main part of the button, left of its menu arrow.
    QToolButton* button = selectButton(harness);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
    QVERIFY(answer.answered());

    QCOMPARE(title, QStringLiteral("Select firmware file"));
    QCOMPARE(directory, QStringLiteral("/"));
    QCOMPARE(filters, QStringList{QStringLiteral("Firmware files (*.hex)")});
    QCOMPARE(harness.text("leFilename"), choose || alreadyShown ? path : QString());
    QCOMPARE(harness.text("leVersion"), choose ? version : alreadyShown ? QString(SuitingIdentifier) : QString());
}

void TestFirmwareFile::poolEntries_data()
{
    QTest::addColumn<QString>("moduleFirmware");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("enabled");

    const QString module = QLatin1String(FirmwareFormHarness::ModuleFirmware);
    QTest::newRow("suiting firmware") << module << "suiting.hex" << QString(SuitingIdentifier) << true;
    QTest::newRow("upper-case extension") << module << "UPPER.HEX" << "1234V202" << true;
    QTest::newRow("other module's firmware") << module << "foreign.hex" << QString(ForeignIdentifier) << false;
    QTest::newRow("HEX file without identifier") << module << "anonymous.hex" << QString() << false;
    QTest::newRow("HEX content, other name") << module << "old.hex.bak" << "no FW" << false;
    QTest::newRow("module without firmware text") << QString() << "suiting.hex" << QString(SuitingIdentifier)
                                                  << false;
    QTest::newRow("module of the other kind") << "5678B100" << "foreign.hex" << QString(ForeignIdentifier) << true;
}

void TestFirmwareFile::poolEntries()
{
    QFETCH(QString, moduleFirmware);
    QFETCH(QString, fileName);
    QFETCH(QString, shown);
    QFETCH(bool, enabled);

    FirmwareFormHarness harness;
    fillPool(harness);
    harness.child<QLineEdit>("leActualFirmware")->setText(moduleFirmware);
    QPointer<QDialog> dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    FileSystemModel* model = scannedModel(dialog);
    QVERIFY(model);

    // Every file is listed: the unsuitable ones are disabled, not hidden.
    QCOMPARE(model->rowCount(model->index(harness.poolPath())), 6);
    const QModelIndex file = model->index(harness.poolPath() + QLatin1Char('/') + fileName);
    QVERIFY(file.isValid());
    const QModelIndex extra = file.siblingAtColumn(IdentifierColumn);
    QCOMPARE(model->data(extra, Qt::DisplayRole).toString(), shown);
    QCOMPARE(isEnabled(model, file), enabled);
}

void TestFirmwareFile::poolScanClearsFileFields()
{
    FirmwareFormHarness harness;
    fillPool(harness);
    const QString chosen = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("chosen.hex")),
                                                          FirmwareBuilder::firmwareHex("1234V777"));
    harness.setFileName(chosen);
    QCOMPARE(harness.text("leVersion"), QStringLiteral("1234V777"));

    QPointer<QDialog> dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    QVERIFY(scannedModel(dialog));

    // The scan read every pool file over the chosen one, so the choice is undone.
    for (const char* name : {"leFilename", "leSize", "leChecksum", "leVersion"})
        QVERIFY2(harness.text(name).isEmpty(), name);
    QCOMPARE(harness.text("leHexVersion"), QStringLiteral("1234V777"));
    // Nothing to write: Update waits for the next choice.
    QVERIFY(!harness.child<QPushButton>("btnUpdate")->isEnabled());
    QVERIFY(!harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled());
}

void TestFirmwareFile::doubleClick_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("byMouse");
    QTest::addColumn<bool>("chosen");
    QTest::newRow("suiting file, mouse") << "suiting.hex" << true << true;
    // The view does not report a double click on a disabled entry; the window must not take one either.
    QTest::newRow("disabled file, view signal") << "foreign.hex" << false << false;
}

void TestFirmwareFile::doubleClick()
{
    QFETCH(QString, fileName);
    QFETCH(bool, byMouse);
    QFETCH(bool, chosen);

    FirmwareFormHarness harness;
    fillPool(harness);
    QPointer<QDialog> dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    QPointer<FileSystemModel> model = scannedModel(dialog);
    QVERIFY(model);
    QTreeView* tree = poolTree(dialog);
    const QString path = harness.poolPath() + QLatin1Char('/') + fileName;
    const QModelIndex file = model->index(path);

    if (byMouse) {
        QTRY_VERIFY(!tree->visualRect(file).isEmpty());
        const QPoint centre = tree->visualRect(file).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre);
    } else {
        emit tree->doubleClicked(file);
    }

    if (chosen) {
        QCOMPARE(harness.text("leFilename"), path);
        QCOMPARE(harness.text("leVersion"), QLatin1String(SuitingIdentifier));
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(!model);
    } else {
        QTest::qWait(50);
        QVERIFY(harness.text("leFilename").isEmpty());
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(poolTree(dialog));
    }
}

void TestFirmwareFile::closingReleasesTheModel()
{
    FirmwareFormHarness harness;
    fillPool(harness);
    // By the close button and by closing the window, in turn.
    for (int opening = 0; opening < 4; ++opening) {
        QPointer<QDialog> dialog = openPoolWindow(harness);
        QVERIFY(dialog);
        QPointer<FileSystemModel> model = scannedModel(dialog);
        QVERIFY(model);
        if (opening % 2 == 0)
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        else
            dialog->close();
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(!model);
    }
    QVERIFY(harness.tool()->findChildren<QDialog*>().isEmpty());
}

void TestFirmwareFile::leaveSelection()
{
    FirmwareFormHarness harness;
    fillPool(harness);
    QCOMPARE(clickLeaveSelection(harness), (QPair<bool, bool>(true, true)));
    QPointer<QDialog> dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    QVERIFY(dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"))->isChecked());

    // The point of the option: choosing the one module again keeps the file.
    const QString path = harness.poolPath() + QStringLiteral("/suiting.hex");
    emit poolTree(dialog)->doubleClicked(scannedModel(dialog)->index(path));
    QTRY_VERIFY(!dialog);
    harness.refreshModules();
    QCOMPARE(harness.text("leFilename"), path);

    // A second module turns the option off and disables it.
    harness.addModule(QStringLiteral("COM4/1/id1"));
    harness.refreshModules();
    QCOMPARE(harness.child<QComboBox>("cmbModules")->count(), 2);
    QCOMPARE(clickLeaveSelection(harness), (QPair<bool, bool>(false, false)));

    // Back to one module, the option stays off: opening the window with two modules reset it.
    harness.removeModule(QStringLiteral("COM4/1/id1"));
    harness.refreshModules();
    dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    auto* leave = dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"));
    QVERIFY(leave->isEnabled());
    QVERIFY(!leave->isChecked());
}

// Clicks "leave selection" in the pool window and closes it; whether the box was enabled, and checked
// after the click (both false when the window did not open or close).
QPair<bool, bool> TestFirmwareFile::clickLeaveSelection(FirmwareFormHarness& harness)
{
    QPointer<QDialog> dialog = openPoolWindow(harness);
    if (!dialog)
        return {};
    auto* leave = dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"));
    QTest::mouseClick(leave, Qt::LeftButton);
    const QPair<bool, bool> state(leave->isEnabled(), leave->isChecked());
    dialog->close();
    if (!QTest::qWaitFor([&dialog] { return dialog.isNull(); }))
        return {};
    return state;
}

void TestFirmwareFile::dragEnter_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<bool>("withUriList");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("HEX file") << QStringList{"file:///data/fw.hex"} << true << true;
    QTest::newRow(".hex in a folder name") << QStringList{"file:///data/old.hex/readme.txt"} << true << true;
    QTest::newRow("binary file") << QStringList{"file:///data/fw.bin"} << true << false;
    QTest::newRow("HEX file second") << QStringList{"file:///data/fw.bin", "file:///data/fw.hex"} << true << false;
    QTest::newRow("empty list") << QStringList() << true << false;
    QTest::newRow("text, no URL list") << QStringList{"file:///data/fw.hex"} << false << false;
}

void TestFirmwareFile::dragEnter()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, withUriList);
    QFETCH(bool, accepted);

    FirmwareFormHarness harness;
    std::unique_ptr<QMimeData> mime(withUriList ? uriList(urls) : new QMimeData);
    if (!withUriList)
        mime->setText(urls.first());
    QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(harness.tool(), &event);

    QCOMPARE(event.isAccepted(), accepted);
    QCOMPARE(bool(visibleWhatsThis()), accepted);
    QWhatsThis::hideText();
    if (accepted)
        QCOMPARE(event.dropAction(), event.proposedAction());
}

void TestFirmwareFile::drop_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("loads");
    // Another file dropped along, after the first: only the first is taken.
    QTest::addColumn<bool>("withOther");
    QTest::newRow("HEX file") << "fw.hex" << true << false;
    QTest::newRow("upper-case name") << "FW.HEX" << true << false;
    QTest::newRow("mixed-case name") << "Fw.Hex" << true << false;
    QTest::newRow("backup of a HEX file") << "firmware.hex.bak" << false << false;
    QTest::newRow("longer extension") << "fw.hexx" << false << false;
    QTest::newRow("several files") << "fw.hex" << true << true;
}

void TestFirmwareFile::drop()
{
    QFETCH(QString, fileName);
    QFETCH(bool, loads);
    QFETCH(bool, withOther);

    FirmwareFormHarness harness;
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(fileName),
                                                        FirmwareBuilder::firmwareHex(SuitingIdentifier));
    QStringList urls{QUrl::fromLocalFile(path).toString()};
    if (withOther)
        urls << QUrl::fromLocalFile(FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("other.hex")),
                                                               FirmwareBuilder::firmwareHex(ReferenceIdentifier)))
                    .toString();
    std::unique_ptr<QMimeData> mime(uriList(urls));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(harness.tool(), &enter);
    QVERIFY(enter.isAccepted());
    QVERIFY(visibleWhatsThis());

    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(harness.tool(), &drop);

    QVERIFY(!visibleWhatsThis());
    QCOMPARE(harness.text("leFilename"), path);
    QCOMPARE(harness.text("leVersion"), loads ? QString(SuitingIdentifier) : QString());
}

QString TestFirmwareFile::loadReference(FirmwareFormHarness& harness)
{
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("reference.hex")),
                                                        FirmwareBuilder::firmwareHex(ReferenceIdentifier));
    harness.setFileName(path);
    if (harness.text("leVersion") != QLatin1String(ReferenceIdentifier))
        qFatal("reference firmware not loaded");
    return path;
}

void TestFirmwareFile::typingLoadsOnceTheNameEndsInHex()
{
    FirmwareFormHarness harness;
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("typed.hex")),
                                                        FirmwareBuilder::firmwareHex(Identifier));
    harness.takeMessages();

    QTest::keyClicks(harness.child<QLineEdit>("leFilename"), path);
    QCOMPARE(harness.text("leFilename"), path);
    const QStringList loads = harness.takeMessagesOf(LoaderName);
    QCOMPARE(loads, QStringList{QStringLiteral("analysing: %1...").arg(path)});
    QCOMPARE(harness.text("leVersion"), QLatin1String(Identifier));

    // Typing on past the extension hands an empty program over but keeps the identifier.
    QTest::keyClicks(harness.child<QLineEdit>("leFilename"), QStringLiteral(".old"));
    QVERIFY(!harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled());
    QCOMPARE(harness.text("leHexVersion"), QLatin1String(Identifier));
    QVERIFY(harness.takeMessagesOf(LoaderName).isEmpty());
}

void TestFirmwareFile::loadShowsOrKeepsFields_data()
{
    // The file's content; "@missing" and "@fifo" put no file or a FIFO there.
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("identified");
    // Empty size and checksum: those of the file loaded before are kept.
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("checksum");
    // What the history says after the file's name; empty: nothing of this file.
    QTest::addColumn<QString>("told");

    const QByteArray image = FirmwareBuilder::firmwareImage(Identifier);
    const QByteArray anonymous = FirmwareBuilder::firmwareImage(QByteArray());
    const QByteArray good = FirmwareBuilder::firmwareHex(Identifier);
    // Line 1 sets the linear base, lines 2 to 65 hold 16 bytes each, line 66 ends the file.
    QList<QByteArray> lines = good.split('\n');
    const QByteArray cutOff = good.left(good.indexOf(lines[64]) + lines[64].size() / 2);
    QByteArray overlapping = good;
    overlapping.insert(good.indexOf(":00000001FF"), lines[1] + '\n');
    // The third line is the second data record; its last checksum digit changed.
    QByteArray& third = lines[2];
    third[third.size() - 1] = third.endsWith('0') ? '1' : '0';
    const QByteArray badChecksum = lines.join('\n');
    const QString noIdentifier = QStringLiteral(" holds no firmware identifier.");

    QTest::newRow("identified") << FirmwareBuilder::hexOf(image) << true << "1024" << FirmwareBuilder::checksumText(image)
                                << "";
    QTest::newRow("end-of-file record only") << QByteArray(":00000001FF\n") << false << "0" << "0x0" << noIdentifier;
    QTest::newRow("no identifier") << FirmwareBuilder::hexOf(anonymous) << false << "1024"
                                   << FirmwareBuilder::checksumText(anonymous) << noIdentifier;
    // Every reader fault takes the same way here; tst_hex read tells them apart.
    QTest::newRow("checksum error in line 3") << badChecksum << false << "" << ""
                                              << " is rejected: record checksum error (line 3).";
    QTest::newRow("file missing") << QByteArray("@missing") << false << "" << ""
                                  << " cannot be read: No such file or directory.";
    QTest::newRow("empty file") << QByteArray() << false << "0" << "0x0" << " holds no HEX records.";
    QTest::newRow("FIFO") << QByteArray("@fifo") << false << "" << "" << " is a FIFO, not a regular file.";
    // Shown and handed over, so that Update can say why it refuses the file.
    QTest::newRow("last record cut off") << cutOff << true << "1008" << FirmwareBuilder::checksumText(image.left(1008))
                                         << " is cut short: line 65 ends inside its record.";
    QTest::newRow("overlapping records") << overlapping << true << "1024" << FirmwareBuilder::checksumText(image)
                                         << ": the record in line 66 overlaps data an earlier record gave, from "
                                            "address 0x08000000; the later bytes are written.";
}

void TestFirmwareFile::loadShowsOrKeepsFields()
{
    QFETCH(QByteArray, hex);
    QFETCH(bool, identified);
    QFETCH(QString, size);
    QFETCH(QString, checksum);
    QFETCH(QString, told);

    // A FIFO, a folder or a device is refused at once, not waited on.
    constexpr qint64 LoadLimitMs = 1000;
    FirmwareFormHarness harness;
    const QString reference = loadReference(harness);
    const bool kept = size.isEmpty();
    if (kept) {
        size = harness.text("leSize");
        checksum = harness.text("leChecksum");
    }
    const QString path = harness.filesPath(QStringLiteral("row.hex"));
    std::unique_ptr<FirmwareBuilder::UnwrittenFifo> fifo;
    if (hex == "@fifo")
        QVERIFY((fifo = std::make_unique<FirmwareBuilder::UnwrittenFifo>(path))->isValid());
    else if (hex != "@missing")
        FirmwareBuilder::writeFile(path, hex);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(harness.fileNameChanged(path), identified);
    QVERIFY2(clock.elapsed() < LoadLimitMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(harness.text("leSize"), size);
    QCOMPARE(harness.text("leChecksum"), checksum);
    const QString version = QLatin1String(identified ? Identifier : ReferenceIdentifier);
    QCOMPARE(harness.text("leVersion"), version);
    QCOMPARE(harness.text("leHexVersion"), identified ? version : QString());
    QCOMPARE(harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled(), identified);
    if (told.isEmpty())
        QVERIFY2(!harness.historyText().contains(path), qPrintable(harness.historyText()));
    else
        QVERIFY2(harness.historyText().contains(path + told), qPrintable(harness.historyText()));
    if (kept)
        QCOMPARE(harness.storedDirectory().toString(), reference);
}

void TestFirmwareFile::locationRemembered_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QByteArray>("identifier");
    QTest::addColumn<bool>("withModule");
    QTest::addColumn<bool>("stored");

    QTest::newRow("beside the home folder") << "files/fw.hex" << Identifier << true << true;
    QTest::newRow("awkward name") << "files/Mödul Dateien/Fïrmwäre für 1234 (neu).hex" << Identifier << true
                                  << true;
    QTest::newRow("below the home folder") << "home/kept/fw.hex" << Identifier << true << false;
    QTest::newRow("folder named like home plus more") << "home2/fw.hex" << Identifier << true << false;
    QTest::newRow("home name in other case") << "HOME/fw.hex" << Identifier << true << true;
    QTest::newRow("relative name") << "relative" << Identifier << true << true;
    QTest::newRow("file without identifier") << "files/fw.hex" << QByteArray() << true << false;
    QTest::newRow("module gone") << "files/fw.hex" << Identifier << false << false;
}

void TestFirmwareFile::locationRemembered()
{
    QFETCH(QString, place);
    QFETCH(QByteArray, identifier);
    QFETCH(bool, withModule);
    QFETCH(bool, stored);

    FirmwareFormHarness harness;
    const bool relative = place == QLatin1String("relative");
    const QString path = FirmwareBuilder::writeFile(
        QDir(harness.rootPath()).filePath(relative ? QStringLiteral("files/rel.hex") : place),
        FirmwareBuilder::firmwareHex(identifier));
    if (!withModule)
        harness.removeModule(QLatin1String(FirmwareFormHarness::DefaultModuleKey));

    const QString previousDirectory = QDir::currentPath();
    if (relative)
        QDir::setCurrent(harness.filesPath(QString()));
    harness.setFileName(relative ? QStringLiteral("rel.hex") : path);
    QDir::setCurrent(previousDirectory);

    QCOMPARE(harness.text("leVersion"), QString::fromLatin1(identifier));
    QCOMPARE(harness.storedDirectory(), stored ? QVariant(QFileInfo(path).absoluteFilePath()) : QVariant());
}

void TestFirmwareFile::clearingFileFields()
{
    FirmwareFormHarness harness({QStringLiteral("COM3/1/id1"), QStringLiteral("COM4/1/id1")});
    loadReference(harness);
    harness.child<QLineEdit>("leModuleVersion")->setText(QStringLiteral("1234V101"));
    harness.child<QLineEdit>("leProgress")->setText(QStringLiteral("erasing"));
    harness.child<QProgressBar>("pbProcess")->setValue(42);
    harness.child<QPushButton>("btnCancel")->setEnabled(true);

    // Choosing another module clears the file fields.
    harness.child<QComboBox>("cmbModules")->setCurrentIndex(1);

    for (const char* name : {"leModuleVersion", "leProgress", "leChecksum", "leFilename", "leSize", "leVersion"})
        QVERIFY2(harness.text(name).isEmpty(), name);
    QCOMPARE(harness.child<QProgressBar>("pbProcess")->value(), 0);
    QVERIFY(!harness.child<QPushButton>("btnCancel")->isEnabled());
    // Emptying the file name handed an empty program over, with the last identifier; with nothing to
    // write Update is disabled.
    QCOMPARE(harness.text("leHexVersion"), QLatin1String(ReferenceIdentifier));
    QVERIFY(!harness.child<QPushButton>("btnUpdate")->isEnabled());
    QVERIFY(!harness.child<QGridLayout>("gridLayoutUpdate")->isEnabled());

    // With the name already empty nothing hands the program over again: the fields stay empty.
    harness.child<QComboBox>("cmbModules")->setCurrentIndex(0);
    QCOMPARE(harness.text("leHexVersion"), QString());
    QVERIFY(!harness.child<QPushButton>("btnUpdate")->isEnabled());
}

QTEST_MAIN(TestFirmwareFile)
#include "tst_firmwarefile.moc"
