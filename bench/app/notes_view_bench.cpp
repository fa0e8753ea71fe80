// The notes view's figures: the notes of the largest current-settings passage (Start 0, End
// 50000, 16 voices striking every tick: 800 000 notes) computed, a full redraw of the visible
// part of the roll (fitted to the window, and zoomed in), and a 1000-event composition's view
// ready (notes computed and first drawn). Wall-clock time, best of N. Prints each figure
// beside its target and exits non-zero when one is missed.
//
//   app_notes_view_bench [--repeat N] [--shots DIR]   (DIR: the drawn rolls as PNG)
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include "app/notes_view/roll_painter.h"
#include "engine/tables.h"
#include "reports/notes_model.h"

using namespace tarrowin;
using namespace tarrowin::app;

namespace {

const QSize kView(1600, 900);

double bestMs(int repeat, const std::function<void()>& fn) {
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer t;
        t.start();
        fn();
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

// Every voice on, every algorithm, striking every tick.
Settings densePassage() {
    Settings s = Settings::defaults();
    s.global.startCounter = 0;
    s.global.endCounter = kMaxCounter;
    std::mt19937 rng(7);
    for (int v = 0; v < kVoices; ++v) {
        VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
        voice.enabled = 1;
        voice.tied = 0;
        voice.setAlgorithm(static_cast<Algorithm>(v % kAlgorithms));
        voice.setNoteValue(5, 0.0f);  // a 32nd note: one tick
        voice.setOctaves(v % 4);
        voice.param1 = 2 + static_cast<int32_t>(rng() % 99);
        voice.param2 = 1 + static_cast<int32_t>(rng() % 100);
    }
    return s;
}

// As the Randomizer's Create makes them: 1000 events of 50..199 ticks, random voices.
std::vector<Settings> randomComposition() {
    std::mt19937 rng(11);
    const auto below = [&rng](int n) { return static_cast<int32_t>(rng() % static_cast<unsigned>(n)); };
    std::vector<Settings> events(1000, Settings::defaults());
    for (Settings& e : events) {
        e.global.startCounter = below(49000);
        e.global.endCounter = e.global.startCounter + 50 + below(150);
        for (VoiceSettings& v : e.voices) {
            v.enabled = below(2);
            v.tied = below(2);
            v.setAlgorithm(static_cast<Algorithm>(below(kAlgorithms)));
            v.setNoteValue(below(11), 0.0f);
            v.setOctaves(below(4));
            v.param1 = 2 + below(99);
            v.param2 = 1 + below(100);
        }
    }
    return events;
}

// The frame of a roll fitted to the view, or zoomed in to `pixelsPerTick` in its middle.
RollFrame frameFor(const RollNotes& notes, double pixelsPerTick = 0.0) {
    const QRect area = RollFrame::noteArea(QRect(QPoint(0, 0), kView));
    RollFrame f;
    f.notes = &notes;
    f.shown.fill(true);
    f.pixelsPerTick = pixelsPerTick > 0 ? pixelsPerTick : area.width() / double(std::max(1, notes.length));
    f.firstTick = pixelsPerTick > 0 ? notes.length / 2.0 : 0.0;
    f.keyHeight = std::clamp(area.height() / (notes.highestKey - notes.lowestKey + 3), 3, 18);
    f.yScroll = (127 - notes.highestKey - 1) * f.keyHeight;
    f.playDate = static_cast<int32_t>(f.firstTick + 20);
    return f;
}

double drawMs(int repeat, const RollFrame& f, const char* shots, const char* name) {
    QImage image(kView, QImage::Format_ARGB32_Premultiplied);
    const double ms = bestMs(repeat, [&] {
        QPainter p(&image);
        paintRoll(p, image.rect(), f);
    });
    if (shots) image.save(QStringLiteral("%1/%2.png").arg(QString::fromLocal8Bit(shots), QString::fromLatin1(name)));
    return ms;
}

bool report(const char* what, double ms, double target) {
    const bool met = ms < target;
    std::printf("  %-58s %9.1f ms   target < %5.0f ms: %s\n", what, ms, target, met ? "met" : "MISSED");
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int repeat = 10;
    const char* shots = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--shots") == 0) shots = argv[++i];
    }
    bool met = true;

    const Settings dense = densePassage();
    std::optional<RollNotes> notes;
    const double computeMs = bestMs(repeat, [&] { notes = computeRollNotes(RollMode::CurrentSettings, dense, {}); });
    std::printf("(a) current settings, Start 0..End 50000, 16 voices at note value 1: %zu notes\n", notes->count());
    met &= report("notes computed", computeMs, 300);
    std::printf("(b) full redraw of the visible part, %dx%d pixels\n", kView.width(), kView.height());
    met &= report("fitted to the window: all 50000 ticks", drawMs(repeat, frameFor(*notes), shots, "dense-fitted"), 16);
    met &= report("zoomed in: 8 pixels per tick", drawMs(repeat, frameFor(*notes, 8.0), shots, "dense-zoomed"), 16);

    const std::vector<Settings> events = randomComposition();
    std::optional<RollNotes> composition;
    QImage image(kView, QImage::Format_ARGB32_Premultiplied);
    const double readyMs = bestMs(repeat, [&] {
        composition = computeRollNotes(RollMode::Composition, Settings::defaults(), events);
        QPainter p(&image);
        paintRoll(p, image.rect(), frameFor(*composition));
    });
    if (shots) image.save(QStringLiteral("%1/composition-fitted.png").arg(QString::fromLocal8Bit(shots)));
    std::printf("(c) 1000-event composition, %d ticks: %zu notes\n", composition->length, composition->count());
    met &= report("view ready: notes computed and drawn", readyMs, 1000);
    return met ? 0 : 1;
}
