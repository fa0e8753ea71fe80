#pragma once
// The piano roll widget: the notes of a RollNotes on a scrolling, zooming surface, with the
// voices of the legend shown or hidden, a playhead that the view keeps in sight, the text of
// the note under the pointer, and the visible part saved as PNG or SVG.

#include <QAbstractScrollArea>
#include <memory>
#include <optional>

#include "roll_painter.h"

namespace tarrowin::app {

class PianoRoll : public QAbstractScrollArea {
    Q_OBJECT
   public:
    static constexpr double kMaxPixelsPerTick = 32.0;
    static constexpr double kZoomStep = 1.25;

    explicit PianoRoll(QWidget* parent = nullptr);

    // New notes; a roll that was fitted to the window stays fitted, a zoomed one keeps its zoom
    // (and its place among the keys while they are the same keys).
    void setNotes(std::shared_ptr<const RollNotes> notes);
    const RollNotes* notes() const { return notes_.get(); }
    void setPercussionChannel(int32_t channel) { percussionChannel_ = channel; }

    void setShown(int v, bool shown);
    bool isShown(int v) const { return shown_[static_cast<size_t>(v)]; }

    void zoomIn();
    void zoomOut();
    // The whole run across the width, its keys down the height.
    void fit();
    // Whether the roll shows the whole run across its width (and keeps doing so).
    bool fitted() const { return fitted_; }
    // Zooms to `pixelsPerTick` (kept between the whole run's width and the closest zoom);
    // 0 fits.
    void setZoom(double pixelsPerTick);
    // Zooms the time axis by `factor`, keeping the tick under viewport x where it is.
    void zoomBy(double factor, int anchorX);
    double pixelsPerTick() const { return pixelsPerTick_; }
    double firstTick() const { return firstTick_; }
    int keyHeight() const { return keyHeight_; }

    // The playhead (none: hidden); the view scrolls to keep it in sight.
    void setPlayDate(std::optional<int32_t> date);
    std::optional<int32_t> playDate() const { return playDate_; }

    // The description of the note under a point of the viewport, empty when none.
    QString textAt(QPoint point) const;
    QString hoverText() const { return hoverText_; }

    RollFrame frame() const;
    // Writes the visible part, as seen, to a PNG or SVG file (by its extension), through
    // the one writer of outputs; false with the reason otherwise.
    bool saveImage(const QString& path, QString* error) const;

   Q_SIGNALS:
    void hovered(const QString& text);

   protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;

   private:
    QRect area() const { return RollFrame::noteArea(viewport()->rect()); }
    double fitPixelsPerTick() const;
    void fitKeys();
    void setFirstTick(double tick);
    void updateScrollBars();
    void setHover(const QString& text);

    std::shared_ptr<const RollNotes> notes_;
    std::array<bool, kVoices> shown_{};
    int32_t percussionChannel_ = kDefaultPercussionChannel;
    double pixelsPerTick_ = 4.0;
    double firstTick_ = 0.0;
    int keyHeight_ = 8;
    int yScroll_ = 0;
    bool fitted_ = true;
    bool syncing_ = false;  // scroll bars being set from the view, not by the user
    std::optional<int32_t> playDate_;
    QString hoverText_;
};

}  // namespace tarrowin::app
