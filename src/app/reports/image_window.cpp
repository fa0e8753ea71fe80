#include "image_window.h"

#include <QAction>
#include <QBuffer>
#include <QFileInfo>
#include <QPainter>
#include <QToolBar>
#include <QVBoxLayout>

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

// Paints the picture one to one.
class PictureView : public QWidget {
   public:
    PictureView(const QImage& picture, QWidget* parent) : QWidget(parent), picture_(picture) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFixedSize(picture.size());
    }

   protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, picture_);
    }

   private:
    const QImage& picture_;
};

}  // namespace

ImageWindow::ImageWindow(ImageSums sums, const QString& suggestedPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      sums_(sums),
      picture_(pictureOf(sums)),
      suggestedPath_(suggestedPath) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("ImageWindow"));
    const QString title = QString::fromUtf8(kImageWindowTitle.data(), static_cast<qsizetype>(kImageWindowTitle.size()));
    setWindowTitle(QStringLiteral("%1 (S = %2, K = %3)").arg(title).arg(sums.sum).arg(sums.count));
    nameControl(this, windowTitle());

    auto* saveAction = new QAction(QIcon(QStringLiteral(":/icons/save.svg")), QStringLiteral("&Save Image..."), this);
    saveAction->setIconText(QStringLiteral("Save Image..."));  // the button keeps the dots: a dialog follows
    saveAction->setShortcut(QKeySequence::Save);
    saveAction->setShortcutContext(Qt::WindowShortcut);
    saveAction->setToolTip(QStringLiteral("Save the picture as a PNG file (Ctrl+S)"));
    connect(saveAction, &QAction::triggered, this, &ImageWindow::save);
    addAction(saveAction);
    auto* closeAction = new QAction(QStringLiteral("&Close"), this);
    closeAction->setShortcut(Qt::Key_Escape);
    closeAction->setShortcutContext(Qt::WindowShortcut);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);

    auto* toolbar = new QToolBar(this);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->addAction(saveAction);
    view_ = new PictureView(picture_, this);
    view_->setContextMenuPolicy(Qt::ActionsContextMenu);
    view_->addAction(saveAction);
    nameControl(view_, QStringLiteral("Picture"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(toolbar);
    layout->addWidget(view_);
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
