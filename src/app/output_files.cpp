#include "output_files.h"

#include <QFileDialog>

#include "document/replacing_file.h"
#include "playback/wav_render.h"
#include "workspace.h"

namespace tarrowin::app {

std::optional<ExportMode> exportModeIfReady(Workspace& workspace, QWidget* parent, ExportKind kind) {
    if (!workspace.document.takeTypedInput()) return std::nullopt;
    const bool composition = workspace.playback.playMode() == PlayMode::Composition;
    const ExportMode mode = composition ? ExportMode::Composition : ExportMode::CurrentSettings;
    const CTarrowinDoc& doc = workspace.document.doc();
    const int32_t percussionChannel = workspace.playback.output().percussionChannel();
    const ExportResult check =
        kind == ExportKind::Midi ? checkMidiExport(doc, mode, percussionChannel) : checkExport(doc, mode);
    if (!check.ok) {
        showMessage(parent, QString::fromStdString(check.message), QString::fromStdString(check.caption),
                    MessageIcon::Exclamation);
        return std::nullopt;
    }
    if (kind == ExportKind::Audio) {
        RenderOptions options;
        options.percussionChannel = percussionChannel;
        options.tuning = doc.sharedTuning();
        const PerformanceMode performance = composition ? PerformanceMode::ExportComposition : PerformanceMode::ExportCurrent;
        if (const std::string why = renderTuningRefusal(performance, doc.current(), doc.composition().events(), options);
            !why.empty()) {
            showMessage(parent, QString::fromStdString(why), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
            return std::nullopt;
        }
    }
    return mode;
}

QString askOutputPath(QWidget* parent, const QString& title, const QString& folder, const QString& name,
                      const QList<OutputFormat>& formats,
                      const std::function<void(QFileDialog&)>& addControls) {
    QStringList filters;
    for (const OutputFormat& f : formats) filters << f.filter;
    QFileDialog dialog(parent, title, folder, filters.join(QStringLiteral(";;")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The dialog adds the default suffix before its overwrite question: it follows the format.
    const auto suffixOf = [formats](const QString& filter) {
        for (const OutputFormat& f : formats)
            if (f.filter == filter) return f.suffix;
        return formats.isEmpty() ? QString() : formats.constFirst().suffix;
    };
    dialog.setDefaultSuffix(suffixOf(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, suffixOf](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
    if (!name.isEmpty()) dialog.selectFile(name);
    if (addControls) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        addControls(dialog);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

QString writeOutput(const QString& path, const QByteArray& bytes) {
    ReplacingFile file;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (!file.open(path.toStdString()) || !file.write(data, static_cast<size_t>(bytes.size())) || !file.commit())
        return QString::fromStdString(file.error());
    return {};
}

}  // namespace tarrowin::app
