#include "gui/window/OutsideWatcher.h"

#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/editor/EditorPane.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreePane.h"
#include "gui/window/CatalogKeeper.h"
#include "gui/window/ConflictBar.h"
#include "gui/window/MainWindow.h"
#include "merge/OutlineMerge.h"
#include "storage/ConflictCopies.h"
#include "storage/Os.h"

#include <QApplication>
#include <QFile>
#include <QFileSystemWatcher>
#include <QScrollBar>
#include <QStatusBar>
#include <QSysInfo>
#include <QTextCursor>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <ctime>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace qv {

namespace {

constexpr int kMessageMs = 10000;
// A version that keeps changing under the save is read at most this often.
constexpr int kReadTries = 3;

QString fileName(const std::string &path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The catalogue's own entries and this program's, which tell nothing new.
bool ownEntry(std::string_view name)
{
    if (name.empty() || name.front() == '.' || name.starts_with("Quorvel.journal"))
        return true;
    for (std::string_view own : {"data.dat", "text.dat", "data.bak", "text.bak", "Quorvel.ini"})
        if (name == own || (name.starts_with(own) && name[own.size()] == '.'))
            return true;
    return false;
}

Node *nodeWithCaption(const Catalog &catalog, const Bytes &caption)
{
    for (Node *n = catalog.outline().first(); n; n = flatNext(n))
        if (n->caption() == caption)
            return n;
    return nullptr;
}

// What the window shows of a catalogue, kept across its replacement.
struct ViewState {
    std::optional<Bytes> selected;
    int anchor = 0, caret = 0, noteScroll = 0, treeScroll = 0;

    ViewState(TreePane &pane, EditorPane &editor)
    {
        if (const Node *node = pane.selectedNode())
            selected = node->caption();
        const QTextCursor cursor = editor.editor()->textCursor();
        anchor = cursor.anchor();
        caret = cursor.position();
        noteScroll = editor.editor()->verticalScrollBar()->value();
        treeScroll = pane.tree()->verticalScrollBar()->value();
    }

    // The branches open in `from` open in `to`, by caption.
    static void keepOpen(const Catalog &from, const Catalog &to)
    {
        std::unordered_set<std::string_view> open;
        for (const Node *n = from.outline().first(); n; n = flatNext(n))
            if (n->shownOpen() && n->hasChildren())
                open.insert(n->caption());
        if (open.empty())
            return;
        for (const Node *n = to.outline().first(); n; n = flatNext(n))
            if (n->hasChildren() && open.count(n->caption()))
                n->setShownOpen(true);
    }

    void restore(const Catalog &catalog, TreePane &pane, EditorPane &editor) const
    {
        Node *node = selected ? nodeWithCaption(catalog, *selected) : nullptr;
        pane.selectNode(node ? node : catalog.outline().first());
        pane.tree()->verticalScrollBar()->setValue(treeScroll);
        if (!node || editor.editor()->inParts())
            return;
        NoteEditor *note = editor.editor();
        QTextCursor cursor = note->textCursor();
        const int end = std::max(0, note->document()->characterCount() - 1);
        cursor.setPosition(std::min(anchor, end));
        cursor.setPosition(std::min(caret, end), QTextCursor::KeepAnchor);
        note->setTextCursor(cursor);
        note->verticalScrollBar()->setValue(noteScroll);
    }
};

} // namespace

OutsideWatcher::OutsideWatcher(MainWindow &window, CatalogKeeper &keeper)
    : QObject(&window), window_(window), keeper_(keeper), baseDir_(keeper.session().baseDir())
{
    fsWatcher_ = new QFileSystemWatcher(this);
    connect(fsWatcher_, &QFileSystemWatcher::fileChanged, this, &OutsideWatcher::filesMoved);
    connect(fsWatcher_, &QFileSystemWatcher::directoryChanged, this, &OutsideWatcher::folderMoved);
    quiet_ = new QTimer(this);
    quiet_->setSingleShot(true);
    quiet_->setInterval(kQuietMs);
    quiet_->setTimerType(Qt::PreciseTimer);
    connect(quiet_, &QTimer::timeout, this, &OutsideWatcher::quietEnded);
    // For file systems that send no events (network shares, some FUSE ones).
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &OutsideWatcher::filesMoved);
    conflictBar_ = new ConflictBar(window.catalog(), *window.treePane());
    keeper_.setOutsideTaker([this] { return takeInNow(); });
    // A sync engine's conflict copy appearing: merged once things are quiet.
    connect(&keeper_, &CatalogKeeper::folderChanged, this, [this] {
        copiesPending_ = true;
        quiet_->start();
    });
}

OutsideWatcher::~OutsideWatcher()
{
    keeper_.setOutsideTaker({});
    cancelRead();
    if (disposer_.joinable())
        disposer_.join();
}

OutsideWatcher::Identities OutsideWatcher::onDisk() const
{
    const CatalogFiles &files = keeper_.session().files();
    return {fileIdentity(files.outlinePath()), fileIdentity(files.recordPath())};
}

void OutsideWatcher::start()
{
    if (watching_)
        return;
    watching_ = true;
    keeper_.watchOutside();
    QString folder = fileName(baseDir_);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    fsWatcher_->addPath(folder);
    watchFiles();
    seen_ = onDisk();
    names_ = os::namesIn(baseDir_);
    std::sort(names_.begin(), names_.end());
    poll_->start();
}

void OutsideWatcher::stop()
{
    watching_ = false;
    poll_->stop();
    quiet_->stop();
    cancelRead();
}

void OutsideWatcher::watchFiles()
{
    // A file replaced by a rename leaves the watch list with the old one.
    const CatalogFiles &files = keeper_.session().files();
    for (const std::string &path : {files.outlinePath(), files.recordPath()}) {
        const QString name = fileName(path);
        if (!fsWatcher_->files().contains(name) && fileExists(path))
            fsWatcher_->addPath(name);
    }
}

void OutsideWatcher::filesMoved()
{
    if (!watching_)
        return;
    watchFiles();
    const Identities now = onDisk();
    if (now != seen_) {
        seen_ = now;
        quiet_->start();
    }
}

void OutsideWatcher::folderMoved()
{
    if (!watching_)
        return;
    filesMoved();
    std::vector<std::string> names = os::namesIn(baseDir_);
    std::sort(names.begin(), names.end());
    bool appeared = false;
    for (const std::string &name : names)
        if (!ownEntry(name) && !std::binary_search(names_.begin(), names_.end(), name))
            appeared = true;
    names_ = std::move(names);
    if (appeared)
        emit keeper_.folderChanged();
}

bool OutsideWatcher::busy() const
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return true;
    const TreePane *pane = window_.treePane();
    const OutlineView *tree = pane->tree();
    const QWidget *focus = QApplication::focusWidget();
    // The rename line is the tree's child.
    return (focus && focus != tree && tree->isAncestorOf(focus))
        || tree->dragState() != OutlineView::DragState::None || pane->commands()->busy();
}

void OutsideWatcher::quietEnded()
{
    if (!watching_)
        return;
    const Identities now = onDisk();
    if (now != seen_) {
        seen_ = now;
        quiet_->start();
        return;
    }
    if (copiesPending_) {
        if (reading_ || busy()) {
            quiet_->start();
            return;
        }
        copiesPending_ = false;
        mergeCopies();
    }
    // Our own save, or the files back as they were.
    if (!keeper_.session().changedOutside() || refused_ == now)
        return;
    if (reading_ || busy()) {
        quiet_->start();
        return;
    }
    startRead();
}

void OutsideWatcher::startRead()
{
    reading_ = true;
    const uint64_t generation = ++generation_;
    reader_ = std::thread([this, generation] {
        auto read = std::make_unique<Read>();
        read->theirs = std::make_unique<Catalog>();
        read->read = CatalogSession::readOutside(baseDir_, *read->theirs);
        readResult_ = std::move(read);
        QMetaObject::invokeMethod(
            this, [this, generation] { readDone(generation); }, Qt::QueuedConnection);
    });
}

void OutsideWatcher::cancelRead()
{
    ++generation_;
    if (reader_.joinable())
        reader_.join();
    reading_ = false;
    readResult_.reset();
}

void OutsideWatcher::readDone(uint64_t generation)
{
    if (generation != generation_)
        return;
    reader_.join();
    reading_ = false;
    std::unique_ptr<Read> read = std::move(readResult_);
    if (!watching_ || !read)
        return;
    if (busy()) {
        quiet_->start();
        return;
    }
    takeIn(*read);
}

bool OutsideWatcher::takeInNow()
{
    if (!watching_)
        return false;
    cancelRead();
    for (int tries = 0; tries < kReadTries; ++tries) {
        if (!keeper_.session().changedOutside())
            return true;
        Read read;
        read.theirs = std::make_unique<Catalog>();
        read.read = CatalogSession::readOutside(baseDir_, *read.theirs);
        if (takeIn(read))
            return true;
        if (refused_ == onDisk())
            return false;
    }
    return false;
}

bool OutsideWatcher::takeIn(Read &read)
{
    const Identities now = onDisk();
    if (Identities{read.read.outline, read.read.record} != now) {
        // Changed again while it was read: once it is quiet.
        seen_ = now;
        quiet_->start();
        return false;
    }
    if (!keeper_.session().takesIn(read.read) || !apply(read)) {
        refused_ = now;
        window_.statusBar()->showMessage(
            QStringLiteral(u"Файлы каталога изменены другой программой и не читаются целиком; "
                           u"перед сохранением поверх них программа спросит"),
            kMessageMs);
        return false;
    }
    refused_.reset();
    return true;
}

void OutsideWatcher::mergeCopies()
{
    if (conflicts::find(baseDir_).empty())
        return;
    Catalog &catalog = window_.catalog();
    TreePane &pane = *window_.treePane();
    EditorPane &editor = *window_.editorPane();
    const ViewState view(pane, editor);
    const bool wasModified = catalog.modified();
    merge::Report report = keeper_.mergeConflictCopies(catalog);
    if (report.oursChanges == 0 && report.theirsChanges == 0 && report.conflicts.empty()
        && catalog.modified() == wasModified)
        return;
    view.restore(catalog, pane, editor);
    // Its steps name nodes of the catalogue that was.
    pane.commands()->undoStack()->clear();
    conflictBar_->showConflicts(std::move(report.conflicts));
    seen_ = onDisk();
    emit tookIn();
}

bool OutsideWatcher::apply(Read &read)
{
    Catalog &catalog = window_.catalog();
    Catalog *version = read.theirs.get();
    auto merged = std::make_unique<Catalog>();
    merge::Report report;
    if (catalog.modified()) {
        Catalog base;
        try {
            keeper_.session().loadBase(base);
        } catch (...) {
            // A base that cannot be read is none: nothing is deleted.
            base.clear();
        }
        const merge::Side ours{fromQ(QSysInfo::machineHostName()), static_cast<int64_t>(std::time(nullptr))};
        const merge::Side theirs{fromQ(QStringLiteral(u"другой компьютер")),
                                 std::max(read.read.outline.mtimeNs, read.read.record.mtimeNs) / 1000000000};
        try {
            report = merge::mergeCatalogs(base, catalog, *read.theirs, ours, theirs, *merged);
        } catch (...) {
            return false;
        }
        if (!merge::sameCatalog(*merged, *read.theirs)) {
            merged->markChanged();
            version = merged.get();
        }
    }
    TreePane &pane = *window_.treePane();
    EditorPane &editor = *window_.editorPane();
    const ViewState view(pane, editor);
    ViewState::keepOpen(catalog, *version);
    keeper_.takeIn(catalog, *version, read.read, [&] { view.restore(catalog, pane, editor); });
    // Its steps name nodes of the catalogue that was.
    pane.commands()->undoStack()->clear();
    // The catalogue that was, and the version not taken, are let go off
    // the window's thread: hundreds of thousands of pieces.
    if (disposer_.joinable())
        disposer_.join();
    disposer_ = std::thread([old = std::move(read.theirs), other = std::move(merged)]() mutable {
        old.reset();
        other.reset();
    });
    conflictBar_->showConflicts(std::move(report.conflicts));
    window_.statusBar()->showMessage(
        catalog.modified() ? QStringLiteral(
            u"Файлы каталога изменены другой программой: их изменения слиты с несохранёнными")
                           : QStringLiteral(u"Файлы каталога изменены другой программой: каталог перечитан"),
        kMessageMs);
    emit tookIn();
    return true;
}

} // namespace qv
