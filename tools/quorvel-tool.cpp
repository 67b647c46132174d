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
#include "tools/ToolSession.h"

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
using namespace qvtool;

#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION ""
#endif

// Each command's help: its line and what it does.
struct CommandHelp {
    const char *name;
    const char *text;
};

constexpr CommandHelp kCommands[] = {
    {"check",
     "  quorvel-tool check DIR\n"
     "      Прочитать каталог в папке DIR (data.dat, text.dat) так же, как программа,\n"
     "      и вывести сводку: узлы, записи, записи, которых не показывает ни один\n"
     "      узел, узлы без записи, имена у нескольких узлов. Ничего не записывается:\n"
     "      прерванное там сохранение только называется, его завершит следующий\n"
     "      запуск программы.\n"},
    {"resave",
     "  quorvel-tool resave SRC DST\n"
     "      Прочитать каталог в папке SRC и записать его в папку DST точно так же,\n"
     "      как записывает программа. Ничего не записывается, если чтение не удалось\n"
     "      или папку DST держит запущенная копия.\n"},
    {"export",
     "  quorvel-tool export DIR --format html|markdown|text|opml [-o FILE] [--title T]\n"
     "      Записать каталог из папки DIR, все узлы в порядке дерева с заметками,\n"
     "      одной самостоятельной страницей HTML, в Markdown, в OPML или текстом с\n"
     "      отступами табуляцией (строки заметки на одну табуляцию глубже узла, после\n"
     "      пустой строки), в UTF-8, в файл FILE (он заменяется, только когда записан\n"
     "      целиком) или в стандартный вывод. Заголовок страницы — имя папки или T.\n"},
    {"import",
     "  quorvel-tool import SRC DIR --format text|markdown|cherrytree|opml|zim [--append]\n"
     "      Прочитать дерево и заметки из файла SRC и записать их каталогом в папку\n"
     "      DIR (она создаётся, если её нет). Отказ, если в DIR уже есть каталог,\n"
     "      кроме случая --append: тогда импортированное дерево добавляется после\n"
     "      последнего корня. Имена делаются уникальными и допустимыми; выводится\n"
     "      одна строка итога. Ничего не записывается, если SRC не читается целиком.\n"
     "      Файлы .ctd и .ctb читаются с --format cherrytree; для zim SRC — папка\n"
     "      записной книжки (с файлом notebook.zim).\n"},
    {"find",
     "  quorvel-tool find DIR TEXT\n"
     "      Вывести каждый узел каталога в папке DIR, в имени или заметке которого\n"
     "      есть TEXT (любой регистр букв, \"ё\" и \"е\" не различаются), в порядке\n"
     "      дерева, по строке на узел: путь из имён через \" / \" и, если TEXT есть\n"
     "      в заметке, TAB и номера строк заметки с ним (\"строка 3\", \"строки 3, 7\").\n"
     "      Код выхода 0, если узел нашёлся, 1, если нет, 2, если каталог не удалось\n"
     "      прочитать или команда задана неверно.\n"},
    {"merge",
     "  quorvel-tool merge BASE OURS THEIRS [--output DIR]\n"
     "      Слить две версии каталога, выросшие из каталога в папке BASE (папка без\n"
     "      файлов каталога — пустой каталог), и записать итог в папку DIR (без неё —\n"
     "      в OURS) так же, как сохраняет программа. Правки одной стороны берутся;\n"
     "      в заметке, которую правили обе стороны, строки, изменённые обеими,\n"
     "      остаются в обеих версиях между строками-метками. Выводится, сколько\n"
     "      изменений пришло с каждой стороны, и по строке на каждый конфликт с путём\n"
     "      из имён узла. Код выхода 0 без конфликтов, 1 с конфликтами, 2 при ошибке\n"
     "      (ничего не записывается) или неверной команде.\n"},
};

constexpr const char *kUsageTail
    = "  quorvel-tool --help, quorvel-tool КОМАНДА --help\n"
      "      Показать эту справку или справку одной команды.\n"
      "  quorvel-tool --version\n"
      "      Показать версию.\n"
      "\n"
      "Если файл каталога прочитан не целиком (записи сверх числа в text.dat,\n"
      "данные после его конечной метки, байт NUL в data.dat), он называется в\n"
      "стандартном потоке ошибок, и команда на этом останавливается с кодом ошибки\n"
      "(check сначала выводит сводку). С --force в любом месте строки команда\n"
      "продолжает с прочитанным; сохранение в прочитанную папку сначала оставляет\n"
      "исходные файлы рядом как \"<имя>.unread-<дата>\".\n"
      "\n"
      "Код выхода (кроме find): 0 успех, 1 каталог не удалось прочитать (или он\n"
      "прочитан не целиком), сохранить или экспортировать, 2 неверная команда.\n";

std::string usageText()
{
    std::string text = "Использование:\n";
    for (const CommandHelp &c : kCommands)
        text += c.text;
    return text + kUsageTail;
}

// The help of one command, or null for a name no command has.
const char *commandHelp(std::string_view name)
{
    for (const CommandHelp &c : kCommands)
        if (name == c.name)
            return c.text;
    return nullptr;
}

// How many examples each summary line lists.
constexpr size_t kExamples = 5;

// The tool's sessions keep no journal: one a run of the program left is
// left as it is.
Session::Options access(Session::Access how) { return {how, false}; }

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
    // The figures line up: the label is padded by characters, not bytes.
    std::string padded = label;
    const auto characters = std::count_if(
        padded.begin(), padded.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    padded.append(characters < 24 ? size_t(24 - characters) : 0, ' ');
    std::printf("%s %zu\n", padded.c_str(), value);
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
                     "quorvel-tool: %s: сохранение там было прервано; его завершит следующий "
                     "запуск программы (файлы прочитаны как есть)\n",
                     dir.c_str());
    Summary s = summarise(catalog);
    printLine("узлы:", s.nodes);
    printLine("записи:", s.records);
    printLine("записи без узла:", s.hiddenRecords, s.hiddenExamples, s.hiddenRecords);
    printLine("узлы без записи:", s.nodesWithoutRecord, s.withoutRecordExamples, s.nodesWithoutRecord);
    printLine("повторённые имена:", s.duplicateCaptions, s.duplicateExamples, s.duplicateCaptions);
    if (s.duplicateCaptions)
        printLine("узлы с общим именем:", s.nodesWithDuplicates);
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
            std::fprintf(stderr, "quorvel-tool: не удалось записать в стандартный вывод\n");
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

// `find DIR TEXT`: the nodes holding TEXT, one line each (see its help).
// Reads the folder as export does. 0 found, 1 none, 2 an error.
int findCommand(const std::string &dir, std::string_view utf8Text)
{
    const qv::Bytes text = qv::cp1251::fromUtf8(utf8Text);
    if (qv::cp1251::toUtf8(text) != utf8Text) {
        // A character the catalogue's code page has no byte for is in no text.
        std::fprintf(stderr, "quorvel-tool: find: в тексте есть символы, которых не может быть в каталоге\n");
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
            out += hit.noteLines.size() == 1 ? "\tстрока " : "\tстроки ";
            for (size_t i = 0; i < hit.noteLines.size(); ++i) {
                if (i)
                    out += ", ";
                out += std::to_string(hit.noteLines[i]);
            }
        }
        out += '\n';
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "quorvel-tool: не удалось записать в стандартный вывод\n");
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
                         "quorvel-tool: в папке %s уже есть каталог (data.dat или text.dat); "
                         "ничего не записано (--append добавит импорт после последнего корня)\n",
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
    std::fprintf(stderr, "quorvel-tool: %s\n\n%s", why, usageText().c_str());
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
                return usageError((std::string(a) + " требует значения").c_str());
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
                return usageError(("неизвестный формат экспорта: " + std::string(value)).c_str());
            format = f;
        } else if (!dir && (a.empty() || a[0] != '-')) {
            dir = std::string(a);
        } else {
            return usageError(("export: лишний аргумент: " + std::string(a)).c_str());
        }
    }
    if (!dir || !format)
        return usageError("export принимает папку и --format html|markdown|text|opml");
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
        return usageError("не указана команда");
    const std::string_view command = args[0];
    if (command == "--version") {
        std::printf("quorvel-tool %s\n", QUORVEL_VERSION);
        return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        // "help CMD": that command's help alone.
        const char *one = args.size() == 2 ? commandHelp(args[1]) : nullptr;
        std::fputs(one ? one : usageText().c_str(), stdout);
        return 0;
    }
    // "CMD --help": that command's help.
    if (const char *one = commandHelp(command);
        one && args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
        std::fputs(one, stdout);
        return 0;
    }
    if (command == "check") {
        if (args.size() != 2)
            return usageError("check принимает одну папку");
        return check(std::string(args[1]));
    }
    if (command == "resave") {
        if (args.size() != 3)
            return usageError("resave принимает исходную папку и папку назначения");
        return resave(std::string(args[1]), std::string(args[2]));
    }
    if (command == "export")
        return exportMain(args);
    if (command == "find") {
        if (args.size() != 3 || args[2].empty())
            return usageError("find принимает папку и непустой текст");
        return findCommand(std::string(args[1]), args[2]);
    }
    if (command == "merge")
        return qvtool::mergeCommand({args.begin() + 1, args.end()});
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
                "import принимает исходный файл, папку и --format text|markdown|cherrytree|opml|zim");
        return importInto(std::string(paths[0]), std::string(paths[1]), *f, append);
    }
    return usageError(("неизвестная команда: " + std::string(command)).c_str());
}
