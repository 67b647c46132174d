#include "TestSupport.h"

#include "storage/Os.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "storage/OutlineFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qvtest {

TempDir::TempDir()
{
    char tmpl[] = "/tmp/qvtest-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    ::chmod(tmpl, 0777);
    path_ = std::string(tmpl) + "/";
}

TempDir::~TempDir()
{
    std::error_code ec;
    // A test may have left directories read-only; open them up first.
    ::chmod(path_.c_str(), 0777);
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            ::chmod(it->path().c_str(), 0777);
    }
    fs::remove_all(path_, ec);
}

namespace {

// Sends every failed assertion of the child to the parent.
class PipeReporter : public ::testing::EmptyTestEventListener {
public:
    explicit PipeReporter(int fd) : fd_(fd) {}
    void OnTestPartResult(const ::testing::TestPartResult &r) override
    {
        if (!r.failed())
            return;
        failed = true;
        std::ostringstream s;
        s << (r.file_name() ? r.file_name() : "?") << ":" << r.line_number() << ": " << r.summary() << "\n";
        send(s.str());
    }
    void send(const std::string &text)
    {
        const char *p = text.data();
        size_t left = text.size();
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n <= 0)
                return;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    bool failed = false;

private:
    int fd_;
};

} // namespace

void runAsNobody(const std::function<void()> &body)
{
    if (::geteuid() != 0) {
        body();
        return;
    }
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0) << std::strerror(errno);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0) << std::strerror(errno);
    if (pid == 0) {
        ::close(fds[0]);
        auto *reporter = new PipeReporter(fds[1]);
        ::testing::UnitTest::GetInstance()->listeners().Append(reporter);
        int code = 0;
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            reporter->send(std::string("cannot become user 65534: ") + std::strerror(errno) + "\n");
            ::_exit(3);
        }
        try {
            body();
        } catch (const std::exception &e) {
            reporter->send(std::string("exception escaped: ") + e.what() + "\n");
            code = 2;
        } catch (...) {
            reporter->send("unknown exception escaped\n");
            code = 2;
        }
        if (reporter->failed && code == 0)
            code = 1;
        std::fflush(nullptr);
        ::_exit(code);
    }
    ::close(fds[1]);
    std::string messages;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        messages.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFSIGNALED(status))
        ADD_FAILURE() << "unprivileged part died with signal " << WTERMSIG(status) << "\n" << messages;
    else if (WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "unprivileged part failed (exit " << WEXITSTATUS(status) << "):\n" << messages;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &bytes, unsigned mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
}

unsigned fileMode(const std::string &path)
{
    struct stat sb {};
    if (::stat(path.c_str(), &sb) != 0)
        return 0;
    return sb.st_mode & 07777;
}

long long mtimeNs(const std::string &path)
{
    struct stat sb {};
    if (::stat(path.c_str(), &sb) != 0)
        return -1;
    return static_cast<long long>(sb.st_mtim.tv_sec) * 1000000000LL + sb.st_mtim.tv_nsec;
}

void setMtime(const std::string &path, long long sec, long nsec)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(sec);
    times[1].tv_nsec = nsec;
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set time of " + path);
}

std::string lockName() { return ".Quorvel-" + qv::os::machineName() + ".lock"; }
std::string journalName() { return "Quorvel-" + qv::os::machineName() + ".journal"; }
std::string markerName() { return ".Quorvel-" + qv::os::machineName() + ".commit"; }

std::string listing(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto &n : names) {
        if (!out.empty())
            out += ' ';
        out += n;
    }
    return out;
}

std::string snapshot(const std::string &dir)
{
    std::vector<std::string> entries;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        const std::string path = e.path().string();
        struct stat sb {};
        if (::lstat(path.c_str(), &sb) != 0)
            continue;
        std::string entry = path + " " + std::to_string(sb.st_mode) + " " + std::to_string(sb.st_ino) + " ";
        if (S_ISLNK(sb.st_mode))
            entry += fs::read_symlink(e.path()).string();
        else if (S_ISREG(sb.st_mode))
            entry += readFile(path);
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end());
    std::string out;
    for (const auto &entry : entries)
        out += entry + "\n";
    return out;
}

std::string dump(const qv::Catalog &c)
{
    std::string out = qv::outlineBytes(c.outline());
    for (const qv::Node *n = c.outline().first(); n; n = qv::flatNext(n))
        out += std::to_string(n->imageIndex()) + "," + std::to_string(n->selectedImageIndex()) + ";";
    for (size_t i = 0; i < c.records().size(); ++i) {
        const qv::RecordView r = c.records().at(i);
        out.append("|").append(r.section).append("|").append(r.text).append("|").append(r.icons);
    }
    return out;
}

std::unique_ptr<qv::EditStep> randomStep(qv::Catalog &c, std::mt19937 &rng)
{
    using namespace qv;
    const size_t count = c.outline().nodeCount();
    Node *n = count ? c.outline().at(rng() % count) : nullptr;
    switch (rng() % 9) {
    case 0:
        return createNodeStep(c, rng() % 4 ? n : nullptr);
    case 1:
        return createChildStep(c, n);
    case 2:
        return deleteLeafStep(c, n);
    case 3: {
        if (!n)
            return nullptr;
        static const char *const names[] = {"Имя ", "name ", " bad ", "Ё"};
        return renameStep(c, n, n->caption(), W(names[rng() % 4] + std::to_string(rng() % 30)));
    }
    case 4:
        return setIconStep(c, n, int32_t(rng() % 80));
    case 5:
        return moveUpStep(c, n);
    case 6:
        return moveDownStep(c, n);
    case 7: {
        Node *t = rng() % 5 && count ? c.outline().at(rng() % count) : c.outline().top();
        return dragMoveStep(c, n, t, n);
    }
    default: {
        // An import: a small branch under a node or after the roots, with
        // the records that carry its notes and icons.
        Node *parent = rng() % 2 ? n : nullptr;
        return appendStep(EditStep::Kind::Import, c, parent, n, W("импорт"), [&] {
            const std::string k = std::to_string(rng() % 1000);
            Node *made = c.outline().insertBranch(parent ? parent : c.outline().top(),
                                                  parent ? parent->childCount() : c.outline().rootCount(),
                                                  std::make_unique<Node>(W("импорт " + k)));
            c.records().append(W("импорт " + k), "note", "0");
            const bool icon = rng() % 2;
            c.outline().append(made, W("дитя " + k), icon ? 3 : 0);
            if (icon)
                c.records().append(W("дитя " + k), "child note", "3");
        });
    }
    }
}

} // namespace qvtest
