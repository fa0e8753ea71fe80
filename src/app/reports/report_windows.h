#pragma once
// The reports as the main window opens them: Composition Information (modeless, at most
// one), the image from the composition (a window of its own, at most one) and the current
// note (modal).

#include <QObject>

#include "app/command_state.h"

class QWidget;

namespace tarrowin::app {

class Workspace;
class TarrowinView;

class ReportWindows : public QObject {
    Q_OBJECT
   public:
    ReportWindows(Workspace& workspace, TarrowinView& view, QWidget* mainWindow);
    ~ReportWindows() override;

    void openCompositionInfo();
    bool isInfoOpen() const;
    void createImage();
    bool isImageOpen() const;
    // "&Get Current Note...": takes the form into the document and shows the notes.
    void showCurrentNote();
    // New and Open close the information and image windows.
    void closeAll();

   Q_SIGNALS:
    void windowsChanged();

   private:
    struct Impl;
    Impl* impl_;
};

}  // namespace tarrowin::app
