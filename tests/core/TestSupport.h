// Helpers shared by the core tests: scratch directories and running a piece
// of a test as an unprivileged user (permission checks do not apply to root).
#pragma once

#include <functional>
#include <memory>
#include <random>
#include <string>

namespace qv {
class Catalog;
class EditStep;
} // namespace qv

namespace qvtest {

// A fresh directory under /tmp that any user may write (mode 0777), removed
// with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // The directory, with a trailing '/'.
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + name; }

private:
    std::string path_;
};

// Runs `body` as the user and group 65534 when the test runs as root (in a
// forked child; gtest failures and escaped exceptions are reported back and
// fail the calling test), or inline otherwise.
void runAsNobody(const std::function<void()> &body);

// This machine's lock, journal and commit marker names in a catalogue folder.
std::string lockName();
std::string journalName();
std::string markerName();

// Small file helpers.
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes, unsigned mode = 0666);
unsigned fileMode(const std::string &path);
long long mtimeNs(const std::string &path); // modification time, ns since the epoch
void setMtime(const std::string &path, long long sec, long nsec = 0);
// Names in the directory (not recursive), sorted.
std::string listing(const std::string &dir);
// Everything under `dir` a write could change, links not followed: each
// entry's name, kind, permission bits, inode and bytes (a link's target).
std::string snapshot(const std::string &dir);

// Everything a save and a reload could tell apart (the outline file's bytes,
// the records in order), and the nodes' icons besides.
std::string dump(const qv::Catalog &c);

// One tree command at random on a random node, as a step that takes it
// back; null when the command changed nothing.
std::unique_ptr<qv::EditStep> randomStep(qv::Catalog &c, std::mt19937 &rng);

} // namespace qvtest
