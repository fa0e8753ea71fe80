#include "accessibility.h"

#include <QLabel>
#include <QRegularExpression>
#include <QWidget>

namespace tarrowin::app {

QString plainText(const QString& text) {
    QString t = text;
    t.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    t.replace(QStringLiteral("&&"), QStringLiteral("&"));
    t = t.trimmed();
    if (t.endsWith(QLatin1Char(':'))) t.chop(1);
    return t.trimmed();
}

void nameControl(QWidget* control, const QString& name) {
    control->setAccessibleName(name);
    control->setAccessibleDescription(name);
}

void nameControl(QWidget* control, QLabel* buddy, const QString& name) {
    if (buddy) buddy->setBuddy(control);
    nameControl(control, name);
}

void describeControl(QWidget* control, const QString& description) { control->setAccessibleDescription(description); }

}  // namespace tarrowin::app
