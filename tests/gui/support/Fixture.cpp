#include "support/Fixture.h"

#include "catalog/Catalog.h"
#include "catalog/Text.h"
#include "gui/common/Codec.h"
#include "gui/editor/EditorPane.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "gui/window/CatalogKeeper.h"
#include "storage/Os.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTest>

namespace qvtest {

QByteArray cp(const char *utf8) { return QByteArray::fromStdString(qv::W(utf8)); }

QString lockName() { return QString::fromStdString(".Quorvel-" + qv::os::machineName() + ".lock"); }
QString journalName() { return QString::fromStdString("Quorvel-" + qv::os::machineName() + ".journal"); }

QByteArray lines(std::initializer_list<const char *> utf8Lines)
{
    QByteArray out;
    for (const char *l : utf8Lines)
        out += cp(l) + "\r\n";
    return out;
}

WindowFixture::WindowFixture()
{
    dir_.setAutoRemove(true);
    QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7777));
    qv::msg::setNextAnswers({});
    qv::msg::clearShown();
}

WindowFixture::~WindowFixture()
{
    discard();
    qv::msg::setNextAnswers({});
    qv::msg::clearShown();
}

std::string WindowFixture::base() const { return QDir(dir_.path()).absolutePath().toStdString() + "/"; }

QString WindowFixture::path(const QString &name) const { return QDir(dir_.path()).absoluteFilePath(name); }

void WindowFixture::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(path(name));
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(name));
    f.write(bytes);
}

QByteArray WindowFixture::readFile(const QString &name) const
{
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool WindowFixture::exists(const QString &name) const { return QFileInfo(path(name)).isFile(); }

QStringList WindowFixture::listing() const
{
    return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

qv::MainWindow *WindowFixture::construct()
{
    if (!window_)
        window_ = std::make_unique<qv::MainWindow>(base());
    return window_.get();
}

qv::MainWindow *WindowFixture::open()
{
    construct();
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get()))
        qWarning("the window was not exposed");
    QCoreApplication::processEvents();
    window_->keeper()->finishBackups(true);
    return window_.get();
}

bool WindowFixture::close()
{
    if (!window_)
        return true;
    const bool closed = window_->close();
    QCoreApplication::processEvents();
    return closed;
}

void WindowFixture::discard() { window_.reset(); }

qv::OutlineView *WindowFixture::tree() const { return window_->treePane()->tree(); }

qv::TreeModel *WindowFixture::model() const { return window_->treePane()->model(); }

QAbstractButton *WindowFixture::saveButton() const { return window_->editorPane()->saveButton(); }

void WindowFixture::click(const QString &objectName)
{
    auto *b = find<QAbstractButton>(objectName);
    QVERIFY2(b, qPrintable(objectName));
    QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
}

void WindowFixture::trigger(const QString &actionName)
{
    QAction *a = window_->treePane()->action(actionName);
    QVERIFY2(a, qPrintable(actionName));
    a->trigger();
}

void WindowFixture::selectIndex(int absoluteIndex)
{
    qv::Node *n = node(absoluteIndex);
    QVERIFY2(n, "no node at that index");
    for (qv::Node *p = n->parent(); p && !p->isTop(); p = p->parent())
        model()->setExpanded(p, true);
    const QModelIndex index = model()->indexFor(n);
    tree()->scrollTo(index);
    if (window_->treePane()->selectedNode() == n)
        return; // a second click would start renaming
    const QRect r = tree()->visualRect(index);
    QVERIFY2(r.isValid(), "row not laid out");
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, r.center());
}

qv::Node *WindowFixture::node(int absoluteIndex) const
{
    return window_->catalog().outline().at(size_t(absoluteIndex));
}

qv::Node *WindowFixture::nodeNamed(const char *caption) const
{
    const qv::Bytes key = qv::W(caption);
    for (qv::Node *n = window_->catalog().outline().first(); n; n = qv::flatNext(n))
        if (n->caption() == key)
            return n;
    return nullptr;
}

qv::Node *WindowFixture::selected() const { return window_->treePane()->selectedNode(); }

QString WindowFixture::outlineText() const
{
    QStringList out;
    for (qv::Node *n = window_->catalog().outline().first(); n; n = qv::flatNext(n))
        out << QString(int(n->depth()), QLatin1Char('\t')) + qv::toQ(n->caption());
    return out.join(QLatin1Char('\n'));
}

void WindowFixture::answer(QList<QMessageBox::StandardButton> answers)
{
    qv::msg::setNextAnswers(std::move(answers));
}

QStringList WindowFixture::takeBoxes()
{
    const QStringList texts = qv::msg::shownTexts();
    qv::msg::clearShown();
    return texts;
}

} // namespace qvtest

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qvtest {

int rerunAsNobody(const char *testFunction)
{
    if (::geteuid() != 0)
        return -1;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return -2;
    self[n] = '\0';
    const pid_t pid = ::fork();
    if (pid < 0)
        return -2;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(120);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("HOME", "/tmp", 1);
        ::setenv("XDG_RUNTIME_DIR", "/tmp", 1);
        char *args[] = {self, const_cast<char *>(testFunction), nullptr};
        ::execv(self, args);
        ::_exit(121);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -2;
    }
    if (!WIFEXITED(status))
        return -2;
    const int code = WEXITSTATUS(status);
    return code >= 120 ? -2 : code;
}

} // namespace qvtest
