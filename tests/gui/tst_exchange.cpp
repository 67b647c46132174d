// Export to a file and import from one, from the window: where an import
// lands, its one step of undo, the progress box's Cancel, and the exported
// file's bytes.
#include "support/Fixture.h"

#include "catalog/Catalog.h"
#include "exchange/Export.h"
#include "gui/common/Codec.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreePane.h"
#include "gui/window/ExchangeCommands.h"
#include "gui/window/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QUndoStack>

#include <future>
#include <sstream>

using qv::ExchangeCommands;
using qvtest::lines;
using qvtest::WindowFixture;

namespace {

const QByteArray kOutline = lines({"A", "\tB"});
const QByteArray kRecords = lines({"1", "A", "note a", "0"});

using Files = QList<QPair<QString, QByteArray>>;

class Window {
public:
    Window()
    {
        f.writeFile("data.dat", kOutline);
        f.writeFile("text.dat", kRecords);
        w = f.open();
        QApplication::setActiveWindow(w);
    }
    ~Window()
    {
        ExchangeCommands::setFileChooser({});
        ExchangeCommands::setPlacementChooser({});
        ExchangeCommands::setProgressHooks(1000, {}, {});
        f.discard();
    }
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    // The file dialog answers `path` (and `filter`), the placement dialog `placement`.
    void choose(const QString &path, int filter = -1,
                ExchangeCommands::Placement placement = ExchangeCommands::Placement::AfterLastRoot)
    {
        ExchangeCommands::setFileChooser([path, filter](QWidget *, bool) {
            return ExchangeCommands::FileChoice{path, filter};
        });
        ExchangeCommands::setPlacementChooser([placement](QWidget *, const qv::Node *) { return placement; });
    }
    QUndoStack *undoStack() const { return w->treePane()->commands()->undoStack(); }

    WindowFixture f;
    qv::MainWindow *w = nullptr;
};

} // namespace

Q_DECLARE_METATYPE(Files)

class ExchangeTest : public QObject {
    Q_OBJECT
private slots:
    void importLandsWhereChosenAndIsOneUndoStep_data();
    void importLandsWhereChosenAndIsOneUndoStep();
    void cancelledImportChangesNothing();
    void unreadableFileShowsTheErrorAndChangesNothing();
    void formatFromExtensionElseFilter();
    void exportWritesWhatTheToolWrites_data();
    void exportWritesWhatTheToolWrites();
};

void ExchangeTest::importLandsWhereChosenAndIsOneUndoStep_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("underSelected");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("noted"); // a node imported with a note
    QTest::addColumn<QString>("note");

    const QString data = QStringLiteral(QV_TEST_DATA);
    struct Source {
        const char *name;
        Files files;
        QString chosen;
        QStringList nodes; // tab-indented from the import's level
        QString noted, note;
    };
    const QStringList xy = {QStringLiteral("X"), QStringLiteral("\tY")};
    const QStringList cherry = {QStringLiteral(u"Заметки"), QStringLiteral(u"\tКод"),
                                QStringLiteral(u"\tПустой"), QStringLiteral(u"Второй корень")};
    const Source sources[] = {
        {"text",
         {{"in.txt", "X\n\tY\n\t\t \xd0\xb7\xd0\xb0\xd0\xbc\xd0\xb5\xd1\x82\xd0\xba\xd0\xb0\n"}},
         "in.txt",
         xy,
         "Y",
         QStringLiteral(u"заметка")},
        {"markdown",
         {{"in.md", QStringLiteral(u"# X\n\n## Y\n\nзаметка\n").toUtf8()}},
         "in.md",
         xy,
         "Y",
         QStringLiteral(u"заметка")},
        {"opml",
         {{"in.opml",
           QStringLiteral(u"<?xml version=\"1.0\"?><opml version=\"2.0\"><head/><body>"
                          u"<outline text=\"X\"><outline text=\"Y\" _note=\"заметка\"/></outline>"
                          u"</body></opml>")
               .toUtf8()}},
         "in.opml",
         xy,
         "Y",
         QStringLiteral(u"заметка")},
        {"zim",
         {{"nb/notebook.zim", "[Notebook]\nname=nb\n"},
          {"nb/X.txt", ""},
          {"nb/X/Y.txt", QStringLiteral(u"заметка").toUtf8()}},
         "nb/notebook.zim",
         xy,
         "Y",
         QStringLiteral(u"заметка")},
        {"ctd",
         {},
         data + "/cherrytree.ctd",
         cherry,
         QStringLiteral(u"Код"),
         QStringLiteral(u"print(\"привет\")")},
        {"ctb",
         {},
         data + "/cherrytree.ctb",
         cherry,
         QStringLiteral(u"Код"),
         QStringLiteral(u"print(\"привет\")")},
    };
    for (const Source &s : sources)
        for (const bool under : {false, true}) {
            // A is selected: under it the import follows B.
            QStringList expected = {QStringLiteral("A"), QStringLiteral("\tB")};
            for (const QString &n : s.nodes)
                expected << (under ? QStringLiteral("\t") : QString()) + n;
            QTest::addRow("%s %s", s.name, under ? "under A" : "after the roots")
                << s.files << s.chosen << under << expected.join(QLatin1Char('\n')) << s.noted << s.note;
        }
}

void ExchangeTest::importLandsWhereChosenAndIsOneUndoStep()
{
    QFETCH(Files, files);
    QFETCH(QString, chosen);
    QFETCH(bool, underSelected);
    QFETCH(QString, expected);
    QFETCH(QString, noted);
    QFETCH(QString, note);

    Window t;
    QTemporaryDir source;
    for (const auto &[name, bytes] : files) {
        QDir().mkpath(QFileInfo(source.filePath(name)).absolutePath());
        QFile out(source.filePath(name));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    t.choose(QDir::isAbsolutePath(chosen) ? chosen : source.filePath(chosen), -1,
             underSelected ? ExchangeCommands::Placement::UnderSelected
                           : ExchangeCommands::Placement::AfterLastRoot);
    t.f.selectIndex(0);
    const QString before = t.f.outlineText();
    const size_t records = t.w->catalog().records().size();
    WindowFixture::takeBoxes();

    t.w->exchangeCommands()->importAction()->trigger();
    QCOMPARE(t.f.outlineText(), expected);
    QVERIFY(qv::toQ(t.w->catalog().noteForEditor(qv::fromQ(noted)).value_or("")).contains(note));
    QCOMPARE(t.f.selected(),
             t.f.nodeNamed(expected.split(QLatin1Char('\n'))[2].trimmed().toUtf8().constData()));
    const QStringList boxes = WindowFixture::takeBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].startsWith(QStringLiteral(u"импортировано узлов: ")), qPrintable(boxes[0]));
    QCOMPARE(t.undoStack()->count(), 1);

    const size_t recordsAfter = t.w->catalog().records().size();
    t.w->treePane()->commands()->undo();
    QCOMPARE(t.f.outlineText(), before);
    QCOMPARE(t.w->catalog().records().size(), records);
    t.w->treePane()->commands()->redo();
    QCOMPARE(t.f.outlineText(), expected);
    QCOMPARE(t.w->catalog().records().size(), recordsAfter);
    QVERIFY(qv::toQ(t.w->catalog().noteForEditor(qv::fromQ(noted)).value_or("")).contains(note));

    // Taken back, the catalogue saves as it was read.
    t.w->treePane()->commands()->undo();
    QVERIFY(t.w->saveAll());
    QCOMPARE(t.f.readFile("data.dat"), kOutline);
    QCOMPARE(t.f.readFile("text.dat"), kRecords);
}

void ExchangeTest::cancelledImportChangesNothing()
{
    Window t;
    QTemporaryDir source;
    const QString path = source.filePath("in.txt");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("X\n\tY\n");
    out.close();
    t.choose(path);
    // The parse waits until the box has been cancelled.
    std::promise<void> cancelled;
    std::shared_future<void> done = cancelled.get_future().share();
    bool shown = false;
    ExchangeCommands::setProgressHooks(
        0,
        [&](QProgressDialog *box) {
            shown = true;
            box->findChild<QPushButton *>()->click();
            cancelled.set_value();
        },
        [done] { done.wait(); });
    const QString before = t.f.outlineText();
    WindowFixture::takeBoxes();

    t.w->exchangeCommands()->importAction()->trigger();
    QVERIFY(shown);
    QCOMPARE(t.f.outlineText(), before);
    QCOMPARE(t.undoStack()->count(), 0);
    QVERIFY(!t.w->catalog().modified());
    QCOMPARE(WindowFixture::takeBoxes(), QStringList());
}

void ExchangeTest::unreadableFileShowsTheErrorAndChangesNothing()
{
    Window t;
    QTemporaryDir source;
    const QString path = source.filePath("bad.opml");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("<opml><body><outline text=\"X\">");
    out.close();
    t.choose(path);
    const QString before = t.f.outlineText();
    WindowFixture::takeBoxes();

    t.w->exchangeCommands()->importAction()->trigger();
    QCOMPARE(t.f.outlineText(), before);
    QCOMPARE(t.undoStack()->count(), 0);
    QCOMPARE(WindowFixture::takeBoxes().size(), 1);
}

void ExchangeTest::formatFromExtensionElseFilter()
{
    using IF = qv::exchange::ImportFormat;
    using EF = qv::ExportFormat;
    const struct {
        const char *path;
        int filter;
        std::optional<IF> in;
        std::optional<EF> out;
    } cases[] = {
        {"a.CTD", 4, IF::CherryTree, std::nullopt},
        {"a.ctb", -1, IF::CherryTree, std::nullopt},
        {"a.ctz", -1, IF::CherryTree, std::nullopt},
        {"a.md", 0, IF::Markdown, EF::Markdown},
        {"a.markdown", -1, IF::Markdown, EF::Markdown},
        {"a.opml", -1, IF::Opml, EF::Opml},
        {"a.txt", 1, IF::Text, EF::Text},
        {"d/notebook.zim", -1, IF::Zim, std::nullopt},
        {"a.html", -1, std::nullopt, EF::Html},
        {"a", 0, std::nullopt, EF::Html},
        {"a", 1, IF::CherryTree, EF::Markdown},
        {"a", 3, IF::Opml, EF::Opml},
        {"a", 5, IF::Zim, std::nullopt},
        {"a.doc", 6, std::nullopt, std::nullopt},
    };
    for (const auto &c : cases) {
        const QString path = QString::fromLatin1(c.path);
        QVERIFY2(ExchangeCommands::importFormatFor(path, c.filter) == c.in, c.path);
        // The export's filters are four; the extension's format wins.
        if (c.filter < 4 || c.out)
            QVERIFY2(ExchangeCommands::exportFormatFor(path, c.filter < 4 ? c.filter : -1) == c.out, c.path);
    }
}

void ExchangeTest::exportWritesWhatTheToolWrites_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("format");
    QTest::newRow("html") << "out.html" << -1 << int(qv::ExportFormat::Html);
    QTest::newRow("markdown") << "out.md" << -1 << int(qv::ExportFormat::Markdown);
    QTest::newRow("text") << "out.txt" << -1 << int(qv::ExportFormat::Text);
    QTest::newRow("opml") << "out.opml" << -1 << int(qv::ExportFormat::Opml);
    QTest::newRow("no extension, the filter's") << "out" << 3 << int(qv::ExportFormat::Opml);
}

void ExchangeTest::exportWritesWhatTheToolWrites()
{
    QFETCH(QString, name);
    QFETCH(int, filter);
    QFETCH(int, format);
    Window t;
    QTemporaryDir target;
    const QString path = target.filePath(name);
    t.choose(path, filter);
    WindowFixture::takeBoxes();

    t.w->exchangeCommands()->exportAction()->trigger();
    QCOMPARE(WindowFixture::takeBoxes(), QStringList());
    std::ostringstream expected;
    qv::ExportOptions options;
    options.title = QDir(QString::fromStdString(t.f.base())).dirName().toStdString(); // the folder's name
    qv::exportCatalog(t.w->catalog(), qv::ExportFormat(format), expected, options);
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray::fromStdString(expected.str()));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{name}); // no temporary left
}

QTEST_MAIN(ExchangeTest)
#include "tst_exchange.moc"
