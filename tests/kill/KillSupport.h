// What the kill-test programs share: files and folders, processes, the
// command line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace killtest {

// This machine's lock, commit marker and journal names in a catalogue folder.
std::string lockName();
std::string markerName();
std::string journalName();

// The program's name: before die()'s messages, in the temporary folder's
// name and in finish()'s. Set first thing in main().
extern std::string testName;

// Says why on stderr and exits with status 2.
[[noreturn]] void die(const std::string &why);

// The monotonic clock, in nanoseconds.
long long monotonicNs();

// A file's bytes; "" when it cannot be read.
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes, mode_t mode = 0666);
// Hard-links `from` as `to`, or copies it there as an executable.
void linkOrCopy(const std::string &from, const std::string &to);
bool exists(const std::string &path);
// What follows the last '/'.
std::string baseName(const std::string &path);

// A folder's entries, sorted, without "." and "..".
std::vector<std::string> entries(const std::string &dir);
// Names separated by blanks.
std::string joined(const std::vector<std::string> &names);
// A new folder "NAME-XXXXXX" in `work` ("": $TMPDIR, else /tmp).
std::string makeRoot(std::string work);
void removeTree(const std::string &dir);
// Removes `root` unless it is to be kept for failures; the exit status.
int finish(const std::string &root, bool keep, int failures);

// Starts `args` (a path, or a name on PATH) with stdout and stderr going
// to `log`, appended or, with `truncate`, over what it held. With `out`
// given, stdout goes there instead.
pid_t spawn(const std::vector<std::string> &args, const std::string &log, bool truncate = false,
            int out = -1);
int waitFor(pid_t pid);
bool exitedWith(int status, int code);
// Waits until `ready` is in `dir` and the process has slept without using
// the processor for a tenth of a second: its start-up is done and its
// event loop waits. False when the process ended first.
bool settled(pid_t pid, const std::string &dir, const std::string &ready);

// The command line, an argument at a time.
class Args {
public:
    Args(int argc, char **argv) : argc_(argc), argv_(argv) {}
    // Moves to the next argument; false past the last.
    bool next();
    std::string arg;
    // The argument after this one (dies when there is none), moving past it.
    std::string value();
    int number();

private:
    int argc_;
    char **argv_;
    int i_ = 0;
};

} // namespace killtest
