// libFuzzer target for remote control's dispatch: one UDP packet (a message or a bundle) is
// read as the OSC server reads it, and each request goes through the rules and, when they
// allow it, its edit is made on a document in memory, as the window makes it. The first byte
// chooses the play state. Besides crashes and undefined behaviour it checks that every
// refusal is a short printable text that goes out as an OSC answer, and that every edit
// leaves a document that passes every rule and reads back.

#include <cstddef>
#include <cstdint>
#include <string>

#include "document/document_file.h"
#include "remote/osc_request.h"
#include "remote/remote_rules.h"

namespace {

using namespace tarrowin;
using namespace tarrowin::remote;

void checkAnswer(const std::string& message) {
    if (message.empty() || message.size() > 200) __builtin_trap();
    for (char c : message) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) __builtin_trap();
    }
    if (errorPacket(message).size() < message.size()) __builtin_trap();
}

CTarrowinDoc startDocument() {
    CTarrowinDoc d;
    d.OnNewDocument();
    d.setEndCounter(64);
    d.addCurrentSettingsAsEvent();
    d.setEnabled(1, false);
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t bits = data[0];
    const PlayState state{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0,
                          (bits & 8) != 0, (bits & 16) != 0, (bits & 32) != 0, (bits & 64) != 0};
    static const CTarrowinDoc start = startDocument();
    CTarrowinDoc doc = start;
    readPacket(data + 1, size - 1, [&](Reading reading) {
        if (const auto* refused = std::get_if<Refusal>(&reading)) {
            checkAnswer(refused->message);
            return;
        }
        const auto* request = std::get_if<Request>(&reading);
        if (request == nullptr) return;
        if (request->voice < -1 || request->voice >= kVoices) __builtin_trap();
        if (const auto why = refusal(*request, doc, state)) {
            checkAnswer(*why);
            return;
        }
        if (const auto edit = editFor(*request, doc)) {
            if (edit->name.empty()) __builtin_trap();
            edit->apply(doc);
            if (!validateDocument(doc).ok) __builtin_trap();
            CTarrowinDoc again;
            if (!parseDocument(serializeDocument(doc), again).ok) __builtin_trap();
        }
        statePacket(stateReport(doc, state, (bits & 64) != 0, 0, 0));
    });
    return 0;
}
