#pragma once
// Undo and redo of document changes. A change is recorded as what it changed, not as a
// copy of the document: the changed bytes of the current settings, the changed bytes of
// events that kept their place, and whole events only where events were added or removed.
// The history keeps a bounded number of such steps and knows which one was saved last.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document.h"

namespace tarrowin {

// What one change did to a document: both directions can be applied.
class DocumentDelta {
   public:
    // The state before a change: the current settings always, the composition only when the
    // change may touch it (copying a 1000-event composition for every field edit is waste).
    struct Before {
        Settings current;
        std::optional<Composition> composition;
        std::shared_ptr<const TuningSettings> tuning;  // shared: capturing it copies nothing
        bool modified = false;
    };
    static Before capture(const CTarrowinDoc& doc, bool withComposition);

    // What changed from `before` to the document as it is now.
    static DocumentDelta between(const Before& before, const CTarrowinDoc& after);

    bool empty() const;
    // Whether any event was added, removed or changed.
    bool changesComposition() const { return !events_.empty() || replacedRange_; }
    bool changesTuning() const { return tuningBefore_ != nullptr; }
    // Puts the document back as it was before the change, or forward to after it.
    void undo(CTarrowinDoc& doc) const { apply(doc, false); }
    void redo(CTarrowinDoc& doc) const { apply(doc, true); }

    // Two steps that changed exactly the same bytes of the current settings and nothing
    // else (consecutive moves of the tempo bar) can become one.
    bool canMerge(const DocumentDelta& next) const;
    // This step followed by `next`, as one step.
    void merge(const DocumentDelta& next);

    // The memory the step holds, for the history's bound.
    size_t bytes() const;

   private:
    // Byte runs that differ between two values of Settings: offsets and lengths, then the
    // old bytes of every run followed by the new ones.
    struct Patch {
        std::vector<uint32_t> runs;  // offset, length, offset, length, ...
        std::vector<uint8_t> data;
        bool empty() const { return runs.empty(); }
        size_t bytes() const { return runs.capacity() * sizeof(uint32_t) + data.capacity(); }
        static Patch between(const Settings& before, const Settings& after);
        void apply(Settings& target, bool forward) const;
    };
    struct EventPatch {
        int index;
        Patch patch;
    };

    void apply(CTarrowinDoc& doc, bool forward) const;

    Patch current_;
    // Events that kept their count: patches of the events that differ.
    std::vector<EventPatch> events_;
    // Events whose count changed: from `first` on, `removed` became `inserted`.
    bool replacedRange_ = false;
    int first_ = 0;
    std::vector<CompositionEvent> removed_;
    std::vector<CompositionEvent> inserted_;
    // The tuning before and after, when it changed.
    std::shared_ptr<const TuningSettings> tuningBefore_;
    std::shared_ptr<const TuningSettings> tuningAfter_;
};

// The steps that can be undone and redone, oldest first, at most maxSteps of them and at
// most maxBytes of recorded changes; the oldest go first when a bound is passed.
class DocumentHistory {
   public:
    static constexpr size_t kMaxSteps = 500;
    static constexpr size_t kMaxBytes = size_t{256} << 20;

    explicit DocumentHistory(size_t maxSteps = kMaxSteps, size_t maxBytes = kMaxBytes)
        : maxSteps_(maxSteps), maxBytes_(maxBytes) {}

    // Records a change that has been made. Steps that could be redone are dropped. With a
    // merge key, a step follows the previous one with the same key into one step, unless
    // the previous one is the saved state. An empty change records nothing.
    void push(std::string name, DocumentDelta delta, int mergeKey = 0);

    bool canUndo() const { return index_ > 0; }
    bool canRedo() const { return index_ < steps_.size(); }
    // The name of the step Undo (Redo) would take back (do again); empty when none.
    std::string undoName() const;
    std::string redoName() const;
    // Each sets the modified flag: clear when the document is back in its saved state.
    bool undo(CTarrowinDoc& doc);
    bool redo(CTarrowinDoc& doc);

    // The document was saved (or opened) in the state the history stands at.
    void setClean();
    bool isClean() const { return clean_ && *clean_ == index_; }
    // No steps; the saved state is the current one (a document just opened or made).
    void clear();
    // The current state is not on disk (a recovered document): no step leads back to a
    // saved state until the next save.
    void forgetSavedState() { clean_.reset(); }

    size_t count() const { return steps_.size(); }
    size_t bytes() const { return bytes_; }

   private:
    struct Step {
        std::string name;
        DocumentDelta delta;
        int mergeKey;
        size_t bytes;
    };
    void dropOldest();

    size_t maxSteps_;
    size_t maxBytes_;
    std::deque<Step> steps_;
    size_t index_ = 0;              // steps_[0 .. index_) are done
    std::optional<size_t> clean_ = 0;  // the index of the saved state; none once it is gone
    size_t bytes_ = 0;
};

}  // namespace tarrowin
