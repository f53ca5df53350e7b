#include "filesystemmodel.h"
#include "firmwareformharness.h"
#include "spacerwidget.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QGridLayout>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWhatsThis>
#include <QtTest>

#include <functional>

namespace {

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

QAction* browseAction(FirmwareFormHarness& harness)
{
    return selectButton(harness)->menu()->actions().last();
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

// Choosing the firmware file: browse menu, file dialog, pool window and drag and drop.
class TestFileSelection : public QObject
{
    Q_OBJECT
private slots:
    void poolEntryEnabling_data();
    void poolEntryEnabling();
    void browseEntryNamesRememberedLocation();
    void fileDialog_data();
    void fileDialog();
    void poolEntries_data();
    void poolEntries();
    void poolScanClearsFileFields();
    void doubleClick_data();
    void doubleClick();
    void closingReleasesTheModel_data();
    void closingReleasesTheModel();
    void leaveSelectionWithOneModule();
    void leaveSelectionResetByASecondModule();
    void dragEnter_data();
    void dragEnter();
    void drop_data();
    void drop();
    void cleanup();
};

// A failed row may leave the drop hint up.
void TestFileSelection::cleanup()
{
    QWhatsThis::hideText();
}

void TestFileSelection::poolEntryEnabling_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("no pool folder yet") << QStringList() << false;
    QTest::newRow("empty pool") << QStringList{""} << false;
    QTest::newRow("other files only") << QStringList{"notes.txt", "fw.bin", "fw.hex.bak"} << false;
    QTest::newRow("a HEX file") << QStringList{"notes.txt", "fw.hex"} << true;
    QTest::newRow("upper-case extension") << QStringList{"FW.HEX"} << true;
}

void TestFileSelection::poolEntryEnabling()
{
    QFETCH(QStringList, files);
    QFETCH(bool, enabled);

    FirmwareFormHarness harness;
    for (const QString& name : files) {
        if (name.isEmpty())
            QDir().mkpath(harness.poolPath());
        else
            poolFile(harness, name, FirmwareBuilder::firmwareHex(SuitingIdentifier));
    }
    openAndCloseMenu(harness);
    QVERIFY(QFileInfo(harness.poolPath()).isDir());
    QCOMPARE(poolAction(harness)->isEnabled(), enabled);
    QCOMPARE(poolAction(harness)->text(), QStringLiteral("Local pool"));
}

void TestFileSelection::browseEntryNamesRememberedLocation()
{
    FirmwareFormHarness harness;
    openAndCloseMenu(harness);
    QCOMPARE(browseAction(harness)->text(), QStringLiteral("Browse /"));

    // A file from elsewhere is remembered for the module, and choosing the module again reads it back.
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(QStringLiteral("fw.hex")),
                                                        FirmwareBuilder::firmwareHex(SuitingIdentifier));
    harness.setFileName(path);
    harness.refreshModules();
    openAndCloseMenu(harness);
    QCOMPARE(browseAction(harness)->text(), QStringLiteral("Browse ") + path);
}

void TestFileSelection::fileDialog_data()
{
    QTest::addColumn<bool>("choose");
    QTest::addColumn<bool>("alreadyShown");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancelled") << false << false << QString() << "selected filname is empty!";
    QTest::newRow("file chosen") << true << false << "1234V999" << "choosen file:";
    QTest::newRow("shown file chosen again") << true << true << "1234V999" << "choosen file:";
}

void TestFileSelection::fileDialog()
{
    QFETCH(bool, choose);
    QFETCH(bool, alreadyShown);
    QFETCH(QString, version);
    QFETCH(QString, message);

    FirmwareFormHarness harness;
    const QString path = harness.filesPath(QStringLiteral("fw.hex"));
    if (alreadyShown) {
        FirmwareBuilder::writeFile(path, FirmwareBuilder::firmwareHex(SuitingIdentifier));
        harness.setFileName(path);
        QCOMPARE(harness.text("leVersion"), QLatin1String(SuitingIdentifier));
    }
    // The file changes on disk; choosing it again must read it again.
    FirmwareBuilder::writeFile(path, FirmwareBuilder::firmwareHex("1234V999"));
    harness.takeMessages();

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
    const QStringList lines = harness.takeMessagesOf(QStringLiteral("FirmwareUpdate::toolSelectAction()"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(message), qPrintable(lines.first()));
}

void TestFileSelection::poolEntries_data()
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
    QTest::newRow("text file") << module << "notes.txt" << "no FW" << false;
    QTest::newRow("HEX content, other name") << module << "old.hex.bak" << "no FW" << false;
    QTest::newRow("module without firmware text") << QString() << "suiting.hex" << QString(SuitingIdentifier)
                                                  << false;
    QTest::newRow("module of the other kind") << "5678B100" << "foreign.hex" << QString(ForeignIdentifier) << true;
}

void TestFileSelection::poolEntries()
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

void TestFileSelection::poolScanClearsFileFields()
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

void TestFileSelection::doubleClick_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("byMouse");
    QTest::addColumn<bool>("chosen");
    QTest::newRow("suiting file, mouse") << "suiting.hex" << true << true;
    QTest::newRow("suiting file, view signal") << "suiting.hex" << false << true;
    QTest::newRow("disabled file, mouse") << "foreign.hex" << true << false;
    QTest::newRow("disabled file, view signal") << "foreign.hex" << false << false;
}

void TestFileSelection::doubleClick()
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

void TestFileSelection::closingReleasesTheModel_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("close button") << true;
    QTest::newRow("window closed") << false;
}

void TestFileSelection::closingReleasesTheModel()
{
    QFETCH(bool, byButton);

    FirmwareFormHarness harness;
    fillPool(harness);
    for (int opening = 0; opening < 3; ++opening) {
        QPointer<QDialog> dialog = openPoolWindow(harness);
        QVERIFY(dialog);
        QPointer<FileSystemModel> model = scannedModel(dialog);
        QVERIFY(model);
        if (byButton)
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        else
            dialog->close();
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(!model);
    }
    QVERIFY(harness.tool()->findChildren<QDialog*>().isEmpty());
}

void TestFileSelection::leaveSelectionWithOneModule()
{
    FirmwareFormHarness harness;
    fillPool(harness);
    QPointer<QDialog> dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    auto* leave = dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"));
    QVERIFY(leave->isEnabled());
    QVERIFY(!leave->isChecked());
    QTest::mouseClick(leave, Qt::LeftButton);
    QVERIFY(leave->isChecked());
    dialog->close();
    QTRY_VERIFY(!dialog);

    dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    leave = dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"));
    QVERIFY(leave->isEnabled());
    QVERIFY(leave->isChecked());

    // The point of the option: choosing the one module again keeps the file.
    const QString path = harness.poolPath() + QStringLiteral("/suiting.hex");
    emit poolTree(dialog)->doubleClicked(scannedModel(dialog)->index(path));
    QTRY_VERIFY(!dialog);
    harness.refreshModules();
    QCOMPARE(harness.text("leFilename"), path);

    dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection")), Qt::LeftButton);
    dialog->close();
    QTRY_VERIFY(!dialog);
    harness.setFileName(path);
    harness.refreshModules();
    QVERIFY(harness.text("leFilename").isEmpty());
}

void TestFileSelection::leaveSelectionResetByASecondModule()
{
    FirmwareFormHarness harness;
    fillPool(harness);
    QPointer<QDialog> dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection")), Qt::LeftButton);
    dialog->close();
    QTRY_VERIFY(!dialog);

    harness.addModule(QStringLiteral("COM4/1/id1"));
    harness.refreshModules();
    QCOMPARE(harness.child<QComboBox>("cmbModules")->count(), 2);
    dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    auto* leave = dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"));
    QVERIFY(!leave->isEnabled());
    QVERIFY(!leave->isChecked());
    dialog->close();
    QTRY_VERIFY(!dialog);

    // Back to one module, the option stays off: opening the window with two modules reset it.
    harness.removeModule(QStringLiteral("COM4/1/id1"));
    harness.refreshModules();
    dialog = openPoolWindow(harness);
    QVERIFY(dialog);
    leave = dialog->findChild<QCheckBox*>(QStringLiteral("leaveSelection"));
    QVERIFY(leave->isEnabled());
    QVERIFY(!leave->isChecked());
}

void TestFileSelection::dragEnter_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<bool>("withUriList");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("HEX file") << QStringList{"file:///data/fw.hex"} << true << true;
    QTest::newRow("upper-case name") << QStringList{"file:///data/FW.HEX"} << true << true;
    QTest::newRow("backup of a HEX file") << QStringList{"file:///data/firmware.hex.bak"} << true << true;
    QTest::newRow(".hex in a folder name") << QStringList{"file:///data/old.hex/readme.txt"} << true << true;
    QTest::newRow("binary file") << QStringList{"file:///data/fw.bin"} << true << false;
    QTest::newRow("HEX file second") << QStringList{"file:///data/fw.bin", "file:///data/fw.hex"} << true << false;
    QTest::newRow("empty list") << QStringList() << true << false;
    QTest::newRow("remote file") << QStringList{"http://example.com/fw.hex"} << true << false;
    QTest::newRow("text, no URL list") << QStringList{"file:///data/fw.hex"} << false << false;
}

void TestFileSelection::dragEnter()
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
    const QStringList lines = harness.takeMessagesOf(QStringLiteral("FirmwareUpdate::dragEnterEvent()"));
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().startsWith(QStringLiteral("dragEnterEvent")));
}

void TestFileSelection::drop_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("loads");
    QTest::newRow("HEX file") << "fw.hex" << true;
    QTest::newRow("backup of a HEX file") << "firmware.hex.bak" << false;
}

void TestFileSelection::drop()
{
    QFETCH(QString, fileName);
    QFETCH(bool, loads);

    FirmwareFormHarness harness;
    const QString path = FirmwareBuilder::writeFile(harness.filesPath(fileName),
                                                        FirmwareBuilder::firmwareHex(SuitingIdentifier));
    std::unique_ptr<QMimeData> mime(uriList({QUrl::fromLocalFile(path).toString()}));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(harness.tool(), &enter);
    QVERIFY(enter.isAccepted());
    QVERIFY(visibleWhatsThis());
    harness.takeMessages();

    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(harness.tool(), &drop);

    QVERIFY(!visibleWhatsThis());
    QCOMPARE(harness.text("leFilename"), path);
    QCOMPARE(harness.text("leVersion"), loads ? QString(SuitingIdentifier) : QString());
    QCOMPARE(harness.takeMessagesOf(QStringLiteral("FirmwareUpdate::loadHexFile()")).size(),
             loads ? 1 : 0);
}

QTEST_MAIN(TestFileSelection)
#include "tst_fileselection.moc"
