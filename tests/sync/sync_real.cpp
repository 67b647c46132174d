// One catalogue on two machines through a real Syncthing: two instances on
// loopback in a network namespace of their own (SyncHarness.h), the window
// driver (window_driver.cpp) on either side's copy of the folder.
//
//   sync_real --case harness|together|apart --driver PATH [--work DIR] [--keep]
//
//   harness   the engine itself: a file written on one side arrives on the
//             other; both sides changing a file while the devices are
//             paused yields a conflict copy once they are resumed.
//   together  both windows open, each edits, one saves, the sync runs,
//             then the other saves: both folders end with the same pair
//             holding every edit, no box shown, no conflict copy.
//   apart     the devices paused, each side's window edits and saves,
//             resumed: the engine makes conflict copies; the window opened
//             on one side merges them: both folders end with the same pair
//             holding every edit, no box shown, no conflict copy left.
//
// Status 0 passed, 1 failed, 2 could not run, 77 skipped (no root, no
// syncthing, unshare or ip).

#include "KillSupport.h"
#include "SyncHarness.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace killtest;
using namespace synctest;

int g_failures = 0;

void expect(bool ok, const std::string &what)
{
    if (!ok) {
        ++g_failures;
        std::printf("%s: FAILED: %s\n", testName.c_str(), what.c_str());
        std::fflush(stdout);
    }
}

// Two nodes with a note each, written on side a before the sync.
void seed(SyncPair &pair)
{
    writeFile(pair.a().folder + "data.dat", "Alpha\r\nBeta\r\n");
    writeFile(pair.a().folder + "text.dat", "2\r\nAlpha\r\nalpha note\r\n0\r\nBeta\r\nbeta note\r\n0\r\n");
    pair.waitInSync();
}

// Each side's edits: a note typed into, a node created with a note of its own.
void edit(Window &w, const std::string &side, const std::string &node)
{
    w.run("select " + node);
    w.run("note  edited on " + side);
    w.run("create Made on " + side);
    w.run("note new on " + side);
}

// Both folders hold the same pair with both sides' edits, and no
// conflict copy; no window showed a box.
void expectOneCatalogue(SyncPair &pair, const std::vector<const Window *> &windows)
{
    for (const char *name : {"data.dat", "text.dat"})
        expect(readFile(pair.a().folder + name) == readFile(pair.b().folder + name),
               std::string(name) + " differs between the folders");
    const std::string outline = readFile(pair.a().folder + "data.dat");
    const std::string records = readFile(pair.a().folder + "text.dat");
    for (const char *caption : {"Alpha", "Beta", "Made on a", "Made on b"})
        expect(outline.find(caption) != std::string::npos,
               std::string("no node ") + caption + " in " + outline);
    for (const char *text : {"alpha note edited on a", "beta note edited on b", "new on a", "new on b"})
        expect(records.find(text) != std::string::npos,
               std::string("no note text \"") + text + "\" in " + records);
    for (Side *side : {&pair.a(), &pair.b()})
        expect(conflictCopies(side->folder).empty(),
               "conflict copies left on " + side->name + ": " + joined(conflictCopies(side->folder)));
    for (const Window *w : windows)
        expect(w->boxes.empty(), "a window showed: " + joined(w->boxes));
}

void harness(SyncPair &pair)
{
    writeFile(pair.a().folder + "hello.txt", "from a");
    pair.waitInSync();
    expect(readFile(pair.b().folder + "hello.txt") == "from a", "a file written on a did not reach b");

    pair.pause();
    writeFile(pair.a().folder + "hello.txt", "changed on a");
    writeFile(pair.b().folder + "hello.txt", "changed on b, later");
    pair.scan(pair.a());
    pair.scan(pair.b());
    pair.resume();
    pair.waitInSync();
    const std::vector<std::string> copies = conflictCopies(pair.a().folder);
    expect(copies.size() == 1 && copies == conflictCopies(pair.b().folder),
           "one conflict copy on both sides expected, a has: " + joined(copies)
               + "; b has: " + joined(conflictCopies(pair.b().folder)));
    expect(readFile(pair.a().folder + "hello.txt") == readFile(pair.b().folder + "hello.txt"),
           "hello.txt differs after the conflict");
}

void together(SyncPair &pair, const std::string &driver)
{
    seed(pair);
    Window a(driver, pair.a()), b(driver, pair.b());
    edit(a, "a", "Alpha");
    edit(b, "b", "Beta");
    a.run("save");
    pair.waitInSync();
    // The window on b notices the pair changed and merges it in.
    b.run("wait-idle 5000");
    const std::string shown = joined(b.run("dump"));
    expect(shown.find("Made on a") != std::string::npos,
           "the window on b did not take a's save in: " + shown);
    b.run("save");
    pair.waitInSync();
    a.run("wait-idle 5000");
    a.quit();
    pair.waitInSync();
    b.quit();
    pair.waitInSync();
    expectOneCatalogue(pair, {&a, &b});
}

void apart(SyncPair &pair, const std::string &driver)
{
    seed(pair);
    pair.pause();
    {
        Window a(driver, pair.a());
        edit(a, "a", "Alpha");
        a.run("save");
        a.quit();
    }
    {
        Window b(driver, pair.b());
        edit(b, "b", "Beta");
        b.run("save");
        b.quit();
    }
    pair.scan(pair.a());
    pair.scan(pair.b());
    pair.resume();
    pair.waitInSync();
    // The engine's part: both files of the pair were kept as copies.
    const std::string copies = joined(conflictCopies(pair.a().folder));
    for (const char *stem : {"data.sync-conflict-", "text.sync-conflict-"})
        expect(copies.find(stem) != std::string::npos, std::string("no ") + stem + "* copy on a: " + copies);

    Window merger(driver, pair.a());
    merger.run("wait-idle 5000");
    merger.quit();
    pair.waitInSync();
    expectOneCatalogue(pair, {&merger});
}

} // namespace

int main(int argc, char **argv)
{
    testName = "sync_real";
    std::string which, driver, work;
    bool keep = false;
    for (Args a(argc, argv); a.next();) {
        if (a.arg == "--case")
            which = a.value();
        else if (a.arg == "--driver")
            driver = a.value();
        else if (a.arg == "--work")
            work = a.value();
        else if (a.arg == "--keep")
            keep = true;
        else
            die("unknown argument " + a.arg);
    }
    if (which != "harness" && which != "together" && which != "apart")
        die("--case harness|together|apart is needed");
    if (which != "harness" && driver.empty())
        die("--driver is needed");
    testName += "_" + which;
    enterPrivateNetwork(argv);

    const std::string root = makeRoot(work);
    {
        SyncPair pair(root);
        if (which == "harness")
            harness(pair);
        else if (which == "together")
            together(pair, driver);
        else
            apart(pair, driver);
    }
    return finish(root, keep, g_failures);
}
