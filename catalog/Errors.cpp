#include "catalog/Errors.h"

#include <algorithm>
#include <cerrno>

namespace qv {

Error::Error(const Bytes &before, const std::string &path, const Bytes &after)
    : std::runtime_error(before + path + after), message_(before + path + after), pathOffset_(before.size()),
      pathLength_(path.size())
{}

std::string messageUtf8(const Error &error)
{
    const Bytes &message = error.message();
    const size_t at = error.pathOffset();
    if (at == Bytes::npos || at > message.size())
        return cp1251::toUtf8(message);
    const size_t length = std::min(error.pathLength(), message.size() - at);
    return cp1251::toUtf8(std::string_view(message).substr(0, at)) + message.substr(at, length)
        + cp1251::toUtf8(std::string_view(message).substr(at + length));
}

Bytes clipQuoted(std::string_view text)
{
    if (text.size() <= kMaxQuoted)
        return Bytes(text);
    return Bytes(text.substr(0, kMaxQuoted)) + '\x85';
}

EInOutError::EInOutError(int code) : Error(messageFor(code)), code_(code) {}

Bytes EInOutError::messageFor(int code)
{
    switch (code) {
    case 2:
        return W("Файл не найден");
    case 3:
        return W("Неверное имя файла");
    case 4:
        return W("Слишком много открытых файлов");
    case 5:
        return W("В доступе к файлу отказано");
    case 100:
        return W("Чтение за окончанием файла");
    case 101:
        return W("Диск полон");
    case 106:
        return W("Неверный ввод числа");
    default:
        return W("Ошибка ввода/вывода ") + decimal(code);
    }
}

namespace {
// A device or system failure without a more telling classic code.
constexpr int kGeneralFailure = 31;
} // namespace

int EInOutError::codeFromErrno(int err)
{
    switch (err) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case EISDIR:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EROFS:
        return 5;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return 101;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
        return 32;
    case ELOOP:
        return 3;
    case EFBIG:
        return 101;
    case EIO:
        return kGeneralFailure;
    default:
        // Any other system code is shown as it is, unless it happens to be
        // one of the classic codes above, whose messages would mislead
        // (EIO is 5 on Linux, "access denied").
        switch (err) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 100:
        case 101:
        case 106:
            return kGeneralFailure;
        default:
            return err;
        }
    }
}

EConvertError::EConvertError(const Bytes &text)
    : Error("'" + clipQuoted(text) + W("' - неверное целое значение"))
{}

EFOpenError::EFOpenError(const std::string &fileName) : Error(W("Не могу открыть файл "), fileName, {}) {}

EFCreateError::EFCreateError(const std::string &fileName) : Error(W("Не могу создать файл "), fileName, {}) {}

EReadError::EReadError() : Error(W("Ошибка чтения потока")) {}

EWriteError::EWriteError() : Error(W("Ошибка записи потока")) {}

EOutlineLevelError::EOutlineLevelError(long long level, const Bytes &caption)
    : Error(W("Неверный уровень (") + decimal(level) + W(") для элемента \"") + clipQuoted(caption) + "\"")
{}

ESettingsWriteError::ESettingsWriteError(const std::string &path) : Error(W("Не могу записать в "), path, {})
{}

ENotRegularFile::ENotRegularFile(const std::string &path)
    : Error(W("Файл "), path, W(" не является обычным файлом"))
{}

Bytes errorBoxText(const Bytes &message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + '.';
    return message;
}

} // namespace qv
