#include "status_label.h"

#include <QPainter>
#include <QStyle>

namespace tarrowin::app {

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void StatusLabel::setStatus(const QString& text) {
    setText(text);
    updateToolTip();
}

QSize StatusLabel::minimumSizeHint() const {
    // As high as a line of text, and as narrow as "…": the text never widens the window.
    const QSize hint = QLabel::minimumSizeHint();
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) + 2 * margin(), hint.height()};
}

bool StatusLabel::elided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width() - 2 * margin();
}

void StatusLabel::updateToolTip() {
    setToolTip(elided() ? text() : QString());
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shown, foregroundRole());
}

void StatusLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

}  // namespace tarrowin::app
