// "Quorvel.ini": private-profile reads and writes straight to the file.
// Every call goes to the file; nothing is cached.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class SettingsFile {
public:
    void open(const std::string &path) { path_ = path; }
    void release() { path_.clear(); }
    const std::string &path() const { return path_; }
    // Whether a symbolic link at the path is written through (the caller
    // judges it by the catalogue folder's boundary) or replaced by the new
    // file; through until told otherwise.
    void setWriteThrough(bool through) { writeThrough_ = through; }

    // Section and key names match without regard to case; blanks around the
    // value are not part of it; at most 2047 characters are returned. A
    // missing or unreadable file gives the default; an entry in its place
    // that is no regular file (a FIFO, device, directory) raises
    // ENotRegularFile.
    Bytes readEntry(const Bytes &section, const Bytes &key, const Bytes &def) const;
    int32_t readNumber(const Bytes &section, const Bytes &key, int32_t def) const;
    bool readFlag(const Bytes &section, const Bytes &key, bool def) const;

    // An existing key is updated where it stands, a missing key is added at
    // the end of its section, a missing section at the end of the file; the
    // file is created by the first write. A refused write raises
    // ESettingsWriteError ("Не могу записать в %s").
    void writeEntry(const Bytes &section, const Bytes &key, const Bytes &value);
    void writeNumber(const Bytes &section, const Bytes &key, int32_t value);
    void writeFlag(const Bytes &section, const Bytes &key, bool value);

    // Several keys in one rewrite of the file: the same bytes as writing
    // them one by one in this order, with one replacement of the file.
    struct Entry {
        Bytes section, key, value;
    };
    void writeEntries(const std::vector<Entry> &entries);

private:
    std::optional<Bytes> lookup(const Bytes &section, const Bytes &key) const;

    std::string path_;
    bool writeThrough_ = true;
    // An entry in the file's place that is no regular file is told once (the
    // first read raises); every later read gives the defaults.
    mutable bool toldNotRegular_ = false;
};

} // namespace qv
