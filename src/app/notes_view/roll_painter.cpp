#include "roll_painter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "engine/tables.h"

namespace tarrowin::app {

namespace {

constexpr std::array<QRgb, kVoices> kVoiceColours = {
    0xe6194b, 0x3cb44b, 0x4363d8, 0xf58231, 0x911eb4, 0x1fa9c9, 0xd62fc8, 0x7da52a,
    0x469990, 0x9a6324, 0x800000, 0x808000, 0x000075, 0x707070, 0xc9a100, 0xd87093,
};
// A voice that is off is drawn with this much of its colour.
constexpr int kOffAlpha = 70;
// Notes at least this wide get an outline.
constexpr int kOutlinedWidth = 4;
// Beat lines are left out when closer than this, bars are thinned to keep it.
constexpr double kMinLineSpacing = 6.0;
constexpr int kLabelSpacing = 56;

bool blackKey(int key) {
    switch (key % 12) {
        case 1: case 3: case 6: case 8: case 10: return true;
        default: return false;
    }
}

// The notes of one voice, with the notes narrower than a few pixels gathered per key into
// runs of touching pixels: a zoomed-out roll draws one rectangle per run, not per note.
class VoiceStrokes {
   public:
    VoiceStrokes(QPainter& p, const RollFrame& f, const QRect& area, int v) : p_(p), f_(f), area_(area) {
        on_ = voiceColour(v);
        off_ = on_;
        off_.setAlpha(kOffAlpha);
        outline_ = on_.darker(160);
        runs_.fill({0, -1});
    }
    ~VoiceStrokes() {
        for (size_t i = 0; i < runs_.size(); ++i) flush(i);
    }

    void add(const RollNote& n) {
        const int y = f_.yOfKey(area_, n.key);
        if (y + f_.keyHeight < area_.top() || y > area_.bottom()) return;
        const double left = std::max<double>(area_.left() - 2, f_.xOf(area_, n.start));
        const double right = std::min<double>(area_.right() + 2, f_.xOf(area_, n.end));
        const int x0 = static_cast<int>(std::floor(left));
        const int x1 = std::max(x0 + 1, static_cast<int>(std::floor(right)));
        if (x1 - x0 >= kOutlinedWidth) {
            const QRect r(x0, y, x1 - x0, f_.keyHeight);
            p_.fillRect(r, n.off ? off_ : on_);
            if (f_.keyHeight >= 4) {
                p_.setPen(n.off ? off_ : outline_);
                p_.setBrush(Qt::NoBrush);
                p_.drawRect(r.adjusted(0, 0, -1, -1));
            }
            return;
        }
        const size_t slot = static_cast<size_t>(n.key) * 2 + (n.off ? 1 : 0);
        Run& run = runs_[slot];
        if (run.end >= x0) {
            run.end = std::max(run.end, x1);
            return;
        }
        flush(slot);
        run = {x0, x1};
    }

   private:
    struct Run {
        int start;
        int end;
    };
    void flush(size_t slot) {
        Run& run = runs_[slot];
        if (run.end <= run.start) return;
        const int key = static_cast<int>(slot / 2);
        p_.fillRect(QRect(run.start, f_.yOfKey(area_, key), run.end - run.start, f_.keyHeight),
                    slot % 2 ? off_ : on_);
        run = {0, -1};
    }

    QPainter& p_;
    const RollFrame& f_;
    const QRect& area_;
    QColor on_, off_, outline_;
    std::array<Run, 256> runs_{};
};

void paintKeyRows(QPainter& p, const QRect& area, const RollFrame& f) {
    p.save();
    p.setClipRect(area);
    p.fillRect(area, QColor(0xfb, 0xfb, 0xfb));
    for (int key = 0; key < 128; ++key) {
        const int y = f.yOfKey(area, key);
        if (y + f.keyHeight < area.top() || y > area.bottom()) continue;
        const QRect row(area.left(), y, area.width(), f.keyHeight);
        if (key == kMiddleC) {
            p.fillRect(row, QColor(0xff, 0xf4, 0xc8));
        } else if (blackKey(key)) {
            p.fillRect(row, QColor(0xee, 0xee, 0xf0));
        }
        if (key % 12 == 0) p.fillRect(QRect(area.left(), y + f.keyHeight - 1, area.width(), 1), QColor(0xc8, 0xc8, 0xd0));
    }
    p.restore();
}

void paintGrid(QPainter& p, const QRect& area, const RollFrame& f, const std::vector<GridLine>& lines) {
    for (const GridLine& line : lines) {
        const int x = static_cast<int>(std::floor(f.xOf(area, line.date)));
        p.fillRect(QRect(x, area.top(), 1, area.height()), line.bar ? QColor(0xb4, 0xb4, 0xbc) : QColor(0xe2, 0xe2, 0xe6));
    }
    // Each event's beginning, and the end of the run.
    const RollNotes& notes = *f.notes;
    for (const RollEvent& e : notes.events) {
        const int x = static_cast<int>(std::floor(f.xOf(area, e.date)));
        p.fillRect(QRect(x, area.top(), 2, area.height()), QColor(0x30, 0x50, 0x90));
    }
    const int end = static_cast<int>(std::floor(f.xOf(area, notes.length)));
    if (end < area.right()) p.fillRect(QRect(end, area.top(), area.right() - end + 1, area.height()), QColor(0xe4, 0xe4, 0xe4));
}

void paintNotes(QPainter& p, const QRect& area, const RollFrame& f) {
    const RollNotes& notes = *f.notes;
    const auto from = static_cast<int32_t>(std::floor(f.dateAt(area, area.left())));
    const auto to = static_cast<int32_t>(std::ceil(f.dateAt(area, area.right() + 1))) + 1;
    p.save();
    p.setClipRect(area);
    // The voices that are off first, so that what sounds lies on top.
    for (const bool off : {true, false}) {
        for (int v = 0; v < kVoices; ++v) {
            if (!f.shown[static_cast<size_t>(v)]) continue;
            VoiceStrokes strokes(p, f, area, v);
            for (const RollNote& n : notes.notesIn(v, from, to)) {
                if (n.off == off) strokes.add(n);
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
            p.fillRect(r, voiceColour(v).lighter(120));
        }
        const int x = static_cast<int>(std::floor(f.xOf(area, *f.playDate)));
        p.fillRect(QRect(x - 1, area.top(), 2, area.height()), QColor(0xd0, 0x10, 0x10));
    }
    p.restore();
}

void paintKeyNames(QPainter& p, const QRect& bounds, const QRect& area, const RollFrame& f) {
    const QRect gutter(bounds.left(), area.top(), kKeyGutter, area.height());
    p.fillRect(gutter, QColor(0xf0, 0xf0, 0xf2));
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
        p.setPen(key == kMiddleC ? QColor(0x90, 0x50, 0x00) : Qt::black);
        // Names may be taller than a row: centred on it, they spill evenly.
        const QRect row(gutter.left() + 4, y + f.keyHeight / 2 - 8, kKeyGutter - 8, 16);
        const QString text = QString::fromStdString(noteName(key)) + (key == kMiddleC ? QStringLiteral(" \u25B8") : QString());
        p.drawText(row, Qt::AlignVCenter | Qt::AlignRight, text);
    }
    p.restore();
    p.fillRect(QRect(area.left() - 1, area.top(), 1, area.height()), QColor(0x90, 0x90, 0x98));
}

void paintRuler(QPainter& p, const QRect& bounds, const QRect& area, const RollFrame& f,
                const std::vector<GridLine>& lines) {
    const QRect ruler(area.left(), bounds.top(), area.width(), kRulerHeight);
    p.fillRect(QRect(bounds.left(), bounds.top(), bounds.width(), kRulerHeight), QColor(0xf0, 0xf0, 0xf2));
    p.save();
    p.setClipRect(ruler);
    QFont font = p.font();
    font.setPointSizeF(7.5);
    p.setFont(font);
    const int half = kRulerHeight / 2;
    // The counters at the bar lines, as far apart as their labels need.
    int lastLabel = INT32_MIN;
    p.setPen(QColor(0x30, 0x30, 0x30));
    for (const GridLine& line : lines) {
        if (!line.bar) continue;
        const int x = static_cast<int>(std::floor(f.xOf(area, line.date)));
        p.fillRect(QRect(x, ruler.top() + half + 6, 1, half - 6), QColor(0x70, 0x70, 0x70));
        if (x - lastLabel < kLabelSpacing) continue;
        p.drawText(QRect(x + 2, ruler.top() + half, kLabelSpacing, half), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(line.counter));
        lastLabel = x;
    }
    // The events' numbers where they begin.
    if (f.notes->mode == RollMode::Composition) {
        lastLabel = INT32_MIN;
        p.setPen(QColor(0x30, 0x50, 0x90));
        for (const RollEvent& e : f.notes->events) {
            const int x = static_cast<int>(std::floor(f.xOf(area, e.date)));
            if (x > ruler.right()) break;
            p.fillRect(QRect(x, ruler.top(), 2, half), QColor(0x30, 0x50, 0x90));
            if (x - lastLabel < kLabelSpacing) continue;
            p.drawText(QRect(x + 4, ruler.top(), kLabelSpacing * 2, half), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("Event %1").arg(e.index));
            lastLabel = x;
        }
    }
    if (f.playDate) {
        const int x = static_cast<int>(std::floor(f.xOf(area, *f.playDate)));
        p.fillRect(QRect(x - 1, ruler.top(), 2, kRulerHeight), QColor(0xd0, 0x10, 0x10));
    }
    p.restore();
    p.fillRect(QRect(bounds.left(), area.top() - 1, bounds.width(), 1), QColor(0x90, 0x90, 0x98));
}

}  // namespace

QColor voiceColour(int v) { return QColor(kVoiceColours[static_cast<size_t>(v) % kVoiceColours.size()]); }

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
