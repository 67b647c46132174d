// Zim notebooks: a folder with notebook.zim, each page a .txt file in Zim's
// wiki syntax, a page's sub-pages in a folder of its name (a folder without
// a .txt is a page without text). Pages in Zim's order (by name, any letter
// case, numbers by value); the files in a page's folder that are no pages
// are its attachments, named in marker lines. The folders are walked
// without recursion; links are not followed.
#include "exchange/CherryTreeNote.h"
#include "exchange/ZimText.h"

#include "storage/FileIo.h"
#include "storage/Os.h"

#include <algorithm>

namespace qv::exchange {

namespace zim {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Zim's order of names: letter case aside, runs of digits by their value.
bool before(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && digit(a[ie]))
                ++ie;
            while (je < b.size() && digit(b[je]))
                ++je;
            std::string_view x(a.data() + i, ie - i), y(b.data() + j, je - j);
            while (x.size() > 1 && x[0] == '0')
                x.remove_prefix(1);
            while (y.size() > 1 && y[0] == '0')
                y.remove_prefix(1);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = ie;
            j = je;
            continue;
        }
        const char x = lower(a[i]), y = lower(b[j]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

} // namespace

} // namespace zim

ImportedTree parseZim(const std::string &path)
{
    std::string root = path;
    if (zim::endsWith(root, "/notebook.zim"))
        root.resize(root.size() - 12);
    else if (!root.empty() && root.back() != '/')
        root += '/';
    if (os::status(root + "notebook.zim").kind != os::Kind::Regular)
        throw EImportError(W("это не блокнот Zim: в папке нет файла notebook.zim"));

    ImportedTree tree;
    struct Page {
        std::string name; // the file name without .txt
        bool text = false, folder = false;
    };
    // The pages and attachments of a folder, in Zim's order.
    auto list = [&](const std::string &dir, std::vector<std::string> &attachments) {
        std::vector<Page> pages;
        auto page = [&](const std::string &name) -> Page & {
            for (Page &p : pages)
                if (p.name == name)
                    return p;
            pages.push_back({name});
            return pages.back();
        };
        std::vector<std::string> names = os::namesIn(dir);
        std::sort(names.begin(), names.end());
        for (const std::string &n : names) {
            if (n == "." || n == ".." || n.empty() || n[0] == '.')
                continue;
            const os::Kind kind = os::status(dir + n, false).kind;
            tree.sourceBytes += n.size() + 16;
            if (kind == os::Kind::Directory)
                page(n).folder = true;
            else if (kind == os::Kind::Regular && zim::endsWith(n, ".txt"))
                page(n.substr(0, n.size() - 4)).text = true;
            else if (dir != root || n != "notebook.zim")
                attachments.push_back(n);
        }
        std::sort(pages.begin(), pages.end(),
                  [](const Page &a, const Page &b) { return zim::before(a.name, b.name); });
        return pages;
    };
    struct Level {
        std::string dir;
        std::vector<Page> pages;
        size_t next = 0;
    };
    std::vector<std::string> rootFiles;
    std::vector<Level> stack;
    stack.push_back({root, list(root, rootFiles), 0});
    while (!stack.empty()) {
        Level &level = stack.back();
        if (level.next == level.pages.size()) {
            stack.pop_back();
            continue;
        }
        const Page page = level.pages[level.next++];
        const std::string dir = level.dir;
        ImportedNode node{stack.size() - 1, zim::pageName(page.name), {}, 0};
        if (page.text) {
            const Bytes text = readWholeFile(dir + page.name + ".txt");
            tree.sourceBytes += text.size();
            node.note = zim::pageText(text, node.caption, tree.counts);
        }
        std::vector<std::string> attachments;
        std::vector<Page> children;
        if (page.folder)
            children = list(dir + page.name + "/", attachments);
        for (const std::string &a : attachments) {
            node.note += (node.note.empty() ? "" : "\n") + cherrytree::fileMarker(a);
            ++tree.counts.files;
        }
        tree.nodes.push_back(std::move(node));
        if (!children.empty())
            stack.push_back({dir + page.name + "/", std::move(children), 0});
    }
    return tree;
}

} // namespace qv::exchange
