#include "voice_legend.h"

#include <QCheckBox>
#include <QEvent>
#include <QLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "app/accessibility.h"
#include "roll_painter.h"

namespace tarrowin::app {

namespace {

// A square of the colour with a darker rim, drawn for each common screen scale so that it is
// sharp on any.
QIcon swatch(const QColor& colour) {
    QIcon icon;
    for (const int size : {12, 18, 24, 36}) {
        QPixmap pixmap(size, size);
        pixmap.fill(colour);
        QPainter p(&pixmap);
        p.setPen(colour.darker(160));
        p.drawRect(0, 0, size - 1, size - 1);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Lays its items out left to right and begins a new line where the width runs out: the
// legend takes two lines in a narrow window rather than making the window wide.
class WrappingLayout : public QLayout {
   public:
    explicit WrappingLayout(QWidget* parent) : QLayout(parent) {}
    ~WrappingLayout() override {
        while (QLayoutItem* item = takeAt(0)) delete item;
    }
    void addItem(QLayoutItem* item) override { items_.append(item); }
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int i) const override { return items_.value(i); }
    QLayoutItem* takeAt(int i) override { return i >= 0 && i < items_.size() ? items_.takeAt(i) : nullptr; }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    void setGeometry(const QRect& rect) override {
        QLayout::setGeometry(rect);
        arrange(rect, true);
    }
    // All on one line when there is room.
    QSize sizeHint() const override {
        QSize s;
        for (const QLayoutItem* item : items_)
            s = QSize(s.width() + item->sizeHint().width() + spacing(), std::max(s.height(), item->sizeHint().height()));
        return s;
    }
    QSize minimumSize() const override {
        QSize s;
        for (const QLayoutItem* item : items_) s = s.expandedTo(item->minimumSize());
        return s;
    }

   private:
    int arrange(const QRect& rect, bool apply) const {
        int x = rect.x(), y = rect.y(), line = 0;
        for (QLayoutItem* item : items_) {
            const QSize hint = item->sizeHint();
            if (x > rect.x() && x + hint.width() > rect.right() + 1) {
                x = rect.x();
                y += line + spacing();
                line = 0;
            }
            if (apply) item->setGeometry(QRect(QPoint(x, y), hint));
            x += hint.width() + spacing();
            line = std::max(line, hint.height());
        }
        return y + line - rect.y();
    }

    QList<QLayoutItem*> items_;
};

}  // namespace

VoiceLegend::VoiceLegend(QWidget* parent) : QWidget(parent) {
    auto* layout = new WrappingLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(QStringLiteral("Voices:"), this));
    for (int v = 0; v < kVoices; ++v) {
        auto* box = new QCheckBox(QString::number(v + 1), this);
        box->setChecked(true);
        box->setToolTip(QStringLiteral("Show or hide the notes of voice %1").arg(v + 1));
        describeControl(box, QStringLiteral("Show voice %1").arg(v + 1));
        connect(box, &QCheckBox::toggled, this, [this, v](bool on) { Q_EMIT shownChanged(v, on); });
        layout->addWidget(box);
        boxes_[static_cast<size_t>(v)] = box;
    }
    paintSwatches();
}

void VoiceLegend::paintSwatches() {
    const bool dark = RollColours::darkPalette(palette());
    for (int v = 0; v < kVoices; ++v) boxes_[static_cast<size_t>(v)]->setIcon(swatch(voiceColour(v, dark)));
}

void VoiceLegend::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) paintSwatches();
}

}  // namespace tarrowin::app
