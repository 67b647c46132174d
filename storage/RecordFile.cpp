#include "storage/RecordFile.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"
#include "storage/StrToInt.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr char kEndOfData = '\x1A';
constexpr size_t kChunkSize = size_t(1) << 20;

// Where the line reader gets its bytes: one chunk after another, an empty
// chunk at the physical end.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::string_view next() = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::string_view next() override
    {
        std::string_view out = bytes_;
        bytes_ = {};
        return out;
    }
private:
    std::string_view bytes_;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string &path)
    {
        do {
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0)
            throw EInOutError::fromErrno(errno);
        struct stat st{};
        if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
            size_ = static_cast<size_t>(st.st_size);
    }
    ~FileSource() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    // The size at open, for sizing the table; 0 when unknown.
    size_t size() const { return size_; }

    std::string_view next() override
    {
        if (buffer_.empty())
            buffer_.resize(kChunkSize);
        for (;;) {
            ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
            if (got >= 0)
                return std::string_view(buffer_.data(), static_cast<size_t>(got));
            if (errno != EINTR)
                throw EInOutError::fromErrno(errno);
        }
    }

    void close()
    {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR)
            throw EInOutError::fromErrno(errno);
    }

private:
    int fd_ = -1;
    size_t size_ = 0;
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
            ended_ = true;
        return ended_;
    }

    void readLine(Bytes &line)
    {
        line.clear();
        while (!ended_) {
            if (pos_ == chunk_.size()) {
                refill();
                if (ended_)
                    return;
            }
            const char *begin = chunk_.data() + pos_;
            const size_t avail = chunk_.size() - pos_;
            const char *stop = findStop(begin, avail);
            if (!stop) {
                line.append(begin, avail);
                pos_ = chunk_.size();
                continue;
            }
            line.append(begin, static_cast<size_t>(stop - begin));
            pos_ += static_cast<size_t>(stop - begin);
            if (*stop == kEndOfData) {
                ended_ = true;  // left in place: the data is over
                return;
            }
            ++pos_;  // the CR
            if (pos_ == chunk_.size())
                refill();
            if (!ended_ && chunk_[pos_] == '\n')
                ++pos_;
            return;
        }
    }

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
        chunk_ = source_.next();
        pos_ = 0;
        if (chunk_.empty())
            ended_ = true;
    }

    ByteSource &source_;
    std::string_view chunk_;
    size_t pos_ = 0;
    bool ended_ = false;
};

void readRecords(ByteSource &source, size_t sizeHint, RecordTable &table)
{
    LineReader reader(source);
    Bytes line;
    reader.readLine(line);
    const int32_t count = strToInt(line);
    if (count <= 0)
        return;

    // A record present in the file takes at least three line ends, so the
    // size bounds how many rows can come, whatever the count claims.
    const size_t present = sizeHint / 3 + 1;
    table.reserve(table.size() + std::min<size_t>(static_cast<size_t>(count),
                                                  present + kMaxEmptyTrailingRecords));

    size_t emptyTrailing = 0;
    for (int32_t k = 0; k < count; ++k) {
        if (reader.atEnd()) {
            if (emptyTrailing == kMaxEmptyTrailingRecords)
                break;
            ++emptyTrailing;
            table.append({}, {}, {});
            continue;
        }
        Bytes section, text, icons;
        reader.readLine(section);
        reader.readLine(text);
        reader.readLine(icons);
        table.append(std::move(section), std::move(text), std::move(icons));
    }
}

// A field as the file can carry it: CR and 0x1A become '?'.
std::string_view storable(const Bytes &field, Bytes &scratch)
{
    if (field.find_first_of("\r\x1A") == Bytes::npos)
        return field;
    scratch = field;
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

void writeRecords(AtomicFile &file, const RecordTable &table)
{
    file.write(decimal(static_cast<long long>(table.size())));
    file.write("\r\n");
    Bytes scratch;
    for (size_t i = 0; i < table.size(); ++i) {
        const NoteRecord &rec = table.at(i);
        for (const Bytes *field : {&rec.section, &rec.text, &rec.icons}) {
            file.write(storable(*field, scratch));
            file.write("\r\n");
        }
    }
}

void readRecordFile(const std::string &path, RecordTable &table)
{
    FileSource source(path);
    readRecords(source, source.size(), table);
    source.close();
}

void parseRecords(std::string_view bytes, RecordTable &table)
{
    MemorySource source(bytes);
    readRecords(source, bytes.size(), table);
}

} // namespace qv
