#include "gui/window/MainWindow.h"

#include "gui/common/Codec.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"
#include "gui/tree/FindController.h"
#include "gui/tree/IconPalette.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/window/AboutPanel.h"
#include "gui/window/AccessibleNames.h"
#include "gui/window/CatalogKeeper.h"
#include "gui/window/CommandMenu.h"
#include "gui/window/ExchangeCommands.h"
#include "gui/window/OutsideWatcher.h"
#include "gui/window/TerminationSignals.h"
#include "gui/window/WindowSettings.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>

namespace qv {

MainWindow::MainWindow(const std::string &baseDir, QWidget *parent) : QMainWindow(parent), baseDir_(baseDir)
{
    setObjectName(QStringLiteral("Form1"));
    {
        QString folder = QFile::decodeName(QByteArray::fromStdString(baseDir));
        while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
            folder.chop(1);
        folderName_ = QFileInfo(folder).fileName();
        setWindowTitle(titleFor(folderName_, false));
    }
    setWindowIcon(qv::icons::programIcon());
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    // The size a new window gets when the settings give none: three
    // quarters of the screen, as desktop systems choose for a new window.
    if (QScreen *s = screen())
        resize((s->availableGeometry().size() * 3 / 4).expandedTo(minimumSize()));

    keeper_ = std::make_unique<CatalogKeeper>(baseDir, this);
    buildLayout();
    createWindowActions();
    connectParts();
    exchange_ = new ExchangeCommands(*this);
    commandMenu_ = new CommandMenu(*this);
    outside_ = new OutsideWatcher(*this, *keeper_);
    connect(outside_, &OutsideWatcher::tookIn, this, &MainWindow::updateSaveAllEnabled);
    connect(outside_, &OutsideWatcher::tookIn, treePane_, &TreePane::noteEdited);
    qApp->installEventFilter(this);
    runCreationSequence();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    // Its reads end before the keeper it reports to.
    delete outside_;
}

QString MainWindow::titleFor(const QString &folderName, bool readOnly)
{
    QString title = folderName.isEmpty() ? QStringLiteral("/") : folderName;
    title += QStringLiteral("[*]");
    if (readOnly)
        title += QStringLiteral(u" (только чтение)");
    return title + QStringLiteral(u" — Quorvel");
}

const CatalogFiles &MainWindow::files() const { return keeper_->session().files(); }

void MainWindow::buildLayout()
{
    treePane_ = new qv::TreePane(catalog_);
    editorPane_ = new qv::EditorPane(catalog_);
    settingsPanel_ = new qv::SettingsPanel(editorPane_->settingsToggleAction());
    aboutPanel_ = new AboutPanel(editorPane_->aboutToggleAction());
    editorPane_->setPanels(settingsPanel_, aboutPanel_);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("RxSplitter1"));
    splitter_->setHandleWidth(4);
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(treePane_);
    splitter_->addWidget(editorPane_);
    // Only the editor pane takes up changes of the window's width.
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);
    // The pane's own width until the settings give another.
    setTreeWidth(qv::TreePane::kMinimumWidth);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setMinimumHeight(23);
    statusBar()->setSizeGripEnabled(true);

    // Focus follows the mouse between the tree and the editor.
    treePane_->tree()->viewport()->setMouseTracking(true);
    editorPane_->editor()->viewport()->setMouseTracking(true);
}

void MainWindow::connectParts()
{
    auto *tree = treePane_->tree();
    editorPane_->setSelectedNodeProvider([this] { return treePane_->selectedNode(); });
    editorPane_->setSettings(&prefs_);
    treePane_->setBeforeCommand([this] { editorPane_->flushNote(); });

    auto showNote = [this](qv::Node *node) {
        if (!node)
            return;
        try {
            editorPane_->showNote(node);
            // A note shown during a find shows where the find text is.
            const QString query = treePane_->findQuery();
            if (!query.isEmpty())
                editorPane_->editor()->showFound(query, true);
        } catch (const std::exception &e) {
            qv::msg::showError(this, e);
        }
        updateSaveAllEnabled();
    };
    connect(treePane_, &TreePane::selectionMoved, this, showNote);
    connect(treePane_, &TreePane::treeClicked, this, showNote);
    connect(treePane_, &TreePane::commandDone, this, &MainWindow::updateSaveAllEnabled);
    connect(editorPane_, &EditorPane::edited, this, &MainWindow::updateSaveAllEnabled);
    // The find reads the catalogue again after an edit or a command.
    connect(editorPane_, &EditorPane::edited, treePane_, &TreePane::noteEdited);
    connect(treePane_, &TreePane::findQueryChanged, this,
            [this](const QString &query) { editorPane_->editor()->showFound(query, false); });
    connect(editorPane_->saveAllAction(), &QAction::triggered, this, [this] { saveAll(); });
    connect(treePane_, &TreePane::commandDone, keeper_.get(), &CatalogKeeper::changed);
    connect(editorPane_, &EditorPane::edited, keeper_.get(), &CatalogKeeper::changed);

    connect(settingsPanel_, &qv::SettingsPanel::applied, this, [this](const qv::Settings &s) { prefs_ = s; });
    connect(settingsPanel_, &qv::SettingsPanel::treeFontApplied, treePane_, &qv::TreePane::setTreeFont);
    connect(settingsPanel_, &qv::SettingsPanel::editorFontApplied, editorPane_,
            &qv::EditorPane::setEditorFont);
    connect(settingsPanel_, &qv::SettingsPanel::treeColorsApplied, treePane_, &qv::TreePane::setTreeColors);
    connect(settingsPanel_, &qv::SettingsPanel::editorColorsApplied, editorPane_,
            &qv::EditorPane::setEditorColors);
    connect(settingsPanel_, &qv::SettingsPanel::dragDropApplied, tree, &qv::OutlineView::setDragDropEnabled);

    // Menu items show their hints while highlighted; menus made later are
    // watched when they first open (eventFilter).
    for (QMenu *menu : {treePane_->popupMenu(), editorPane_->contextMenu()})
        watchMenu(menu);
    nameForScreenReaders(this);
}

void MainWindow::createWindowActions()
{
    // The panes open their own context menus (the menu key included); the
    // window has none of its own to offer over them.
    setContextMenuPolicy(Qt::NoContextMenu);

    switchPaneAction_ = new QAction(QStringLiteral("Дерево / заметка"), this);
    switchPaneAction_->setObjectName(QStringLiteral("switchPaneAction"));
    switchPaneAction_->setShortcut(QKeySequence(Qt::Key_F6));
    switchPaneAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(switchPaneAction_);
    connect(switchPaneAction_, &QAction::triggered, this, [this] { switchPane(Qt::ShortcutFocusReason); });
}

bool MainWindow::treeHasFocus() const
{
    const QWidget *focus = QApplication::focusWidget();
    const QWidget *tree = treePane_->tree();
    return focus && (focus == tree || tree->isAncestorOf(focus));
}

void MainWindow::switchPane(Qt::FocusReason reason)
{
    if (treeHasFocus())
        editorPane_->editor()->setFocus(reason);
    else
        treePane_->tree()->setFocus(reason);
}

bool MainWindow::focusNextPrevChild(bool next)
{
    // The tab order is the tree and the note, nothing else: the toolbars'
    // buttons take no focus, and the panels' controls keep the order of
    // their own.
    const QWidget *focus = QApplication::focusWidget();
    if (treeHasFocus() || (focus && focus == editorPane_->editor())) {
        switchPane(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return QMainWindow::focusNextPrevChild(next);
}

void MainWindow::watchMenu(QMenu *menu)
{
    if (!menu)
        return;
    connect(menu, &QMenu::hovered, this, &MainWindow::showActionHint, Qt::UniqueConnection);
    connect(menu, &QMenu::aboutToHide, statusBar(), &QStatusBar::clearMessage, Qt::UniqueConnection);
}

void MainWindow::showActionHint(QAction *action)
{
    statusBar()->showMessage(action ? action->statusTip() : QString());
}

void MainWindow::runCreationSequence()
{
    // Nothing of the folder is read before it is ours.
    if (!keeper_->claimFolder()) {
        refused_ = true;
        return;
    }
    if (readOnly())
        showReadOnly();
    settings_.open(baseDir_ + "Quorvel.ini");
    try {
        qv::Settings &s = prefs_;
        qv::readBackup(settings_, s);
        settingsPanel_->setSettings(s);
        // Opened now, copied once the window is in use.
        if (s.backup)
            keeper_->openBackups();
        qv::readTreeWidthAndDragDrop(settings_, s);
        settingsPanel_->setSettings(s);
        setTreeWidth(s.treeWidth);
        treePane_->tree()->setDragDropEnabled(s.dragDrop);
        treePane_->palette()->collapse();
        settingsPanel_->close();
        aboutPanel_->close();
    } catch (const std::exception &e) {
        qv::msg::showError(this, e);
    }
}

void MainWindow::setTreeWidth(int width)
{
    // A stored width never takes the note pane's room: at most what the
    // screen shows beside the note pane at its smallest.
    const int room = screen()->availableGeometry().width() - splitter_->handleWidth()
        - editorPane_->minimumSizeHint().width();
    width = std::max(std::min(width, room), int(qv::TreePane::kMinimumWidth));
    splitter_->setSizes({width, std::max(1, this->width() - width)});
    treePane_->resize(width, treePane_->height());
}

void MainWindow::beginActivation()
{
    if (activated_ || refused_)
        return;
    activated_ = true;
    try {
        // The placement is restored before the window reaches the screen;
        // the rest runs once it is there, so that a box about the catalogue
        // stands over the window.
        qv::Settings &s = prefs_;
        s.placement = qv::placementOf(*this); // the defaults: where the window is
        qv::readPlacement(settings_, s);
        settingsPanel_->setSettings(s);
        if (s.restore)
            qv::applyPlacement(*this, s.placement, [this] { fitMinimumToFrame(); });
    } catch (const std::exception &e) {
        qv::msg::showError(this, e);
        keeper_->startBackups();
        return;
    }
    QMetaObject::invokeMethod(this, &MainWindow::runActivationSequence, Qt::QueuedConnection);
}

void MainWindow::runActivationSequence()
{
    // Closed before it got this far: nothing is loaded.
    if (!isVisible())
        return;
    try {
        started_ = true;
        // Before the first note is shown, so that it shows recovered edits.
        keeper_->load(catalog_);
        treePane_->palette()->fillPictures();
        if (qv::Node *first = catalog_.outline().first()) {
            treePane_->selectNode(first);
            editorPane_->showNote(first);
        } else {
            // The first thing to do in an empty catalogue is in the tree.
            treePane_->tree()->setFocus(Qt::OtherFocusReason);
        }
        qv::Settings &s = prefs_;
        qv::readFonts(settings_, s);
        settingsPanel_->setSettings(s);
        settingsPanel_->applyFonts();
        qv::readColors(settings_, s);
        settingsPanel_->setSettings(s);
        settingsPanel_->apply();
        qv::readLink(settings_, s);
        settingsPanel_->setSettings(s);
        editorPane_->updatePasteEnabled();
        editorPane_->attachChangeHandler();
    } catch (const std::exception &e) {
        qv::msg::showError(this, e);
    }
    updateSaveAllEnabled();
    // The backups are copied while the window is in use; a save waits for them.
    keeper_->startBackups();
    if (started_)
        outside_->start();
}

bool MainWindow::saveAll() { return saveCatalogue(true); }

bool MainWindow::saveCatalogue(bool interactive)
{
    editorPane_->flushNote();
    const bool saved = keeper_->save(catalog_, interactive);
    updateSaveAllEnabled();
    if (saved && interactive)
        QApplication::beep();
    return saved;
}

bool MainWindow::saveAtClose(bool interactive)
{
    // Whatever the save does, the journal has every change first.
    const bool journalled = keeper_->flush(interactive);
    for (;;) {
        if (saveCatalogue(interactive))
            return writeSettingsAtClose(interactive);
        // A save the user declined, or nobody there to ask: the run stays.
        if (!interactive || !keeper_->saveFailed())
            return false;
        switch (keeper_->askAfterFailedSave(catalog_, journalled)) {
        case CatalogKeeper::AfterFailedSave::Retry:
            continue;
        case CatalogKeeper::AfterFailedSave::CopySaved:
        case CatalogKeeper::AfterFailedSave::CloseUnsaved:
            return true;
        case CatalogKeeper::AfterFailedSave::KeepOpen:
            return false;
        }
    }
}

bool MainWindow::readOnly() const { return keeper_->session().readOnly(); }

void MainWindow::showReadOnly()
{
    treePane_->setReadOnly(true);
    editorPane_->setReadOnly(true);
    exchange_->setReadOnly(true);
    auto *line
        = new QLabel(QStringLiteral(u"Только чтение: нет прав на запись в папку каталога и его файлы"));
    line->setObjectName(QStringLiteral("readOnlyLabel"));
    statusBar()->addPermanentWidget(line);
    setWindowTitle(titleFor(folderName_, true));
}

bool MainWindow::writeSettings(bool interactive)
{
    // A folder that cannot be written keeps its settings as they are.
    if (readOnly())
        return true;
    try {
        // What the panel shows is written, applied or not, as it always was.
        qv::Settings s = settingsPanel_->settings();
        s.treeWidth = treePane_->width();
        s.placement = qv::placementOf(*this);
        settings_.setWriteThrough(keeper_->session().writesThrough(settings_.path()));
        qv::writeSettings(settings_, s);
    } catch (const std::exception &e) {
        report(e, interactive);
        return false;
    }
    return true;
}

bool MainWindow::writeSettingsAtClose(bool interactive)
{
    // The catalogue is saved by now: settings that cannot be written (the
    // file made read-only, or not a file at all) may be let go, so that the
    // window can always be closed. Keeping it open stays the default.
    while (!writeSettings(interactive)) {
        if (!interactive)
            return false;
        const QMessageBox::StandardButton answer = qv::msg::ask(
            this, QMessageBox::Warning, QStringLiteral("Quorvel"),
            QStringLiteral(u"Каталог сохранён, но настройки окна не записаны (%1).\r\nЧто сделать?")
                .arg(QFile::decodeName(QByteArray::fromStdString(settings_.path()))),
            {{QMessageBox::Retry, QStringLiteral(u"Повторить")},
             {QMessageBox::Discard, QStringLiteral(u"Закрыть без записи настроек")},
             {QMessageBox::Cancel, QStringLiteral(u"Отмена")}},
            QMessageBox::Cancel);
        if (answer == QMessageBox::Discard)
            return true;
        if (answer != QMessageBox::Retry)
            return false;
    }
    return true;
}

void MainWindow::report(const std::exception &error, bool interactive)
{
    if (interactive)
        qv::msg::showError(this, error);
    else
        qv::msg::logText(qv::msg::errorText(error));
}

bool MainWindow::runCloseSequence(bool interactive)
{
    // Made before anything is saved, and before the process may leave.
    keeper_->finishBackups(interactive);
    // A window that never loaded its catalogue has nothing to save, and its
    // controls do not hold the stored settings.
    if (started_ && !saveAtClose(interactive))
        return false;
    outside_->stop();
    settings_.release();
    keeper_->releaseFolder();
    closed_ = true;
    return true;
}

void MainWindow::watchSessionEnd()
{
    if (terminationSignals_)
        return;
    terminationSignals_ = new TerminationSignals(this);
    connect(terminationSignals_, &TerminationSignals::received, this, &MainWindow::endSession);
    // The session manager's requests must be answered before they return.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &MainWindow::commitSession,
            Qt::DirectConnection);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::saveBeforeQuit, Qt::DirectConnection);
}

void MainWindow::endSession()
{
    // A second signal while the first one's save runs changes nothing.
    if (ending_)
        return;
    ending_ = true;
    qv::msg::setUnattended();
    if (!closed_)
        runCloseSequence(false);
    closed_ = true;
    close();
    QCoreApplication::exit(0);
}

void MainWindow::commitSession()
{
    if (!started_ || closed_ || ending_)
        return;
    keeper_->flush(false);
    if (saveCatalogue(false))
        writeSettings(false);
}

void MainWindow::saveBeforeQuit()
{
    if (closed_ || ending_ || QThread::currentThread() != thread())
        return;
    ending_ = true;
    qv::msg::setUnattended();
    runCloseSequence(false);
}

void MainWindow::updateSaveAllEnabled()
{
    editorPane_->saveAllAction()->setEnabled(catalog_.modified());
    setWindowModified(catalog_.modified());
    updateEmptyCatalogue();
}

void MainWindow::updateEmptyCatalogue()
{
    const bool empty = started_ && !catalog_.outline().first();
    qv::NoteEditor *note = editorPane_->editor();
    if (note->placeholderText().isEmpty() != empty)
        return;
    note->setNoNode(empty);
    note->setPlaceholderText(empty
                                 ? QStringLiteral(u"Каталог пуст.\n\n"
                                                  u"Создайте первый узел: клавиша Insert или Ctrl+N в дереве "
                                                  u"или кнопка «Создать узел» над ним. "
                                                  u"Заметку узла пишут здесь.")
                                 : QString());
}

bool MainWindow::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        beginActivation();
        break;
    case QEvent::StatusTip:
        // Hints are shown from the mouse's enter and leave and from the
        // highlighted menu item (see eventFilter and watchMenu): the tips
        // Qt sends on its own (empty ones as the mouse leaves a control)
        // would undo them.
        return true;
    default:
        break;
    }
    return QMainWindow::event(event);
}

void MainWindow::fitMinimumToFrame()
{
    const QMargins frame = qv::frameMarginsOf(*this);
    const QSize wanted(kMinimumWidth - frame.left() - frame.right(),
                       kMinimumHeight - frame.top() - frame.bottom());
    if (minimumSize() != wanted)
        setMinimumSize(wanted);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    fitMinimumToFrame();
    // Not every window system keeps to the minimum it is given: a window
    // made smaller than 487 x 310 grows back.
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QSize wanted = size().expandedTo(minimumSize());
    if (wanted != size())
        resize(wanted);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    fitMinimumToFrame();
    // Some window managers never activate a new window.
    beginActivation();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Once the run is ending (endSession, saveBeforeQuit) the sequence has
    // run already, whatever it did.
    if (ending_ || runCloseSequence(true))
        event->accept();
    else
        event->ignore();
}

void MainWindow::showHint(QWidget *widget)
{
    QString hint;
    for (QWidget *w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (!w->statusTip().isEmpty()) {
            hint = w->statusTip();
            break;
        }
    }
    statusBar()->showMessage(hint);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    // The application is told to quit (the session manager's end of the
    // session does this): it then closes every window, and nobody may be
    // there to answer a box.
    if (type == QEvent::Quit && watched == qApp && terminationSignals_) {
        saveBeforeQuit();
        return QMainWindow::eventFilter(watched, event);
    }
    if (type != QEvent::Enter && type != QEvent::Leave && type != QEvent::MouseMove
        && type != QEvent::ToolTipChange && type != QEvent::ActionChanged && type != QEvent::Show)
        return QMainWindow::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (type == QEvent::Show) {
        // A menu of this window opens (a submenu belongs to its menu's owner).
        if (auto *menu = qobject_cast<QMenu *>(widget)) {
            QWidget *owner = menu->parentWidget();
            while (qobject_cast<QMenu *>(owner))
                owner = owner->parentWidget();
            if (owner && owner->window() == this)
                watchMenu(menu);
        }
        return QMainWindow::eventFilter(watched, event);
    }
    if (!widget || widget->window() != this)
        return QMainWindow::eventFilter(watched, event);

    if (type == QEvent::Enter) {
        hintWidget_ = widget;
        showHint(widget);
    } else if (type == QEvent::Leave) {
        if (!widget->isWindow()) {
            hintWidget_ = widget->parentWidget();
            showHint(widget->parentWidget());
        }
    } else if (type == QEvent::ToolTipChange) {
        // The hint of the control under the mouse changed (the palette
        // toggle's, when it is clicked): the status bar follows at once.
        if (widget == hintWidget_)
            showHint(widget);
    } else if (type == QEvent::ActionChanged) {
        // A toolbar button under the mouse takes its action's new hint
        // once this event has reached it.
        if (widget == hintWidget_)
            QMetaObject::invokeMethod(
                this, [this] { showHint(hintWidget_); }, Qt::QueuedConnection);
    } else {
        auto *tree = treePane_->tree();
        auto *editor = editorPane_->editor();
        QWidget *focus = QApplication::focusWidget();
        if (watched == tree->viewport()) {
            // Not while a label is being edited inside the tree, nor
            // while a find text is being typed.
            if ((!focus || (focus != tree && !tree->isAncestorOf(focus)))
                && focus != static_cast<QWidget *>(treePane_->finder()->findField()))
                tree->setFocus(Qt::MouseFocusReason);
        } else if (watched == editor->viewport()) {
            if (focus != editor)
                editor->setFocus(Qt::MouseFocusReason);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace qv
