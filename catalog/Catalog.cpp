#include "catalog/Catalog.h"

#include "catalog/Errors.h"
#include "catalog/StrToInt.h"

#include <cassert>
#include <utility>

namespace qv {

Bytes editorToRecord(std::string_view editorText)
{
    return replaceAll(editorText, kEditorLineBreak, kRecordLineBreak);
}

Bytes recordToEditor(std::string_view recordText)
{
    return replaceAll(recordText, kRecordLineBreak, kEditorLineBreak);
}

std::optional<Bytes> Catalog::noteForEditor(const Bytes &caption) const
{
    const std::optional<RecordView> r = records_.find(caption);
    if (!r)
        return std::nullopt;
    return recordToEditor(r->text);
}

void Catalog::storeNote(const Node *node, std::string_view editorText)
{
    Bytes text = editorToRecord(editorText);
    if (!records_.setText(node->caption(), text))
        records_.append(node->caption(), std::move(text), decimal(node->imageIndex()));
}

bool Catalog::setRecordText(const Node *node, Bytes recordText)
{
    return records_.setText(node->caption(), std::move(recordText));
}

void Catalog::joinIcons()
{
    // The records are looked up a batch of nodes ahead of the walk that
    // assigns the icons, so the lookups overlap.
    constexpr size_t kBatch = 256;
    std::string_view captions[kBatch];
    std::optional<RecordView> found[kBatch];
    size_t taken = 0, batch = 0;
    const Node *ahead = outline_.first();
    outline_.assignImages([&]([[maybe_unused]] const Node *n, int32_t &index) {
        if (taken == batch) {
            for (batch = 0; batch < kBatch && ahead; ++batch, ahead = flatNext(ahead))
                captions[batch] = ahead->caption();
            records_.findEach(captions, found, batch);
            taken = 0;
        }
        // The walk ahead goes the same way as this one.
        assert(captions[taken].data() == n->caption().data());
        const std::optional<RecordView> &r = found[taken++];
        if (!r)
            return false;
        if (r->icons.size() > kMaxNumberLine)
            throw EConvertError(Bytes(r->icons.substr(0, kMaxNumberLine + 1)));
        index = strToInt(r->icons);
        return true;
    });
}

Bytes Catalog::defaultCaption() const
{
    const Bytes prefix = W("Новый элемент ");
    for (size_t n = outline_.nodeCount();; ++n) {
        Bytes caption = prefix + decimal((long long)n);
        if (outline_.captionCount(caption) == 0 && records_.count(caption) == 0)
            return caption;
    }
}

Node *Catalog::addNewNode(Node *parent, size_t row)
{
    Bytes caption = defaultCaption();
    records_.append(caption, {}, "0");
    Node *n = outline_.insert(parent, row, std::move(caption));
    markChanged();
    return n;
}

Node *Catalog::createNode(Node *selected)
{
    if (selected)
        return addNewNode(selected->parent(), selected->row());
    return addNewNode(outline_.top(), outline_.rootCount());
}

Node *Catalog::createChild(Node *selected)
{
    if (!selected)
        return nullptr;
    return addNewNode(selected, selected->childCount());
}

void Catalog::deleteLeaf(Node *node)
{
    if (!node || node->hasChildren())
        return;
    records_.remove(node->caption());
    outline_.remove(node);
    markChanged();
}

bool Catalog::captionStorable(const Bytes &caption)
{
    if (!caption.empty() && (caption[0] == '\t' || caption[0] == ' '))
        return false;
    return caption.find_first_of(std::string_view("\r\n\0\x1a", 4)) == Bytes::npos;
}

Catalog::RenameResult Catalog::rename(Node *node, const Bytes &currentKey, const Bytes &text)
{
    RenameResult result;
    result.duplicateMessages = records_.count(text);
    if (result.duplicateMessages == 0 && !text.empty()) {
        // A node without a record may carry the caption too; sharing it would
        // make both nodes share one note. (An empty caption is refused
        // silently whatever carries it.)
        size_t others = outline_.captionCount(text) - (node->caption() == text ? 1 : 0);
        if (others > 0)
            result.duplicateMessages = 1;
    }
    if (!text.empty() && text != currentKey && result.duplicateMessages == 0) {
        if (!captionStorable(text)) {
            result.invalidCaption = true;
        } else {
            records_.rename(currentKey, text);
            outline_.setCaption(node, text);
            markChanged();
            result.renamed = true;
            return result;
        }
    }
    if (node->caption() != currentKey)
        outline_.setCaption(node, currentKey);
    return result;
}

bool Catalog::moveUp(Node *selected)
{
    if (!selected || selected->hasChildren())
        return false;
    Node *prev = flatPrev(selected);
    if (!prev)
        return false;
    outline_.move(selected, prev->parent(), prev->row());
    markChanged();
    return true;
}

bool Catalog::moveDown(Node *selected)
{
    if (!selected || selected->hasChildren())
        return false;
    Node *next = flatNext(selected);
    if (!next)
        return false; // the last node stays
    if (Node *target = flatNext(next))
        outline_.move(selected, target->parent(), target->row());
    else
        outline_.move(selected, outline_.top(), outline_.rootCount());
    markChanged();
    return true;
}

void Catalog::setIcon(Node *node, int32_t k)
{
    if (!node)
        return;
    outline_.setImages(node, k);
    markChanged();
    if (!records_.setIcons(node->caption(), decimal(k)))
        records_.append(node->caption(), {}, decimal(k));
}

bool Catalog::dragMove(Node *d, Node *t, const std::function<void(Node *)> &onDelete, Node **copy)
{
    Node *c = outline_.copyToAndRemove(d, t, onDelete);
    if (copy)
        *copy = c;
    return c != nullptr;
}

// Builds whose leak checker would report the memory let go at the end.
#if defined(__SANITIZE_ADDRESS__)
#define QV_LEAKS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_LEAKS_CHECKED 1
#endif
#endif

void Catalog::releaseWithoutFreeing()
{
#ifndef QV_LEAKS_CHECKED
    outline_.releaseWithoutFreeing();
    records_.releaseWithoutFreeing();
#endif
}

void Catalog::replaceWith(Catalog &other)
{
    outline_.exchange(other.outline_);
    records_.exchange(other.records_);
    std::swap(modified_, other.modified_);
}

void Catalog::clear()
{
    outline_.clear();
    records_.clear();
}

} // namespace qv
