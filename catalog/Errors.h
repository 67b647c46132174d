// The errors the core raises. Each carries the exact message the user sees,
// in Windows-1251, without the full stop the error box may append.
#pragma once

#include "catalog/Text.h"

#include <stdexcept>

namespace qv {

class Error : public std::runtime_error {
public:
    explicit Error(const Bytes &message) : std::runtime_error(message) {}
    Bytes message() const { return what(); }
};

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

// "'%s' - неверное целое значение"
class EConvertError : public Error {
public:
    explicit EConvertError(const Bytes &text);
};

// "Не могу открыть файл %s"
class EFOpenError : public Error {
public:
    explicit EFOpenError(const Bytes &fileName);
};

// "Не могу создать файл %s"
class EFCreateError : public Error {
public:
    explicit EFCreateError(const Bytes &fileName);
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

// "Неверный уровень (%d) для элемента "%s""
class ETreeViewError : public Error {
public:
    ETreeViewError(long long level, const Bytes &caption);
};

// "Не могу записать в %s"
class ESettingsWriteError : public Error {
public:
    explicit ESettingsWriteError(const Bytes &path);
};

// The error box's text: the message with a full stop appended when its last
// byte sorts after '.'.
Bytes errorBoxText(const Bytes &message);

} // namespace qv
