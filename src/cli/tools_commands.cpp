// "randomize", "create", "event" and "edit-voices": the Composition Randomizer, the event
// commands and the Multiple Voice Editor on a document file, without a window. Every check
// and question of the tools applies; a refusal prints its message and changes no file.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli_documents.h"
#include "cli_options.h"
#include "command_registry.h"
#include "document/document_file.h"
#include "engine/tables.h"
#include "tools/composition_randomizer.h"
#include "tools/event_commands.h"
#include "tools/multiple_voice_editor.h"
#include "tools/uniform_random.h"

namespace tarrowin::cli {
namespace {

// Messages go to stderr when the command ends; questions are answered by --no (No) or
// Yes, and printed with their answer.
class CliPrompter : public Prompter {
   public:
    bool answerYes = true;
    std::vector<Message> messages;

    void message(const std::string& text, const std::string& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    bool ask(const std::string& text, const std::string& caption) override {
        std::cout << caption << ": " << text << ' ' << (answerYes ? "Yes" : "No") << '\n';
        ++questions;
        return answerYes;
    }
    int questions = 0;
    // Ends the command with the messages shown so far.
    [[noreturn]] void fail() const { throw CliError(joined()); }
    std::string joined() const {
        std::string all;
        for (const Message& m : messages) all += (all.empty() ? "" : "\n") + m.caption + ": " + m.text;
        return all;
    }
};

void refuseWith(const std::optional<Message>& m) {
    if (m) throw CliError(m->caption + ": " + m->text);
}

// ---- Lists of items on the command line: "all", "none", names and numbers.

// The words of a name as the user may type it, for matching against a label: lower case,
// and every run of characters other than letters, digits and '#' one separator, kept where
// it stands. "Morse-Thue", "morse thue" and "MORSE_THUE" all read "morse-thue"; "C-1" (a
// note below C0) does not read "c1", nor "-3" "3".
std::string words(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    std::string out;
    bool separator = false;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '#') {
            if (separator) out += '-';
            separator = false;
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            separator = true;
        }
    }
    if (separator) out += '-';
    return out;
}

// Whether typed text names a label: the same words, or, typed without any separator, the
// label's words run together ("morsethue", "octatonic1").
bool names(std::string_view typed, std::string_view label) {
    const std::string t = words(typed), l = words(label);
    if (t == l) return true;
    if (t.find('-') != std::string::npos) return false;
    std::string joined = l;
    joined.erase(std::remove(joined.begin(), joined.end(), '-'), joined.end());
    return t == joined;
}

struct ItemList {
    int count = 0;
    std::function<std::string(int)> label;  // the names accepted for item i
    int firstNumber = -1;                   // item i is also number firstNumber + i; -1: no numbers
};

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, sep);) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::optional<int> parseNumber(const std::string& s) {
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    return std::stoi(s);
}

// The flags a list such as "henon,lorenz", "0-15,40" or "none" names.
std::vector<bool> parseItems(const std::string& option, const std::string& text, const ItemList& items) {
    std::vector<bool> on(static_cast<size_t>(items.count), false);
    const std::vector<std::string> parts = split(text, ',');
    if (parts.empty()) throw CliError(option + ": give at least one item (see --help)");
    for (const std::string& part : parts) {
        const std::string key = words(part);
        if (key == "all") {
            on.assign(on.size(), true);
            continue;
        }
        if (key == "none") continue;
        // Numbers first: "1-4" is a range, although its letters and digits spell "14".
        bool found = false;
        if (items.firstNumber >= 0) {
            const auto dash = part.find('-', 1);
            const auto low = parseNumber(part.substr(0, dash));
            const auto high = dash == std::string::npos ? low : parseNumber(part.substr(dash + 1));
            if (low && high) {
                if (*low > *high || *low < items.firstNumber || *high >= items.firstNumber + items.count) {
                    throw CliError(option + ": " + part + " is outside " + std::to_string(items.firstNumber) + ".." +
                                   std::to_string(items.firstNumber + items.count - 1));
                }
                for (int n = *low; n <= *high; ++n) on[static_cast<size_t>(n - items.firstNumber)] = true;
                found = true;
            }
        }
        for (int i = 0; i < items.count && !found; ++i) {
            if (names(part, items.label(i))) on[static_cast<size_t>(i)] = found = true;
        }
        if (!found) throw CliError(option + ": \"" + part + "\" is not one of the items (see --help)");
    }
    return on;
}

// One item of a list; "none" gives nothing.
std::optional<int> parseItem(const std::string& option, const std::string& text, const ItemList& items) {
    if (words(text) == "none") return std::nullopt;
    const std::vector<bool> on = parseItems(option, text, items);
    if (std::count(on.begin(), on.end(), true) != 1) throw CliError(option + ": give one item, not \"" + text + "\"");
    return static_cast<int>(std::find(on.begin(), on.end(), true) - on.begin());
}

// An option that acts only together with another is refused alone, naming what it needs,
// rather than silently doing nothing.
struct Needs {
    bool given;
    const char* option;
    bool met;
    std::string what;
};
void requireAll(std::initializer_list<Needs> needs) {
    for (const Needs& n : needs) {
        if (n.given && !n.met) throw CliError(std::string(n.option) + " needs " + n.what);
    }
}

template <class Labels>
ItemList fromLabels(const Labels& labels, int firstNumber = -1) {
    return {static_cast<int>(labels.size()), [&labels](int i) { return std::string(labels[static_cast<size_t>(i)]); }, firstNumber};
}

template <class Picker>
ItemList pickerItems(int firstNumber = -1) {
    return {Picker::kItems, [](int i) { return Picker::label(i); }, firstNumber};
}

const ItemList kVoiceItems{kVoices, [](int i) { return std::to_string(i + 1); }, 1};
const ItemList kInstrumentItems = fromLabels(kInstrumentNames, 0);
const ItemList kNoteItems{kStartNotes, [](int i) { return noteName(i); }, 0};
const ItemList kNoteValueItems{kNoteValueRows, [](int i) { return i == kOtherNoteValue ? std::string("Other") : std::string(kNoteValueLabels[static_cast<size_t>(i)]); }, -1};
const ItemList kBoxItems{kRandomBoxes, [](int i) { return std::string(randomBoxLabel(static_cast<RandomBox>(i))); }, -1};

template <size_t N>
std::array<bool, N> toArray(const std::vector<bool>& flags) {
    std::array<bool, N> a{};
    for (size_t i = 0; i < N; ++i) a[i] = flags[i];
    return a;
}

// Checks the items in a picker and presses OK, as the user would.
template <class Picker>
void choose(Picker& picker, const std::vector<bool>& flags) {
    picker.open();
    picker.none();
    for (int i = 0; i < Picker::kItems; ++i) picker.setChecked(i, flags[static_cast<size_t>(i)]);
    refuseWith(picker.ok());
}

// ---- randomize and create

struct RandomizerArgs {
    std::string in, out;
    std::optional<int64_t> seed;
    std::string voices, boxes, algorithms, noteValues, scales, instruments, notes, octaves, dynamics;
    std::pair<int32_t, int32_t> param1Range{2, 100}, param2Range{1, 100}, otherRange{1, 48}, randomStart{0, 1000};
    CLI::Option *param1Opt = nullptr, *param2Opt = nullptr, *otherOpt = nullptr, *randomStartOpt = nullptr;
    bool noUserScales = false, noCreateUserScales = false, onlyUserScales = false;
    // create only
    uint32_t events = 10, minCounter = 50, maxCounter = 200;
    bool voicesOnOff = false, allowSilence = false, notSequential = false;
    std::optional<int32_t> minVoicesOn;
    std::string startCounter = "last";
};

void addRandomizerOptions(CLI::App* cmd, RandomizerArgs& a) {
    cmd->add_option("IN.trw", a.in, "The document to read")->required();
    cmd->add_option("OUT.trw", a.out, "The document to write")->required();
    addSeedOption(cmd, a.seed, "Seed of the random numbers (default: the time in seconds)");
    cmd->add_option("--voices", a.voices, "Voices to randomise, e.g. 1,3,5-8 (default: the voices that are on)");
    cmd->add_option("--boxes", a.boxes,
                    "Checked \"Voices Randomizer\" boxes (default all): algorithm, param1, param2, coefficient, "
                    "modulate, octaves, note, scale, note-val, instrument, mode, dynamic, inverted, match-scl, pan, "
                    "tempo, all or none");
    a.param1Opt = cmd->add_option("--param1-range", a.param1Range,
                                  "\"Param1 Range\" FROM TO (default 2 100) (with the \"param1\" box in --boxes)");
    a.param2Opt = cmd->add_option("--param2-range", a.param2Range,
                                  "\"Param2 Range\" FROM TO (default 1 100) (with the \"param2\" box in --boxes)");
    cmd->add_option("--algorithms", a.algorithms,
                    "Allowed algorithms: morse-thue, log-map, 1/f-noise, henon, hopalong, martin, gingerbread, lorenz "
                    "(with the \"algorithm\" box in --boxes)");
    cmd->add_option("--note-values", a.noteValues,
                    "Allowed note values: whole, half, quarter, eighth, sixteenth, thirtysecond, dotted-whole, "
                    "dotted-half, dotted-quarter, dotted-8h, dotted-16th, other (default all but other) (with the "
                    "\"note-val\" box in --boxes)");
    a.otherOpt = cmd->add_option("--other-range", a.otherRange,
                                 "Ticks of an \"Other\" note value FROM TO (default 1 48) (with \"other\" in --note-values)");
    cmd->add_option("--scales", a.scales,
                    "Allowed fixed scales by name: major, minor-natural, ..., chromatic (with the \"scale\" box in --boxes)");
    cmd->add_flag("--no-user-scales", a.noUserScales, "Do not allow user-defined scales (with the \"scale\" box in --boxes)");
    cmd->add_flag("--no-create-user-scales", a.noCreateUserScales,
                  "A drawn user-defined scale keeps the voice's own list (with the \"scale\" box in --boxes)");
    cmd->add_flag("--only-user-scales", a.onlyUserScales,
                  "\"Create Only User Scales\" (needs the \"scale\" box, user-defined scales allowed and "
                  "\"Create User Scales\")");
    cmd->add_option("--instruments", a.instruments,
                    "Allowed programs, e.g. 0-7,40 or names (with the \"instrument\" box in --boxes)");
    cmd->add_option("--notes", a.notes, "Allowed start notes, e.g. C4,G4 or 48-60 (with the \"note\" box in --boxes)");
    cmd->add_option("--octaves", a.octaves, "Allowed octave counts, e.g. 1,2 (with the \"octaves\" box in --boxes)");
    cmd->add_option("--dynamics", a.dynamics, "Allowed dynamics: pp, p, mp, mf, f, ff (with the \"dynamic\" box in --boxes)");
}

void addCreateOptions(CLI::App* cmd, RandomizerArgs& a) {
    cmd->add_option("--events", a.events, "Number of events (default 10)");
    cmd->add_option("--min-counter", a.minCounter, "Minimum counter value: shortest event in ticks (default 50)");
    cmd->add_option("--max-counter", a.maxCounter, "Maximum counter value (default 200)");
    cmd->add_flag("--voices-on-off", a.voicesOnOff, "Switch the chosen voices on and off at random");
    cmd->add_flag("--allow-silence", a.allowSilence, "\"Allow Complete Silence\" (with --voices-on-off)");
    cmd->add_option("--min-voices-on", a.minVoicesOn, "Minimum voices on (default 1) (with --voices-on-off)");
    cmd->add_option("--start-counter", a.startCounter, "Start counter: last (from the last event), zero or random")
        ->check(CLI::IsMember({"last", "zero", "random"}));
    a.randomStartOpt = cmd->add_option("--random-start", a.randomStart,
                                       "Range of a random Start MIN MAX (default 0 1000) (with --start-counter random)");
    cmd->add_flag("--not-sequential", a.notSequential, "Draw every event's random Start anew (with --start-counter random)");
}

// Sets the dialog as the user would through its boxes and pickers.
void configure(CompositionRandomizer& d, const RandomizerArgs& a, const CTarrowinDoc& doc) {
    d.open(doc);
    if (!a.voices.empty()) d.voiceChoice = toArray<kVoices>(parseItems("--voices", a.voices, kVoiceItems));
    if (!a.boxes.empty()) d.boxes = toArray<kRandomBoxes>(parseItems("--boxes", a.boxes, kBoxItems));
    const auto needsBox = [&d](bool given, const char* option, RandomBox b, const char* name) {
        return Needs{given, option, d.box(b), std::string("the \"") + name + "\" box in --boxes"};
    };
    const bool random = a.startCounter == "random";
    requireAll({
        needsBox(a.param1Opt->count() > 0, "--param1-range", RandomBox::Param1, "param1"),
        needsBox(a.param2Opt->count() > 0, "--param2-range", RandomBox::Param2, "param2"),
        needsBox(!a.algorithms.empty(), "--algorithms", RandomBox::Algorithm, "algorithm"),
        needsBox(!a.noteValues.empty(), "--note-values", RandomBox::NoteVal, "note-val"),
        needsBox(a.otherOpt->count() > 0, "--other-range", RandomBox::NoteVal, "note-val"),
        needsBox(!a.scales.empty(), "--scales", RandomBox::Scale, "scale"),
        needsBox(a.noUserScales, "--no-user-scales", RandomBox::Scale, "scale"),
        needsBox(a.noCreateUserScales, "--no-create-user-scales", RandomBox::Scale, "scale"),
        needsBox(!a.instruments.empty(), "--instruments", RandomBox::Instrument, "instrument"),
        needsBox(!a.notes.empty(), "--notes", RandomBox::Note, "note"),
        needsBox(!a.octaves.empty(), "--octaves", RandomBox::Octaves, "octaves"),
        needsBox(!a.dynamics.empty(), "--dynamics", RandomBox::Dynamic, "dynamic"),
        {a.notSequential, "--not-sequential", random, "--start-counter random"},
        {a.randomStartOpt != nullptr && a.randomStartOpt->count() > 0, "--random-start", random, "--start-counter random"},
        {a.allowSilence, "--allow-silence", a.voicesOnOff, "--voices-on-off"},
        {a.minVoicesOn.has_value(), "--min-voices-on", a.voicesOnOff, "--voices-on-off"},
    });
    if (a.param1Opt->count()) {
        RangePicker r = d.param1RangePicker();
        r.from = a.param1Range.first, r.to = a.param1Range.second;
        refuseWith(r.ok());
        d.param1RangeClosed(r);
    }
    if (a.param2Opt->count()) {
        RangePicker r = d.param2RangePicker();
        r.from = a.param2Range.first, r.to = a.param2Range.second;
        refuseWith(r.ok());
        d.param2RangeClosed(r);
    }
    if (!a.algorithms.empty()) choose(d.algorithms, parseItems("--algorithms", a.algorithms, pickerItems<AlgorithmsPicker>()));
    if (!a.noteValues.empty()) {
        const auto flags = parseItems("--note-values", a.noteValues, pickerItems<NoteValuesPicker>());
        choose(d.noteValues, flags);
    }
    if (a.otherOpt->count()) {
        requireAll({{true, "--other-range", d.noteValues.flags()[kOtherNoteValue], "\"other\" in --note-values"}});
        RangePicker r = d.noteValues.otherRangePicker();
        r.from = a.otherRange.first, r.to = a.otherRange.second;
        refuseWith(r.ok());
        d.noteValues.setOtherRange(r);
    }
    if (!a.scales.empty() || a.noUserScales) {
        const auto flags = a.scales.empty() ? std::vector<bool>(d.scales.flags().begin(), d.scales.flags().end())
                                            : parseItems("--scales", a.scales, pickerItems<ScalesPicker>());
        d.scales.open();
        d.scales.none();
        d.scales.setAllowUserDefinedChecked(!a.noUserScales);
        for (int i = 0; i < ScalesPicker::kItems; ++i) d.scales.setChecked(i, flags[static_cast<size_t>(i)]);
        refuseWith(d.scales.ok());
    }
    if (!a.instruments.empty()) {
        InstrumentsPicker picker = d.instrumentsPicker();
        choose(picker, parseItems("--instruments", a.instruments, kInstrumentItems));
        d.instrumentsPickerClosed(picker);
    }
    if (!a.notes.empty()) {
        NotesPicker picker = d.notesPicker();
        choose(picker, parseItems("--notes", a.notes, kNoteItems));
        d.notesPickerClosed(picker);
    }
    if (!a.octaves.empty()) choose(d.octaves, parseItems("--octaves", a.octaves, pickerItems<OctavesPicker>(1)));
    if (!a.dynamics.empty()) choose(d.dynamics, parseItems("--dynamics", a.dynamics, pickerItems<DynamicsPicker>()));

    d.setCreateUserScales(!a.noCreateUserScales);
    d.scalesPickerClosed();
    if (a.onlyUserScales) {
        if (!d.enabling().createOnlyUserScales) {
            throw CliError("--only-user-scales needs the \"Scale\" box, user-defined scales allowed and \"Create User Scales\"");
        }
        d.createOnlyUserScales = true;
    }

    d.numberOfEvents = a.events;
    d.minCounter = a.minCounter;
    d.maxCounter = a.maxCounter;
    d.voicesOnOff = a.voicesOnOff;
    d.allowSilence = a.allowSilence;
    if (a.minVoicesOn) d.minVoicesOn = *a.minVoicesOn;
    d.startCounterMode = a.startCounter == "zero" ? kStartFromZero : a.startCounter == "random" ? kRandomizeStart : kFromLastEvent;
    if (a.randomStartOpt && a.randomStartOpt->count()) d.randomStartMin = a.randomStart.first, d.randomStartMax = a.randomStart.second;
    d.sequential = !a.notSequential;
}

std::string voiceNumbers(const std::array<bool, kVoices>& voices) {
    std::string text;
    for (int v = 0; v < kVoices; ++v) {
        if (voices[static_cast<size_t>(v)]) text += (text.empty() ? "" : ", ") + std::to_string(v + 1);
    }
    return text.empty() ? "none" : text;
}

UniformRandom seeded(const RandomizerArgs& a) {
    if (a.seed) return UniformRandom(*a.seed);
    // Said so that a draw from the clock can be made again with --seed.
    const int64_t seed = UniformRandom::timeSeed();
    std::cout << "Seed " << seed << '\n';
    return UniformRandom(seed);
}

void runRandomize(const RandomizerArgs& a) {
    CTarrowinDoc doc = readDocument(a.in);
    CompositionRandomizer dialog;
    configure(dialog, a, doc);
    UniformRandom random = seeded(a);
    CliPrompter prompter;
    const RandomizeOutcome out = dialog.randomize(doc, random, prompter);
    if (!out.done) prompter.fail();
    writeDocument(a.out, doc);
    std::cout << "Randomized voices " << voiceNumbers(out.randomized);
    if (out.tempoChanged) std::cout << "; tempo " << doc.global().tempo;
    std::cout << '\n';
}

void runCreate(const RandomizerArgs& a) {
    CTarrowinDoc doc = readDocument(a.in);
    CompositionRandomizer dialog;
    configure(dialog, a, doc);
    UniformRandom random = seeded(a);
    CliPrompter prompter;
    const CreateOutcome out = dialog.create(doc, random, prompter);
    if (!out.started) prompter.fail();
    writeDocument(a.out, doc);
    // Stopping at the counter limit keeps the events made so far, as in the window.
    if (!prompter.messages.empty()) std::cerr << "tarrowin-cli: " << prompter.joined() << '\n';
    std::cout << "Created " << out.added.size() << " of " << a.events << " events; the composition has "
              << doc.composition().count() << (out.loadedFirstEvent ? "; event 0 loaded" : "") << '\n';
    for (const EventEdit& e : out.added) std::cout << e.comboLine << ' ' << e.listLine << '\n';
}

// ---- event

struct EventArgs {
    std::string in, out;
    std::optional<int> index;
    std::optional<int32_t> start, end, tempo;
    bool no = false;
};

void runEvent(const std::string& name, const EventArgs& a) {
    CTarrowinDoc doc = readDocument(a.in);
    CliPrompter prompter;
    prompter.answerYes = !a.no;
    // The counters and tempo typed into the main form before the command.
    const CounterEdits edits{a.start.value_or(doc.global().startCounter), a.end.value_or(doc.global().endCounter)};
    if (name != "replace") {
        if (a.end) doc.setEndCounter(*a.end);
        if (a.start) doc.setStartCounter(*a.start);
    }
    if (a.tempo) doc.setTempo(*a.tempo);
    EventEdit edit;
    if (name == "add") edit = addEvent(doc, prompter);
    if (name == "insert") edit = insertEvent(doc, prompter, a.index);
    if (name == "remove") edit = removeEvent(doc, prompter, a.index);
    if (name == "clear") edit = clearEvents(doc, prompter);
    if (name == "replace") edit = replaceEventWithCurrentSettings(doc, prompter, a.index, edits);
    if (name == "tempo") edit = globalTempo(doc, prompter);
    if (name == "load") edit = updateFromEvent(doc, a.index);
    if (!prompter.messages.empty()) prompter.fail();
    if (prompter.questions > 0 && !prompter.answerYes) {
        std::cout << "Nothing changed: " << a.out << " was not written\n";
        return;
    }
    // The window's selection always names an event; here a missing one is an error.
    if (!edit.done() && (name == "insert" || name == "remove" || name == "load")) {
        if (doc.composition().isEmpty()) throw CliError("The composition has no events");
        throw CliError("Choose an event with --index 0.." + std::to_string(doc.composition().lastIndex()));
    }
    writeDocument(a.out, doc);
    if (!edit.listLine.empty()) std::cout << edit.index << ' ' << edit.listLine << '\n';
    if (edit.backToCurrentSettings) std::cout << "The composition is empty: play mode Current Settings\n";
}

// ---- edit-voices

struct VoiceEditArgs {
    std::string in, out;
    std::string voices, events;
    std::optional<int32_t> param1, param2, modulateEvery, pan, otherValue;
    std::optional<std::string> modulate, modulateMode, octaves, note, scale, userScale, noteValue, instrument, mode, dynamic,
        inverted, matchScale, algorithm;
    std::optional<float> logisticMu, noise, henonA, henonB, hopalongAngle, martinAngle, gingerX0, gingerY0, lorenz;
};

bool yesNo(const std::string& option, const std::string& text) {
    const std::string key = words(text);
    if (key == "yes" || key == "on") return true;
    if (key == "no" || key == "off") return false;
    throw CliError(option + ": give yes or no, not \"" + text + "\"");
}

void addVoiceEditOptions(CLI::App* cmd, VoiceEditArgs& a) {
    cmd->add_option("IN.trw", a.in, "The document to read")->required();
    cmd->add_option("OUT.trw", a.out, "The document to write")->required();
    cmd->add_option("--voices", a.voices, "Voices to change, e.g. 1,3 or 1-16");
    cmd->add_option("--events", a.events, "Change these events (e.g. 0,2 or all) instead of the current settings");
    cmd->add_option("--param1", a.param1, "Param1");
    cmd->add_option("--param2", a.param2, "Param2");
    cmd->add_option("--modulate", a.modulate, "Modulate: yes or no");
    cmd->add_option("--modulate-mode", a.modulateMode, "Modulation mode: every or random (with --modulate)")
        ->check(CLI::IsMember({"every", "random"}));
    cmd->add_option("--modulate-every", a.modulateEvery, "Modulation period (with --modulate)")->check(CLI::Range(1, 50));
    cmd->add_option("--octaves", a.octaves, "Octaves 1..4 (none: nothing chosen)");
    cmd->add_option("--note", a.note, "Start note, e.g. C4 or 48");
    cmd->add_option("--scale", a.scale, "Scale by name, e.g. major, pentatonic, user-defined");
    cmd->add_option("--user-scale", a.userScale,
                    "The editor's user-defined scale: semitones 0..11, e.g. 2,5,9 (with --scale user-defined)");
    cmd->add_option("--note-value", a.noteValue, "Note value: whole, half, quarter, 8th, 16th, 32nd, dotted-whole, ..., other");
    cmd->add_option("--other-value", a.otherValue, "Ticks of an \"Other\" note value (with --note-value other)")
        ->check(CLI::Range(1, 960));
    cmd->add_option("--instrument", a.instrument, "Program 0..127 or its name");
    cmd->add_option("--mode", a.mode, "all-notes or tied");
    cmd->add_option("--pan", a.pan, "Pan -64..63")->check(CLI::Range(kPanRange.min, kPanRange.max));
    cmd->add_option("--dynamic", a.dynamic, "pp, p, mp, mf, f or ff");
    cmd->add_option("--inverted", a.inverted, "Inverted: yes or no");
    cmd->add_option("--match-scale", a.matchScale, "Match Scale: yes or no (with --inverted)");
    cmd->add_option("--algorithm", a.algorithm, "morse-thue, log-map, 1/f-noise, henon, hopalong, martin, gingerbreadman, lorenz");
    // Each coefficient is set together with its algorithm (--algorithm).
    cmd->add_option("--logistic-mu", a.logisticMu, "Coefficient of the Logistic Map (with --algorithm log-map)")
        ->check(finiteRange(2.0, 4.0));
    cmd->add_option("--noise", a.noise, "Coefficient of 1/f noise (with --algorithm 1/f-noise)")->check(finiteRange(0.0, 1.0));
    cmd->add_option("--henon-a", a.henonA, "Henon a (with --algorithm henon)")->check(finiteRange(1.0, 2.0));
    cmd->add_option("--henon-b", a.henonB, "Henon b (with --algorithm henon)")->check(finiteRange(0.0, 1.0));
    cmd->add_option("--hopalong-angle", a.hopalongAngle, "Hopalong angle (with --algorithm hopalong)")
        ->check(finiteRange(-6.28319, 6.28319));
    cmd->add_option("--martin-angle", a.martinAngle, "Martin angle (with --algorithm martin)")
        ->check(finiteRange(-6.28319, 6.28319));
    cmd->add_option("--ginger-x0", a.gingerX0, "Gingerbreadman initial x (with --algorithm gingerbreadman)")
        ->check(finiteRange(-20.0, 20.0));
    cmd->add_option("--ginger-y0", a.gingerY0, "Gingerbreadman initial y (with --algorithm gingerbreadman)")
        ->check(finiteRange(-20.0, 20.0));
    cmd->add_option("--lorenz", a.lorenz, "Coefficient of Lorenz (with --algorithm lorenz)")->check(finiteRange(0.0, 1.0));
}

void runEditVoices(const VoiceEditArgs& a) {
    CTarrowinDoc doc = readDocument(a.in);
    MultipleVoiceEditor e;
    e.open(doc);
    if (!a.voices.empty()) e.voices = toArray<kVoices>(parseItems("--voices", a.voices, kVoiceItems));
    if (!a.events.empty()) {
        // "Change Selected Events" is disabled while the composition is empty.
        if (doc.composition().isEmpty()) throw CliError("The composition has no events");
        const ItemList events{doc.composition().count(), [](int i) { return std::to_string(i); }, 0};
        const auto flags = parseItems("--events", a.events, events);
        e.eventSelection.assign(flags.begin(), flags.end());
    }
    const auto set = [&](ChangeFlag f) { e.setFlag(f, true); };
    const auto choice = [&](ChangeFlag f, const std::optional<std::string>& text, const char* option, const ItemList& items,
                            int32_t& into) {
        if (!text) return;
        set(f);
        into = parseItem(option, *text, items).value_or(MultipleVoiceEditor::kNone);
    };
    if (a.param1) set(ChangeFlag::Param1), e.newParam1 = *a.param1;
    if (a.param2) set(ChangeFlag::Param2), e.newParam2 = *a.param2;
    if (a.modulate) {
        set(ChangeFlag::Modulate);
        e.newModulate = yesNo("--modulate", *a.modulate);
        if (a.modulateMode) e.newModulateMode = *a.modulateMode == "random" ? 1 : 0;
        if (a.modulateEvery) e.newModulateEvery = *a.modulateEvery;
    }
    choice(ChangeFlag::Octaves, a.octaves, "--octaves", fromLabels(kOctaveLabels), e.octavesChoice);
    choice(ChangeFlag::Note, a.note, "--note", kNoteItems, e.noteChoice);
    choice(ChangeFlag::Scale, a.scale, "--scale", fromLabels(kScaleLabels), e.scaleChoice);
    if (a.userScale) {
        std::array<bool, 12> marks{};
        for (const std::string& s : split(*a.userScale, ',')) {
            const auto n = parseNumber(s);
            if (!n || *n > 11) throw CliError("--user-scale: semitones are 0..11, not \"" + s + "\"");
            marks[static_cast<size_t>(*n)] = true;
        }
        if (std::count(marks.begin(), marks.end(), true) < 3) throw CliError("--user-scale: Please choose at least three notes.");
        e.userScaleEditorClosed(marks);
    }
    choice(ChangeFlag::NoteValue, a.noteValue, "--note-value", kNoteValueItems, e.noteValueChoice);
    if (a.otherValue) e.otherNoteValue = *a.otherValue;
    choice(ChangeFlag::Instrument, a.instrument, "--instrument", kInstrumentItems, e.instrumentChoice);
    choice(ChangeFlag::Mode, a.mode, "--mode", fromLabels(kModeLabels), e.modeChoice);
    if (a.pan) set(ChangeFlag::Pan), e.newPan = *a.pan;
    choice(ChangeFlag::Dynamic, a.dynamic, "--dynamic", fromLabels(kDynamicLabels), e.newDynamic);
    if (a.inverted) set(ChangeFlag::Inverted), e.newInverted = yesNo("--inverted", *a.inverted);
    if (a.matchScale) set(ChangeFlag::MatchScale), e.newMatchScale = yesNo("--match-scale", *a.matchScale);
    choice(ChangeFlag::Algorithm, a.algorithm, "--algorithm", fromLabels(kEditorAlgorithmLabels), e.algorithmChoice);
    struct Coefficient {
        const std::optional<float>& given;
        float& into;
        const char* option;
        Algorithm algorithm;
        const char* algorithmName;
    };
    const Coefficient coefficients[] = {
        {a.logisticMu, e.coefficients.logisticMu, "--logistic-mu", Algorithm::LogisticMap, "log-map"},
        {a.noise, e.coefficients.noiseCoefficient, "--noise", Algorithm::OneOverFNoise, "1/f-noise"},
        {a.henonA, e.coefficients.henonA, "--henon-a", Algorithm::Henon, "henon"},
        {a.henonB, e.coefficients.henonB, "--henon-b", Algorithm::Henon, "henon"},
        {a.hopalongAngle, e.coefficients.hopalongAngle, "--hopalong-angle", Algorithm::Hopalong, "hopalong"},
        {a.martinAngle, e.coefficients.martinAngle, "--martin-angle", Algorithm::Martin, "martin"},
        {a.gingerX0, e.coefficients.gingerX0, "--ginger-x0", Algorithm::Gingerbreadman, "gingerbreadman"},
        {a.gingerY0, e.coefficients.gingerY0, "--ginger-y0", Algorithm::Gingerbreadman, "gingerbreadman"},
        {a.lorenz, e.coefficients.lorenzCoefficient, "--lorenz", Algorithm::Lorenz, "lorenz"},
    };
    for (const Coefficient& c : coefficients) {
        if (!c.given) continue;
        requireAll({{true, c.option, e.algorithmChoice == static_cast<int32_t>(c.algorithm),
                     std::string("--algorithm ") + c.algorithmName}});
        set(ChangeFlag::Coefficient);
        c.into = *c.given;
    }
    requireAll({
        {a.modulateMode.has_value(), "--modulate-mode", a.modulate.has_value(), "--modulate"},
        {a.modulateEvery.has_value(), "--modulate-every", a.modulate.has_value(), "--modulate"},
        {a.matchScale.has_value(), "--match-scale", a.inverted.has_value(), "--inverted"},
        {a.otherValue.has_value(), "--other-value", a.noteValue && e.noteValueChoice == kOtherNoteValue,
         "--note-value other"},
        {a.userScale.has_value(), "--user-scale", a.scale && e.scaleChoice == kUserDefinedScale,
         "--scale user-defined"},
    });
    if (std::none_of(e.change.begin(), e.change.end(), [](bool on) { return on; })) {
        throw CliError("Nothing to change: give at least one setting, e.g. --param1 or --scale (see --help)");
    }

    CliPrompter prompter;
    const VoiceEditOutcome out = a.events.empty() ? e.changeSettings(doc, prompter) : e.changeSelectedEvents(doc, prompter);
    if (!out.done) prompter.fail();
    writeDocument(a.out, doc);
    std::cout << "Changed voices " << voiceNumbers(out.voices);
    if (!a.events.empty()) {
        std::cout << " of events";
        for (int i : out.events) std::cout << ' ' << i;
    } else {
        std::cout << " of the current settings";
    }
    std::cout << '\n';
}

// Each command's arguments belong to its CLI::App (through the callback), so a second App
// in one process starts from the defaults.
void setup(CLI::App& app) {
    const auto randomizeArgs = std::make_shared<RandomizerArgs>();
    auto* randomize = app.add_subcommand("randomize", "Randomize the chosen settings of the chosen voices (\"Randomize !\")");
    addRandomizerOptions(randomize, *randomizeArgs);
    randomize->callback([randomizeArgs] { runRandomize(*randomizeArgs); });

    const auto createArgs = std::make_shared<RandomizerArgs>();
    auto* create = app.add_subcommand("create", "Append random events to the composition (the Randomizer's \"Create\")");
    addRandomizerOptions(create, *createArgs);
    addCreateOptions(create, *createArgs);
    create->callback([createArgs] { runCreate(*createArgs); });

    auto* event = app.add_subcommand("event", "Edit the events of the composition");
    event->require_subcommand(1);
    const std::pair<const char*, const char*> commands[] = {
        {"add", "Append the current settings as an event"},
        {"insert", "Insert the current settings before event --index"},
        {"remove", "Remove event --index"},
        {"clear", "Remove every event"},
        {"replace", "Replace event --index with the current settings"},
        {"tempo", "Give every event the current tempo (\"Global Tempo\")"},
        {"load", "Load event --index into the current settings (\"Update\")"},
    };
    for (const auto& [name, help] : commands) {
        const auto args = std::make_shared<EventArgs>();
        auto* cmd = event->add_subcommand(name, help);
        cmd->add_option("IN.trw", args->in, "The document to read")->required();
        cmd->add_option("OUT.trw", args->out, "The document to write")->required();
        const std::string n = name;
        if (n == "insert" || n == "remove" || n == "replace" || n == "load") {
            cmd->add_option("--index", args->index, "The selected event, from 0");
        }
        if (n == "add" || n == "insert" || n == "replace") {
            cmd->add_option("--start", args->start, "The Start counter typed first")->check(CLI::Range(0, kMaxCounter));
            cmd->add_option("--end", args->end, "The End counter typed first")->check(CLI::Range(0, kMaxCounter));
        }
        if (n == "add" || n == "insert" || n == "replace" || n == "tempo") {
            cmd->add_option("--tempo", args->tempo, "The tempo set first")->check(CLI::Range(kTempoRange.min, kTempoRange.max));
        }
        if (n == "remove" || n == "clear" || n == "replace" || n == "tempo") {
            cmd->add_flag("--no", args->no, "Answer No to the question (then nothing is written)");
        }
        cmd->callback([n, args] { runEvent(n, *args); });
    }

    const auto voiceArgs = std::make_shared<VoiceEditArgs>();
    auto* edit = app.add_subcommand("edit-voices", "Set chosen settings of several voices at once (the Multiple Voice Editor)");
    addVoiceEditOptions(edit, *voiceArgs);
    edit->callback([voiceArgs] { runEditVoices(*voiceArgs); });
}

const CommandRegistration registration(50, setup);

}  // namespace

std::array<bool, kVoices> parseVoices(const std::string& option, const std::string& text) {
    return toArray<kVoices>(parseItems(option, text, kVoiceItems));
}

}  // namespace tarrowin::cli
