// Ends a window that is being typed into, and checks what the next start
// finds. The window is typing_victim's (the program's own window, started
// as the program starts it, typing by itself).
//
//   kill_typing --victim PATH [--kills N] [--seed S] [--nodes N] [--work DIR] [--keep]
//       N times over: a fresh catalogue, the victim types into it, and is
//       killed with SIGKILL at a moment drawn uniformly from 3 to 6 seconds
//       after its first key. Then the victim reopens the folder answering
//       Yes to every box: the recovery must have been offered, and the
//       notes and nodes it restored must be the steps typed, in order, from
//       the first on: every step begun more than 2 seconds before the kill,
//       and none that was never begun.
//   kill_typing --victim PATH --signal NUMBER [--runs N] [--keys K] ...
//       N times over: the victim types K steps, and is sent the signal right
//       after the last one. It must exit with status 0 having saved,
//       leaving no file but the pair, its backups and the settings; the
//       next start offers no recovery and finds every step typed.
//
// Every run prints its figures: steps typed, restored, and due.
// Exit status 0 when every run passed.

#include "KillSupport.h"

#include <sys/stat.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace killtest;

struct Options {
    std::string victim;
    int runs = 15;
    unsigned long long seed = static_cast<unsigned long long>(monotonicNs());
    int nodes = 2000;
    int signal = 0; // 0: SIGKILL at a random moment
    long keys = 100;
    std::string work;
    bool keep = false;
};

// A running victim with its stdout on a pipe and its stderr in a log.
struct Victim {
    pid_t pid = -1;
    int out = -1;
    std::string pending; // a line not yet ended

    Victim(const std::vector<std::string> &args, const std::string &log)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            die("pipe");
        pid = spawn(args, log, false, fds[1]);
        ::close(fds[1]);
        out = fds[0];
    }
    ~Victim()
    {
        if (out >= 0)
            ::close(out);
    }
    Victim(const Victim &) = delete;
    Victim &operator=(const Victim &) = delete;

    // Reads what is there within `ms` (-1: until the end) into `lines`.
    // False at the end of the output.
    bool read(int ms, std::vector<std::string> &lines)
    {
        pollfd p{out, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return true;
        char buf[1 << 14];
        const ssize_t n = ::read(out, buf, sizeof buf);
        if (n <= 0)
            return false;
        pending.append(buf, static_cast<size_t>(n));
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, eol));
            pending.erase(0, eol + 1);
        }
        return true;
    }
    void readToEnd(std::vector<std::string> &lines)
    {
        while (read(-1, lines)) {}
    }
    int wait() { return waitFor(pid); }
};

// A step the victim began: a key (its character) or a node (its caption).
struct Step {
    long long time = 0;
    bool node = false;
    char key = 0;
    std::string caption;
};

std::vector<Step> steps(const std::vector<std::string> &lines)
{
    std::vector<Step> out;
    for (const std::string &line : lines) {
        Step s;
        char kind[8] = {};
        int used = 0;
        if (std::sscanf(line.c_str(), "%7s %lld %n", kind, &s.time, &used) < 2)
            continue;
        if (std::strcmp(kind, "key") == 0) {
            s.key = line[static_cast<size_t>(used)] == '_' ? ' ' : line[static_cast<size_t>(used)];
        } else if (std::strcmp(kind, "node") == 0) {
            s.node = true;
            s.caption = line.substr(static_cast<size_t>(used));
        } else {
            continue;
        }
        out.push_back(s);
    }
    return out;
}

// What the victim's report said.
struct Report {
    std::vector<std::string> boxes;
    size_t nodes = 0;
    std::map<std::string, std::string> notes; // caption -> note ("-": none)
    bool complete = false;
};

Report parseReport(const std::vector<std::string> &lines)
{
    Report r;
    for (const std::string &line : lines) {
        if (line.rfind("box ", 0) == 0) {
            r.boxes.push_back(line.substr(4));
        } else if (line.rfind("nodes ", 0) == 0) {
            r.nodes = std::strtoul(line.c_str() + 6, nullptr, 10);
        } else if (line.rfind("node ", 0) == 0) {
            const size_t tab = line.find('\t');
            if (tab != std::string::npos)
                r.notes.emplace(line.substr(5, tab - 5), line.substr(tab + 1));
        } else if (line == "end") {
            r.complete = true;
        }
    }
    return r;
}

const char *const kFirstCaption = "Node 0";
const char *const kFirstNote = "The first note";

// A small catalogue in the program's own form; the victim types into the
// first node's note.
void makeCatalogue(const std::string &dir, int nodes, std::mt19937_64 &rng)
{
    std::string outline, records = std::to_string(nodes) + "\r\n";
    int depth = 0;
    for (int i = 0; i < nodes; ++i) {
        const int r = static_cast<int>(rng() % 4);
        if (r == 0 && i > 0 && depth < 8)
            ++depth;
        else if (r == 1 && depth > 0)
            --depth;
        const std::string caption = "Node " + std::to_string(i);
        outline += std::string(static_cast<size_t>(depth), '\t') + caption + "\r\n";
        records += caption + "\r\n"
            + (i == 0 ? std::string(kFirstNote) : "A note for node " + std::to_string(i)) + "\r\n0\r\n";
    }
    writeFile(dir + "/data.dat", outline);
    writeFile(dir + "/text.dat", records);
}

// The steps as one string, a node as '|'.
std::string asText(const std::vector<Step> &typed, size_t count)
{
    std::string s;
    for (size_t i = 0; i < count && i < typed.size(); ++i)
        s += typed[i].node ? '|' : typed[i].key;
    return s;
}

// What the report restored of the steps, in the same form; "" with `why`
// set when it is not a run of them from the first on.
std::string restored(const Report &r, const std::vector<Step> &typed, int nodes, std::string &why)
{
    const auto first = r.notes.find(kFirstCaption);
    if (first == r.notes.end() || first->second.rfind(kFirstNote, 0) != 0) {
        why = "the first node or the start of its note is gone";
        return {};
    }
    std::string s = first->second.substr(std::strlen(kFirstNote));
    size_t created = 0;
    bool missing = false;
    for (const Step &step : typed) {
        if (!step.node)
            continue;
        const auto it = r.notes.find(step.caption);
        if (it == r.notes.end()) {
            missing = true;
            continue;
        }
        if (missing) {
            why = "node \"" + step.caption + "\" is there, an earlier one is not";
            return {};
        }
        ++created;
        s += '|' + (it->second == "-" ? std::string() : it->second);
    }
    if (r.nodes != static_cast<size_t>(nodes) + created) {
        why = std::to_string(r.nodes) + " nodes where " + std::to_string(nodes + created) + " were due";
        return {};
    }
    return s;
}

bool offered(const Report &r)
{
    for (const std::string &b : r.boxes)
        if (b.rfind("Восстановить несохранённые изменения от ", 0) == 0)
            return true;
    return false;
}

Report runReport(const Options &o, const std::string &dir, const std::string &log)
{
    Victim v({o.victim, "report", dir}, log);
    std::vector<std::string> lines;
    v.readToEnd(lines);
    const int status = v.wait();
    Report r = parseReport(lines);
    r.complete = r.complete && exitedWith(status, 0);
    return r;
}

Options parse(int argc, char **argv)
{
    Options o;
    for (Args a(argc, argv); a.next();) {
        if (a.arg == "--victim")
            o.victim = a.value();
        else if (a.arg == "--kills" || a.arg == "--runs")
            o.runs = a.number();
        else if (a.arg == "--seed")
            o.seed = std::strtoull(a.value().c_str(), nullptr, 10);
        else if (a.arg == "--nodes")
            o.nodes = a.number();
        else if (a.arg == "--signal")
            o.signal = a.number();
        else if (a.arg == "--keys")
            o.keys = std::atol(a.value().c_str());
        else if (a.arg == "--work")
            o.work = a.value();
        else if (a.arg == "--keep")
            o.keep = true;
        else
            die("unknown argument " + a.arg);
    }
    if (o.victim.empty())
        die("--victim is needed");
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    testName = "kill_typing";
    const Options o = parse(argc, argv);
    std::mt19937_64 rng(o.seed);
    const char *what = o.signal ? strsignal(o.signal) : "SIGKILL";
    std::printf("kill_typing: seed %llu, %d runs ended by %s\n", o.seed, o.runs, what);

    const std::string root = makeRoot(o.work);
    const std::string dir = root + "/catalogue", log = root + "/log";

    int failures = 0;
    size_t typedAll = 0, restoredAll = 0, dueAll = 0;
    long long oldestLost = 0;
    for (int run = 0; run < o.runs; ++run) {
        removeTree(dir);
        ::mkdir(dir.c_str(), 0777);
        makeCatalogue(dir, o.nodes, rng);

        std::vector<std::string> lines;
        long long killedAt = 0;
        int status = 0;
        {
            std::vector<std::string> args{o.victim, "type", dir, "--seed", std::to_string(rng())};
            if (o.signal)
                args.insert(args.end(), {"--keys", std::to_string(o.keys)});
            Victim v(args, log);
            if (o.signal) {
                // Right after the last step.
                while (lines.empty() || lines.back().rfind("done ", 0) != 0)
                    if (!v.read(-1, lines))
                        die("the victim ended before its last step; its log:\n" + readFile(log));
                ::kill(v.pid, o.signal);
            } else {
                // From 3 to 6 seconds after the first key.
                const long long span = std::uniform_int_distribution<long long>(3000, 6000)(rng) * 1000000LL;
                long long deadline = 0;
                while (deadline == 0 || monotonicNs() < deadline) {
                    if (!v.read(10, lines))
                        die("the victim ended by itself; its log:\n" + readFile(log));
                    if (deadline == 0 && !steps(lines).empty())
                        deadline = steps(lines).front().time + span;
                }
                killedAt = monotonicNs();
                ::kill(v.pid, SIGKILL);
            }
            v.readToEnd(lines);
            status = v.wait();
        }
        const std::vector<Step> typed = steps(lines);
        const std::string all = asText(typed, typed.size());

        std::string why;
        if (o.signal && !exitedWith(status, 0))
            why = "the victim did not exit with status 0 at the signal";
        // A run that ended by saving leaves no journal, lock or temporary.
        const std::string left = joined(entries(dir));
        if (o.signal && why.empty() && left != "Quorvel.ini data.bak data.dat text.bak text.dat")
            why = "the folder holds: " + left;
        const Report r = runReport(o, dir, log);
        std::string back;
        if (why.empty() && !r.complete)
            why = "the reopened window did not report";
        if (why.empty())
            back = restored(r, typed, o.nodes, why);

        // Due: every step begun more than 2 s before the kill; all of them
        // after a signal, which saves.
        size_t due = typed.size();
        if (!o.signal) {
            due = 0;
            while (due < typed.size() && typed[due].time < killedAt - 2000000000LL)
                ++due;
        }
        if (why.empty()) {
            if (all.compare(0, back.size(), back) != 0 || back.size() > all.size())
                why = "what came back is not what was typed";
            else if (back.size() < due)
                why = "steps typed more than 2 s before the kill are missing";
            else if (!o.signal && !offered(r))
                why = "no recovery was offered";
            else if (o.signal && offered(r))
                why = "a recovery was offered after a save";
        }
        typedAll += typed.size();
        restoredAll += back.size();
        dueAll += due;
        // How long before the kill the oldest step that did not come back began.
        std::string oldest;
        if (!o.signal && back.size() < typed.size()) {
            const long long ms = (killedAt - typed[back.size()].time) / 1000000;
            oldest = ", the oldest lost begun " + std::to_string(ms) + " ms before the kill";
            oldestLost = std::max(oldestLost, ms);
        }
        std::printf("kill_typing: run %d: %zu steps typed, %zu due, %zu restored%s%s%s\n", run, typed.size(),
                    due, back.size(), oldest.c_str(), why.empty() ? "" : ": FAILED, ", why.c_str());
        if (!why.empty()) {
            ++failures;
            std::printf("  typed:    %s\n  restored: %s\n  log:\n%s", all.c_str(), back.c_str(),
                        readFile(log).c_str());
        }
        ::unlink(log.c_str());
    }

    std::printf("kill_typing: %d of %d runs passed; %zu steps typed, %zu due, %zu restored (%zu lost)\n",
                o.runs - failures, o.runs, typedAll, dueAll, restoredAll, typedAll - restoredAll);
    if (!o.signal)
        std::printf("kill_typing: no step lost was begun more than %lld ms before its kill\n", oldestLost);
    return finish(root, o.keep, failures);
}
