#include "tuning_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "accessibility.h"
#include "document/tuning_files.h"
#include "qt_prompter.h"
#include "reports/tuning_report.h"
#include "workspace.h"

namespace tarrowin::app {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

// A label whose text is read out as its name, with a description to find it by.
QLabel* valueLabel(const QString& description, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    describeControl(label, description);
    return label;
}

}  // namespace

TuningDialog::TuningDialog(const TuningSettings& tuning, QWidget* parent) : QDialog(parent), tuning_(tuning) {
    setWindowTitle(QStringLiteral("Tuning"));
    auto* grid = new QGridLayout;
    const auto row = [&](const QString& caption, QWidget* value) {
        const int r = grid->rowCount();
        grid->addWidget(new QLabel(caption, this), r, 0, Qt::AlignTop);
        grid->addWidget(value, r, 1);
    };
    description_ = valueLabel(QStringLiteral("Scale description"), this);
    degreeCount_ = valueLabel(QStringLiteral("Degree count"), this);
    map_ = valueLabel(QStringLiteral("Keyboard map"), this);
    reference_ = valueLabel(QStringLiteral("Reference frequency"), this);
    degrees_ = new QListWidget(this);
    degrees_->setMinimumSize(360, 140);
    auto* degreesLabel = new QLabel(QStringLiteral("&Degrees in cents:"), this);
    nameControl(degrees_, degreesLabel, QStringLiteral("Degrees in cents"));
    row(QStringLiteral("Scale:"), description_);
    row(QStringLiteral("Degrees:"), degreeCount_);
    grid->addWidget(degreesLabel, grid->rowCount(), 0, 1, 2);
    grid->addWidget(degrees_, grid->rowCount(), 0, 1, 2);
    row(QStringLiteral("Keyboard map:"), map_);
    row(QStringLiteral("Reference:"), reference_);
    grid->setColumnStretch(1, 1);

    auto* loadScale = new QPushButton(QStringLiteral("Load &Scale..."), this);
    auto* loadMap = new QPushButton(QStringLiteral("Load &Keyboard Map..."), this);
    auto* standard = new QPushButton(QStringLiteral("S&tandard Keyboard Map"), this);
    auto* equal = new QPushButton(QStringLiteral("&12-tone equal (default)"), this);
    describeControl(standard, QStringLiteral("Degree 0 on key 60 at 261.626 Hz, a degree a key"));
    describeControl(equal, QStringLiteral("No scale: every key at its equal-tempered pitch, every voice tuned"));
    auto* files = new QHBoxLayout;
    for (QPushButton* b : {loadScale, loadMap, standard, equal}) {
        b->setAutoDefault(false);
        files->addWidget(b);
    }

    auto* methodBox = new QGroupBox(QStringLiteral("For external synthesizers and MIDI files"), this);
    auto* methodLayout = new QVBoxLayout(methodBox);
    method_ = new QButtonGroup(this);
    for (const TuningMethod m : {TuningMethod::Mts, TuningMethod::PitchBend}) {
        const auto label = tuningMethodLabel(m);
        auto* radio = new QRadioButton(QString::fromUtf8(label.data(), qsizetype(label.size())), methodBox);
        method_->addButton(radio, static_cast<int>(m));
        methodLayout->addWidget(radio);
    }
    auto* note = new QLabel(QStringLiteral("The built-in synthesizer tunes its keys itself. A voice whose \"Tuned\" "
                                           "box is unticked (in its Extra dialog) and the percussion channel keep "
                                           "equal temperament."),
                            this);
    note->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(files);
    layout->addWidget(methodBox);
    layout->addWidget(note);
    layout->addWidget(buttons);

    connect(loadScale, &QPushButton::clicked, this, &TuningDialog::chooseScale);
    connect(loadMap, &QPushButton::clicked, this, &TuningDialog::chooseKeyboardMap);
    connect(standard, &QPushButton::clicked, this, &TuningDialog::standardMap);
    connect(equal, &QPushButton::clicked, this, &TuningDialog::equalTemperament);
    connect(method_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) tuning_.method = static_cast<TuningMethod>(id);
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    refresh();
}

void TuningDialog::chooseScale() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load Scale"), folder_,
                                                      QStringLiteral("Scala scales (*.scl);;All files (*)"));
    if (!path.isEmpty()) loadScale(path);
}

void TuningDialog::chooseKeyboardMap() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load Keyboard Map"), folder_,
                                                      QStringLiteral("Scala keyboard maps (*.kbm);;All files (*)"));
    if (!path.isEmpty()) loadKeyboardMap(path);
}

void TuningDialog::loadScale(const QString& path) { takeFile(path, readScaleFile(path.toStdString()), true); }

void TuningDialog::loadKeyboardMap(const QString& path) {
    takeFile(path, readKeyboardMapFile(path.toStdString()), false);
}

void TuningDialog::takeFile(const QString& path, const TuningFile& file, bool scale) {
    folder_ = QFileInfo(path).absolutePath();
    if (!file.ok()) {
        showMessage(this, text(file.error), QStringLiteral("Tuning"), MessageIcon::Exclamation);
        return;
    }
    take(scale ? tuning_.tuning.withScale(file.text) : tuning_.tuning.withMap(file.text));
}

void TuningDialog::standardMap() { take(tuning_.tuning.withMap({})); }

void TuningDialog::equalTemperament() {
    tuning_ = TuningSettings{};
    refresh();
}

void TuningDialog::take(const TuningRead<Tuning>& read) {
    if (!read.ok()) {
        showMessage(this, text(read.error), QStringLiteral("Tuning"), MessageIcon::Exclamation);
        return;
    }
    tuning_.tuning = *read.value;
    refresh();
}

void TuningDialog::refresh() {
    const Tuning& t = tuning_.tuning;
    description_->setText(text(tuningTitle(t)));
    degreeCount_->setText(text(tuningDegreeSummary(t)));
    degrees_->clear();
    const std::vector<double>& cents = t.scale().cents;
    for (size_t d = 0; d < cents.size(); ++d) {
        degrees_->addItem(QStringLiteral("%1: %2").arg(d + 1).arg(cents[d], 0, 'f', 3));
    }
    map_->setText(text(tuningMapSummary(t)));
    reference_->setText(text(tuningReference(t)));
    if (QAbstractButton* b = method_->button(static_cast<int>(tuning_.method))) b->setChecked(true);
}

void editTuning(Workspace& ws, QWidget* parent) {
    TuningDialog dialog(ws.document.doc().tuning(), parent);
    if (dialog.exec() != QDialog::Accepted) return;
    const TuningSettings chosen = dialog.tuning();
    ws.document.edit(QStringLiteral("Tuning"), DocumentController::Scope::Current,
                     [&chosen](CTarrowinDoc& d) { d.setTuning(chosen); });
}

}  // namespace tarrowin::app
