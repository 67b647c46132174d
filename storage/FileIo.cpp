#include "storage/FileIo.h"

#include "catalog/Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace qv {

namespace {

constexpr size_t kBufferSize = 64 * 1024;

[[noreturn]] void refuse(const std::string &path, AtomicFile::Refusal refusal, int code)
{
    if (refusal == AtomicFile::Refusal::Create)
        throw EFCreateError(path);
    throw EInOutError(code);
}

// A folder that takes no new entry, as opposed to a full disk or a broken one.
bool folderRefuses(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// Opens a regular file for reading or raises the error `failure` asks for.
os::Handle openForReading(const std::string &path, InputFile::Failure failure)
{
    bool notRegular = false;
    const os::Handle h = os::openForReading(path, notRegular);
    if (h != os::kNoHandle)
        return h;
    if (notRegular)
        throw ENotRegularFile(path);
    if (failure == InputFile::Failure::InOut)
        throw EInOutError::fromErrno(errno);
    throw EFOpenError(path);
}

void check(int err)
{
    if (err != 0)
        throw EInOutError::fromErrno(err);
}

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87u;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Fu;

uint64_t rotl(uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }

uint64_t word(const char *p)
{
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

uint64_t mix(uint64_t h)
{
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime1;
    return h ^ (h >> 32);
}

} // namespace

// ---- ContentHash ----

namespace {

// Runs the lanes over whole 64-byte blocks; they are kept in locals so the
// bytes read (which may alias them) do not force them through memory.
void blocks(uint64_t (&lanes)[8], const char *p, size_t count)
{
    uint64_t l[8];
    std::memcpy(l, lanes, sizeof l);
    for (; count > 0; --count, p += 64)
        for (int i = 0; i < 8; ++i)
            l[i] = rotl((l[i] ^ word(p + 8 * i)) * kPrime1, 31);
    std::memcpy(lanes, l, sizeof l);
}

} // namespace

void ContentHash::add(const char *p, size_t n)
{
    // Nothing to add (an empty view may carry no pointer at all).
    if (n == 0)
        return;
    count_ += n;
    if (tailBytes_ > 0) {
        const size_t take = std::min(n, sizeof tail_ - tailBytes_);
        std::memcpy(tail_ + tailBytes_, p, take);
        tailBytes_ += take;
        p += take;
        n -= take;
        if (tailBytes_ < sizeof tail_)
            return;
        blocks(lanes_, tail_, 1);
        tailBytes_ = 0;
    }
    blocks(lanes_, p, n / sizeof tail_);
    p += n / sizeof tail_ * sizeof tail_;
    n %= sizeof tail_;
    std::memcpy(tail_, p, n);
    tailBytes_ = n;
}

uint64_t ContentHash::value(uint64_t size) const
{
    uint64_t h = mix(count_) ^ rotl(mix(size + kPrime2), 17);
    for (int i = 0; i < 8; ++i)
        h = mix(h ^ rotl(lanes_[i], 7 * i + 1));
    for (size_t i = 0; i < tailBytes_; ++i)
        h = (h ^ static_cast<unsigned char>(tail_[i])) * kPrime1;
    return mix(h);
}

InputFile::InputFile(const std::string &path, Failure failure)
{
    fd_ = openForReading(path, failure);
    os::Info info;
    if (os::describe(fd_, info) != 0) {
        const int err = errno;
        os::close(fd_);
        fd_ = os::kNoHandle;
        if (failure == Failure::InOut)
            throw EInOutError::fromErrno(err);
        throw EFOpenError(path);
    }
    size_ = info.size;
    mtime_ = info.mtime;
    mode_ = info.mode;
}

InputFile::~InputFile()
{
    if (fd_ != os::kNoHandle)
        os::close(fd_);
}

long long InputFile::read(char *buf, size_t n)
{
    const long long got = os::readSome(fd_, buf, n);
    if (got > 0)
        hash_.add(buf, static_cast<size_t>(got));
    return got;
}

void InputFile::rewind()
{
    hash_ = ContentHash();
    if (os::rewind(fd_) != 0)
        throw EInOutError::fromErrno(errno);
}

bool InputFile::nextData(int64_t from, int64_t &start, int64_t &end)
{
    start = os::nextData(fd_, from);
    if (start < 0)
        return false;
    end = os::nextHole(fd_, start);
    if (os::seekTo(fd_, start) != 0)
        throw EInOutError::fromErrno(errno);
    return true;
}

bool InputFile::contentAfter(int64_t offset, std::string_view ignorable)
{
    bool skip[256] = {};
    for (char c : ignorable)
        skip[static_cast<unsigned char>(c)] = true;
    std::vector<char> buf(kBufferSize);
    int64_t pos = offset;
    for (;;) {
        pos = os::nextData(fd_, pos);
        if (pos < 0)
            return false;
        const long long n = os::readAt(fd_, buf.data(), buf.size(), pos);
        if (n < 0)
            throw EInOutError::fromErrno(errno);
        if (n == 0)
            return false;
        for (long long i = 0; i < n; ++i)
            if (!skip[static_cast<unsigned char>(buf[static_cast<size_t>(i)])])
                return true;
        pos += n;
    }
}

Bytes readWholeFile(const std::string &path)
{
    const os::Handle h = openForReading(path, InputFile::Failure::FOpen);
    Bytes data;
    const int err = os::readRest(h, data);
    os::close(h);
    check(err);
    return data;
}

// ---- AtomicFile ----

AtomicFile::AtomicFile(const std::string &path, Refusal refusal, Links links)
    : AtomicFile(path, refusal, links, InPlace())
{}

AtomicFile::AtomicFile(const std::string &path, Refusal refusal, Links links, const InPlace &inPlace)
    : path_(links == Links::FollowLink ? os::resolveLink(path) : path)
{
    // Refuse what an in-place write would be refused: a directory, or an
    // existing file we may not write (a rename could replace it, but the
    // user made it read-only for a reason). A FIFO, device or socket is
    // no file of ours to replace either.
    os::Status target = os::status(path_, links == Links::FollowLink);
    if (target.kind == os::Kind::Link)
        target = {}; // the link goes, its target is none of our business
    if (target.exists() && (target.kind != os::Kind::Regular || !os::writable(path_)))
        refuse(path, refusal, 5);

    fd_ = os::createTemporaryBeside(path_, tmpPath_);
    if (fd_ == os::kNoHandle) {
        const int err = errno;
        // The folder takes no new entry but the file itself may be written:
        // it is written in place at commit(), its old bytes kept first.
        if (!inPlace.allowed || !target.exists() || !folderRefuses(err))
            refuse(path, refusal, EInOutError::codeFromErrno(err));
        if (inPlace.keepOld) {
            try {
                inPlace.keepOld();
            } catch (const Error &) {
                refuse(path, refusal, EInOutError::codeFromErrno(err));
            }
        }
        inPlace_ = true;
        return;
    }

    // The replacement carries the old file's permissions (and, when we are
    // allowed to, its owner); a new file gets the usual default.
    const unsigned mode = target.exists() ? target.mode : (0666u & ~os::currentUmask());
    if (target.exists() && (os::ownerOf(fd_, false) != target.uid || os::ownerOf(fd_, true) != target.gid))
        os::setOwner(fd_, target.uid, target.gid);
    if (os::setMode(fd_, mode) != 0) {
        const int err = errno;
        os::close(fd_);
        fd_ = os::kNoHandle;
        os::remove(tmpPath_);
        refuse(path, refusal, EInOutError::codeFromErrno(err));
    }
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile()
{
    if (fd_ != os::kNoHandle)
        os::close(fd_);
    if (!committed_ && !tmpPath_.empty())
        os::remove(tmpPath_);
}

void AtomicFile::skip(uint64_t bytes)
{
    if (bytes == 0)
        return;
    if (inPlace_) {
        write(std::string(bytes, '\0'));
        return;
    }
    if (fd_ == os::kNoHandle)
        throw EInOutError(103);
    flushBuffer();
    length_ += bytes;
    if (os::seekTo(fd_, static_cast<int64_t>(length_)) != 0)
        throw EInOutError::fromErrno(errno);
    endsInHole_ = true;
}

void AtomicFile::write(std::string_view bytes)
{
    hash_.add(bytes.data(), bytes.size());
    length_ += bytes.size();
    if (!bytes.empty())
        endsInHole_ = false;
    if (inPlace_) {
        if (prepared_ || committed_)
            throw EInOutError(103);
        buffer_.append(bytes);
        return;
    }
    if (fd_ == os::kNoHandle)
        throw EInOutError(103); // not open
    if (buffer_.size() + bytes.size() < kBufferSize) {
        buffer_.append(bytes);
        return;
    }
    // Fill the buffer, hand it over, and keep going in whole buffers.
    const size_t take = kBufferSize - buffer_.size();
    buffer_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    flushBuffer();
    while (bytes.size() >= kBufferSize) {
        check(os::writeAll(fd_, bytes.substr(0, kBufferSize)));
        bytes.remove_prefix(kBufferSize);
    }
    buffer_.assign(bytes);
}

void AtomicFile::flushBuffer()
{
    const int err = os::writeAll(fd_, buffer_);
    buffer_.clear();
    check(err);
}

void AtomicFile::setModificationTime(int64_t seconds)
{
    hasMtime_ = true;
    mtime_ = seconds;
}

void AtomicFile::prepare()
{
    if (committed_ || prepared_ || (!inPlace_ && fd_ == os::kNoHandle))
        throw EInOutError(103);
    if (inPlace_) {
        // Nothing is written before commit(): the old bytes stay until then.
        prepared_ = true;
        return;
    }
    flushBuffer();
    if (endsInHole_)
        check(os::truncate(fd_, static_cast<int64_t>(length_)));
    if (hasMtime_)
        os::setModificationTimeNs(fd_, mtime_ * 1000000000); // a time stamp is not worth failing for
    check(os::syncFile(fd_));
    const os::Handle h = fd_;
    fd_ = os::kNoHandle;
    if (os::close(h) != 0)
        throw EInOutError::fromErrno(errno);
    prepared_ = true;
}

void AtomicFile::commit()
{
    if (!prepared_)
        prepare();
    if (committed_)
        throw EInOutError(103);
    if (inPlace_) {
        writeInPlace();
        return;
    }
    check(os::rename(tmpPath_, path_));
    committed_ = true;
    syncDirectory(os::folderOf(path_));
}

void AtomicFile::writeInPlace()
{
    const os::Handle h = os::openForWritingInPlace(path_);
    if (h == os::kNoHandle)
        throw EInOutError::fromErrno(errno);
    // The new bytes over the old, then the file cut to their length.
    int err = os::writeAll(h, buffer_, 0);
    if (err == 0)
        err = os::truncate(h, static_cast<int64_t>(buffer_.size()));
    if (err == 0 && hasMtime_)
        os::setModificationTimeNs(h, mtime_ * 1000000000);
    if (err == 0)
        err = os::syncFile(h);
    if (os::close(h) != 0 && err == 0)
        err = errno;
    check(err);
    committed_ = true;
    buffer_.clear();
}

// ---- copyAside ----

std::string copyAside(const std::string &source, const std::string &name)
{
    struct Closer {
        os::Handle h = os::kNoHandle;
        std::string removeMe;
        ~Closer()
        {
            if (h != os::kNoHandle)
                os::close(h);
            if (!removeMe.empty())
                os::remove(removeMe);
        }
    } input, output;
    input.h = openForReading(source, InputFile::Failure::FOpen);
    os::Info info;
    if (os::describe(input.h, info) != 0)
        throw EInOutError::fromErrno(errno);

    std::string tmp;
    output.h = os::createTemporaryBeside(name, tmp);
    if (output.h == os::kNoHandle)
        throw EInOutError::fromErrno(errno);
    output.removeMe = tmp;

    // Run by run of data; the holes between stay holes. The last run is
    // read to wherever the file ends now.
    std::vector<char> buf(kBufferSize);
    int64_t length = info.size;
    for (int64_t pos = 0;;) {
        const int64_t start = os::nextData(input.h, pos);
        if (start < 0)
            break;
        const int64_t end = os::nextHole(input.h, start);
        const bool last = end >= info.size;
        int64_t at = start;
        while (last || at < end) {
            const size_t want
                = last ? buf.size() : static_cast<size_t>(std::min<int64_t>(end - at, buf.size()));
            const long long n = os::readAt(input.h, buf.data(), want, at);
            if (n < 0)
                throw EInOutError::fromErrno(errno);
            if (n == 0)
                break;
            check(os::writeAll(output.h, std::string_view(buf.data(), static_cast<size_t>(n)), at));
            at += n;
        }
        if (last) {
            length = at;
            break;
        }
        if (at < end)
            break;
        pos = at;
    }
    check(os::truncate(output.h, length));
    if (os::setMode(output.h, info.mode) != 0)
        throw EInOutError::fromErrno(errno);
    os::setModificationTimeNs(output.h, info.mtimeNs); // a time stamp is not worth failing for
    check(os::syncFile(output.h));
    const os::Handle h = output.h;
    output.h = os::kNoHandle;
    if (os::close(h) != 0)
        throw EInOutError::fromErrno(errno);

    std::string chosen;
    check(os::takeFreeName(
        name, [&tmp](const std::string &n) { return os::renameNoReplace(tmp, n); }, chosen));
    output.removeMe.clear();
    syncDirectory(os::folderOf(name));
    return chosen;
}

} // namespace qv
