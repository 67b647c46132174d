// A keystroke in a long note: wall time of showing a 1 MB note in the
// editor pane (to its first paint), then of typing a character, a line break
// and a backspace in its middle with the change handler attached (so each
// keystroke also reaches the record).
//
//   bench_gui_editor [--bytes N] [--keys K] [--bare] [--line]
//
// --bare types into a lone QPlainTextEdit holding the same text, for the
// toolkit's own share of the cost. --line makes the note one line of words
// and times only showing it.

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/common/Codec.h"
#include "gui/editor/EditorPane.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTextBlock>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGoalMs = 5.0;

// Lines of mixed words and addresses, "~~" between them, about `bytes` long.
qv::Bytes longNote(size_t bytes, bool oneLine)
{
    static const char *const words[]
        = {"заметка", "ссылка", "note", "text", "каталог", "www.example.org", "http://q.example/path?x=1",
           "узел",    "line",   "слово"};
    qv::gen::Random rnd(42);
    std::string utf8;
    qv::Bytes note;
    size_t lineLength = 0;
    while (note.size() < bytes) {
        qv::Bytes w = qv::W(words[rnd.below(std::size(words))]);
        note += w;
        lineLength += w.size();
        if (lineLength > 70 && !oneLine) {
            note += "~~";
            lineLength = 0;
        } else {
            note += ' ';
            ++lineLength;
        }
    }
    return note;
}

// This thread's processor time: on a busy machine, steadier than the wall clock.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void press(QWidget *w, int key, const QString &text)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &up);
}

} // namespace

int main(int argc, char **argv)
{
    size_t bytes = 1 << 20;
    int keys = 200;
    bool bare = false;
    bool oneLine = false;
    qv::bench::Args args(argc, argv, "usage: bench_gui_editor [--bytes N] [--keys K] [--bare] [--line]");
    while (args.next())
        if (!args.flag("--bare", bare) && !args.flag("--line", oneLine) && !args.option("--bytes", bytes)
            && !args.option("--keys", keys))
            args.usage();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    qv::Catalog catalog;
    qv::Node *node = catalog.outline().append(catalog.outline().top(), qv::W("Длинная заметка"));
    catalog.records().append(node->caption(), longNote(bytes, oneLine), "0");

    qv::EditorPane pane(catalog);
    pane.setSelectedNodeProvider([node] { return node; });
    pane.resize(800, 600);
    pane.show();
    QCoreApplication::processEvents();

    const auto loadStart = Clock::now();
    const double loadCpuStart = cpuMs();
    pane.showNote(node);
    pane.repaint();
    const double loadMs = std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();
    const double loadCpuMs = cpuMs() - loadCpuStart;
    if (oneLine) {
        std::printf("note: %zu bytes in one line; showing it took %.1f ms, %.1f ms of processor time (%s)\n",
                    catalog.records().at(0).text.size(), loadMs, loadCpuMs,
                    pane.editor()->isReadOnly() ? "read-only" : "editable");
        return 0;
    }
    // The rest of a long note goes in from the event loop, a slice at a time.
    while (pane.editor()->filling())
        QCoreApplication::processEvents();
    const double filledMs = std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();
    pane.attachChangeHandler();
    QCoreApplication::processEvents();

    QPlainTextEdit plain;
    if (bare) {
        pane.hide();
        plain.resize(800, 600);
        plain.show();
        plain.setPlainText(pane.editor()->noteText());
    }
    QPlainTextEdit *ed = bare ? &plain : pane.editor();
    ed->setFocus();
    QTextCursor c = ed->textCursor();
    c.setPosition(ed->document()->characterCount() / 2);
    ed->setTextCursor(c);
    ed->ensureCursorVisible();
    QCoreApplication::processEvents();

    struct Kind {
        const char *name;
        int key;
        QString text;
    };
    const Kind kinds[] = {{"character", Qt::Key_A, QStringLiteral("ж")},
                          {"line break", Qt::Key_Return, QStringLiteral("\r")},
                          {"backspace", Qt::Key_Backspace, QString()}};
    bool ok = true;
    std::printf("note: %zu bytes, %d lines; showing it took %.1f ms (%.1f ms of processor time; all of it in "
                "after %.1f ms)\n",
                catalog.records().at(0).text.size(), ed->document()->blockCount(), loadMs, loadCpuMs,
                filledMs);
    for (const Kind &k : kinds) {
        const auto start = Clock::now();
        const double cpuStart = cpuMs();
        for (int i = 0; i < keys; ++i) {
            press(ed, k.key, k.text);
            QCoreApplication::processEvents(); // repaint as a user would see it
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / keys;
        std::printf("%-10s %.3f ms per keystroke, %.3f ms of processor time (goal < %.0f ms)\n", k.name, ms,
                    (cpuMs() - cpuStart) / keys, kGoalMs);
        ok = ok && ms < kGoalMs;
    }
    // The record holds what the editor shows.
    const bool same
        = bare || catalog.records().at(0).text == qv::editorToRecord(qv::fromQ(pane.editor()->noteText()));
    if (!bare)
        std::printf("record matches the editor: %s\n", same ? "yes" : "NO");
    return ok && same ? 0 : 1;
}
