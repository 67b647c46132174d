// The settings file, read and written through its path. The input is three
// lines naming a section, a key and a value, then the file's bytes:
//     Window\nWidth\n812\n[Window]\r\nWidth=640\r\n...
// Whatever the file holds, reads never fail, and after a write of a
// well-formed entry the entry reads back, a second identical write changes
// no byte, and a write to another key leaves the first entry as it was.
#include "FuzzSupport.h"

#include "catalog/Errors.h"
#include "catalog/StrToInt.h"
#include "settings/SettingsFile.h"

using namespace qv;
using qvfuzz::require;

namespace {

std::string_view takeLine(std::string_view &rest)
{
    const size_t nl = rest.find('\n');
    if (nl == std::string_view::npos)
        return {};
    std::string_view line = rest.substr(0, nl);
    rest.remove_prefix(nl + 1);
    return line;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

// A name or value the file format holds as it is: on one line, no blanks
// around it (they are not part of a name or value).
bool plain(std::string_view s, size_t maxSize)
{
    return !s.empty() && s.size() <= maxSize && s.find_first_of("\r\n") == std::string_view::npos
        && !blank(s.front()) && !blank(s.back());
}

bool wellFormed(std::string_view section, std::string_view key, std::string_view value)
{
    if (!plain(section, 200) || section.find_first_of("[]") != std::string_view::npos)
        return false;
    // A key with '=' would split; one starting with ';' or '[' is a comment or a header.
    if (!plain(key, 200) || key.find('=') != std::string_view::npos || key[0] == ';' || key[0] == '[')
        return false;
    if (value.empty())
        return true;
    // A value in matching quotes reads back without them.
    const bool quoted
        = value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
    return plain(value, 2047) && !quoted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view rest = qvfuzz::view(data, size);
    const Bytes section(takeLine(rest)), key(takeLine(rest)), value(takeLine(rest));

    const std::string dir = qvfuzz::scratchDir();
    const std::string path = dir + "Quorvel.ini";
    qvfuzz::emptyDir(dir);
    qvfuzz::writeBytes(path, rest);

    SettingsFile settings;
    settings.open(path);
    const Bytes def = "\x01unset";
    const Bytes before = settings.readEntry(section, key, def);
    require(before.size() <= 2047 || before == def, "a value read is cut at 2047 characters");
    (void)settings.readNumber(section, key, 7);
    (void)settings.readFlag("Base", "Backup", true);
    (void)settings.readEntry("", "", def);

    try {
        settings.writeEntry(section, key, value);
    } catch (const ESettingsWriteError &) {
        require(false, "a write to a writable folder succeeds");
    }
    const Bytes written = qvfuzz::readBytes(path);
    if (!wellFormed(section, key, value))
        return 0;

    require(settings.readEntry(section, key, def) == value, "a written entry reads back");
    settings.writeEntry(section, key, value);
    require(qvfuzz::readBytes(path) == written, "the same write again changes nothing");

    const Bytes otherKey = key + "2";
    settings.writeNumber(section, otherKey, -5);
    require(settings.readEntry(section, key, def) == value, "another key leaves the entry alone");
    require(settings.readNumber(section, otherKey, 0) == -5, "a written number reads back");
    return 0;
}
