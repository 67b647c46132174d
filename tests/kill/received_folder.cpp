// Folders received from someone else, made at random: at each name the
// program reads or writes, a plain file (sound or not), a symbolic link
// (to a file or a folder, inside or outside, or to nothing), a FIFO or a
// folder. Every tool command and the window (typing, then told to end) run
// on each such folder in turn; after each, every entry outside the folder
// must be as it was (names, bytes, link targets, modes, inodes, times), and
// no run may hang.
//
//   received_folder --tool PATH --victim PATH [--rounds N] [--seed S]
//                   [--work DIR] [--keep]

#include "KillSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace killtest;

// The unnamed lock, marker and journal of older versions, and this machine's.
const std::vector<std::string> kNames
    = {"data.dat",        "text.dat",      "Quorvel.ini", "data.bak",    "text.bak", ".Quorvel.commit",
       "Quorvel.journal", ".Quorvel.lock", markerName(),  journalName(), lockName()};

enum class Kind {
    Absent,
    Sound,
    Garbage,
    LinkOutsideFile,
    LinkOutsideRelative,
    LinkOutsideFolder,
    LinkInside,
    LinkDangling,
    Fifo,
    Folder,
    Count
};

const char *kindName(Kind k)
{
    static const char *names[] = {"absent",
                                  "sound",
                                  "garbage",
                                  "link-outside-file",
                                  "link-outside-relative",
                                  "link-outside-folder",
                                  "link-inside",
                                  "link-dangling",
                                  "fifo",
                                  "folder"};
    return names[static_cast<int>(k)];
}

const std::string kOutline = "First\r\n\tSecond\r\nThird\r\n";
const std::string kRecords
    = "3\r\nFirst\r\nThe first note\r\n0\r\nSecond\r\nwww.example.org\r\n5\r\nThird\r\nthird~~line\r\n0\r\n";

// Sound bytes for a name.
std::string soundBytes(const std::string &name, const std::string &outside)
{
    if (name == "data.dat" || name == "data.bak")
        return kOutline;
    if (name == "text.dat" || name == "text.bak")
        return kRecords;
    if (name == "Quorvel.ini")
        return "[Main]\r\nTreeWidth=2147483647\r\nLeft=-5\r\n";
    if (name == ".Quorvel.commit" || name == markerName()) {
        // A marker naming files of the outside folder.
        std::string m("Quorvel commit", sizeof "Quorvel commit");
        for (const char *n : {"data.dat", "text.dat"}) {
            const std::string tmp = outside + "/decoy/." + n + ".tmp-abc123";
            const std::string target = outside + "/decoy/" + n;
            m.append(tmp.c_str(), tmp.size() + 1);
            m.append(target.c_str(), target.size() + 1);
        }
        m.append("end", 4);
        return m;
    }
    return std::string("QVJ\0\2\0\0\0\xff\xff\xff\x7f", 12);
}

// One entry at `dir/name` of kind `k`.
void plant(const std::string &dir, const std::string &outside, const std::string &name, Kind k)
{
    const std::string p = dir + "/" + name;
    switch (k) {
    case Kind::Absent:
    case Kind::Count:
        break;
    case Kind::Sound:
        writeFile(p, soundBytes(name, outside));
        break;
    case Kind::Garbage:
        writeFile(p, std::string("x\0\x1a\r\n\t\t\tdeep\r\n-1\r\n", 16));
        break;
    case Kind::LinkOutsideFile:
        if (::symlink((outside + "/victim-" + name).c_str(), p.c_str()) != 0)
            die("symlink " + p);
        break;
    case Kind::LinkOutsideRelative:
        if (::symlink(("../outside/decoy/" + name).c_str(), p.c_str()) != 0)
            die("symlink " + p);
        break;
    case Kind::LinkOutsideFolder:
        if (::symlink((outside + "/decoy").c_str(), p.c_str()) != 0)
            die("symlink " + p);
        break;
    case Kind::LinkInside:
        writeFile(dir + "/inside-" + name, soundBytes(name, outside));
        if (::symlink(("inside-" + name).c_str(), p.c_str()) != 0)
            die("symlink " + p);
        break;
    case Kind::LinkDangling:
        if (::symlink((outside + "/nothing/" + name).c_str(), p.c_str()) != 0)
            die("symlink " + p);
        break;
    case Kind::Fifo:
        if (::mkfifo(p.c_str(), 0666) != 0)
            die("mkfifo " + p);
        break;
    case Kind::Folder:
        if (::mkdir(p.c_str(), 0777) != 0)
            die("mkdir " + p);
        writeFile(p + "/data.dat", kOutline);
        break;
    }
}

// The outside folder: files every link may point at, decoys named like the
// catalogue's files and their temporaries, a write-protected script.
void makeOutside(const std::string &outside)
{
    ::mkdir(outside.c_str(), 0777);
    ::mkdir((outside + "/decoy").c_str(), 0777);
    for (const std::string &n : kNames) {
        writeFile(outside + "/victim-" + n, "#!/bin/sh\necho precious " + n + "\n", 0555);
        writeFile(outside + "/decoy/" + n, soundBytes(n, outside));
    }
    for (const char *n : {"data.dat", "text.dat"})
        writeFile(outside + "/decoy/." + std::string(n) + ".tmp-abc123",
                  "temporary-looking " + std::string(n));
}

std::string stamp(const std::string &path, struct stat &sb)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "mode %o ino %llu size %lld mtime %lld.%09ld ctime %lld.%09ld", sb.st_mode,
                  static_cast<unsigned long long>(sb.st_ino), static_cast<long long>(sb.st_size),
                  static_cast<long long>(sb.st_mtim.tv_sec), sb.st_mtim.tv_nsec,
                  static_cast<long long>(sb.st_ctim.tv_sec), sb.st_ctim.tv_nsec);
    (void)path;
    return buf;
}

// A folder tree as one string: each entry's path, stamp and bytes or link
// target.
std::string takeDown(const std::string &dir)
{
    std::string out;
    std::vector<std::string> todo{dir};
    while (!todo.empty()) {
        const std::string d = todo.back();
        todo.pop_back();
        struct stat sb {};
        ::lstat(d.c_str(), &sb);
        out += d + " " + stamp(d, sb) + "\n";
        for (const std::string &n : entries(d)) {
            const std::string p = d + "/" + n;
            ::lstat(p.c_str(), &sb);
            if (S_ISDIR(sb.st_mode)) {
                todo.push_back(p);
                continue;
            }
            out += p + " " + stamp(p, sb) + "\n";
            if (S_ISLNK(sb.st_mode)) {
                char target[4096];
                const ssize_t len = ::readlink(p.c_str(), target, sizeof target);
                out += "-> " + std::string(target, len > 0 ? static_cast<size_t>(len) : 0) + "\n";
            } else if (S_ISREG(sb.st_mode)) {
                out += readFile(p) + "\n";
            }
        }
    }
    return out;
}

// Waits up to `ms` for `pid`; kills it and returns -1 when it is still running.
int waitWithin(pid_t pid, int ms)
{
    for (int waited = 0; waited < ms; waited += 10) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    waitFor(pid);
    return -1;
}

bool logHas(const std::string &log, const std::string &what)
{
    return readFile(log).find(what) != std::string::npos;
}

} // namespace

int main(int argc, char **argv)
{
    testName = "received_folder";
    std::string tool, victim, work;
    bool keep = false;
    int rounds = 24;
    unsigned long long seed = 1;
    for (Args a(argc, argv); a.next();) {
        if (a.arg == "--tool")
            tool = a.value();
        else if (a.arg == "--victim")
            victim = a.value();
        else if (a.arg == "--rounds")
            rounds = std::atoi(a.value().c_str());
        else if (a.arg == "--seed")
            seed = std::strtoull(a.value().c_str(), nullptr, 10);
        else if (a.arg == "--work")
            work = a.value();
        else if (a.arg == "--keep")
            keep = true;
        else
            die("unknown argument " + a.arg);
    }
    if (tool.empty() || victim.empty())
        die("--tool and --victim are needed");

    const std::string root = makeRoot(work);
    const std::string outside = root + "/outside", dir = root + "/catalogue", dst = root + "/destination";
    const std::string logs = root + "/logs";
    ::mkdir(logs.c_str(), 0777);
    // The machine's own folders (state, caches) are not the sender's: they
    // live apart and may change.
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    writeFile(logs + "/source.txt", "Imported\n\tChild\n");
    makeOutside(outside);
    const std::string before = takeDown(outside);

    std::mt19937_64 rng(seed);
    int failures = 0, typed = 0;
    const int timeoutMs = 60000;
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"check", {tool, "check", dir}},
        {"check --force", {tool, "check", dir, "--force"}},
        {"find", {tool, "find", dir, "first"}},
        {"export", {tool, "export", dir, "--format", "text", "-o", logs + "/export.txt"}},
        {"export html", {tool, "export", dir, "--format", "html"}},
        {"resave", {tool, "resave", dir, dst, "--force"}},
        {"resave into itself", {tool, "resave", dir, dir, "--force"}},
        {"import", {tool, "import", logs + "/source.txt", dir, "--format", "text", "--append"}},
    };
    for (int round = 0; round < rounds; ++round) {
        std::vector<Kind> layout;
        std::string described;
        for (const std::string &n : kNames) {
            layout.push_back(static_cast<Kind>(rng() % static_cast<unsigned>(Kind::Count)));
            described += " " + n + "=" + kindName(layout.back());
        }
        std::printf("received_folder: round %d:%s\n", round, described.c_str());
        std::fflush(stdout);
        auto fresh = [&] {
            removeTree(dir);
            removeTree(dst);
            removeTree(root + "/state");
            ::mkdir(dir.c_str(), 0777);
            ::mkdir(dst.c_str(), 0777);
            for (size_t i = 0; i < kNames.size(); ++i)
                plant(dir, outside, kNames[i], layout[i]);
        };
        auto verdict = [&](const std::string &what, bool hung) {
            if (hung) {
                ++failures;
                std::printf("received_folder: FAILED: round %d: %s did not end\n", round, what.c_str());
            }
            if (takeDown(outside) != before) {
                ++failures;
                std::printf("received_folder: FAILED: round %d: %s changed the outside folder\n", round,
                            what.c_str());
                // The next round starts from a clean outside.
                removeTree(outside);
                makeOutside(outside);
            }
        };
        for (const auto &[what, args] : commands) {
            fresh();
            const int status = waitWithin(spawn(args, logs + "/log", true), timeoutMs);
            verdict(what, status == -1);
        }
        // The window: types a few keys, then is told to end and saves.
        fresh();
        const pid_t pid = spawn({victim, "type", dir, "--seed", std::to_string(seed + round), "--keys", "5"},
                                logs + "/log", true);
        bool hung = true;
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                hung = false;
                break;
            }
            if (logHas(logs + "/log", "done ")) {
                ++typed;
                ::kill(pid, SIGTERM);
                hung = waitWithin(pid, timeoutMs) == -1;
                break;
            }
            ::usleep(20000);
        }
        if (hung)
            ::kill(pid, SIGKILL);
        verdict("the window", hung);
        // The window again, every box answered yes (outside writes agreed
        // to are the user's own choice, so this comes last in the round).
        fresh();
        verdict("the window's report",
                waitWithin(spawn({victim, "report", dir}, logs + "/log", true), timeoutMs) == -1);
    }
    std::printf("received_folder: %d rounds, the window typed and saved in %d\n", rounds, typed);
    return finish(root, keep, failures);
}
