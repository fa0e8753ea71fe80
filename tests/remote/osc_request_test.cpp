// Reading OSC packets into requests: every message and its type tags, what is refused and
// why, what is ignored, bundles, and bytes that are not OSC.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "osc_test_support.h"
#include "remote/osc_request.h"

namespace tarrowin::remote {
namespace {

using testing::bundle;
using testing::packet;
using Args = std::function<void(lo_message)>;

std::vector<Reading> readAll(const std::vector<uint8_t>& bytes) {
    std::vector<Reading> all;
    readPacket(bytes.data(), bytes.size(), [&](Reading r) { all.push_back(std::move(r)); });
    return all;
}

Reading readOne(const std::vector<uint8_t>& bytes) {
    const auto all = readAll(bytes);
    return all.empty() ? Reading{} : all.front();
}

Args i32(int32_t v) {
    return [v](lo_message m) { lo_message_add_int32(m, v); };
}
Args f32(float v) {
    return [v](lo_message m) { lo_message_add_float(m, v); };
}
Args text(std::string s) {
    return [s](lo_message m) { lo_message_add_string(m, s.c_str()); };
}

Request voiceSetting(int voice, VoiceSetting s, int64_t value) { return {RequestKind::VoiceSetting, voice, s, value}; }

struct Case {
    const char* path;
    Args args;
    Reading expected;
};

TEST(OscRequest, ReadsEveryMessageAndRefusesWrongShapes) {
    const auto ignored = Reading{};
    const std::vector<Case> cases = {
        {"/tarrowin/play", {}, Request{RequestKind::Play}},
        {"/tarrowin/play", f32(1), Request{RequestKind::Play}},
        {"/tarrowin/play", f32(0), ignored},  // a button's release
        {"/tarrowin/stop", i32(1), Request{RequestKind::Stop}},
        {"/tarrowin/stop", text("now"), Refusal{"/tarrowin/stop takes no argument, or one number"}},
        {"/tarrowin/state", {}, Request{RequestKind::State}},
        {"/tarrowin/mode", text("composition"), Request{RequestKind::Mode, -1, VoiceSetting::Param1, 1}},
        {"/tarrowin/mode", text("current"), Request{RequestKind::Mode, -1, VoiceSetting::Param1, 0}},
        {"/tarrowin/mode", text("loud"), Refusal{"/tarrowin/mode takes current or composition, not \"loud\""}},
        {"/tarrowin/mode", i32(1), Refusal{"/tarrowin/mode takes current or composition"}},
        {"/tarrowin/tempo", i32(120), Request{RequestKind::Tempo, -1, VoiceSetting::Param1, 120}},
        {"/tarrowin/tempo", [](lo_message m) { lo_message_add_int64(m, 90); },
         Request{RequestKind::Tempo, -1, VoiceSetting::Param1, 90}},
        {"/tarrowin/tempo", f32(121), Request{RequestKind::Tempo, -1, VoiceSetting::Param1, 121}},
        {"/tarrowin/tempo", [](lo_message m) { lo_message_add_double(m, -3.0); },
         Request{RequestKind::Tempo, -1, VoiceSetting::Param1, -3}},
        {"/tarrowin/tempo", f32(120.5f), Refusal{"/tarrowin/tempo takes one whole number"}},
        {"/tarrowin/tempo", f32(1e30f), Refusal{"/tarrowin/tempo takes one whole number"}},
        {"/tarrowin/tempo", text("120"), Refusal{"/tarrowin/tempo takes one whole number"}},
        {"/tarrowin/tempo", {}, Refusal{"/tarrowin/tempo takes one whole number"}},
        {"/tarrowin/tempo", [](lo_message m) { lo_message_add_int32(m, 1), lo_message_add_int32(m, 2); },
         Refusal{"/tarrowin/tempo takes one whole number"}},
        {"/tarrowin/counter/start", i32(64), Request{RequestKind::StartCounter, -1, VoiceSetting::Param1, 64}},
        {"/tarrowin/counter/end", i32(128), Request{RequestKind::EndCounter, -1, VoiceSetting::Param1, 128}},
        {"/tarrowin/voice/3/on", [](lo_message m) { lo_message_add_true(m); },
         Request{RequestKind::VoiceOn, 2, VoiceSetting::Param1, 1}},
        {"/tarrowin/voice/16/on", [](lo_message m) { lo_message_add_false(m); },
         Request{RequestKind::VoiceOn, 15, VoiceSetting::Param1, 0}},
        {"/tarrowin/voice/1/param1", i32(7), voiceSetting(0, VoiceSetting::Param1, 7)},
        {"/tarrowin/voice/2/param2", i32(7), voiceSetting(1, VoiceSetting::Param2, 7)},
        {"/tarrowin/voice/3/offset", i32(-7), voiceSetting(2, VoiceSetting::Offset, -7)},
        {"/tarrowin/voice/4/octaves", i32(2), voiceSetting(3, VoiceSetting::Octaves, 2)},
        {"/tarrowin/voice/5/note", i32(60), voiceSetting(4, VoiceSetting::Note, 60)},
        {"/tarrowin/voice/6/scale", i32(13), voiceSetting(5, VoiceSetting::Scale, 13)},
        {"/tarrowin/voice/7/notevalue", i32(4), voiceSetting(6, VoiceSetting::NoteValue, 4)},
        {"/tarrowin/voice/8/dynamic", i32(5), voiceSetting(7, VoiceSetting::Dynamic, 5)},
        {"/tarrowin/voice/8/dynamic", text("ff"), Refusal{"/tarrowin/voice/8/dynamic takes one whole number"}},
        {"/tarrowin/voice/17/on", i32(1), Refusal{"There is no voice \"17\": the voices are 1 to 16"}},
        {"/tarrowin/voice/0/on", i32(1), Refusal{"There is no voice \"0\": the voices are 1 to 16"}},
        {"/tarrowin/voice/03/on", i32(1), Refusal{"There is no voice \"03\": the voices are 1 to 16"}},
        {"/tarrowin/voice/3/volume", i32(1), Refusal{"Unknown message \"/tarrowin/voice/3/volume\""}},
        {"/tarrowin/voice/3/on/now", i32(1), Refusal{"Unknown message \"/tarrowin/voice/3/on/now\""}},
        {"/tarrowin/tempo/up", {}, Refusal{"Unknown message \"/tarrowin/tempo/up\""}},
        {"/tarrowin", {}, Refusal{"Unknown message \"/tarrowin\""}},
        {"/tarrowin/\x01\x7f", {}, Refusal{"Unknown message \"/tarrowin/??\""}},
        {"/tarrowinx/play", {}, ignored},  // another program's
        {"/1/fader1", f32(0.5f), ignored},
    };
    for (const Case& c : cases) EXPECT_EQ(readOne(packet(c.path, c.args)), c.expected) << c.path;
}

TEST(OscRequest, QuotesAHugeTextShortly) {
    const Reading r = readOne(packet("/tarrowin/mode", text(std::string(100000, 'x'))));
    ASSERT_TRUE(std::holds_alternative<Refusal>(r));
    EXPECT_EQ(std::get<Refusal>(r).message,
              "/tarrowin/mode takes current or composition, not \"" + std::string(40, 'x') + "...\"");
    const Reading path = readOne(packet("/tarrowin/" + std::string(5000, 'y')));
    EXPECT_LT(std::get<Refusal>(path).message.size(), 80u);
}

TEST(OscRequest, ReadsABundleInOrderAndStopsAtABrokenElement) {
    const auto tempo = packet("/tarrowin/tempo", i32(100));
    const auto play = packet("/tarrowin/play");
    const auto all = readAll(bundle({tempo, bundle({play}), packet("/other")}));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(std::get<Request>(all[0]).kind, RequestKind::Tempo);
    EXPECT_EQ(std::get<Request>(all[1]).kind, RequestKind::Play);

    auto broken = bundle({tempo, play});
    broken[16 + 4 + tempo.size() + 3] = 0xff;  // the second element's length runs past the end
    EXPECT_EQ(readAll(broken).size(), 1u);

    auto deep = play;
    for (int i = 0; i < 9; ++i) deep = bundle({deep});
    EXPECT_TRUE(readAll(deep).empty());
}

TEST(OscRequest, BytesThatAreNotAWholeMessageReadNothing) {
    const auto whole = packet("/tarrowin/voice/3/param1", i32(77));
    for (size_t n = 0; n < whole.size(); ++n) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
        EXPECT_TRUE(readAll(cut).empty()) << n << " bytes";
    }
    auto badTypes = whole;
    badTypes[whole.size() - 8 + 1] = 'b';  // ",i" claims a blob in place of the integer
    EXPECT_TRUE(readAll(badTypes).empty());
}

TEST(OscRequest, AnswersAreOscMessages) {
    using testing::decode;
    const auto error = decode(errorPacket("Please enter an integer between 20 and 340."));
    EXPECT_EQ(error.path, "/tarrowin/error");
    EXPECT_EQ(error.types, "s");
    EXPECT_EQ(error.args, "Please enter an integer between 20 and 340.");
    const auto state = decode(statePacket({true, true, 1234, 96}));
    EXPECT_EQ(state.path, "/tarrowin/state");
    EXPECT_EQ(state.types, "isii");
    EXPECT_EQ(state.args, "1 composition 1234 96");
}

}  // namespace
}  // namespace tarrowin::remote
