#include "SyncHarness.h"

#include "KillSupport.h"

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace synctest {

using killtest::die;
using killtest::readFile;

namespace {

const char *const kFolderId = "catalogue";

std::vector<pid_t> g_children;

void endChildren()
{
    for (pid_t pid : g_children) {
        ::kill(pid, SIGKILL);
        killtest::waitFor(pid);
    }
    g_children.clear();
}

[[noreturn]] void skip(const std::string &why)
{
    std::printf("%s: SKIPPED: %s\n", killtest::testName.c_str(), why.c_str());
    std::exit(kSkipped);
}

bool onPath(const std::string &name)
{
    const std::string dirs = std::getenv("PATH");
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        if (::access((dirs.substr(start, end - start) + "/" + name).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Runs a command to its end; whether it exited with 0.
bool succeeds(const std::vector<std::string> &args, const std::string &log)
{
    const pid_t pid = startChild(args, log);
    const int status = killtest::waitFor(pid);
    g_children.erase(std::find(g_children.begin(), g_children.end(), pid));
    return killtest::exitedWith(status, 0);
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

long long nowMs() { return killtest::monotonicNs() / 1000000; }

// The value after "key": at or after `from`: a string's characters, or a
// number or word as written; "" when the key is not there.
std::string jsonValue(const std::string &json, const std::string &key, size_t from = 0)
{
    size_t at = json.find("\"" + key + "\"", from);
    if (at == std::string::npos)
        return {};
    at = json.find(':', at);
    if (at == std::string::npos)
        return {};
    at = json.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos)
        return {};
    if (json[at] == '"')
        return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    return json.substr(at, json.find_first_of(",}] \t\r\n", at) - at);
}

// One HTTP/1.0 request to 127.0.0.1:port; false when no answer came.
bool request(int port, const std::string &key, const std::string &method, const std::string &path,
             int &status, std::string &body)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        die(std::string("socket: ") + std::strerror(errno));
    // A scan answers when it is done: allow it time.
    timeval limit{120, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    if (ok) {
        const std::string req = method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nX-API-Key: " + key
            + "\r\nContent-Length: 0\r\n\r\n";
        ok = ::send(fd, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size());
        char buf[65536];
        ssize_t n;
        while (ok && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            answer.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    const size_t head = answer.find("\r\n\r\n");
    if (!ok || answer.compare(0, 5, "HTTP/") != 0 || head == std::string::npos)
        return false;
    status = std::atoi(answer.c_str() + answer.find(' ') + 1);
    body = answer.substr(head + 4);
    return true;
}

} // namespace

void enterPrivateNetwork(char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::atexit(endChildren);
    if (!std::getenv("QV_SYNC_PRIVATE_NETWORK")) {
        // `ip` lives in sbin, which a user's PATH may lack.
        const char *path = std::getenv("PATH");
        ::setenv("PATH", ((path ? std::string(path) : "/usr/bin:/bin") + ":/usr/sbin:/sbin").c_str(), 1);
        if (::geteuid() != 0)
            skip("needs root for a network namespace of its own");
        for (const char *tool : {"syncthing", "unshare", "ip"})
            if (!onPath(tool))
                skip(std::string(tool) + " not found (Debian packages syncthing, util-linux, iproute2)");
        if (!succeeds({"unshare", "-n", "true"}, "/dev/null"))
            skip("unshare -n fails here (no network namespaces)");
        ::setenv("QV_SYNC_PRIVATE_NETWORK", "1", 1);
        // This program by its path, which /proc/self/exe would not be once unshare runs.
        char self[4096];
        const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (len <= 0)
            die("cannot read /proc/self/exe");
        std::vector<std::string> args{"unshare", "-n", "--", std::string(self, static_cast<size_t>(len))};
        for (char **a = argv + 1; *a; ++a)
            args.emplace_back(*a);
        std::vector<char *> raw;
        for (std::string &a : args)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        ::execvp(raw[0], raw.data());
        die(std::string("cannot run unshare: ") + std::strerror(errno));
    }
    if (!succeeds({"ip", "link", "set", "lo", "up"}, "/dev/null"))
        die("ip link set lo up failed");
}

pid_t startChild(const std::vector<std::string> &args, const std::string &log, int in, int out)
{
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        die(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        // Ends with the test program, even when that one is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ::dup2(in >= 0 ? in : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(out >= 0 ? out : fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    g_children.push_back(pid);
    return pid;
}

void stopChild(pid_t pid, int graceMs)
{
    const auto it = std::find(g_children.begin(), g_children.end(), pid);
    if (it == g_children.end())
        return;
    g_children.erase(it);
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 20) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return;
        sleepMs(20);
    }
    ::kill(pid, SIGKILL);
    killtest::waitFor(pid);
}

SyncPair::SyncPair(const std::string &root)
{
    for (int i = 0; i < 2; ++i) {
        Side &s = sides_[i];
        s.name = i == 0 ? "a" : "b";
        s.root = root + "/" + s.name;
        s.folder = s.root + "/folder/";
        s.apiKey = "quorvel-test-key-" + s.name;
        // The namespace is this test's alone: fixed ports are free.
        s.guiPort = 28401 + i;
        s.listenPort = 22401 + i;
        for (const char *d : {"", "/folder", "/folder/.stfolder", "/syncthing", "/home", "/state", "/config"})
            ::mkdir((s.root + d).c_str(), 0700);
        const std::string log = s.root + "/syncthing.log";
        if (!succeeds({"syncthing", "generate", "--home=" + s.root + "/syncthing", "--no-default-folder",
                       "--skip-port-probing"},
                      log))
            die("syncthing generate failed; see " + log);
        const std::string out = readFile(log);
        const size_t at = out.find("Device ID: ");
        if (at == std::string::npos)
            die("no device ID in " + log);
        s.deviceId = out.substr(at + 11, out.find_first_of("\r\n", at) - at - 11);
    }
    configure(sides_[0], sides_[1]);
    configure(sides_[1], sides_[0]);
    for (Side &s : sides_) {
        const std::string home = s.root + "/syncthing";
        // STMONITORED: the engine runs in this one process, without the
        // monitor that would start it as a child of its own.
        s.pid = startChild({"env", "HOME=" + s.root + "/home", "STMONITORED=yes", "STNODEFAULTFOLDER=1",
                            "STNOUPGRADE=1", "syncthing", "serve", "--home=" + home, "--no-browser",
                            "--no-restart", "--no-upgrade", "--no-default-folder", "--skip-port-probing"},
                           s.root + "/syncthing.log");
    }
    const long long deadline = nowMs() + 60000;
    for (Side &s : sides_) {
        int status = 0;
        std::string body;
        while (!request(s.guiPort, s.apiKey, "GET", "/rest/system/ping", status, body) || status != 200) {
            if (nowMs() > deadline)
                die("syncthing " + s.name + " did not answer within 60 s; see " + s.root + "/syncthing.log");
            sleepMs(100);
        }
    }
    while (!connected(sides_[0], sides_[1]) || !connected(sides_[1], sides_[0])) {
        if (nowMs() > deadline)
            die("the two syncthing instances did not connect within 60 s; see " + sides_[0].root
                + "/syncthing.log");
        sleepMs(100);
    }
}

SyncPair::~SyncPair()
{
    for (Side &s : sides_)
        if (s.pid > 0)
            stopChild(s.pid);
}

void SyncPair::configure(Side &s, const Side &peer)
{
    char xml[4096];
    std::snprintf(
        xml, sizeof xml,
        "<configuration version=\"36\">\n"
        "    <folder id=\"%s\" label=\"%s\" path=\"%s\" type=\"sendreceive\" rescanIntervalS=\"5\""
        " fsWatcherEnabled=\"true\" fsWatcherDelayS=\"1\" ignorePerms=\"false\" autoNormalize=\"true\">\n"
        "        <filesystemType>basic</filesystemType>\n"
        "        <device id=\"%s\" introducedBy=\"\"></device>\n"
        "        <device id=\"%s\" introducedBy=\"\"></device>\n"
        "        <minDiskFree unit=\"%%\">0</minDiskFree>\n"
        "        <maxConflicts>10</maxConflicts>\n"
        "        <markerName>.stfolder</markerName>\n"
        "    </folder>\n"
        "    <device id=\"%s\" name=\"%s\" compression=\"metadata\"><address>dynamic</address></device>\n"
        "    <device id=\"%s\" name=\"%s\" compression=\"metadata\">"
        "<address>tcp://127.0.0.1:%d</address></device>\n"
        "    <gui enabled=\"true\" tls=\"false\"><address>127.0.0.1:%d</address><apikey>%s</apikey></gui>\n"
        "    <options>\n"
        "        <listenAddress>tcp://127.0.0.1:%d</listenAddress>\n"
        "        <globalAnnounceEnabled>false</globalAnnounceEnabled>\n"
        "        <localAnnounceEnabled>false</localAnnounceEnabled>\n"
        "        <relaysEnabled>false</relaysEnabled>\n"
        "        <natEnabled>false</natEnabled>\n"
        "        <urAccepted>-1</urAccepted>\n"
        "        <autoUpgradeIntervalH>0</autoUpgradeIntervalH>\n"
        "        <crashReportingEnabled>false</crashReportingEnabled>\n"
        "        <startBrowser>false</startBrowser>\n"
        "        <reconnectionIntervalS>5</reconnectionIntervalS>\n"
        "        <minHomeDiskFree unit=\"%%\">0</minHomeDiskFree>\n"
        "    </options>\n"
        "</configuration>\n",
        kFolderId, kFolderId, s.folder.c_str(), s.deviceId.c_str(), peer.deviceId.c_str(), s.deviceId.c_str(),
        s.name.c_str(), peer.deviceId.c_str(), peer.name.c_str(), peer.listenPort, s.guiPort,
        s.apiKey.c_str(), s.listenPort);
    killtest::writeFile(s.root + "/syncthing/config.xml", xml, 0600);
}

std::string SyncPair::call(Side &side, const std::string &method, const std::string &path)
{
    int status = 0;
    std::string body;
    if (!request(side.guiPort, side.apiKey, method, path, status, body))
        die("syncthing " + side.name + " gave no answer to " + method + " " + path);
    if (status != 200)
        die("syncthing " + side.name + " answered " + std::to_string(status) + " to " + method + " " + path
            + ": " + body);
    return body;
}

bool SyncPair::connected(Side &side, const Side &peer)
{
    const std::string body = call(side, "GET", "/rest/system/connections");
    const size_t at = body.find("\"" + peer.deviceId + "\"");
    return at != std::string::npos && jsonValue(body, "connected", at) == "true";
}

void SyncPair::scan(Side &side) { call(side, "POST", std::string("/rest/db/scan?folder=") + kFolderId); }

bool SyncPair::settledOn(Side &side, const Side &peer)
{
    const std::string status = call(side, "GET", std::string("/rest/db/status?folder=") + kFolderId);
    const std::string completion = call(
        side, "GET", std::string("/rest/db/completion?folder=") + kFolderId + "&device=" + peer.deviceId);
    return jsonValue(status, "state") == "idle" && jsonValue(status, "needTotalItems") == "0"
        && jsonValue(status, "pullErrors") == "0" && jsonValue(completion, "completion") == "100"
        && jsonValue(completion, "needItems") == "0" && jsonValue(completion, "needDeletes") == "0";
}

void SyncPair::waitInSync(int timeoutMs)
{
    Side &a = sides_[0], &b = sides_[1];
    scan(a);
    scan(b);
    const long long deadline = nowMs() + timeoutMs;
    for (int quiet = 0; quiet < 5;) {
        if (nowMs() > deadline)
            die("the folders did not come in sync within " + std::to_string(timeoutMs / 1000)
                + " s; last status of a: "
                + call(a, "GET", std::string("/rest/db/status?folder=") + kFolderId)
                + " of b: " + call(b, "GET", std::string("/rest/db/status?folder=") + kFolderId));
        const bool settled = connected(a, b) && connected(b, a) && settledOn(a, b) && settledOn(b, a);
        quiet = settled ? quiet + 1 : 0;
        sleepMs(250);
    }
}

void SyncPair::pause()
{
    Side &a = sides_[0], &b = sides_[1];
    call(a, "POST", "/rest/system/pause?device=" + b.deviceId);
    call(b, "POST", "/rest/system/pause?device=" + a.deviceId);
    const long long deadline = nowMs() + 30000;
    while (connected(a, b) || connected(b, a)) {
        if (nowMs() > deadline)
            die("the paused instances stayed connected for 30 s");
        sleepMs(100);
    }
}

void SyncPair::resume()
{
    Side &a = sides_[0], &b = sides_[1];
    call(a, "POST", "/rest/system/resume?device=" + b.deviceId);
    call(b, "POST", "/rest/system/resume?device=" + a.deviceId);
    const long long deadline = nowMs() + 60000;
    while (!connected(a, b) || !connected(b, a)) {
        if (nowMs() > deadline)
            die("the resumed instances did not connect within 60 s");
        sleepMs(100);
    }
}

std::vector<std::string> conflictCopies(const std::string &folder)
{
    std::vector<std::string> found;
    for (const std::string &n : killtest::entries(folder))
        if (n.find(".sync-conflict-") != std::string::npos)
            found.push_back(n);
    return found;
}

Window::Window(const std::string &driver, const Side &side)
    : name_(side.name), log_(side.root + "/window.log")
{
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
        die(std::string("pipe: ") + std::strerror(errno));
    // The machine's own folders are this side's, as on a machine of its own.
    pid_ = startChild({"env", "HOME=" + side.root + "/home", "XDG_STATE_HOME=" + side.root + "/state",
                       "XDG_CONFIG_HOME=" + side.root + "/config",
                       "XDG_CACHE_HOME=" + side.root + "/home/.cache", "QT_QPA_PLATFORM=offscreen", driver,
                       side.folder},
                      log_, toChild[0], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
    for (std::string line; (line = readLine(60000, "the window to start")) != "ready";) {
        if (line == "refused")
            die("the window on " + name_ + " refused its folder: " + killtest::joined(boxes));
        if (line.compare(0, 4, "box ") == 0)
            boxes.push_back(line.substr(4));
    }
}

Window::~Window()
{
    if (pid_ > 0)
        stopChild(pid_, 5000);
    ::close(toChild_);
    ::close(fromChild_);
}

std::string Window::readLine(int timeoutMs, const std::string &waitingFor)
{
    const long long deadline = nowMs() + timeoutMs;
    for (size_t eol; (eol = buffered_.find('\n')) == std::string::npos;) {
        const long long left = deadline - nowMs();
        pollfd p{fromChild_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0)
            die("the window on " + name_ + " timed out waiting for " + waitingFor + "; see " + log_);
        char buf[4096];
        const ssize_t n = ::read(fromChild_, buf, sizeof buf);
        if (n <= 0)
            die("the window on " + name_ + " ended while waiting for " + waitingFor + "; see " + log_);
        buffered_.append(buf, static_cast<size_t>(n));
    }
    const size_t eol = buffered_.find('\n');
    std::string line = buffered_.substr(0, eol);
    buffered_.erase(0, eol + 1);
    return line;
}

std::vector<std::string> Window::run(const std::string &command, int timeoutMs)
{
    const std::string line = command + "\n";
    if (::write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        die("the window on " + name_ + " takes no command; see " + log_);
    std::vector<std::string> said;
    for (std::string got; (got = readLine(timeoutMs, command)) != "ok";) {
        if (got.compare(0, 6, "error ") == 0)
            die("the window on " + name_ + " could not " + command + ": " + got.substr(6));
        if (got.compare(0, 4, "box ") == 0)
            boxes.push_back(got.substr(4));
        else
            said.push_back(got);
    }
    return said;
}

void Window::quit()
{
    run("quit");
    const long long deadline = nowMs() + 30000;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (nowMs() > deadline)
            die("the window on " + name_ + " did not end within 30 s of its close");
        sleepMs(20);
    }
    g_children.erase(std::find(g_children.begin(), g_children.end(), pid_));
    pid_ = -1;
}

} // namespace synctest
