// A second copy of the program on a folder a running one holds: refused,
// and not one byte of the folder written.
//
//   second_instance --program PATH --victim PATH [--work DIR] [--keep]
//
// The program (the real one) is copied into a folder with a catalogue and
// started there; once it has settled, the folder is taken down: every
// entry's name, bytes and time stamps, and the folder's own time stamp.
// Then a second copy starts on it twice: as the victim's report mode (the
// program's window started as the program starts it, with its boxes
// answered), which must exit with status 1 having shown the refusal; and
// as the real program, which must come to rest showing its refusal box
// without touching the folder (it is then killed: offscreen, nobody can
// press the box's button). After each, the folder must be exactly as
// taken down. Last, the first copy is told to end with SIGTERM and must
// exit with status 0, lock file gone.

#include <sys/stat.h>
#include <sys/wait.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "second_instance: %s\n", why.c_str());
    std::exit(2);
}

std::string readFile(const std::string &path)
{
    std::string out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return {};
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

void writeFile(const std::string &path, const std::string &bytes, mode_t mode = 0644)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::close(fd) != 0)
        die("cannot write " + path);
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

std::string stamp(const struct stat &sb)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "ino %llu size %lld mtime %lld.%09ld ctime %lld.%09ld",
                  static_cast<unsigned long long>(sb.st_ino), static_cast<long long>(sb.st_size),
                  static_cast<long long>(sb.st_mtim.tv_sec), sb.st_mtim.tv_nsec,
                  static_cast<long long>(sb.st_ctim.tv_sec), sb.st_ctim.tv_nsec);
    return buf;
}

// The folder as one string: its own stamp, then each entry's name, stamp
// and bytes (the program itself by its stamp only).
std::string takeDown(const std::string &dir, const std::string &program)
{
    struct stat sb {};
    ::stat(dir.c_str(), &sb);
    std::string out = "folder " + stamp(sb) + "\n";
    for (const std::string &n : entries(dir)) {
        const std::string p = dir + "/" + n;
        ::lstat(p.c_str(), &sb);
        out += n + " " + stamp(sb) + "\n";
        if (n != program)
            out += readFile(p) + "\n";
    }
    return out;
}

std::string listing(const std::string &dir)
{
    std::string s;
    for (const std::string &n : entries(dir))
        s += (s.empty() ? "" : " ") + n;
    return s;
}

pid_t spawn(const std::vector<std::string> &args, const std::string &out)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        die(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Waits until the process has slept without using the processor for a
// tenth of a second and `ready` is in `dir`. False when it ended first.
bool settled(pid_t pid, const std::string &dir, const std::string &ready)
{
    unsigned long long last = ~0ULL;
    for (int quiet = 0; quiet < 5;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t paren = stat.rfind(')');
        char state = 0;
        unsigned long long utime = 0, stime = 0;
        if (paren == std::string::npos
            || std::sscanf(stat.c_str() + paren + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                           &state, &utime, &stime) != 3
            || state == 'Z')
            return false;
        struct stat sb {};
        const bool still = state == 'S' && utime + stime == last && ::lstat((dir + "/" + ready).c_str(), &sb) == 0;
        quiet = still ? quiet + 1 : 0;
        last = utime + stime;
    }
    return true;
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

} // namespace

int main(int argc, char **argv)
{
    std::string program, victim, work;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--program" || a == "--victim" || a == "--work") && i + 1 < argc)
            (a == "--program" ? program : a == "--victim" ? victim : work) = argv[++i];
        else if (a == "--keep")
            keep = true;
        else
            die("unknown argument " + a);
    }
    if (program.empty() || victim.empty())
        die("--program and --victim are needed");
    if (work.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        work = tmp && *tmp ? tmp : "/tmp";
    }

    std::string root = work + "/second_instance-XXXXXX";
    if (!::mkdtemp(root.data()))
        die("cannot make a folder in " + work);
    const std::string dir = root + "/catalogue", log = root + "/log";
    ::mkdir(dir.c_str(), 0777);
    const std::string name = program.substr(program.rfind('/') + 1);
    const std::string copy = dir + "/" + name;
    if (::link(program.c_str(), copy.c_str()) != 0)
        writeFile(copy, readFile(program), 0755);
    writeFile(dir + "/data.dat", "First\r\n\tSecond\r\n");
    writeFile(dir + "/text.dat", "2\r\nFirst\r\nThe first note\r\n0\r\nSecond\r\nThe second note\r\n0\r\n");

    int failures = 0;
    auto fail = [&](const std::string &why) {
        ++failures;
        std::printf("second_instance: FAILED: %s\n", why.c_str());
    };

    const pid_t first = spawn({copy}, log);
    if (!settled(first, dir, ".Quorvel.lock"))
        die("the first copy ended or never took the lock; its output:\n" + readFile(log));
    const std::string before = takeDown(dir, name);
    std::printf("second_instance: the first copy holds the folder: %s\n", listing(dir).c_str());

    // The window started as the program starts it, boxes answered.
    const std::string out = root + "/second";
    const int status = waitFor(spawn({victim, "report", dir}, out));
    const std::string said = readFile(out);
    std::printf("second_instance: the second copy (window, boxes answered) exited with %s %d\n",
                WIFEXITED(status) ? "status" : "signal", WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    if (!exitedWith(status, 1))
        fail("the second copy did not exit with status 1");
    if (said.find("box Каталог уже открыт другой копией Quorvel") == std::string::npos)
        fail("the second copy did not say the catalogue is open:\n" + said);
    if (takeDown(dir, name) != before)
        fail("the second copy changed the folder: " + listing(dir));

    // The real program: it comes to rest on its box, having touched nothing.
    // (Should it ever end by itself, it must end with status 1.)
    const pid_t real = spawn({copy}, out);
    const bool rested = settled(real, dir, name);
    if (rested)
        ::kill(real, SIGKILL);
    const int realStatus = waitFor(real);
    std::printf("second_instance: the second copy (the program) %s\n",
                rested ? "rests on its refusal box" : "ended by itself");
    if (!rested && !exitedWith(realStatus, 1))
        fail("the program's second copy ended, not with status 1");
    if (takeDown(dir, name) != before)
        fail("the program's second copy changed the folder: " + listing(dir));

    ::kill(first, SIGTERM);
    if (!exitedWith(waitFor(first), 0))
        fail("the first copy did not exit with status 0 at SIGTERM");
    const std::string left = listing(dir);
    if (left != "Quorvel.ini data.bak data.dat " + name + " text.bak text.dat")
        fail("after the first copy ended, the folder holds: " + left);

    std::printf("second_instance: %s\n", failures ? "FAILED" : "refused, 0 bytes written");
    if (!keep || failures == 0) {
        for (const std::string &n : entries(dir))
            ::unlink((dir + "/" + n).c_str());
        ::rmdir(dir.c_str());
        ::unlink(log.c_str());
        ::unlink(out.c_str());
        ::rmdir(root.c_str());
    } else {
        std::printf("second_instance: kept %s\n", root.c_str());
    }
    return failures == 0 ? 0 : 1;
}
