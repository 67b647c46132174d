// CherryTree's XML document (.ctd) through expat: node names give the tree,
// each node's text is its rich text runs, code boxes and tables flattened to
// characters; images and embedded files are skipped and counted. The parser
// keeps its own element stack (no recursion as deep as the document), its
// protection against entity expansion bombs is set, external entities are
// refused, and the input is read in pieces.
#include "exchange/Import.h"

// The entity expansion protection is declared only for a library built with
// DTD support, which Debian's is (it fails to link otherwise).
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <cstring>
#include <memory>

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

struct Reader {
    XML_Parser parser = nullptr;
    ImportedTree tree;
    std::vector<size_t> open; // the entries of the open <node> elements
    int textDepth = 0;        // inside rich_text, codebox or cell
    int skipDepth = 0;        // inside an image or embedded file
    bool rootSeen = false;
    bool firstCell = false;
    Bytes error; // why the handlers stopped the parser

    std::string *note() { return open.empty() ? nullptr : &tree.nodes[open.back()].note; }

    void fail(std::string_view whatUtf8)
    {
        if (error.empty())
            error = W(whatUtf8);
        XML_StopParser(parser, XML_FALSE);
    }

    // A block (code box, table) starts on a line of its own.
    void newBlock()
    {
        if (std::string *n = note(); n && !n->empty() && n->back() != '\n')
            *n += '\n';
    }

    static const char *attribute(const char **atts, const char *name)
    {
        for (; atts && *atts; atts += 2)
            if (std::strcmp(atts[0], name) == 0)
                return atts[1];
        return nullptr;
    }

    void start(const char *name, const char **atts)
    {
        if (!rootSeen) {
            rootSeen = true;
            if (std::strcmp(name, "cherrytree") != 0)
                fail("это не документ CherryTree (корневой элемент не cherrytree)");
            return;
        }
        if (skipDepth) {
            ++skipDepth;
            return;
        }
        if (std::strcmp(name, "node") == 0) {
            const char *caption = attribute(atts, "name");
            open.push_back(tree.nodes.size());
            tree.nodes.push_back({open.size() - 1, caption ? caption : "", {}});
        } else if (std::strcmp(name, "rich_text") == 0) {
            ++textDepth;
        } else if (std::strcmp(name, "codebox") == 0) {
            newBlock();
            ++textDepth;
        } else if (std::strcmp(name, "table") == 0) {
            newBlock();
        } else if (std::strcmp(name, "row") == 0) {
            newBlock();
            firstCell = true;
        } else if (std::strcmp(name, "cell") == 0) {
            if (!firstCell)
                if (std::string *n = note())
                    *n += '\t';
            firstCell = false;
            ++textDepth;
        } else if (std::strcmp(name, "encoded_png") == 0 || std::strcmp(name, "image") == 0) {
            if (attribute(atts, "filename"))
                ++tree.filesSkipped;
            else if (!attribute(atts, "anchor"))
                ++tree.imagesSkipped;
            skipDepth = 1;
        }
    }

    void end(const char *name)
    {
        if (skipDepth) {
            --skipDepth;
            return;
        }
        if (std::strcmp(name, "node") == 0) {
            if (!open.empty())
                open.pop_back();
        } else if (std::strcmp(name, "rich_text") == 0 || std::strcmp(name, "cell") == 0) {
            textDepth = std::max(0, textDepth - 1);
        } else if (std::strcmp(name, "codebox") == 0) {
            textDepth = std::max(0, textDepth - 1);
            newBlock();
        } else if (std::strcmp(name, "table") == 0) {
            newBlock();
        }
    }

    void text(const char *s, int len)
    {
        if (textDepth > 0 && !skipDepth)
            if (std::string *n = note())
                n->append(s, static_cast<size_t>(len));
    }
};

// No handler may let an exception into expat's C frames.
template <typename F>
void guarded(void *data, F &&f)
{
    auto *r = static_cast<Reader *>(data);
    try {
        f(*r);
    } catch (const std::bad_alloc &) {
        r->fail("недостаточно памяти");
    } catch (const std::exception &) {
        r->fail("ошибка разбора");
    }
}

struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
};

} // namespace

ImportedTree parseCherryTree(const std::function<size_t(char *, size_t)> &read)
{
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser(XML_ParserCreate("UTF-8"));
    if (!parser)
        throw std::bad_alloc();
    XML_Parser p = parser.get();
    Reader reader;
    reader.parser = p;
    XML_SetUserData(p, &reader);
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
                                             [](Reader &r) { r.fail("внешние сущности не допускаются"); });
                             });
    XML_SetElementHandler(
        p,
        [](void *data, const XML_Char *name, const XML_Char **atts) {
            guarded(data, [&](Reader &r) { r.start(name, atts); });
        },
        [](void *data, const XML_Char *name) { guarded(data, [&](Reader &r) { r.end(name); }); });
    XML_SetCharacterDataHandler(
        p, [](void *data, const XML_Char *s, int len) { guarded(data, [&](Reader &r) { r.text(s, len); }); });

    for (;;) {
        void *buf = XML_GetBuffer(p, static_cast<int>(kChunk));
        if (!buf)
            throw std::bad_alloc();
        const size_t got = read(static_cast<char *>(buf), kChunk);
        reader.tree.sourceBytes += got;
        if (XML_ParseBuffer(p, static_cast<int>(got), got == 0) != XML_STATUS_OK) {
            const XML_Error code = XML_GetErrorCode(p);
            Bytes why = code == XML_ERROR_ABORTED && !reader.error.empty() ? reader.error
                                                                           : Bytes(XML_ErrorString(code));
            throw EImportError(
                W("Ошибка XML в строке ") + decimal(static_cast<long long>(XML_GetCurrentLineNumber(p)))
                + W(", позиция ") + decimal(static_cast<long long>(XML_GetCurrentColumnNumber(p)) + 1) + ": "
                + why);
        }
        if (got == 0)
            break;
    }
    if (!reader.rootSeen)
        throw EImportError(W("это не документ CherryTree"));
    // The line breaks after a last code box or table.
    for (ImportedNode &n : reader.tree.nodes)
        while (!n.note.empty() && n.note.back() == '\n')
            n.note.pop_back();
    return std::move(reader.tree);
}

} // namespace qv::exchange
