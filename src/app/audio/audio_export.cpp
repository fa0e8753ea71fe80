#include "audio_export.h"

#include <QFileInfo>
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

QString AudioExport::askPath(const QString& title) {
    const QString& document = ws_.document.path();
    return askOutputPath(window_, title, QFileInfo(document).absolutePath(),
                         document.isEmpty() ? QString() : QFileInfo(document).completeBaseName(),
                         {{kWavFilter, QStringLiteral("wav")}, {kFlacFilter, QStringLiteral("flac")}});
}

void AudioExport::run() {
    const auto mode = exportModeIfReady(ws_, window_);
    if (!mode) return;
    const bool composition = *mode == ExportMode::Composition;
    const CTarrowinDoc& doc = ws_.document.doc();
    const SoundFontChoice font = findSoundFont({}, ws_.preferences.soundFont().toStdString());
    if (!font.found()) {
        showMessage(window_, QString::fromStdString(font.message), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }
    const QString path = askPath(composition ? QStringLiteral("Export Audio (Composition)")
                                             : QStringLiteral("Export Audio (Current Settings)"));
    if (path.isEmpty()) return;
    const auto format = audioFormatFor(path.toStdString());
    if (!format) {
        showMessage(window_,
                    QStringLiteral("Audio is written as WAV or FLAC: choose a name that ends in .wav or .flac"),
                    QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }

    RenderOptions options;
    options.format = *format;
    options.percussionChannel = ws_.playback.output().percussionChannel();
    options.soundFont = font.path;
    const PerformanceMode performance = composition ? PerformanceMode::ExportComposition : PerformanceMode::ExportCurrent;
    const Settings current = doc.current();
    const std::vector<Settings> events = doc.composition().events();
    RenderResult result;
    runWithProgress(window_, QStringLiteral("Export Audio"),
                    QStringLiteral("Exporting audio to %1...").arg(QFileInfo(path).fileName()),
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
