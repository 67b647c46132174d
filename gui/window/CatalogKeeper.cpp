#include "gui/window/CatalogKeeper.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "gui/common/MessageBox.h"
#include "storage/BackupChoice.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

#include <utility>

namespace qv {

namespace {

const QString kTitle = QStringLiteral("Quorvel");

// File names are the system's bytes, never the catalogue's code page.
QString fileName(const std::string &path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString nameList(const std::vector<std::string> &paths, size_t from = 0)
{
    QString out;
    for (size_t i = from; i < paths.size(); ++i)
        out += QStringLiteral("\r\n") + fileName(paths[i]);
    return out;
}

} // namespace

CatalogKeeper::CatalogKeeper(const std::string &baseDir, QMainWindow *window)
    : session_(baseDir, {CatalogSession::Access::Write, true, true, true}), window_(window)
{
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushDelayMs);
    connect(flushTimer_, &QTimer::timeout, this, [this] { flush(true); });
    session_.setOnJournalChange([this] { startTimer(); });
}

CatalogKeeper::~CatalogKeeper()
{
    // The backups are never left half made, nor their thread running.
    finishBackups(false);
    // What was not flushed is lost, as it would be by a kill.
    releaseFolder();
}

void CatalogKeeper::reportRefusal(const CatalogSession::Opened &opened)
{
    if (opened.lockRefusal)
        report(opened.lockRefusal, true);
    else
        msg::showError(window_, Error(catalogBusyText()));
}

bool CatalogKeeper::claimFolder()
{
    const CatalogSession::Opened opened = session_.open();
    if (opened.refused) {
        reportRefusal(opened);
        return false;
    }
    report(opened.repairFailure, true);
    return true;
}

void CatalogKeeper::releaseFolder()
{
    flushTimer_->stop();
    session_.close();
}

void CatalogKeeper::openBackups() { session_.openBackups(); }

void CatalogKeeper::startBackups()
{
    session_.startBackups([this] {
        // Told on the window's thread; a keeper gone by then took the
        // result in its destructor, and the call goes with it.
        QMetaObject::invokeMethod(
            this, [this] { finishBackups(true); }, Qt::QueuedConnection);
    });
}

void CatalogKeeper::finishBackups(bool interactive)
{
    if (!session_.backupsPending())
        return;
    // Done before anything is told: a box's event loop may call here again.
    report(session_.finishBackups(), interactive);
    if (copiesTold_ && session_.files().keptBackups().size() > keptBackupsTold_)
        tell(keptBackupsText(), interactive);
}

void CatalogKeeper::load(Catalog &catalog)
{
    const CatalogSession::Loaded loaded = session_.load(catalog);
    // The start-up goes on, so later edits are still stored; the first
    // save keeps the files that could not be read.
    report(loaded.failure, true);
    report(loaded.backupFailure, true);
    reportStartupCopies(loaded);
    copiesTold_ = true;
    if ((loaded.failure || !loaded.partialReads.empty()) && offerBackup(catalog)) {
        // The journal's changes were made on the damaged files.
        report(session_.recover(catalog, false).setAsideFailure, true);
    } else {
        offerJournal(catalog, loaded);
    }
    mergeConflictCopies(catalog);
    // Replayed changes go into a fresh journal at the next flush.
    if (session_.unflushed())
        startTimer();
}

merge::Report CatalogKeeper::mergeConflictCopies(Catalog &catalog)
{
    // Edits another machine left in conflict copies join the catalogue and
    // are saved at once, so the copies leave the folder.
    CatalogSession::ConflictsMerged merged = session_.mergeConflictCopies(catalog);
    report(merged.failure, true);
    if (merged.copies > 0 && catalog.modified())
        save(catalog, false);
    return std::move(merged.report);
}

bool CatalogKeeper::offerBackup(Catalog &catalog)
{
    const std::optional<BackupPair> pair = newestWholeBackup(session_.baseDir());
    if (!pair)
        return false;
    const QString when = QDateTime::fromMSecsSinceEpoch(pair->mtimeNs / 1000000)
                             .toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    const QString question
        = QStringLiteral(
              u"Каталог прочитан не полностью. Резервная копия от %1 читается целиком:\r\n%2\r\n%3\r\n"
              u"Открыть её? Нынешние файлы будут сохранены под другими именами при первом сохранении.")
              .arg(when, fileName(pair->outlinePath), fileName(pair->recordPath));
    if (msg::show(window_, QMessageBox::Question, kTitle, question, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::No)
        != QMessageBox::Yes)
        return false;
    try {
        readPairWhole(*pair, catalog);
    } catch (const std::exception &e) {
        msg::showError(window_, e);
        return false;
    }
    // What the window shows is not what the files hold: the close saves it.
    catalog.markChanged();
    return true;
}

void CatalogKeeper::reportStartupCopies(const CatalogSession::Loaded &loaded)
{
    QStringList parts;
    for (const PartialRead &p : loaded.partialReads)
        parts << QStringLiteral(u"Файл %1 прочитан не полностью: чтение остановлено на байте %2.")
                     .arg(fileName(p.path))
                     .arg(p.offset);
    if (!parts.isEmpty())
        parts << QStringLiteral(u"При первом сохранении прежние файлы будут сохранены под другими именами.");
    if (session_.files().keptBackups().size() > keptBackupsTold_)
        parts << keptBackupsText();
    if (!parts.isEmpty())
        msg::show(window_, QMessageBox::Information, kTitle, parts.join(QStringLiteral("\r\n")),
                  QMessageBox::Ok);
}

QString CatalogKeeper::keptBackupsText()
{
    const std::vector<std::string> &kept = session_.files().keptBackups();
    const size_t from = std::exchange(keptBackupsTold_, kept.size());
    return QStringLiteral(u"Прежние резервные копии сохранены под именами:") + nameList(kept, from);
}

void CatalogKeeper::offerJournal(Catalog &catalog, const CatalogSession::Loaded &loaded)
{
    bool accept = false;
    const bool baseChanged = loaded.journal == CatalogSession::JournalFound::BaseChanged;
    if (loaded.journal == CatalogSession::JournalFound::Pending || baseChanged) {
        const QString when = QDateTime::fromSecsSinceEpoch(loaded.journalSince)
                                 .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        const QString question = baseChanged
            ? QStringLiteral(u"Файлы каталога были изменены другой программой после того, "
                             u"как были сделаны несохранённые изменения от %1. Восстановить "
                             u"эти изменения поверх нынешних файлов?")
            : QStringLiteral(u"Восстановить несохранённые изменения от %1?");
        accept = msg::show(window_, QMessageBox::Question, kTitle, question.arg(when),
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
            == QMessageBox::Yes;
    }
    const CatalogSession::Recovered recovered = session_.recover(catalog, accept);
    report(recovered.replayFailure, true);
    report(recovered.setAsideFailure, true);
    if (loaded.journal == CatalogSession::JournalFound::Unfitting && !recovered.setAsideFailure)
        msg::show(window_, QMessageBox::Information, kTitle,
                  QStringLiteral(u"Журнал несохранённых изменений не подходит к нынешним файлам "
                                 u"каталога и сохранён под именем %1.")
                      .arg(fileName(recovered.setAside)),
                  QMessageBox::Ok);
}

void CatalogKeeper::startTimer()
{
    if (!flushTimer_->isActive())
        flushTimer_->start();
}

void CatalogKeeper::changed()
{
    if (session_.unflushed())
        startTimer();
}

bool CatalogKeeper::flush(bool interactive)
{
    if (!session_.recording())
        return true;
    flushTimer_->stop();
    try {
        session_.flush();
    } catch (const std::exception &e) {
        flushMessage_ = QStringLiteral(u"Журнал несохранённых изменений не записан: ") + msg::errorText(e);
        window_->statusBar()->showMessage(flushMessage_);
        if (!flushFailing_) {
            flushFailing_ = true;
            if (interactive)
                msg::show(window_, QMessageBox::Critical, kTitle, flushMessage_, QMessageBox::Ok);
            else
                msg::logText(flushMessage_);
        }
        return false;
    }
    if (flushFailing_) {
        flushFailing_ = false;
        if (window_->statusBar()->currentMessage() == flushMessage_)
            window_->statusBar()->clearMessage();
    }
    return true;
}

void CatalogKeeper::askLinks()
{
    const std::vector<CatalogFiles::OutsideLink> links = session_.linksToAsk();
    if (links.empty())
        return;
    QString list;
    for (const CatalogFiles::OutsideLink &link : links)
        list += QStringLiteral("\r\n") + fileName(link.path) + QStringLiteral(" -> ") + fileName(link.target);
    const bool agree
        = msg::show(window_, QMessageBox::Question, kTitle,
                    QStringLiteral(u"Файлы каталога - ссылки на файлы вне его папки:") + list
                        + QStringLiteral(u"\r\nЗаписывать изменения в эти файлы (согласие будет запомнено "
                                         u"для этой папки)? Иначе ссылки будут заменены обычными файлами."),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
    try {
        session_.decideLinks(agree);
    } catch (...) {
        report(std::current_exception(), true);
    }
}

bool CatalogKeeper::overwriteAgreed()
{
    return msg::show(window_, QMessageBox::Question, kTitle,
                     QStringLiteral(u"Файлы каталога изменены другой программой. Записать поверх них? "
                                    u"Их нынешняя версия будет сохранена под другим именем."),
                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

bool CatalogKeeper::save(Catalog &catalog, bool interactive)
{
    // Nothing can be written: the catalogue stays as it was found.
    if (session_.readOnly())
        return true;
    finishBackups(interactive);
    if (interactive)
        askLinks();
    CatalogSession::Saved saved = saveTakingIn(catalog);
    if (saved.status == CatalogSession::Saved::Status::ChangedOutside) {
        if (interactive && !overwriteAgreed())
            return false;
        saved = session_.save(catalog, CatalogSession::Consent::Granted);
    }
    saveFailed_ = saved.status == CatalogSession::Saved::Status::Failed;
    report(saved.failure, interactive);
    reportCopies(saved, interactive);
    return saved.ok();
}

CatalogSession::Saved CatalogKeeper::saveTakingIn(Catalog &catalog)
{
    // A version that keeps changing under the save is taken in this often.
    constexpr int kTries = 3;
    for (int tries = 0;; ++tries) {
        CatalogSession::Saved saved = session_.save(catalog, CatalogSession::Consent::Ask);
        if (saved.status != CatalogSession::Saved::Status::ChangedOutside || !outsideTaker_ || tries == kTries
            || !outsideTaker_())
            return saved;
    }
}

void CatalogKeeper::watchOutside() { session_.keepBaseFromNow(); }

void CatalogKeeper::takeIn(Catalog &catalog, Catalog &version, const CatalogFiles::PairRead &read,
                           const std::function<void()> &show)
{
    session_.takeIn(catalog, version, read, show);
    // A kill from here on finds the merged catalogue in the journal.
    if (session_.unflushed())
        flush(true);
}

namespace {

std::function<QString(QWidget *)> &folderChooser()
{
    static std::function<QString(QWidget *)> chooser;
    return chooser;
}

} // namespace

void CatalogKeeper::setFolderChooser(std::function<QString(QWidget *)> chooser)
{
    folderChooser() = std::move(chooser);
}

CatalogKeeper::AfterFailedSave CatalogKeeper::askAfterFailedSave(Catalog &catalog, bool journalled)
{
    const QString files = QString::fromStdString(session_.files().outlinePath()) + QStringLiteral(", ")
        + QString::fromStdString(session_.files().recordPath());
    for (;;) {
        const QMessageBox::StandardButton answer
            = msg::ask(window_, QMessageBox::Warning, kTitle,
                       QStringLiteral(u"Каталог не сохранён (%1).\r\nЧто сделать?").arg(files),
                       {{QMessageBox::Retry, QStringLiteral(u"Повторить")},
                        {QMessageBox::Save, QStringLiteral(u"Сохранить копию в другую папку…")},
                        {QMessageBox::Discard, QStringLiteral(u"Закрыть без сохранения")},
                        {QMessageBox::Cancel, QStringLiteral(u"Отмена")}},
                       QMessageBox::Cancel);
        switch (answer) {
        case QMessageBox::Retry:
            return AfterFailedSave::Retry;
        case QMessageBox::Save: {
            const QString folder = folderChooser()
                ? folderChooser()(window_)
                : QFileDialog::getExistingDirectory(window_, QStringLiteral(u"Папка для копии каталога"));
            if (!folder.isEmpty() && saveCopy(catalog, QFile::encodeName(folder).toStdString()))
                return AfterFailedSave::CopySaved;
            break;
        }
        case QMessageBox::Discard: {
            const QString consequence = journalled
                ? QStringLiteral(u"Несохранённые изменения останутся в журнале, и при следующем запуске "
                                 u"программа предложит их восстановить.")
                : QStringLiteral(u"Несохранённые изменения будут потеряны.");
            if (msg::show(window_, QMessageBox::Question, kTitle,
                          consequence + QStringLiteral(u"\r\nЗакрыть без сохранения?"),
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                == QMessageBox::Yes)
                return AfterFailedSave::CloseUnsaved;
            break;
        }
        default:
            return AfterFailedSave::KeepOpen;
        }
    }
}

bool CatalogKeeper::saveCopy(Catalog &catalog, const std::string &folder)
{
    CatalogSession copy(folder.empty() || folder.back() == '/' ? folder : folder + "/",
                        {CatalogSession::Access::Write, false, false});
    const CatalogSession::Opened opened = copy.open();
    if (opened.refused) {
        reportRefusal(opened);
        return false;
    }
    const CatalogSession::Saved saved = copy.save(catalog, CatalogSession::Consent::Granted);
    report(saved.failure, true);
    reportCopies(saved, true);
    return saved.ok();
}

void CatalogKeeper::reportCopies(const CatalogSession::Saved &saved, bool interactive)
{
    QStringList parts;
    if (!saved.originalsKept.empty())
        parts << QStringLiteral(u"Файлы каталога не были прочитаны полностью при запуске.\r\n"
                                u"Прежние файлы сохранены под именами:")
                + nameList(saved.originalsKept);
    if (!saved.othersKept.empty())
        parts << QStringLiteral(u"Файлы каталога, записанные другой программой, сохранены под именами:")
                + nameList(saved.othersKept);
    for (const Error &remark : saved.remarks)
        parts << msg::errorText(remark);
    if (!parts.isEmpty())
        tell(parts.join(QStringLiteral("\r\n")), interactive);
}

void CatalogKeeper::tell(const QString &text, bool interactive)
{
    if (interactive)
        msg::show(window_, QMessageBox::Information, kTitle, text, QMessageBox::Ok);
    else
        msg::logText(text);
}

void CatalogKeeper::report(const std::exception_ptr &failure, bool interactive)
{
    if (!failure)
        return;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception &e) {
        if (interactive)
            msg::showError(window_, e);
        else
            msg::logText(msg::errorText(e));
    }
}

} // namespace qv
