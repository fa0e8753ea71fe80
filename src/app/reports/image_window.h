#pragma once
// "Image from composition": the picture of S and K in a window of its own, exactly the
// 500 x 500 picture under a small toolbar, not resizable. Its title shows S and K; the
// toolbar's "Save Image...", its context menu and Ctrl+S save the picture as a PNG file;
// Escape closes it.

#include <QImage>
#include <QString>
#include <QWidget>

#include "reports/composition_image.h"

namespace tarrowin::app {

class ImageWindow : public QWidget {
    Q_OBJECT
   public:
    // suggestedPath: where the save dialog starts (the document's folder and name).
    ImageWindow(ImageSums sums, const QString& suggestedPath, QWidget* parent = nullptr);

    ImageSums sums() const { return sums_; }
    const QImage& picture() const { return picture_; }
    // The 500 x 500 area that shows the picture.
    QWidget* pictureView() const { return view_; }

    // Asks for a file name and writes the picture there.
    void save();
    // Writes the picture as PNG, replacing `path` only once the file is complete. An empty
    // result, or the reason it could not be written.
    QString saveTo(const QString& path) const;

   private:
    ImageSums sums_;
    QImage picture_;
    QString suggestedPath_;
    QWidget* view_;
};

}  // namespace tarrowin::app
