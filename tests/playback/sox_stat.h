#pragma once
// A WAV file measured by sox, a reader we did not write.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarrowin::testing {

struct SoxStat {
    double seconds = -1;
    double rms = -1;  // RMS amplitude, 1.0 = full scale
};

inline SoxStat soxStat(const std::string& wav) {
    SoxStat st;
    FILE* p = popen(("sox '" + wav + "' -n stat 2>&1").c_str(), "r");
    if (p == nullptr) return st;
    char line[256];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        const std::string s = line;
        const double value = std::atof(s.substr(s.find(':') + 1).c_str());
        if (s.rfind("Length (seconds):", 0) == 0) st.seconds = value;
        if (s.rfind("RMS     amplitude:", 0) == 0) st.rms = value;
    }
    pclose(p);
    return st;
}

}  // namespace tarrowin::testing
