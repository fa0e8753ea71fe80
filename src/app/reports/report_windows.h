#pragma once
// The reports as the main window opens them: Composition Information (modeless, at most
// one), the image from the composition (a window of its own, at most one) and the current
// note (modal).

#include <QObject>
#include <QPointer>

#include "app/command_state.h"

class QWidget;

namespace tarrowin::app {

class Workspace;
class CompositionInfoWindow;
class ImageWindow;

class ReportWindows : public QObject {
    Q_OBJECT
   public:
    ReportWindows(Workspace& workspace, QWidget* mainWindow);
    ~ReportWindows() override;

    // "Composition &Info...": opens the report; does nothing while it is open.
    void openCompositionInfo();
    bool isInfoOpen() const;
    // "Create image from composition...": computes the picture and shows it in its window.
    void createImage();
    bool isImageOpen() const;
    // "&Get Current Note...": takes the form into the document and shows the notes.
    void showCurrentNote();
    // New and Open close the information and image windows.
    void closeAll();

    CompositionInfoWindow* infoWindow() const;
    ImageWindow* imageWindow() const;

   Q_SIGNALS:
    void windowsChanged();

   private:
    Workspace& ws_;
    QWidget* mainWindow_;
    QPointer<CompositionInfoWindow> info_;
    QPointer<ImageWindow> image_;
};

}  // namespace tarrowin::app
