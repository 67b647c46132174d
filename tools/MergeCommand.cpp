#include "tools/MergeCommand.h"
#include "tools/ToolSession.h"

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

// A folder without either catalogue file holds the empty catalogue (a
// base never kept); otherwise it loads as the program loads it.
bool load(const std::string &dir, Session &session, qv::Catalog &catalog, bool emptyAllowed)
{
    std::error_code ec;
    if (emptyAllowed && isDirectory(dir) && !fs::exists(withSeparator(dir) + "data.dat", ec)
        && !fs::exists(withSeparator(dir) + "text.dat", ec))
        return true;
    return loadCatalog(dir, session, catalog);
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

int mergeCommand(const std::vector<std::string_view> &args)
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
    if (existed && !openFolder(target))
        return 2;
    qv::Catalog base, ours, theirs;
    std::error_code ec;
    const auto loadSide = [&](const std::string &dir, qv::Catalog &catalog, bool emptyAllowed) {
        if (existed && fs::equivalent(dir, outDir, ec))
            return load(dir, target, catalog, emptyAllowed);
        Session source(withSeparator(dir), {Session::Access::Read, false});
        if (isDirectory(dir) && !openFolder(source))
            return false;
        return load(dir, source, catalog, emptyAllowed);
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
        if (!createFolder(target, outDir))
            return 2;
    }
    if (!saveCatalog(target, merged))
        return 2;
    std::printf("слито: правок из %s - %zu, из %s - %zu, расхождений - %zu\n", oursDir.c_str(),
                report.oursChanges, theirsDir.c_str(), report.theirsChanges, report.conflicts.size());
    for (const qv::merge::Conflict &c : report.conflicts)
        std::printf("%s\n", conflictLine(c).c_str());
    return report.conflicts.empty() ? 0 : 1;
}

} // namespace qvtool
