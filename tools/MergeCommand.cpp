#include "tools/MergeCommand.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "catalog/Text.h"
#include "merge/OutlineMerge.h"
#include "storage/CatalogLock.h"
#include "storage/CatalogSession.h"

#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace qvtool {

namespace {

namespace fs = std::filesystem;
using Session = qv::CatalogSession;

void reportFailure(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const qv::Error &e) {
        std::string text = qv::messageUtf8(e);
        if (qv::errorBoxText(e.message()).size() > e.message().size())
            text += '.';
        std::fprintf(stderr, "%s\n", text.c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-tool: %s\n", e.what());
    }
}

std::string withSeparator(std::string dir)
{
    if (dir.empty())
        dir = ".";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

bool isDirectory(const std::string &path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool open(Session &session)
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

// A folder without either catalogue file holds the empty catalogue (a
// base never kept); otherwise it loads as the program loads it.
bool load(const std::string &dir, Session &session, qv::Catalog &catalog, bool force, bool emptyAllowed)
{
    if (!isDirectory(dir)) {
        std::fprintf(stderr, "quorvel-tool: %s: нет такой папки\n", dir.c_str());
        return false;
    }
    std::error_code ec;
    if (emptyAllowed && !fs::exists(withSeparator(dir) + "data.dat", ec)
        && !fs::exists(withSeparator(dir) + "text.dat", ec))
        return true;
    const Session::Loaded loaded = session.load(catalog);
    if (loaded.failure) {
        reportFailure(loaded.failure);
        return false;
    }
    for (const qv::PartialRead &p : loaded.partialReads)
        std::fprintf(stderr, "quorvel-tool: %s: чтение остановилось на байте %llu, остальное пропущено\n",
                     p.path.c_str(), static_cast<unsigned long long>(p.offset));
    if (!loaded.partialReads.empty() && !force) {
        std::fprintf(stderr,
                     "quorvel-tool: ничего не сделано: каталог прочитан не целиком "
                     "(с --force команда продолжит с прочитанным)\n");
        return false;
    }
    return true;
}

// A side of the merge: the folder's name as the machine, and the time the
// newer of its two files was written.
qv::merge::Side sideOf(const std::string &dir)
{
    qv::merge::Side side;
    std::string name = dir;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    side.machine = qv::cp1251::fromUtf8(fs::path(name).filename().string());
    for (const char *file : {"data.dat", "text.dat"}) {
        struct stat st {};
        if (::stat((withSeparator(dir) + file).c_str(), &st) == 0 && st.st_mtime > side.time)
            side.time = st.st_mtime;
    }
    return side;
}

std::string path(const std::vector<qv::Bytes> &captions)
{
    std::string text;
    for (const qv::Bytes &c : captions)
        text += (text.empty() ? "" : " / ") + qv::cp1251::toUtf8(c);
    return text;
}

std::string conflictLine(const qv::merge::Conflict &c)
{
    using Kind = qv::merge::Conflict::Kind;
    const std::string other = qv::cp1251::toUtf8(c.other);
    switch (c.kind) {
    case Kind::Note:
        return "заметку правили с обеих сторон, оставлены обе версии: " + path(c.path);
    case Kind::Caption:
        return "переименован с обеих сторон, имя «" + other + "» не взято: " + path(c.path);
    case Kind::Icon:
        return "значок задан с обеих сторон, значок " + other + " не взят: " + path(c.path);
    case Kind::Place:
        return "перемещён с обеих сторон, место под «" + other + "» не взято: " + path(c.path);
    case Kind::Created:
        return "«" + other
            + "» создан с обеих сторон с разными заметками, один переименован: " + path(c.path);
    }
    return {};
}

int usage(const char *why)
{
    std::fprintf(stderr, "quorvel-tool: %s\n(подробнее: quorvel-tool merge --help)\n", why);
    return 2;
}

} // namespace

int mergeCommand(const std::vector<std::string_view> &args, bool force)
{
    std::vector<std::string> dirs;
    std::optional<std::string> output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--output") {
            if (i + 1 == args.size())
                return usage("--output требует папку");
            output = std::string(args[++i]);
        } else {
            dirs.emplace_back(args[i]);
        }
    }
    if (dirs.size() != 3)
        return usage("merge принимает папки BASE, OURS и THEIRS");
    const std::string &baseDir = dirs[0], &oursDir = dirs[1], &theirsDir = dirs[2];
    const std::string outDir = output.value_or(oursDir);

    // The folder written is locked before anything is read, and a new one
    // is made only once the merge has been made.
    Session target(withSeparator(outDir), {Session::Access::Write, false});
    const bool existed = isDirectory(outDir);
    if (existed && !open(target))
        return 2;
    qv::Catalog base, ours, theirs;
    std::error_code ec;
    const auto loadSide = [&](const std::string &dir, qv::Catalog &catalog, bool emptyAllowed) {
        if (existed && fs::equivalent(dir, outDir, ec))
            return load(dir, target, catalog, force, emptyAllowed);
        Session source(withSeparator(dir), {Session::Access::Read, false});
        if (isDirectory(dir) && !open(source))
            return false;
        return load(dir, source, catalog, force, emptyAllowed);
    };
    if (!loadSide(baseDir, base, true) || !loadSide(oursDir, ours, false)
        || !loadSide(theirsDir, theirs, false))
        return 2;
    qv::Catalog merged;
    qv::merge::Report report;
    try {
        report = qv::merge::mergeCatalogs(base, ours, theirs, sideOf(oursDir), sideOf(theirsDir), merged);
    } catch (...) {
        reportFailure(std::current_exception());
        return 2;
    }
    if (!existed) {
        if (!fs::create_directories(outDir, ec)) {
            std::fprintf(stderr, "quorvel-tool: %s: не удалось создать папку (%s)\n", outDir.c_str(),
                         ec.message().c_str());
            return 2;
        }
        if (!open(target))
            return 2;
    }
    const Session::Saved saved = target.save(merged, Session::Consent::Granted);
    if (!saved.ok()) {
        reportFailure(saved.failure);
        return 2;
    }
    for (const std::string &kept : saved.originalsKept)
        std::fprintf(stderr, "quorvel-tool: исходный файл прочитан не целиком и сохранён как %s\n",
                     kept.c_str());
    for (const std::string &kept : saved.othersKept)
        std::fprintf(stderr, "quorvel-tool: файл, записанный другой программой, сохранён как %s\n",
                     kept.c_str());
    for (const qv::Error &remark : saved.remarks)
        reportFailure(std::make_exception_ptr(remark));
    std::printf("слито: правок из %s - %zu, из %s - %zu, расхождений - %zu\n", oursDir.c_str(),
                report.oursChanges, theirsDir.c_str(), report.theirsChanges, report.conflicts.size());
    for (const qv::merge::Conflict &c : report.conflicts)
        std::printf("%s\n", conflictLine(c).c_str());
    return report.conflicts.empty() ? 0 : 1;
}

} // namespace qvtool
