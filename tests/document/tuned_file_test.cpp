// Documents with a tuning: version 3.0 is version 2.5 followed by the tuning.

#include <gtest/gtest.h>

#include <optional>

#include "document/document_file.h"
#include "file_builders.h"
#include "support/tuning_files.h"

namespace tarrowin {
namespace {

using testing::justOnWhiteKeys;
using testing::tuningFile;

void putI32(std::vector<uint8_t>& b, int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

// The tuning part of a version 3.0 file, byte by byte.
std::vector<uint8_t> tuningBytes(int32_t method, const std::array<int32_t, kVoices>& tuned, const std::string& scale,
                                 const std::string& map, std::optional<int32_t> scaleSize = std::nullopt) {
    std::vector<uint8_t> b;
    putI32(b, method);
    for (int32_t t : tuned) putI32(b, t);
    putI32(b, scaleSize.value_or(static_cast<int32_t>(scale.size())));
    b.insert(b.end(), scale.begin(), scale.end());
    putI32(b, static_cast<int32_t>(map.size()));
    b.insert(b.end(), map.begin(), map.end());
    return b;
}

std::vector<uint8_t> version30(const CTarrowinDoc& untuned, const std::vector<uint8_t>& tuning) {
    std::vector<uint8_t> bytes = serializeDocument(untuned);
    bytes[2] = 0x40;
    bytes[3] = 0x40;  // 3.0f
    bytes.insert(bytes.end(), tuning.begin(), tuning.end());
    return bytes;
}

std::array<int32_t, kVoices> allTuned() {
    std::array<int32_t, kVoices> t;
    t.fill(1);
    return t;
}

TEST(TunedDocumentFile, IsVersion25FollowedByTheTuningAndReadsBack) {
    CTarrowinDoc doc = testing::documentWithEvents(2);
    const std::vector<uint8_t> untuned = serializeDocument(doc);
    doc.setTuning(justOnWhiteKeys());
    EXPECT_TRUE(doc.isModified());
    const std::vector<uint8_t> bytes = serializeDocument(doc);
    std::array<int32_t, kVoices> tuned = allTuned();
    tuned[9] = 0;
    EXPECT_EQ(bytes, version30(testing::documentWithEvents(2),
                               tuningBytes(1, tuned, tuningFile("ji-major.scl"), tuningFile("white-keys-d.kbm"))));
    ASSERT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x00, 0x00, 0x40, 0x40}));

    CTarrowinDoc read;
    ASSERT_TRUE(parseDocument(bytes, read).ok);
    EXPECT_EQ(read.tuning(), doc.tuning());
    EXPECT_EQ(read.composition(), doc.composition());
    EXPECT_FALSE(read.isModified());
    EXPECT_EQ(lastReadFileVersion(), 3.0f);

    // Back to the default tuning: version 2.5, byte for byte as before.
    read.setTuning(TuningSettings{});
    EXPECT_EQ(serializeDocument(read), untuned);
}

TEST(TunedDocumentFile, RefusesABrokenTuningAndKeepsTheOpenDocument) {
    const CTarrowinDoc base = testing::documentWithEvents(1);
    const std::string scale = tuningFile("19edo.scl");
    std::array<int32_t, kVoices> twoSwitch = allTuned();
    twoSwitch[4] = 2;
    std::array<int32_t, kVoices> oneOff = allTuned();
    oneOff[0] = 0;
    std::string broken = scale;
    broken.replace(broken.find("63.15789"), 8, "63,15789");
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {tuningBytes(2, allTuned(), scale, ""), "The tuning's method is 2"},
        {tuningBytes(0, twoSwitch, scale, ""), "Voice 5's Tuned switch is 2"},
        {tuningBytes(0, allTuned(), scale, "", -5), "The tuning's scale is -5 bytes long"},
        {tuningBytes(0, allTuned(), scale, "", 100000), "The file ends early"},
        {tuningBytes(0, allTuned(), "name\n1\n2/1 \xE4\n", ""), "The tuning's scale is not UTF-8 text"},
        {tuningBytes(0, allTuned(), broken, ""), "The tuning's scale, line 6: degree 1 is neither a ratio nor cents"},
        {tuningBytes(0, oneOff, "", "12\n"), "a keyboard map but no scale"},
        {tuningBytes(0, allTuned(), "", ""), "holds the default tuning"},
        {[&] {
             auto b = tuningBytes(0, oneOff, "", "");
             b.push_back(0);
             return b;
         }(),
         "goes on for 1 bytes after the tuning"},
    };
    for (const auto& [tail, message] : cases) {
        SCOPED_TRACE(message);
        CTarrowinDoc doc = testing::documentWithEvents(3);
        const auto before = serializeDocument(doc);
        const FileResult r = parseDocument(version30(base, tail), doc);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(message), std::string::npos) << r.message;
        EXPECT_EQ(serializeDocument(doc), before);
    }
    // Equal temperament with a voice left untuned is a tuning of its own.
    CTarrowinDoc doc;
    ASSERT_TRUE(parseDocument(version30(base, tuningBytes(0, oneOff, "", "")), doc).ok);
    EXPECT_FALSE(doc.tuning().tuned[0]);
}

}  // namespace
}  // namespace tarrowin
