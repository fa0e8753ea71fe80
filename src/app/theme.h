#pragma once
// Options > Theme: the desktop's own look ("System"), or Qt's Fusion style with a light or a
// dark palette, chosen in the window and kept between runs. Qt 6.4 cannot tell whether the
// desktop itself is dark, so "Dark" is a choice, not a detection.

#include <QPalette>
#include <QString>
#include <optional>

namespace tarrowin::app {

enum class Theme { System, Light, Dark };
inline constexpr Theme kThemes[] = {Theme::System, Theme::Light, Theme::Dark};

// "System", "Light", "Dark": the menu's items and the name kept in the settings.
QString themeName(Theme theme);
// The theme of a kept name; none for a name of no theme.
std::optional<Theme> themeNamed(const QString& name);

// Fusion's dark palette: light text on dark windows, readable in every colour group.
QPalette darkPalette();
// Applies the theme to the whole program. "System" brings back the style and the palette
// the program started with.
void applyTheme(Theme theme);

}  // namespace tarrowin::app
