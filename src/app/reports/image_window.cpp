#include "image_window.h"

#include <QAction>
#include <QBuffer>
#include <QFileInfo>
#include <QPainter>

#include "app/accessibility.h"
#include "app/output_files.h"
#include "app/qt_prompter.h"

namespace tarrowin::app {

namespace {

QImage pictureOf(ImageSums sums) {
    const CompositionImage pixels(sums);
    constexpr int n = CompositionImage::kSize;
    // The wrapping QImage does not own the pixels: copy() takes them along.
    return QImage(pixels.rgb().data(), n, n, n * 3, QImage::Format_RGB888).copy();
}

}  // namespace

ImageWindow::ImageWindow(ImageSums sums, const QString& suggestedPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      sums_(sums),
      picture_(pictureOf(sums)),
      suggestedPath_(suggestedPath) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QString title = QString::fromUtf8(kImageWindowTitle.data(), static_cast<qsizetype>(kImageWindowTitle.size()));
    setWindowTitle(QStringLiteral("%1 (S = %2, K = %3)").arg(title).arg(sums.sum).arg(sums.count));
    nameControl(this, windowTitle());
    setFixedSize(picture_.size());

    auto* saveAction = new QAction(QStringLiteral("&Save as PNG..."), this);
    saveAction->setShortcut(QKeySequence::Save);
    saveAction->setShortcutContext(Qt::WindowShortcut);
    connect(saveAction, &QAction::triggered, this, &ImageWindow::save);
    addAction(saveAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void ImageWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void ImageWindow::save() {
    const QString path = askOutputPath(this, QStringLiteral("Save Image"), QFileInfo(suggestedPath_).absolutePath(),
                                       QFileInfo(suggestedPath_).fileName(),
                                       {{QStringLiteral("PNG images (*.png)"), QStringLiteral("png")}});
    if (path.isEmpty()) return;
    const QString error = saveTo(path);
    if (!error.isEmpty()) {
        showMessage(this, QStringLiteral("Could not save the image to %1: %2").arg(path, error),
                    QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
    }
}

QString ImageWindow::saveTo(const QString& path) const {
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture_.save(&buffer, "PNG"))
        return QStringLiteral("the picture could not be encoded as PNG");
    return writeOutput(path, png);
}

}  // namespace tarrowin::app
