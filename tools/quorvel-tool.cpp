// quorvel-tool: looks at a catalogue directory from the command line.
//
//   quorvel-tool check DIR      load DIR's catalogue as the program does and
//                               print a summary of how its halves join
//   quorvel-tool resave SRC DST load SRC and write DST exactly as the
//                               program's save would
//   quorvel-tool export DIR --format html|markdown|text|opml [-o FILE] [--title T]
//                               write DIR's catalogue as a page, Markdown
//                               or indented text
//   quorvel-tool find DIR TEXT  print the nodes whose caption or note
//                               contains TEXT
//   quorvel-tool merge BASE OURS THEIRS [--output DIR]
//                               the three-way merge of two versions
//                               (tools/MergeCommand.cpp)
//
// A catalogue folder is opened through the program's own session
// (storage/CatalogSession.h), so the tool keeps the program's rules: the
// folder's lock before it writes, an interrupted save finished (or cleared
// away) first, the load with its partial-read rules, and a file the program
// would refuse is refused here with the same message. check writes nothing,
// and nothing is ever written through a link to outside the folder.

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "catalog/Search.h"
#include "catalog/Text.h"
#include "exchange/Export.h"
#include "exchange/Import.h"
#include "storage/CatalogLock.h"
#include "storage/CatalogSession.h"
#include "storage/FileIo.h"
#include "tools/MergeCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Session = qv::CatalogSession;

constexpr const char *kUsage
    = "Usage:\n"
      "  quorvel-tool check DIR\n"
      "      Load the catalogue in DIR (data.dat, text.dat) as the program does\n"
      "      and print a summary: nodes, records, records no node shows, nodes\n"
      "      without a record, captions carried by more than one node. Nothing\n"
      "      is written: a save that was interrupted there is reported, and the\n"
      "      program's next start finishes it.\n"
      "  quorvel-tool resave SRC DST\n"
      "      Load the catalogue in SRC and write it into DST exactly as the\n"
      "      program's save writes it. Nothing is written when the load fails\n"
      "      or a running copy holds DST.\n"
      "  quorvel-tool export DIR --format html|markdown|text|opml [-o FILE] [--title T]\n"
      "      Write the catalogue in DIR, every node in outline order with its\n"
      "      note, as one self-contained HTML page, as Markdown or as text\n"
      "      indented with tabs (a note's lines one tab deeper than its node,\n"
      "      after a blank), in UTF-8, to FILE (replaced only once it is\n"
      "      complete) or to standard output.\n"
      "  quorvel-tool import SRC DIR --format text|markdown|cherrytree|opml|zim [--append]\n"
      "      Read the outline and notes in SRC and write them as the catalogue in\n"
      "      DIR (created when missing). Refused when DIR already holds a catalogue,\n"
      "      unless --append adds the imported tree after its last root. Captions\n"
      "      are made unique and storable; one summary line is printed. Nothing is\n"
      "      written when SRC cannot be read whole.\n"
      "  quorvel-tool find DIR TEXT\n"
      "      Print every node of the catalogue in DIR whose caption or note\n"
      "      contains TEXT (any letter case, \"ё\" and \"е\" alike), in outline\n"
      "      order, one line each: its path of captions joined by \" / \" and,\n"
      "      when its note contains TEXT, a TAB and the note's lines holding it\n"
      "      (\"line 3\", \"lines 3, 7\"). Exit status 0 when a node matched,\n"
      "      1 when none did, 2 when the catalogue could not be read or on bad\n"
      "      usage.\n"
      "  quorvel-tool merge BASE OURS THEIRS [--output DIR]\n"
      "      Merge two versions of a catalogue that grew from the one in BASE\n"
      "      (a folder without catalogue files: an empty one) and write the\n"
      "      result into DIR (OURS unless given) as the program's save does.\n"
      "      Edits made on one side are taken; a note both sides edited keeps\n"
      "      both versions of the lines they both changed between marker lines.\n"
      "      Prints how many changes came from each side and one line per\n"
      "      conflict with the node's path of captions. Exit status 0 when\n"
      "      nothing conflicted, 1 when something did, 2 on an error (nothing\n"
      "      is written) or bad usage.\n"
      "  quorvel-tool --help\n"
      "      Show this text.\n"
      "\n"
      "A catalogue file read only in part (records past text.dat's count, data\n"
      "after its end mark, a NUL in data.dat) is named on standard error, and\n"
      "the command stops there with a failure status (check prints its summary\n"
      "first). With --force, anywhere on the line, the command goes on with what\n"
      "was read; a save into the folder read keeps the original files beside it\n"
      "as \"<name>.unread-<date>\" first.\n"
      "\n"
      "Exit status (other than find's): 0 success, 1 the catalogue could not\n"
      "be loaded (or was read in part), saved or exported, 2 bad usage.\n";

// How many examples each summary line lists.
constexpr size_t kExamples = 5;

std::string withSeparator(std::string dir)
{
    if (dir.empty())
        dir = ".";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

// The message of a core error as the program's error box shows it, in
// UTF-8 (a file name in it keeps the system's bytes).
void reportError(const qv::Error &e)
{
    std::string text = qv::messageUtf8(e);
    if (qv::errorBoxText(e.message()).size() > e.message().size())
        text += '.';
    std::fprintf(stderr, "%s\n", text.c_str());
}

void reportFailure(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const qv::Error &e) {
        reportError(e);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-tool: %s\n", e.what());
    }
}

bool isDirectory(const std::string &path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// --force: a catalogue read in part is used as it was read.
bool g_force = false;

// The tool's sessions keep no journal: one a run of the program left is
// left as it is.
Session::Options access(Session::Access how) { return {how, false}; }

// Opens the session's folder. False (with the message on stderr) when
// another copy holds a folder to be written, or the repair fails.
bool openFolder(Session &session)
{
    const Session::Opened opened = session.open();
    if (opened.refused) {
        if (opened.lockRefusal)
            reportFailure(opened.lockRefusal);
        else
            std::fprintf(stderr, "%s\n", qv::cp1251::toUtf8(qv::catalogBusyText()).c_str());
        return false;
    }
    if (opened.repairFailure) {
        reportFailure(opened.repairFailure);
        return false;
    }
    return true;
}

// A new catalogue folder, created and locked before anything is written.
bool createFolder(Session &session, const std::string &dir)
{
    std::error_code ec;
    if (!fs::create_directories(dir, ec)) {
        std::fprintf(stderr, "quorvel-tool: %s: cannot create the directory (%s)\n", dir.c_str(),
                     ec.message().c_str());
        return false;
    }
    return openFolder(session);
}

enum class Load { Failed, InPart, Whole };

// Loads `dir` through `session` into `catalog`, with the messages on
// stderr. A read in part is InPart unless --force takes it as it is.
Load loadCatalogAs(const std::string &dir, Session &session, qv::Catalog &catalog)
{
    if (!isDirectory(dir)) {
        std::fprintf(stderr, "quorvel-tool: %s: no such directory\n", dir.c_str());
        return Load::Failed;
    }
    const Session::Loaded loaded = session.load(catalog);
    if (loaded.failure) {
        reportFailure(loaded.failure);
        return Load::Failed;
    }
    for (const qv::PartialRead &p : loaded.partialReads)
        std::fprintf(stderr, "quorvel-tool: %s: the read stopped at byte %llu, the rest is left out\n",
                     p.path.c_str(), static_cast<unsigned long long>(p.offset));
    return loaded.partialReads.empty() || g_force ? Load::Whole : Load::InPart;
}

// loadCatalogAs() for a command that uses the catalogue: false on failure
// and, without --force, on a read in part (told on stderr).
bool loadCatalog(const std::string &dir, Session &session, qv::Catalog &catalog)
{
    const Load load = loadCatalogAs(dir, session, catalog);
    if (load == Load::InPart)
        std::fprintf(stderr,
                     "quorvel-tool: nothing done: the catalogue was read in part "
                     "(--force goes on with what was read)\n");
    return load == Load::Whole;
}

// Saves `catalog` through `session`, keeping files another program wrote
// meanwhile as the unattended program does; false (with the message on
// stderr) on failure. The dated copies made are named on stderr.
bool saveCatalog(Session &session, qv::Catalog &catalog)
{
    const Session::Saved saved = session.save(catalog, Session::Consent::Granted);
    if (!saved.ok()) {
        reportFailure(saved.failure);
        return false;
    }
    for (const std::string &kept : saved.originalsKept)
        std::fprintf(stderr, "quorvel-tool: the original file was read in part and kept as %s\n",
                     kept.c_str());
    for (const std::string &kept : saved.othersKept)
        std::fprintf(stderr, "quorvel-tool: the file another program wrote was kept as %s\n", kept.c_str());
    for (const qv::Error &remark : saved.remarks)
        reportError(remark);
    return true;
}

struct Summary {
    size_t nodes = 0;
    size_t records = 0;
    size_t hiddenRecords = 0; // no node shows them
    size_t nodesWithoutRecord = 0;
    size_t duplicateCaptions = 0; // distinct captions on more than one node
    size_t nodesWithDuplicates = 0;
    std::vector<qv::Bytes> hiddenExamples;
    std::vector<qv::Bytes> withoutRecordExamples;
    std::vector<qv::Bytes> duplicateExamples;
};

void keepExample(std::vector<qv::Bytes> &examples, std::string_view caption)
{
    if (examples.size() < kExamples)
        examples.emplace_back(caption);
}

Summary summarise(const qv::Catalog &catalog)
{
    Summary s;
    const qv::Outline &outline = catalog.outline();
    const qv::RecordTable &records = catalog.records();
    s.nodes = outline.nodeCount();
    s.records = records.size();

    // Captions with the number of nodes carrying each, in one flat walk.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    };
    std::unordered_map<qv::Bytes, size_t, Hash, std::equal_to<>> captions;
    captions.reserve(s.nodes);
    std::vector<const qv::Node *> firstOfCaption; // for examples in flat order
    for (const qv::Node *n = outline.first(); n; n = qv::flatNext(n)) {
        auto [it, fresh] = captions.try_emplace(n->caption(), 0);
        ++it->second;
        if (fresh)
            firstOfCaption.push_back(n);
        if (!records.find(n->caption())) {
            ++s.nodesWithoutRecord;
            keepExample(s.withoutRecordExamples, n->caption());
        }
    }
    for (const qv::Node *n : firstOfCaption) {
        size_t count = captions[n->caption()];
        if (count > 1) {
            ++s.duplicateCaptions;
            s.nodesWithDuplicates += count;
            keepExample(s.duplicateExamples, n->caption());
        }
    }

    // A record is shown only when a node carries its section and it is the
    // first record with that section.
    std::unordered_set<std::string_view> seen;
    seen.reserve(s.records);
    for (size_t i = 0; i < s.records; ++i) {
        const std::string_view section = records.at(i).section;
        bool first = seen.insert(section).second;
        if (!first || !captions.count(section)) {
            ++s.hiddenRecords;
            keepExample(s.hiddenExamples, section);
        }
    }
    return s;
}

// Text for the terminal: control bytes (an escape sequence from a
// hand-edited file, say) but those in `keep` shown as \xNN instead of being
// obeyed. Every byte of a UTF-8 sequence is past them, so `text` may be
// code page bytes or UTF-8.
std::string escapeControls(std::string_view text, std::string_view keep = {})
{
    std::string safe;
    safe.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 || b == 0x7F) && keep.find(c) == std::string_view::npos) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", b);
            safe += buf;
        } else {
            safe += c;
        }
    }
    return safe;
}

// A caption for the terminal, in UTF-8.
std::string printable(const qv::Bytes &caption) { return qv::cp1251::toUtf8(escapeControls(caption)); }

void printLine(const char *label, size_t value, const std::vector<qv::Bytes> &examples = {}, size_t total = 0)
{
    std::printf("%-24s %zu\n", label, value);
    for (const qv::Bytes &caption : examples)
        std::printf("    \"%s\"\n", printable(caption).c_str());
    if (total > examples.size() && !examples.empty())
        std::printf("    ...\n");
}

int check(const std::string &dir)
{
    qv::Catalog catalog;
    // Only read: a repair the program's start would make is told, not made.
    Session session(withSeparator(dir), access(Session::Access::ReadAsIs));
    const Load load = loadCatalogAs(dir, session, catalog);
    if (load == Load::Failed)
        return 1;
    if (session.files().repairPending())
        std::fprintf(stderr,
                     "quorvel-tool: %s: a save was interrupted there; the program's next start "
                     "finishes it (the files are read as they are)\n",
                     dir.c_str());
    Summary s = summarise(catalog);
    printLine("nodes:", s.nodes);
    printLine("records:", s.records);
    printLine("records not shown:", s.hiddenRecords, s.hiddenExamples, s.hiddenRecords);
    printLine("nodes without a record:", s.nodesWithoutRecord, s.withoutRecordExamples, s.nodesWithoutRecord);
    printLine("duplicate captions:", s.duplicateCaptions, s.duplicateExamples, s.duplicateCaptions);
    if (s.duplicateCaptions)
        printLine("nodes sharing a caption:", s.nodesWithDuplicates);
    return load == Load::Whole ? 0 : 1;
}

int resave(const std::string &src, const std::string &dst)
{
    qv::Catalog catalog;
    Session target(withSeparator(dst), access(Session::Access::Write));
    // An existing DST is locked before SRC is read (they may be one folder);
    // a new one only once SRC has loaded, so a failed load creates nothing.
    const bool existed = isDirectory(dst);
    if (existed && !openFolder(target))
        return 1;
    std::error_code ec;
    if (existed && fs::equivalent(src, dst, ec)) {
        // One folder: read through the session that saves, so the save keeps
        // the originals of a read in part as the program's first save does.
        if (!loadCatalog(src, target, catalog))
            return 1;
    } else {
        // SRC is only read, as it is.
        Session source(withSeparator(src), access(Session::Access::ReadAsIs));
        if (!openFolder(source) || !loadCatalog(src, source, catalog))
            return 1;
    }
    if (!existed && !createFolder(target, dst))
        return 1;
    return saveCatalog(target, catalog) ? 0 : 1;
}

int exportCommand(const std::string &dir, qv::ExportFormat format, const std::string *file,
                  const qv::ExportOptions &options)
{
    qv::Catalog catalog;
    Session session(withSeparator(dir), access(Session::Access::Read));
    if (isDirectory(dir) && !openFolder(session))
        return 1;
    if (!loadCatalog(dir, session, catalog))
        return 1;
    try {
        if (file) {
            qv::AtomicFile out(*file, qv::AtomicFile::Refusal::Create);
            qv::exportCatalog(
                catalog, format, [&out](std::string_view piece) { out.write(piece); }, options);
            out.commit();
            return 0;
        }
        // Text meant for a terminal is shown, never obeyed: its line ends
        // and tabs are the layout, every other control byte is escaped.
        const bool toTerminal = format != qv::ExportFormat::Html && ::isatty(STDOUT_FILENO);
        std::string escaped;
        bool failed = false;
        qv::exportCatalog(
            catalog, format,
            [&](std::string_view piece) {
                if (toTerminal) {
                    escaped = escapeControls(piece, "\t\n");
                    piece = escaped;
                }
                if (!failed && std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size())
                    failed = true;
            },
            options);
        if (failed || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "quorvel-tool: cannot write to standard output\n");
            return 1;
        }
        return 0;
    } catch (const qv::Error &e) {
        reportError(e);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-tool: %s\n", e.what());
    }
    return 1;
}

// `find DIR TEXT`: the nodes holding TEXT, one line each (see kUsage).
// Reads the folder as export does. 0 found, 1 none, 2 an error.
int findCommand(const std::string &dir, std::string_view utf8Text)
{
    const qv::Bytes text = qv::cp1251::fromUtf8(utf8Text);
    if (qv::cp1251::toUtf8(text) != utf8Text) {
        // A character the catalogue's code page has no byte for is in no text.
        std::fprintf(stderr, "quorvel-tool: find: the text holds characters no catalogue can hold\n");
        return 1;
    }
    // The catalogue stays allocated to the process's end: freeing 100,000
    // nodes and their notes one by one would cost a good part of the run.
    static qv::Catalog &catalog = *new qv::Catalog;
    Session session(withSeparator(dir), access(Session::Access::Read));
    if (isDirectory(dir) && !openFolder(session))
        return 2;
    if (!loadCatalog(dir, session, catalog))
        return 2;
    qv::SearchIndex index;
    index.build(catalog);
    const std::vector<qv::SearchHit> hits = index.find(text);
    std::string out;
    std::vector<const qv::Node *> path;
    for (const qv::SearchHit &hit : hits) {
        path.clear();
        for (const qv::Node *n = hit.node; !n->isTop(); n = n->parent())
            path.push_back(n);
        for (size_t i = path.size(); i-- > 0;) {
            out += printable(path[i]->caption());
            if (i)
                out += " / ";
        }
        if (!hit.noteLines.empty()) {
            out += hit.noteLines.size() == 1 ? "\tline " : "\tlines ";
            for (size_t i = 0; i < hit.noteLines.size(); ++i) {
                if (i)
                    out += ", ";
                out += std::to_string(hit.noteLines[i]);
            }
        }
        out += '\n';
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "quorvel-tool: cannot write to standard output\n");
        return 2;
    }
    return hits.empty() ? 1 : 0;
}

// `import SRC DIR --format F [--append]`: SRC parsed first (a bad file
// writes nothing), then DIR locked, checked and, with --append, loaded.
int importInto(const std::string &src, const std::string &dir, qv::exchange::ImportFormat format, bool append)
{
    qv::exchange::ImportedTree tree;
    try {
        tree = qv::exchange::parseFile(src, format);
    } catch (const qv::Error &e) {
        std::fprintf(stderr, "quorvel-tool: %s: ", src.c_str());
        reportError(e);
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-tool: %s: %s\n", src.c_str(), e.what());
        return 1;
    }
    qv::Catalog catalog;
    Session session(withSeparator(dir), access(Session::Access::Write));
    std::error_code ec;
    if (isDirectory(dir)) {
        if (!openFolder(session))
            return 1;
        const bool holdsCatalogue = fs::exists(withSeparator(dir) + "data.dat", ec)
            || fs::exists(withSeparator(dir) + "text.dat", ec);
        if (holdsCatalogue && !append) {
            std::fprintf(stderr,
                         "quorvel-tool: %s already holds a catalogue (data.dat or text.dat); "
                         "nothing written (--append adds the import after its last root)\n",
                         dir.c_str());
            return 1;
        }
        if (holdsCatalogue && !loadCatalog(dir, session, catalog))
            return 1;
    } else if (!createFolder(session, dir)) {
        return 1;
    }
    qv::exchange::ImportSummary summary;
    try {
        summary = qv::exchange::addToCatalog(std::move(tree), catalog);
    } catch (...) {
        reportFailure(std::current_exception());
        return 1;
    }
    if (!saveCatalog(session, catalog))
        return 1;
    std::printf("%s\n", qv::exchange::summaryLine(summary).c_str());
    return 0;
}

int usageError(const char *why)
{
    std::fprintf(stderr, "quorvel-tool: %s\n\n%s", why, kUsage);
    return 2;
}

// export DIR --format F [-o FILE], the options in any order after DIR.
int exportMain(const std::vector<std::string_view> &args)
{
    std::optional<std::string> dir, file, title;
    std::optional<qv::ExportFormat> format;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--format" || a == "-o" || a == "--title") {
            if (i + 1 == args.size())
                return usageError((std::string(a) + " needs a value").c_str());
            const std::string_view value = args[++i];
            if (a == "-o") {
                file = std::string(value);
                continue;
            }
            if (a == "--title") {
                title = std::string(value);
                continue;
            }
            qv::ExportFormat f;
            if (!qv::parseExportFormat(value, f))
                return usageError(("unknown export format: " + std::string(value)).c_str());
            format = f;
        } else if (!dir && (a.empty() || a[0] != '-')) {
            dir = std::string(a);
        } else {
            return usageError(("export: unexpected argument: " + std::string(a)).c_str());
        }
    }
    if (!dir || !format)
        return usageError("export takes a directory and --format html|markdown|text|opml");
    // The page's title: the folder's name unless given.
    qv::ExportOptions options;
    if (title) {
        options.title = *title;
    } else {
        std::error_code ec;
        fs::path folder = fs::absolute(fs::path(*dir), ec).lexically_normal();
        if (!folder.has_filename())
            folder = folder.parent_path();
        if (!ec && !folder.filename().empty())
            options.title = folder.filename().string();
    }
    return exportCommand(*dir, *format, file ? &*file : nullptr, options);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto force = std::find(args.begin(), args.end(), "--force");
    g_force = force != args.end();
    if (g_force)
        args.erase(force);
    if (args.empty())
        return usageError("no command given");
    const std::string_view command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "check") {
        if (args.size() != 2)
            return usageError("check takes one directory");
        return check(std::string(args[1]));
    }
    if (command == "resave") {
        if (args.size() != 3)
            return usageError("resave takes a source and a destination directory");
        return resave(std::string(args[1]), std::string(args[2]));
    }
    if (command == "export")
        return exportMain(args);
    if (command == "find") {
        if (args.size() != 3 || args[2].empty())
            return usageError("find takes a directory and a text that is not empty");
        return findCommand(std::string(args[1]), args[2]);
    }
    if (command == "merge")
        return qvtool::mergeCommand({args.begin() + 1, args.end()}, g_force);
    if (command == "import") {
        std::vector<std::string_view> paths;
        std::string_view format;
        bool append = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--append")
                append = true;
            else if (args[i] == "--format" && i + 1 < args.size())
                format = args[++i];
            else
                paths.push_back(args[i]);
        }
        using F = qv::exchange::ImportFormat;
        const std::optional<F> f = format == "text" ? std::optional<F>(F::Text)
            : format == "markdown"                  ? std::optional<F>(F::Markdown)
            : format == "cherrytree"                ? std::optional<F>(F::CherryTree)
            : format == "opml"                      ? std::optional<F>(F::Opml)
            : format == "zim"                       ? std::optional<F>(F::Zim)
                                                    : std::nullopt;
        if (paths.size() != 2 || !f)
            return usageError(
                "import takes a source file, a directory and --format text|markdown|cherrytree|opml|zim");
        return importInto(std::string(paths[0]), std::string(paths[1]), *f, append);
    }
    return usageError(("unknown command: " + std::string(command)).c_str());
}
