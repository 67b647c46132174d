// The window as the program runs it, over the folder given on the command
// line, driven by commands on stdin, one a line. Finds its controls by
// their object names and works them as the user does.
//
//   window_driver DIR
//
//   select CAPTION   selects the node in the tree
//   create CAPTION   the tree's create command, then the new node renamed
//                    in place (F2, the caption typed, Enter)
//   note TEXT        TEXT typed at the end of the selected node's note
//   save             the save-all button clicked
//   wait-idle MS     the event loop runs MS ms (the window's timers and
//                    file watching do their work meanwhile)
//   dump             "node CAPTION<TAB>NOTE" for each node in flat order,
//                    NOTE "-" when it has none
//   quit             the window closed as the user closes it; the program
//                    ends once "ok" is printed
//
// "ready" once the catalogue is loaded ("refused" when another copy holds
// the folder, and the program ends), then "ok" after each command, or
// "error WHY" when it could not be done. Message boxes are never shown:
// each takes its mildest button and is printed as "box TEXT" before the
// next "ready" or "ok". Texts in UTF-8, "\\", "\n", "\r", "\t" escaped.

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreePane.h"
#include "gui/window/MainWindow.h"
#include "tests/kill/WindowLines.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <optional>
#include <string>

namespace {

using killtest::escaped;
using killtest::say;

class Driver : public QObject {
public:
    explicit Driver(qv::MainWindow &window) : window_(window), stdin_(STDIN_FILENO, QSocketNotifier::Read)
    {
        stdin_.setEnabled(false);
        connect(&stdin_, &QSocketNotifier::activated, this, [this] { readInput(); });
    }

    // The catalogue is loaded: commands are taken from now on.
    void begin()
    {
        answer("ready");
        stdin_.setEnabled(true);
    }
    // Another copy holds the folder: the window is not to be shown.
    void refuse() { answer("refused"); }

private:
    void readInput()
    {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // Nobody is left to drive the window.
            stdin_.setEnabled(false);
            QApplication::exit(1);
            return;
        }
        input_.append(buf, static_cast<size_t>(n));
        for (size_t eol; (eol = input_.find('\n')) != std::string::npos;) {
            lines_.push_back(input_.substr(0, eol));
            input_.erase(0, eol + 1);
        }
        next();
    }

    void next()
    {
        while (!busy_ && !lines_.empty()) {
            const std::string line = lines_.front();
            lines_.pop_front();
            const size_t blank = line.find(' ');
            const std::string verb = line.substr(0, blank);
            const QString arg
                = blank == std::string::npos ? QString() : QString::fromStdString(line.substr(blank + 1));
            const QString why = run(verb, arg);
            if (!why.isEmpty())
                answer("error " + escaped(why));
            else if (!busy_)
                answer("ok");
        }
    }

    // Runs one command; the reason it failed, or empty.
    QString run(const std::string &verb, const QString &arg)
    {
        qv::TreePane *pane = window_.treePane();
        if (verb == "select") {
            qv::Node *node = find(arg);
            if (!node)
                return QStringLiteral("no node ") + arg;
            pane->selectNode(node);
        } else if (verb == "create") {
            pane->action(QStringLiteral("N1"))->trigger();
            QTest::keyClick(pane->tree(), Qt::Key_F2);
            auto *editor = pane->tree()->viewport()->findChild<QLineEdit *>();
            if (!editor)
                return QStringLiteral("no caption editor");
            editor->setText(arg);
            QTest::keyClick(editor, Qt::Key_Return);
            QCoreApplication::processEvents();
            if (!pane->selectedNode() || qv::toQ(pane->selectedNode()->caption()) != arg)
                return QStringLiteral("the new node is not ") + arg;
        } else if (verb == "note") {
            auto *editor = window_.findChild<QWidget *>(QStringLiteral("RxRichEdit1"));
            if (!editor)
                return QStringLiteral("no note editor");
            editor->setFocus();
            QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClicks(editor, arg);
        } else if (verb == "save") {
            auto *button = window_.findChild<QAbstractButton *>(QStringLiteral("SpeedButton3"));
            if (!button)
                return QStringLiteral("no save button");
            button->click();
        } else if (verb == "wait-idle") {
            busy_ = true;
            QTimer::singleShot(arg.toInt(), this, [this] {
                busy_ = false;
                answer("ok");
                next();
            });
        } else if (verb == "dump") {
            qv::Catalog &catalog = window_.catalog();
            for (const qv::Node *n = catalog.outline().first(); n; n = qv::flatNext(n)) {
                const std::optional<qv::Bytes> note = catalog.noteForEditor(n->caption());
                say("node " + escaped(qv::toQ(n->caption())) + "\t" + (note ? escaped(qv::toQ(*note)) : "-"));
            }
        } else if (verb == "quit") {
            window_.close();
            answer("ok");
            busy_ = true;
            QApplication::exit(0);
        } else {
            return QStringLiteral("unknown command");
        }
        return {};
    }

    qv::Node *find(const QString &caption)
    {
        for (qv::Node *n = window_.catalog().outline().first(); n; n = qv::flatNext(n))
            if (qv::toQ(n->caption()) == caption)
                return n;
        return nullptr;
    }

    // The boxes shown since the last answer, then the answer.
    void answer(const std::string &line)
    {
        const QStringList shown = qv::msg::shownTexts();
        for (; told_ < shown.size(); ++told_)
            say("box " + escaped(shown[told_]));
        say(line);
    }

    qv::MainWindow &window_;
    QSocketNotifier stdin_;
    std::string input_;
    std::deque<std::string> lines_;
    bool busy_ = false;
    qsizetype told_ = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_driver DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    if (dir.back() != '/')
        dir += '/';

    // As the program's main() does.
    qv::widenStack();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&toolkitTexts);
    qv::msg::setNextAnswers({});

    qv::MainWindow window(dir);
    Driver driver(window);
    if (window.refused()) {
        driver.refuse();
        return 1;
    }
    window.show();
    auto *poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [poll, &window, &driver] {
        if (!window.started())
            return;
        poll->stop();
        QTimer::singleShot(0, &window, [&driver] { driver.begin(); });
    });
    poll->start(10);
    return app.exec();
}
