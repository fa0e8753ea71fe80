#include "tuning_files.h"

#include <cstdint>
#include <vector>

#include "replacing_file.h"

namespace tarrowin {

namespace {

template <class Read>
TuningFile readTuningFile(const std::string& path, Read read) {
    const auto fail = [&](const std::string& why) { return TuningFile{{}, "Cannot read \"" + path + "\": " + why}; };
    std::vector<uint8_t> bytes;
    if (const std::string why = readRegularFile(path, kMaxTuningTextBytes, bytes); !why.empty()) return fail(why);
    std::string text = tuningTextAsUtf8(std::string(bytes.begin(), bytes.end()));
    if (const auto checked = read(text); !checked.ok()) return fail(checked.error);
    return {std::move(text), {}};
}

}  // namespace

TuningFile readScaleFile(const std::string& path) { return readTuningFile(path, readScalaScale); }
TuningFile readKeyboardMapFile(const std::string& path) { return readTuningFile(path, readKeyboardMap); }

}  // namespace tarrowin
