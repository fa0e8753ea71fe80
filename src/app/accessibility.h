#pragma once
// Names for screen readers. A control without text of its own gets an accessible name and
// a description ("Param1 voice 3", "Start"); our end-to-end tests find controls by them too.

#include <QString>

class QWidget;
class QLabel;

namespace tarrowin::app {

// Name and description of a control without its own text (an edit, a list, a scroll bar).
void nameControl(QWidget* control, const QString& name);
// The same with a buddy label, so its mnemonic moves the focus to the control.
void nameControl(QWidget* control, QLabel* buddy, const QString& name);
// A description for a control that is named by its own text ("Yes" of "Modulate voice 3").
void describeControl(QWidget* control, const QString& description);

// A label's text without its mnemonic '&' and a trailing colon: "&Start:" -> "Start".
QString plainText(const QString& text);

}  // namespace tarrowin::app
