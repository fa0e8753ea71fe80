// The undo history's memory: 100 "Change Selected Events" on a 1000-event composition (the
// dynamic of two voices in every event) and 500 field edits, each made through the
// document controller as the window makes it. Prints the bytes the history holds beside
// what whole copies of the document would take, the heap the steps really took (glibc's
// count, which includes the allocator's own overhead), and the time a step costs.
#include <malloc.h>

#include <chrono>
#include <cstdio>

#include "app/document_controller.h"
#include "engine/tables.h"
#include "tools/multiple_voice_editor.h"

using namespace tarrowin;
using namespace tarrowin::app;

namespace {

class SilentPrompter : public Prompter {
   public:
    void message(const std::string& text, const std::string&, MessageIcon) override {
        std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
    }
    bool ask(const std::string&, const std::string&) override { return true; }
};

CTarrowinDoc thousandEvents() {
    CTarrowinDoc doc;
    doc.OnNewDocument();
    for (int v = 0; v < 4; ++v) doc.setEnabled(v, true);
    for (int i = 0; i < kMaxEvents; ++i) {
        doc.setStartCounter(i * 16);
        doc.setEndCounter(i * 16 + 64);
        doc.setTempo(60 + i % 200);
        doc.addCurrentSettingsAsEvent();
    }
    return doc;
}

double megabytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

size_t heapInUse() { return mallinfo2().uordblks; }

void report(const char* what, const DocumentHistory& h, size_t wholeCopy, size_t heap,
            std::chrono::duration<double> took) {
    std::printf(
        "%s\n  %zu steps: %zu bytes (%.2f MB, %.0f bytes/step); heap grew %.2f MB; whole copies would take %.1f MB;"
        " %.3f ms/step\n",
        what, h.count(), h.bytes(), megabytes(h.bytes()), double(h.bytes()) / double(h.count()), megabytes(heap),
        megabytes(wholeCopy * h.count()), 1000.0 * took.count() / double(h.count()));
}

}  // namespace

int main() {
    using Clock = std::chrono::steady_clock;
    SilentPrompter prompter;
    DocumentController document;
    document.adopt(thousandEvents(), QString());
    const size_t wholeCopy = sizeof(Settings) * (kMaxEvents + 1);

    MultipleVoiceEditor editor;
    editor.open(document.doc());
    editor.voices[2] = editor.voices[3] = true;
    editor.setFlag(ChangeFlag::Dynamic, true);
    editor.selectAllEvents();
    size_t heap = heapInUse();
    auto start = Clock::now();
    for (int i = 0; i < 100; ++i) {
        editor.newDynamic = i % kDynamics;
        const bool done =
            document.change(QStringLiteral("Change Selected Events"), DocumentController::Scope::Composition,
                            [&](CTarrowinDoc& d) { return editor.changeSelectedEvents(d, prompter).done; });
        if (!done) return 1;
    }
    report("100 Change Selected Events on 1000 events (dynamic of voices 3 and 4):", document.history(), wholeCopy,
           heapInUse() - heap, Clock::now() - start);

    DocumentController fields;
    heap = heapInUse();
    start = Clock::now();
    for (int i = 0; i < 500; ++i) {
        const int v = i % kVoices;
        fields.edit(QStringLiteral("Param1 voice %1").arg(v + 1), DocumentController::Scope::Current,
                    [v, i](CTarrowinDoc& d) { d.setParam1(v, 3 + i); });
    }
    report("500 field edits (Param1 of each voice in turn):", fields.history(), sizeof(Settings), heapInUse() - heap,
           Clock::now() - start);
    return 0;
}
