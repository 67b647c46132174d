#include "tools/ToolSession.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "catalog/Text.h"
#include "storage/CatalogLock.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace qvtool {

namespace fs = std::filesystem;

bool g_force = false;

std::string withSeparator(std::string dir)
{
    if (dir.empty())
        return "./";
    if (dir.back() != '/')
        dir.push_back('/');
    return dir;
}

// The message of a core error as the program's error box shows it, in
// UTF-8 (a file name in it keeps the system's bytes).
void reportError(const qv::Error &e)
{
    std::string text = qv::messageUtf8(e);
    if (qv::errorBoxText(e.message()).size() > e.message().size())
        text += '.';
    std::fprintf(stderr, "%s\n", text.c_str());
}

void reportFailure(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const qv::Error &e) {
        reportError(e);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-tool: %s\n", e.what());
    }
}

bool isDirectory(const std::string &path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Opens the session's folder. False (with the message on stderr) when
// another copy holds a folder to be written, or the repair fails.
bool openFolder(Session &session)
{
    const Session::Opened opened = session.open();
    if (opened.refused) {
        if (opened.lockRefusal)
            reportFailure(opened.lockRefusal);
        else
            std::fprintf(stderr, "%s\n", qv::cp1251::toUtf8(qv::catalogBusyText()).c_str());
        return false;
    }
    if (opened.repairFailure) {
        reportFailure(opened.repairFailure);
        return false;
    }
    return true;
}

// A new catalogue folder, created and locked before anything is written.
bool createFolder(Session &session, const std::string &dir)
{
    std::error_code ec;
    if (!fs::create_directories(dir, ec)) {
        std::fprintf(stderr, "quorvel-tool: %s: не удалось создать папку (%s)\n", dir.c_str(),
                     ec.message().c_str());
        return false;
    }
    return openFolder(session);
}

// Loads `dir` through `session` into `catalog`, with the messages on
// stderr. A read in part is InPart unless --force takes it as it is.
Load loadCatalogAs(const std::string &dir, Session &session, qv::Catalog &catalog)
{
    if (!isDirectory(dir)) {
        std::fprintf(stderr, "quorvel-tool: %s: нет такой папки\n", dir.c_str());
        return Load::Failed;
    }
    const Session::Loaded loaded = session.load(catalog);
    if (loaded.failure) {
        reportFailure(loaded.failure);
        return Load::Failed;
    }
    for (const qv::PartialRead &p : loaded.partialReads)
        std::fprintf(stderr, "quorvel-tool: %s: чтение остановилось на байте %llu, остальное пропущено\n",
                     p.path.c_str(), static_cast<unsigned long long>(p.offset));
    return loaded.partialReads.empty() || g_force ? Load::Whole : Load::InPart;
}

// loadCatalogAs() for a command that uses the catalogue: false on failure
// and, without --force, on a read in part (told on stderr).
bool loadCatalog(const std::string &dir, Session &session, qv::Catalog &catalog)
{
    const Load load = loadCatalogAs(dir, session, catalog);
    if (load == Load::InPart)
        std::fprintf(stderr,
                     "quorvel-tool: ничего не сделано: каталог прочитан не целиком "
                     "(с --force команда продолжит с прочитанным)\n");
    return load == Load::Whole;
}

// Saves `catalog` through `session`, keeping files another program wrote
// meanwhile as the unattended program does; false (with the message on
// stderr) on failure. The dated copies made are named on stderr.
bool saveCatalog(Session &session, qv::Catalog &catalog)
{
    const Session::Saved saved = session.save(catalog, Session::Consent::Granted);
    if (!saved.ok()) {
        reportFailure(saved.failure);
        return false;
    }
    for (const std::string &kept : saved.originalsKept)
        std::fprintf(stderr, "quorvel-tool: исходный файл прочитан не целиком и сохранён как %s\n",
                     kept.c_str());
    for (const std::string &kept : saved.othersKept)
        std::fprintf(stderr, "quorvel-tool: файл, записанный другой программой, сохранён как %s\n",
                     kept.c_str());
    for (const qv::Error &remark : saved.remarks)
        reportError(remark);
    return true;
}

} // namespace qvtool
