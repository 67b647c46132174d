#include "exchange/XmlReader.h"

#include "exchange/Import.h"

// The entity expansion protection is declared only for a library built with
// DTD support, which Debian's is (it fails to link otherwise).
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#if XML_MAJOR_VERSION < 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION < 4)
#error "expat 2.4 or later is needed (entity expansion protection)"
#endif

namespace qv::exchange {

namespace {

// An entity may expand the input at most this much (what an import may
// grow by), counted once the expansion passes the threshold.
constexpr float kMaxAmplification = static_cast<float>(kMaxImportGrowth);
constexpr unsigned long long kAmplificationThreshold = 4ull << 20;
constexpr size_t kChunk = 1 << 16;

template <typename F>
void guarded(void *data, F &&f)
{
    auto *r = static_cast<XmlReader *>(data);
    try {
        f(*r);
    } catch (const std::bad_alloc &) {
        r->fail("недостаточно памяти");
    } catch (const std::exception &) {
        r->fail("ошибка разбора");
    }
}

} // namespace

XmlReader::~XmlReader()
{
    if (parser_)
        XML_ParserFree(static_cast<XML_Parser>(parser_));
}

void XmlReader::fail(std::string_view whatUtf8)
{
    if (error_.empty())
        error_ = W(whatUtf8);
    XML_StopParser(static_cast<XML_Parser>(parser_), XML_FALSE);
}

const char *XmlReader::attribute(const char **atts, const char *name)
{
    for (; atts && *atts; atts += 2)
        if (std::strcmp(atts[0], name) == 0)
            return atts[1];
    return nullptr;
}

uint64_t XmlReader::parse(const std::function<size_t(char *, size_t)> &read)
{
    // One parser for every document, reset (which clears its handlers and
    // settings) before each.
    if (!parser_) {
        parser_ = XML_ParserCreate("UTF-8");
        if (!parser_)
            throw std::bad_alloc();
    } else if (!XML_ParserReset(static_cast<XML_Parser>(parser_), "UTF-8")) {
        throw std::bad_alloc();
    }
    XML_Parser p = static_cast<XML_Parser>(parser_);
    error_.clear();
    XML_SetUserData(p, this);
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(p, kMaxAmplification);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(p, kAmplificationThreshold);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetExternalEntityRefHandler(p,
                                    [](XML_Parser, const XML_Char *, const XML_Char *, const XML_Char *,
                                       const XML_Char *) { return static_cast<int>(XML_STATUS_ERROR); });
    XML_SetEntityDeclHandler(p,
                             [](void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
                                const XML_Char *systemId, const XML_Char *, const XML_Char *) {
                                 if (systemId)
                                     guarded(data,
                                             [](XmlReader &r) { r.fail("внешние сущности не допускаются"); });
                             });
    XML_SetElementHandler(
        p,
        [](void *data, const XML_Char *name, const XML_Char **atts) {
            guarded(data, [&](XmlReader &r) { r.start(name, atts); });
        },
        [](void *data, const XML_Char *name) { guarded(data, [&](XmlReader &r) { r.end(name); }); });
    XML_SetCharacterDataHandler(p, [](void *data, const XML_Char *s, int len) {
        guarded(data, [&](XmlReader &r) { r.text(std::string_view(s, static_cast<size_t>(len))); });
    });

    uint64_t total = 0;
    for (;;) {
        void *buf = XML_GetBuffer(p, static_cast<int>(kChunk));
        if (!buf)
            throw std::bad_alloc();
        const size_t got = read(static_cast<char *>(buf), kChunk);
        total += got;
        if (XML_ParseBuffer(p, static_cast<int>(got), got == 0) != XML_STATUS_OK) {
            const XML_Error code = XML_GetErrorCode(p);
            Bytes why = code == XML_ERROR_ABORTED && !error_.empty() ? error_ : Bytes(XML_ErrorString(code));
            throw EImportError(
                W("Ошибка XML в строке ") + decimal(static_cast<long long>(XML_GetCurrentLineNumber(p)))
                + W(", позиция ") + decimal(static_cast<long long>(XML_GetCurrentColumnNumber(p)) + 1) + ": "
                + why);
        }
        if (got == 0)
            break;
    }
    return total;
}

uint64_t XmlReader::parse(std::string_view xml)
{
    size_t at = 0;
    return parse([&](char *buf, size_t n) {
        const size_t take = std::min(n, xml.size() - at);
        std::copy_n(xml.data() + at, take, buf);
        at += take;
        return take;
    });
}

} // namespace qv::exchange
