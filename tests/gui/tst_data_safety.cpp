// What keeps the window's catalogue safe: one window per folder, the
// recovery journal after a kill, files another program changed, reads that
// stopped part way, and a clean run leaving nothing behind.
#include "support/Fixture.h"

#include "gui/editor/EditorPane.h"
#include "gui/window/CatalogKeeper.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>

using namespace qvtest;

namespace {

const QByteArray kData = lines({"A"});
const QByteArray kText = lines({"1", "A", "old", "0"});

// Every file of the folder with its bytes.
QMap<QString, QByteArray> contents(const WindowFixture &f)
{
    QMap<QString, QByteArray> out;
    for (const QString &name : f.listing())
        out.insert(name, f.readFile(name));
    return out;
}

// The catalogue of one node "A" with the note "old", open, "typed" typed
// in front of the note.
qv::MainWindow *openAndType(WindowFixture &f)
{
    f.writeFile("data.dat", kData);
    f.writeFile("text.dat", kText);
    qv::MainWindow *w = f.open();
    // The tests flush by hand; a slow machine must not see the timer fire
    // between a change and the check that it started.
    w->keeper()->flushTimer()->setInterval(10 * 60 * 1000);
    QTest::keyClicks(w->editorPane()->editor(), "typed");
    return w;
}

QString noteShown(const WindowFixture &f) { return f.window()->editorPane()->editor()->noteText(); }

} // namespace

class DataSafety : public QObject {
    Q_OBJECT
private slots:
    void secondWindowOnTheFolderIsRefused();
    void killedRunIsOfferedBack_data();
    void killedRunIsOfferedBack();
    void journalFailureToldOnce();
    void filesChangedByAnotherProgram_data();
    void filesChangedByAnotherProgram();
    void partialLoadToldOnceAndOriginalsNamedAfterFailedSave();
    void damagedLoadOpensTheNewestWholeBackup();
    void folderBoundary_data();
    void folderBoundary();
};

// The second window says so and touches nothing; the first one goes on,
// saves, and leaves no file of its own behind.
void DataSafety::secondWindowOnTheFolderIsRefused()
{
    WindowFixture f;
    qv::MainWindow *first = openAndType(f);
    QVERIFY(f.exists(lockName()));
    const QMap<QString, QByteArray> before = contents(f);

    auto second = std::make_unique<qv::MainWindow>(f.base());
    QVERIFY(second->refused());
    QVERIFY(!second->started());
    QCOMPARE(f.takeBoxes(), QStringList({QString::fromUtf8("Каталог уже открыт другой копией Quorvel.")}));
    second->close();
    second.reset();
    QCOMPARE(contents(f), before);
    QVERIFY(!f.exists("Quorvel.ini"));

    QTest::keyClicks(first->editorPane()->editor(), "!");
    QVERIFY(first->keeper()->flush(true));
    QVERIFY(f.exists(journalName()));
    QVERIFY(f.close());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "typed!old", "0"}));
    QCOMPARE(f.listing(), QStringList({"Quorvel.ini", "data.bak", "data.dat", "text.bak", "text.dat"}));
}

// A window that ended without saving, after a save of its own: killed
// (destroyed without a close) once its journal was flushed, or told to end
// by a signal while its save fails. The next window offers the changes
// back, even when the files were touched since, and saying so when another
// program changed them; declined, it is set aside under a dated name.
void DataSafety::killedRunIsOfferedBack_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addColumn<QString>("then");
    QTest::newRow("killed, Yes") << true << "Yes";
    QTest::newRow("killed, No") << true << "No";
    QTest::newRow("killed, files replaced since") << true << "replaced";
    QTest::newRow("killed, files touched since, Yes") << true << "touched";
    QTest::newRow("SIGTERM, the save fails, Yes") << false << "Yes";
}

void DataSafety::killedRunIsOfferedBack()
{
    QFETCH(bool, killed);
    QFETCH(QString, then);
    WindowFixture f;
    qv::MainWindow *w = openAndType(f);
    w->watchSessionEnd();
    QVERIFY(w->saveAll());
    QByteArray savedText = lines({"1", "A", "typedold", "0"});
    QCOMPARE(f.readFile("text.dat"), savedText);
    // The journal's time lies between the first change and the last flush
    // (on a busy machine the flush timer may already have run).
    const qint64 flushedFrom = QDateTime::currentSecsSinceEpoch();
    f.click("SpeedButton1");
    QTest::keyClicks(w->editorPane()->editor(), "new note");
    // A change starts the flush timer.
    QVERIFY(w->keeper()->flushTimer()->isActive());

    // What a save of that window would write.
    QTemporaryDir other;
    qv::CatalogFiles reference(QDir(other.path()).absolutePath().toStdString() + "/");
    reference.save(w->catalog());
    auto read = [&other](const char *name) {
        QFile file(other.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    if (killed) {
        QVERIFY(w->keeper()->flush(true));
        QVERIFY(!w->keeper()->flushTimer()->isActive());
    } else {
        qv::os::failAfter(0, ENOSPC, 0, "text.dat");
        QMetaObject::invokeMethod(
            qApp, [] { ::raise(SIGTERM); }, Qt::QueuedConnection);
        QCOMPARE(QCoreApplication::exec(), 0);
    }
    const qint64 flushedTo = QDateTime::currentSecsSinceEpoch();
    f.discard();
    QVERIFY(!f.exists(lockName()));
    QCOMPARE(f.readFile("text.dat"), savedText);
    QVERIFY(f.takeBoxes().isEmpty());

    if (then == "replaced") {
        savedText = lines({"1", "A", "from elsewhere", "0"});
        f.writeFile("text.dat", savedText);
    }
    if (then == "touched")
        for (const char *name : {"data.dat", "text.dat"}) {
            QFile file(f.path(name));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                     QFileDevice::FileModificationTime));
        }
    const bool yes = then == "Yes" || then == "touched";
    f.answer({yes ? QMessageBox::Yes : QMessageBox::No});
    f.open();
    const QStringList boxes = f.takeBoxes();
    QCOMPARE(boxes.size(), 1);
    const QStringList aside = f.listing().filter(QRegularExpression(
        "^" + QRegularExpression::escape(journalName()) + "\\.\\d{4}-\\d\\d-\\d\\d-\\d{6}$"));
    QCOMPARE(aside.size(), yes ? 0 : 1);
    const QString question = then == "replaced"
        ? QString::fromUtf8(
            "Файлы каталога были изменены другой программой после того, как были сделаны "
            "несохранённые изменения от %1. Восстановить эти изменения поверх нынешних файлов?")
        : QString::fromUtf8("Восстановить несохранённые изменения от %1?");
    QStringList offered;
    for (qint64 t = flushedFrom; t <= flushedTo; ++t)
        offered << question.arg(QDateTime::fromSecsSinceEpoch(t).toString("dd.MM.yyyy HH:mm:ss"));
    QVERIFY2(offered.contains(boxes.first()), qPrintable(boxes.first()));

    QCOMPARE(f.selected(), f.node(0));
    if (yes) {
        // The new node came first, with its note.
        QCOMPARE(f.outlineText(), QString::fromUtf8("Новый элемент 1\nA"));
        QCOMPARE(noteShown(f), QString("new note"));
        QVERIFY(f.saveButton()->isEnabled());
        QVERIFY(f.close());
        QCOMPARE(f.readFile("data.dat"), read("data.dat"));
        QCOMPARE(f.readFile("text.dat"), read("text.dat"));
        QVERIFY(!f.exists(journalName()));
    } else {
        QCOMPARE(f.outlineText(), QString("A"));
        QCOMPARE(noteShown(f), QString(then == "No" ? "typedold" : "from elsewhere"));
        QVERIFY(!f.saveButton()->isEnabled());
        QVERIFY(!f.exists(journalName()));
        // Set aside, it is no longer offered.
        QVERIFY(f.close());
        f.discard();
        f.open();
        QVERIFY(f.takeBoxes().isEmpty());
        QCOMPARE(f.readFile("text.dat"), savedText);
    }
}

// A journal that cannot be written is told of once, not at every change;
// each change tries again, and the word goes once it is written.
void DataSafety::journalFailureToldOnce()
{
    WindowFixture f;
    qv::MainWindow *w = openAndType(f);
    QVERIFY(QDir().mkdir(f.path(journalName())));
    QVERIFY(!w->keeper()->flush(true));
    QTest::keyClicks(w->editorPane()->editor(), "x");
    QVERIFY(w->keeper()->flushTimer()->isActive());
    QVERIFY(!w->keeper()->flush(true));
    const QStringList boxes = f.takeBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QString::fromUtf8("Журнал несохранённых изменений не записан: ")),
             qPrintable(boxes.first()));
    QCOMPARE(w->statusBar()->currentMessage(), boxes.first());

    QVERIFY(QDir().rmdir(f.path(journalName())));
    QTest::keyClicks(w->editorPane()->editor(), "y");
    QVERIFY(w->keeper()->flush(true));
    QVERIFY(w->statusBar()->currentMessage().isEmpty());
    QVERIFY(f.exists(journalName()));
    f.discard();
}

// Files another program wrote while the window ran that do not read
// whole (merged otherwise: tst_outside_changes): never overwritten without
// a Yes, and on a Yes (or at the end of a run nobody attends) kept under a
// dated name first.
void DataSafety::filesChangedByAnotherProgram_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close, No") << "No";
    QTest::newRow("close, Yes") << "Yes";
    QTest::newRow("SIGTERM") << "signal";
}

void DataSafety::filesChangedByAnotherProgram()
{
    QFETCH(QString, how);
    WindowFixture f;
    qv::MainWindow *w = openAndType(f);
    w->watchSessionEnd();
    const QByteArray outside = lines({"1", "A", "from elsewhere", "0", "past the count"});
    f.writeFile("text.dat", outside);
    const QString question
        = QString::fromUtf8("Файлы каталога изменены другой программой. Записать поверх них? "
                            "Их нынешняя версия будет сохранена под другим именем.");

    if (how == "No") {
        f.answer({QMessageBox::No});
        QVERIFY(!f.close());
        QVERIFY(w->isVisible());
        QCOMPARE(f.takeBoxes(), QStringList({question}));
        QCOMPARE(f.readFile("text.dat"), outside);
        QVERIFY(f.listing().filter(".other-").isEmpty());
        QVERIFY(f.saveButton()->isEnabled());
        f.discard();
        return;
    }
    if (how == "Yes") {
        f.answer({QMessageBox::Yes});
        QVERIFY(f.close());
        const QStringList boxes = f.takeBoxes();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.first(), question);
        for (const QString &name : f.listing().filter(".other-"))
            QVERIFY2(boxes.last().contains(f.path(name)), qPrintable(boxes.last()));
    } else {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(60000);
        QMetaObject::invokeMethod(
            qApp, [] { ::raise(SIGTERM); }, Qt::QueuedConnection);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(f.takeBoxes().isEmpty());
    }
    const QStringList kept = f.listing().filter(".other-");
    QCOMPARE(kept.size(), 2);
    for (const QString &name : kept) {
        QVERIFY2(QRegularExpression("^(data|text)\\.dat\\.other-\\d{4}-\\d\\d-\\d\\d-\\d{6}$")
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
        QCOMPARE(f.readFile(name), name.startsWith("data") ? kData : outside);
    }
    QCOMPARE(f.readFile("text.dat"), lines({"1", "A", "typedold", "0"}));
}

// A read that stopped at a NUL: told once, with the file as the system
// data.dat jumps a level: the load fails. The outline's backup of the run
// before (kept aside by this start's backups) with the notes as they are
// reads whole and is offered with its time; opened, it is what the close
// saves, the damaged file kept beside it.
void DataSafety::damagedLoadOpensTheNewestWholeBackup()
{
    WindowFixture f;
    const QByteArray damaged = lines({"A", "\t\t\tB"});
    f.writeFile("data.dat", damaged);
    f.writeFile("text.dat", kText);
    f.writeFile("data.bak", lines({"Old", "\tChild"}));
    f.writeFile("text.bak", lines({"1", "Child", "old note", "7"}));
    qv::msg::setNextAnswers({QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Yes});
    qv::MainWindow *w = f.open();
    const QStringList boxes = f.takeBoxes();
    QVERIFY2(boxes.last().contains(QString::fromUtf8("Открыть её?")), qPrintable(boxes.join('|')));
    QCOMPARE(w->catalog().outline().nodeCount(), size_t(2));
    QVERIFY(f.close());
    QCOMPARE(f.readFile("data.dat"), lines({"Old", "\tChild"}));
    // text.dat read whole: its backup was replaced, and its notes stay.
    QCOMPARE(f.readFile("text.dat"), kText);
    const QStringList kept
        = QDir(QString::fromStdString(f.base())).entryList({"data.dat.unread-*"}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(f.readFile(kept.first()), damaged);
}

// spells it, the byte and the old backup kept; the first save keeps the
// originals, and says where even when it fails, and only that once.
void DataSafety::partialLoadToldOnceAndOriginalsNamedAfterFailedSave()
{
    WindowFixture f;
    const QString dir = f.path(QString::fromUtf8("Каталог"));
    QVERIFY(QDir().mkdir(dir));
    const std::string base = QFile::encodeName(dir).toStdString() + "/";
    const QByteArray data = QByteArray("A\r\nB\r\n") + '\0' + "C\r\n";
    for (const auto &[name, bytes] :
         {std::pair{"data.dat", data}, std::pair{"text.dat", kText}, std::pair{"data.bak", kData}}) {
        QFile file(dir + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    auto w = std::make_unique<qv::MainWindow>(base);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCoreApplication::processEvents();
    const QStringList oldBackup = QDir(dir).entryList({"data.bak.*"}, QDir::Files);
    QCOMPARE(oldBackup.size(), 1);
    const QStringList startBoxes = f.takeBoxes();
    QCOMPARE(startBoxes.size(), 2);
    QCOMPARE(startBoxes.first(),
             QString::fromUtf8("Файл %1/data.dat прочитан не полностью: чтение остановлено на байте 6.\r\n"
                               "При первом сохранении прежние файлы будут сохранены под другими именами.\r\n"
                               "Прежние резервные копии сохранены под именами:\r\n%1/%2")
                 .arg(dir, oldBackup.first()));
    // The backup that reads whole is offered (and declined here).
    QVERIFY(startBoxes.last().contains(dir + "/" + oldBackup.first()));

    qv::os::failAfter(0, ENOSPC, 0, "text.dat");
    QVERIFY(!w->close());
    QStringList boxes = f.takeBoxes();
    QCOMPARE(boxes.size(), 3); // the error, the copies, what now
    QCOMPARE(boxes.first(), QString::fromUtf8("Диск полон."));
    const QStringList kept = QDir(dir).entryList({"*.unread-*"}, QDir::Files);
    QCOMPARE(kept.size(), 2);
    for (const QString &name : kept)
        QVERIFY2(boxes.at(1).contains(dir + "/" + name), qPrintable(boxes.at(1)));

    QVERIFY(w->close());
    QVERIFY(f.takeBoxes().isEmpty());
    QCOMPARE(QDir(dir).entryList({"*.unread-*"}, QDir::Files), kept);
    QFile original(dir + "/" + kept.filter("data.dat").value(0));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), data);
}

// A received folder: catalogue files linked to another folder's files are
// asked about once, by target, and written through only on Yes (the answer
// kept on this machine); a lock entry that is no lock refuses the window
// by name.
void DataSafety::folderBoundary_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("links, No") << "No";
    QTest::newRow("links, Yes") << "Yes";
    QTest::newRow("lock entry") << "lock";
}

void DataSafety::folderBoundary()
{
    QFETCH(QString, how);
    QTemporaryDir outside, state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    WindowFixture f;
    const QByteArray theirs = "#!/bin/sh\necho 'a script of theirs'\n";
    const char *names[] = {"data.dat", "text.dat", "Quorvel.ini"};
    if (how == "lock") {
        QVERIFY(QDir().mkdir(f.path(lockName())));
        auto w = std::make_unique<qv::MainWindow>(f.base());
        QVERIFY(w->refused());
        QCOMPARE(
            f.takeBoxes(),
            QStringList({QString::fromUtf8("Файл %1 не является обычным файлом.").arg(f.path(lockName()))}));
        QVERIFY(f.listing().isEmpty());
        QVERIFY(QFileInfo(f.path(lockName())).isDir());
        return;
    }
    QStringList targets;
    for (const char *name : names) {
        const QString target = outside.filePath(QString::fromUtf8(name) + ".real");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(qstrcmp(name, "text.dat") == 0 ? kText : theirs);
        file.close();
        QVERIFY(QFile::link(target, f.path(name)));
        targets << target;
    }
    f.open();
    QVERIFY(f.takeBoxes().isEmpty());
    f.answer({how == "Yes" ? QMessageBox::Yes : QMessageBox::No});
    QVERIFY(f.close());
    const QStringList boxes = f.takeBoxes();
    QVERIFY(!boxes.isEmpty());
    for (const QString &target : targets)
        QVERIFY2(boxes.first().contains(target), qPrintable(boxes.first()));
    for (int i = 0; i < 3; ++i) {
        QFile target(targets[i]);
        QVERIFY(target.open(QIODevice::ReadOnly));
        const QByteArray bytes = target.readAll();
        const bool link = QFileInfo(f.path(names[i])).isSymLink();
        if (how == "No") {
            QCOMPARE(bytes, i == 1 ? kText : theirs);
            QVERIFY(!link);
            QVERIFY2(boxes.last().contains(f.path(names[i])), qPrintable(boxes.last()));
        } else {
            QVERIFY(bytes != (i == 1 ? kText : theirs) || i == 1);
            QVERIFY(link);
        }
    }
    QCOMPARE(boxes.size(), how == "No" ? 2 : 1);
    if (how == "Yes") {
        // Remembered for the folder: the next run asks nothing.
        f.discard();
        f.open();
        QVERIFY(f.close());
        QVERIFY(f.takeBoxes().isEmpty());
        QVERIFY(QFileInfo(f.path("data.dat")).isSymLink());
    }
    qunsetenv("XDG_STATE_HOME");
}

QTEST_MAIN(DataSafety)
#include "tst_data_safety.moc"
