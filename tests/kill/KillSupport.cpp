#include "KillSupport.h"

#include "storage/Os.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace killtest {

std::string lockName() { return ".Quorvel-" + qv::os::machineName() + ".lock"; }
std::string markerName() { return ".Quorvel-" + qv::os::machineName() + ".commit"; }
std::string journalName() { return "Quorvel-" + qv::os::machineName() + ".journal"; }

std::string testName;

void die(const std::string &why)
{
    std::fprintf(stderr, "%s: %s\n", testName.c_str(), why.c_str());
    std::exit(2);
}

long long monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::string readFile(const std::string &path)
{
    std::string out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

void writeFile(const std::string &path, const std::string &bytes, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())
        || ::close(fd) != 0)
        die("cannot write " + path);
}

void linkOrCopy(const std::string &from, const std::string &to)
{
    if (::link(from.c_str(), to.c_str()) != 0)
        writeFile(to, readFile(from), 0755);
}

bool exists(const std::string &path)
{
    struct stat sb {};
    return ::lstat(path.c_str(), &sb) == 0;
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string joined(const std::vector<std::string> &names)
{
    std::string s;
    for (const std::string &n : names)
        s += (s.empty() ? "" : " ") + n;
    return s;
}

std::string makeRoot(std::string work)
{
    if (work.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        work = tmp && *tmp ? tmp : "/tmp";
    }
    std::string root = work + "/" + testName + "-XXXXXX";
    if (!::mkdtemp(root.data()))
        die("cannot make a folder in " + work);
    return root;
}

void removeTree(const std::string &dir)
{
    for (const std::string &n : entries(dir)) {
        const std::string p = dir + "/" + n;
        struct stat sb {};
        if (::lstat(p.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode))
            removeTree(p);
        else
            ::unlink(p.c_str());
    }
    ::rmdir(dir.c_str());
}

int finish(const std::string &root, bool keep, int failures)
{
    if (!keep || failures == 0)
        removeTree(root);
    else
        std::printf("%s: kept %s\n", testName.c_str(), root.c_str());
    return failures == 0 ? 0 : 1;
}

pid_t spawn(const std::vector<std::string> &args, const std::string &log, bool truncate, int out)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        die(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int fd
            = ::open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND), 0600);
        if (out >= 0)
            ::dup2(out, STDOUT_FILENO);
        else if (fd >= 0)
            ::dup2(fd, STDOUT_FILENO);
        if (fd >= 0)
            ::dup2(fd, STDERR_FILENO);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return status;
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

bool settled(pid_t pid, const std::string &dir, const std::string &ready)
{
    unsigned long long last = ~0ULL;
    for (int quiet = 0; quiet < 5;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // After the command's ")": state, then 10 fields, then utime and stime.
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t paren = stat.rfind(')');
        char state = 0;
        unsigned long long utime = 0, stime = 0;
        if (paren == std::string::npos
            || std::sscanf(stat.c_str() + paren + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                           &state, &utime, &stime)
                != 3
            || state == 'Z')
            return false;
        const bool still = state == 'S' && utime + stime == last && exists(dir + "/" + ready);
        quiet = still ? quiet + 1 : 0;
        last = utime + stime;
    }
    return true;
}

bool Args::next()
{
    if (++i_ >= argc_)
        return false;
    arg = argv_[i_];
    return true;
}

std::string Args::value()
{
    if (i_ + 1 >= argc_)
        die(arg + " needs a value");
    return argv_[++i_];
}

int Args::number() { return std::atoi(value().c_str()); }

} // namespace killtest
