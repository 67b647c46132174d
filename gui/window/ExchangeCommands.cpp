#include "gui/window/ExchangeCommands.h"

#include "catalog/EditSteps.h"
#include "catalog/Errors.h"
#include "gui/common/Codec.h"
#include "gui/common/MessageBox.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreePane.h"
#include "gui/window/MainWindow.h"
#include "storage/FileIo.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>
#include <memory>

namespace qv {

namespace {

std::function<ExchangeCommands::FileChoice(QWidget *, bool)> &fileChooser()
{
    static std::function<ExchangeCommands::FileChoice(QWidget *, bool)> f;
    return f;
}

std::function<ExchangeCommands::Placement(QWidget *, const Node *)> &placementChooser()
{
    static std::function<ExchangeCommands::Placement(QWidget *, const Node *)> f;
    return f;
}

struct ProgressHooks {
    int delayMs = 1000;
    std::function<void(QProgressDialog *)> shown;
    std::function<void()> beforeParse;
};

ProgressHooks &progressHooks()
{
    static ProgressHooks hooks;
    return hooks;
}

// The export filters' formats, in the filters' order.
constexpr ExportFormat kExportFormats[]
    = {ExportFormat::Html, ExportFormat::Markdown, ExportFormat::Text, ExportFormat::Opml};

// The import filters' formats: the first filter (every known kind) and the
// last (every file) tell none.
using IF = exchange::ImportFormat;
constexpr std::optional<IF> kImportFormats[]
    = {std::nullopt, IF::CherryTree, IF::Markdown, IF::Opml, IF::Text, IF::Zim, std::nullopt};

const QString kZimNotebook = QStringLiteral("notebook.zim");

// Neither the name nor the filter tells the format.
Error unknownFormat(const QString &path)
{
    return Error(fromQ(QStringLiteral(u"Формат файла «")),
                 QFile::encodeName(QFileInfo(path).fileName()).toStdString(),
                 fromQ(QStringLiteral(u"» не известен: выберите тип файла")));
}

} // namespace

ExchangeCommands::ExchangeCommands(MainWindow &window) : QObject(&window), window_(window)
{
    auto command = [this](const char *name, const char16_t *text, const char16_t *hint, QKeyCombination key,
                          void (ExchangeCommands::*handler)()) {
        auto *a = new QAction(QString::fromUtf16(text), this);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(QString::fromUtf16(hint));
        a->setShortcut(QKeySequence(key));
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, handler);
        window_.addAction(a);
        return a;
    };
    exportAction_ = command("exportAction", u"Экспорт…",
                            u"Записать каталог в файл: страница HTML, Markdown, текст или OPML",
                            Qt::CTRL | Qt::Key_E, &ExchangeCommands::exportCatalogue);
    importAction_ = command("importAction", u"Импорт…",
                            u"Добавить в каталог узлы из файла: CherryTree, Zim, Markdown, OPML или текст",
                            Qt::CTRL | Qt::Key_I, &ExchangeCommands::importFile);
    lastFolder_ = QDir::homePath();
}

ExchangeCommands::~ExchangeCommands() { waitForWorker(); }

void ExchangeCommands::setReadOnly(bool readOnly) { importAction_->setEnabled(!readOnly); }

QStringList ExchangeCommands::exportFilters()
{
    return {QStringLiteral(u"Страница HTML (*.html *.htm)"), QStringLiteral(u"Markdown (*.md *.markdown)"),
            QStringLiteral(u"Текст с отступами (*.txt)"), QStringLiteral(u"OPML (*.opml)")};
}

QStringList ExchangeCommands::importFilters()
{
    return {QStringLiteral(u"Все известные (*.ctd *.ctb *.md *.markdown *.opml *.txt notebook.zim)"),
            QStringLiteral(u"CherryTree (*.ctd *.ctb)"),
            QStringLiteral(u"Markdown (*.md *.markdown)"),
            QStringLiteral(u"OPML (*.opml)"),
            QStringLiteral(u"Текст с отступами (*.txt)"),
            QStringLiteral(u"Записная книжка Zim (notebook.zim)"),
            QStringLiteral(u"Все файлы (*)")};
}

std::optional<ExportFormat> ExchangeCommands::exportFormatFor(const QString &path, int filter)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"html" || suffix == u"htm")
        return ExportFormat::Html;
    if (suffix == u"md" || suffix == u"markdown")
        return ExportFormat::Markdown;
    if (suffix == u"txt")
        return ExportFormat::Text;
    if (suffix == u"opml")
        return ExportFormat::Opml;
    if (filter >= 0 && filter < int(std::size(kExportFormats)))
        return kExportFormats[filter];
    return std::nullopt;
}

std::optional<exchange::ImportFormat> ExchangeCommands::importFormatFor(const QString &path, int filter)
{
    const QFileInfo info(path);
    if (info.fileName() == kZimNotebook
        || (info.isDir() && QFileInfo::exists(QDir(path).filePath(kZimNotebook))))
        return IF::Zim;
    const QString suffix = info.suffix().toLower();
    // The encrypted CherryTree notebooks go to the reader, which refuses them by name.
    if (suffix == u"ctd" || suffix == u"ctb" || suffix == u"ctz" || suffix == u"ctx")
        return IF::CherryTree;
    if (suffix == u"md" || suffix == u"markdown")
        return IF::Markdown;
    if (suffix == u"opml")
        return IF::Opml;
    if (suffix == u"txt")
        return IF::Text;
    if (filter >= 0 && filter < int(std::size(kImportFormats)))
        return kImportFormats[filter];
    return std::nullopt;
}

void ExchangeCommands::setFileChooser(std::function<FileChoice(QWidget *, bool)> chooser)
{
    fileChooser() = std::move(chooser);
}

void ExchangeCommands::setPlacementChooser(std::function<Placement(QWidget *, const Node *)> chooser)
{
    placementChooser() = std::move(chooser);
}

void ExchangeCommands::setProgressHooks(int delayMs, std::function<void(QProgressDialog *)> shown,
                                        std::function<void()> beforeParse)
{
    progressHooks() = {delayMs, std::move(shown), std::move(beforeParse)};
}

ExchangeCommands::FileChoice ExchangeCommands::chooseFile(bool save)
{
    if (fileChooser())
        return fileChooser()(&window_, save);
    const QStringList filters = save ? exportFilters() : importFilters();
    QFileDialog dialog(&window_,
                       save ? QStringLiteral(u"Экспорт каталога") : QStringLiteral(u"Импорт в каталог"),
                       lastFolder_, filters.join(QStringLiteral(";;")));
    if (save) {
        // A name typed without an extension takes the chosen filter's.
        static const char *const suffixes[] = {"html", "md", "txt", "opml"};
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QString::fromLatin1(suffixes[0]));
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString &f) {
            const qsizetype i = filters.indexOf(f);
            if (i >= 0)
                dialog.setDefaultSuffix(QString::fromLatin1(suffixes[i]));
        });
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    FileChoice choice{dialog.selectedFiles().first(), int(filters.indexOf(dialog.selectedNameFilter()))};
    lastFolder_ = QFileInfo(choice.path).absolutePath();
    return choice;
}

ExchangeCommands::Placement ExchangeCommands::choosePlacement(const Node *selected)
{
    if (placementChooser())
        return placementChooser()(&window_, selected);
    QDialog dialog(&window_);
    dialog.setObjectName(QStringLiteral("importPlacement"));
    dialog.setWindowTitle(QStringLiteral(u"Импорт"));
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral(u"Куда добавить импортированные узлы?")));
    auto *after = new QRadioButton(QStringLiteral(u"После последнего корня"));
    auto *under = new QRadioButton(
        selected ? QStringLiteral(u"Внутрь выбранного узла «%1»").arg(toQ(selected->caption()))
                 : QStringLiteral(u"Внутрь выбранного узла"));
    under->setEnabled(selected != nullptr);
    after->setChecked(true);
    layout->addWidget(after);
    layout->addWidget(under);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral(u"Импорт"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral(u"Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return Placement::Cancel;
    return under->isChecked() ? Placement::UnderSelected : Placement::AfterLastRoot;
}

void ExchangeCommands::exportCatalogue()
{
    const FileChoice choice = chooseFile(true);
    if (choice.path.isEmpty())
        return;
    try {
        const std::optional<ExportFormat> format = exportFormatFor(choice.path, choice.filter);
        if (!format)
            throw unknownFormat(choice.path);
        // The note being typed goes out too.
        window_.editorPane()->flushNote();
        ExportOptions options;
        if (!window_.folderName().isEmpty())
            options.title = window_.folderName().toStdString();
        AtomicFile out(QFile::encodeName(choice.path).toStdString(), AtomicFile::Refusal::Create);
        exportCatalog(
            window_.catalog(), *format, [&out](std::string_view piece) { out.write(piece); }, options);
        out.commit();
        window_.statusBar()->showMessage(
            QStringLiteral(u"Каталог записан в файл «%1»").arg(QFileInfo(choice.path).fileName()), 5000);
    } catch (const std::exception &e) {
        msg::showError(&window_, e);
    }
}

void ExchangeCommands::importFile()
{
    TreePane *pane = window_.treePane();
    if (window_.readOnly() || pane->filtering() || pane->commands()->busy())
        return;
    const FileChoice choice = chooseFile(false);
    if (choice.path.isEmpty())
        return;
    const QString name = QFileInfo(choice.path).fileName();
    std::optional<exchange::ImportedTree> tree;
    Placement placement = Placement::Cancel;
    try {
        const std::optional<exchange::ImportFormat> format = importFormatFor(choice.path, choice.filter);
        if (!format)
            throw unknownFormat(choice.path);
        placement = choosePlacement(pane->selectedNode());
        if (placement == Placement::Cancel)
            return;
        tree = parse(QFile::encodeName(choice.path).toStdString(), *format, name);
    } catch (const std::exception &e) {
        msg::showError(&window_, e);
        return;
    }
    if (!tree)
        return;
    pane->commands()->run([&] {
        Node *selected = pane->selectedNode();
        Node *parent = placement == Placement::UnderSelected ? selected : nullptr;
        Catalog &catalog = window_.catalog();
        exchange::ImportSummary summary;
        std::unique_ptr<EditStep> step
            = appendStep(EditStep::Kind::Import, catalog, parent, selected, fromQ(name),
                         [&] { summary = exchange::addToCatalog(std::move(*tree), catalog, parent); });
        if (step) {
            pane->selectNode(nodeAt(catalog.outline(), step->selectionAfter()));
            pane->commands()->pushStep(std::move(step));
        }
        msg::show(&window_, QMessageBox::Information, QStringLiteral(u"Импорт"),
                  QString::fromStdString(exchange::summaryLine(summary)), QMessageBox::Ok);
    });
}

std::optional<exchange::ImportedTree> ExchangeCommands::parse(const std::string &path,
                                                              exchange::ImportFormat format,
                                                              const QString &name)
{
    waitForWorker();
    struct Work {
        exchange::ImportedTree tree;
        std::exception_ptr error;
    };
    auto work = std::make_shared<Work>();
    const unsigned run = ++run_;
    bool done = false;
    bool cancelled = false;
    QEventLoop loop;
    connect(this, &ExchangeCommands::parsed, &loop, [&](unsigned finished) {
        if (finished != run)
            return;
        done = true;
        loop.quit();
    });
    worker_ = std::thread([this, work, path, format, run, before = progressHooks().beforeParse] {
        try {
            if (before)
                before();
            work->tree = exchange::parseFile(path, format);
        } catch (...) {
            work->error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            this, [this, run] { emit parsed(run); }, Qt::QueuedConnection);
    });

    // The window takes no input while the parse runs; after the delay a
    // progress box holds it instead and offers Cancel.
    QTimer delay;
    delay.setSingleShot(true);
    connect(&delay, &QTimer::timeout, &loop, &QEventLoop::quit);
    delay.start(progressHooks().delayMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!done) {
        QProgressDialog progress(QStringLiteral(u"Чтение файла «%1»…").arg(name), QStringLiteral(u"Отмена"),
                                 0, 0, &window_);
        progress.setObjectName(QStringLiteral("importProgress"));
        progress.setWindowTitle(QStringLiteral(u"Импорт"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        connect(&progress, &QProgressDialog::canceled, &loop, [&] {
            cancelled = true;
            loop.quit();
        });
        progress.show();
        if (progressHooks().shown)
            progressHooks().shown(&progress);
        cancelled = cancelled || progress.wasCanceled();
        if (!cancelled && !done)
            loop.exec();
    }
    if (cancelled && !done)
        return std::nullopt; // the worker's tree is let go when it ends
    waitForWorker();
    if (work->error)
        std::rethrow_exception(work->error);
    return std::move(work->tree);
}

void ExchangeCommands::waitForWorker()
{
    if (worker_.joinable())
        worker_.join();
}

} // namespace qv
