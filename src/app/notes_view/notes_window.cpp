#include "notes_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/accessibility.h"
#include "app/output_files.h"
#include "app/qt_prompter.h"
#include "app/workspace.h"
#include "piano_roll.h"
#include "voice_legend.h"

namespace tarrowin::app {

namespace {

const QString kHint = QStringLiteral("Point at a note to see it. Ctrl+wheel zooms.");
const QString kPngFilter = QStringLiteral("PNG images (*.png)");
const QString kSvgFilter = QStringLiteral("SVG images (*.svg)");

QPushButton* addButton(QHBoxLayout* row, const QString& text, const QString& tip, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setToolTip(tip);
    row->addWidget(b);
    return b;
}

size_t soundingNotes(const RollNotes& notes) {
    size_t n = 0;
    for (const auto& voice : notes.voices) {
        for (const RollNote& note : voice) n += note.off ? 0 : 1;
    }
    return n;
}

}  // namespace

NotesWindow::NotesWindow(Workspace& workspace, QWidget* parent)
    : QWidget(parent, Qt::Window), ws_(workspace), computation_(this) {
    setWindowTitle(QStringLiteral("Notes"));
    setObjectName(QStringLiteral("NotesWindow"));
    resize(QSize(960, 560).boundedTo(screen()->availableSize()));

    auto* top = new QHBoxLayout;
    QPushButton* in = addButton(top, QStringLiteral("Zoom &In"), QStringLiteral("Zoom in (Ctrl++)"), this);
    QPushButton* out = addButton(top, QStringLiteral("Zoom &Out"), QStringLiteral("Zoom out (Ctrl+-)"), this);
    QPushButton* fit = addButton(top, QStringLiteral("&Fit"), QStringLiteral("Fit the whole piece (Ctrl+0)"), this);
    QPushButton* save = addButton(top, QStringLiteral("&Save Image..."),
                                  QStringLiteral("Save what the view shows as PNG or SVG"), this);
    summary_ = new QLabel(this);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setWordWrap(true);  // a long summary takes a second line, never a wider window
    top->addStretch(1);

    legend_ = new VoiceLegend(this);
    roll_ = new PianoRoll(this);
    hover_ = new QLabel(kHint, this);
    describeControl(hover_, QStringLiteral("Note under the pointer"));  // its name is its text

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(summary_);
    layout->addWidget(legend_);
    layout->addWidget(roll_, 1);
    layout->addWidget(hover_);

    // The shortcuts of the window; the buttons do the same.
    const auto shortcut = [this](const QList<QKeySequence>& keys, auto&& fn) {
        auto* a = new QAction(this);
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, fn);
        addAction(a);
    };
    shortcut({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)}, [this] { roll_->zoomIn(); });
    shortcut({QKeySequence::ZoomOut}, [this] { roll_->zoomOut(); });
    shortcut({QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { roll_->fit(); });
    shortcut({QKeySequence::Save}, [this] { saveImage(); });
    shortcut({QKeySequence(Qt::Key_Escape)}, [this] { close(); });
    connect(in, &QPushButton::clicked, roll_, &PianoRoll::zoomIn);
    connect(out, &QPushButton::clicked, roll_, &PianoRoll::zoomOut);
    connect(fit, &QPushButton::clicked, roll_, &PianoRoll::fit);
    connect(save, &QPushButton::clicked, this, &NotesWindow::saveImage);
    connect(legend_, &VoiceLegend::shownChanged, roll_, &PianoRoll::setShown);
    connect(roll_, &PianoRoll::hovered, this, [this](const QString& text) { hover_->setText(text.isEmpty() ? kHint : text); });
    connect(&computation_, &RollComputation::ready, this, &NotesWindow::showNotes);

    playhead_ = new QTimer(this);
    playhead_->setInterval(kPlayheadIntervalMs);
    connect(playhead_, &QTimer::timeout, this, &NotesWindow::followPlayhead);

    connect(&ws_.document, &DocumentController::changed, this, &NotesWindow::refresh);
    connect(&ws_.document, &DocumentController::replaced, this, &NotesWindow::refresh);
    connect(&ws_.playback, &PlaybackController::stateChanged, this, &NotesWindow::refresh);
    // The End counter a live play left is in the document by then.
    connect(&ws_.session, &PlaySession::playEnded, this, [this] {
        if (!liveEnd_) return;
        liveEnd_.reset();
        refresh();
    });
}

RollInput NotesWindow::input() const {
    const CTarrowinDoc& doc = ws_.document.doc();
    RollInput in;
    in.percussionChannel = ws_.playback.output().percussionChannel();
    in.tuning = doc.sharedTuning();
    if (ws_.playback.playMode() == PlayMode::Composition) {
        in.mode = RollMode::Composition;
        in.events = doc.composition().events();
    } else {
        in.current = doc.current();
        if (liveEnd_) in.current.global.endCounter = std::max(in.current.global.endCounter, *liveEnd_);
    }
    return in;
}

bool NotesWindow::playsOnPastEnd() const {
    const PlaybackController& p = ws_.playback;
    return p.isPlaying() && p.runningMode() == PerformanceMode::Live && !p.locked() &&
           p.playMode() == PlayMode::CurrentSettings;
}

void NotesWindow::reachAheadOfPlay() {
    if (!playsOnPastEnd()) return;
    const int32_t shownTo = std::max(ws_.document.doc().global().endCounter, liveEnd_.value_or(0));
    const int32_t position = ws_.playback.position();
    if (shownTo >= kMaxCounter || position + kLookaheadTicks / 2 <= shownTo) return;
    const double visibleTicks = RollFrame::noteArea(roll_->viewport()->rect()).width() / roll_->pixelsPerTick();
    const double ahead = std::max<double>(kLookaheadTicks, visibleTicks);
    liveEnd_ = static_cast<int32_t>(std::min<double>(kMaxCounter, position + ahead));
    refresh();
}

void NotesWindow::refresh() {
    if (!isVisible()) return;
    RollInput in = input();
    if (computed_ && *computed_ == in) return;
    computed_ = in;
    computation_.request(std::move(in));
    // A long piece says that it is on its way; a short one is back before this shows.
    QTimer::singleShot(150, this, [this] {
        if (computing()) summary_->setText(QStringLiteral("Computing the notes..."));
    });
}

void NotesWindow::showNotes(std::shared_ptr<const RollNotes> notes) {
    roll_->setPercussionChannel(computed_ ? computed_->percussionChannel : kDefaultPercussionChannel);
    roll_->setNotes(notes);
    if (!zoomRestored_) {
        // The zoom the view had when it was last closed, in this run or an earlier one.
        zoomRestored_ = true;
        roll_->setZoom(ws_.preferences.notesZoom());
    }
    summary_->setText(summary());
    followPlayhead();
    Q_EMIT notesShown();
}

QString NotesWindow::summary() const {
    const RollNotes* notes = roll_->notes();
    if (notes == nullptr) return {};
    QString count = QStringLiteral("%1 notes").arg(soundingNotes(*notes));
    if (notes->truncated) count += QStringLiteral(" (too many to show: the first %1 ticks only)").arg(notes->length);
    if (notes->randomModulation) count += QStringLiteral(" (random modulation: one draw of many)");
    if (notes->mode == RollMode::Composition) {
        if (notes->events.empty()) return QStringLiteral("Composition: no events");
        return QStringLiteral("Composition, %1 events, %2 ticks: %3").arg(notes->events.size()).arg(notes->length).arg(count);
    }
    const GlobalSettings& g = computed_ ? computed_->current.global : GlobalSettings{};
    if (liveEnd_ && g.endCounter > g.startCounter) {
        return QStringLiteral("Current Settings, counters %1 to %2 (playing on past End): %3")
            .arg(g.startCounter)
            .arg(g.endCounter)
            .arg(count);
    }
    if (g.endCounter <= g.startCounter) {
        return QStringLiteral("Current Settings: the End counter (%1) is not above the Start counter (%2)")
            .arg(g.endCounter)
            .arg(g.startCounter);
    }
    return QStringLiteral("Current Settings, counters %1 to %2: %3").arg(g.startCounter).arg(g.endCounter).arg(count);
}

void NotesWindow::setPlaying(bool playing) {
    if (playing && !playhead_->isActive()) playhead_->start();
    if (!playing) playhead_->stop();
    followPlayhead();
}

void NotesWindow::followPlayhead() {
    reachAheadOfPlay();
    const PlaybackController& p = ws_.playback;
    const RollNotes* notes = roll_->notes();
    if (notes == nullptr || !p.isPlaying() || p.currentEvent() < 0) {
        roll_->setPlayDate(std::nullopt);
        return;
    }
    const bool live = p.runningMode() == PerformanceMode::Live;
    if (live != (notes->mode == RollMode::CurrentSettings)) {
        roll_->setPlayDate(std::nullopt);
        return;
    }
    // The position is the next tick to play; the one sounding now is just before it.
    const int32_t position = p.position();
    std::optional<int32_t> date = notes->dateOf(p.currentEvent(), position - 1);
    if (!date) date = notes->dateOf(p.currentEvent(), position);
    roll_->setPlayDate(date);
}

void NotesWindow::saveImage() {
    const QString path = askOutputPath(this, QStringLiteral("Save Notes Image"), QString(), QString(),
                                       {{kPngFilter, QStringLiteral("png")}, {kSvgFilter, QStringLiteral("svg")}});
    if (path.isEmpty()) return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg")) {
        showMessage(this, QStringLiteral("Images are written as PNG or SVG: choose a name that ends in .png or .svg"),
                    QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }
    QString error;
    if (!roll_->saveImage(path, &error)) {
        showMessage(this, QStringLiteral("Could not save %1: %2").arg(path, error), QStringLiteral("Tarrowin"),
                    MessageIcon::Exclamation);
    }
}

void NotesWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void NotesWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (zoomRestored_) ws_.preferences.setNotesZoom(roll_->fitted() ? 0.0 : roll_->pixelsPerTick());
}

void NotesWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Settings that tell no one when they change (the percussion channel) are looked at
    // again when the user comes back to the window.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) refresh();
}

void NotesWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    Q_EMIT closed();
}

}  // namespace tarrowin::app
