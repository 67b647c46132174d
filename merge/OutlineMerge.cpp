#include "merge/OutlineMerge.h"

#include "merge/Diff3.h"
#include "merge/LineMerge.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qv::merge {

namespace {

constexpr uint32_t kNone = UINT32_MAX;
constexpr uint32_t kTop = UINT32_MAX - 1; // the parent of a root
constexpr int B = 0, O = 1, T = 2;

// Keys to node indices: open addressing over (index + 1, hash bits), the
// keys themselves held by the caller.
class KeyIndex {
public:
    explicit KeyIndex(const std::vector<std::string_view> &keys) : keys_(keys) {}
    void reserve(size_t n)
    {
        size_t size = 16;
        while (size < 2 * n)
            size <<= 1;
        slots_.assign(size, {});
    }
    // Adds keys_[index] unless its key is there; false when it was.
    bool add(uint32_t index)
    {
        if (2 * (count_ + 1) > slots_.size())
            grow();
        const std::string_view key = keys_[index];
        const size_t h = std::hash<std::string_view>()(key);
        for (size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            Slot &slot = slots_[i];
            if (slot.index1 == 0) {
                slot = {index + 1, uint32_t(h >> 32)};
                ++count_;
                return true;
            }
            if (slot.tag == uint32_t(h >> 32) && keys_[slot.index1 - 1] == key)
                return false;
        }
    }
    uint32_t find(std::string_view key) const
    {
        if (slots_.empty())
            return kNone;
        const size_t h = std::hash<std::string_view>()(key);
        for (size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            const Slot &slot = slots_[i];
            if (slot.index1 == 0)
                return kNone;
            if (slot.tag == uint32_t(h >> 32) && keys_[slot.index1 - 1] == key)
                return slot.index1 - 1;
        }
    }

private:
    struct Slot {
        uint32_t index1 = 0;
        uint32_t tag = 0;
    };
    void grow()
    {
        std::vector<Slot> old;
        old.swap(slots_);
        reserve(std::max<size_t>(count_ * 2, 8));
        count_ = 0;
        for (const Slot &slot : old)
            if (slot.index1)
                add(slot.index1 - 1);
    }
    const std::vector<std::string_view> &keys_;
    std::vector<Slot> slots_;
    size_t count_ = 0;
};

// One version flattened: its nodes in flat order with their parents, keys
// and note records, and its records with their identities.
struct Version {
    const Catalog *catalog = nullptr;
    std::vector<const Node *> node;
    std::vector<uint32_t> parent; // flat index, kNone for a root
    std::vector<uint32_t> end;    // one past the node's branch
    // The caption, or for its k-th repetition "caption NUL k".
    std::vector<std::string_view> key;
    std::vector<uint32_t> note; // the row of the node's record, or kNone
    std::vector<uint32_t> id;   // the node's identity in the merge
    KeyIndex byKey{key};
    // Rows no node shows: their key (the section, or "section NUL r k" for
    // its k-th repetition); empty for a node's record.
    std::vector<std::string_view> strayKey;
    std::deque<std::string> owned;

    size_t size() const { return node.size(); }
    std::optional<RecordView> noteAt(uint32_t i) const
    {
        if (note[i] == kNone)
            return std::nullopt;
        return catalog->records().at(note[i]);
    }
    template <class F>
    void forChildren(uint32_t p, F &&f) const // p: flat index or kTop
    {
        for (uint32_t c = p == kTop ? 0 : p + 1; c < (p == kTop ? size() : end[p]); c = end[c])
            f(c);
    }
};

void flatten(const Catalog &catalog, Version &v)
{
    v.catalog = &catalog;
    const size_t n = catalog.outline().nodeCount();
    v.node.reserve(n);
    v.parent.reserve(n);
    v.end.reserve(n);
    v.key.reserve(n);
    v.byKey.reserve(n);
    std::unordered_map<std::string_view, uint32_t> repeats;
    std::vector<uint32_t> open;
    uint32_t i = 0;
    for (const Node *node = catalog.outline().first(); node; node = flatNext(node), ++i) {
        while (!open.empty() && v.node[open.back()] != node->parent()) {
            v.end[open.back()] = i;
            open.pop_back();
        }
        v.node.push_back(node);
        v.parent.push_back(open.empty() ? kNone : open.back());
        v.end.push_back(0);
        open.push_back(i);
        v.key.push_back(node->caption());
        if (!v.byKey.add(i)) {
            const std::string_view caption = node->caption();
            v.owned.push_back(std::string(caption) + '\0' + decimal(++repeats[caption]));
            v.key.back() = v.owned.back();
            v.byKey.add(i);
        }
    }
    for (const uint32_t o : open)
        v.end[o] = i;
    v.note.assign(i, kNone);
    const RecordTable &records = catalog.records();
    v.strayKey.assign(records.size(), {});
    std::unordered_map<std::string_view, uint32_t> strays;
    for (uint32_t row = 0; row < records.size(); ++row) {
        const std::string_view section = records.at(row).section;
        const uint32_t node = v.byKey.find(section);
        uint32_t repeat = 0;
        if (node != kNone) {
            if (v.note[node] == kNone) {
                v.note[node] = row;
                continue;
            }
            repeat = ++strays[section]; // after the node's own record
        } else if (const auto [it, fresh] = strays.try_emplace(section, 0); !fresh) {
            repeat = ++it->second;
        }
        if (repeat)
            v.owned.push_back(std::string(section) + '\0' + 'r' + decimal(repeat));
        else
            v.owned.emplace_back(section);
        v.strayKey[row] = v.owned.back();
    }
}

bool sameNote(const std::optional<RecordView> &a, const std::optional<RecordView> &b)
{
    return a.has_value() == b.has_value() && (!a || (a->text == b->text && a->icons == b->icons));
}

// A record's fields in a merge: views of a version's record, or of a text
// the merge made (kept by the merger).
struct Fields {
    bool present = false;
    std::string_view text;
    std::string_view icons;
};

class Merger {
public:
    Merger(const Catalog &base, const Catalog &ours, const Catalog &theirs, const Side &ourSide,
           const Side &theirSide)
        : sides_{nullptr, &ourSide, &theirSide}, rank_(compareSides(ourSide, theirSide))
    {
        flatten(base, v_[B]);
        flatten(ours, v_[O]);
        flatten(theirs, v_[T]);
    }

    Report run(Catalog &out);

private:
    struct Item {
        uint32_t at[3] = {kNone, kNone, kNone};
        bool in(int s) const { return at[s] != kNone; }
    };

    // ---- identities ----
    void identify();
    void matchRenames(int s, uint32_t sp, uint32_t bp, std::vector<uint32_t> &groupKept);
    std::optional<RecordView> noteOf(uint32_t id, int s) const { return v_[s].noteAt(items_[id].at[s]); }
    uint32_t parentOf(uint32_t id, int s) const
    {
        const uint32_t p = v_[s].parent[items_[id].at[s]];
        return p == kNone ? kTop : v_[s].id[p];
    }
    std::string_view captionOf(uint32_t id, int s) const { return v_[s].node[items_[id].at[s]]->caption(); }

    // ---- choices ----
    // The side whose version is taken when the two differ: the later one;
    // between sides as old as each other, the greater version.
    int later(std::string_view oursValue, std::string_view theirsValue) const
    {
        if (rank_ != 0)
            return rank_ > 0 ? O : T;
        return oursValue > theirsValue ? O : T;
    }
    std::string_view parentName(uint32_t p, int s) const
    {
        return p == kTop ? std::string_view() : captionOf(p, items_[p].in(s) ? s : B);
    }
    void decideNodes();
    void fixCycles();
    Fields mergeFields(const std::optional<RecordView> (&f)[3], bool inB, bool inO, bool inT,
                       uint32_t conflictId);
    void uniqueCaptions();

    // ---- order ----
    // The merged order of one list of identities present in the three
    // versions (a parent's children, the record table).
    void order(const std::vector<uint32_t> (&lists)[3], const std::function<bool(uint32_t)> &belongs,
               const std::vector<uint32_t> &members, const std::function<std::string_view(uint32_t)> &name,
               const std::function<void(uint32_t, int)> &moved, std::vector<uint32_t> &result);
    void childList(int s, uint32_t p, std::vector<uint32_t> &list) const;
    void build(Catalog &out);

    void conflict(Conflict::Kind kind, uint32_t id, std::string_view other)
    {
        pendingConflicts_.push_back({kind, id, Bytes(other)});
    }
    void changed(int s) { ++(s == O ? report_.oursChanges : report_.theirsChanges); }

    Version v_[3];
    const Side *sides_[3];
    int rank_;
    std::vector<Item> items_; // node identities; the base's first, by flat index
    size_t nodeIds_ = 0;      // node identities; record identities of strays follow
    std::vector<Item> strays_;

    std::vector<uint8_t> present_;
    std::vector<uint32_t> parent_;
    std::vector<int8_t> captionFrom_;
    std::vector<Bytes> renamed_; // a caption given " (N)", else empty
    std::vector<Fields> notes_;
    std::vector<Fields> strayFields_;
    std::deque<Bytes> mergedTexts_;
    std::vector<int32_t> scratch_, pairScratch_, count_, chosen_; // per identity, reset after each use
    std::vector<uint32_t> kidsStart_, kids_;

    struct Pending {
        Conflict::Kind kind;
        uint32_t id;
        Bytes other;
    };
    std::vector<Pending> pendingConflicts_;
    Report report_;

    std::string_view caption(uint32_t id) const
    {
        return !renamed_[id].empty() ? std::string_view(renamed_[id]) : captionOf(id, captionFrom_[id]);
    }
};

// ---- identities ----

void Merger::identify()
{
    const Version &base = v_[B];
    items_.resize(base.size());
    v_[B].id.resize(base.size());
    for (uint32_t i = 0; i < base.size(); ++i) {
        items_[i].at[B] = i;
        v_[B].id[i] = i;
    }
    std::unordered_map<std::string_view, uint32_t> created;
    std::vector<uint32_t> kept;
    for (const int s : {O, T}) {
        Version &v = v_[s];
        v.id.assign(v.size(), kNone);
        for (uint32_t i = 0; i < v.size(); ++i)
            if (const uint32_t f = base.byKey.find(v.key[i]); f != kNone) {
                v.id[i] = f;
                items_[f].at[s] = i;
            }
        // Renames, parents before their children.
        matchRenames(s, kTop, kTop, kept);
        for (uint32_t i = 0; i < v.size(); ++i)
            if (v.id[i] != kNone && v.id[i] < base.size() && v.end[i] > i + 1)
                matchRenames(s, i, v.id[i], kept);
        for (uint32_t i = 0; i < v.size(); ++i) {
            if (v.id[i] != kNone)
                continue;
            if (s == T)
                if (const auto f = created.find(v.key[i]); f != created.end()) {
                    Item &item = items_[f->second];
                    if (!item.in(T) && sameNote(v_[O].noteAt(item.at[O]), v.noteAt(i))) {
                        item.at[T] = i;
                        v.id[i] = f->second;
                        continue;
                    }
                }
            v.id[i] = uint32_t(items_.size());
            items_.emplace_back().at[s] = i;
            if (s == O)
                created.emplace(v.key[i], v.id[i]);
        }
    }
    nodeIds_ = items_.size();
    // Records no node shows, known by their keys.
    std::unordered_map<std::string_view, uint32_t> strayIds;
    for (const int s : {B, O, T})
        for (uint32_t row = 0; row < v_[s].strayKey.size(); ++row) {
            const std::string_view key = v_[s].strayKey[row];
            if (key.data() == nullptr)
                continue;
            const auto [it, fresh] = strayIds.try_emplace(key, uint32_t(strays_.size()));
            if (fresh)
                strays_.emplace_back();
            strays_[it->second].at[s] = row;
        }
}

// The nodes under sp (side s) whose captions the base does not have and
// the base's nodes under bp whose captions side s does not have, paired
// when they stand after as many siblings both keep under that parent and
// hold the same note.
void Merger::matchRenames(int s, uint32_t sp, uint32_t bp, std::vector<uint32_t> &scratch)
{
    Version &v = v_[s];
    const Version &base = v_[B];
    struct Place {
        uint32_t kept;
        size_t hash;
        uint32_t index;
        bool operator<(const Place &o) const
        {
            return kept != o.kept ? kept < o.kept : hash != o.hash ? hash < o.hash : index < o.index;
        }
    };
    const auto noteHash = [](const std::optional<RecordView> &n) {
        return n ? std::hash<std::string_view>()(n->text) ^ std::hash<std::string_view>()(n->icons) * 31 : 0;
    };
    std::vector<Place> appeared;
    uint32_t kept = 0;
    v.forChildren(sp, [&](uint32_t c) {
        if (v.id[c] == kNone)
            appeared.push_back({kept, noteHash(v.noteAt(c)), c});
        else if (v.id[c] < base.size() && (base.parent[v.id[c]] == kNone ? kTop : base.parent[v.id[c]]) == bp)
            ++kept;
    });
    if (appeared.empty())
        return;
    std::vector<Place> vanished;
    kept = 0;
    base.forChildren(bp, [&](uint32_t c) {
        const uint32_t at = items_[c].at[s];
        if (at == kNone)
            vanished.push_back({kept, noteHash(base.noteAt(c)), c});
        else if ((v.parent[at] == kNone ? kTop : v.parent[at]) == sp)
            ++kept;
    });
    std::sort(vanished.begin(), vanished.end());
    scratch.assign(vanished.size(), 0); // 1: taken
    for (const Place &a : appeared) {
        auto it = std::lower_bound(vanished.begin(), vanished.end(), Place{a.kept, a.hash, 0});
        for (; it != vanished.end() && it->kept == a.kept && it->hash == a.hash; ++it) {
            const size_t k = size_t(it - vanished.begin());
            if (scratch[k] || !sameNote(base.noteAt(it->index), v.noteAt(a.index)))
                continue;
            scratch[k] = 1;
            v.id[a.index] = it->index;
            items_[it->index].at[s] = a.index;
            break;
        }
    }
}

// ---- choices ----

Fields Merger::mergeFields(const std::optional<RecordView> (&f)[3], bool inB, bool inO, bool inT,
                           uint32_t conflictId)
{
    using Value = std::optional<std::string_view>;
    const auto field = [&](int s, bool text) -> Value {
        if (!f[s])
            return std::nullopt;
        return text ? f[s]->text : f[s]->icons;
    };
    Fields result;
    for (const bool text : {true, false}) {
        Value value;
        if (!(inO && inT)) {
            value = field(inO ? O : inT ? T : B, text);
        } else {
            const Value b = inB ? field(B, text) : std::nullopt, o = field(O, text), t = field(T, text);
            if (o == t || b == t) {
                value = o;
            } else if (b == o) {
                value = t;
            } else if (text) {
                const TextMerge m
                    = mergeText(b.value_or(""), o.value_or(""), t.value_or(""), *sides_[O], *sides_[T]);
                if (m.conflicts)
                    conflict(Conflict::Kind::Note, conflictId, {});
                result.text = mergedTexts_.emplace_back(m.text);
                result.present = true;
                continue;
            } else {
                const int from = later(o.value_or(""), t.value_or(""));
                value = from == O ? o : t;
                conflict(Conflict::Kind::Icon, conflictId, (from == O ? t : o).value_or(""));
            }
        }
        if (value) {
            (text ? result.text : result.icons) = *value;
            result.present = true;
        }
    }
    return result;
}

void Merger::decideNodes()
{
    const size_t n = nodeIds_;
    present_.assign(n, 0);
    parent_.assign(n, kTop);
    captionFrom_.assign(n, B);
    renamed_.assign(n, {});
    notes_.assign(n, {});
    for (uint32_t id = 0; id < n; ++id) {
        const Item &it = items_[id];
        const bool inB = it.in(B), inO = it.in(O), inT = it.in(T);
        // The caption and the parent: a scalar each.
        const auto pickCaption = [&]() -> int {
            if (!(inO && inT))
                return inO ? O : inT ? T : B;
            const std::string_view o = captionOf(id, O), t = captionOf(id, T);
            if (o == t || (inB && captionOf(id, B) == t))
                return O;
            if (inB && captionOf(id, B) == o)
                return T;
            const int from = later(o, t);
            conflict(Conflict::Kind::Caption, id, from == O ? t : o);
            return from;
        };
        captionFrom_[id] = int8_t(pickCaption());
        if (!(inO && inT)) {
            parent_[id] = parentOf(id, inO ? O : inT ? T : B);
        } else {
            const uint32_t o = parentOf(id, O), t = parentOf(id, T);
            const uint32_t b = inB ? parentOf(id, B) : kNone;
            if (o == t || b == t)
                parent_[id] = o;
            else if (b == o)
                parent_[id] = t;
            else {
                const int from = later(parentName(o, O), parentName(t, T));
                parent_[id] = from == O ? o : t;
                conflict(Conflict::Kind::Place, id, parentName(from == O ? t : o, from == O ? T : O));
            }
        }
        const std::optional<RecordView> f[3]
            = {inB ? noteOf(id, B) : std::nullopt, inO ? noteOf(id, O) : std::nullopt,
               inT ? noteOf(id, T) : std::nullopt};
        // What each side changed.
        bool noteChanged[3] = {false, false, false}, edited[3] = {false, false, false};
        for (const int s : {O, T}) {
            if (!it.in(s)) {
                if (inB)
                    changed(s); // deleted
                continue;
            }
            if (!inB) {
                changed(s); // created
                continue;
            }
            const bool renamed = captionOf(id, s) != captionOf(id, B);
            const bool moved = parentOf(id, s) != parentOf(id, B);
            noteChanged[s] = !sameNote(f[s], f[B]);
            report_.oursChanges += s == O ? renamed + moved + noteChanged[s] : 0;
            report_.theirsChanges += s == T ? renamed + moved + noteChanged[s] : 0;
            edited[s] = renamed || moved || noteChanged[s];
        }
        if (inB && inO && inT && !noteChanged[O] && !noteChanged[T])
            notes_[id] = {f[B].has_value(), f[B] ? f[B]->text : "", f[B] ? f[B]->icons : ""};
        else
            notes_[id] = mergeFields(f, inB, inO, inT, id);
        present_[id] = !inB || (inO && inT) || (inO && edited[O]) || (inT && edited[T]);
    }
    fixCycles();
    // A node that stays keeps every node above it.
    for (uint32_t id = 0; id < n; ++id)
        if (present_[id] == 1)
            for (uint32_t p = parent_[id]; p != kTop && !present_[p]; p = parent_[p])
                present_[p] = 2;
}

// A node moved on one side under a node the other side moved under it:
// the one moved last in caption order goes back where the base had it.
void Merger::fixCycles()
{
    std::vector<uint8_t> state(nodeIds_, 0); // 1 on the path walked, 2 known to reach the top
    std::vector<uint32_t> path;
    for (uint32_t start = 0; start < nodeIds_; ++start) {
        while (state[start] == 0) {
            path.clear();
            uint32_t p = start;
            while (p != kTop && state[p] == 0) {
                state[p] = 1;
                path.push_back(p);
                p = parent_[p];
            }
            if (p == kTop || state[p] == 2) {
                for (const uint32_t q : path)
                    state[q] = 2;
                break;
            }
            // A cycle from p on: one of its moved nodes goes back.
            const auto first = std::find(path.begin(), path.end(), p);
            uint32_t back = kNone;
            for (auto q = first; q != path.end(); ++q) {
                const bool moved = !items_[*q].in(B) || parent_[*q] != parentOf(*q, B);
                if (moved && (back == kNone || caption(*q) < caption(back)))
                    back = *q;
            }
            if (back == kNone)
                back = p; // (a base without cycles leaves none unmoved)
            const uint32_t from = parent_[back];
            parent_[back] = items_[back].in(B) ? parentOf(back, B) : kTop;
            conflict(Conflict::Kind::Place, back, caption(from));
            for (const uint32_t q : path)
                state[q] = 0;
        }
    }
}

void Merger::uniqueCaptions()
{
    // Only a caption the base did not give its node can clash: with
    // another such one, or with a node that kept its base caption.
    const auto keeps = [&](uint32_t id) { return items_[id].in(B) && captionOf(id, B) == caption(id); };
    const auto holder = [&](std::string_view name) {
        const uint32_t f = v_[B].byKey.find(name);
        return f != kNone && present_[f] && keeps(f) ? f : kNone;
    };
    std::unordered_map<std::string_view, std::vector<uint32_t>> changed;
    for (uint32_t id = 0; id < nodeIds_; ++id)
        if (present_[id] && !keeps(id))
            changed[caption(id)].push_back(id);
    std::vector<std::vector<uint32_t>> clashes;
    for (auto &[name, ids] : changed) {
        if (const uint32_t h = holder(name); h != kNone)
            ids.insert(ids.begin(), h);
        if (ids.size() > 1)
            clashes.push_back(ids);
    }
    // In each clash the first keeps the caption: the one that had it in
    // the base, else by the side that gave it (earlier first), then by note.
    const auto before = [&](uint32_t a, uint32_t b) {
        if (keeps(a) != keeps(b))
            return keeps(a);
        const int sa = captionFrom_[a], sb = captionFrom_[b];
        if (sa != sb && sa != B && sb != B) {
            const int c = compareSides(*sides_[sa], *sides_[sb]);
            if (c != 0)
                return c < 0;
        }
        if (notes_[a].text != notes_[b].text)
            return notes_[a].text < notes_[b].text;
        if (notes_[a].icons != notes_[b].icons)
            return notes_[a].icons < notes_[b].icons;
        const std::string_view ba = items_[a].in(B) ? captionOf(a, B) : "",
                               bb = items_[b].in(B) ? captionOf(b, B) : "";
        return ba < bb;
    };
    std::sort(clashes.begin(), clashes.end(),
              [&](const auto &x, const auto &y) { return caption(x[0]) < caption(y[0]); });
    std::unordered_set<Bytes> given;
    std::vector<std::pair<uint32_t, Bytes>> names;
    for (std::vector<uint32_t> &group : clashes) {
        std::sort(group.begin(), group.end(), before);
        for (size_t k = 1; k < group.size(); ++k) {
            const Bytes base(caption(group[k]));
            Bytes candidate;
            for (long long n = 2;; ++n) {
                candidate = base + " (" + decimal(n) + ")";
                if (holder(candidate) == kNone && !changed.count(candidate) && !given.count(candidate))
                    break;
            }
            given.insert(candidate);
            names.emplace_back(group[k], candidate);
            conflict(Conflict::Kind::Created, group[k], base);
        }
    }
    for (auto &[id, name] : names)
        renamed_[id] = std::move(name);
}

// ---- order ----

void Merger::childList(int s, uint32_t p, std::vector<uint32_t> &list) const
{
    list.clear();
    const uint32_t at = p == kTop ? kTop : items_[p].at[s];
    if (at == kNone)
        return;
    const Version &v = v_[s];
    v.forChildren(at, [&](uint32_t c) { list.push_back(v.id[c]); });
}

void Merger::order(const std::vector<uint32_t> (&lists)[3], const std::function<bool(uint32_t)> &belongs,
                   const std::vector<uint32_t> &members,
                   const std::function<std::string_view(uint32_t)> &name,
                   const std::function<void(uint32_t, int)> &moved, std::vector<uint32_t> &result)
{
    result.clear();
    const std::vector<uint32_t> &b = lists[B], &o = lists[O], &t = lists[T];
    const Matching mo = matchUnique(b, o, scratch_), mt = matchUnique(b, t, scratch_);
    // scratch_ marks: bit 0 kept in place by ours, bit 1 by theirs; the
    // count of entries and the entry kept are found in the passes below.
    std::vector<uint32_t> touched;
    const auto mark = [&](uint32_t id, int32_t bits) {
        if (scratch_[id] < 0) {
            scratch_[id] = 0;
            touched.push_back(id);
        }
        scratch_[id] |= bits;
    };
    for (size_t k = 0; k < b.size(); ++k) {
        mark(b[k], 0);
        if (mo[k] >= 0)
            mark(b[k], 1);
        if (mt[k] >= 0)
            mark(b[k], 2);
    }
    for (const uint32_t id : o)
        mark(id, 0);
    for (const uint32_t id : t)
        mark(id, 0);
    for (size_t k = 0; k < o.size(); ++k)
        if (!(scratch_[o[k]] & 1))
            moved(o[k], O);
    for (size_t k = 0; k < t.size(); ++k)
        if (!(scratch_[t[k]] & 2))
            moved(t[k], T);

    struct Entry {
        uint32_t id;
        int tag; // B: both sides have it there
    };
    std::vector<Entry> entries;
    const auto same = [](const std::vector<uint32_t> &x, size_t x0, size_t x1, const std::vector<uint32_t> &y,
                         size_t y0, size_t y1) {
        return x1 - x0 == y1 - y0
            && std::equal(x.begin() + long(x0), x.begin() + long(x1), y.begin() + long(y0));
    };
    const auto take = [&](const std::vector<uint32_t> &l, size_t from, size_t to, int tag) {
        for (size_t i = from; i < to; ++i)
            entries.push_back({l[i], tag});
    };
    diff3(mo, mt, o.size(), t.size(), [&](const Chunk &c) {
        if (c.stable)
            entries.push_back({b[c.b0], B});
        else if (same(b, c.b0, c.b1, o, c.o0, c.o1))
            take(t, c.t0, c.t1, T);
        else if (same(b, c.b0, c.b1, t, c.t0, c.t1))
            take(o, c.o0, c.o1, O);
        else if (same(o, c.o0, c.o1, t, c.t0, c.t1))
            take(o, c.o0, c.o1, B);
        else {
            int first = rank_ < 0 ? O : T;
            if (rank_ == 0) {
                // Sides as old as each other: by the names in the stretches.
                const auto less = [&](const std::vector<uint32_t> &x, size_t x0, size_t x1,
                                      const std::vector<uint32_t> &y, size_t y0, size_t y1) {
                    for (; x0 < x1 && y0 < y1; ++x0, ++y0)
                        if (name(x[x0]) != name(y[y0]))
                            return name(x[x0]) < name(y[y0]);
                    return x0 == x1 && y0 < y1;
                };
                first = less(t, c.t0, c.t1, o, c.o0, c.o1) ? T : O;
            }
            // Both stretches, the earlier side's first, those in both once
            // and in their common order.
            const std::vector<uint32_t> &fl = first == O ? o : t, &sl = first == O ? t : o;
            const size_t f0 = first == O ? c.o0 : c.t0, f1 = first == O ? c.o1 : c.t1;
            const size_t s0 = first == O ? c.t0 : c.o0, s1 = first == O ? c.t1 : c.o1;
            const int second = first == O ? T : O;
            const std::vector<uint32_t> fc(fl.begin() + long(f0), fl.begin() + long(f1));
            const std::vector<uint32_t> sc(sl.begin() + long(s0), sl.begin() + long(s1));
            const Matching common = matchUnique(fc, sc, pairScratch_);
            size_t i = 0, j = 0;
            for (size_t k = 0; k < fc.size(); ++k) {
                if (common[k] < 0)
                    continue;
                take(fc, i, k, first);
                take(sc, j, size_t(common[k]), second);
                entries.push_back({fc[k], B});
                i = k + 1, j = size_t(common[k]) + 1;
            }
            take(fc, i, fc.size(), first);
            take(sc, j, sc.size(), second);
        }
    });
    // An identity met twice (moved on both sides, or on one side next to
    // the other's changes) keeps one place: where both have it, else where
    // the side that moved it put it, else the later side's.
    const auto preferred = [&](uint32_t id) {
        const int32_t keptBy = scratch_[id];
        if ((keptBy & 1) && !(keptBy & 2))
            return T;
        if ((keptBy & 2) && !(keptBy & 1))
            return O;
        return rank_ > 0 ? O : rank_ < 0 ? T : -1;
    };
    // count_: entries per identity; chosen_: the entry kept of one met twice.
    bool twice = false;
    for (const Entry &e : entries)
        twice |= ++count_[e.id] > 1;
    if (twice)
        for (size_t k = 0; k < entries.size(); ++k) {
            const Entry &e = entries[k];
            if (count_[e.id] < 2)
                continue;
            if (chosen_[e.id] < 0) {
                chosen_[e.id] = int32_t(k);
                continue;
            }
            const int pref = preferred(e.id);
            const auto score = [&](int tag) { return tag == B ? 2 : tag == pref ? 1 : 0; };
            if (score(e.tag) > score(entries[size_t(chosen_[e.id])].tag))
                chosen_[e.id] = int32_t(k);
        }
    std::vector<uint8_t> keep(entries.size(), 1);
    for (size_t k = 0; k < entries.size(); ++k) {
        const uint32_t id = entries[k].id;
        if (chosen_[id] >= 0 && size_t(chosen_[id]) != k)
            keep[k] = 0;
    }
    for (const Entry &e : entries)
        count_[e.id] = 0, chosen_[e.id] = -1;
    for (const uint32_t id : touched)
        scratch_[id] = -1;
    touched.clear();
    // scratch_: the place in result.
    for (size_t k = 0; k < entries.size(); ++k)
        if (keep[k] && belongs(entries[k].id)) {
            scratch_[entries[k].id] = int32_t(result.size());
            touched.push_back(entries[k].id);
            result.push_back(entries[k].id);
        }
    // Members no side's stretch placed (a node kept against its deletion,
    // or put back into its base place) go after their predecessor in the
    // base, else in the version that has them.
    struct Late {
        int64_t after; // place in result, -1 for the front
        size_t seq;
        uint32_t id;
    };
    std::vector<Late> late;
    size_t missing = 0;
    for (const uint32_t id : members)
        if (scratch_[id] < 0)
            ++missing;
    if (missing) {
        std::unordered_set<uint32_t> placed;
        for (const int s : {B, O, T}) {
            int64_t after = -1;
            for (const uint32_t id : lists[s]) {
                if (scratch_[id] >= 0)
                    after = scratch_[id];
                else if (belongs(id) && placed.insert(id).second)
                    late.push_back({after, late.size(), id});
            }
        }
        std::vector<uint32_t> rest;
        for (const uint32_t id : members)
            if (scratch_[id] < 0 && !placed.count(id))
                rest.push_back(id);
        std::sort(rest.begin(), rest.end(), [&](uint32_t x, uint32_t y) { return name(x) < name(y); });
        for (const uint32_t id : rest)
            late.push_back({int64_t(result.size()) - 1, late.size(), id});
        std::stable_sort(late.begin(), late.end(),
                         [](const Late &x, const Late &y) { return x.after < y.after; });
        std::vector<uint32_t> merged;
        merged.reserve(result.size() + late.size());
        size_t l = 0;
        for (; l < late.size() && late[l].after < 0; ++l)
            merged.push_back(late[l].id);
        for (size_t k = 0; k < result.size(); ++k) {
            merged.push_back(result[k]);
            for (; l < late.size() && late[l].after == int64_t(k); ++l)
                merged.push_back(late[l].id);
        }
        result.swap(merged);
    }
    for (const uint32_t id : touched)
        scratch_[id] = -1;
}

void Merger::build(Catalog &out)
{
    // The merged children of every parent, the top's last.
    const size_t n = nodeIds_;
    std::vector<uint32_t> count(n + 1, 0);
    const auto slot = [&](uint32_t p) { return p == kTop ? n : p; };
    for (uint32_t id = 0; id < n; ++id)
        if (present_[id])
            ++count[slot(parent_[id])];
    std::vector<uint32_t> start(n + 2, 0);
    for (size_t i = 0; i <= n; ++i)
        start[i + 1] = start[i] + count[i];
    std::vector<uint32_t> members(start[n + 1]);
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t id = 0; id < n; ++id)
            if (present_[id])
                members[fill[slot(parent_[id])]++] = id;
    }
    const auto nameOf = [&](uint32_t id) { return caption(id); };
    std::vector<uint32_t> lists[3], sorted, ids;
    kids_.clear();
    kidsStart_.assign(n + 2, 0);
    std::vector<uint32_t> kidsEnd(n + 1, 0);
    for (size_t p = 0; p <= n; ++p) {
        kidsStart_[p] = uint32_t(kids_.size());
        const uint32_t parent = p == n ? kTop : uint32_t(p);
        if (p < n && !present_[p]) {
            kidsEnd[p] = kidsStart_[p];
            continue;
        }
        for (const int s : {B, O, T})
            childList(s, parent, lists[s]);
        ids.assign(members.begin() + start[p], members.begin() + start[p + 1]);
        if (lists[O] == lists[B] && lists[T] == lists[B] && ids.size() == lists[B].size()
            && std::all_of(ids.begin(), ids.end(), [&](uint32_t id) { return parent_[id] == parent; })) {
            // Nobody changed these siblings: the base's order (every member
            // is in it, having this parent in all three).
            kids_.insert(kids_.end(), lists[B].begin(), lists[B].end());
            kidsEnd[p] = uint32_t(kids_.size());
            continue;
        }
        order(
            lists, [&](uint32_t id) { return present_[id] && parent_[id] == parent; }, ids, nameOf,
            [&](uint32_t id, int s) {
                // Moved among the same siblings on side s.
                if (items_[id].in(B) && parentOf(id, B) == parent && items_[id].in(s)
                    && parentOf(id, s) == parent)
                    changed(s);
            },
            sorted);
        kids_.insert(kids_.end(), sorted.begin(), sorted.end());
        kidsEnd[p] = uint32_t(kids_.size());
    }
    // The outline, built detached and handed over whole.
    auto top = std::make_unique<Node>();
    size_t captionBytes = 0, nodes = 0;
    std::vector<std::pair<uint32_t, Node *>> work{{uint32_t(n), top.get()}};
    std::vector<uint32_t> flatPos(n, kNone);
    while (!work.empty()) {
        const auto [p, node] = work.back();
        work.pop_back();
        for (uint32_t k = kidsStart_[p]; k < kidsEnd[p]; ++k) {
            const uint32_t id = kids_[k];
            const std::string_view c = caption(id);
            captionBytes += c.size();
            ++nodes;
            work.emplace_back(id, node->appendChild(std::make_unique<Node>(Bytes(c))));
        }
    }
    out.outline().replaceAll(std::move(top), nodes, captionBytes);
    {
        uint32_t i = 0;
        // Flat positions for the report's order: walk the kids the same way.
        std::vector<std::pair<uint32_t, uint32_t>> stack{{uint32_t(n), kidsStart_[n]}};
        while (!stack.empty()) {
            auto &[p, k] = stack.back();
            if (k == kidsEnd[p]) {
                stack.pop_back();
                continue;
            }
            const uint32_t id = kids_[k++];
            flatPos[id] = i++;
            stack.emplace_back(id, kidsStart_[id]);
        }
    }

    // The records: each node's own, and those no node shows.
    strayFields_.assign(strays_.size(), {});
    std::vector<uint8_t> strayPresent(strays_.size(), 0);
    for (uint32_t k = 0; k < strays_.size(); ++k) {
        const Item &it = strays_[k];
        std::optional<RecordView> f[3];
        for (const int s : {B, O, T})
            if (it.in(s))
                f[s] = v_[s].catalog->records().at(it.at[s]);
        const bool inB = it.in(B), inO = it.in(O), inT = it.in(T);
        bool edited[3] = {false, false, false};
        for (const int s : {O, T}) {
            edited[s] = it.in(s) && (!inB || !sameNote(f[s], f[B]));
            if (edited[s] || (inB && !it.in(s)))
                changed(s);
        }
        strayFields_[k] = mergeFields(f, inB, inO, inT, kNone);
        strayPresent[k] = !inB || (inO && inT) || (inO && edited[O]) || (inT && edited[T]);
    }
    for (const int s : {B, O, T}) {
        lists[s].clear();
        const Version &v = v_[s];
        for (uint32_t row = 0; row < v.strayKey.size(); ++row)
            lists[s].push_back(kNone);
        for (uint32_t i = 0; i < v.size(); ++i)
            if (v.note[i] != kNone)
                lists[s][v.note[i]] = v.id[i];
    }
    for (uint32_t k = 0; k < strays_.size(); ++k)
        for (const int s : {B, O, T})
            if (strays_[k].in(s))
                lists[s][strays_[k].at[s]] = uint32_t(n + k);
    const auto recordPresent = [&](uint32_t id) {
        return id < n ? present_[id] && notes_[id].present : strayPresent[id - n] != 0;
    };
    ids.clear();
    for (uint32_t id = 0; id < n + strays_.size(); ++id)
        if (recordPresent(id))
            ids.push_back(id);
    const auto recordName = [&](uint32_t id) {
        if (id < n)
            return caption(id);
        const Item &it = strays_[id - n];
        for (const int s : {B, O, T})
            if (it.in(s))
                return v_[s].strayKey[it.at[s]];
        return std::string_view();
    };
    order(
        lists, recordPresent, ids, recordName, [](uint32_t, int) {}, sorted);
    RecordTable &records = out.records();
    records.reserve(sorted.size());
    for (const uint32_t id : sorted) {
        if (id < n) {
            records.appendUnindexed(caption(id), notes_[id].text, notes_[id].icons);
        } else {
            const Item &it = strays_[id - n];
            const int s = it.in(O) ? O : it.in(T) ? T : B;
            records.appendUnindexed(v_[s].catalog->records().at(it.at[s]).section, strayFields_[id - n].text,
                                    strayFields_[id - n].icons);
        }
    }
    records.indexAppended();
    out.joinIcons();

    // The conflicts in the merged outline's order, each with its path.
    std::stable_sort(
        pendingConflicts_.begin(), pendingConflicts_.end(), [&](const Pending &a, const Pending &b) {
            const uint32_t pa = a.id < n ? flatPos[a.id] : kNone, pb = b.id < n ? flatPos[b.id] : kNone;
            return pa != pb ? pa < pb : int(a.kind) < int(b.kind);
        });
    for (Pending &p : pendingConflicts_) {
        if (p.id >= n || !present_[p.id])
            continue;
        Conflict c{p.kind, {}, std::move(p.other)};
        for (uint32_t q = p.id; q != kTop; q = parent_[q])
            c.path.emplace_back(caption(q));
        std::reverse(c.path.begin(), c.path.end());
        report_.conflicts.push_back(std::move(c));
    }
}

Report Merger::run(Catalog &out)
{
    identify();
    scratch_.assign(nodeIds_ + strays_.size(), -1);
    pairScratch_.assign(scratch_.size(), -1);
    count_.assign(scratch_.size(), 0);
    chosen_.assign(scratch_.size(), -1);
    decideNodes();
    uniqueCaptions();
    build(out);
    return std::move(report_);
}

void copyCatalog(const Catalog &from, Catalog &to)
{
    auto top = std::make_unique<Node>();
    for (size_t i = 0; i < from.outline().rootCount(); ++i)
        top->appendChild(Outline::copyBranch(from.outline().root(i)));
    to.outline().replaceAll(std::move(top), from.outline().nodeCount());
    to.records().reserve(from.records().size());
    for (size_t i = 0; i < from.records().size(); ++i) {
        const RecordView r = from.records().at(i);
        to.records().append(r.section, r.text, r.icons);
    }
}

} // namespace

bool sameCatalog(const Catalog &a, const Catalog &b)
{
    if (a.outline().nodeCount() != b.outline().nodeCount() || a.records().size() != b.records().size())
        return false;
    for (const Node *x = a.outline().first(), *y = b.outline().first(); x; x = flatNext(x), y = flatNext(y)) {
        if (x->caption() != y->caption() || x->childCount() != y->childCount()
            || x->imageIndex() != y->imageIndex())
            return false;
    }
    for (size_t i = 0; i < a.records().size(); ++i) {
        const RecordView x = a.records().at(i), y = b.records().at(i);
        if (x.section != y.section || x.text != y.text || x.icons != y.icons)
            return false;
    }
    return true;
}

Report mergeCatalogs(const Catalog &base, const Catalog &ours, const Catalog &theirs, const Side &ourSide,
                     const Side &theirSide, Catalog &out)
{
    // One side unchanged, or both alike: the other version as it is.
    const Catalog *whole = sameCatalog(ours, theirs) || sameCatalog(base, theirs) ? &ours
        : sameCatalog(base, ours)                                                 ? &theirs
                                                                                  : nullptr;
    if (!whole)
        return Merger(base, ours, theirs, ourSide, theirSide).run(out);
    Catalog counted;
    Report report = Merger(base, ours, theirs, ourSide, theirSide).run(counted);
    report.conflicts.clear();
    copyCatalog(*whole, out);
    return report;
}

} // namespace qv::merge
