#include "report_windows.h"

#include <QWidget>

namespace tarrowin::app {

struct ReportWindows::Impl {};

ReportWindows::ReportWindows(Workspace&, TarrowinView&, QWidget* mainWindow) : QObject(mainWindow), impl_(new Impl) {}
ReportWindows::~ReportWindows() { delete impl_; }

void ReportWindows::openCompositionInfo() {}
bool ReportWindows::isInfoOpen() const { return false; }
void ReportWindows::createImage() {}
bool ReportWindows::isImageOpen() const { return false; }
void ReportWindows::showCurrentNote() {}
void ReportWindows::closeAll() {}

}  // namespace tarrowin::app
