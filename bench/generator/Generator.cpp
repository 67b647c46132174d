#include "generator/Generator.h"

#include "catalog/Text.h"

#include <fstream>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace qv::gen {

namespace {

// Program texts are UTF-8 here and turned into Windows-1251 once.
const std::vector<Bytes> &cyrillicWords()
{
    static const std::vector<Bytes> words = [] {
        const char *utf8[] = {
            "Статьи",   "Рецепты",  "Ссылки",   "Заметки",  "Программы",    "Драйверы",  "Музыка",
            "Книги",    "Работа",   "Дом",      "Сад",      "Путешествия",  "Фильмы",    "Новости",
            "Погода",   "Карты",    "Форумы",   "Учёба",    "Математика",   "Физика",    "История",
            "Словари",  "Переводы", "Игры",     "Здоровье", "Спорт",        "Финансы",   "Банки",
            "Магазины", "Почта",    "Фото",     "Видео",    "Архив",        "Черновики", "Проекты",
            "Идеи",     "Покупки",  "Адреса",   "Телефоны", "Документы",    "Справка",   "Обзоры",
            "Советы",   "Журналы",  "Блоги",    "Сети",     "Безопасность", "Железо",    "Ёлка",
            "Щенки",    "Язык",     "Эхо",      "Юмор",     "Жёлтые",       "старые",    "новые",
            "важные",   "разные",   "полезные", "личные",
        };
        std::vector<Bytes> out;
        for (const char *w : utf8)
            out.push_back(W(w));
        return out;
    }();
    return words;
}

const std::vector<Bytes> &latinWords()
{
    static const std::vector<Bytes> words = {
        "Linux",  "Windows",   "Lisp",   "Haskell", "Qt",     "Python",  "Kernel",  "Docs",
        "FAQ",    "HowTo",     "Mail",   "News",    "Radio",  "Forum",   "Wiki",    "Download",
        "Setup",  "Tools",     "Utils",  "Audio",   "Video",  "Network", "Proxy",   "DNS",
        "Cache",  "Backup",    "Server", "Client",  "Mirror", "Archive", "Project", "Notes",
        "Links",  "Reference", "Manual", "Guide",   "Tips",   "Blog",    "Shop",    "Maps",
        "Travel", "Music",     "Books",  "Games",   "Photo",  "Design",  "Fonts",   "Icons",
    };
    return words;
}

const char *const kTlds[] = {"ru", "com", "org", "net", "info", "su", "de"};

const Bytes &pick(const std::vector<Bytes> &list, Random &rnd) { return list[rnd.below(list.size())]; }

Bytes lowerLatin(std::string_view s)
{
    Bytes out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Bytes webAddress(Random &rnd)
{
    Bytes host = lowerLatin(pick(latinWords(), rnd));
    if (rnd.chance(40))
        host += lowerLatin(pick(latinWords(), rnd));
    host += '.';
    host += kTlds[rnd.below(std::size(kTlds))];
    static const char *const kSchemes[] = {"http://", "https://", "www."};
    Bytes address(kSchemes[rnd.below(3)]);
    address += host;
    if (rnd.chance(70)) {
        address += '/';
        address += lowerLatin(pick(latinWords(), rnd));
        if (rnd.chance(50))
            address += "/" + decimal(static_cast<long long>(rnd.below(100000))) + ".html";
    }
    return address;
}

Bytes anyWord(Random &rnd) { return rnd.chance(60) ? pick(cyrillicWords(), rnd) : pick(latinWords(), rnd); }

Bytes caption(Random &rnd)
{
    Bytes text = anyWord(rnd);
    size_t more = rnd.below(3);
    for (size_t i = 0; i < more; ++i) {
        text += ' ';
        text += anyWord(rnd);
    }
    return text;
}

Bytes note(Random &rnd, size_t target)
{
    Bytes text;
    text.reserve(target + 64);
    size_t lineStart = 0;
    size_t lineLength = 40 + rnd.below(50);
    bool hasAddress = false;
    while (text.size() < target) {
        if (text.size() > lineStart) {
            if (text.size() - lineStart >= lineLength) {
                text += "~~";
                if (rnd.chance(15))
                    text += "~~"; // an empty line between paragraphs
                lineStart = text.size();
                lineLength = 40 + rnd.below(50);
            } else {
                text += ' ';
            }
        }
        if (rnd.chance(8) || (!hasAddress && text.size() + 60 > target)) {
            text += webAddress(rnd);
            hasAddress = true;
        } else {
            Bytes word = anyWord(rnd);
            if (text.size() == lineStart)
                text += word;
            else
                text += cp1251::lower(word);
        }
    }
    return text;
}

} // namespace

uint64_t Random::next()
{
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

size_t Random::below(size_t n) { return static_cast<size_t>(next() % n); }

Generated generate(const Options &options)
{
    Random rnd(options.seed);
    Generated out;
    out.entries.reserve(options.nodes);
    std::unordered_set<Bytes> used;
    used.reserve(options.nodes);
    const size_t levels = options.levels ? options.levels : 1;

    size_t depth = 0;
    for (size_t i = 0; i < options.nodes; ++i) {
        if (i > 0) {
            size_t roll = rnd.below(100);
            if (roll < 30 && depth + 1 < levels)
                ++depth; // first child of the previous node
            else if (roll >= 75 && depth > 0)
                depth = rnd.below(depth); // back up to some ancestor's level
        }
        Entry e;
        e.depth = depth;
        e.caption = caption(rnd);
        if (!used.insert(e.caption).second) {
            const Bytes base = e.caption;
            for (size_t k = 2; !used.insert(e.caption).second; ++k)
                e.caption = base + ' ' + decimal(static_cast<long long>(k + rnd.below(1000)));
        }
        size_t spread = options.noteBytes / 4;
        size_t target = options.noteBytes - spread / 2 + (spread ? rnd.below(spread + 1) : 0);
        e.note = note(rnd, target);
        e.icon = static_cast<int32_t>(rnd.below(80));
        out.entries.push_back(std::move(e));
    }

    // Records in the order they were created, which moves and renames have
    // long since made different from the outline's order.
    out.recordOrder.resize(out.entries.size());
    for (size_t i = 0; i < out.recordOrder.size(); ++i)
        out.recordOrder[i] = i;
    for (size_t i = out.recordOrder.size(); i > 1; --i)
        std::swap(out.recordOrder[i - 1], out.recordOrder[rnd.below(i)]);
    return out;
}

void fill(const Generated &generated, Catalog &catalog)
{
    Outline &outline = catalog.outline();
    std::vector<Node *> parents{outline.top()}; // parents[d] holds nodes of depth d
    for (const Entry &e : generated.entries) {
        parents.resize(e.depth + 1);
        Node *n = outline.append(parents.back(), e.caption, e.icon);
        parents.push_back(n);
    }
    RecordTable &records = catalog.records();
    records.reserve(records.size() + generated.recordOrder.size());
    for (size_t i : generated.recordOrder) {
        const Entry &e = generated.entries[i];
        records.append(e.caption, e.note, decimal(e.icon));
    }
}

Bytes outlineFileBytes(const Generated &generated)
{
    size_t size = 0;
    for (const Entry &e : generated.entries)
        size += e.depth + e.caption.size() + 2;
    Bytes out;
    out.reserve(size);
    for (const Entry &e : generated.entries) {
        out.append(e.depth, '\t');
        out += e.caption;
        out += "\r\n";
    }
    return out;
}

Bytes recordFileBytes(const Generated &generated)
{
    Bytes out = decimal(static_cast<long long>(generated.recordOrder.size())) + "\r\n";
    for (size_t i : generated.recordOrder) {
        const Entry &e = generated.entries[i];
        out += e.caption;
        out += "\r\n";
        out += e.note;
        out += "\r\n";
        out += decimal(e.icon);
        out += "\r\n";
    }
    return out;
}

namespace {
void writeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f)
        throw std::runtime_error("cannot write " + path);
}
} // namespace

size_t writeCatalogFiles(const std::string &dir, const Generated &generated)
{
    std::string base = dir;
    if (base.empty() || base.back() != '/')
        base += '/';
    Bytes records = recordFileBytes(generated);
    writeFile(base + "text.dat", records);
    size_t total = records.size();
    records = Bytes();
    Bytes outline = outlineFileBytes(generated);
    writeFile(base + "data.dat", outline);
    return total + outline.size();
}

Generated deepChain(size_t levels, uint64_t seed)
{
    Random rnd(seed);
    Generated out;
    out.entries.reserve(levels);
    const Bytes level = W("Уровень");
    for (size_t i = 0; i < levels; ++i) {
        Entry e;
        e.depth = i;
        e.caption = level + ' ' + decimal(static_cast<long long>(i + 1));
        e.note = note(rnd, 60);
        e.icon = static_cast<int32_t>(rnd.below(80));
        out.entries.push_back(std::move(e));
    }
    out.recordOrder.resize(levels);
    for (size_t i = 0; i < levels; ++i)
        out.recordOrder[i] = i;
    return out;
}

} // namespace qv::gen
