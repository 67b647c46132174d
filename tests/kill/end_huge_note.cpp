// The program told to end while it opens a catalogue whose first note is
// one line of 43 MB: it must be gone within a second of the signal, and
// data.dat and text.dat must be byte for byte as they were.
//
//   end_huge_note --program PATH [--limit-ms MS] [--work DIR] [--keep]
//
// The program (the real one) is copied into the folder and started there,
// then sent SIGTERM at several moments: as soon as it holds the folder,
// 50, 150 and 400 ms later (while the catalogue is read and the note is
// shown), and once it has settled. A signal that comes before the program
// watches for it ends the program at once, which is as good. The second
// (--limit-ms) is longer in the sanitizer build, whose programs run slower.

#include "KillSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using namespace killtest;

// Waits up to `ns` for the process to end; its wait status, or -1.
int endedWithin(pid_t pid, long long ns)
{
    const long long deadline = monotonicNs() + ns;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        if (monotonicNs() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

int main(int argc, char **argv)
{
    testName = "end_huge_note";
    std::string program, work;
    bool keep = false;
    long long limitMs = 1000;
    for (Args a(argc, argv); a.next();) {
        if (a.arg == "--program")
            program = a.value();
        else if (a.arg == "--limit-ms")
            limitMs = a.number();
        else if (a.arg == "--work")
            work = a.value();
        else if (a.arg == "--keep")
            keep = true;
        else
            die("unknown argument " + a.arg);
    }
    if (program.empty())
        die("--program is needed");

    const std::string root = makeRoot(work);
    const std::string dir = root + "/catalogue", log = root + "/log";
    ::mkdir(dir.c_str(), 0777);
    const std::string copy = dir + "/" + baseName(program);
    linkOrCopy(program, copy);
    const std::string data = "First\r\nSecond\r\n";
    const std::string text
        = "2\r\nFirst\r\n" + std::string(43000000, 'x') + "~~the end\r\n0\r\nSecond\r\nshort\r\n0\r\n";
    writeFile(dir + "/data.dat", data);
    writeFile(dir + "/text.dat", text);

    int failures = 0;
    for (const int delayMs : {0, 50, 150, 400, -1}) {
        const pid_t pid = spawn({copy}, log);
        while (!exists(dir + "/" + lockName()) && endedWithin(pid, 0) == -1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (delayMs < 0 && !settled(pid, dir, lockName()))
            die("the program ended by itself; its output:\n" + readFile(log));
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(delayMs, 0)));
        const long long sent = monotonicNs();
        ::kill(pid, SIGTERM);
        const int status = endedWithin(pid, limitMs * 1000000LL);
        const double ms = double(monotonicNs() - sent) / 1e6;
        const std::string when = delayMs < 0 ? "settled" : std::to_string(delayMs) + " ms after the lock";
        if (status == -1) {
            ::kill(pid, SIGKILL);
            waitFor(pid);
            ++failures;
            std::printf("end_huge_note: FAILED: SIGTERM %s: still running %lld ms later\n", when.c_str(),
                        limitMs);
            continue;
        }
        const bool atOnce = WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
        std::printf("end_huge_note: SIGTERM %s: gone in %.0f ms (%s)\n", when.c_str(), ms,
                    atOnce ? "before it watched" : "ended");
        if (!atOnce && !exitedWith(status, 0)) {
            ++failures;
            std::printf("end_huge_note: FAILED: it did not exit with status 0\n");
        }
        if (readFile(dir + "/data.dat") != data || readFile(dir + "/text.dat") != text) {
            ++failures;
            std::printf("end_huge_note: FAILED: the catalogue files changed\n");
        }
        ::unlink((dir + "/" + lockName()).c_str());
    }
    std::printf("end_huge_note: %s\n", failures ? "FAILED" : "every signal acted on in time");
    return finish(root, keep, failures);
}
