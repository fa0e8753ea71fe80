#pragma once
// The OSC messages Tarrowin takes, read from the bytes of one UDP packet (a message or a
// bundle of them), and the answers it sends back. Reading checks only the shape of a
// message (its address and type tags); whether a value is allowed now is for the rules
// (remote_rules.h), which the window and the command line apply alike.
//
//   /tarrowin/play, /tarrowin/stop       no argument, or one number: 0 is a button's release
//                                        and is ignored
//   /tarrowin/state                      answered with /tarrowin/state i s i i
//   /tarrowin/mode s                     current | composition
//   /tarrowin/tempo i
//   /tarrowin/counter/start i, /tarrowin/counter/end i
//   /tarrowin/voice/<1..16>/on i         0 or 1
//   /tarrowin/voice/<1..16>/param1 i     and param2, offset, octaves, note, scale, notevalue, dynamic
//
// A whole number may come as i, h, f or d (a fader sends floats), or as T/F. Messages outside
// /tarrowin/ are not ours and are ignored, as are bytes that are not OSC at all; a message
// under /tarrowin/ that cannot be read is refused with the reason.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace tarrowin::remote {

enum class RequestKind { Play, Stop, State, Mode, Tempo, StartCounter, EndCounter, VoiceOn, VoiceSetting };
enum class VoiceSetting { Param1, Param2, Offset, Octaves, Note, Scale, NoteValue, Dynamic };

struct Request {
    RequestKind kind = RequestKind::State;
    int voice = -1;  // 0..15 for the voice messages
    VoiceSetting setting = VoiceSetting::Param1;
    int64_t value = 0;  // the number sent; Mode: 1 for the composition, 0 for the current settings
    bool operator==(const Request&) const = default;
};

// A message under /tarrowin/ that cannot be taken, and why (the text of the answer).
struct Refusal {
    std::string message;
    bool operator==(const Refusal&) const = default;
};

// One message of a packet: ignored (not ours, or a button's release), a request, or refused.
using Reading = std::variant<std::monostate, Request, Refusal>;

// Reads every message of the packet, those of a bundle in their order, and passes each on.
// Bytes that are not OSC pass nothing on.
void readPacket(const uint8_t* data, size_t size, const std::function<void(Reading)>& take);

// The answers: /tarrowin/error s, and /tarrowin/state i:playing s:mode i:position i:tempo.
struct StateReport {
    bool playing = false;
    bool composition = false;  // the play mode: "composition" or "current"
    int32_t position = 0;
    int32_t tempo = 0;
};
std::vector<uint8_t> errorPacket(const std::string& message);
std::vector<uint8_t> statePacket(const StateReport& state);

}  // namespace tarrowin::remote
