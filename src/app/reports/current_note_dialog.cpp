#include "current_note_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>


namespace tarrowin::app {

namespace {
constexpr int kVoicesPerRow = 4;
}

CurrentNoteDialog::CurrentNoteDialog(const std::array<CurrentNoteLabel, kVoices>& labels, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kCurrentNoteCaption.data(), static_cast<qsizetype>(kCurrentNoteCaption.size())));
    auto* group = new QGroupBox(QStringLiteral("Voices"), this);
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(fontMetrics().averageCharWidth());
    const int noteWidth = fontMetrics().horizontalAdvance(QStringLiteral("C#10 (00000)"));
    for (int v = 0; v < kVoices; ++v) {
        const CurrentNoteLabel& label = labels[static_cast<size_t>(v)];
        auto* number = new QLabel(QString::number(v + 1), group);
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* note = new QLabel(QString::fromStdString(label.text), group);
        note->setMinimumWidth(noteWidth);
        // The label is named after its voice; its note is what a screen reader reads next.
        note->setAccessibleName(QStringLiteral("Voice %1 note").arg(v + 1));
        note->setAccessibleDescription(note->text());
        number->setEnabled(!label.greyed);
        note->setEnabled(!label.greyed);
        const int row = v / kVoicesPerRow;
        const int column = (v % kVoicesPerRow) * 2;
        grid->addWidget(number, row, column);
        grid->addWidget(note, row, column + 1);
        numbers_[static_cast<size_t>(v)] = number;
        notes_[static_cast<size_t>(v)] = note;
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CurrentNoteDialog::keyPressEvent(QKeyEvent* event) {
    // Without buttons, Enter would do nothing in a dialog; here it closes it as Escape does.
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tarrowin::app
