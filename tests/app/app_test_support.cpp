#include "app_test_support.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QPushButton>
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace tarrowin::app::testing {

RecordedWorkspace::RecordedWorkspace(Clock& clock) {
    auto backend = std::make_unique<RecordingBackend>(clock, std::vector<std::string>{"Recorder"}, true);
    recorder = backend.get();
    std::vector<std::unique_ptr<MidiBackend>> backends;
    backends.push_back(std::move(backend));
    auto output = std::make_unique<MidiOutput>(std::move(backends));
    output->countDevices();
    ws = std::make_unique<Workspace>(std::move(output), clock, PlayerOptions{false});
}

WindowUnderTest::WindowUnderTest(Clock& clock) : recorded(clock), window(std::make_unique<MainWindow>(*recorded.ws)) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) qFatal("the main window does not show");
    QApplication::setActiveWindow(window.get());
    if (!QTest::qWaitForWindowActive(window.get())) qFatal("the main window does not become active");
}

WindowUnderTest::~WindowUnderTest() { window.reset(); }

MessageBoxes::MessageBoxes() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start(5);
}

MessageBoxes::~MessageBoxes() { timer_.stop(); }

void MessageBoxes::poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        seen_.push_back({box->windowTitle(), box->text(), box->icon()});
        QAbstractButton* button = nullptr;
        if (!answers_.empty()) {
            button = box->button(answers_.front());
            answers_.erase(answers_.begin());
        }
        if (!button) button = box->defaultButton();
        if (!button) button = box->escapeButton();
        if (!button && !box->buttons().isEmpty()) button = box->buttons().constFirst();
        if (button) button->click();
    }
}

void whenDialogShows(const std::function<bool(QWidget*)>& fn) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && !qobject_cast<QMessageBox*>(modal) && fn(modal)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(5);
}

void answerFileDialog(const QString& path, QString* title) {
    whenDialogShows([path, title](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        if (!d) return false;
        if (title) *title = d->windowTitle();
        d->selectFile(path);
        QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        return true;
    });
}

QComboBox* listDescribed(QWidget* root, const QString& description) {
    for (QComboBox* b : root->findChildren<QComboBox*>())
        if (b->accessibleDescription() == description) return b;
    return nullptr;
}

void choose(QComboBox* box, int row) {
    box->setCurrentIndex(row);
    Q_EMIT box->activated(row);
}

void onDialog(const QString& title, std::function<void(QDialog*)> fn) {
    whenDialogShows([title, fn](QWidget* w) {
        auto* d = qobject_cast<QDialog*>(w);
        if (!d || d->windowTitle() != title) return false;
        fn(d);
        return true;
    });
}

void prepareTestEnvironment() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("XDG_STATE_HOME", (runtime.path() + QStringLiteral("/state")).toLocal8Bit());
    qputenv("TARROWIN_AUDIO_DRIVER", "file");
    QStandardPaths::setTestModeEnabled(true);
    // Settings of this run only: what one test program keeps (a theme, a window's place, a
    // sync that waits for JACK) never reaches another running beside it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, runtime.path() + QStringLiteral("/config"));
}

}  // namespace tarrowin::app::testing
