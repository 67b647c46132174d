// Kills a save at random moments and checks what the next start finds.
//
//   kill_save [--kills N] [--seed S] [--nodes N] [--work DIR] [--keep]
//             [--copy FILE] [--signal NUMBER --ready NAME] [--ignore NAME]...
//             [--save PROGRAM ARG... --start PROGRAM ARG...]
//
// A catalogue in an "old" form the writer never produces (LF line ends in
// data.dat, a blank before text.dat's count) is put in SRC and DST. The save
// command (default: quorvel-tool resave {SRC} {DST}) rewrites DST; it is run
// whole a few times first, to learn the new bytes and, by watching DST, when
// the save's files come and go. Then, N times over: DST gets the old files
// back, the save starts and is killed with SIGKILL after a delay drawn
// uniformly over the save's span, the start command (default: quorvel-tool
// check {DST}) runs, and DST must hold both files old or both new and
// nothing else. {SRC} and {DST} in any argument are replaced by the folders.
// The figures say how many kills fell before, during and after the renames.
// Exit status 0 when every kill passed.
//
// For a program that saves when told to end (the window saves at SIGTERM as
// a close does): --copy puts FILE into DST once (hard-linked where it can
// be), where it stays through the resets, so a program that keeps its
// catalogue beside itself runs there as {DST}/NAME; --signal makes the save
// command a program that runs until sent that signal: once NAME (--ready)
// is in DST and the process sleeps without using the processor, it is sent
// the signal, and the kill's delay counts from the save's first temporary
// as before. A run that ended without starting a save (the signal came
// before the load) is run again and not counted. --ignore names a file the
// folder may hold besides the pair (the program's backups and settings).

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

const char *const kMarker = ".Quorvel.commit";

struct Options {
    int kills = 200;
    unsigned long long seed = 0;
    bool seeded = false;
    int nodes = 25000;
    std::string work;
    bool keep = false;
    std::vector<std::string> save;
    std::vector<std::string> start;
    std::string copy;                 // a file kept in DST, by its base name
    int signal = 0;                   // the signal that makes the save command save
    std::string ready;                // with it: the file that says the start-up is under way
    std::vector<std::string> ignore;  // names the folder may hold besides the pair
};

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "kill_save: %s\n", why.c_str());
    std::exit(2);
}

std::string readFile(const std::string &path)
{
    std::string out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

void writeFile(const std::string &path, const std::string &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        die("cannot write " + path);
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::vector<std::string> &names)
{
    std::string s;
    for (const std::string &n : names)
        s += (s.empty() ? "" : " ") + n;
    return s;
}

bool exists(const std::string &path)
{
    struct stat sb {};
    return ::lstat(path.c_str(), &sb) == 0;
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

// The old catalogue: nodes in a few levels, each with a note. The writer
// turns data.dat's LF line ends into CR LF and drops the blank before the
// record count, so a save changes every byte position of both files.
void makeOldCatalogue(int nodes, std::mt19937_64 &rng, std::string &outline, std::string &records)
{
    outline.clear();
    records = " " + std::to_string(nodes) + "\r\n";
    int depth = 0;
    for (int i = 0; i < nodes; ++i) {
        const int r = static_cast<int>(rng() % 4);
        if (r == 0 && i > 0 && depth < 12)
            ++depth;
        else if (r == 1 && depth > 0)
            --depth;
        const std::string caption = "Node " + std::to_string(i) + " of the kill test";
        outline += std::string(static_cast<size_t>(depth), '\t') + caption + "\n";
        records += caption + "\r\n" + "A note for node " + std::to_string(i)
                   + " that takes a line of some length, to give the file weight\r\n"
                   + std::to_string(rng() % 40) + "\r\n";
    }
}

// The folder's entries but the copied file and the ignored names.
std::string listing(const std::string &dst, const Options &o)
{
    std::vector<std::string> names;
    for (const std::string &n : entries(dst))
        if ((o.copy.empty() || n != baseName(o.copy))
            && std::find(o.ignore.begin(), o.ignore.end(), n) == o.ignore.end())
            names.push_back(n);
    return joined(names);
}

void resetDst(const std::string &dst, const std::string &outline, const std::string &records,
              const Options &o)
{
    for (const std::string &n : entries(dst))
        if (o.copy.empty() || n != baseName(o.copy))
            ::unlink((dst + "/" + n).c_str());
    writeFile(dst + "/data.dat", outline);
    writeFile(dst + "/text.dat", records);
}

std::vector<std::string> expand(const std::vector<std::string> &args, const std::string &src,
                                const std::string &dst)
{
    std::vector<std::string> out;
    for (std::string a : args) {
        for (auto [key, value] : {std::pair<std::string, std::string>{"{SRC}", src}, {"{DST}", dst}})
            for (size_t pos; (pos = a.find(key)) != std::string::npos;)
                a.replace(pos, key.size(), value);
        out.push_back(a);
    }
    return out;
}

// Starts `args` with stdout and stderr going to `log`.
pid_t spawn(const std::vector<std::string> &args, const std::string &log)
{
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        die(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
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
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// Watches DST for the moments of a save: its first temporary file created,
// the commit marker put in place and removed.
class Watch {
public:
    explicit Watch(const std::string &dst)
    {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0 || ::inotify_add_watch(fd_, dst.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO) < 0)
            die("inotify");
        t0_ = Clock::now();
    }
    ~Watch() { ::close(fd_); }
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    // Seconds from the watch's start; -1 until seen.
    double begin = -1, marker = -1, end = -1;

    // Takes in what happened, waiting up to `ms` for something to.
    void poll(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, ms);
        const double now = Seconds(Clock::now() - t0_).count();
        alignas(inotify_event) char buf[1 << 14];
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) {
            for (char *q = buf; q < buf + n;) {
                auto *ev = reinterpret_cast<inotify_event *>(q);
                const std::string name = ev->len ? ev->name : "";
                if ((ev->mask & IN_CREATE) && name.find(".tmp-") != std::string::npos && begin < 0)
                    begin = now;
                if ((ev->mask & IN_MOVED_TO) && name == kMarker)
                    marker = now;
                if ((ev->mask & IN_DELETE) && name == kMarker)
                    end = now;
                q += sizeof(inotify_event) + ev->len;
            }
        }
    }
    double elapsed() const { return Seconds(Clock::now() - t0_).count(); }

private:
    int fd_ = -1;
    Clock::time_point t0_;
};

// The processor time a process has used, in clock ticks, and whether it is
// asleep; false when it is gone.
bool processState(pid_t pid, unsigned long long &ticks, bool &sleeping)
{
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    if (paren == std::string::npos)
        return false;
    // After the command's ")": state, then 10 fields, then utime and stime.
    char state = 0;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(stat.c_str() + paren + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                    &state, &utime, &stime) != 3)
        return false;
    ticks = utime + stime;
    sleeping = state == 'S';
    return state != 'Z';
}

// Waits until `ready` is in DST and the process has slept without using
// the processor for a tenth of a second: its start-up is done and its event
// loop waits. False when the process ended first.
bool waitSettled(pid_t pid, const std::string &dst, const Options &o)
{
    int quiet = 0;
    unsigned long long last = ~0ULL;
    while (quiet < 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        unsigned long long ticks = 0;
        bool sleeping = false;
        if (!processState(pid, ticks, sleeping))
            return false;
        const bool still = sleeping && ticks == last && exists(dst + "/" + o.ready);
        quiet = still ? quiet + 1 : 0;
        last = ticks;
    }
    return true;
}

// Starts the save: the command itself, or, with --signal, the program told
// to end once it has settled. The watch starts just before the save can
// begin, so the program's own start-up files do not count.
pid_t startSave(const std::vector<std::string> &save, const std::string &dst, const std::string &log,
                const Options &o, std::unique_ptr<Watch> &watch)
{
    if (!o.signal) {
        watch = std::make_unique<Watch>(dst);
        return spawn(save, log);
    }
    const pid_t pid = spawn(save, log);
    const bool settled = waitSettled(pid, dst, o);
    watch = std::make_unique<Watch>(dst);
    if (settled)
        ::kill(pid, o.signal);
    return pid;
}

// One whole save, watched: from its first temporary to its marker's removal.
struct Span {
    double toMarker = 0, length = 0, total = 0;
};

Span watchedSave(const std::vector<std::string> &save, const std::string &dst, const std::string &log,
                 const Options &o)
{
    std::unique_ptr<Watch> watch;
    pid_t pid = startSave(save, dst, log, o, watch);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid)
        watch->poll(1);
    watch->poll(0);
    if (!exitedWith(status, 0))
        die("the save failed; its output:\n" + readFile(log));
    if (watch->begin < 0 || watch->marker < 0 || watch->end < 0)
        die("no temporary file or commit marker came and went in " + dst);
    return Span{watch->marker - watch->begin, watch->end - watch->begin, watch->elapsed()};
}

Options parse(int argc, char **argv)
{
    Options o;
    std::vector<std::string> *into = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--save") {
            into = &o.save;
        } else if (a == "--start") {
            into = &o.start;
        } else if (into) {
            into->push_back(a);
        } else if (a == "--kills") {
            o.kills = std::atoi(value().c_str());
        } else if (a == "--seed") {
            o.seed = std::strtoull(value().c_str(), nullptr, 10);
            o.seeded = true;
        } else if (a == "--nodes") {
            o.nodes = std::atoi(value().c_str());
        } else if (a == "--work") {
            o.work = value();
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--copy") {
            o.copy = value();
        } else if (a == "--signal") {
            o.signal = std::atoi(value().c_str());
        } else if (a == "--ready") {
            o.ready = value();
        } else if (a == "--ignore") {
            o.ignore.push_back(value());
        } else {
            die("unknown argument " + a);
        }
    }
#ifdef QV_TOOL_PATH
    if (o.save.empty())
        o.save = {QV_TOOL_PATH, "resave", "{SRC}", "{DST}"};
    if (o.start.empty())
        o.start = {QV_TOOL_PATH, "check", "{DST}"};
#endif
    if (o.save.empty() || o.start.empty())
        die("--save and --start are needed");
    if (o.signal && o.ready.empty())
        die("--signal needs --ready");
    if (!o.seeded)
        o.seed = static_cast<unsigned long long>(Clock::now().time_since_epoch().count());
    if (o.work.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        o.work = tmp && *tmp ? tmp : "/tmp";
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    Options o = parse(argc, argv);
    std::mt19937_64 rng(o.seed);
    std::printf("kill_save: seed %llu, %d kills\n", o.seed, o.kills);

    std::string root = o.work + "/kill_save-XXXXXX";
    if (!::mkdtemp(root.data()))
        die("cannot make a folder in " + o.work);
    const std::string src = root + "/src", dst = root + "/dst", log = root + "/log";
    ::mkdir(src.c_str(), 0777);
    ::mkdir(dst.c_str(), 0777);
    const std::vector<std::string> save = expand(o.save, src, dst);
    const std::vector<std::string> start = expand(o.start, src, dst);

    if (!o.copy.empty()) {
        const std::string to = dst + "/" + baseName(o.copy);
        if (::link(o.copy.c_str(), to.c_str()) != 0) {
            writeFile(to, readFile(o.copy));
            ::chmod(to.c_str(), 0755);
        }
    }

    std::string oldOutline, oldRecords;
    makeOldCatalogue(o.nodes, rng, oldOutline, oldRecords);
    writeFile(src + "/data.dat", oldOutline);
    writeFile(src + "/text.dat", oldRecords);

    // Three whole saves: the new bytes, and the span the kills are spread over.
    std::string newOutline, newRecords;
    std::vector<double> lengths;
    for (int i = 0; i < 3; ++i) {
        resetDst(dst, oldOutline, oldRecords, o);
        const Span s = watchedSave(save, dst, log, o);
        lengths.push_back(s.length);
        const std::string outline = readFile(dst + "/data.dat"), records = readFile(dst + "/text.dat");
        if (i > 0 && (outline != newOutline || records != newRecords))
            die("two whole saves wrote different bytes");
        newOutline = outline;
        newRecords = records;
        if (listing(dst, o) != "data.dat text.dat")
            die("a whole save left: " + listing(dst, o));
        std::printf("kill_save: whole run %.1f ms; from the first temporary %.1f ms to the "
                    "marker, %.1f ms to its removal\n",
                    s.total * 1e3, s.toMarker * 1e3, s.length * 1e3);
    }
    if (newOutline == oldOutline || newRecords == oldRecords)
        die("the save does not change both files; the test would prove nothing");
    // Counted from the first temporary file, over the median save with a
    // margin past its end (a busy machine stretches single runs).
    std::sort(lengths.begin(), lengths.end());
    std::uniform_real_distribution<double> delay(0.0, lengths[1] * 1.2);
    std::printf("kill_save: %zu + %zu bytes old, %zu + %zu new; kills spread over %.1f ms "
                "from the first temporary\n",
                oldOutline.size(), oldRecords.size(), newOutline.size(), newRecords.size(),
                delay.b() * 1e3);

    int before = 0, leftTemporaries = 0, during = 0, halfway = 0, after = 0, finished = 0;
    int failures = 0, rerun = 0;
    for (int k = 0; k < o.kills; ++k) {
        resetDst(dst, oldOutline, oldRecords, o);
        const double d = delay(rng);
        int status = 0;
        bool saved = true;
        {
            // The load before the save varies far more than the save: the
            // delay runs from the save's first file.
            std::unique_ptr<Watch> watch;
            pid_t pid = startSave(save, dst, log, o, watch);
            bool gone = false;
            while (watch->begin < 0 && !gone) {
                watch->poll(1);
                gone = ::waitpid(pid, &status, WNOHANG) == pid;
            }
            saved = watch->begin >= 0;
            if (!gone) {
                const double until = watch->begin + d;
                while (watch->elapsed() < until)
                    std::this_thread::sleep_for(Seconds((until - watch->elapsed()) * 0.5));
                ::kill(pid, SIGKILL);
                status = waitFor(pid);
            }
        }
        // A program told to end before it loaded saves nothing: not a kill.
        if (o.signal && !saved) {
            if (++rerun > o.kills)
                die("the program keeps ending without a save; its output:\n" + readFile(log));
            --k;
            continue;
        }

        // Where the kill fell, from what it left.
        const bool marker = exists(dst + "/" + kMarker);
        const std::string outline = readFile(dst + "/data.dat"), records = readFile(dst + "/text.dat");
        const bool outlineNew = outline == newOutline, recordsNew = records == newRecords;
        std::string expected;  // what the start must leave
        if (exitedWith(status, 0)) {
            ++finished;
            expected = "new";
        } else if (marker) {
            ++during;
            halfway += outlineNew != recordsNew;
            expected = "new";
        } else if (outlineNew || recordsNew) {
            ++after;
            expected = "new";
        } else {
            ++before;
            const std::string left = joined(entries(dst));
            leftTemporaries += left.find(".tmp-") != std::string::npos;
            expected = "old";
        }

        const int startStatus = waitFor(spawn(start, log));
        const std::string o2 = readFile(dst + "/data.dat"), r2 = readFile(dst + "/text.dat");
        std::string found = "mixed";
        if (o2 == oldOutline && r2 == oldRecords)
            found = "old";
        else if (o2 == newOutline && r2 == newRecords)
            found = "new";
        const std::string left = listing(dst, o);
        if (!exitedWith(startStatus, 0) || found != expected || left != "data.dat text.dat") {
            ++failures;
            std::printf("kill_save: FAILED kill %d at %.2f ms: the start %s, the pair is %s "
                        "(expected %s), the folder holds: %s\n%s",
                        k, d * 1e3, exitedWith(startStatus, 0) ? "succeeded" : "failed",
                        found.c_str(), expected.c_str(), left.c_str(), readFile(log).c_str());
        }
    }

    std::printf("kill_save: %d kills: %d before the renames (%d left temporaries), %d during them "
                "(%d with one file already replaced), %d after them, %d after the save ended\n",
                o.kills, before, leftTemporaries, during, halfway, after, finished);
    if (rerun)
        std::printf("kill_save: %d runs ended before their save began and were run again\n", rerun);
    std::printf("kill_save: %d of %d starts found a matching pair and no stray file\n",
                o.kills - failures, o.kills);
    if (!o.keep || failures == 0)
        removeTree(root);
    else
        std::printf("kill_save: kept %s\n", root.c_str());
    return failures == 0 ? 0 : 1;
}
