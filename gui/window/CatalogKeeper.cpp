#include "gui/window/CatalogKeeper.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "gui/common/MessageBox.h"
#include "storage/CatalogFiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
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

int64_t now() { return QDateTime::currentSecsSinceEpoch(); }

} // namespace

CatalogKeeper::CatalogKeeper(CatalogFiles &files, QMainWindow *window)
    : files_(files), window_(window), lock_(files.baseDir()), journal_(files.baseDir())
{
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushDelayMs);
    connect(flushTimer_, &QTimer::timeout, this, [this] { flush(true); });
    journal_.setOnChange([this] { startTimer(); });
}

CatalogKeeper::~CatalogKeeper()
{
    // The backups are never left half made, nor their thread running.
    finishBackups(false);
    // What was not flushed is lost, as it would be by a kill.
    releaseFolder();
}

bool CatalogKeeper::claimFolder()
{
    if (lock_.acquire() == CatalogLock::State::Busy) {
        msg::showError(window_, Error(catalogBusyText()));
        return false;
    }
    try {
        // A finished save holds everything the journal had.
        if (files_.repairAtStart())
            journal_.discard();
    } catch (const std::exception &e) {
        msg::showError(window_, e);
    }
    return true;
}

void CatalogKeeper::releaseFolder()
{
    flushTimer_->stop();
    lock_.release();
}

void CatalogKeeper::openBackups() { backups_ = files_.openBackups(); }

void CatalogKeeper::startBackups()
{
    if (!backups_ || backupThread_.joinable())
        return;
    backupThread_ = std::thread([this, copies = backups_.get()] {
        try {
            copies->run();
        } catch (...) {
            backupFailure_ = std::current_exception();
        }
        // Told on the window's thread; a keeper gone by then took the
        // result in its destructor, and the call goes with it.
        QMetaObject::invokeMethod(
            this, [this] { finishBackups(true); }, Qt::QueuedConnection);
    });
}

void CatalogKeeper::finishBackups(bool interactive)
{
    if (!backups_)
        return;
    if (backupThread_.joinable()) {
        backupThread_.join();
    } else {
        try {
            backups_->run();
        } catch (...) {
            backupFailure_ = std::current_exception();
        }
    }
    files_.takeKeptBackups(*backups_);
    // Done before anything is told: a box's event loop may call here again.
    backups_.reset();
    if (const std::exception_ptr failure = std::exchange(backupFailure_, nullptr)) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception &e) {
            report(e, interactive);
        }
    }
    if (copiesTold_ && files_.keptBackups().size() > keptBackupsTold_)
        tell(keptBackupsText(), interactive);
}

void CatalogKeeper::afterLoad(Catalog &catalog)
{
    // Only a source that reads in part or not at all has its old backup
    // kept aside: the box below names it, so such a start waits for it.
    if (files_.loadFailed() || !files_.partialReads().empty())
        finishBackups(true);
    reportStartupCopies();
    copiesTold_ = true;
    offerJournal(catalog);
    journal_.attach(catalog, files_.outlineIdentity(), files_.recordIdentity());
    attached_ = true;
    // Replayed changes go into a fresh journal at the next flush.
    if (journal_.dirty())
        startTimer();
}

void CatalogKeeper::reportStartupCopies()
{
    QStringList parts;
    for (const PartialRead &p : files_.partialReads())
        parts << QStringLiteral(u"Файл %1 прочитан не полностью: чтение остановлено на байте %2.")
                     .arg(fileName(p.path))
                     .arg(p.offset);
    if (!parts.isEmpty())
        parts << QStringLiteral(u"При первом сохранении прежние файлы будут сохранены под другими именами.");
    if (files_.keptBackups().size() > keptBackupsTold_)
        parts << keptBackupsText();
    if (!parts.isEmpty())
        msg::show(window_, QMessageBox::Information, kTitle, parts.join(QStringLiteral("\r\n")),
                  QMessageBox::Ok);
}

QString CatalogKeeper::keptBackupsText()
{
    const size_t from = std::exchange(keptBackupsTold_, files_.keptBackups().size());
    return QStringLiteral(u"Прежние резервные копии сохранены под именами:")
        + nameList(files_.keptBackups(), from);
}

void CatalogKeeper::offerJournal(Catalog &catalog)
{
    try {
        if (const std::optional<int64_t> since = journal_.pendingSince()) {
            const QString when
                = QDateTime::fromSecsSinceEpoch(*since).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
            const auto answer
                = msg::show(window_, QMessageBox::Question, kTitle,
                            QStringLiteral(u"Восстановить несохранённые изменения от %1?").arg(when),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
            if (answer != QMessageBox::Yes) {
                journal_.setAside(now());
                return;
            }
            try {
                journal_.replay(catalog);
            } catch (const std::exception &e) {
                // What applied stays, and goes into a fresh journal; the
                // file itself is kept as it was.
                msg::showError(window_, e);
                journal_.setAside(now());
            }
        } else if (journal_.present()) {
            const std::string kept = journal_.setAside(now());
            msg::show(window_, QMessageBox::Information, kTitle,
                      QStringLiteral(u"Журнал несохранённых изменений не подходит к нынешним файлам "
                                     u"каталога и сохранён под именем %1.")
                          .arg(fileName(kept)),
                      QMessageBox::Ok);
        }
    } catch (const std::exception &e) {
        msg::showError(window_, e);
    }
}

void CatalogKeeper::startTimer()
{
    if (!flushTimer_->isActive())
        flushTimer_->start();
}

void CatalogKeeper::changed()
{
    if (attached_ && journal_.dirty())
        startTimer();
}

bool CatalogKeeper::flush(bool interactive)
{
    // Nothing is recorded, nor written, before the journal knows its base.
    if (!attached_)
        return true;
    flushTimer_->stop();
    try {
        journal_.flush();
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
    // A backup holds the files as the run found them, never a newer save.
    finishBackups(interactive);
    const size_t originalsBefore = files_.keptOriginals().size();
    std::vector<std::string> others;
    bool saved = false;
    try {
        if (files_.changedOnDisk()) {
            const std::pair onDisk{fileIdentity(files_.outlinePath()), fileIdentity(files_.recordPath())};
            // Unless a save that failed kept this very version already.
            if (otherKept_ != onDisk) {
                if (interactive && !overwriteAgreed())
                    return false;
                others = files_.keepOtherVersion();
                otherKept_ = onDisk;
            }
        }
        files_.save(catalog, [this] { journal_.discard(); });
        otherKept_.reset();
        journal_.rebase(files_.outlineIdentity(), files_.recordIdentity());
        saved = true;
    } catch (const std::exception &e) {
        report(e, interactive);
    }
    reportCopies(originalsBefore, others, interactive);
    return saved;
}

void CatalogKeeper::reportCopies(size_t originalsBefore, const std::vector<std::string> &others,
                                 bool interactive)
{
    QStringList parts;
    if (files_.keptOriginals().size() > originalsBefore)
        parts << QStringLiteral(u"Файлы каталога не были прочитаны полностью при запуске.\r\n"
                                u"Прежние файлы сохранены под именами:")
                + nameList(files_.keptOriginals(), originalsBefore);
    if (!others.empty())
        parts << QStringLiteral(u"Файлы каталога, записанные другой программой, сохранены под именами:")
                + nameList(others);
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

void CatalogKeeper::report(const std::exception &error, bool interactive)
{
    if (interactive)
        msg::showError(window_, error);
    else
        msg::logText(msg::errorText(error));
}

} // namespace qv
