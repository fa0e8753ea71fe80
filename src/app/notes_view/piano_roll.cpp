#include "piano_roll.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSvgGenerator>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/accessibility.h"
#include "app/output_files.h"

namespace tarrowin::app {

namespace {

constexpr int kMinKeyHeight = 3;
constexpr int kMaxKeyHeight = 18;
// Where a playhead that left the view is put again: this part of the width from the left.
constexpr double kFollowMargin = 0.1;

}  // namespace

PianoRoll::PianoRoll(QWidget* parent) : QAbstractScrollArea(parent) {
    shown_.fill(true);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 200);
    nameControl(this, QStringLiteral("Piano roll"));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncing_) firstTick_ = value / pixelsPerTick_;
    });
    updateScrollBars();
}

void PianoRoll::setNotes(std::shared_ptr<const RollNotes> notes) {
    const auto keys = [](const RollNotes* n) { return n ? std::pair(n->lowestKey, n->highestKey) : std::pair(0, -1); };
    const bool newKeys = keys(notes_.get()) != keys(notes.get());
    notes_ = std::move(notes);
    if (fitted_) {
        fit();
    } else {
        if (newKeys) fitKeys();  // notes on keys that were not struck before are brought into sight
        updateScrollBars();
        viewport()->update();
    }
}

void PianoRoll::setShown(int v, bool shown) {
    shown_[static_cast<size_t>(v)] = shown;
    viewport()->update();
}

double PianoRoll::fitPixelsPerTick() const {
    const int length = notes_ ? notes_->length : 0;
    return std::max(1, area().width()) / static_cast<double>(std::max(1, length));
}

void PianoRoll::zoomIn() { zoomBy(kZoomStep, area().left() + area().width() / 2); }
void PianoRoll::zoomOut() { zoomBy(1.0 / kZoomStep, area().left() + area().width() / 2); }

void PianoRoll::zoomBy(double factor, int anchorX) {
    const double least = fitPixelsPerTick();
    const double most = std::max(kMaxPixelsPerTick, least);
    const double next = std::clamp(pixelsPerTick_ * factor, least, most);
    if (next == pixelsPerTick_) return;
    const double anchor = frame().dateAt(area(), anchorX);
    pixelsPerTick_ = next;
    fitted_ = next <= least;
    firstTick_ = anchor - (anchorX - area().left()) / pixelsPerTick_;
    updateScrollBars();
    viewport()->update();
}

void PianoRoll::fit() {
    fitted_ = true;
    pixelsPerTick_ = fitPixelsPerTick();
    firstTick_ = 0.0;
    fitKeys();
    updateScrollBars();
    viewport()->update();
}

void PianoRoll::setZoom(double pixelsPerTick) {
    if (!(pixelsPerTick > 0.0)) {
        fit();
        return;
    }
    const double least = fitPixelsPerTick();
    pixelsPerTick_ = std::clamp(pixelsPerTick, least, std::max(kMaxPixelsPerTick, least));
    fitted_ = pixelsPerTick_ <= least;
    updateScrollBars();
    viewport()->update();
}

void PianoRoll::fitKeys() {
    const int low = notes_ && notes_->highestKey >= 0 ? notes_->lowestKey : kMiddleC - 6;
    const int high = notes_ && notes_->highestKey >= 0 ? notes_->highestKey : kMiddleC + 6;
    const int span = high - low + 3;  // a key of room above and below
    keyHeight_ = std::clamp(area().height() / span, kMinKeyHeight, kMaxKeyHeight);
    // The range in the middle of the height.
    const int middle = (127 - (high + low) / 2) * keyHeight_ + keyHeight_ / 2;
    yScroll_ = middle - area().height() / 2;
}

void PianoRoll::setFirstTick(double tick) {
    firstTick_ = tick;
    updateScrollBars();
    viewport()->update();
}

void PianoRoll::updateScrollBars() {
    syncing_ = true;
    const QRect a = area();
    const double length = notes_ ? notes_->length : 0;
    const int width = static_cast<int>(std::min(1e9, std::ceil(length * pixelsPerTick_)));
    const int hMax = std::max(0, width - a.width());
    firstTick_ = std::clamp(firstTick_, 0.0, hMax / pixelsPerTick_);
    horizontalScrollBar()->setRange(0, hMax);
    horizontalScrollBar()->setPageStep(std::max(1, a.width()));
    horizontalScrollBar()->setSingleStep(std::max(1, a.width() / 20));
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(firstTick_ * pixelsPerTick_)));
    const int vMax = std::max(0, 128 * keyHeight_ - a.height());
    yScroll_ = std::clamp(yScroll_, 0, vMax);
    verticalScrollBar()->setRange(0, vMax);
    verticalScrollBar()->setPageStep(std::max(1, a.height()));
    verticalScrollBar()->setSingleStep(keyHeight_);
    verticalScrollBar()->setValue(yScroll_);
    syncing_ = false;
}

void PianoRoll::scrollContentsBy(int, int) {
    if (!syncing_) yScroll_ = verticalScrollBar()->value();
    viewport()->update();
}

void PianoRoll::setPlayDate(std::optional<int32_t> date) {
    if (date == playDate_) return;
    playDate_ = date;
    if (date) {
        const QRect a = area();
        const double x = frame().xOf(a, *date);
        if (x < a.left() || x > a.right() - 8) setFirstTick(*date - kFollowMargin * a.width() / pixelsPerTick_);
    }
    viewport()->update();
}

RollFrame PianoRoll::frame() const {
    RollFrame f;
    f.notes = notes_.get();
    f.shown = shown_;
    f.pixelsPerTick = pixelsPerTick_;
    f.firstTick = firstTick_;
    f.keyHeight = keyHeight_;
    f.yScroll = yScroll_;
    f.playDate = playDate_;
    f.dark = RollColours::darkPalette(palette());
    return f;
}

QString PianoRoll::textAt(QPoint point) const {
    const QRect a = area();
    if (!notes_ || !a.contains(point)) return {};
    const RollFrame f = frame();
    const auto date = static_cast<int32_t>(std::floor(f.dateAt(a, point.x())));
    const int key = f.keyAt(a, point.y());
    if (date < 0 || date >= notes_->length || key < 0 || key > 127) return {};
    const int v = notes_->voiceAt(date, key, shown_);
    if (v < 0) return {};
    return QString::fromStdString(notes_->describe(v, *notes_->noteAt(v, date), percussionChannel_));
}

void PianoRoll::setHover(const QString& text) {
    if (text == hoverText_) return;
    hoverText_ = text;
    Q_EMIT hovered(text);
}

void PianoRoll::mouseMoveEvent(QMouseEvent* event) {
    const QString text = textAt(event->position().toPoint());
    setHover(text);
    if (text.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPosition().toPoint(), text, viewport());
    }
}

void PianoRoll::leaveEvent(QEvent* event) {
    setHover({});
    QAbstractScrollArea::leaveEvent(event);
}

void PianoRoll::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y();
    if (steps != 0) zoomBy(std::pow(kZoomStep, steps / 120.0), event->position().toPoint().x());
    event->accept();
}

void PianoRoll::keyPressEvent(QKeyEvent* event) {
    // Home and End go to the beginning and the end of the run.
    if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End) {
        horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Home ? QAbstractSlider::SliderToMinimum
                                                                          : QAbstractSlider::SliderToMaximum);
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void PianoRoll::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (fitted_) {
        fit();
    } else {
        pixelsPerTick_ = std::max(pixelsPerTick_, fitPixelsPerTick());
        updateScrollBars();
    }
}

void PianoRoll::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    paintRoll(p, viewport()->rect(), frame());
}

bool PianoRoll::saveImage(const QString& path, QString* error) const {
    const QRect bounds = viewport()->rect();
    const RollFrame f = frame();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(bounds.size());
        svg.setViewBox(bounds);
        svg.setTitle(QStringLiteral("Notes"));
        QPainter p(&svg);
        paintRoll(p, bounds, f);
    } else {
        QImage image(bounds.size(), QImage::Format_RGB32);
        image.fill((f.dark ? RollColours::dark() : RollColours::light()).keyRow);
        {
            QPainter p(&image);
            paintRoll(p, bounds, f);
        }
        if (!image.save(&buffer, "PNG")) {
            *error = QStringLiteral("the picture could not be encoded as PNG");
            return false;
        }
    }
    *error = writeOutput(path, bytes);
    return error->isEmpty();
}

}  // namespace tarrowin::app
