// Two Syncthing instances on loopback inside a network namespace of their
// own, sharing one folder, and the window driver run over either side's
// copy of it. Every wait has a deadline and dies naming what it waited for;
// every child process is ended when the test program exits, however it
// exits.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace synctest {

// The status ctest reads as "skipped".
constexpr int kSkipped = 77;

// Run first in main(): without root, `syncthing`, `unshare` or `ip`, says
// why and exits with kSkipped; otherwise re-executes the program under
// `unshare -n` (once) and, inside, brings up the loopback device.
void enterPrivateNetwork(char **argv);

// A child process that is killed when the test program ends.
pid_t startChild(const std::vector<std::string> &args, const std::string &log, int in = -1, int out = -1);
// Ends a child: SIGTERM, then SIGKILL after `graceMs`.
void stopChild(pid_t pid, int graceMs = 10000);

// One side: a Syncthing instance, its copy of the shared folder and the
// machine's own folders (home, state, configuration) for the window.
struct Side {
    std::string name;   // "a" or "b"
    std::string root;   // everything of this side
    std::string folder; // the shared folder, with a trailing '/'
    std::string deviceId;
    std::string apiKey;
    int guiPort = 0;
    int listenPort = 0;
    pid_t pid = -1;
};

class SyncPair {
public:
    // Makes both sides under `root` and starts both instances, each the
    // other's peer at a static address; returns once both answer.
    explicit SyncPair(const std::string &root);
    ~SyncPair();
    SyncPair(const SyncPair &) = delete;
    SyncPair &operator=(const SyncPair &) = delete;

    Side &a() { return sides_[0]; }
    Side &b() { return sides_[1]; }

    // Both scan now, then until both folders have stayed idle with nothing
    // needed on either device for a second.
    void waitInSync(int timeoutMs = 90000);
    // Each pauses (or resumes) the other device and waits until the
    // connection is down (or up).
    void pause();
    void resume();
    // The folder scanned at once; returns when the scan is done.
    void scan(Side &side);

    // A REST call: the body of a 200 answer, dying on anything else.
    std::string call(Side &side, const std::string &method, const std::string &path);

private:
    void configure(Side &side, const Side &peer);
    bool connected(Side &side, const Side &peer);
    bool settledOn(Side &side, const Side &peer);
    Side sides_[2];
};

// The entries of `folder` named like a Syncthing conflict copy.
std::vector<std::string> conflictCopies(const std::string &folder);

// The window driver over one side's folder, with that side's own home,
// state and configuration folders. Commands and answers as in
// window_driver.cpp; every "box" line it prints is kept in `boxes`.
class Window {
public:
    Window(const std::string &driver, const Side &side);
    ~Window();
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    // Sends one command and returns the lines printed before its "ok".
    std::vector<std::string> run(const std::string &command, int timeoutMs = 60000);
    // "quit", then waits for the program's end.
    void quit();

    std::vector<std::string> boxes;

private:
    std::string readLine(int timeoutMs, const std::string &waitingFor);
    std::string name_;
    std::string log_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffered_;
};

} // namespace synctest
