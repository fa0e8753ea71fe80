// libFuzzer target for the Scala readers. The first byte chooses the reader (even: the
// scale, odd: the keyboard map), the rest is the text. Besides crashes and undefined
// behaviour it checks: a refusal names its line (or the end of the file); an accepted
// text makes a tuning whose every key has a finite pitch, and that tuning survives a
// document file and dump and load as JSON.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/document_file.h"
#include "document_json.h"

namespace {

const std::string kEqual12 = "equal\n12\n100.\n200.\n300.\n400.\n500.\n600.\n700.\n800.\n900.\n1000.\n1100.\n2/1\n";

bool namesItsPlace(const std::string& message) {
    return message.rfind("line ", 0) == 0 || message.rfind("the file ", 0) == 0;
}

void checkTuning(const tarrowin::Tuning& tuning) {
    using namespace tarrowin;
    for (int k = 0; k < kMidiKeys; ++k) {
        if (!std::isfinite(tuning.key(k).pitch)) __builtin_trap();
    }
    TuningSettings settings;
    settings.tuning = tuning;
    CTarrowinDoc doc;
    doc.OnNewDocument();
    doc.setTuning(settings);
    CTarrowinDoc read;
    if (!parseDocument(serializeDocument(doc), read).ok || !(read.tuning() == doc.tuning())) __builtin_trap();
    CTarrowinDoc loaded;
    if (!cli::documentFromJsonText(cli::documentToJson(doc).dump(2), loaded).ok) __builtin_trap();
    if (!(loaded.tuning() == doc.tuning())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarrowin;
    if (size == 0) return 0;
    // Document files and JSON hold UTF-8; the window and the command line convert a file
    // to it before it becomes a tuning.
    const std::string text = tuningTextAsUtf8(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    if (data[0] % 2 == 0) {
        const TuningRead<ScalaScale> scale = readScalaScale(text);
        if (!scale.ok()) {
            if (!namesItsPlace(scale.error)) __builtin_trap();
            return 0;
        }
        const TuningRead<Tuning> tuning = Tuning::fromText(text);
        if (!tuning.ok()) __builtin_trap();
        checkTuning(*tuning.value);
    } else {
        const TuningRead<KeyboardMap> map = readKeyboardMap(text);
        if (!map.ok()) {
            if (!namesItsPlace(map.error)) __builtin_trap();
            return 0;
        }
        const TuningRead<Tuning> tuning = Tuning::fromText(kEqual12, text);
        if (!tuning.ok()) __builtin_trap();
        checkTuning(*tuning.value);
    }
    return 0;
}
