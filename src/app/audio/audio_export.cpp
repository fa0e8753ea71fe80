#include "audio_export.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMainWindow>
#include <QStatusBar>

#include "app/output_files.h"
#include "app/progress_dialog.h"
#include "app/workspace.h"
#include "playback/synth.h"
#include "playback/wav_render.h"

namespace tarrowin::app {

namespace {

const QString kWavFilter = QStringLiteral("WAV audio (*.wav)");
const QString kFlacFilter = QStringLiteral("FLAC audio (*.flac)");
constexpr int kStatusMs = 6000;

QString duration(qint64 ms) {
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

AudioExport::AudioExport(Workspace& workspace, QMainWindow* window)
    : QObject(window), ws_(workspace), window_(window) {}

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
    const auto mode = exportModeIfReady(ws_, window_, ExportKind::Audio);
    if (!mode) return;
    const bool composition = *mode == ExportMode::Composition;
    const CTarrowinDoc& doc = ws_.document.doc();
    const SoundFontChoice font = findSoundFont({}, ws_.preferences.soundFont().toStdString());
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

    RenderOptions options;
    options.format = *format;
    options.percussionChannel = ws_.playback.output().percussionChannel();
    options.tuning = doc.sharedTuning();
    options.soundFont = font.path;
    options.stemsFolder = folder.toStdString();
    const PerformanceMode performance = composition ? PerformanceMode::ExportComposition : PerformanceMode::ExportCurrent;
    const Settings current = doc.current();
    const std::vector<Settings> events = doc.composition().events();
    RenderResult result;
    const QString what = stems ? QStringLiteral("%1 and the stems").arg(QFileInfo(path).fileName())
                               : QFileInfo(path).fileName();
    runWithProgress(window_, QStringLiteral("Export Audio"), QStringLiteral("Exporting audio to %1...").arg(what),
                    [&](const WorkProgress& progress) {
                        options.cancelled = [cancel = progress.cancel] { return cancel->load(); };
                        result = renderToAudio(performance, current, events, path.toStdString(), options, progress.report);
                    });

    if (result.ok) {
        window_->statusBar()->showMessage(
            QStringLiteral("Exported %1 (%2)").arg(QFileInfo(path).fileName(), duration(result.playbackMs)), kStatusMs);
    } else if (result.cancelled) {
        window_->statusBar()->showMessage(QStringLiteral("Export cancelled, nothing written"), kStatusMs);
    } else {
        showMessage(window_, QString::fromStdString(result.message), QStringLiteral("Tarrowin"),
                    MessageIcon::Exclamation);
    }
}

}  // namespace tarrowin::app
