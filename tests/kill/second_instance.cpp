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

#include "KillSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <signal.h>

#include <cstdio>
#include <string>

namespace {

using namespace killtest;

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

std::string listing(const std::string &dir) { return joined(entries(dir)); }

} // namespace

int main(int argc, char **argv)
{
    testName = "second_instance";
    std::string program, victim, work;
    bool keep = false;
    for (Args a(argc, argv); a.next();) {
        if (a.arg == "--program")
            program = a.value();
        else if (a.arg == "--victim")
            victim = a.value();
        else if (a.arg == "--work")
            work = a.value();
        else if (a.arg == "--keep")
            keep = true;
        else
            die("unknown argument " + a.arg);
    }
    if (program.empty() || victim.empty())
        die("--program and --victim are needed");

    const std::string root = makeRoot(work);
    const std::string dir = root + "/catalogue", log = root + "/log";
    ::mkdir(dir.c_str(), 0777);
    const std::string name = baseName(program);
    const std::string copy = dir + "/" + name;
    linkOrCopy(program, copy);
    writeFile(dir + "/data.dat", "First\r\n\tSecond\r\n");
    writeFile(dir + "/text.dat", "2\r\nFirst\r\nThe first note\r\n0\r\nSecond\r\nThe second note\r\n0\r\n");

    int failures = 0;
    auto fail = [&](const std::string &why) {
        ++failures;
        std::printf("second_instance: FAILED: %s\n", why.c_str());
    };

    const pid_t first = spawn({copy}, log);
    if (!settled(first, dir, lockName()))
        die("the first copy ended or never took the lock; its output:\n" + readFile(log));
    const std::string before = takeDown(dir, name);
    std::printf("second_instance: the first copy holds the folder: %s\n", listing(dir).c_str());

    // The window started as the program starts it, boxes answered.
    const std::string out = root + "/second";
    const int status = waitFor(spawn({victim, "report", dir}, out));
    const std::string said = readFile(out);
    std::printf("second_instance: the second copy (window, boxes answered) exited with %s %d\n",
                WIFEXITED(status) ? "status" : "signal",
                WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
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
    return finish(root, keep, failures);
}
