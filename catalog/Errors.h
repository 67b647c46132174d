// The errors the core raises. Each carries the exact message the user sees,
// in Windows-1251, without the full stop the error box may append.
#pragma once

#include "catalog/Text.h"

#include <stdexcept>

namespace qv {

class Error : public std::runtime_error {
public:
    explicit Error(const Bytes &message) : std::runtime_error(message), message_(message) {}
    // A message that names a file: `before`, the path, `after`. The path
    // keeps the system's bytes (UTF-8 here), the rest is Windows-1251.
    Error(const Bytes &before, const std::string &path, const Bytes &after);
    // The whole message; what() ends at a NUL the quoted text may hold.
    const Bytes &message() const { return message_; }
    // Where the path stands inside message(): Bytes::npos and 0 when the
    // message names no file.
    size_t pathOffset() const { return pathOffset_; }
    size_t pathLength() const { return pathLength_; }

private:
    Bytes message_;
    size_t pathOffset_ = Bytes::npos;
    size_t pathLength_ = 0;
};

// The message for a terminal in UTF-8: the Windows-1251 text converted, the
// path's bytes as they are.
std::string messageUtf8(const Error &error);

// File content quoted in a message: at most kMaxQuoted bytes, then "…" when
// there was more.
constexpr size_t kMaxQuoted = 80;
Bytes clipQuoted(std::string_view text);

// I/O failure with an operating-system code mapped to the classic codes
// (2, 3, 4, 5, 100, 101, 106, others as "Ошибка ввода/вывода %d").
class EInOutError : public Error {
public:
    explicit EInOutError(int code);
    int code() const { return code_; }
    // Maps an errno value onto the classic code.
    static int codeFromErrno(int err);
    static EInOutError fromErrno(int err) { return EInOutError(codeFromErrno(err)); }
    static Bytes messageFor(int code);

private:
    int code_;
};

// "'%s' - неверное целое значение" (the text cut by clipQuoted())
class EConvertError : public Error {
public:
    explicit EConvertError(const Bytes &text);
};

// "Не могу открыть файл %s"
class EFOpenError : public Error {
public:
    explicit EFOpenError(const std::string &fileName);
};

// "Не могу создать файл %s"
class EFCreateError : public Error {
public:
    explicit EFCreateError(const std::string &fileName);
};

// "Ошибка чтения потока"
class EReadError : public Error {
public:
    EReadError();
};

// "Ошибка записи потока"
class EWriteError : public Error {
public:
    EWriteError();
};

// A line of the outline file deeper than one level below the line before:
// "Неверный уровень (%d) для элемента "%s"" (the caption cut by clipQuoted())
class EOutlineLevelError : public Error {
public:
    EOutlineLevelError(long long level, const Bytes &caption);
};

// "Не могу записать в %s"
class ESettingsWriteError : public Error {
public:
    explicit ESettingsWriteError(const std::string &path);
};

// "Файл %s не является обычным файлом": a directory, FIFO, device or socket
// where a file to read is expected.
class ENotRegularFile : public Error {
public:
    explicit ENotRegularFile(const std::string &path);
};

// The error box's text: the message with a full stop appended when its last
// byte sorts after '.'.
Bytes errorBoxText(const Bytes &message);

} // namespace qv
