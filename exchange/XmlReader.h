// The XML readers' one parser set-up (expat): the input read in pieces, the
// protection against entity expansion bombs set, external entities refused,
// no handler letting an exception into expat's C frames. A reader keeps its
// own element stack, so nothing recurses as deep as the document.
#pragma once

#include "catalog/Text.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace qv::exchange {

class XmlReader {
public:
    XmlReader() = default;
    XmlReader(const XmlReader &) = delete;
    XmlReader &operator=(const XmlReader &) = delete;
    virtual ~XmlReader();
    virtual void start(const char *name, const char **atts) = 0;
    virtual void end(const char *name) = 0;
    virtual void text(std::string_view utf8) = 0;

    // Stops the parse; the error names `whatUtf8` (the first reason given).
    void fail(std::string_view whatUtf8);
    // The attribute's value, or null.
    static const char *attribute(const char **atts, const char *name);

    // Parses the document from `read` (which fills the buffer and returns
    // the count, 0 at the end); returns the bytes read. A reader may parse
    // several documents one after the other. Raises EImportError
    // "Ошибка XML в строке L, позиция C: …" for a document that is not
    // well-formed or that a handler refused.
    uint64_t parse(const std::function<size_t(char *, size_t)> &read);
    uint64_t parse(std::string_view xml);

private:
    void *parser_ = nullptr;
    Bytes error_;
};

} // namespace qv::exchange
