#include "document.h"

namespace tarrowin {

bool Composition::append(const CompositionEvent& e) {
    if (isFull()) return false;
    events_.push_back(e);
    return true;
}

bool Composition::insert(int index, const CompositionEvent& e) {
    if (isFull() || index < 0 || index > count()) return false;
    events_.insert(events_.begin() + index, e);
    return true;
}

bool Composition::remove(int index) {
    if (index < 0 || index >= count()) return false;
    events_.erase(events_.begin() + index);
    return true;
}

bool Composition::replaceRange(int first, int count, const std::vector<CompositionEvent>& with) {
    if (first < 0 || count < 0 || first + count > this->count()) return false;
    if (this->count() - count + static_cast<int>(with.size()) > kMaxEvents) return false;
    const auto at = events_.begin() + first;
    events_.insert(events_.erase(at, at + count), with.begin(), with.end());
    return true;
}

const std::shared_ptr<const TuningSettings>& defaultTuning() {
    static const std::shared_ptr<const TuningSettings> none = std::make_shared<const TuningSettings>();
    return none;
}

CTarrowinDoc::CTarrowinDoc() : tuning_(defaultTuning()) {
    current_.resetToDefaults();
    for (auto& v : current_.voices) v.startNote = 48;
}

void CTarrowinDoc::OnNewDocument() {
    current_.resetToDefaults();
    reserved_ = 1;
    composition_.clear();
    tuning_ = defaultTuning();
    modified_ = false;
}

void CTarrowinDoc::setEnabled(int v, bool on) {
    voiceRef(v).enabled = on ? 1 : 0;
    touched();
}
void CTarrowinDoc::setParam1(int v, int32_t value) {
    voiceRef(v).param1 = value;
    touched();
}
void CTarrowinDoc::setParam2(int v, int32_t value) {
    voiceRef(v).param2 = value;
    touched();
}
void CTarrowinDoc::setOffset(int v, int32_t value) {
    voiceRef(v).offset = value;
    touched();
}
void CTarrowinDoc::setModulate(int v, bool on) {
    voiceRef(v).modulate = on ? 1 : 0;
    touched();
}
void CTarrowinDoc::setModulation(int v, int32_t mode, int32_t every) {
    voiceRef(v).modulateMode = mode;
    voiceRef(v).modulateEvery = every;
    touched();
}
void CTarrowinDoc::setScaleIndex(int v, int32_t index) {
    voiceRef(v).setScaleIndex(index);
    touched();
}
void CTarrowinDoc::setInversion(int v, bool inverted, bool matchScale) {
    voiceRef(v).setInversion(inverted, matchScale);
    touched();
}
void CTarrowinDoc::setUserScale(int v, const ScaleList& list) {
    voiceRef(v).setUserScale(list);
    touched();
}
void CTarrowinDoc::setDynamic(int v, int32_t index) {
    voiceRef(v).setDynamic(index);
    touched();
}
void CTarrowinDoc::setNoteValue(int v, int32_t index, float ticks) {
    voiceRef(v).setNoteValue(index, ticks);
    touched();
}
void CTarrowinDoc::setOctaves(int v, int32_t index) {
    voiceRef(v).setOctaves(index);
    touched();
}
void CTarrowinDoc::setStartNote(int v, int32_t note) {
    voiceRef(v).startNote = note;
    touched();
}
void CTarrowinDoc::setAlgorithm(int v, Algorithm a) {
    voiceRef(v).setAlgorithm(a);
    touched();
}
void CTarrowinDoc::editVoice(int v, const std::function<void(VoiceSettings&)>& fn) {
    fn(voiceRef(v));
    touched();
}
void CTarrowinDoc::setTempo(int32_t tempo) {
    current_.global.tempo = tempo;
    touched();
}
void CTarrowinDoc::setStartCounter(int32_t value) {
    current_.global.startCounter = value;
    touched();
}
void CTarrowinDoc::setEndCounter(int32_t value) {
    current_.global.endCounter = value;
    touched();
}
void CTarrowinDoc::setTimeSigNumerator(int16_t value) { current_.global.timeSigNumerator = value; }
void CTarrowinDoc::setTimeSigDenominator(int16_t value) {
    current_.global.timeSigDenominator = value;
    touched();
}

void CTarrowinDoc::CopyCurrentSettingsIntoEvent(CompositionEvent& event) const { event = current_; }

bool CTarrowinDoc::LoadEventIntoCurrentSettings(int index) {
    if (index < 0 || index >= composition_.count()) return false;
    current_ = composition_.event(index);
    return true;
}

std::optional<UserMessage> CTarrowinDoc::newEventRefusal() const {
    if (composition_.isFull()) return kEventLimitMessage;
    if (current_.global.endCounter <= current_.global.startCounter) return kCounterRangeMessage;
    return std::nullopt;
}

std::optional<UserMessage> CTarrowinDoc::addCurrentSettingsAsEvent() {
    if (auto refusal = newEventRefusal()) return refusal;
    CompositionEvent e;
    CopyCurrentSettingsIntoEvent(e);
    composition_.append(e);
    return std::nullopt;
}

std::optional<UserMessage> CTarrowinDoc::insertCurrentSettingsAsEvent(int index) {
    if (auto refusal = newEventRefusal()) return refusal;
    CompositionEvent e;
    CopyCurrentSettingsIntoEvent(e);
    composition_.insert(index, e);
    return std::nullopt;
}

void CTarrowinDoc::setTuning(const TuningSettings& tuning) {
    if (tuning == *tuning_) return;
    tuning_ = tuning.isDefault() ? defaultTuning() : std::make_shared<const TuningSettings>(tuning);
    touched();
}

void CTarrowinDoc::restoreTuning(std::shared_ptr<const TuningSettings> tuning) {
    tuning_ = tuning ? std::move(tuning) : defaultTuning();
}

void CTarrowinDoc::replaceContents(const Settings& current, int32_t reserved, const Composition& composition,
                                   std::shared_ptr<const TuningSettings> tuning) {
    current_ = current;
    reserved_ = reserved;
    composition_ = composition;
    tuning_ = tuning ? std::move(tuning) : defaultTuning();
    modified_ = false;
}

}  // namespace tarrowin
