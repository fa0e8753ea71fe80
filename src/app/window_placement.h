#pragma once
// Where the tool and report windows open: beside the main window, inside a screen's
// available area, clear of the main window's menus and toolbar, and where the user left
// them the last time (place and size, kept by the window's object name).

#include <QList>
#include <QRect>

class QWidget;

namespace tarrowin::app {

class Preferences;

// What a new window is placed among, in screen coordinates.
struct Surroundings {
    QRect anchor;           // the main window's frame
    QRect keepClear;        // its title bar, menus and toolbar
    QList<QRect> occupied;  // the frames of the other windows open
    QList<QRect> screens;   // the screens' available areas
};

// The frame of a window of `size` (its frame included) opened beside the anchor: right of
// it when that is free on a screen, else under or beside the windows already open there,
// else below the anchor, made smaller down to `minimum` if that frees it; when no place is
// free, where it covers the least of the anchor and the open windows, never over the
// anchor's menus and toolbar while the screen's height allows, if need be made shorter.
// A window larger than the screen is shrunk to it.
QRect placeBeside(QSize size, QSize minimum, const Surroundings& around);

// Shows `window` where it was left the last time, or, the first time, beside `mainWindow`
// (as placeBeside() does). From then on its place and size are kept in `preferences`
// whenever it hides. A window shown before only comes to the front.
void showBeside(QWidget* window, QWidget* mainWindow, Preferences& preferences);

}  // namespace tarrowin::app
