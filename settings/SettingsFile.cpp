#include "settings/SettingsFile.h"

#include "catalog/Errors.h"
#include "catalog/StrToInt.h"
#include "storage/FileIo.h"

#include <optional>
#include <vector>

namespace qv {

namespace {

// A value read back is cut after this many characters.
constexpr size_t kMaxValue = 2047;

const Bytes kCrLf = "\r\n";

// One line of the file with the line end it had ("" for a last line
// without one), so that lines we do not change go back byte for byte.
struct Line {
    Bytes text;
    Bytes end;
};

std::vector<Line> splitLines(const Bytes &data)
{
    std::vector<Line> lines;
    size_t i = 0;
    const size_t n = data.size();
    while (i < n) {
        size_t j = data.find_first_of("\r\n", i);
        if (j == Bytes::npos) {
            lines.push_back({data.substr(i), {}});
            break;
        }
        size_t endLen = (data[j] == '\r' && j + 1 < n && data[j + 1] == '\n') ? 2 : 1;
        lines.push_back({data.substr(i, j - i), data.substr(j, endLen)});
        i = j + endLen;
    }
    return lines;
}

// Blanks around names and values. The DOS end-of-file byte counts as one, so
// a file saved by an old editor does not spoil its last value.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (cp1251::toLower(a[i]) != cp1251::toLower(b[i]))
            return false;
    return true;
}

// "[name]" (blanks allowed around and inside the brackets). A line that
// opens a bracket without closing it is no header.
bool sectionHeader(std::string_view line, std::string_view &name)
{
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return false;
    size_t close = line.rfind(']');
    if (close == std::string_view::npos)
        return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

// "key=value"; comment lines (";"), section headers and lines without "="
// are not entries.
bool entry(std::string_view line, std::string_view &key, std::string_view &value)
{
    std::string_view t = trim(line);
    std::string_view header;
    if (t.empty() || t.front() == ';' || sectionHeader(t, header))
        return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trim(t.substr(0, eq));
    value = trim(t.substr(eq + 1));
    return true;
}

struct Location {
    size_t section = Bytes::npos; // header line of the first matching section
    size_t end = 0;               // first line after that section
    size_t key = Bytes::npos;     // the key's line within it
    std::string_view keyName;     // the key as the file spells it
    std::string_view value;
};

Location locate(const std::vector<Line> &lines, std::string_view section, std::string_view key)
{
    Location loc;
    size_t i = 0;
    for (; i < lines.size(); ++i) {
        std::string_view name;
        if (sectionHeader(lines[i].text, name) && sameName(name, section))
            break;
    }
    if (i == lines.size())
        return loc;
    loc.section = i;
    for (++i; i < lines.size(); ++i) {
        std::string_view name, k, v;
        if (sectionHeader(lines[i].text, name))
            break;
        if (loc.key == Bytes::npos && entry(lines[i].text, k, v) && sameName(k, key)) {
            loc.key = i;
            loc.keyName = k;
            loc.value = v;
        }
    }
    loc.end = i;
    return loc;
}

// A name or value must stay on its line.
Bytes oneLine(const Bytes &s) { return s.substr(0, s.find_first_of("\r\n")); }

// A file that cannot be read reads as no file; an entry in its place that
// is no regular file raises ENotRegularFile.
bool readFile(const std::string &path, Bytes &data)
{
    if (!entryExists(path))
        return false;
    try {
        data = readWholeFile(path);
    } catch (const ENotRegularFile &) {
        throw;
    } catch (const Error &) {
        return false;
    }
    return true;
}

std::optional<Bytes> lookupIn(const std::string &path, const Bytes &section, const Bytes &key)
{
    Bytes data;
    if (path.empty() || !readFile(path, data))
        return std::nullopt;
    std::vector<Line> lines = splitLines(data);
    Location loc = locate(lines, section, key);
    if (loc.key == Bytes::npos)
        return std::nullopt;
    std::string_view v = loc.value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return Bytes(v.substr(0, kMaxValue));
}

} // namespace

std::optional<Bytes> SettingsFile::lookup(const Bytes &section, const Bytes &key) const
{
    if (toldNotRegular_)
        return std::nullopt;
    try {
        return lookupIn(path_, section, key);
    } catch (const ENotRegularFile &) {
        toldNotRegular_ = true;
        throw;
    }
}

Bytes SettingsFile::readEntry(const Bytes &section, const Bytes &key, const Bytes &def) const
{
    return lookup(section, key).value_or(def);
}

int32_t SettingsFile::readNumber(const Bytes &section, const Bytes &key, int32_t def) const
{
    std::optional<Bytes> text = lookup(section, key);
    if (!text)
        return def;
    return tryStrToInt(*text).value_or(def);
}

bool SettingsFile::readFlag(const Bytes &section, const Bytes &key, bool def) const
{
    return readNumber(section, key, def ? 1 : 0) != 0;
}

namespace {

// One key set in the file's lines as writeEntry describes.
void setEntry(std::vector<Line> &lines, const Bytes &section, const Bytes &key, const Bytes &value)
{
    // A line we append after one that had no line end gives it the end
    // the file already uses.
    Bytes usualEnd = kCrLf;
    for (const Line &l : lines)
        if (!l.end.empty()) {
            usualEnd = l.end;
            break;
        }

    const Bytes sec = oneLine(section), k = oneLine(key);
    Line newLine{k + "=" + oneLine(value), kCrLf};
    Location loc = locate(lines, sec, k);
    if (loc.key != Bytes::npos) {
        // The key keeps the spelling it has in the file.
        newLine.text = Bytes(loc.keyName) + "=" + oneLine(value);
        lines[loc.key] = newLine;
    } else if (loc.section != Bytes::npos) {
        size_t last = loc.section;
        for (size_t i = loc.section + 1; i < loc.end; ++i)
            if (!trim(lines[i].text).empty())
                last = i;
        if (lines[last].end.empty())
            lines[last].end = usualEnd;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), newLine);
    } else {
        if (!lines.empty() && lines.back().end.empty())
            lines.back().end = usualEnd;
        lines.push_back({"[" + sec + "]", kCrLf});
        lines.push_back(newLine);
    }
}

} // namespace

void SettingsFile::writeEntry(const Bytes &section, const Bytes &key, const Bytes &value)
{
    writeEntries({{section, key, value}});
}

void SettingsFile::writeEntries(const std::vector<Entry> &entries)
{
    if (path_.empty())
        throw ESettingsWriteError(path_);
    try {
        Bytes data;
        if (entryExists(path_))
            data = readWholeFile(path_); // an unreadable file is not rewritten
        std::vector<Line> lines = splitLines(data);
        for (const Entry &e : entries)
            setEntry(lines, e.section, e.key, e.value);
        Bytes out;
        out.reserve(data.size() + 64 * entries.size());
        for (const Line &l : lines) {
            out += l.text;
            out += l.end;
        }
        // In a folder that takes no new entry, a writable file is written in
        // place; it holds settings only, so no copy of it is kept first.
        AtomicFile file(path_, AtomicFile::Refusal::InOut,
                        writeThrough_ ? AtomicFile::Links::FollowLink : AtomicFile::Links::ReplaceLink,
                        {true, {}});
        file.write(out);
        file.commit();
    } catch (const std::exception &) {
        throw ESettingsWriteError(path_);
    }
}

void SettingsFile::writeNumber(const Bytes &section, const Bytes &key, int32_t value)
{
    writeEntry(section, key, decimal(value));
}

void SettingsFile::writeFlag(const Bytes &section, const Bytes &key, bool value)
{
    writeEntry(section, key, value ? "1" : "0");
}

} // namespace qv
