#pragma once
// What the window tests share: a workspace whose MIDI device records what it gets, a main
// for Qt Test programs on the offscreen platform, and a recorder that answers the message
// boxes a command shows.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/workspace.h"
#include "playback/recording_backend.h"

namespace tarrowin::app::testing {

// A workspace playing on a recording device, which is also the "Midi Mapper" route.
struct RecordedWorkspace {
    explicit RecordedWorkspace(Clock& clock = SteadyClock::instance());
    RecordingBackend* recorder;  // owned by the workspace's output
    std::unique_ptr<Workspace> ws;
};

// One message box as the user saw it.
struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
};

// While it lives, every QMessageBox that opens is recorded and answered: with the next of
// the queued answers, else with its default (OK / Yes / the escape button).
class MessageBoxes {
   public:
    MessageBoxes();
    ~MessageBoxes();
    void answer(QMessageBox::StandardButton button) { answers_.push_back(button); }
    const std::vector<SeenBox>& seen() const { return seen_; }
    QString lastText() const { return seen_.empty() ? QString() : seen_.back().text; }
    void clear() { seen_.clear(); }

   private:
    void poll();
    QTimer timer_;
    std::vector<QMessageBox::StandardButton> answers_;
    std::vector<SeenBox> seen_;
};

// Runs `fn` on the next modal dialog of type T once it shows (for dialogs other than
// message boxes, such as file dialogs and the program's own dialogs).
void whenDialogShows(const std::function<bool(QWidget*)>& fn);

// Before QApplication: the offscreen platform, a private runtime folder, test settings.
void prepareTestEnvironment();

}  // namespace tarrowin::app::testing

// A Qt Test main that prepares the environment first.
#define TARROWIN_QTEST_MAIN(TestObject)                             \
    int main(int argc, char** argv) {                               \
        tarrowin::app::testing::prepareTestEnvironment();           \
        QApplication app(argc, argv);                               \
        app.setAttribute(Qt::AA_Use96Dpi, true);                    \
        TestObject tc;                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                  \
        return QTest::qExec(&tc, argc, argv);                       \
    }
