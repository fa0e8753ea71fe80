#include "soundfont_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "app/wait_cursor.h"
#include "app/workspace.h"
#include "playback/synth.h"

namespace tarrowin::app {

namespace {

const QString kFilter = QStringLiteral("SoundFonts (*.sf2 *.sf3)");
const QString kInstalledFolder = QStringLiteral("/usr/share/sounds/sf2");

QListWidgetItem* fileItem(const QString& path) {
    const QFileInfo info(path);
    auto* item = new QListWidgetItem(QStringLiteral("%1  (%2)").arg(info.fileName(), info.absolutePath()));
    item->setData(Qt::UserRole, path);
    item->setToolTip(path);
    return item;
}

}  // namespace

void chooseSoundFont(Workspace& ws, QWidget* parent) {
    SoundFontDialog dialog(ws.preferences.soundFont(), parent);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString path = dialog.choice();
    if (path == ws.preferences.soundFont()) return;
    if (!path.isEmpty()) {
        std::string problem;
        {
            WaitCursor wait;  // FluidSynth reads the whole file
            problem = soundFontProblem(path.toStdString());
        }
        if (!problem.empty()) {
            showMessage(parent, QString::fromStdString(problem), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
            return;
        }
    }
    ws.preferences.setSoundFont(path);
    applySoundFont(ws);
    ws.playback.output().prepare();  // the synthesizer's stream moves to the new SoundFont
}

void applySoundFont(Workspace& ws) {
    const std::string path = ws.preferences.soundFont().toStdString();
    for (const auto& backend : ws.playback.output().backends()) {
        if (auto* synth = dynamic_cast<SynthBackend*>(backend.get())) synth->setPreferredSoundFont(path);
    }
}

SoundFontDialog::SoundFontDialog(const QString& current, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("SoundFont"));
    auto* label = new QLabel(QStringLiteral("&SoundFonts of the built-in synthesizer:"), this);
    list_ = new QListWidget(this);
    nameControl(list_, label, QStringLiteral("SoundFonts"));
    list_->setMinimumSize(460, 180);
    auto* automatic = new QListWidgetItem(QStringLiteral("Default: the best General MIDI SoundFont installed"));
    automatic->setData(Qt::UserRole, QString());
    list_->addItem(automatic);
    for (const std::string& path : installedSoundFonts()) list_->addItem(fileItem(QString::fromStdString(path)));

    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    browse->setToolTip(QStringLiteral("Choose another SoundFont file"));
    connect(browse, &QPushButton::clicked, this, &SoundFontDialog::browse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(list_, 1);
    layout->addWidget(browse, 0, Qt::AlignLeft);
    const QByteArray env = qgetenv("TARROWIN_SOUNDFONT");
    if (!env.isEmpty()) {
        auto* note = new QLabel(QStringLiteral("TARROWIN_SOUNDFONT is set: the synthesizer plays %1 "
                                               "until it is unset, whatever is chosen here.")
                                    .arg(QString::fromLocal8Bit(env)),
                                this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    layout->addWidget(buttons);
    select(current);
}

void SoundFontDialog::select(const QString& path) {
    for (int row = 0; row < list_->count(); ++row) {
        if (list_->item(row)->data(Qt::UserRole).toString() == path) {
            list_->setCurrentRow(row);
            return;
        }
    }
    list_->addItem(fileItem(path));
    list_->setCurrentRow(list_->count() - 1);
}

QString SoundFontDialog::choice() const {
    const QListWidgetItem* item = list_->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void SoundFontDialog::browse() {
    const QString folder = choice().isEmpty() ? kInstalledFolder : QFileInfo(choice()).absolutePath();
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Choose a SoundFont"), folder, kFilter);
    if (!path.isEmpty()) select(path);
}

}  // namespace tarrowin::app
