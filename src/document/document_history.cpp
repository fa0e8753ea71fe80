#include "document_history.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace tarrowin {

// Patches copy the object representation of Settings, which is plain data.
static_assert(std::is_trivially_copyable_v<Settings>);

namespace {

constexpr size_t kWord = 4;
static_assert(sizeof(Settings) % kWord == 0);

const uint8_t* bytesOf(const Settings& s) { return reinterpret_cast<const uint8_t*>(&s); }
uint8_t* bytesOf(Settings& s) { return reinterpret_cast<uint8_t*>(&s); }

bool wordDiffers(const uint8_t* a, const uint8_t* b, size_t at) { return std::memcmp(a + at, b + at, kWord) != 0; }

}  // namespace

DocumentDelta::Patch DocumentDelta::Patch::between(const Settings& before, const Settings& after) {
    Patch p;
    if (before == after) return p;
    const uint8_t* b = bytesOf(before);
    const uint8_t* a = bytesOf(after);
    // Runs of differing words. Padding bytes may differ without a field differing; a run
    // over them costs a few bytes and restores them harmlessly.
    size_t at = 0;
    while (at < sizeof(Settings)) {
        if (!wordDiffers(b, a, at)) {
            at += kWord;
            continue;
        }
        size_t end = at + kWord;
        while (end < sizeof(Settings) && wordDiffers(b, a, end)) end += kWord;
        p.runs.push_back(static_cast<uint32_t>(at));
        p.runs.push_back(static_cast<uint32_t>(end - at));
        at = end;
    }
    for (size_t r = 0; r < p.runs.size(); r += 2) p.data.insert(p.data.end(), b + p.runs[r], b + p.runs[r] + p.runs[r + 1]);
    for (size_t r = 0; r < p.runs.size(); r += 2) p.data.insert(p.data.end(), a + p.runs[r], a + p.runs[r] + p.runs[r + 1]);
    p.runs.shrink_to_fit();
    p.data.shrink_to_fit();
    return p;
}

void DocumentDelta::Patch::apply(Settings& target, bool forward) const {
    // The new bytes follow all the old ones.
    size_t from = forward ? data.size() / 2 : 0;
    uint8_t* t = bytesOf(target);
    for (size_t r = 0; r < runs.size(); r += 2) {
        std::memcpy(t + runs[r], data.data() + from, runs[r + 1]);
        from += runs[r + 1];
    }
}

DocumentDelta::Before DocumentDelta::capture(const CTarrowinDoc& doc, bool withComposition) {
    Before b;
    b.current = doc.current();
    if (withComposition) b.composition = doc.composition();
    b.tuning = doc.sharedTuning();
    b.modified = doc.isModified();
    return b;
}

DocumentDelta DocumentDelta::between(const Before& before, const CTarrowinDoc& after) {
    DocumentDelta d;
    d.current_ = Patch::between(before.current, after.current());
    if (before.tuning && before.tuning != after.sharedTuning() && !(*before.tuning == after.tuning())) {
        d.tuningBefore_ = before.tuning;
        d.tuningAfter_ = after.sharedTuning();
    }
    if (!before.composition) return d;

    const auto& was = before.composition->events();
    const auto& now = after.composition().events();
    const size_t nb = was.size(), na = now.size();
    if (nb == na) {
        for (size_t i = 0; i < nb; ++i) {
            if (was[i] == now[i]) continue;
            d.events_.push_back({static_cast<int>(i), Patch::between(was[i], now[i])});
        }
        return d;
    }
    // A different count: keep the common head and tail, record the middle whole.
    size_t head = 0;
    while (head < std::min(nb, na) && was[head] == now[head]) ++head;
    size_t tail = 0;
    while (tail < std::min(nb, na) - head && was[nb - 1 - tail] == now[na - 1 - tail]) ++tail;
    d.replacedRange_ = true;
    d.first_ = static_cast<int>(head);
    d.removed_.assign(was.begin() + static_cast<ptrdiff_t>(head), was.end() - static_cast<ptrdiff_t>(tail));
    d.inserted_.assign(now.begin() + static_cast<ptrdiff_t>(head), now.end() - static_cast<ptrdiff_t>(tail));
    return d;
}

bool DocumentDelta::empty() const { return current_.empty() && events_.empty() && !replacedRange_ && !changesTuning(); }

void DocumentDelta::apply(CTarrowinDoc& doc, bool forward) const {
    current_.apply(doc.mutableCurrent(), forward);
    if (changesTuning()) doc.restoreTuning(forward ? tuningAfter_ : tuningBefore_);
    Composition& c = doc.mutableComposition();
    for (const EventPatch& e : events_) e.patch.apply(c.event(e.index), forward);
    if (replacedRange_) {
        const auto& gone = forward ? removed_ : inserted_;
        const auto& come = forward ? inserted_ : removed_;
        c.replaceRange(first_, static_cast<int>(gone.size()), come);
    }
}

bool DocumentDelta::canMerge(const DocumentDelta& next) const {
    return events_.empty() && !replacedRange_ && !changesTuning() && next.events_.empty() && !next.replacedRange_ &&
           !next.changesTuning() &&
           !current_.empty() && current_.runs == next.current_.runs;
}

void DocumentDelta::merge(const DocumentDelta& next) {
    // Same runs: keep the old bytes of this step and take the new bytes of the next one.
    const size_t half = current_.data.size() / 2;
    std::copy(next.current_.data.begin() + static_cast<ptrdiff_t>(half), next.current_.data.end(),
              current_.data.begin() + static_cast<ptrdiff_t>(half));
}

size_t DocumentDelta::bytes() const {
    size_t n = sizeof(*this) + current_.bytes();
    for (const EventPatch& e : events_) n += sizeof(EventPatch) + e.patch.bytes();
    n += (removed_.capacity() + inserted_.capacity()) * sizeof(CompositionEvent);
    for (const auto* t : {tuningBefore_.get(), tuningAfter_.get()}) {
        if (t != nullptr) n += sizeof(TuningSettings) + t->tuning.scaleText().size() + t->tuning.mapText().size();
    }
    return n;
}

void DocumentHistory::push(std::string name, DocumentDelta delta, int mergeKey) {
    if (delta.empty()) return;
    // What could be redone is gone, and with it a saved state that lay there.
    while (steps_.size() > index_) {
        bytes_ -= steps_.back().bytes;
        steps_.pop_back();
    }
    if (clean_ && *clean_ > index_) clean_.reset();

    if (mergeKey != 0 && index_ > 0 && !isClean()) {
        Step& top = steps_.back();
        if (top.mergeKey == mergeKey && top.delta.canMerge(delta)) {
            top.delta.merge(delta);
            return;
        }
    }
    const size_t size = delta.bytes() + name.capacity();
    steps_.push_back({std::move(name), std::move(delta), mergeKey, size});
    bytes_ += size;
    ++index_;
    while (steps_.size() > maxSteps_ || (bytes_ > maxBytes_ && steps_.size() > 1)) dropOldest();
}

void DocumentHistory::dropOldest() {
    bytes_ -= steps_.front().bytes;
    steps_.pop_front();
    --index_;
    // The saved state was before the dropped step: it can no longer be reached.
    if (clean_) {
        if (*clean_ == 0)
            clean_.reset();
        else
            --*clean_;
    }
}

std::string DocumentHistory::undoName() const { return canUndo() ? steps_[index_ - 1].name : std::string(); }
std::string DocumentHistory::redoName() const { return canRedo() ? steps_[index_].name : std::string(); }

bool DocumentHistory::undo(CTarrowinDoc& doc) {
    if (!canUndo()) return false;
    steps_[--index_].delta.undo(doc);
    doc.SetModifiedFlag(!isClean());
    return true;
}

bool DocumentHistory::redo(CTarrowinDoc& doc) {
    if (!canRedo()) return false;
    steps_[index_++].delta.redo(doc);
    doc.SetModifiedFlag(!isClean());
    return true;
}

void DocumentHistory::setClean() { clean_ = index_; }

void DocumentHistory::clear() {
    steps_.clear();
    index_ = 0;
    clean_ = 0;
    bytes_ = 0;
}

}  // namespace tarrowin
