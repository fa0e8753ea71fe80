#include "coefficient_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/accessibility.h"
#include "app/form_fields.h"
#include "engine/tables.h"

namespace tarrowin::app {

namespace {

CoefficientDialog::Field field(const QString& label, Algorithm a, int i, float value) {
    const CoefficientRule& r = coefficientRules(a)[static_cast<size_t>(i)];
    return {label, r.min, r.max, value};
}

}  // namespace

CoefficientDialog::CoefficientDialog(const QString& title, std::vector<Field> fields, QWidget* parent)
    : QDialog(parent), fields_(std::move(fields)) {
    setWindowTitle(title);
    auto* grid = new QGridLayout(this);
    for (size_t i = 0; i < fields_.size(); ++i) {
        auto* label = new QLabel(fields_[i].label, this);
        auto* edit = new QLineEdit(numberText(fields_[i].value), this);
        edit->setMaxLength(32);
        // The longest text a float is shown as: a sign, nine digits and an exponent.
        fitField(edit, {QStringLiteral("-0.00000000e-00"), numberText(fields_[i].min), numberText(fields_[i].max)});
        nameControl(edit, label, plainText(fields_[i].label));
        grid->addWidget(label, int(i), 0);
        grid->addWidget(edit, int(i), 1);
        edits_.push_back(edit);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    grid->setRowMinimumHeight(int(fields_.size()), 6);
    grid->addWidget(buttons, int(fields_.size()) + 1, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    // Room for the whole caption in the title bar.
    setMinimumWidth(fontMetrics().horizontalAdvance(title) + 160);
    connect(buttons, &QDialogButtonBox::accepted, this, &CoefficientDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (!edits_.empty()) {
        edits_.front()->setFocus();
        edits_.front()->selectAll();
    }
}

void CoefficientDialog::accept() {
    std::vector<float> read;
    for (size_t i = 0; i < fields_.size(); ++i) {
        const auto v = readNumberField(edits_[i], fields_[i].min, fields_[i].max);
        if (!v) return;
        read.push_back(*v);
    }
    for (size_t i = 0; i < fields_.size(); ++i) fields_[i].value = read[i];
    QDialog::accept();
}

LogisticDialog::LogisticDialog(const QString& title, float mu, QWidget* parent)
    : CoefficientDialog(title, {field(QStringLiteral("Enter \u00b5 coefficient"), Algorithm::LogisticMap, 0, mu)}, parent) {}

NoiseDialog::NoiseDialog(const QString& title, float coefficient, QWidget* parent)
    : CoefficientDialog(
          title, {field(QStringLiteral("Enter \u00fe coefficient"), Algorithm::OneOverFNoise, 0, coefficient)}, parent) {}

HenonDialog::HenonDialog(const QString& title, float a, float b, QWidget* parent)
    : CoefficientDialog(title,
                        {field(QStringLiteral("Parameter &a"), Algorithm::Henon, 0, a),
                         field(QStringLiteral("Parameter &b"), Algorithm::Henon, 1, b)},
                        parent) {}

AngleDialog::AngleDialog(const QString& title, float angle, QWidget* parent)
    : CoefficientDialog(title, {field(QStringLiteral("Enter angle in radians"), Algorithm::Hopalong, 0, angle)},
                        parent) {}

GingerDialog::GingerDialog(const QString& title, float x0, float y0, QWidget* parent)
    : CoefficientDialog(title,
                        {field(QStringLiteral("Initial &X"), Algorithm::Gingerbreadman, 0, x0),
                         field(QStringLiteral("Initial &Y"), Algorithm::Gingerbreadman, 1, y0)},
                        parent) {}

LorenzDialog::LorenzDialog(const QString& title, float coefficient, QWidget* parent)
    : CoefficientDialog(title, {field(QStringLiteral("Enter coefficient"), Algorithm::Lorenz, 0, coefficient)},
                        parent) {}

std::unique_ptr<CoefficientDialog> makeCoefficientDialog(Algorithm a, const QString& title, const VoiceSettings& v,
                                                         QWidget* parent) {
    switch (a) {
        case Algorithm::LogisticMap: return std::make_unique<LogisticDialog>(title, v.logisticMu, parent);
        case Algorithm::OneOverFNoise: return std::make_unique<NoiseDialog>(title, v.noiseCoefficient, parent);
        case Algorithm::Henon: return std::make_unique<HenonDialog>(title, v.henonA, v.henonB, parent);
        case Algorithm::Hopalong: return std::make_unique<AngleDialog>(title, v.hopalongAngle, parent);
        case Algorithm::Martin: return std::make_unique<AngleDialog>(title, v.martinAngle, parent);
        case Algorithm::Gingerbreadman: return std::make_unique<GingerDialog>(title, v.gingerX0, v.gingerY0, parent);
        case Algorithm::Lorenz: return std::make_unique<LorenzDialog>(title, v.lorenzCoefficient, parent);
        case Algorithm::MorseThue: break;
    }
    return nullptr;
}

}  // namespace tarrowin::app
