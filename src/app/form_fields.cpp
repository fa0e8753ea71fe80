#include "form_fields.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cmath>

#include "document/document_validation.h"
#include "qt_prompter.h"

namespace tarrowin::app {

std::optional<int64_t> parseInteger(const QString& text) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok) return std::nullopt;
    return static_cast<int64_t>(v);
}

std::optional<double> parseNumber(const QString& text) {
    const QString t = text.trimmed();
    // Group separators are refused in both locales: the C locale would otherwise read a
    // German "0,015" as fifteen.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    QLocale user;
    user.setNumberOptions(user.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    double v = c.toDouble(t, &ok);
    if (!ok) v = user.toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString integerMessage() { return QStringLiteral("Please enter an integer."); }
QString integerRangeMessage(int64_t min, int64_t max) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max);
}
QString numberMessage() { return QStringLiteral("Please enter a number."); }
QString numberRangeMessage(float min, float max) {
    return QStringLiteral("Please enter a number between %1 and %2.")
        .arg(QString::number(double(min), 'g', 6), QString::number(double(max), 'g', 6));
}

std::optional<QString> checkInteger(const QString& text, int64_t min, int64_t max) {
    const auto v = parseInteger(text);
    if (!v) return integerMessage();
    if (*v < min || *v > max) return integerRangeMessage(min, max);
    return std::nullopt;
}

std::optional<QString> checkNumber(const QString& text, float min, float max) {
    const auto v = parseNumber(text);
    if (!v) return numberMessage();
    const float f = static_cast<float>(*v);
    if (!(f >= min && f <= max)) return numberRangeMessage(min, max);
    return std::nullopt;
}

namespace {

void refuse(QLineEdit* edit, const QString& message) {
    showMessage(edit->window(), message, QString::fromLatin1(kFieldCaption), MessageIcon::Exclamation);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

}  // namespace

std::optional<int32_t> readIntegerField(QLineEdit* edit, int64_t min, int64_t max) {
    if (auto refusal = checkInteger(edit->text(), min, max)) {
        refuse(edit, *refusal);
        return std::nullopt;
    }
    return static_cast<int32_t>(*parseInteger(edit->text()));
}

std::optional<float> readNumberField(QLineEdit* edit, float min, float max) {
    if (auto refusal = checkNumber(edit->text(), min, max)) {
        refuse(edit, *refusal);
        return std::nullopt;
    }
    return static_cast<float>(*parseNumber(edit->text()));
}

bool leavesField(const QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<const QFocusEvent*>(event)->reason();
        return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        return key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    return false;
}

bool passesUndoKeyToDocument(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride) return false;
    const auto* edit = qobject_cast<QLineEdit*>(watched);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (edit == nullptr || edit->isModified()) return false;
    if (!key->matches(QKeySequence::Undo) && !key->matches(QKeySequence::Redo)) return false;
    event->ignore();  // not claimed by the edit: the window's Undo or Redo takes the key
    return true;
}

void showNumber(QLineEdit* edit, int32_t value) {
    if (edit->hasFocus() && edit->isModified()) return;
    const QString text = QString::number(value);
    if (edit->text() != text) edit->setText(text);
}

QString numberText(float value) { return QString::fromStdString(formatFloat(value)); }

namespace {

// The width a line edit needs to show each text whole, measured as the edit lays out its
// text: the style's frame, the margins, two pixels each side of the text and the cursor.
int widthFor(const QLineEdit* edit, const QStringList& texts) {
    const QFontMetrics fm = edit->fontMetrics();
    int text = 0;
    for (const QString& t : texts) text = std::max(text, fm.horizontalAdvance(t));
    const QMargins tm = edit->textMargins();
    const QMargins cm = edit->contentsMargins();
    // A pixel more than the edit's own measure for the rounding of fractional advances.
    const int w = text + 2 * 2 + 1 + 1 + tm.left() + tm.right() + cm.left() + cm.right();
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    return edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(w, fm.height()), edit).width();
}

// Sizes the edit again whenever its font or its style changes.
class FieldFitter : public QObject {
   public:
    FieldFitter(QLineEdit* edit, QStringList widest, FieldWidth how)
        : QObject(edit), edit_(edit), widest_(std::move(widest)), how_(how) {
        edit->installEventFilter(this);
        fit();
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == edit_ && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)) fit();
        return false;
    }

   private:
    void fit() {
        const int width = widthFor(edit_, widest_);
        if (how_ == FieldWidth::Fixed)
            edit_->setFixedWidth(width);
        else
            edit_->setMinimumWidth(width);
    }
    QLineEdit* edit_;
    QStringList widest_;
    FieldWidth how_;
};

}  // namespace

void fitField(QLineEdit* edit, const QStringList& widest, FieldWidth how) { new FieldFitter(edit, widest, how); }

void fitField(QLineEdit* edit, int64_t min, int64_t max, FieldWidth how) {
    fitField(edit, {QString::number(min), QString::number(max)}, how);
}

}  // namespace tarrowin::app
