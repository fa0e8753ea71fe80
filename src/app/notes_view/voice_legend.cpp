#include "voice_legend.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

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

}  // namespace

VoiceLegend::VoiceLegend(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
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
    layout->addStretch(1);
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
