#include "storage/CatalogHome.h"

#include "catalog/Errors.h"
#include "storage/CatalogFiles.h"
#include "storage/Os.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace qv {

namespace {

// `dir` without "." and ".." steps, ending with exactly one "/".
std::string normalDir(const std::string &dir)
{
    if (dir.empty())
        return dir;
    std::string s = std::filesystem::path(dir).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s == "/" ? s : s + "/";
}

bool isSystemBindir(const std::string &dir)
{
    static const std::array<const char *, 6> kSystem
        = {"/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/", "/usr/local/bin/", "/usr/local/sbin/"};
    for (const char *s : kSystem)
        if (dir == s)
            return true;
    return false;
}

std::string userDataHome(const CatalogHomeFacts &facts)
{
    std::string base;
    if (facts.xdgDataHome && !facts.xdgDataHome->empty() && facts.xdgDataHome->front() == '/')
        base = *facts.xdgDataHome;
    else
        base = normalDir(facts.home.empty() ? std::string("/") : facts.home) + ".local/share";
    return normalDir(base) + "quorvel/";
}

} // namespace

std::string chooseCatalogHome(const CatalogHomeFacts &facts)
{
    const std::string dir = normalDir(facts.exeDir);
    const bool isBindir = !facts.installBindir.empty() && dir == normalDir(facts.installBindir);
    if (facts.root && (isBindir || isSystemBindir(dir)))
        return userDataHome(facts);
    if ((isBindir || !facts.exeDirWritable) && !facts.hasCatalogFile)
        return userDataHome(facts);
    return dir;
}

CatalogHomeFacts catalogHomeFacts(const std::string &executablePath, const std::string &installBindir)
{
    CatalogHomeFacts facts;
    facts.exeDir = baseDirectoryOf(executablePath);
    // The configured folder as the system resolves it (/bin is /usr/bin on merged systems).
    facts.installBindir = installBindir;
    if (!installBindir.empty()) {
        if (std::optional<std::string> real = os::canonicalPath(installBindir))
            facts.installBindir = *real;
    }
    facts.exeDirWritable = os::writable(facts.exeDir);
    for (const char *name : {"data.dat", "text.dat", "Quorvel.ini"})
        facts.hasCatalogFile = facts.hasCatalogFile || os::nameTaken(facts.exeDir + name);
    facts.root = os::runsAsRoot();
    if (const char *xdg = std::getenv("XDG_DATA_HOME"))
        facts.xdgDataHome = std::string(xdg);
    if (const char *home = std::getenv("HOME"); home && *home) {
        facts.home = home;
    } else {
        facts.home = os::userHome();
    }
    return facts;
}

std::string catalogHome(const std::string &executablePath, const std::string &installBindir)
{
    const CatalogHomeFacts facts = catalogHomeFacts(executablePath, installBindir);
    const std::string dir = chooseCatalogHome(facts);
    if (dir != userDataHome(facts))
        return dir;
    // mkdir -p: every missing parent with the usual mode, the folder itself private.
    for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
        const std::string step = dir.substr(0, at);
        const bool last = at + 1 == dir.size();
        if (const int err = os::makeFolder(step, last ? 0700 : 0755); err != 0 && err != EEXIST)
            throw Error(W("Не могу создать папку "), dir, {});
    }
    if (os::status(dir).kind != os::Kind::Directory)
        throw Error(W("Не могу создать папку "), dir, {});
    return dir;
}

} // namespace qv
