#include "roll_painter.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>

#include "engine/tables.h"

namespace tarrowin::app {

namespace {

// A voice that is off is drawn with this much of its colour (more on dark rows, where a
// faint colour fades sooner).
constexpr int kOffAlpha = 70;
constexpr int kOffAlphaDark = 100;
// Notes at least this wide get an outline.
constexpr int kOutlinedWidth = 4;
// Beat lines are left out when closer than this, bars are thinned to keep it.
constexpr double kMinLineSpacing = 6.0;
constexpr int kLabelSpacing = 56;
constexpr int kMinEventSpacing = 8;       // between the events' marks on the ruler
constexpr int kMinEventLineSpacing = 24;  // between their lines across the notes
const QColor kPlayhead(0xd0, 0x10, 0x10);

bool blackKey(int key) {
    switch (key % 12) {
        case 1: case 3: case 6: case 8: case 10: return true;
        default: return false;
    }
}

// A rectangle to fill, in one of a voice's colours.
struct Stroke {
    QRect rect;
    uint8_t voice;
    bool off;
    bool outlined;
};

// Turns one voice's notes into strokes. Notes narrower than a few pixels are gathered per
// key into runs of touching pixels, so a zoomed-out roll fills one rectangle per run, not
// per note. Positions are integer pixels computed without a library call per note.
class VoiceStrokes {
   public:
    VoiceStrokes(const RollFrame& f, const QRect& area, int v, std::vector<Stroke>& out)
        : f_(f), area_(area), v_(static_cast<uint8_t>(v)), out_(out) {
        origin_ = area.left() - f.firstTick * f.pixelsPerTick + kShift;
        for (int key = 0; key < 128; ++key) {
            const int y = f.yOfKey(area, key);
            keyY_[static_cast<size_t>(key)] = y + f.keyHeight < area.top() || y > area.bottom() ? kHidden : y;
        }
        runs_.fill({0, -1});
    }
    ~VoiceStrokes() {
        for (size_t i = 0; i < runs_.size(); ++i) flush(i);
    }

    void add(const RollNote& n) {
        const int y = keyY_[n.key];
        if (y == kHidden) return;
        const int x0 = pixel(n.start);
        const int x1 = std::max(x0 + 1, pixel(n.end));
        const size_t slot = static_cast<size_t>(n.key) * 2 + (n.off ? 1 : 0);
        Run& run = runs_[slot];
        if (x1 <= run.end) return;  // inside the run already
        if (x1 - x0 >= kOutlinedWidth) {
            out_.push_back({QRect(x0, y, x1 - x0, f_.keyHeight), v_, n.off, f_.keyHeight >= 4});
            return;
        }
        extend(slot, x0, x1);
    }

    // The keys of the overview's buckets under each pixel column, for a roll zoomed out so
    // far that a column spans a bucket or more.
    void addOverview(const RollOverview& overview, int level) {
        const double bucket = overview.bucketTicks(level);
        const double ticksPerPixel = 1.0 / f_.pixelsPerTick;
        for (int x = area_.left(); x <= area_.right(); ++x) {
            const double from = f_.dateAt(area_, x);
            if (from + ticksPerPixel <= 0) continue;
            const auto first = static_cast<int64_t>(std::max(0.0, from) / bucket);
            const auto last = static_cast<int64_t>(std::ceil((from + ticksPerPixel) / bucket));
            for (const bool off : {false, true}) {
                const KeyMask keys = overview.keys(v_, level, off, first, last);
                for (size_t word = 0; word < keys.bits.size(); ++word) {
                    for (uint64_t bits = keys.bits[word]; bits != 0; bits &= bits - 1) {
                        const auto key = static_cast<size_t>(word * 64 + static_cast<size_t>(std::countr_zero(bits)));
                        if (keyY_[key] != kHidden) extend(key * 2 + (off ? 1 : 0), x, x + 1);
                    }
                }
            }
        }
    }

   private:
    static constexpr int kHidden = INT32_MIN;
    // Added before truncation so that every pixel position is positive: truncation then
    // rounds down, as floor would.
    static constexpr double kShift = 1 << 20;
    struct Run {
        int start;
        int end;
    };

    int pixel(int32_t date) const {
        const double x = std::clamp(origin_ + date * f_.pixelsPerTick, kShift + area_.left() - 2, kShift + area_.right() + 2);
        return static_cast<int>(x) - static_cast<int>(kShift);
    }
    void extend(size_t slot, int x0, int x1) {
        Run& run = runs_[slot];
        if (run.end >= x0) {
            run.end = std::max(run.end, x1);
            return;
        }
        flush(slot);
        run = {x0, x1};
    }
    void flush(size_t slot) {
        Run& run = runs_[slot];
        if (run.end <= run.start) return;
        out_.push_back({QRect(run.start, keyY_[slot / 2], run.end - run.start, f_.keyHeight), v_, slot % 2 == 1, false});
        run = {0, -1};
    }

    const RollFrame& f_;
    const QRect& area_;
    const uint8_t v_;
    std::vector<Stroke>& out_;
    double origin_ = 0.0;
    std::array<int, 128> keyY_{};
    std::array<Run, 256> runs_{};
};

const RollColours& coloursOf(const RollFrame& f) { return f.dark ? RollColours::dark() : RollColours::light(); }

void paintKeyRows(QPainter& p, const QRect& area, const RollFrame& f) {
    const RollColours& c = coloursOf(f);
    p.save();
    p.setClipRect(area);
    p.fillRect(area, c.keyRow);
    for (int key = 0; key < 128; ++key) {
        const int y = f.yOfKey(area, key);
        if (y + f.keyHeight < area.top() || y > area.bottom()) continue;
        const QRect row(area.left(), y, area.width(), f.keyHeight);
        if (key == kMiddleC) {
            p.fillRect(row, c.middleCRow);
        } else if (blackKey(key)) {
            p.fillRect(row, c.blackKeyRow);
        }
        if (key % 12 == 0) p.fillRect(QRect(area.left(), y + f.keyHeight - 1, area.width(), 1), c.octaveLine);
    }
    p.restore();
}

void paintGrid(QPainter& p, const QRect& area, const RollFrame& f, const std::vector<GridLine>& lines) {
    const RollColours& c = coloursOf(f);
    for (const GridLine& line : lines) {
        const int x = static_cast<int>(std::floor(f.xOf(area, line.date)));
        p.fillRect(QRect(x, area.top(), 1, area.height()), line.bar ? c.barLine : c.beatLine);
    }
    // Each event's beginning, and the end of the run.
    const RollNotes& notes = *f.notes;
    int last = INT_MIN / 2;
    for (const RollEvent& e : notes.events) {
        const int x = static_cast<int>(std::floor(f.xOf(area, e.date)));
        if (x > area.right()) break;
        if (x - last < kMinEventLineSpacing) continue;  // too many to tell apart: a few stand for all
        p.fillRect(QRect(x, area.top(), 2, area.height()), c.event);
        last = x;
    }
    const int end = static_cast<int>(std::floor(f.xOf(area, notes.length)));
    if (end < area.right()) p.fillRect(QRect(end, area.top(), area.right() - end + 1, area.height()), c.afterEnd);
}

void paintNotes(QPainter& p, const QRect& area, const RollFrame& f) {
    const RollNotes& notes = *f.notes;
    const auto from = static_cast<int32_t>(std::floor(f.dateAt(area, area.left())));
    const auto to = static_cast<int32_t>(std::ceil(f.dateAt(area, area.right() + 1))) + 1;
    // Zoomed out, the overview's buckets stand for the notes.
    const int level = notes.overview.levelFor(1.0 / f.pixelsPerTick);
    std::vector<Stroke> strokes;
    for (int v = 0; v < kVoices; ++v) {
        if (!f.shown[static_cast<size_t>(v)]) continue;
        VoiceStrokes voice(f, area, v, strokes);
        if (level >= 0) {
            voice.addOverview(notes.overview, level);
        } else {
            for (const RollNote& n : notes.notesIn(v, from, to)) voice.add(n);
        }
    }
    std::array<QColor, kVoices> on, off, outline;
    for (int v = 0; v < kVoices; ++v) {
        on[static_cast<size_t>(v)] = voiceColour(v, f.dark);
        off[static_cast<size_t>(v)] = on[static_cast<size_t>(v)];
        off[static_cast<size_t>(v)].setAlpha(f.dark ? kOffAlphaDark : kOffAlpha);
        // An outline that sets the note off its neighbours: darker on light rows, lighter on dark.
        outline[static_cast<size_t>(v)] = f.dark ? on[static_cast<size_t>(v)].lighter(150) : on[static_cast<size_t>(v)].darker(160);
    }
    p.save();
    p.setClipRect(area);
    p.setBrush(Qt::NoBrush);
    // The voices that are off first, so that what sounds lies on top.
    for (const bool offPass : {true, false}) {
        for (const Stroke& s : strokes) {
            if (s.off != offPass) continue;
            const QColor& colour = s.off ? off[s.voice] : on[s.voice];
            p.fillRect(s.rect, colour);
            if (s.outlined) {
                p.setPen(s.off ? colour : outline[s.voice]);
                p.drawRect(s.rect.adjusted(0, 0, -1, -1));
            }
        }
    }
    if (f.playDate) {
        // The notes sounding at the playhead, outlined in black over a white rim.
        for (int v = 0; v < kVoices; ++v) {
            if (!f.shown[static_cast<size_t>(v)]) continue;
            const RollNote* n = notes.noteAt(v, *f.playDate);
            if (n == nullptr || n->off) continue;
            const int x0 = static_cast<int>(std::floor(f.xOf(area, n->start)));
            const int x1 = std::max(x0 + 2, static_cast<int>(std::floor(f.xOf(area, n->end))));
            const QRect r(x0, f.yOfKey(area, n->key), x1 - x0, f.keyHeight);
            p.fillRect(r.adjusted(-2, -2, 2, 2), Qt::black);
            p.fillRect(r.adjusted(-1, -1, 1, 1), Qt::white);
            p.fillRect(r, voiceColour(v, f.dark).lighter(120));
        }
        const int x = static_cast<int>(std::floor(f.xOf(area, *f.playDate)));
        p.fillRect(QRect(x - 1, area.top(), 2, area.height()), kPlayhead);
    }
    p.restore();
}

void paintKeyNames(QPainter& p, const QRect& bounds, const QRect& area, const RollFrame& f) {
    const RollColours& c = coloursOf(f);
    const QRect gutter(bounds.left(), area.top(), kKeyGutter, area.height());
    p.fillRect(gutter, c.keyNames);
    p.save();
    p.setClipRect(gutter);
    QFont font = p.font();
    font.setPointSizeF(std::clamp(f.keyHeight * 0.75, 6.0, 9.0));
    const bool everyKey = f.keyHeight >= 11;
    for (int key = 0; key < 128; ++key) {
        if (!everyKey && key % 12 != 0) continue;
        const int y = f.yOfKey(area, key);
        if (y + f.keyHeight < area.top() || y > area.bottom()) continue;
        font.setBold(key == kMiddleC);
        p.setFont(font);
        p.setPen(key == kMiddleC ? c.middleCName : c.keyName);
        // Names may be taller than a row: centred on it, they spill evenly.
        const QRect row(gutter.left() + 4, y + f.keyHeight / 2 - 8, kKeyGutter - 8, 16);
        const QString text = QString::fromStdString(noteName(key)) + (key == kMiddleC ? QStringLiteral(" \u25B8") : QString());
        p.drawText(row, Qt::AlignVCenter | Qt::AlignRight, text);
    }
    p.restore();
    p.fillRect(QRect(area.left() - 1, area.top(), 1, area.height()), c.border);
}

void paintRuler(QPainter& p, const QRect& bounds, const QRect& area, const RollFrame& f,
                const std::vector<GridLine>& lines) {
    const RollColours& c = coloursOf(f);
    const QRect ruler(area.left(), bounds.top(), area.width(), kRulerHeight);
    p.fillRect(QRect(bounds.left(), bounds.top(), bounds.width(), kRulerHeight), c.ruler);
    p.save();
    p.setClipRect(ruler);
    QFont font = p.font();
    font.setPointSizeF(7.5);
    p.setFont(font);
    const int half = kRulerHeight / 2;
    // The counters at the bar lines, as far apart as their labels need.
    int lastLabel = -kLabelSpacing;
    p.setPen(c.rulerText);
    for (const GridLine& line : lines) {
        if (!line.bar) continue;
        const int x = static_cast<int>(std::floor(f.xOf(area, line.date)));
        p.fillRect(QRect(x, ruler.top() + half + 6, 1, half - 6), c.rulerTick);
        if (x - lastLabel < kLabelSpacing) continue;
        p.drawText(QRect(x + 2, ruler.top() + half, kLabelSpacing, half), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(line.counter));
        lastLabel = x;
    }
    // The events' numbers where they begin.
    if (f.notes->mode == RollMode::Composition) {
        int lastMark = INT_MIN / 2;
        for (const RollEvent& e : f.notes->events) {
            const int x = static_cast<int>(std::floor(f.xOf(area, e.date)));
            if (x > ruler.right()) break;
            if (x - lastMark < kMinEventSpacing) continue;
            p.fillRect(QRect(x, ruler.top(), 2, half), c.event);
            lastMark = x;
        }
        // The labels over the marks of the events they cover.
        int free = INT_MIN / 2;  // where the last label ends
        p.setPen(c.event);
        for (const RollEvent& e : f.notes->events) {
            const int x = static_cast<int>(std::floor(f.xOf(area, e.date)));
            if (x > ruler.right()) break;
            if (x < free) continue;
            const QString label = QStringLiteral("Event %1").arg(e.index);
            const QRect box(x + 3, ruler.top(), p.fontMetrics().horizontalAdvance(label) + 4, half);
            p.fillRect(box, c.ruler);
            p.drawText(box.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, label);
            free = box.right() + 6;
        }
    }
    if (f.playDate) {
        const int x = static_cast<int>(std::floor(f.xOf(area, *f.playDate)));
        p.fillRect(QRect(x - 1, ruler.top(), 2, kRulerHeight), kPlayhead);
    }
    p.restore();
    p.fillRect(QRect(bounds.left(), area.top() - 1, bounds.width(), 1), c.border);
}

}  // namespace

namespace {

// Each colour of the roll on a light and on a dark window, side by side.
RollColours makeColours(bool dark) {
    const auto pick = [dark](QRgb onLight, QRgb onDark) { return QColor(dark ? onDark : onLight); };
    RollColours c;
    c.keyRow = pick(0xfbfbfb, 0x1e1f22);
    c.blackKeyRow = pick(0xeeeef0, 0x27282c);
    c.middleCRow = pick(0xfff4c8, 0x3a3522);
    c.octaveLine = pick(0xc8c8d0, 0x484a52);
    c.beatLine = pick(0xe2e2e6, 0x2c2d32);
    c.barLine = pick(0xb4b4bc, 0x50525a);
    c.afterEnd = pick(0xe4e4e4, 0x141416);
    c.event = pick(0x305090, 0x7fa6e8);
    c.ruler = pick(0xf0f0f2, 0x2a2b30);
    c.rulerText = pick(0x303030, 0xdcdcdc);
    c.rulerTick = pick(0x707070, 0x9a9aa2);
    c.border = pick(0x909098, 0x5a5c66);
    c.keyNames = pick(0xf0f0f2, 0x2a2b30);
    c.keyName = pick(0x000000, 0xe6e6e6);
    c.middleCName = pick(0x905000, 0xf0c060);
    // Sixteen hues apart from each other, light enough on the dark rows and dark enough on
    // the light ones.
    constexpr std::array<std::pair<QRgb, QRgb>, kVoices> voices = {{
        {0xe6194b, 0xff6b81}, {0x2e8b3a, 0x5fd35f}, {0x4363d8, 0x7aa2ff}, {0xc75a00, 0xffa054},
        {0x911eb4, 0xc98bff}, {0x12809c, 0x4fd6f0}, {0xc42bb6, 0xf07cf0}, {0x5e7d1c, 0xb5d94a},
        {0x347a72, 0x5fd1c1}, {0x9a6324, 0xd9a066}, {0x800000, 0xe8836a}, {0x6b6b00, 0xd4d45a},
        {0x000075, 0xa3adff}, {0x707070, 0xbdbdbd}, {0x957600, 0xffd23f}, {0xc24d77, 0xff9ec4},
    }};
    for (size_t v = 0; v < voices.size(); ++v) c.voices[v] = pick(voices[v].first, voices[v].second);
    return c;
}

}  // namespace

const RollColours& RollColours::light() {
    static const RollColours colours = makeColours(false);
    return colours;
}

const RollColours& RollColours::dark() {
    static const RollColours colours = makeColours(true);
    return colours;
}

bool RollColours::darkPalette(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QColor voiceColour(int v, bool dark) {
    const auto& voices = (dark ? RollColours::dark() : RollColours::light()).voices;
    return voices[static_cast<size_t>(v) % voices.size()];
}

QRect RollFrame::noteArea(const QRect& bounds) {
    return bounds.adjusted(kKeyGutter, kRulerHeight, 0, 0);
}

int RollFrame::keyAt(const QRect& area, int y) const {
    const int row = static_cast<int>(std::floor(static_cast<double>(y - area.top() + yScroll) / keyHeight));
    return 127 - row;
}

void paintRoll(QPainter& p, const QRect& bounds, const RollFrame& f) {
    const QRect area = RollFrame::noteArea(bounds);
    paintKeyRows(p, area, f);
    if (f.notes == nullptr) return;
    const double from = f.dateAt(area, area.left());
    const double to = f.dateAt(area, area.right() + 1);
    const std::vector<GridLine> lines = f.notes->gridLines(
        static_cast<int32_t>(std::floor(std::max(0.0, from))), static_cast<int32_t>(std::ceil(to)) + 1,
        kMinLineSpacing / f.pixelsPerTick);
    p.save();
    p.setClipRect(area);
    paintGrid(p, area, f, lines);
    p.restore();
    paintNotes(p, area, f);
    paintKeyNames(p, bounds, area, f);
    paintRuler(p, bounds, area, f, lines);
}

}  // namespace tarrowin::app
