// quorvel-tool run as a separate process on small catalogues: the check
// summary, the error exit with the error box's text, and resave writing what
// the program's own save writes (and nothing after a failed load).
#include "TestSupport.h"
#include "catalog/Catalog.h"
#include "catalog/Text.h"
#include "storage/CatalogFiles.h"
#include "storage/CatalogLock.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using qvtest::listing;
using qvtest::readFile;
using qvtest::TempDir;
using qvtest::writeFile;

// A fresh subdirectory of `dir`.
std::string subdir(const TempDir &dir, const std::string &name)
{
    fs::create_directories(dir.file(name));
    return dir.file(name) + "/";
}

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the tool with `args`, stdout and stderr caught in files of a private
// temporary directory; with `terminal`, stdout is a terminal in raw mode.
Result runTool(const std::vector<std::string> &args, bool terminal = false)
{
    TempDir io;
    const std::string outPath = io.file("out");
    const std::string errPath = io.file("err");
    int master = -1;
    std::string terminalName;
    if (terminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return {};
        terminalName = ptsname(master);
    }
    pid_t pid = fork();
    if (pid == 0) {
        int out = terminal ? open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                           : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (terminal && out >= 0) {
            termios raw{};
            tcgetattr(out, &raw);
            cfmakeraw(&raw);
            tcsetattr(out, TCSANOW, &raw);
        }
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0)
            _exit(126);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(QV_TOOL_PATH));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(QV_TOOL_PATH, argv.data());
        _exit(127);
    }
    Result r;
    if (terminal) {
        // Read until the child's end closes the terminal's last writer.
        char buf[4096];
        for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
            r.out.append(buf, static_cast<size_t>(n));
        close(master);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!terminal)
        r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

// "label: number" lines of the summary (example lines are indented).
std::map<std::string, long> figures(const std::string &out)
{
    std::map<std::string, long> f;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (line.empty() || line[0] == ' ' || colon == std::string::npos)
            continue;
        f[line.substr(0, colon)] = std::strtol(line.c_str() + colon + 1, nullptr, 10);
    }
    return f;
}

std::string crlf(std::initializer_list<std::string> lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += l + "\r\n";
    return s;
}

// ---- usage ----

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
    int exitCode;
};
void PrintTo(const UsageCase &c, std::ostream *os) { *os << c.name; }

class ToolUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ToolUsage, PrintsUsageWithExitCode)
{
    const UsageCase &c = GetParam();
    Result r = runTool(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    const std::string &text = c.exitCode == 0 ? r.out : r.err;
    EXPECT_NE(text.find("quorvel-tool check DIR"), std::string::npos) << text;
    EXPECT_NE(text.find("quorvel-tool resave SRC DST"), std::string::npos) << text;
    EXPECT_NE(text.find("quorvel-tool export DIR --format"), std::string::npos) << text;
    EXPECT_NE(text.find("quorvel-tool find DIR TEXT"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Args, ToolUsage,
    ::testing::Values(UsageCase{"Help", {"--help"}, 0}, UsageCase{"NoArguments", {}, 2},
                      UsageCase{"CheckWithoutDir", {"check"}, 2},
                      UsageCase{"CheckWithTwoDirs", {"check", "a", "b"}, 2},
                      UsageCase{"ResaveWithOneDir", {"resave", "a"}, 2},
                      UsageCase{"UnknownCommand", {"verify", "a"}, 2},
                      UsageCase{"ExportWithoutFormat", {"export", "a"}, 2},
                      UsageCase{"ExportUnknownFormat", {"export", "a", "--format", "pdf"}, 2},
                      UsageCase{"ExportWithoutFile", {"export", "a", "--format", "text", "-o"}, 2}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(ToolUsage, VersionAndEachCommandsOwnHelp)
{
    Result r = runTool({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("quorvel-tool ") + QV_VERSION + "\n");
    const std::vector<std::string> commands = {"check", "resave", "export", "import", "find"};
    for (const std::string &command : commands) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{command, "--help"}, {"help", command}}) {
            r = runTool(args);
            EXPECT_EQ(r.exitCode, 0) << command;
            EXPECT_EQ(r.out.rfind("  quorvel-tool " + command + " ", 0), 0u) << r.out;
            for (const std::string &other : commands) {
                if (other != command) {
                    EXPECT_EQ(r.out.find("quorvel-tool " + other + " "), std::string::npos) << r.out;
                }
            }
        }
    }
}

// ---- check ----

TEST(ToolCheck, CountsJoinMismatchesDuplicatesAndHiddenRecords)
{
    TempDir dir;
    const std::string home = qv::W("Дом");
    // Nodes: A, B, A, C, Дом, Дом, ESC[2J. Records: A, A (later duplicate), B, X
    // (no node), c (differs from C only in case), Дом.
    writeFile(dir.file("data.dat"), crlf({"A", "\tB", "\tA", "C", home, "\t" + home, "\x1b[2J"}));
    writeFile(dir.file("text.dat"),
              crlf({"6", "A", "first", "1", "A", "second", "2", "B", "", "3", "X", "orphan", "4", "c", "",
                    "5", home, "", "6"}));
    Result r = runTool({"check", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto f = figures(r.out);
    EXPECT_EQ(f["узлы"], 7);
    EXPECT_EQ(f["записи"], 6);
    EXPECT_EQ(f["записи без узла"], 3);   // second A, X, c
    EXPECT_EQ(f["узлы без записи"], 2);   // C and the escape sequence
    EXPECT_EQ(f["повторённые имена"], 2); // A, Дом
    EXPECT_EQ(f["узлы с общим именем"], 4);
    // Examples come out in UTF-8.
    EXPECT_NE(r.out.find("\"Дом\""), std::string::npos) << r.out;
    // A control byte in a caption is shown, not sent to the terminal.
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("\"\\x1b[2J\""), std::string::npos) << r.out;
}

TEST(ToolCheck, EmptyDirectoryIsAnEmptyCatalogue)
{
    TempDir dir;
    Result r = runTool({"check", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto f = figures(r.out);
    EXPECT_EQ(f.at("узлы"), 0);
    EXPECT_EQ(f.at("записи"), 0);
    EXPECT_EQ(f.at("записи без узла"), 0);
    EXPECT_EQ(f.at("узлы без записи"), 0);
    EXPECT_EQ(f.at("повторённые имена"), 0);
    EXPECT_EQ(listing(dir.path()), "") << "check must not write anything";
}

TEST(ToolCheck, MissingDirectoryIsAnError)
{
    TempDir dir;
    Result r = runTool({"check", dir.file("nowhere")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
}

// 100,000 nodes all carrying one caption and as many records with that
// section: the summary must not compare every pair.
TEST(ToolCheck, HundredThousandSharedCaptions)
{
    TempDir dir;
    const size_t n = 100000;
    std::string outline, records = std::to_string(n) + "\r\n";
    outline.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        outline += "X\r\n";
        records += "X\r\n\r\n7\r\n";
    }
    writeFile(dir.file("data.dat"), outline);
    writeFile(dir.file("text.dat"), records);
    Result r = runTool({"check", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto f = figures(r.out);
    EXPECT_EQ(f["узлы"], long(n));
    EXPECT_EQ(f["записи"], long(n));
    EXPECT_EQ(f["записи без узла"], long(n - 1));
    EXPECT_EQ(f["узлы без записи"], 0);
    EXPECT_EQ(f["повторённые имена"], 1);
    EXPECT_EQ(f["узлы с общим именем"], long(n));
}

// ---- load failures: check and resave report them alike ----

struct LoadFailure {
    const char *name;
    std::string outline; // data.dat
    std::string records; // text.dat
    std::string message; // stderr in UTF-8, as the error box shows it
};
void PrintTo(const LoadFailure &c, std::ostream *os) { *os << c.name; }

class ToolLoadFailure : public ::testing::TestWithParam<LoadFailure> {};

TEST_P(ToolLoadFailure, CheckReportsTheErrorBoxText)
{
    const LoadFailure &c = GetParam();
    TempDir dir;
    writeFile(dir.file("data.dat"), c.outline);
    writeFile(dir.file("text.dat"), c.records);
    Result r = runTool({"check", dir.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + "\n");
}

TEST_P(ToolLoadFailure, ExportReportsTheErrorBoxTextAndWritesNothing)
{
    const LoadFailure &c = GetParam();
    TempDir dir;
    const std::string src = subdir(dir, "src");
    writeFile(src + "data.dat", c.outline);
    writeFile(src + "text.dat", c.records);
    Result r = runTool({"export", src, "--format", "html", "-o", dir.file("out.html")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.message + "\n");
    EXPECT_EQ(listing(dir.path()), "src");
}

TEST_P(ToolLoadFailure, ResaveWritesNothing)
{
    const LoadFailure &c = GetParam();
    TempDir dir;
    const std::string src = subdir(dir, "src");
    const std::string dst = subdir(dir, "dst");
    writeFile(src + "data.dat", c.outline);
    writeFile(src + "text.dat", c.records);
    Result r = runTool({"resave", src, dst});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.message + "\n");
    EXPECT_EQ(listing(dst), "");
    // The source is left exactly as it was.
    EXPECT_EQ(readFile(src + "data.dat"), c.outline);
    EXPECT_EQ(readFile(src + "text.dat"), c.records);
    EXPECT_EQ(listing(src), "data.dat text.dat");
}

INSTANTIATE_TEST_SUITE_P(
    Files, ToolLoadFailure,
    ::testing::Values(
        // The box appends a full stop after a last byte that sorts after '.'.
        LoadFailure{"BadCount", "A\r\n", "abc\r\n", "'abc' - неверное целое значение."},
        LoadFailure{"BadIconsField", "A\r\n", "1\r\nA\r\n\r\nzz\r\n", "'zz' - неверное целое значение."},
        // ...and none after a closing quote.
        LoadFailure{"LevelJump", "A\r\n\t\t\tB\r\n", "0\r\n", "Неверный уровень (3) для элемента \"B\""}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// A file name in a message prints as the system spells it, the rest of the
// message converted; a read that stopped early is told with its offset.
TEST(ToolCheck, MessagesShowPathsAndPartialReadsReadably)
{
    TempDir dir;
    const std::string folder = subdir(dir, "Каталог");
    fs::create_directory(folder + "data.dat");
    Result r = runTool({"check", folder});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Файл " + folder + "data.dat не является обычным файлом.\n");

    fs::remove(folder + "data.dat");
    writeFile(folder + "data.dat", std::string("A\r\n\0B\r\n", 7));
    r = runTool({"check", folder});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "quorvel-tool: " + folder + "data.dat: чтение остановилось на байте 3, остальное пропущено\n");
    EXPECT_EQ(figures(r.out)["узлы"], 1);
}

// A folder read in part (a NUL with data after it in data.dat, records past
// text.dat's count): every command says so and fails, writing nothing;
// with --force it goes on, and resave into the folder read keeps the
// originals first.
TEST(ToolPartialRead, StopsUnlessForcedAndResaveKeepsTheOriginals)
{
    struct Folder {
        std::string outline, records, stop;
    };
    for (const Folder &f :
         {Folder{std::string("A\r\n\0B\r\n", 7), "0\r\n", "data.dat: чтение остановилось на байте 3"},
          Folder{"A\r\n", "1\r\nA\r\n\r\n0\r\nB\r\nt\r\n1\r\n",
                 "text.dat: чтение остановилось на байте 11"}}) {
        TempDir dir;
        const std::string folder = subdir(dir, "cat");
        writeFile(folder + "data.dat", f.outline);
        writeFile(folder + "text.dat", f.records);
        for (const std::vector<std::string> &args : {std::vector<std::string>{"check", folder},
                                                     {"export", folder, "--format", "text"},
                                                     {"find", folder, "A"},
                                                     {"resave", folder, folder},
                                                     {"resave", folder, dir.file("other")}}) {
            SCOPED_TRACE(args[0] + " " + f.stop);
            const Result r = runTool(args);
            EXPECT_EQ(r.exitCode, args[0] == "find" ? 2 : 1);
            EXPECT_NE(r.err.find(f.stop), std::string::npos) << r.err;
            EXPECT_EQ(listing(folder), "data.dat text.dat");
            EXPECT_EQ(listing(dir.path()), "cat");
        }
        std::vector<std::string> forced{"resave", "--force", folder, folder};
        const Result r = runTool(forced);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string kept = folder + (f.stop[0] == 'd' ? "data.dat" : "text.dat");
        EXPECT_NE(r.err.find("сохранён как " + kept + ".unread-"), std::string::npos) << r.err;
        std::string listed = listing(folder);
        EXPECT_NE(listed.find("data.dat.unread-"), std::string::npos) << listed;
        const size_t at = r.err.find(kept + ".unread-");
        const std::string keptPath = r.err.substr(at, r.err.find('\n', at) - at);
        EXPECT_EQ(readFile(keptPath), kept == folder + "data.dat" ? f.outline : f.records);
        EXPECT_EQ(runTool({"check", folder}).exitCode, 0);
    }
}

// ---- resave ----

// Files the program reads but never writes in this form: LF and lone CR line
// ends, blanks as levels, no final line end, a count beyond the records
// present, a lone LF inside a note.
const std::string kQuirkyOutline = "A\n B\r\tC\r\nD";
const std::string kQuirkyRecords = "3\r\nA\r\nline\none\r\n5\r\nB\r\n~~x~~\r\n12";

TEST(ToolResave, WritesWhatTheProgramsSaveWrites)
{
    TempDir dir;
    const std::string src = subdir(dir, "src");
    const std::string viaTool = dir.file("tool/deeper/"); // created on demand
    const std::string viaCore = subdir(dir, "core");
    writeFile(src + "data.dat", kQuirkyOutline);
    writeFile(src + "text.dat", kQuirkyRecords);

    Result r = runTool({"resave", src, viaTool});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");

    qv::Catalog catalog;
    qv::CatalogFiles(src).load(catalog);
    qv::CatalogFiles(viaCore).save(catalog);

    for (const char *name : {"data.dat", "text.dat"})
        EXPECT_EQ(readFile(viaTool + name), readFile(viaCore + name)) << name;
    EXPECT_EQ(readFile(viaTool + "data.dat"), crlf({"A", "\tB", "\tC", "D"}));
    EXPECT_EQ(readFile(viaTool + "text.dat"),
              crlf({"3", "A", "line\none", "5", "B", "~~x~~", "12", "", "", ""}));
    // Only the two catalogue files land in DST, and SRC is untouched.
    EXPECT_EQ(listing(viaTool), "data.dat text.dat");
    EXPECT_EQ(readFile(src + "data.dat"), kQuirkyOutline);
    EXPECT_EQ(readFile(src + "text.dat"), kQuirkyRecords);
}

TEST(ToolResave, ReplacesExistingFilesInDestination)
{
    TempDir dir;
    const std::string src = subdir(dir, "src");
    const std::string dst = subdir(dir, "dst");
    writeFile(src + "data.dat", "A\r\n");
    writeFile(dst + "data.dat", "old\r\nlonger\r\nfile\r\n");
    writeFile(dst + "text.dat", "1\r\nold\r\n\r\n0\r\n");
    Result r = runTool({"resave", src, dst});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dst + "data.dat"), "A\r\n");
    EXPECT_EQ(readFile(dst + "text.dat"), "0\r\n"); // no text.dat in SRC: empty table
}

// Another running copy holds DST: resave refuses and writes nothing; check
// still reads the folder as it is.
TEST(ToolResave, FolderHeldByAnotherCopyIsLeftAlone)
{
    TempDir dir;
    const std::string src = subdir(dir, "src");
    const std::string dst = subdir(dir, "dst");
    writeFile(src + "data.dat", "A\r\n");
    writeFile(dst + "data.dat", "old\r\n");
    qv::CatalogLock other(dst);
    ASSERT_EQ(other.acquire(), qv::CatalogLock::State::Held);

    Result r = runTool({"resave", src, dst});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Каталог уже открыт другой копией Quorvel\n");
    EXPECT_EQ(readFile(dst + "data.dat"), "old\r\n");
    EXPECT_EQ(listing(dst), qvtest::lockName() + " data.dat");

    r = runTool({"check", dst});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(figures(r.out)["узлы"], 1);
    other.release();
    EXPECT_EQ(listing(dst), "data.dat");
}

// resave writes only into DST: a link there to another folder is replaced
// and said so, and a lock entry that is no lock refuses DST by name as a
// busy folder is refused.
TEST(ToolResave, WritesOnlyIntoTheDestination)
{
    TempDir dir;
    const std::string src = subdir(dir, "src"), dst = subdir(dir, "dst"), victim = subdir(dir, "victim");
    writeFile(src + "data.dat", "A\r\n");
    writeFile(victim + "plain.conf", "x=1\n", 0444);
    ASSERT_EQ(symlink((victim + "plain.conf").c_str(), (dst + "text.dat").c_str()), 0);
    const std::string outside = qvtest::snapshot(victim);
    Result r = runTool({"resave", src, dst});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err,
              "Файл " + dst
                  + "text.dat - ссылка на файл вне папки каталога: при записи она заменяется обычным "
                    "файлом, файл, на который она указывает, не изменяется.\n");
    EXPECT_EQ(qvtest::snapshot(victim), outside);
    EXPECT_EQ(readFile(dst + "text.dat"), "0\r\n");

    ASSERT_EQ(mkdir((dst + qvtest::lockName()).c_str(), 0777), 0);
    const std::string before = qvtest::snapshot(dst);
    r = runTool({"resave", src, dst});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Файл " + dst + qvtest::lockName() + " не является обычным файлом.\n");
    EXPECT_EQ(qvtest::snapshot(dst), before);
}

// check writes nothing anywhere: a marker naming another folder's files
// (reached through a link) and stale temporaries of that folder's naming
// are left alone, and a repair of its own folder is told, not made.
TEST(ToolCheck, WritesNothingAndTellsARepair)
{
    TempDir dir;
    const std::string cat = subdir(dir, "cat"), other = subdir(dir, "other");
    writeFile(other + "real.dat", "Theirs\r\n");
    writeFile(other + ".real.dat.tmp-abc123", "Planted\r\n");
    writeFile(other + ".real.dat.tmp-zzzzzz", "a file of theirs\r\n");
    ASSERT_EQ(symlink((other + "real.dat").c_str(), (cat + "data.dat").c_str()), 0);
    std::string marker = std::string("Quorvel commit") + '\0' + other + ".real.dat.tmp-abc123" + '\0' + other
        + "real.dat" + '\0' + "end" + '\0';
    writeFile(cat + ".Quorvel.commit", marker);
    std::string before = qvtest::snapshot(dir.path());
    Result r = runTool({"check", cat});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(qvtest::snapshot(dir.path()), before);

    // A save of this folder cut short after its marker.
    remove((cat + "data.dat").c_str());
    writeFile(cat + "data.dat", "Old\r\n");
    writeFile(cat + ".data.dat.tmp-abc123", "New\r\n");
    marker = std::string("Quorvel commit") + '\0' + cat + ".data.dat.tmp-abc123" + '\0' + cat + "data.dat"
        + '\0' + "end" + '\0';
    writeFile(cat + ".Quorvel.commit", marker);
    before = qvtest::snapshot(dir.path());
    r = runTool({"check", cat});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("сохранение там было прервано"), std::string::npos) << r.err;
    EXPECT_EQ(figures(r.out)["узлы"], 1);
    EXPECT_EQ(qvtest::snapshot(dir.path()), before);
}

TEST(ToolResave, MissingSourceDirectoryWritesNothing)
{
    TempDir dir;
    const std::string dst = subdir(dir, "dst");
    Result r = runTool({"resave", dir.file("nowhere"), dst});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(listing(dst), "");
}

// ---- export ----

// The same bytes to standard output and, atomically, to a file (replacing
// one that was there, leaving no temporary file).
TEST(ToolExport, WritesStandardOutputOrFile)
{
    TempDir dir;
    const std::string src = subdir(dir, "src");
    writeFile(src + "data.dat", crlf({qv::W("Дом"), "\tB"}));
    writeFile(src + "text.dat", crlf({"1", qv::W("Дом"), "a~~b", "1"}));
    const std::string expected = "Дом\n\t a\n\t b\n\tB\n";
    Result r = runTool({"export", src, "--format", "text"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");

    writeFile(dir.file("out.txt"), "old");
    r = runTool({"export", "-o", dir.file("out.txt"), src, "--format", "text"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(dir.file("out.txt")), expected);
    EXPECT_EQ(listing(dir.path()), "out.txt src");

    r = runTool({"export", src, "--format", "text", "-o", dir.file("no/such/dir/out.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err, "");
}

// To a terminal the text and Markdown show a caption's control bytes
// escaped, as find does; a file and a pipe keep them.
TEST(ToolExport, ControlBytesEscapedOnlyForATerminal)
{
    TempDir dir;
    const std::string src = subdir(dir, "src");
    writeFile(src + "data.dat",
              crlf({"A\x1B"
                    "c\x07"}));
    for (const char *format : {"text", "markdown"}) {
        SCOPED_TRACE(format);
        const Result piped = runTool({"export", src, "--format", format});
        const Result shown = runTool({"export", src, "--format", format}, true);
        ASSERT_EQ(piped.exitCode, 0) << piped.err;
        ASSERT_EQ(shown.exitCode, 0) << shown.err;
        EXPECT_NE(piped.out.find("A\x1B"
                                 "c\x07"),
                  std::string::npos);
        std::string expected = piped.out;
        expected.replace(expected.find("\x1B"), 1, "\\x1b");
        expected.replace(expected.find("\x07"), 1, "\\x07");
        EXPECT_EQ(shown.out, expected);
    }
}

} // namespace

// ---- import ----

namespace {

TEST(ToolImport, WritesTheCatalogueAndRefusesAnExistingOneUnlessAppending)
{
    TempDir dir;
    const std::string src = dir.file("outline.txt");
    writeFile(src, "Корень\n\t заметка ✓\n\tРебёнок\n");
    const std::string out = dir.file("new/deeper");
    Result r = runTool({"import", src, out, "--format", "text"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "импортировано узлов: 2, заметок: 1; заменено символов: 1, переименовано узлов: 0\n");
    const std::string data = readFile(out + "/data.dat");
    const std::string text = readFile(out + "/text.dat");

    r = runTool({"import", src, out, "--format", "text"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("уже есть каталог"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(out + "/data.dat"), data);
    EXPECT_EQ(readFile(out + "/text.dat"), text);

    r = runTool({"import", src, out, "--format", "text", "--append"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "импортировано узлов: 2, заметок: 1; заменено символов: 1, переименовано узлов: 2\n");
    qv::Catalog catalog;
    qv::CatalogFiles(out + "/").load(catalog);
    EXPECT_EQ(catalog.outline().rootCount(), 2u);
    EXPECT_EQ(qv::cp1251::toUtf8(catalog.outline().root(1)->child(0)->caption()), "Ребёнок (2)");
    EXPECT_EQ(qv::cp1251::toUtf8(*catalog.noteForEditor(catalog.outline().root(1)->caption())), "заметка ?");
}

TEST(ToolImport, MalformedSourceNamesThePlaceAndWritesNothing)
{
    TempDir dir;
    struct Case {
        const char *format;
        std::string content;
        std::string message;
    };
    for (const Case &c : {Case{"text", "a\n\t\tb\n", "Строка 2: "},
                          Case{"cherrytree", "<cherrytree>\n<node name=\"a\">",
                               "Ошибка XML в строке 2, позиция 16: no element found"}}) {
        const std::string src = dir.file(std::string("bad.") + c.format);
        writeFile(src, c.content);
        const std::string out = dir.file(std::string("out-") + c.format);
        Result r = runTool({"import", src, out, "--format", c.format});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

} // namespace

// ---- find ----

namespace {

struct FindCase {
    const char *name;
    std::string outline; // data.dat; no folder at all when empty
    std::string query;   // UTF-8, as a terminal passes it
    int exitCode;
    std::string out;
    std::string err; // a part of standard error
};
void PrintTo(const FindCase &c, std::ostream *os) { *os << c.name; }

class ToolFind : public ::testing::TestWithParam<FindCase> {};

const std::string kFindOutline = crlf({qv::W("Корень"), qv::W("\tЁлка"), "\t\tdeep", "Other"});
const std::string kFindRecords = crlf({"3", qv::W("Корень"), qv::W("первая~~Вторая ёлка~~третья~~ЕЛКА"), "0",
                                       "deep", "a~b", "0", "Other", qv::W("елка-палка, Корень"), "0"});

TEST_P(ToolFind, PrintsPathsAndNoteLines)
{
    const FindCase &c = GetParam();
    TempDir dir;
    std::string folder = dir.file("nowhere");
    if (!c.outline.empty()) {
        folder = subdir(dir, "cat");
        writeFile(folder + "data.dat", c.outline);
        writeFile(folder + "text.dat", kFindRecords);
    }
    Result r = runTool({"find", folder, c.query});
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.err.empty()) {
        EXPECT_EQ(r.err, "");
    }
    if (!c.outline.empty()) {
        EXPECT_EQ(listing(folder), "data.dat text.dat") << "find only reads";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Queries, ToolFind,
    ::testing::Values(
        FindCase{"CaptionsAndNoteLinesInOutlineOrder", kFindOutline, "ЁЛКА", 0,
                 "Корень\tстроки 2, 4\nКорень / Ёлка\nOther\tстрока 1\n", ""},
        FindCase{"CaptionOnly", kFindOutline, "dee", 0, "Корень / Ёлка / deep\n", ""},
        FindCase{"LineBreakPairIsNoTilde", kFindOutline, "~", 0, "Корень / Ёлка / deep\tстрока 1\n", ""},
        FindCase{"NothingFound", kFindOutline, "ёжик", 1, "", ""},
        FindCase{"CharacterNoCatalogueHolds", kFindOutline, "✓", 1, "", "которых не может быть в каталоге"},
        FindCase{"EmptyText", kFindOutline, "", 2, "", "Использование:"},
        FindCase{"MissingFolder", "", "a", 2, "", "нет такой папки"},
        FindCase{"LoadFailure", "A\r\n\t\t\tB\r\n", "a", 2, "", "Неверный уровень (3) для элемента \"B\""}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace

// ---- merge ----

namespace {

TEST(ToolMerge, ExitStatusSummaryAndNothingWrittenOnError)
{
    TempDir dir;
    const auto folder = [&](const std::string &name, const std::string &note, const std::string &extra) {
        const std::string f = subdir(dir, name);
        writeFile(f + "data.dat", crlf({qv::W("Корень"), "\tB", "C"}) + extra);
        writeFile(f + "text.dat", crlf({"1", "B", note, "0"}));
        return f;
    };
    const std::string base = folder("base", "1~~2~~3", ""), theirs = folder("theirs", "1~~2~~3t", "D\r\n");
    std::string ours = folder("ours", "1o~~2~~3", "");

    // Edits apart: merged into OURS.
    Result r = runTool({"merge", base, ours, theirs});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "слито: правок из " + ours + " - 1, из " + theirs + " - 2, расхождений - 0\n");
    EXPECT_EQ(readFile(ours + "data.dat"), crlf({qv::W("Корень"), "\tB", "C", "D"}));
    EXPECT_EQ(readFile(ours + "text.dat"), crlf({"1", "B", "1o~~2~~3t", "0"}));

    // One line edited on both sides: both versions kept, the node named.
    ours = folder("ours2", "1~~2~~3o", "");
    const std::string out = dir.file("out");
    r = runTool({"merge", base, ours, theirs, "--output", out});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("\nзаметку правили с обеих сторон, оставлены обе версии: Корень / B\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(readFile(out + "/text.dat").find(qv::W("~~======= Версия с машины «theirs», ")),
              std::string::npos);

    // A version that cannot be read: nothing written.
    writeFile(theirs + "data.dat", "A\r\n\t\t\tB\r\n");
    const std::string before = qvtest::snapshot(ours);
    r = runTool({"merge", base, ours, theirs});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Неверный уровень"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::snapshot(ours), before);
}

} // namespace
