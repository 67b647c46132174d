// The window as the program runs it, over a folder given on the command
// line, typing into a note by itself: the victim of the typing kill tests
// (kill_typing.cpp drives it).
//
//   typing_victim type DIR [--seed S] [--keys N]
//       Starts as the program does (its signal handling and exit-time save
//       included), then, once the catalogue is loaded, types into the first
//       node's note, one key every 20 to 50 ms, and now and then creates a
//       node with the tree toolbar's button and types on into its note.
//       Every step goes to stdout as it is done, one flushed line with the
//       monotonic clock's nanoseconds:
//           key T C          the character C (a-z, or "_" for a blank)
//           node T CAPTION   a node created and selected, its caption in UTF-8
//       each printed just before the step is taken.
//       With --keys, stops after N steps and prints "done T"; the window
//       stays open until it is told to end. Boxes are answered as a user
//       would not be there: never shown, each takes its mildest button.
//   typing_victim report DIR
//       Opens DIR as the program does, answering Yes to every box, then
//       prints the boxes it was shown and the catalogue and exits at once,
//       saving nothing (refused the folder: the boxes, and status 1):
//           box TEXT                     each box, line breaks as "\n"
//           nodes N
//           node CAPTION<TAB>NOTE        in flat order; NOTE "-" when none
//           end
//       Texts in UTF-8 with "\\", "\n", "\r" and "\t" escaped.

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/tree/TreePane.h"
#include "gui/window/MainWindow.h"
#include "storage/CatalogFiles.h"

#include "KillSupport.h"
#include "WindowLines.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLibraryInfo>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace {

qv::MainWindow *g_window = nullptr;

void saveAtExit()
{
    if (g_window)
        g_window->saveBeforeQuit();
}

using killtest::escaped;
using killtest::say;

// Types one step every 20 to 50 ms.
class Typist : public QObject {
public:
    Typist(qv::MainWindow &window, unsigned long long seed, long keys)
        : window_(window), rng_(seed), keys_(keys)
    {}

    void begin()
    {
        editor_ = window_.findChild<QWidget *>(QStringLiteral("RxRichEdit1"));
        create_ = window_.findChild<QAbstractButton *>(QStringLiteral("SpeedButton1"));
        if (!editor_ || !create_) {
            std::fprintf(stderr, "typing_victim: no note editor or create button\n");
            std::_Exit(2);
        }
        editor_->setFocus();
        QTest::keyClick(editor_, Qt::Key_End, Qt::ControlModifier);
        next();
    }

private:
    void next()
    {
        QTimer::singleShot(std::uniform_int_distribution<int>(20, 50)(rng_), this, [this] { step(); });
    }

    void step()
    {
        ++done_;
        // Each step is told before it is taken: a kill between the two can
        // only leave a step told and not taken, never one taken untold.
        if (done_ > 1 && rng_() % 40 == 0) {
            // About every 40 keys, a node (the caption the command will give).
            say("node " + std::to_string(killtest::monotonicNs()) + " "
                + escaped(qv::toQ(window_.catalog().defaultCaption())));
            QTest::mouseClick(create_, Qt::LeftButton);
            editor_->setFocus();
        } else {
            const int r = static_cast<int>(rng_() % 27);
            say("key " + std::to_string(killtest::monotonicNs()) + " " + (r == 26 ? '_' : char('a' + r)));
            QTest::keyClick(editor_, r == 26 ? ' ' : char('a' + r));
        }
        if (keys_ >= 0 && done_ == keys_)
            say("done " + std::to_string(killtest::monotonicNs()));
        else
            next();
    }

    qv::MainWindow &window_;
    std::mt19937_64 rng_;
    long keys_;
    long done_ = 0;
    QWidget *editor_ = nullptr;
    QAbstractButton *create_ = nullptr;
};

void report(qv::MainWindow &window)
{
    for (const QString &text : qv::msg::shownTexts())
        say("box " + escaped(text));
    qv::Catalog &catalog = window.catalog();
    say("nodes " + std::to_string(catalog.outline().nodeCount()));
    for (const qv::Node *n = catalog.outline().first(); n; n = qv::flatNext(n)) {
        const std::optional<qv::Bytes> note = catalog.noteForEditor(n->caption());
        say("node " + escaped(qv::toQ(n->caption())) + "\t" + (note ? escaped(qv::toQ(*note)) : "-"));
    }
    say("end");
    // Nothing may be saved: the folder stays as the kill left it.
    std::_Exit(0);
}

// Calls `then` once the window has loaded its catalogue and the start-up's
// queued work has run.
void whenStarted(qv::MainWindow &window, std::function<void()> then)
{
    auto *poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [poll, &window, then] {
        if (!window.started())
            return;
        poll->stop();
        QTimer::singleShot(0, &window, then);
    });
    poll->start(10);
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: typing_victim type DIR [--seed S] [--keys N] | report DIR\n");
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
        usage();
    const std::string mode = argv[1];
    std::string dir = argv[2];
    if (dir.back() != '/')
        dir += '/';
    unsigned long long seed = 1;
    long keys = -1;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seed") == 0)
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--keys") == 0)
            keys = std::atol(argv[i + 1]);
        else
            usage();
    }
    if (mode != "type" && mode != "report")
        usage();

    // As the program's main() does.
    qv::widenStack();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&toolkitTexts);

    if (mode == "report")
        qv::msg::setNextAnswers({QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes});
    else
        qv::msg::setUnattended();

    qv::MainWindow window(dir);
    if (window.refused()) {
        if (mode == "report")
            for (const QString &text : qv::msg::shownTexts())
                say("box " + escaped(text));
        return 1;
    }
    window.watchSessionEnd();
    window.show();
    g_window = &window;
    std::atexit(saveAtExit);

    Typist typist(window, seed, keys);
    if (mode == "report")
        whenStarted(window, [&window] { report(window); });
    else
        whenStarted(window, [&typist] { typist.begin(); });
    const int status = app.exec();
    g_window = nullptr;
    return status;
}
