#pragma once
// Typed fields as the toolkit checks them: text that is not a number, or a value outside
// the field's range, is refused with a message naming the bounds, and the focus goes back
// to the field. The rules are plain functions; read*Field adds the message box and focus.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class QEvent;
class QObject;
class QLineEdit;

namespace tarrowin::app {

inline constexpr const char* kFieldCaption = "Tarrowin";

// A whole number with an optional sign and surrounding blanks; nothing else.
std::optional<int64_t> parseInteger(const QString& text);
// A decimal number written with "." or with the user's own decimal separator.
std::optional<double> parseNumber(const QString& text);

// "Please enter an integer." / "Please enter an integer between 2 and 1000000."
QString integerMessage();
QString integerRangeMessage(int64_t min, int64_t max);
// "Please enter a number." / "Please enter a number between 2 and 4."
QString numberMessage();
QString numberRangeMessage(float min, float max);

// The refusal for the text, or none when it is an integer in min..max.
std::optional<QString> checkInteger(const QString& text, int64_t min, int64_t max);
// The same for a number; the value is the float nearest to what was typed.
std::optional<QString> checkNumber(const QString& text, float min, float max);

// Reads the edit; on a refusal shows the message, puts the focus back into the edit with
// its text selected, and returns nothing.
std::optional<int32_t> readIntegerField(QLineEdit* edit, int64_t min, int64_t max);
std::optional<float> readNumberField(QLineEdit* edit, float min, float max);

// Whether the event ends the editing of a field: the focus went to another control of the
// program, or Return was pressed. A menu or another window that takes the focus for a
// while does not count.
bool leavesField(const QEvent* event);

// Whether the event is an Undo or Redo key in an edit that holds no typing of its own:
// the key then undoes the document's last step, not the edit's text. Typing not yet taken
// is still undone in the edit itself.
bool passesUndoKeyToDocument(QObject* watched, QEvent* event);

// Shows a stored value in an edit, unless the user is typing in it: a refresh of the form
// never throws away what is being typed.
void showNumber(QLineEdit* edit, int32_t value);

// The text that shows a stored float so that reading it back gives the same float.
QString numberText(float value);

// Makes `edit` wide enough to show each of `widest` whole (the longest values it takes, such
// as "1000000000" or "-2147483648"), in whatever font and style it has now or gets later.
// A fixed field takes exactly that width; another takes at least that width. Once per edit.
enum class FieldWidth { Fixed, AtLeast };
void fitField(QLineEdit* edit, const QStringList& widest, FieldWidth how = FieldWidth::AtLeast);
// The same for the integers min..max.
void fitField(QLineEdit* edit, int64_t min, int64_t max, FieldWidth how = FieldWidth::AtLeast);

}  // namespace tarrowin::app
