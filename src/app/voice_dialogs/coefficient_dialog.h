#pragma once
// The parameter dialogs of the generators: one or two number fields, each with its label
// and range, and OK and Cancel. OK refuses text that is not a number or lies outside the
// field's range; a field accepts "." and the user's own decimal separator, keeps the float
// nearest to what was typed, and shows a value so that it reads back as the same float.
//
// Each generator has its named dialog with its labels and ranges. A voice's dialog is
// titled "LogMap Voice N", "1/f Voice N", ...; the Multiple Voice Editor reuses them as
// "LogMap", "1/f Noise", "Henon", "Hopalong", "Martin", "Ginger", "Lorenz". The caller
// passes the values in and reads them after OK.

#include <QDialog>
#include <memory>
#include <vector>

#include "engine/settings.h"

class QLineEdit;

namespace tarrowin::app {

class CoefficientDialog : public QDialog {
    Q_OBJECT
   public:
    struct Field {
        QString label;
        float min;
        float max;
        float value;
    };

    CoefficientDialog(const QString& title, std::vector<Field> fields, QWidget* parent = nullptr);

    int count() const { return static_cast<int>(fields_.size()); }
    // The value of field i: as it came in, or as OK accepted it.
    float value(int i) const { return fields_[static_cast<size_t>(i)].value; }

    // OK: every field in turn; the first refused one keeps the dialog open.
    void accept() override;

   private:
    std::vector<Field> fields_;
    std::vector<QLineEdit*> edits_;
};

// "Enter µ coefficient", 2..4.
class LogisticDialog : public CoefficientDialog {
   public:
    LogisticDialog(const QString& title, float mu, QWidget* parent = nullptr);
    float mu() const { return value(0); }
};

// "Enter þ coefficient", 0..1.
class NoiseDialog : public CoefficientDialog {
   public:
    NoiseDialog(const QString& title, float coefficient, QWidget* parent = nullptr);
    float coefficient() const { return value(0); }
};

// "Parameter a" 1..2, "Parameter b" 0..1.
class HenonDialog : public CoefficientDialog {
   public:
    HenonDialog(const QString& title, float a, float b, QWidget* parent = nullptr);
    float a() const { return value(0); }
    float b() const { return value(1); }
};

// "Enter angle in radians", -6.28319..6.28319: Hopalong's and Martin's.
class AngleDialog : public CoefficientDialog {
   public:
    AngleDialog(const QString& title, float angle, QWidget* parent = nullptr);
    float angle() const { return value(0); }
};

// "Initial X" and "Initial Y", each -20..20.
class GingerDialog : public CoefficientDialog {
   public:
    GingerDialog(const QString& title, float x0, float y0, QWidget* parent = nullptr);
    float x0() const { return value(0); }
    float y0() const { return value(1); }
};

// "Enter coefficient", 0..1.
class LorenzDialog : public CoefficientDialog {
   public:
    LorenzDialog(const QString& title, float coefficient, QWidget* parent = nullptr);
    float coefficient() const { return value(0); }
};

// The dialog of algorithm a preset with the voice's coefficients, its fields in the order
// of coefficientRules(a); none for Morse-Thue.
std::unique_ptr<CoefficientDialog> makeCoefficientDialog(Algorithm a, const QString& title, const VoiceSettings& voice,
                                                         QWidget* parent);

}  // namespace tarrowin::app
