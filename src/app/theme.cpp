#include "theme.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace tarrowin::app {

namespace {

// The look the program started with, taken before any theme changes it.
struct SystemLook {
    QString style;
    QPalette palette;
};
const SystemLook& systemLook() {
    static const SystemLook look{QApplication::style()->name(), QApplication::palette()};
    return look;
}

}  // namespace

QString themeName(Theme theme) {
    switch (theme) {
        case Theme::Light:
            return QStringLiteral("Light");
        case Theme::Dark:
            return QStringLiteral("Dark");
        case Theme::System:
            break;
    }
    return QStringLiteral("System");
}

std::optional<Theme> themeNamed(const QString& name) {
    for (const Theme t : kThemes) {
        if (themeName(t) == name) return t;
    }
    return std::nullopt;
}

QPalette darkPalette() {
    const QColor window(0x2d, 0x2e, 0x32), base(0x1e, 0x1f, 0x22), text(0xe6, 0xe6, 0xe6);
    const QColor disabledText(0x80, 0x80, 0x88), highlight(0x3d, 0x7a, 0xd6);
    QPalette p(window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3b, 0x40));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x38, 0x39, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xff, 0x60, 0x60));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4b, 0x52));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x41, 0x47));
    p.setColor(QPalette::Mid, QColor(0x26, 0x27, 0x2a));
    p.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    p.setColor(QPalette::Shadow, QColor(0x0a, 0x0a, 0x0a));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x7f, 0xb0, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xc0, 0x9c, 0xff));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x52, 0x5a));
    p.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0x33, 0x55, 0x88));
    return p;
}

void applyTheme(Theme theme) {
    const SystemLook& system = systemLook();
    switch (theme) {
        case Theme::System:
            QApplication::setStyle(system.style);
            QApplication::setPalette(system.palette);
            break;
        case Theme::Light:
            QApplication::setStyle(QStringLiteral("Fusion"));
            QApplication::setPalette(QApplication::style()->standardPalette());
            break;
        case Theme::Dark:
            QApplication::setStyle(QStringLiteral("Fusion"));
            QApplication::setPalette(darkPalette());
            break;
    }
}

}  // namespace tarrowin::app
