#pragma once
// Paints a piano roll of RollNotes with QPainter: the key names on the left, the counters
// and event numbers on top, the beat and bar lines, the notes of the voices shown and the
// playhead. One routine serves the screen, PNG and SVG.

#include <QColor>
#include <QRect>
#include <array>
#include <optional>

#include "reports/notes_model.h"

class QPainter;
class QPalette;

namespace tarrowin::app {

// The colours of the roll: light ones for a light window, dark ones for a dark one. Each
// voice's colour stands out from every key row by at least the 3:1 contrast asked of
// graphics that carry meaning.
struct RollColours {
    QColor keyRow, blackKeyRow, middleCRow, octaveLine;
    QColor beatLine, barLine, afterEnd, event;
    QColor ruler, rulerText, rulerTick, border;
    QColor keyNames, keyName, middleCName;
    std::array<QColor, kVoices> voices;

    static const RollColours& light();
    static const RollColours& dark();
    // The dark colours when the palette's windows are darker than their text.
    static bool darkPalette(const QPalette& palette);
};

// The colour of voice v (0..15) in the roll and its legend.
QColor voiceColour(int v, bool dark = false);

// Where the roll is looked at from.
struct RollFrame {
    const RollNotes* notes = nullptr;
    std::array<bool, kVoices> shown{};
    double pixelsPerTick = 1.0;
    double firstTick = 0.0;  // the tick at the left edge of the notes
    int keyHeight = 8;       // pixels of one key row
    int yScroll = 0;         // pixels of key rows scrolled away above (key 127 is row 0)
    std::optional<int32_t> playDate;  // the playhead; the notes sounding there are highlighted
    bool dark = false;                // the dark colours

    // The part of `bounds` where notes are drawn: below the ruler, right of the key names.
    static QRect noteArea(const QRect& bounds);
    double xOf(const QRect& area, double date) const { return area.left() + (date - firstTick) * pixelsPerTick; }
    double dateAt(const QRect& area, int x) const { return firstTick + (x - area.left()) / pixelsPerTick; }
    int yOfKey(const QRect& area, int key) const { return area.top() + (127 - key) * keyHeight - yScroll; }
    // The key under a point of the notes area (may lie outside 0..127).
    int keyAt(const QRect& area, int y) const;
};

inline constexpr int kKeyGutter = 52;
inline constexpr int kRulerHeight = 30;
inline constexpr int kMiddleC = 60;

void paintRoll(QPainter& painter, const QRect& bounds, const RollFrame& frame);

}  // namespace tarrowin::app
