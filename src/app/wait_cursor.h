#pragma once
// The wait cursor for as long as a scope lasts: work on the window's thread that the user
// must wait for (an export, a device that takes a moment to open).

#include <QApplication>

namespace tarrowin::app {

struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace tarrowin::app
