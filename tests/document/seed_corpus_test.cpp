// The fuzzer's seed files are documents made by our own writer and by the byte-by-byte
// builders (and a tuned one). They are committed; this test keeps them identical to what the code makes now,
// so a change of the file layout shows up here. TARROWIN_WRITE_SEEDS=1 rewrites them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "document/document_file.h"
#include "file_builders.h"
#include "support/tuning_files.h"

namespace tarrowin {
namespace {

namespace fs = std::filesystem;
using namespace tarrowin::testing;

std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds() {
    CTarrowinDoc fresh;
    fresh.OnNewDocument();
    const CTarrowinDoc withEvents = documentWithEvents(2);
    const std::vector<Settings> entries = {distinctiveSettings(5), distinctiveSettings(6), distinctiveSettings(7)};
    CTarrowinDoc tuned = documentWithEvents(1);
    tuned.setTuning(justOnWhiteKeys());
    return {
        {"new.trw", serializeDocument(fresh)},
        {"events.trw", serializeDocument(withEvents)},
        {"version20.trw", encodeVersion2(withEvents.current(), 1, withEvents.composition().events(), false)},
        {"version10.trw", encodeVersion10(distinctiveSettings(3), 1, entries)},
        {"tuned.trw", serializeDocument(tuned)},
    };
}

TEST(SeedCorpus, CommittedSeedsAreWhatTheCodeMakesAndAllRead) {
    const fs::path dir = fs::path(TARROWIN_SOURCE_DIR) / "fuzz" / "corpus" / "document";
    const bool write = std::getenv("TARROWIN_WRITE_SEEDS") != nullptr;
    for (const auto& [name, bytes] : seeds()) {
        CTarrowinDoc doc;
        const FileResult r = parseDocument(bytes, doc);
        EXPECT_TRUE(r.ok) << name << ": " << r.message;
        if (write) {
            fs::create_directories(dir);
            std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                              static_cast<std::streamsize>(bytes.size()));
        }
        std::ifstream in(dir / name, std::ios::binary);
        ASSERT_TRUE(in) << (dir / name) << " is missing; run with TARROWIN_WRITE_SEEDS=1";
        const std::vector<uint8_t> committed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(committed, bytes) << name;
    }
}

}  // namespace
}  // namespace tarrowin
