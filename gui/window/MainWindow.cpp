#include "gui/window/MainWindow.h"

#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/editor/EditorPane.h"
#include "gui/settings/SettingsPanel.h"
#include "gui/window/AboutPanel.h"
#include "gui/window/CatalogKeeper.h"
#include "gui/common/Codec.h"
#include "gui/tree/IconPalette.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"
#include "gui/window/TerminationSignals.h"
#include "gui/tree/TreePane.h"
#include "gui/window/WindowSettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>

MainWindow::MainWindow(const std::string &baseDir, QWidget *parent)
    : QMainWindow(parent), baseDir_(baseDir), files_(baseDir)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quorvel"));
    setWindowIcon(qv::icons::programIcon());
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    // The size a new window gets when the settings give none: three
    // quarters of the screen, as desktop systems choose for a new window.
    if (QScreen *s = screen())
        resize((s->availableGeometry().size() * 3 / 4).expandedTo(minimumSize()));

    keeper_ = std::make_unique<CatalogKeeper>(files_, this);
    buildLayout();
    connectParts();
    qApp->installEventFilter(this);
    formCreate();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
}

void MainWindow::buildLayout()
{
    treePane_ = new qv::TreePane(catalog_);
    editorPane_ = new qv::EditorPane(catalog_);
    settingsPanel_ = new qv::SettingsPanel(editorPane_->settingsButton());
    aboutPanel_ = new AboutPanel(editorPane_->aboutButton());
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
    qv::OutlineView *tree = treePane_->tree();
    editorPane_->setSelectedNodeProvider([this] { return treePane_->selectedNode(); });
    editorPane_->setLinkOption([this] { return settingsPanel_->settings().linkSingleClick; });
    treePane_->setBeforeCommand([this] { editorPane_->flushNote(); });

    auto showNote = [this](qv::Node *node) {
        if (!node)
            return;
        try {
            editorPane_->showNote(node);
        } catch (const std::exception &e) {
            qv::msg::showError(this, e);
        }
        refreshSaveButton();
    };
    connect(treePane_, &qv::TreePane::selectionMoved, this, showNote);
    connect(treePane_, &qv::TreePane::treeClicked, this, showNote);
    connect(treePane_, &qv::TreePane::commandDone, this, &MainWindow::refreshSaveButton);
    connect(editorPane_, &qv::EditorPane::edited, this, &MainWindow::refreshSaveButton);
    connect(editorPane_->saveAllAction(), &QAction::triggered, this, [this] { saveAll(); });
    connect(treePane_, &qv::TreePane::commandDone, keeper_.get(), &CatalogKeeper::changed);
    connect(editorPane_, &qv::EditorPane::edited, keeper_.get(), &CatalogKeeper::changed);

    connect(settingsPanel_, &qv::SettingsPanel::treeFontApplied, treePane_, &qv::TreePane::setTreeFont);
    connect(settingsPanel_, &qv::SettingsPanel::editorFontApplied, editorPane_, &qv::EditorPane::setEditorFont);
    connect(settingsPanel_, &qv::SettingsPanel::treeColorsApplied, treePane_, &qv::TreePane::setTreeColors);
    connect(settingsPanel_, &qv::SettingsPanel::editorColorsApplied, editorPane_,
            &qv::EditorPane::setEditorColors);
    connect(settingsPanel_, &qv::SettingsPanel::dragDropApplied, tree, &qv::OutlineView::setDragDropEnabled);

    // Menu items show their hints while highlighted.
    for (QMenu *menu : {treePane_->popupMenu(), editorPane_->contextMenu()}) {
        if (!menu)
            continue;
        connect(menu, &QMenu::hovered, this,
                [this](QAction *a) { statusBar()->showMessage(a->statusTip()); });
        connect(menu, &QMenu::aboutToHide, statusBar(), &QStatusBar::clearMessage);
    }
}

void MainWindow::formCreate()
{
    // Nothing of the folder is read before it is ours.
    if (!keeper_->claimFolder()) {
        refused_ = true;
        return;
    }
    settings_.open(baseDir_ + "Quorvel.ini");
    try {
        qv::Settings s = settingsPanel_->settings();
        qv::readBackup(settings_, s);
        settingsPanel_->setSettings(s);
        if (s.backup)
            files_.makeBackups();
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
    width = std::max(width, int(qv::TreePane::kMinimumWidth));
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
        qv::Settings s = settingsPanel_->settings();
        s.placement = qv::placementOf(*this);  // the defaults: where the window is
        qv::readPlacement(settings_, s);
        settingsPanel_->setSettings(s);
        if (s.restore)
            qv::applyPlacement(*this, s.placement, [this] { fitMinimumToFrame(); });
    } catch (const std::exception &e) {
        qv::msg::showError(this, e);
        return;
    }
    QMetaObject::invokeMethod(this, &MainWindow::formActivate, Qt::QueuedConnection);
}

void MainWindow::formActivate()
{
    // Closed before it got this far: nothing is loaded.
    if (!isVisible())
        return;
    try {
        started_ = true;
        try {
            files_.load(catalog_);
        } catch (const std::exception &e) {
            // The start-up goes on, so later edits are still stored; the
            // first save keeps the files that could not be read.
            qv::msg::showError(this, e);
        }
        // Before the first note is shown, so that it shows recovered edits.
        keeper_->afterLoad(catalog_);
        treePane_->palette()->fillPictures();
        if (qv::Node *first = catalog_.outline().first()) {
            treePane_->selectNode(first);
            editorPane_->showNote(first);
        }
        qv::Settings s = settingsPanel_->settings();
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
    refreshSaveButton();
}

bool MainWindow::saveAll()
{
    return saveCatalogue(true);
}

bool MainWindow::saveCatalogue(bool interactive)
{
    editorPane_->flushNote();
    const bool saved = keeper_->save(catalog_, interactive);
    refreshSaveButton();
    if (saved && interactive)
        QApplication::beep();
    return saved;
}

bool MainWindow::writeSettings(bool interactive)
{
    try {
        qv::Settings s = settingsPanel_->settings();
        s.treeWidth = treePane_->width();
        s.placement = qv::placementOf(*this);
        qv::writeSettings(settings_, s);
    } catch (const std::exception &e) {
        report(e, interactive);
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
    // A window that never loaded its catalogue has nothing to save, and its
    // controls do not hold the stored settings.
    if (started_) {
        // Whatever the save does, the journal has every change first.
        keeper_->flush(interactive);
        if (!saveCatalogue(interactive) || !writeSettings(interactive))
            return false;
    }
    settings_.release();
    keeper_->releaseFolder();
    closed_ = true;
    return true;
}

void MainWindow::watchSessionEnd()
{
    if (termination_)
        return;
    termination_ = new TerminationSignals(this);
    connect(termination_, &TerminationSignals::received, this, &MainWindow::endSession);
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

void MainWindow::refreshSaveButton()
{
    editorPane_->saveAllAction()->setEnabled(catalog_.modified());
}

bool MainWindow::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        beginActivation();
        break;
    case QEvent::StatusTip:
        // Hints are shown from the mouse's enter and leave (see eventFilter).
        return true;
    default:
        break;
    }
    return QMainWindow::event(event);
}

void MainWindow::fitMinimumToFrame()
{
    const QSize frame = frameGeometry().size() - size();
    const QSize wanted(kMinimumWidth - frame.width(), kMinimumHeight - frame.height());
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
    if (type == QEvent::Quit && watched == qApp && termination_) {
        saveBeforeQuit();
        return QMainWindow::eventFilter(watched, event);
    }
    if (type != QEvent::Enter && type != QEvent::Leave && type != QEvent::MouseMove
        && type != QEvent::ToolTipChange)
        return QMainWindow::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
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
    } else {
        qv::OutlineView *tree = treePane_->tree();
        qv::NoteEditor *editor = editorPane_->editor();
        QWidget *focus = QApplication::focusWidget();
        if (watched == tree->viewport()) {
            // Not while a label is being edited inside the tree.
            if (!focus || (focus != tree && !tree->isAncestorOf(focus)))
                tree->setFocus(Qt::MouseFocusReason);
        } else if (watched == editor->viewport()) {
            if (focus != editor)
                editor->setFocus(Qt::MouseFocusReason);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
