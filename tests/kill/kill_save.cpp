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
// export {DST} --format text, which finishes an interrupted save as the
// program's start does; check only reads) runs, and DST must hold both files old or both new and
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
// folder may hold besides the pair (the program's backups and settings;
// {LOCK}: this machine's lock file).

#include "KillSupport.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace killtest;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

const std::string kMarker = markerName();

struct Options {
    int kills = 200;
    unsigned long long seed = static_cast<unsigned long long>(monotonicNs());
    int nodes = 25000;
    std::string work;
    bool keep = false;
    std::vector<std::string> save;
    std::vector<std::string> start;
    std::string copy;                // a file kept in DST, by its base name
    int signal = 0;                  // the signal that makes the save command save
    std::string ready;               // with it: the file that says the start-up is under way
    std::vector<std::string> ignore; // names the folder may hold besides the pair
};

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
            + " that takes a line of some length, to give the file weight\r\n" + std::to_string(rng() % 40)
            + "\r\n";
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

// Starts the save: the command itself, or, with --signal, the program told
// to end once it has settled. The watch starts just before the save can
// begin, so the program's own start-up files do not count.
pid_t startSave(const std::vector<std::string> &save, const std::string &dst, const std::string &log,
                const Options &o, std::unique_ptr<Watch> &watch)
{
    if (!o.signal) {
        watch = std::make_unique<Watch>(dst);
        return spawn(save, log, true);
    }
    const pid_t pid = spawn(save, log, true);
    const bool ready = settled(pid, dst, o.ready);
    watch = std::make_unique<Watch>(dst);
    if (ready)
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
    for (Args a(argc, argv); a.next();) {
        if (a.arg == "--save")
            into = &o.save;
        else if (a.arg == "--start")
            into = &o.start;
        else if (into)
            into->push_back(a.arg);
        else if (a.arg == "--kills")
            o.kills = a.number();
        else if (a.arg == "--seed")
            o.seed = std::strtoull(a.value().c_str(), nullptr, 10);
        else if (a.arg == "--nodes")
            o.nodes = a.number();
        else if (a.arg == "--work")
            o.work = a.value();
        else if (a.arg == "--keep")
            o.keep = true;
        else if (a.arg == "--copy")
            o.copy = a.value();
        else if (a.arg == "--signal")
            o.signal = a.number();
        else if (a.arg == "--ready")
            o.ready = a.value();
        else if (a.arg == "--ignore") {
            const std::string name = a.value();
            o.ignore.push_back(name == "{LOCK}" ? lockName() : name);
        } else
            die("unknown argument " + a.arg);
    }
#ifdef QV_TOOL_PATH
    if (o.save.empty())
        o.save = {QV_TOOL_PATH, "resave", "{SRC}", "{DST}"};
    if (o.start.empty())
        o.start = {QV_TOOL_PATH, "export", "{DST}", "--format", "text"};
#endif
    if (o.save.empty() || o.start.empty())
        die("--save and --start are needed");
    if (o.signal && o.ready.empty())
        die("--signal needs --ready");
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    testName = "kill_save";
    const Options o = parse(argc, argv);
    std::mt19937_64 rng(o.seed);
    std::printf("kill_save: seed %llu, %d kills\n", o.seed, o.kills);

    const std::string root = makeRoot(o.work);
    const std::string src = root + "/src", dst = root + "/dst", log = root + "/log";
    ::mkdir(src.c_str(), 0777);
    ::mkdir(dst.c_str(), 0777);
    const std::vector<std::string> save = expand(o.save, src, dst);
    const std::vector<std::string> start = expand(o.start, src, dst);

    if (!o.copy.empty())
        linkOrCopy(o.copy, dst + "/" + baseName(o.copy));

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
                oldOutline.size(), oldRecords.size(), newOutline.size(), newRecords.size(), delay.b() * 1e3);

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
        std::string expected; // what the start must leave
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

        const int startStatus = waitFor(spawn(start, log, true));
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
                        k, d * 1e3, exitedWith(startStatus, 0) ? "succeeded" : "failed", found.c_str(),
                        expected.c_str(), left.c_str(), readFile(log).c_str());
        }
    }

    std::printf("kill_save: %d kills: %d before the renames (%d left temporaries), %d during them "
                "(%d with one file already replaced), %d after them, %d after the save ended\n",
                o.kills, before, leftTemporaries, during, halfway, after, finished);
    if (rerun)
        std::printf("kill_save: %d runs ended before their save began and were run again\n", rerun);
    std::printf("kill_save: %d of %d starts found a matching pair and no stray file\n", o.kills - failures,
                o.kills);
    return finish(root, o.keep, failures);
}
