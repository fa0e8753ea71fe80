#include "file_commands.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

#include "accessibility.h"
#include "midifile/midi_export.h"
#include "output_files.h"
#include "wait_cursor.h"
#include "workspace.h"

namespace tarrowin::app {

namespace {

const QString kDocumentFilter = QStringLiteral("Tarrowin binary files (*.trw)");
const QString kMidiFilter = QStringLiteral("Midi files *.mid (*.mid)");

}  // namespace

FileCommands::FileCommands(Workspace& workspace, QWidget* window)
    : QObject(window), ws_(workspace), window_(window) {}

bool FileCommands::maybeSave() {
    // A session manager saves the session when it closes it; nothing here asks.
    if (!ws_.document.isModified() || ws_.sessionManaged) return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tarrowin"),
                    QStringLiteral("Save changes to %1?").arg(ws_.document.title()),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, window_);
    switch (box.exec()) {
        case QMessageBox::Yes: return save();
        case QMessageBox::No: return true;
        default: return false;
    }
}

void FileCommands::newDocument() {
    if (!maybeSave()) return;
    ws_.document.newDocument();
}

void FileCommands::open() {
    if (!maybeSave()) return;
    const QString path = QFileDialog::getOpenFileName(window_, QStringLiteral("Open"), QString(), kDocumentFilter);
    if (!path.isEmpty()) load(path);
}

bool FileCommands::openPath(const QString& path) {
    // Like Open, a recent file or a dropped one is not opened while something plays, nor
    // into a session, whose document lives where the session keeps it.
    if (ws_.playback.isPlaying() || ws_.sessionManaged) return false;
    return maybeSave() && load(path);
}

bool FileCommands::load(const QString& path) {
    const FileResult r = ws_.document.open(path);
    if (!r.ok) {
        showMessage(window_, QString::fromStdString(r.message), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return false;
    }
    ws_.preferences.addRecentFile(path);
    return true;
}

bool FileCommands::save() {
    if (!ws_.document.takeTypedInput()) return false;
    if (ws_.document.path().isEmpty()) return saveAs();
    return saveTo(ws_.document.path());
}

bool FileCommands::saveAs() {
    if (!ws_.document.takeTypedInput()) return false;
    const QString path = askSavePath(QStringLiteral("Save As"), kDocumentFilter, QStringLiteral("trw"));
    return !path.isEmpty() && saveTo(path);
}

bool FileCommands::saveTo(const QString& path) {
    const FileResult r = ws_.document.save(path);
    if (!r.ok) {
        showMessage(window_, QString::fromStdString(r.message), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return false;
    }
    ws_.preferences.addRecentFile(path);
    return true;
}

QString FileCommands::askSavePath(const QString& title, const QString& filter, const QString& suffix) {
    const QString& current = ws_.document.path();
    const bool document = suffix == QLatin1String("trw");
    return askOutputPath(window_, title, QFileInfo(current).absolutePath(), document ? current : QString(),
                         {{filter, suffix}});
}

void FileCommands::saveMidi() {
    const auto mode = exportModeIfReady(ws_, window_, ExportKind::Midi);
    if (!mode) return;
    const QString title = *mode == ExportMode::Composition ? QStringLiteral("Save Midi File (Composition)")
                                                           : QStringLiteral("Save Midi File (Current Settings)");
    const QString path = askSavePath(title, kMidiFilter, QStringLiteral("mid"));
    if (path.isEmpty()) return;
    ExportResult r;
    {
        WaitCursor wait;
        r = exportMidi(ws_.document.doc(), *mode, path.toStdString(), ws_.playback.output().percussionChannel());
    }
    if (!r.ok && !r.message.empty()) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(r.caption), QString::fromStdString(r.message),
                        QMessageBox::Ok, window_);
        box.setInformativeText(QString::fromStdString(r.detail));
        box.exec();
    }
}

void FileCommands::saveTake(const PerformanceTake& take) {
    takes_.push_back(take);
    if (savingTakes_) return;
    savingTakes_ = true;
    while (!takes_.empty()) {
        const PerformanceTake next = std::move(takes_.front());
        takes_.pop_front();
        std::string error;
        const std::vector<uint8_t> bytes = takeToMidi(next, error);
        if (bytes.empty()) {
            showMessage(window_, QStringLiteral("The recording cannot be kept: %1").arg(QString::fromStdString(error)),
                        QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
            continue;
        }
        const QString path = askSavePath(QStringLiteral("Save Recording"), kMidiFilter, QStringLiteral("mid"));
        if (path.isEmpty()) continue;
        const QString why =
            writeOutput(path, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
        if (!why.isEmpty()) {
            showMessage(window_, QStringLiteral("Could not save the recording to %1: %2").arg(path, why),
                        QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        }
    }
    savingTakes_ = false;
}

void FileCommands::playMidi() {
    const QString path =
        QFileDialog::getOpenFileName(window_, QStringLiteral("Open midi file"), QString(), kMidiFilter);
    if (!path.isEmpty()) {
        // The chosen command may carry its own options ("timidity -ig"); the file comes last.
        QStringList args = QProcess::splitCommand(ws_.preferences.midiPlayer());
        if (args.isEmpty()) args << QStringLiteral("xdg-open");
        const QString program = args.takeFirst();
        args << path;
        if (QStandardPaths::findExecutable(program).isEmpty() || !QProcess::startDetached(program, args)) {
            showMessage(window_, QStringLiteral("%1 was not found").arg(program), QStringLiteral("Tarrowin"),
                        MessageIcon::Exclamation);
        }
    }
    // The player may want the device and the sound card: ours lets go of them.
    if (!ws_.playback.isPlaying()) ws_.playback.output().release();
}

void FileCommands::chooseMidiPlayer() {
    QInputDialog dialog(window_);
    dialog.setWindowTitle(QStringLiteral("Midi File Player"));
    dialog.setLabelText(
        QStringLiteral("The &command that plays a MIDI file (its name is added at the end).\n"
                       "Leave it empty for the desktop's player (xdg-open)."));
    dialog.setTextValue(ws_.preferences.midiPlayer());
    if (auto* edit = dialog.findChild<QLineEdit*>())
        nameControl(edit, dialog.findChild<QLabel*>(), QStringLiteral("Command that plays a MIDI file"));
    if (dialog.exec() != QDialog::Accepted) return;
    ws_.preferences.setMidiPlayer(dialog.textValue());
}

void FileCommands::fillRecentFiles(QMenu* fileMenu, QAction* before) {
    for (QAction* a : recentActions_) {
        fileMenu->removeAction(a);
        a->deleteLater();
    }
    recentActions_.clear();
    const QStringList files = ws_.preferences.recentFiles();
    int n = 0;
    for (const QString& f : files) {
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(++n).arg(QFileInfo(f).fileName()), fileMenu);
        a->setStatusTip(QStringLiteral("Open this document"));
        a->setToolTip(f);
        a->setEnabled(!ws_.playback.isPlaying() && !ws_.sessionManaged);
        connect(a, &QAction::triggered, this, [this, f] { openPath(f); });
        fileMenu->insertAction(before, a);
        recentActions_ << a;
    }
    if (!files.isEmpty()) recentActions_ << fileMenu->insertSeparator(before);
}

}  // namespace tarrowin::app
