#include "pan_control.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include "accessibility.h"
#include "engine/tables.h"

namespace tarrowin::app {

PanControl::PanControl(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    bar_ = new QScrollBar(Qt::Horizontal, this);
    bar_->setRange(kPanRange.min, kPanRange.max);
    bar_->setSingleStep(1);
    bar_->setPageStep(5);
    bar_->setMinimumWidth(fontMetrics().averageCharWidth() * 30);
    bar_->setFocusPolicy(Qt::StrongFocus);  // a scroll bar takes no focus by default; arrows move it
    nameControl(bar_, QStringLiteral("Pan"));
    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_->setMinimumWidth(label_->fontMetrics().horizontalAdvance(QString::number(kPanRange.min)) + 4);
    describeControl(label_, QStringLiteral("Pan value"));
    auto* centre = new QPushButton(QStringLiteral("0"), this);
    centre->setAutoDefault(false);  // Enter keeps meaning the dialog's own default button
    centre->setFixedWidth(centre->fontMetrics().horizontalAdvance(QStringLiteral("00")) + 20);
    describeControl(centre, QStringLiteral("Pan centre"));
    row->addWidget(bar_, 1);
    row->addWidget(label_);
    row->addWidget(centre);

    connect(bar_, &QScrollBar::valueChanged, this, [this](int v) {
        label_->setText(QString::number(v));
        Q_EMIT valueChanged(v);
    });
    connect(centre, &QPushButton::clicked, this, [this] { bar_->setValue(0); });
    setValue(0);
}

int PanControl::value() const { return bar_->value(); }

void PanControl::setValue(int value) {
    {
        const QSignalBlocker block(bar_);
        bar_->setValue(value);
    }
    label_->setText(QString::number(bar_->value()));
}

}  // namespace tarrowin::app
