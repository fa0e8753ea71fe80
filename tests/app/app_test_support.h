#pragma once
// What the window tests share: a workspace whose MIDI device records what it gets, a main
// for Qt Test programs on the offscreen platform, and a recorder that answers the message
// boxes a command shows.

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "app/main_window.h"
#include "app/workspace.h"
#include "playback/recording_backend.h"

namespace tarrowin::app::testing {

// A workspace playing on a recording device, which is also the "Midi Mapper" route.
struct RecordedWorkspace {
    explicit RecordedWorkspace(Clock& clock = SteadyClock::instance());
    RecordingBackend* recorder;  // owned by the workspace's output
    std::unique_ptr<Workspace> ws;
};

// A main window on a recording workspace, shown and active, as the window tests start.
struct WindowUnderTest {
    explicit WindowUnderTest(Clock& clock = SteadyClock::instance());
    ~WindowUnderTest();
    RecordedWorkspace recorded;
    std::unique_ptr<MainWindow> window;
    Workspace& ws() { return *recorded.ws; }
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

// Answers the next file dialog with `path`; `title`, when given, receives its title.
void answerFileDialog(const QString& path, QString* title = nullptr);

// The first control under root named `name`: a button by its text without '&', any other
// control by its accessible name.
template <class W>
W* named(QWidget* root, const QString& name) {
    for (W* w : root->template findChildren<W*>()) {
        QString text;
        if constexpr (std::is_base_of_v<QAbstractButton, W>)
            text = w->text().remove(QLatin1Char('&'));
        else
            text = w->accessibleName();
        if (text == name) return w;
    }
    return nullptr;
}

// A combo box by its accessible description (a combo box's name is its current text).
QComboBox* listDescribed(QWidget* root, const QString& description);
// A list closed on `row`, as a user chooses it (also the row already chosen).
void choose(QComboBox* box, int row);
// Runs `fn` on the dialog titled `title` once it is modal.
void onDialog(const QString& title, std::function<void(QDialog*)> fn);

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
