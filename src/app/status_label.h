#pragma once
// The status bar's text. A text wider than the bar ends in "…" instead of widening the
// window or being cut off unseen, and is then there in full as the label's tool tip; the
// label's text, which screen readers read, is always the whole of it.

#include <QLabel>

namespace tarrowin::app {

class StatusLabel : public QLabel {
    Q_OBJECT
   public:
    explicit StatusLabel(QWidget* parent = nullptr);

    void setStatus(const QString& text);

    QSize minimumSizeHint() const override;

   protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

   private:
    bool elided() const;
    void updateToolTip();
};

}  // namespace tarrowin::app
