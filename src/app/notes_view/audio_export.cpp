#include "audio_export.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/form/tarrowin_view.h"
#include "app/output_files.h"
#include "app/workspace.h"
#include "export_progress_dialog.h"
#include "midifile/midi_export.h"
#include "playback/synth.h"
#include "playback/wav_render.h"

namespace tarrowin::app {

namespace {

const QString kWavFilter = QStringLiteral("WAV audio (*.wav)");
const QString kFlacFilter = QStringLiteral("FLAC audio (*.flac)");
constexpr int kProgressSteps = 1000;

}  // namespace

AudioExport::AudioExport(Workspace& workspace, TarrowinView& view, QWidget* window)
    : QObject(window), ws_(workspace), view_(view), window_(window) {}

QString AudioExport::askPath(const QString& title, bool& stems) {
    const QString& document = ws_.document.path();
    stems = stems_;
    return askOutputPath(
        window_, title, QFileInfo(document).absolutePath(),
        document.isEmpty() ? QString() : QFileInfo(document).completeBaseName(),
        {{kWavFilter, QStringLiteral("wav")}, {kFlacFilter, QStringLiteral("flac")}}, [&stems](QFileDialog& dialog) {
            auto* stemsBox = new QCheckBox(QStringLiteral("One file per voice (stems)"), &dialog);
            stemsBox->setChecked(stems);
            stemsBox->setToolTip(QStringLiteral("Also write each voice's dry sound, and the reverb and chorus of them "
                                                "all, into files of their own in a folder; they add up to the mix"));
            QObject::connect(stemsBox, &QCheckBox::toggled, &dialog, [&stems](bool on) { stems = on; });
            if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
                grid->addWidget(stemsBox, grid->rowCount(), 0, 1, grid->columnCount());
        });
}

QString AudioExport::askStemsFolder(const QString& mixPath) {
    const QString start = stemsFolder_.isEmpty() || !QFileInfo(stemsFolder_).isDir() ? QFileInfo(mixPath).absolutePath()
                                                                                     : stemsFolder_;
    QFileDialog dialog(window_, QStringLiteral("Stems Folder"), start);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

void AudioExport::run() {
    if (!view_.takeForm()) return;
    const bool composition = ws_.playback.playMode() == PlayMode::Composition;
    const CTarrowinDoc& doc = ws_.document.doc();
    const ExportResult check = checkExport(doc, composition ? ExportMode::Composition : ExportMode::CurrentSettings);
    if (!check.ok) {
        showMessage(window_, QString::fromStdString(check.message), QString::fromStdString(check.caption),
                    MessageIcon::Exclamation);
        return;
    }
    RenderOptions options;
    options.percussionChannel = ws_.playback.output().percussionChannel();
    options.tuning = doc.sharedTuning();
    const PerformanceMode mode = composition ? PerformanceMode::ExportComposition : PerformanceMode::ExportCurrent;
    if (const std::string why = renderTuningRefusal(mode, doc.current(), doc.composition().events(), options);
        !why.empty()) {
        showMessage(window_, QString::fromStdString(why), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }
    const SoundFontChoice font =
        findSoundFont({}, preferredSoundFont ? preferredSoundFont().toStdString() : std::string());
    if (!font.found()) {
        showMessage(window_, QString::fromStdString(font.message), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }
    bool stems = false;
    const QString path = askPath(composition ? QStringLiteral("Export Audio (Composition)")
                                             : QStringLiteral("Export Audio (Current Settings)"),
                                 stems);
    if (path.isEmpty()) return;
    stems_ = stems;
    const auto format = audioFormatFor(path.toStdString());
    if (!format) {
        showMessage(window_,
                    QStringLiteral("Audio is written as WAV or FLAC: choose a name that ends in .wav or .flac"),
                    QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }
    QString folder;
    if (stems) {
        folder = askStemsFolder(path);
        if (folder.isEmpty()) return;
        stemsFolder_ = folder;
    }

    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    options.format = *format;
    options.soundFont = font.path;
    options.cancelled = [&cancel] { return cancel.load(); };
    options.stemsFolder = folder.toStdString();
    const Settings current = doc.current();
    const std::vector<Settings> events = doc.composition().events();

    const QString what = stems ? QStringLiteral("%1 and the stems").arg(QFileInfo(path).fileName())
                               : QFileInfo(path).fileName();
    ExportProgressDialog progress(QStringLiteral("Exporting audio to %1...").arg(what), kProgressSteps, window_);
    connect(&progress, &ExportProgressDialog::cancelled, &progress, [&cancel] { cancel.store(true); });
    QTimer tick;
    connect(&tick, &QTimer::timeout, &progress, [&] { progress.setProgress(done.load()); });
    tick.start(50);

    RenderResult result;
    std::thread worker([&] {
        result = renderToAudio(mode, current, events, path.toStdString(), options,
                               [&done](double fraction) { done.store(static_cast<int>(fraction * kProgressSteps)); });
        QMetaObject::invokeMethod(&progress, &ExportProgressDialog::finish, Qt::QueuedConnection);
    });
    progress.exec();  // modal to the whole program: a tool window could start a second export
    // The dialog also ends when the program is ended from outside: the rendering stops then.
    // After a finished rendering the flag changes nothing.
    cancel.store(true);
    worker.join();
    tick.stop();

    if (result.ok) {
        Q_EMIT exported(path, result.playbackMs);
    } else if (!result.cancelled) {
        showMessage(window_, QString::fromStdString(result.message), QStringLiteral("Tarrowin"),
                    MessageIcon::Exclamation);
    }
}

}  // namespace tarrowin::app
