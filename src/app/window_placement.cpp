#include "window_placement.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>
#include <QWidget>
#include <algorithm>
#include <optional>
#include <tuple>

#include "workspace.h"

namespace tarrowin::app {

namespace {

const char* const kPlacedProperty = "tarrowinPlaced";

int64_t area(const QRect& r) { return r.isEmpty() ? 0 : int64_t{r.width()} * r.height(); }

// The screen that holds the most of `r`; when none holds any of it, the one that holds the
// most of `anchor`.
QRect screenFor(const QRect& r, const QRect& anchor, const QList<QRect>& screens) {
    const auto most = [&screens](const QRect& of) {
        return *std::max_element(screens.begin(), screens.end(),
                                 [&of](const QRect& a, const QRect& b) { return area(a & of) < area(b & of); });
    };
    const QRect best = most(r);
    return area(best & r) > 0 ? best : most(anchor);
}

QRect inside(QRect r, const QRect& screen) {
    r.setSize(r.size().boundedTo(screen.size()));
    r.moveLeft(std::clamp(r.left(), screen.left(), screen.right() + 1 - r.width()));
    r.moveTop(std::clamp(r.top(), screen.top(), screen.bottom() + 1 - r.height()));
    return r;
}

// `r` made smaller, down to `minimum`, so that it leaves `o` free: cut on the side of `o`
// that keeps the most of it. Unchanged when no cut is large enough.
QRect clearOf(const QRect& r, const QRect& o, QSize minimum) {
    if (!r.intersects(o)) return r;
    QRect right = r, left = r, below = r, above = r;
    right.setLeft(o.right() + 1);
    left.setRight(o.left() - 1);
    below.setTop(o.bottom() + 1);
    above.setBottom(o.top() - 1);
    QRect best = r;
    int64_t kept = 0;
    for (const QRect& cut : {right, left, below, above}) {
        if (cut.width() >= minimum.width() && cut.height() >= minimum.height() && area(cut) > kept) {
            best = cut;
            kept = area(cut);
        }
    }
    return best;
}

// The main window's title bar, menus and toolbars, on the screen.
QRect controlsOf(QWidget* mainWindow) {
    QRect band = mainWindow->frameGeometry();
    int bottom = mainWindow->geometry().top() - 1;
    if (auto* main = qobject_cast<QMainWindow*>(mainWindow)) {
        QList<QWidget*> bars{main->menuWidget()};
        for (QToolBar* t : main->findChildren<QToolBar*>()) bars << t;
        for (QWidget* bar : bars) {
            if (bar != nullptr && !bar->isHidden())
                bottom = std::max(bottom, main->mapToGlobal(bar->geometry().bottomLeft()).y());
        }
    }
    band.setBottom(bottom);
    return band;
}

// Keeps a window's place and size whenever it hides.
class GeometryKeeper : public QObject {
   public:
    GeometryKeeper(QWidget* window, Preferences& preferences)
        : QObject(window), window_(window), preferences_(preferences) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Hide)
            preferences_.setWindowGeometry(window_->objectName(), window_->saveGeometry());
        return false;
    }

   private:
    QWidget* window_;
    Preferences& preferences_;
};

void placeBesideMainWindow(QWidget* window, QWidget* mainWindow) {
    // A window not shown yet has no frame: it will get one like the main window's.
    const QRect mainFrame = mainWindow->frameGeometry();
    const QRect mainClient = mainWindow->geometry();
    const QMargins frame(mainClient.left() - mainFrame.left(), mainClient.top() - mainFrame.top(),
                         mainFrame.right() - mainClient.right(), mainFrame.bottom() - mainClient.bottom());
    const QSize client =
        (window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint()).expandedTo(window->minimumSizeHint());
    Surroundings around{mainFrame, controlsOf(mainWindow), {}, {}};
    for (const QScreen* s : QGuiApplication::screens()) around.screens << s->availableGeometry();
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w != window && w != mainWindow && w->isVisible() && (type == Qt::Window || type == Qt::Dialog))
            around.occupied << w->frameGeometry();
    }
    // A window that can be resized may open smaller to leave the others free, down to half
    // its size: the user can make it larger, and it comes back in the size given.
    const QSize least = (client / 2).expandedTo(window->minimumSizeHint()).expandedTo(window->minimumSize()).grownBy(frame);
    const QRect placed = placeBeside(client.grownBy(frame), least, around);
    const QSize fitted = placed.size().shrunkBy(frame).expandedTo(window->minimumSize());
    // The client area's place: a window not shown yet has no frame that move() could place.
    window->setGeometry(QRect(placed.topLeft() + QPoint(frame.left(), frame.top()), fitted));
}

}  // namespace

QRect placeBeside(QSize size, QSize minimum, const Surroundings& around) {
    const QRect& anchor = around.anchor;
    const QRect& keepClear = around.keepClear;
    const QList<QRect>& screens = around.screens;
    if (screens.isEmpty()) return {anchor.topRight() + QPoint(1, 0), size};
    // In this order, the first of equals wins: right of the anchor, under and right of each
    // window open, below, left of and above the anchor.
    QList<QPoint> corners{{anchor.right() + 1, anchor.top()}};
    for (const QRect& o : around.occupied)
        corners << QPoint(o.left(), o.bottom() + 1) << QPoint(o.right() + 1, o.top());
    corners << QPoint(anchor.left(), anchor.bottom() + 1) << QPoint(anchor.left() - size.width(), anchor.top())
            << QPoint(anchor.left(), anchor.top() - size.height());
    const auto covered = [&](const QRect& r) {
        int64_t sum = area(r & anchor);
        for (const QRect& o : around.occupied) sum += area(r & o);
        return sum;
    };
    struct Choice {
        QRect rect;
        bool coversControls;
        int64_t covered;
        int64_t lost;  // what a window made smaller gave up
    };
    std::optional<Choice> best;
    for (const QPoint& corner : corners) {
        const QRect wanted(corner, size);
        const QRect screen = screenFor(wanted, anchor, screens);
        QRect r = clearOf(inside(wanted, screen), anchor, minimum);
        for (const QRect& o : around.occupied) r = clearOf(r, o, minimum);
        if (r.intersects(keepClear)) {
            QRect lower = r;
            lower.moveTop(keepClear.bottom() + 1);
            lower.setBottom(std::min(lower.bottom(), screen.bottom()));
            if (lower.height() >= minimum.height()) r = lower;
        }
        const Choice c{r, r.intersects(keepClear), covered(r), area(QRect(QPoint(), size)) - area(r)};
        if (!best || std::tie(c.coversControls, c.covered, c.lost) < std::tie(best->coversControls, best->covered, best->lost))
            best = c;
    }
    return best->rect;
}

void showBeside(QWidget* window, QWidget* mainWindow, Preferences& preferences) {
    if (!window->property(kPlacedProperty).toBool()) {
        window->setProperty(kPlacedProperty, true);
        const QByteArray kept = preferences.windowGeometry(window->objectName());
        if (kept.isEmpty() || !window->restoreGeometry(kept)) placeBesideMainWindow(window, mainWindow);
        window->installEventFilter(new GeometryKeeper(window, preferences));
    }
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace tarrowin::app
