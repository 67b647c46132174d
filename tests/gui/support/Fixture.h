// A main window over a scratch catalogue folder, for the window tests:
// files in, start-up, clicks on named controls, answered boxes, files out.
#pragma once

#include "gui/common/MessageBox.h"
#include "gui/window/MainWindow.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace qv {
class Node;
class OutlineView;
class TreeModel;
} // namespace qv

namespace qvtest {

// Windows-1251 bytes of a UTF-8 literal.
QByteArray cp(const char *utf8);
// This machine's lock file and journal in a catalogue folder.
QString lockName();
QString journalName();
// CR LF joined lines, each ending with CR LF.
QByteArray lines(std::initializer_list<const char *> utf8Lines);

class WindowFixture {
public:
    // A fresh folder; message boxes are answered (never shown) from now on.
    WindowFixture();
    ~WindowFixture();
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    // The folder, ending with a separator.
    std::string base() const;
    QString path(const QString &name) const;
    void writeFile(const QString &name, const QByteArray &bytes);
    QByteArray readFile(const QString &name) const;
    bool exists(const QString &name) const;
    // File names in the folder, sorted.
    QStringList listing() const;

    // Runs the creation sequence only.
    qv::MainWindow *construct();
    // Constructs (unless done), shows and waits until the start-up has run
    // and the backups it began are made (as a save would wait for them).
    qv::MainWindow *open();
    qv::MainWindow *window() const { return window_.get(); }
    // Asks the window to close; true when it closed.
    bool close();
    // Destroys the window (closed or not) without a close event.
    void discard();

    qv::OutlineView *tree() const;
    qv::TreeModel *model() const;
    QAbstractButton *saveButton() const;
    template <class T = QWidget>
    T *find(const QString &objectName) const
    {
        return window_->findChild<T *>(objectName);
    }
    // Clicks a toolbar or palette button by objectName; fails the test when missing.
    void click(const QString &objectName);
    // Triggers a tree menu item ("N1", ...).
    void trigger(const QString &actionName);
    // Selects the node at an absolute index by clicking its row's centre,
    // expanding its ancestors first when they are collapsed.
    void selectIndex(int absoluteIndex);
    qv::Node *node(int absoluteIndex) const;
    // The first node in flat order with this caption (UTF-8), or null.
    qv::Node *nodeNamed(const char *caption) const;
    qv::Node *selected() const;
    // Captions in flat order, each indented by one tab per level, joined by '\n'.
    QString outlineText() const;

    // Queues the answers of the next boxes; boxes beyond them take their mildest button.
    static void answer(QList<QMessageBox::StandardButton> answers);
    // Texts of the boxes shown since the last call, then forgets them.
    static QStringList takeBoxes();

private:
    QTemporaryDir dir_;
    std::unique_ptr<qv::MainWindow> window_;
};

} // namespace qvtest

namespace qvtest {

// Runs one test function of this program again as the user 65534 when the
// tests run as root, where permission checks would not apply: returns the
// child's exit status, or -1 when not root (run the body inline then) and
// -2 when the child could not be started.
int rerunAsNobody(const char *testFunction);

} // namespace qvtest

// At the top of a test function that must not run as root: as root, runs the
// function again as user 65534 and ends here with the child's verdict.
#define QV_RUN_AS_NOBODY()                                                                                   \
    do {                                                                                                     \
        const int child_ = qvtest::rerunAsNobody(QTest::currentTestFunction());                              \
        if (child_ == -2)                                                                                    \
            QSKIP("cannot run as an unprivileged user");                                                     \
        if (child_ >= 0) {                                                                                   \
            QCOMPARE(child_, 0);                                                                             \
            return;                                                                                          \
        }                                                                                                    \
    } while (false)

namespace qvtest {} // namespace qvtest
