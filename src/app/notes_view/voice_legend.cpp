#include "voice_legend.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "app/accessibility.h"
#include "roll_painter.h"

namespace tarrowin::app {

namespace {

QIcon swatch(const QColor& colour) {
    QPixmap pixmap(12, 12);
    pixmap.fill(colour);
    QPainter p(&pixmap);
    p.setPen(colour.darker(160));
    p.drawRect(0, 0, 11, 11);
    return QIcon(pixmap);
}

}  // namespace

VoiceLegend::VoiceLegend(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(QStringLiteral("Voices:"), this));
    for (int v = 0; v < kVoices; ++v) {
        auto* box = new QCheckBox(QString::number(v + 1), this);
        box->setIcon(swatch(voiceColour(v)));
        box->setChecked(true);
        box->setToolTip(QStringLiteral("Show or hide the notes of voice %1").arg(v + 1));
        describeControl(box, QStringLiteral("Show voice %1").arg(v + 1));
        connect(box, &QCheckBox::toggled, this, [this, v](bool on) { Q_EMIT shownChanged(v, on); });
        layout->addWidget(box);
        boxes_[static_cast<size_t>(v)] = box;
    }
    layout->addStretch(1);
}

}  // namespace tarrowin::app
