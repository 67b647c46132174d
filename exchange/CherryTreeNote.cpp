#include "exchange/CherryTreeNote.h"

#include "catalog/Links.h"

#include <algorithm>
#include <unordered_map>

namespace qv::exchange::cherrytree {

namespace {

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t codePoints(std::string_view s)
{
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return !continuation(c); }));
}

std::string base64Decoded(std::string_view s)
{
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : s) {
        int d;
        if (c >= 'A' && c <= 'Z')
            d = c - 'A';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            d = c - '0' + 52;
        else if (c == '+' || c == '-')
            d = 62;
        else if (c == '/' || c == '_')
            d = 63;
        else
            continue;
        value = (value << 6 | static_cast<unsigned>(d)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(value >> bits & 0xFF);
        }
    }
    return out;
}

// "webs URL", "file B64", "fold B64", "node ID [anchor]": what follows the
// link's text.
std::string address(std::string_view link)
{
    const size_t blank = link.find(' ');
    const std::string_view kind = link.substr(0, blank);
    const std::string_view rest
        = blank == std::string_view::npos ? std::string_view() : link.substr(blank + 1);
    if (kind == "webs") {
        // So that the note editor takes it for a link.
        const std::vector<LinkSpan> spans = findLinks(rest);
        if (spans.empty() || spans.front().first != 0)
            return "http://" + std::string(rest);
        return std::string(rest);
    }
    if (kind == "file" || kind == "fold")
        return plainText(base64Decoded(rest));
    if (kind == "node") {
        const std::string_view id = rest.substr(0, rest.find(' '));
        return std::string("«") + kNodeRef + std::string(id) + kNodeRef + "»";
    }
    return std::string(link);
}

} // namespace

void NoteBuilder::beginRun(std::string_view link, ImportCounts &counts)
{
    if (link != link_) {
        closeLink();
        link_ = link;
        linkFrom_ = text_.size();
        if (!link_.empty())
            ++counts.links;
    }
    runs_.push_back({chars_, text_.size(), text_.size()});
}

void NoteBuilder::append(std::string_view utf8)
{
    text_ += utf8;
    chars_ += codePoints(utf8);
    if (runs_.empty())
        runs_.push_back({0, 0, 0});
    runs_.back().end = text_.size();
}

void NoteBuilder::closeLink()
{
    if (link_.empty())
        return;
    const std::string a = address(link_);
    link_.clear();
    // The address follows the link's text unless that already is the address.
    const size_t from = linkFrom_;
    if (std::string_view(text_).substr(from) == a)
        return;
    if (from < text_.size() && text_.back() != ' ' && text_.back() != '\n')
        text_ += ' ';
    text_ += from < text_.size() ? "(" + a + ")" : a;
}

void NoteBuilder::object(long long offset, std::string lines)
{
    objects_.push_back({offset, objects_.size(), std::move(lines)});
}

size_t NoteBuilder::byteAt(size_t chars) const
{
    auto r = std::upper_bound(runs_.begin(), runs_.end(), chars,
                              [](size_t c, const Run &run) { return c < run.chars; });
    if (r == runs_.begin())
        return 0;
    --r;
    size_t at = r->byte, left = chars - r->chars;
    while (left && at < r->end) {
        ++at;
        while (at < r->end && continuation(text_[at]))
            ++at;
        --left;
    }
    // At a run's end: after what follows it (a link's address).
    if (at == r->end)
        return std::next(r) == runs_.end() ? text_.size() : std::next(r)->byte;
    return at;
}

std::string NoteBuilder::finish(std::string_view tags, ImportCounts &counts)
{
    closeLink();
    std::stable_sort(objects_.begin(), objects_.end(), [](const Object &a, const Object &b) {
        const bool endA = a.offset < 0, endB = b.offset < 0;
        return endA != endB ? endB : (!endA && a.offset < b.offset);
    });
    std::string note;
    note.reserve(text_.size());
    size_t from = 0;
    bool afterBlock = false;
    auto putText = [&](size_t to) {
        std::string_view piece = std::string_view(text_).substr(from, to - from);
        if (afterBlock && !piece.empty() && piece.front() == '\n')
            piece.remove_prefix(1);
        if (!piece.empty())
            afterBlock = false;
        note += piece;
        from = to;
    };
    for (size_t k = 0; k < objects_.size(); ++k) {
        Object &o = objects_[k];
        const size_t at = o.offset < 0
            ? text_.size()
            : byteAt(static_cast<size_t>(std::max<long long>(0, o.offset - static_cast<long long>(k))));
        putText(std::max(at, from));
        if (!note.empty() && note.back() != '\n')
            note += '\n';
        note += o.lines;
        note += '\n';
        afterBlock = true;
        std::string().swap(o.lines);
    }
    putText(text_.size());
    if (!tags.empty()) {
        std::string line;
        size_t i = 0;
        while (i < tags.size()) {
            const size_t b = tags.find_first_not_of(" ,\t\n", i);
            if (b == std::string_view::npos)
                break;
            const size_t e = std::min(tags.find_first_of(" ,\t\n", b), tags.size());
            line += (line.empty() ? "" : ", ") + std::string(tags.substr(b, e - b));
            i = e;
        }
        if (!line.empty()) {
            while (!note.empty() && note.back() == '\n')
                note.pop_back();
            note += (note.empty() ? "Метки: " : "\nМетки: ") + line;
            ++counts.tagged;
        }
    }
    while (!note.empty() && note.back() == '\n')
        note.pop_back();
    return note;
}

std::string imageMarker() { return "[Изображение]"; }
std::string fileMarker(std::string_view name) { return "[Вложенный файл: " + std::string(name) + "]"; }
std::string anchorMarker(std::string_view name) { return "[Якорь: " + std::string(name) + "]"; }
std::string formulaMarker() { return "[Формула LaTeX]"; }

std::string tableLines(std::vector<std::vector<std::string>> rows)
{
    if (!rows.empty())
        std::rotate(rows.begin(), rows.end() - 1, rows.end());
    std::string out;
    for (const auto &row : rows) {
        if (!out.empty())
            out += '\n';
        for (size_t c = 0; c < row.size(); ++c) {
            if (c)
                out += '\t';
            std::string cell = row[c];
            std::replace_if(
                cell.begin(), cell.end(), [](char ch) { return ch == '\t' || ch == '\n'; }, ' ');
            out += cell;
        }
    }
    return out;
}

int iconFor(long long id)
{
    // CherryTree's custom icons 1..24 with a near one in the list.
    static constexpr int kNearest[] = {
        0,
        33, // green circle: green flag
        35, // yellow circle
        32, // red circle
        0,  // grey circle
        0,  // add
        0,  // remove
        78, // done: accept
        76, // cancel: error
        0,  // delete
        76, // warning: error
        30, // star
        75, // information
        77, // help
        23, // home: house
        18, // index: book
        44, // mail: email
        25, // html
        16, // notes: note
        63, // time stamp: clock
        62, // calendar
        54, // terminal: computer
        54, // red terminal
        26, // python: script
        26, // java: script
    };
    return id > 0 && id < static_cast<long long>(std::size(kNearest)) ? kNearest[id] : 0;
}

void countIcon(long long id, ImportedNode &node, ImportCounts &counts)
{
    if (id <= 0)
        return;
    node.icon = iconFor(id);
    ++(node.icon ? counts.icons : counts.otherIcons);
}

std::string plainText(std::string_view utf8)
{
    std::string out(utf8);
    size_t at = 0;
    while ((at = out.find(kNodeRef, at)) != std::string::npos) {
        out.replace(at, 1, "\xEF\xBF\xBD");
        at += 3;
    }
    return out;
}

void resolveNodeLinks(ImportedTree &tree, const std::vector<std::pair<std::string, size_t>> &ids)
{
    if (std::none_of(tree.nodes.begin(), tree.nodes.end(),
                     [](const ImportedNode &n) { return n.note.find(kNodeRef) != std::string::npos; }))
        return;
    std::unordered_map<std::string, size_t> byId;
    for (const auto &[id, index] : ids)
        byId.emplace(id, index);
    // A long caption linked many times must not grow the notes past what
    // an import may take.
    const uint64_t most = kMaxImportGrowth * std::max<uint64_t>(tree.sourceBytes, kImportGrowthFloor);
    uint64_t total = 0;
    for (ImportedNode &n : tree.nodes) {
        if (n.note.find(kNodeRef) == std::string::npos)
            continue;
        std::string out;
        size_t at = 0;
        for (;;) {
            const size_t b = n.note.find(kNodeRef, at);
            const size_t e = b == std::string::npos ? b : n.note.find(kNodeRef, b + 1);
            if (e == std::string::npos) {
                out.append(n.note, at);
                break;
            }
            out.append(n.note, at, b - at);
            const std::string id = n.note.substr(b + 1, e - b - 1);
            const auto found = byId.find(id);
            out += found != byId.end() ? plainText(tree.nodes[found->second].caption) : "узел " + id;
            at = e + 1;
            if (total + out.size() > most)
                refuseGrowth();
        }
        total += out.size();
        n.note = std::move(out);
    }
}

} // namespace qv::exchange::cherrytree
