#include "storage/CatalogHome.h"

#include "catalog/Errors.h"
#include "storage/CatalogFiles.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool exists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
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
        if (char *real = ::realpath(installBindir.c_str(), nullptr)) {
            facts.installBindir = real;
            std::free(real);
        }
    }
    facts.exeDirWritable = ::access(facts.exeDir.c_str(), W_OK) == 0;
    for (const char *name : {"data.dat", "text.dat", "Quorvel.ini"})
        facts.hasCatalogFile = facts.hasCatalogFile || exists(facts.exeDir + name);
    facts.root = ::geteuid() == 0;
    if (const char *xdg = std::getenv("XDG_DATA_HOME"))
        facts.xdgDataHome = std::string(xdg);
    if (const char *home = std::getenv("HOME"); home && *home) {
        facts.home = home;
    } else if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        facts.home = pw->pw_dir;
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
        if (::mkdir(step.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST)
            throw Error(W("Не могу создать папку "), dir, {});
    }
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw Error(W("Не могу создать папку "), dir, {});
    return dir;
}

} // namespace qv
