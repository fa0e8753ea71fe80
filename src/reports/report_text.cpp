#include "report_text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tarrowin::reports {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, again);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

bool modulatesEvery(const VoiceSettings& voice) { return voice.modulate == 1 && voice.modulateMode == 0; }
bool modulatesRandomly(const VoiceSettings& voice) { return voice.modulate == 1 && voice.modulateMode == 1; }

}  // namespace tarrowin::reports
