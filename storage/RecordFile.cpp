#include "storage/RecordFile.h"

#include "catalog/Errors.h"
#include "catalog/StrToInt.h"
#include "storage/FileIo.h"
#include "storage/OutlineFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace qv {

namespace {

constexpr char kEndOfData = '\x1A';
constexpr size_t kChunkSize = size_t(1) << 20;

// Where the line reader gets its bytes: one chunk after another, an empty
// chunk at the physical end.
// Bytes a read that stopped at the end-of-data mark may leave after it
// without losing anything: padding and line ends.
constexpr std::string_view kIgnorableAfterStop("\0\x1A\r\n", 4);

bool ignorable(std::string_view bytes)
{
    return bytes.find_first_not_of(kIgnorableAfterStop) == std::string_view::npos;
}

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::string_view next() = 0;
    // Whether anything but ignorable bytes lies from `offset` on.
    virtual bool contentAfter(uint64_t offset) = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes), all_(bytes) {}
    std::string_view next() override
    {
        std::string_view out = bytes_;
        bytes_ = {};
        return out;
    }
    bool contentAfter(uint64_t offset) override
    {
        return offset < all_.size() && !ignorable(all_.substr(static_cast<size_t>(offset)));
    }

private:
    std::string_view bytes_;
    std::string_view all_;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(InputFile &file) : file_(file) {}

    // The size at open, for sizing the table.
    size_t size() const { return static_cast<size_t>(file_.size()); }

    std::string_view next() override
    {
        if (buffer_.empty())
            buffer_.resize(kChunkSize);
        const long long got = file_.read(buffer_.data(), buffer_.size());
        if (got < 0)
            throw EInOutError::fromErrno(errno);
        return std::string_view(buffer_.data(), static_cast<size_t>(got));
    }

    bool contentAfter(uint64_t offset) override
    {
        return file_.contentAfter(static_cast<int64_t>(offset), kIgnorableAfterStop);
    }

private:
    InputFile &file_;
    std::vector<char> buffer_;
};

// The record file's lines: CR ends a line (an LF right after it belongs to
// the line end), a lone LF is content, 0x1A ends all data without being
// consumed, and every line asked for after the end reads empty.
class LineReader {
public:
    explicit LineReader(ByteSource &source) : source_(source) {}

    // True once no further line can hold anything.
    bool atEnd()
    {
        if (!ended_ && pos_ == chunk_.size())
            refill();
        if (!ended_ && chunk_[pos_] == kEndOfData)
            endAtMark();
        return ended_;
    }

    // Reads the next line into `line`. A line longer than `limit` is not
    // read on: false, with `line` holding more than `limit` bytes of it.
    bool readLine(Bytes &line, size_t limit = Bytes::npos)
    {
        line.clear();
        while (!ended_) {
            if (pos_ == chunk_.size()) {
                refill();
                if (ended_)
                    return true;
            }
            const char *begin = chunk_.data() + pos_;
            const size_t avail = chunk_.size() - pos_;
            const char *stop = findStop(begin, avail);
            if (!stop) {
                line.append(begin, avail);
                pos_ = chunk_.size();
                if (line.size() > limit)
                    return false;
                continue;
            }
            line.append(begin, static_cast<size_t>(stop - begin));
            pos_ += static_cast<size_t>(stop - begin);
            if (line.size() > limit)
                return false;
            if (*stop == kEndOfData) {
                endAtMark(); // left in place: the data is over
                return true;
            }
            ++pos_; // the CR
            if (pos_ == chunk_.size())
                refill();
            if (!ended_ && chunk_[pos_] == '\n')
                ++pos_;
            return true;
        }
        return true;
    }

    // The offset of the end-of-data mark the data ended at, if it did.
    std::optional<uint64_t> markOffset() const { return mark_; }
    // Where the next line would begin (past the end once the data ended).
    uint64_t offset() const { return base_ + pos_; }
    bool ended() const { return ended_; }

private:
    static const char *findStop(const char *p, size_t n)
    {
        const char *cr = static_cast<const char *>(std::memchr(p, '\r', n));
        const size_t limit = cr ? static_cast<size_t>(cr - p) : n;
        const char *eod = static_cast<const char *>(std::memchr(p, kEndOfData, limit));
        return eod ? eod : cr;
    }

    void refill()
    {
        base_ += chunk_.size();
        chunk_ = source_.next();
        pos_ = 0;
        if (chunk_.empty())
            ended_ = true;
    }

    void endAtMark()
    {
        ended_ = true;
        mark_ = base_ + pos_;
    }

    ByteSource &source_;
    std::string_view chunk_;
    uint64_t base_ = 0; // offset of chunk_ in the source
    size_t pos_ = 0;
    bool ended_ = false;
    std::optional<uint64_t> mark_;
};

// The count line is converted as it is read: a line longer than
// kMaxNumberLine is refused without being read on.
void readCountLine(LineReader &reader, Bytes &line)
{
    if (!reader.readLine(line, kMaxNumberLine))
        throw EConvertError(line);
}

// Reads the records into `table`, or only checks them when it is null. The
// result is where the read left bytes unread when anything but ignorable
// bytes lies from there on: the end-of-data mark that stopped it, or the
// end of the last counted record (records past the count, a 0x1A after
// the last one).
std::optional<uint64_t> readRecords(ByteSource &source, size_t sizeHint, RecordTable *table)
{
    LineReader reader(source);
    Bytes line;
    readCountLine(reader, line);
    const int32_t count = strToInt(line);
    auto stop = [&]() -> std::optional<uint64_t> {
        if (const std::optional<uint64_t> mark = reader.markOffset())
            return source.contentAfter(*mark + 1) ? mark : std::nullopt;
        if (!reader.ended() && source.contentAfter(reader.offset()))
            return reader.offset();
        return std::nullopt;
    };
    if (count <= 0)
        return stop();
    if (!table) {
        Bytes section, text, icons;
        for (int32_t k = 0; k < count && !reader.atEnd(); ++k) {
            reader.readLine(section);
            reader.readLine(text);
            reader.readLine(icons);
        }
        return stop();
    }

    // A record present in the file takes at least three line ends, so the
    // size bounds how many rows can come, whatever the count claims.
    const size_t present = sizeHint / 3 + 1;
    table->reserve(table->size()
                   + std::min<size_t>(static_cast<size_t>(count), present + kMaxEmptyTrailingRecords));

    // The index follows a few rows behind the read and catches up at its
    // end, also when an error ends it (the rows read before stay). The
    // fields are read into buffers kept from record to record; the table
    // copies them into the record's own allocation.
    Bytes section, text, icons;
    try {
        size_t emptyTrailing = 0;
        for (int32_t k = 0; k < count; ++k) {
            if (reader.atEnd()) {
                if (emptyTrailing == kMaxEmptyTrailingRecords)
                    break;
                ++emptyTrailing;
                table->appendUnindexed({}, {}, {});
                continue;
            }
            reader.readLine(section);
            reader.readLine(text);
            reader.readLine(icons);
            table->appendUnindexed(section, text, icons);
        }
    } catch (...) {
        table->indexAppended();
        throw;
    }
    table->indexAppended();
    return stop();
}

// A field as the file can carry it: CR and 0x1A become '?'. Each byte is
// looked at by two memchr passes (a two-byte find_first_of asks a search of
// its set for every byte).
std::string_view storable(std::string_view field, Bytes &scratch)
{
    if (field.empty())
        return field;
    if (!std::memchr(field.data(), '\r', field.size())
        && !std::memchr(field.data(), kEndOfData, field.size()))
        return field;
    scratch.assign(field);
    for (char &c : scratch)
        if (c == '\r' || c == kEndOfData)
            c = '?';
    return scratch;
}

} // namespace

void writeRecordFile(const std::string &path, const RecordTable &table)
{
    AtomicFile file(path, AtomicFile::Refusal::InOut);
    writeRecords(file, table);
    file.commit();
}

namespace {

// An icons field of one to nine digits converts; anything else is left to
// the number syntax.
bool plainNumber(std::string_view icons)
{
    if (icons.empty() || icons.size() > 9)
        return false;
    for (const char c : icons)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The icons field the join will convert for the record at `row`: a
// record some node of `outline` shows (the first with its section) whose
// field the number syntax refuses (an empty one from a record cut by an
// end-of-data mark, say) takes the icon its nodes show, so the file
// written is one the load takes whole. Captions map to the icon of their
// first node, gathered at the first such record.
class ShownIcons {
public:
    ShownIcons(const RecordTable &table, const Outline *outline) : table_(table), outline_(outline) {}

    std::string_view field(size_t row, const RecordView &rec)
    {
        if (!outline_ || plainNumber(rec.icons)
            || (rec.icons.size() <= kMaxNumberLine && tryStrToInt(rec.icons)))
            return rec.icons;
        // Judged as the next load will see the pair: captions and sections
        // as written, each node joining the first record of its caption.
        gather();
        Bytes scratch;
        const Bytes section(storable(rec.section, scratch));
        const auto first = firstRow_.find(section);
        const auto shown = icons_.find(section);
        if (first == firstRow_.end() || first->second != row || shown == icons_.end())
            return rec.icons;
        scratch_ = decimal(shown->second);
        return scratch_;
    }

private:
    const RecordTable &table_;
    const Outline *outline_;
    // Once, when the first refused field is met.
    void gather()
    {
        if (gathered_)
            return;
        for (const Node *n = outline_->first(); n; n = flatNext(n))
            icons_.try_emplace(storedCaption(n->caption()), n->imageIndex());
        Bytes scratch;
        for (size_t i = 0; i < table_.size(); ++i)
            firstRow_.try_emplace(Bytes(storable(table_.at(i).section, scratch)), i);
        gathered_ = true;
    }

    bool gathered_ = false;
    std::unordered_map<Bytes, int32_t> icons_;
    std::unordered_map<Bytes, size_t> firstRow_;
    Bytes scratch_;
};

} // namespace

void writeRecords(AtomicFile &file, const RecordTable &table, const Outline *shownBy)
{
    file.write(decimal(static_cast<long long>(table.size())));
    file.write("\r\n");
    Bytes scratch;
    ShownIcons icons(table, shownBy);
    for (size_t i = 0; i < table.size(); ++i) {
        const RecordView rec = table.at(i);
        for (const std::string_view field : {rec.section, rec.text, icons.field(i, rec)}) {
            file.write(storable(field, scratch));
            file.write("\r\n");
        }
    }
}

std::optional<uint64_t> readRecordFile(const std::string &path, RecordTable &table, uint64_t *contentHash)
{
    InputFile file(path, InputFile::Failure::InOut);
    FileSource source(file);
    const std::optional<uint64_t> stop = readRecords(source, source.size(), &table);
    if (contentHash)
        *contentHash = file.contentHash();
    return stop;
}

std::optional<uint64_t> parseRecords(std::string_view bytes, RecordTable &table)
{
    MemorySource source(bytes);
    return readRecords(source, bytes.size(), &table);
}

bool recordsReadWhole(InputFile &file)
{
    FileSource source(file);
    try {
        return !readRecords(source, 0, nullptr);
    } catch (const EConvertError &) {
        return false;
    }
}

} // namespace qv
