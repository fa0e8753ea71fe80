#include "report_windows.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

#include "app/progress_dialog.h"
#include "app/window_placement.h"
#include "app/workspace.h"
#include "composition_info_window.h"
#include "current_note_dialog.h"
#include "image_window.h"
#include "reports/composition_image.h"
#include "reports/current_note.h"

namespace tarrowin::app {

namespace {

// The document's folder and name with .png, for the image's save dialog.
QString imagePathFor(const QString& documentPath) {
    if (documentPath.isEmpty()) return QDir::home().filePath(QStringLiteral("Untitled.png"));
    const QFileInfo info(documentPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".png"));
}

}  // namespace

ReportWindows::ReportWindows(Workspace& workspace, QWidget* mainWindow)
    : QObject(mainWindow), ws_(workspace), mainWindow_(mainWindow) {}

ReportWindows::~ReportWindows() = default;

void ReportWindows::openCompositionInfo() {
    if (info_ || ws_.document.doc().composition().isEmpty()) return;
    info_ = new CompositionInfoWindow(ws_.document, mainWindow_);
    // Queued: while the window is being destroyed, it is no CompositionInfoWindow any more
    // and the pointer to it is not yet cleared (and the main window may be going too).
    connect(info_, &QObject::destroyed, this, &ReportWindows::windowsChanged, Qt::QueuedConnection);
    showBeside(info_, mainWindow_, ws_.preferences);
    Q_EMIT windowsChanged();
}

// A window that was closed is gone for the menus at once, though it is deleted a moment later.
bool ReportWindows::isInfoOpen() const { return info_ && info_->isVisible(); }

void ReportWindows::createImage() {
    if (image_ || ws_.playback.isPlaying() || ws_.document.doc().composition().isEmpty()) return;
    if (!ws_.document.takeTypedInput(DocumentController::Typed::Check)) return;
    // A long composition takes a while: computed on a worker thread behind a progress dialog.
    const Composition composition = ws_.document.doc().composition();
    std::optional<ImageSums> sums;
    runWithProgress(mainWindow_, QString::fromUtf8(kImageWindowTitle.data(), qsizetype(kImageWindowTitle.size())),
                    QStringLiteral("Computing the image of %1 events...").arg(composition.count()),
                    [&](const WorkProgress& progress) {
                        sums = computeImageSums(composition, progress.cancel, progress.report);
                    });
    if (!sums) return;  // cancelled
    image_ = new ImageWindow(*sums, imagePathFor(ws_.document.path()), mainWindow_);
    connect(image_, &QObject::destroyed, this, &ReportWindows::windowsChanged, Qt::QueuedConnection);
    showBeside(image_, mainWindow_, ws_.preferences);
    Q_EMIT windowsChanged();
}

bool ReportWindows::isImageOpen() const { return image_ && image_->isVisible(); }

CompositionInfoWindow* ReportWindows::infoWindow() const { return info_; }
ImageWindow* ReportWindows::imageWindow() const { return image_; }

void ReportWindows::showCurrentNote() {
    if (ws_.playback.isPlaying() || !ws_.document.takeTypedInput()) return;
    // The command commits the counters and the voices' numbers as leaving their fields
    // does, and so marks the document modified even when they hold what it holds.
    ws_.document.edit(QStringLiteral("Get Current Note"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        d.setEndCounter(d.global().endCounter);
        d.setStartCounter(d.global().startCounter);
        for (int v = 0; v < kVoices; ++v) {
            d.setParam1(v, d.voice(v).param1);
            d.setParam2(v, d.voice(v).param2);
            d.setOffset(v, d.voice(v).offset);
        }
    });
    CurrentNoteDialog dialog(currentNoteLabels(ws_.document.doc().current()), mainWindow_);
    dialog.exec();
}

void ReportWindows::closeAll() {
    if (info_) info_->close();
    if (image_) image_->close();
}

}  // namespace tarrowin::app
