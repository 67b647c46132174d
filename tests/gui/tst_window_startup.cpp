// The window's start-up and close: files read and written, settings kept,
// failures that must leave the window open or the data intact.
#include "support/Fixture.h"

#include "catalog/Errors.h"
#include "gui/common/Codec.h"
#include "gui/common/MessageBox.h"
#include "gui/editor/EditorPane.h"
#include "gui/editor/NoteEditor.h"
#include "gui/settings/SettingsPanel.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreePane.h"
#include "gui/window/CatalogKeeper.h"
#include "gui/window/WindowSettings.h"
#include "settings/SettingsFile.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSessionManager>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>

using namespace qvtest;

namespace {

int readNumber(const WindowFixture &f, const char *section, const char *key)
{
    qv::SettingsFile s;
    s.open(f.base() + "Quorvel.ini");
    return s.readNumber(section, key, -12345);
}

// Runs the event loop, starting with `trigger`, until something ends it;
// returns its status (99 when nothing did within a minute).
int runEventLoop(const std::function<void()> &trigger)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(60000);
    QMetaObject::invokeMethod(qApp, trigger, Qt::QueuedConnection);
    return QCoreApplication::exec();
}

// A catalogue of one node "A" with the note "old", and "typed" typed in
// front of it.
qv::MainWindow *openAndType(WindowFixture &f)
{
    f.writeFile("data.dat", lines({"A"}));
    f.writeFile("text.dat", lines({"1", "A", "old", "0"}));
    qv::MainWindow *w = f.open();
    w->watchSessionEnd();
    QTest::keyClicks(w->editorPane()->editor(), "typed");
    return w;
}

} // namespace

class WindowStartup : public QObject {
    Q_OBJECT
private slots:
    void firstRunWritesEmptyCatalogueAndDefaultSettings_data();
    void firstRunWritesEmptyCatalogueAndDefaultSettings();
    void startupLoadsBacksUpAndShowsFirstNote();
    void closeRewritesUnchangedFilesInCanonicalForm();
    void conflictCopyAtStartIsMergedAndSaved();
    void neverStartedWindowWritesNothing();
    void failedSaveAtCloseOffersAWayOut_data();
    void failedSaveAtCloseOffersAWayOut();
    void readOnlySettingsKeepWindowOpen();
    void unwritableSettingsMayBeLetGo();
    void unwritableCatalogueOpensReadOnly();
    void endOfRunSavesAsACloseDoes_data();
    void endOfRunSavesAsACloseDoes();
    void signalEndsTheRunThoughSettingsFail();
    void sessionManagerRequestSavesWithoutClosing();
    void failedLoadStillStoresEditsAndKeepsOriginals();
    void backupFailureStillStartsWindow();
    void backupsRunBesideTheWindow_data();
    void backupsRunBesideTheWindow();
    void linkOptionTakesEffectWhenApplied();
    void placementRestoredAndWrittenBack_data();
    void placementRestoredAndWrittenBack();
    void offScreenPlacementIsBroughtBack_data();
    void offScreenPlacementIsBroughtBack();
    void treeWidthHasMinimum_data();
    void treeWidthHasMinimum();
    void saveButtonFollowsChanges();
    void windowKeepsMinimumSize();
    void hintsAndFocusFollowTheMouse();
    void hintsComeFromActions();
    void keysMoveTheFocusBetweenTreeAndNote_data();
    void keysMoveTheFocusBetweenTreeAndNote();
    void errorBoxShowsPathsAsTheSystemSpellsThem();
    void screenReadersHearEveryControlByName();
};

void WindowStartup::firstRunWritesEmptyCatalogueAndDefaultSettings_data()
{
    QTest::addColumn<bool>("maximised");
    QTest::newRow("maximised") << true;
    QTest::newRow("normal") << false;
}

void WindowStartup::firstRunWritesEmptyCatalogueAndDefaultSettings()
{
    QFETCH(bool, maximised);
    WindowFixture f;
    qv::MainWindow *w = f.open();
    QVERIFY(w->isMaximized());
    QCOMPARE(w->treePane()->width(), 222);
    QVERIFY(!f.saveButton()->isEnabled());
    QVERIFY(f.takeBoxes().isEmpty());
    if (!maximised) {
        w->showNormal();
        w->setGeometry(60, 70, 640, 480);
    }
    const QRect frame = w->frameGeometry();
    QVERIFY(f.close());

    // No lock, journal or commit marker is left behind.
    QCOMPARE(f.listing(), QStringList({"Quorvel.ini", "data.dat", "text.dat"}));
    QCOMPARE(f.readFile("data.dat"), QByteArray());
    QCOMPARE(f.readFile("text.dat"), QByteArray("0\r\n"));
    QByteArray expected = "[Base]\r\nTreeColor=14601924\r\nTextTreeColor=-2147483640\r\n"
                          "RichColor=-2147483643\r\nTextRichColor=-2147483640\r\nDragDrop=0\r\nLink=0\r\n"
                          "Backup=1\r\nTreeFontName=MS Sans Serif\r\nTreeFontSize=8\r\n"
                          "TextFontName=MS Sans Serif\r\nTextFontSize=8\r\n"
                          "[Window]\r\nRestore=1\r\nTreeWidth=222\r\n";
    if (maximised)
        expected += "WindowState=1\r\n";
    else
        expected += QString("WindowState=0\r\nTop=%1\r\nLeft=%2\r\nHeight=%3\r\nWidth=%4\r\n")
                        .arg(frame.top())
                        .arg(frame.left())
                        .arg(frame.height())
                        .arg(frame.width())
                        .toLatin1();
    // Line by line, so a difference shows where it is.
    QCOMPARE(f.readFile("Quorvel.ini").split('\n'), expected.split('\n'));
}

void WindowStartup::startupLoadsBacksUpAndShowsFirstNote()
{
    WindowFixture f;
    const QByteArray data = lines({"Корень", "\tЛист"});
    const QByteArray text = lines({"2", "Корень", "первая~~вторая", "7", "Лист", "", "3"});
    f.writeFile("data.dat", data);
    f.writeFile("text.dat", text);
    f.writeFile("data.bak", "stale");
    qv::MainWindow *w = f.open();

    QCOMPARE(f.readFile("data.bak"), data);
    QCOMPARE(f.readFile("text.bak"), text);
    QCOMPARE(f.outlineText(), QString::fromUtf8("Корень\n\tЛист"));
    QCOMPARE(f.node(0)->imageIndex(), 7);
    QCOMPARE(f.node(1)->imageIndex(), 3);
    QCOMPARE(f.selected(), f.node(0));
    QCOMPARE(w->editorPane()->editor()->noteText(), QString::fromUtf8("первая\r\nвторая"));
    // Loading and showing the first note are not edits.
    QVERIFY(!f.saveButton()->isEnabled());
    QVERIFY(!w->catalog().modified());
}

void WindowStartup::closeRewritesUnchangedFilesInCanonicalForm()
{
    WindowFixture f;
    f.writeFile("data.dat", "A\n\tB\n");
    f.writeFile("text.dat", "2\r\nA\r\nnote\r\n5\r\nB\r\n\r\n0");
    f.open();
    QVERIFY(f.close());
    QCOMPARE(f.readFile("data.dat"), QByteArray("A\r\n\tB\r\n"));
    QCOMPARE(f.readFile("text.dat"), QByteArray("2\r\nA\r\nnote\r\n5\r\nB\r\n\r\n0\r\n"));
    QVERIFY(f.exists("Quorvel.ini"));
}

// A node another machine added, left by a sync engine in a pair of
// conflict copies, is in the window and in the files at once, no box asked,
// and the copies are gone from the folder.
void WindowStartup::conflictCopyAtStartIsMergedAndSaved()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    f.writeFile("text.dat", lines({"1", "A", "note", "0"}));
    f.writeFile("data.sync-conflict-20261208-061500-ABCDEFG.dat", lines({"A", "B"}));
    f.writeFile("text.sync-conflict-20261208-061500-ABCDEFG.dat",
                lines({"2", "A", "note", "0", "B", "theirs", "4"}));
    f.open();
    QCOMPARE(f.outlineText(), QString("A\nB"));
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("data.dat"), lines({"A", "B"}));
    QCOMPARE(f.readFile("text.dat"), lines({"2", "A", "note", "0", "B", "theirs", "4"}));
    QCOMPARE(f.listing().filter("conflict"), QStringList());
    QVERIFY(!f.saveButton()->isEnabled());
}

void WindowStartup::neverStartedWindowWritesNothing()
{
    WindowFixture f;
    f.writeFile("data.dat", "A\r\n");
    f.construct();
    QVERIFY(!f.window()->started());
    QVERIFY(f.close());
    QCOMPARE(f.listing(), QStringList({"data.bak", "data.dat"}));
    QCOMPARE(f.readFile("data.dat"), QByteArray("A\r\n"));
}

void WindowStartup::failedSaveAtCloseOffersAWayOut_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("closes");
    QTest::newRow("stay") << int(QMessageBox::Cancel) << false;
    QTest::newRow("retry") << int(QMessageBox::Retry) << true;
    QTest::newRow("copy elsewhere") << int(QMessageBox::Save) << true;
    QTest::newRow("close unsaved") << int(QMessageBox::Discard) << true;
}

// The disk is full at the close: the error, then a question naming the
// files, whose every answer leaves the files sound and the edits somewhere.
void WindowStartup::failedSaveAtCloseOffersAWayOut()
{
    QFETCH(int, choice);
    QFETCH(bool, closes);
    WindowFixture f;
    QTemporaryDir elsewhere;
    qv::CatalogKeeper::setFolderChooser([&elsewhere](QWidget *) { return elsewhere.path(); });
    qv::MainWindow *w = openAndType(f);
    qv::os::failAfter(0, ENOSPC, 0, "text.dat");
    qv::msg::setNextAnswers({QMessageBox::Ok, QMessageBox::StandardButton(choice), QMessageBox::Yes});
    QCOMPARE(f.close(), closes);
    qv::CatalogKeeper::setFolderChooser({});
    const QStringList boxes = f.takeBoxes();
    QCOMPARE(boxes.value(0), QString::fromUtf8("Диск полон."));
    QVERIFY(boxes.value(1).contains(QString::fromStdString(f.base()) + "data.dat"));
    const QByteArray typed = lines({"1", "A", "typedold", "0"}), old = lines({"1", "A", "old", "0"});
    QCOMPARE(f.readFile("text.dat"), choice == QMessageBox::Retry ? typed : old);
    QCOMPARE(f.exists("Quorvel.ini"), choice == QMessageBox::Retry);
    if (choice == QMessageBox::Save) {
        QFile copy(elsewhere.filePath("text.dat"));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), typed);
    }
    if (choice == QMessageBox::Discard) // the journal keeps the edits for the next start
        QVERIFY(f.exists(journalName()));
    if (closes)
        return;
    QVERIFY(w->isVisible());
    // The edits are still there for the next try.
    QVERIFY(f.close());
    QCOMPARE(f.readFile("text.dat"), typed);
}

void WindowStartup::readOnlySettingsKeepWindowOpen()
{
    QV_RUN_AS_NOBODY();
    WindowFixture f;
    f.writeFile("Quorvel.ini", "[Base]\r\nLink=1\r\n");
    QVERIFY(QFile::setPermissions(f.path("Quorvel.ini"), QFileDevice::ReadOwner | QFileDevice::ReadOther));
    qv::MainWindow *w = f.open();
    f.click("SpeedButton1");
    // The error box, then the way out, declined: the window stays.
    QVERIFY(!f.close());
    QVERIFY(w->isVisible());
    const QString ini = QString::fromStdString(f.base()) + "Quorvel.ini";
    QCOMPARE(f.takeBoxes(),
             QStringList({QString::fromUtf8("Не могу записать в ") + ini + ".",
                          QString::fromUtf8("Каталог сохранён, но настройки окна не записаны (") + ini
                              + QString::fromUtf8(").\r\nЧто сделать?")}));
    // The catalogue was saved before the settings were tried.
    QCOMPARE(f.readFile("data.dat"), lines({"Новый элемент 0"}));
    QCOMPARE(f.readFile("Quorvel.ini"), QByteArray("[Base]\r\nLink=1\r\n"));

    QVERIFY(QFile::setPermissions(f.path("Quorvel.ini"), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(f.close());
    QCOMPARE(readNumber(f, "Window", "WindowState"), 1);
}

// Settings that cannot be written never hold the window: the user may close
// without them, the catalogue saved and the settings file untouched.
void WindowStartup::unwritableSettingsMayBeLetGo()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    QVERIFY(QDir(QString::fromStdString(f.base())).mkdir("Quorvel.ini"));
    // The start says once that the settings are no file; the close's error
    // box, then the way out.
    f.answer({QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Discard});
    f.open();
    f.click("SpeedButton1");
    QVERIFY(f.close());
    QCOMPARE(f.readFile("data.dat"), lines({"Новый элемент 1", "A"}));
    QVERIFY(QFileInfo(QString::fromStdString(f.base()) + "Quorvel.ini").isDir());
}

// Neither the folder nor its files can be written: the window only shows
// the catalogue, and closes without a box, having written nothing.
void WindowStartup::unwritableCatalogueOpensReadOnly()
{
    QV_RUN_AS_NOBODY();
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    f.writeFile("text.dat", lines({"1", "A", "note", "0"}));
    const auto readable = QFileDevice::ReadOwner | QFileDevice::ReadOther;
    const QString folder = QString::fromStdString(f.base());
    for (const char *name : {"data.dat", "text.dat"})
        QVERIFY(QFile::setPermissions(f.path(name), readable));
    QVERIFY(QFile::setPermissions(folder, readable | QFileDevice::ExeOwner | QFileDevice::ExeOther));
    qv::MainWindow *w = f.open();
    QVERIFY(w->readOnly());
    QVERIFY(f.find<QWidget>(QStringLiteral("readOnlyLabel"))->isVisible());
    qv::TreeCommands *commands = w->treePane()->commands();
    for (QAction *a : {commands->createNodeAction(), commands->createChildAction(),
                       commands->deleteNodeAction(), commands->moveDownAction()})
        QVERIFY(!a->isEnabled());
    commands->setIcon(5);
    w->editorPane()->editor()->setFocus();
    QTest::keyClicks(w->editorPane()->editor(), "typed");
    QCOMPARE(w->editorPane()->editor()->noteText(), QStringLiteral("note"));
    QVERIFY(!w->catalog().modified());
    QVERIFY(f.close());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.listing(), QStringList({"data.dat", "text.dat"}));
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "note", "0"}));
    QVERIFY(QFile::setPermissions(folder, readable | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

// A signal, or the application told to quit (as at the session's end),
// saves everything typed and writes the settings as a close does, without a
// box, and the run ends with status 0.
// A second signal while the first is handled changes nothing.
void WindowStartup::endOfRunSavesAsACloseDoes_data()
{
    QTest::addColumn<int>("signalNumber"); // 0: the application is told to quit
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("application told to quit") << 0;
}

void WindowStartup::endOfRunSavesAsACloseDoes()
{
    QFETCH(int, signalNumber);
    WindowFixture f;
    qv::MainWindow *w = openAndType(f);
    const int status = runEventLoop([signalNumber] {
        if (signalNumber == 0) {
            QCoreApplication::quit();
            return;
        }
        ::raise(signalNumber);
        ::raise(signalNumber);
    });
    QCOMPARE(status, 0);
    QVERIFY(!w->isVisible());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("data.dat"), lines({"A"}));
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "typedold", "0"}));
    QCOMPARE(readNumber(f, "Window", "WindowState"), 1);
}

void WindowStartup::signalEndsTheRunThoughSettingsFail()
{
    QV_RUN_AS_NOBODY();
    WindowFixture f;
    f.writeFile("Quorvel.ini", "[Base]\r\nLink=1\r\n");
    QVERIFY(QFile::setPermissions(f.path("Quorvel.ini"), QFileDevice::ReadOwner | QFileDevice::ReadOther));
    qv::MainWindow *w = openAndType(f);
    QCOMPARE(runEventLoop([] { ::raise(SIGTERM); }), 0);
    QVERIFY(!w->isVisible());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "typedold", "0"}));
    QCOMPARE(f.readFile("Quorvel.ini"), QByteArray("[Base]\r\nLink=1\r\n"));
}

void WindowStartup::sessionManagerRequestSavesWithoutClosing()
{
    WindowFixture f;
    qv::MainWindow *w = openAndType(f);
    auto *manager = qApp->findChild<QSessionManager *>();
    QVERIFY(manager);
    emit qApp->commitDataRequest(*manager);
    QVERIFY(w->isVisible());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "typedold", "0"}));
    QCOMPARE(readNumber(f, "Window", "WindowState"), 1);
    f.discard();
}

void WindowStartup::failedLoadStillStoresEditsAndKeepsOriginals()
{
    WindowFixture f;
    const QByteArray data = lines({"A", "\t\tB", "C"});
    const QByteArray text = lines({"1", "C", "note of C", "4"});
    f.writeFile("data.dat", data);
    f.writeFile("text.dat", text);
    qv::MainWindow *w = f.open();
    QCOMPARE(f.takeBoxes(), QStringList({QString::fromUtf8("Неверный уровень (2) для элемента \"B\"")}));
    QCOMPARE(f.outlineText(), QString("A"));
    QVERIFY(w->started());

    // The change handler is attached: typing into the note is stored.
    f.selectIndex(0);
    f.click("SpeedButton15");
    QCOMPARE(f.outlineText(), QString::fromUtf8("A\n\tНовый элемент 1"));
    QTest::keyClicks(w->editorPane()->editor(), "xy");
    QVERIFY(f.saveButton()->isEnabled());
    QVERIFY(f.close());

    const QStringList boxes = f.takeBoxes();
    QCOMPARE(boxes.size(), 1);
    const QStringList kept = f.listing().filter(".unread-");
    QCOMPARE(kept.size(), 2);
    for (const QString &name : kept) {
        QVERIFY2(boxes.first().contains(f.path(name)), qPrintable(boxes.first()));
        QCOMPARE(f.readFile(name), name.startsWith("data.dat") ? data : text);
    }
    QCOMPARE(f.readFile("data.dat"), lines({"A", "\tНовый элемент 1"}));
    QCOMPARE(f.readFile("text.dat"), lines({"1", "Новый элемент 1", "xy", "0"}));
}

void WindowStartup::backupFailureStillStartsWindow()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    QVERIFY(QDir(QString::fromStdString(f.base())).mkdir("data.bak"));
    f.writeFile("Quorvel.ini", "[Base]\r\nDragDrop=1\r\n");
    qv::MainWindow *w = f.open();
    QCOMPARE(f.takeBoxes(),
             QStringList({QString::fromUtf8("Не могу создать файл ") + f.path("data.bak") + "."}));
    // The rest of the creation did not run (DragDrop was never read); the activation did.
    QVERIFY(!w->settingsPanel()->dragDropCheck()->isChecked());
    QVERIFY(!w->treePane()->tree()->dragDropEnabled());
    QCOMPARE(w->treePane()->width(), 222);
    QCOMPARE(f.outlineText(), QString("A"));
    QCOMPARE(f.selected(), f.node(0));
    f.click("SpeedButton1");
    QVERIFY(f.close());
    QCOMPARE(f.readFile("data.dat"), lines({"Новый элемент 1", "A"}));
}

void WindowStartup::backupsRunBesideTheWindow_data()
{
    QTest::addColumn<bool>("failing");
    QTest::newRow("a save waits for them") << false;
    QTest::newRow("a failure is told") << true;
}

// The backups are copied while the window is in use: a save made meanwhile
// waits for them, so they hold the files as the start found them; a
// failure is told in the error box without waiting for a save, and the
// second backup is then not made.
void WindowStartup::backupsRunBesideTheWindow()
{
    QFETCH(bool, failing);
    WindowFixture f;
    const QByteArray data = lines({"A"}), text = lines({"1", "A", "old", "0"});
    f.writeFile("data.dat", data);
    f.writeFile("text.dat", text);
    std::promise<void> running;
    std::future<void> copying = running.get_future();
    qv::BackupCopies::setRunHook([&running] {
        running.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    if (failing)
        qv::os::failAfter(0, ENOSPC, 0, "text.bak");
    qv::MainWindow *w = f.construct();
    w->show();
    QTRY_VERIFY(w->started());
    copying.wait();
    qv::BackupCopies::setRunHook({});
    const QStringList told = {QString::fromUtf8("Ошибка записи потока.")};
    if (failing)
        QTRY_COMPARE(qv::msg::shownTexts(), told);
    f.click("SpeedButton1");
    QVERIFY(w->saveAll());
    QVERIFY(!w->keeper()->backupsPending());
    QCOMPARE(f.takeBoxes(), failing ? told : QStringList());
    QCOMPARE(f.readFile("data.dat"), lines({"Новый элемент 1", "A"}));
    if (failing) {
        QVERIFY(f.listing().filter(".bak").isEmpty());
    } else {
        QCOMPARE(f.readFile("data.bak"), data);
        QCOMPARE(f.readFile("text.bak"), text);
    }
}

// The note's link option is the applied one: a ticked box opens nothing on
// a left click until "Применить"; the close writes the box as it shows.
void WindowStartup::linkOptionTakesEffectWhenApplied()
{
    QStringList opened;
    qv::EditorPane::setUrlOpener([&opened](const QString &url) { opened << url; });
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    f.writeFile("text.dat", lines({"1", "A", "www.left.example", "0"}));
    f.writeFile("Quorvel.ini", "[Base]\r\nLink=0\r\n");
    qv::MainWindow *w = f.open();
    QWidget *page = w->editorPane()->editor()->viewport();
    QTextCursor at(w->editorPane()->editor()->document());
    at.setPosition(5);
    const QPoint link = w->editorPane()->editor()->cursorRect(at).center();
    f.click("SpeedButton10");
    f.find<QCheckBox>("CheckBox4")->click();
    QTest::mouseClick(page, Qt::LeftButton, {}, link);
    QVERIFY(opened.isEmpty());
    f.click("Button2");
    QTest::mouseClick(page, Qt::LeftButton, {}, link);
    QCOMPARE(opened, QStringList{QStringLiteral("www.left.example")});

    f.find<QCheckBox>("CheckBox4")->click(); // off again, not applied
    QVERIFY(f.close());
    QCOMPARE(readNumber(f, "Base", "Link"), 0);
    qv::EditorPane::setUrlOpener({});
}

void WindowStartup::placementRestoredAndWrittenBack_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("maximised");
    QTest::addColumn<QRect>("frame"); // expected when not maximised; null: whatever it is
    const QByteArray placement = "Top=40\r\nLeft=50\r\nHeight=400\r\nWidth=600\r\n";
    QTest::newRow("normal") << "[Window]\r\nWindowState=0\r\n" + placement << false
                            << QRect(50, 40, 600, 400);
    QTest::newRow("state 2 is normal")
        << "[Window]\r\nWindowState=2\r\n" + placement << false << QRect(50, 40, 600, 400);
    QTest::newRow("hexadecimal") << QByteArray(
        "[Window]\r\nWindowState=0\r\nTop=$20\r\nLeft= 0x10\r\nHeight=400\r\nWidth=600\r\n")
                                 << false << QRect(16, 32, 600, 400);
    QTest::newRow("below the minimum")
        << QByteArray("[Window]\r\nWindowState=0\r\nTop=10\r\nLeft=10\r\nHeight=100\r\nWidth=100\r\n")
        << false << QRect(10, 10, 487, 310);
    QTest::newRow("maximised") << "[Window]\r\nWindowState=1\r\n" + placement << true << QRect();
    QTest::newRow("restore off") << "[Window]\r\nRestore=0\r\nWindowState=1\r\n" + placement << false
                                 << QRect();
}

void WindowStartup::placementRestoredAndWrittenBack()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, maximised);
    QFETCH(QRect, frame);
    WindowFixture f;
    f.writeFile("Quorvel.ini", ini);
    qv::MainWindow *w = f.open();
    QCOMPARE(w->isMaximized(), maximised);
    if (!frame.isNull())
        QCOMPARE(w->frameGeometry(), frame);
    else if (!maximised) // the size a new window gets, well above the minimum
        QVERIFY(w->width() > 487 + 50 && w->height() > 310 + 50);
    const QRect atClose = w->frameGeometry();
    QVERIFY(f.close());
    QCOMPARE(readNumber(f, "Window", "WindowState"), maximised ? 1 : 0);
    if (maximised) {
        // Left as an earlier close wrote them.
        QCOMPARE(readNumber(f, "Window", "Top"), 40);
        QCOMPARE(readNumber(f, "Window", "Width"), 600);
    } else {
        QCOMPARE(readNumber(f, "Window", "Top"), atClose.top());
        QCOMPARE(readNumber(f, "Window", "Left"), atClose.left());
        QCOMPARE(readNumber(f, "Window", "Height"), atClose.height());
        QCOMPARE(readNumber(f, "Window", "Width"), atClose.width());
    }
}

void WindowStartup::offScreenPlacementIsBroughtBack_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QRect>("expected");
    const QList<QRect> one{QRect(0, 0, 1280, 1000)};
    const QList<QRect> two{QRect(0, 0, 1280, 1000), QRect(1280, 200, 1024, 768)};
    QTest::newRow("on screen") << QRect(50, 40, 600, 400) << one << QRect(50, 40, 600, 400);
    QTest::newRow("partly off, a grip of the caption on")
        << QRect(1280 - 48, 990 - 12, 600, 400) << one << QRect(1280 - 48, 990 - 12, 600, 400);
    QTest::newRow("monitor gone") << QRect(1500, 300, 600, 400) << one << QRect(680, 300, 600, 400);
    QTest::newRow("far off") << QRect(-5000, -5000, 600, 400) << one << QRect(0, 0, 600, 400);
    QTest::newRow("caption above the top") << QRect(50, -30, 600, 400) << one << QRect(50, 0, 600, 400);
    QTest::newRow("too narrow a grip") << QRect(1280 - 40, 40, 600, 400) << one << QRect(680, 40, 600, 400);
    QTest::newRow("larger than the screen") << QRect(3000, 50, 2000, 1500) << one << QRect(0, 0, 2000, 1500);
    QTest::newRow("on the second monitor") << QRect(1400, 300, 600, 400) << two << QRect(1400, 300, 600, 400);
    QTest::newRow("onto the nearest monitor")
        << QRect(2600, 100, 600, 400) << two << QRect(1704, 200, 600, 400);
    QTest::newRow("no screen known") << QRect(5000, 40, 600, 400) << QList<QRect>()
                                     << QRect(5000, 40, 600, 400);
}

void WindowStartup::offScreenPlacementIsBroughtBack()
{
    QFETCH(QRect, frame);
    QFETCH(QList<QRect>, areas);
    QFETCH(QRect, expected);
    QCOMPARE(qv::reachableFrame(frame, areas), expected);
}

void WindowStartup::treeWidthHasMinimum_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("width");
    QTest::newRow("wider") << QByteArray("[Window]\r\nTreeWidth=300\r\n") << 300;
    QTest::newRow("narrower than the minimum") << QByteArray("[Window]\r\nTreeWidth=100\r\n") << 222;
    QTest::newRow("malformed") << QByteArray("[Window]\r\nTreeWidth=300px\r\n") << 222;
    // Wider than the screen: the note pane keeps its room (-1: checked below).
    QTest::newRow("wider than the screen") << QByteArray("[Window]\r\nTreeWidth=2147483647\r\n") << -1;
}

void WindowStartup::treeWidthHasMinimum()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, width);
    WindowFixture f;
    f.writeFile("Quorvel.ini", ini);
    qv::MainWindow *w = f.open();
    if (width >= 0) {
        QCOMPARE(w->treePane()->width(), width);
    } else {
        const int note = w->editorPane()->width();
        QVERIFY2(note >= w->editorPane()->minimumSizeHint().width() && note > 0,
                 qPrintable(QString::number(note)));
        QCOMPARE(w->treePane()->width() + w->splitter()->handleWidth() + note, w->splitter()->width());
    }
    // The splitter cannot squeeze the pane below its minimum.
    w->splitter()->setSizes({50, 2000});
    QCOMPARE(w->treePane()->width(), 222);
    QVERIFY(f.close());
    QCOMPARE(readNumber(f, "Window", "TreeWidth"), 222);
}

void WindowStartup::saveButtonFollowsChanges()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    f.open();
    QVERIFY(!f.saveButton()->isEnabled());
    f.click("SpeedButton16"); // expanding changes nothing
    QVERIFY(!f.saveButton()->isEnabled());
    f.click("SpeedButton1");
    QVERIFY(f.saveButton()->isEnabled());
    f.click("SpeedButton3");
    QVERIFY(!f.saveButton()->isEnabled());
    QCOMPARE(f.readFile("data.dat"), lines({"Новый элемент 1", "A"}));
    QCOMPARE(f.readFile("text.dat"), lines({"1", "Новый элемент 1", "", "0"}));
    f.discard();
}

void WindowStartup::windowKeepsMinimumSize()
{
    WindowFixture f;
    qv::MainWindow *w = f.open();
    w->showNormal();
    w->resize(300, 200);
    QCOMPARE(w->frameGeometry().size(), QSize(487, 310));
    // A window system that ignores the size hints resizes it anyway: the
    // window grows back, one side at a time.
    w->resize(600, 400);
    w->windowHandle()->resize(300, 200);
    QCoreApplication::processEvents();
    QCOMPARE(w->frameGeometry().size(), QSize(487, 310));
    w->windowHandle()->resize(700, 100);
    QCoreApplication::processEvents();
    QCOMPARE(w->width(), 700);
    QCOMPARE(w->frameGeometry().height(), 310);
    f.discard();
}

void WindowStartup::hintsAndFocusFollowTheMouse()
{
    WindowFixture f;
    qv::MainWindow *w = f.open();
    QStatusBar *bar = w->statusBar();
    auto *button = f.find<QToolButton>("SpeedButton16");
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QCoreApplication::sendEvent(button, &enter);
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Развернуть все ветви"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leave);
    QCOMPARE(bar->currentMessage(), QString());

    // The palette toggle's hint changes under the mouse when it is clicked.
    QWidget *toggle = f.find<QWidget>("Image4");
    QCoreApplication::sendEvent(toggle, &enter);
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Развернуть"));
    QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Свернуть"));
    QCoreApplication::sendEvent(toggle, &leave);

    QMenu *menu = w->treePane()->popupMenu();
    menu->popup(QPoint(10, 10));
    menu->setActiveAction(w->treePane()->action("N18"));
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Перемещение элемента дерева вниз"));
    menu->setActiveAction(w->treePane()->action("N12"));
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Создать потомка"));
    menu->hide();

    auto move = [](QWidget *target) {
        QMouseEvent e(QEvent::MouseMove, QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &e);
    };
    QWidget *editor = w->editorPane()->editor();
    move(w->editorPane()->editor()->viewport());
    QCOMPARE(w->focusWidget(), editor);
    move(f.tree()->viewport());
    QCOMPARE(w->focusWidget(), static_cast<QWidget *>(f.tree()));
    f.discard();
}

// A toolbar button made from an action shows the action's hint, follows a
// change of it under the mouse, and Qt's own hint events do not clear it;
// a menu made after the window shows its items' hints too.
void WindowStartup::hintsComeFromActions()
{
    WindowFixture f;
    qv::MainWindow *w = f.open();
    QStatusBar *bar = w->statusBar();
    auto *toolbar = new QToolBar(w->editorPane());
    auto *action = toolbar->addAction(QStringLiteral("Команда"));
    action->setStatusTip(QStringLiteral("Первая подсказка"));
    toolbar->show();
    QWidget *button = toolbar->widgetForAction(action);
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QCoreApplication::sendEvent(button, &enter);
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Первая подсказка"));
    action->setStatusTip(QStringLiteral("Вторая подсказка"));
    QCoreApplication::processEvents();
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Вторая подсказка"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leave);
    QCOMPARE(bar->currentMessage(), QString());

    auto *menu = new QMenu(w->treePane());
    QAction *item = menu->addAction(QStringLiteral("Пункт"));
    item->setStatusTip(QStringLiteral("Подсказка пункта"));
    menu->popup(QPoint(10, 10));
    menu->setActiveAction(item);
    QCOMPARE(bar->currentMessage(), QString::fromUtf8("Подсказка пункта"));
    menu->hide();
    QCOMPARE(bar->currentMessage(), QString());
    f.discard();
}

// F6 goes both ways; Tab and Shift+Tab leave the tree for the note. The
// toolbars' buttons are never on the way.
void WindowStartup::keysMoveTheFocusBetweenTreeAndNote_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("backFromTheNote");
    QTest::newRow("F6") << int(Qt::Key_F6) << true;
    QTest::newRow("Tab") << int(Qt::Key_Tab) << false;
    QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << false;
}

void WindowStartup::keysMoveTheFocusBetweenTreeAndNote()
{
    QFETCH(int, key);
    QFETCH(bool, backFromTheNote);
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    qv::MainWindow *w = f.open();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    QWidget *tree = f.tree();
    QWidget *note = w->editorPane()->editor();
    tree->setFocus();
    QCOMPARE(QApplication::focusWidget(), tree);
    QTest::keyClick(tree, Qt::Key(key));
    QCOMPARE(QApplication::focusWidget(), note);
    if (backFromTheNote) {
        QTest::keyClick(note, Qt::Key(key));
        QCOMPARE(QApplication::focusWidget(), tree);
        // From anywhere else it goes to the tree.
        w->settingsPanel()->dragDropCheck()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(QApplication::focusWidget(), tree);
    }
    QCOMPARE(f.outlineText(), QString("A"));
    QVERIFY(!w->catalog().modified());
    f.discard();
}

// A file name in an error is the system's bytes (UTF-8), the rest of the
// message the code page: a Cyrillic folder reads as it is named.
void WindowStartup::errorBoxShowsPathsAsTheSystemSpellsThem()
{
    const std::string path = "/tmp/Каталог/data.dat";
    QCOMPARE(qv::msg::errorText(qv::ENotRegularFile(path)),
             QString::fromUtf8("Файл /tmp/Каталог/data.dat не является обычным файлом."));
    QCOMPARE(qv::msg::errorText(qv::ESettingsWriteError("/tmp/Каталог/Quorvel.ini")),
             QString::fromUtf8("Не могу записать в /tmp/Каталог/Quorvel.ini."));
    QCOMPARE(qv::msg::errorText(qv::EConvertError(qv::W("ы"))),
             QString::fromUtf8("'ы' - неверное целое значение."));
}

// Every control a screen reader reaches (it takes focus, or it is a button)
// has a name; a closed panel is reported as not showing.
void WindowStartup::screenReadersHearEveryControlByName()
{
    WindowFixture f;
    f.writeFile("data.dat", lines({"A"}));
    qv::MainWindow *w = f.open();
    auto unnamed = [w] {
        QStringList out;
        for (QWidget *c : w->findChildren<QWidget *>()) {
            if (!c->isVisible() || (c->focusPolicy() == Qt::NoFocus && !qobject_cast<QAbstractButton *>(c)))
                continue;
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(c);
            if (a && a->text(QAccessible::Name).trimmed().isEmpty())
                out << (c->objectName().isEmpty() ? QString::fromLatin1(c->metaObject()->className())
                                                  : c->objectName());
        }
        return out;
    };
    QWidget *settings = w->settingsPanel();
    QVERIFY(QAccessible::queryAccessibleInterface(settings)->state().invisible);
    f.click(QStringLiteral("SpeedButton10")); // the settings
    QVERIFY(!QAccessible::queryAccessibleInterface(settings)->state().invisible);
    QCOMPARE(unnamed(), QStringList());
    QCOMPARE(QAccessible::queryAccessibleInterface(f.tree())->text(QAccessible::Name),
             QString::fromUtf8("Дерево узлов"));
    QCOMPARE(QAccessible::queryAccessibleInterface(f.find<QWidget>(QStringLiteral("bi80")))
                 ->text(QAccessible::Name),
             QString::fromUtf8("Значок: Чистый лист"));
    f.discard();
}

QTEST_MAIN(WindowStartup)
#include "tst_window_startup.moc"
