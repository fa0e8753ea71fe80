// Every typed field of the window against the rule of the value it edits: typed just
// beyond a bound it is refused with the message naming the bounds and nothing is stored;
// typed at the bound it is taken. The bounds come from the document's value rules (what a
// file may hold), the engine's counter limit and its table of coefficients, never from the
// field itself: a field that drifts from the rule of its value fails here, and so does a
// rule that drifts from the field.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QScrollBar>
#include <QtTest>
#include <cmath>
#include <functional>

#include "app/form/tarrowin_view.h"
#include "app/form_fields.h"
#include "app/main_window.h"
#include "app/tools/tool_windows.h"
#include "app/tools/voice_editor_dialog.h"
#include "app/voice_dialogs/coefficient_dialog.h"
#include "app/voice_dialogs/modulate_dialog.h"
#include "app/voice_dialogs/note_value_dialog.h"
#include "app/voice_dialogs/voice_midi_dialog.h"
#include "app_test_support.h"
#include "document/document_validation.h"
#include "engine/tables.h"
#include "tools/pickers.h"

using namespace tarrowin;
using namespace tarrowin::app;
using namespace tarrowin::app::testing;

namespace {

template <class Rules>
auto ruleNamed(const Rules& rules, std::string_view name) {
    const auto it = std::find_if(rules.begin(), rules.end(), [&](const auto& r) { return r.name == name; });
    if (it == rules.end()) qFatal("no value rule %s", std::string(name).c_str());
    return *it;
}
struct Bounds {
    int64_t min, max;
};
Bounds voiceBounds(std::string_view name) {
    const auto r = ruleNamed(kVoiceIntRules, name);
    return {r.min, r.max};
}
Bounds globalBounds(std::string_view name) {
    const auto r = ruleNamed(kGlobalRules, name);
    return {r.min, r.max};
}

// An integer field: where it is, the bounds of its value, how the user leaves it (Tab, or
// OK of its dialog) and the value stored afterwards.
struct IntField {
    QString name;
    QLineEdit* edit;
    Bounds bounds;
    std::function<void()> leave;
    std::function<int64_t()> stored;
};

void type(QLineEdit* edit, const QString& text) {
    QApplication::setActiveWindow(edit->window());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void tab(QLineEdit* edit) { QTest::keyClick(edit, Qt::Key_Tab); }

// Just beyond the lower bound, at it, just beyond the upper bound, at it.
void checkBounds(const IntField& f) {
    MessageBoxes boxes;
    const QString refusal = integerRangeMessage(f.bounds.min, f.bounds.max);
    for (const int64_t value : {f.bounds.min - 1, f.bounds.min, f.bounds.max + 1, f.bounds.max}) {
        const bool inside = value >= f.bounds.min && value <= f.bounds.max;
        const int64_t before = f.stored();
        boxes.clear();
        type(f.edit, QString::number(value));
        f.leave();
        const QString where = QStringLiteral("%1 typed %2").arg(f.name).arg(value);
        if (inside) {
            QVERIFY2(boxes.seen().empty(), qPrintable(where + QStringLiteral(": ") + boxes.lastText()));
            QVERIFY2(f.stored() == value, qPrintable(where));
        } else {
            QTRY_VERIFY2(!boxes.seen().empty(), qPrintable(where + QStringLiteral(" was taken")));
            QVERIFY2(boxes.lastText() == refusal, qPrintable(where + QStringLiteral(": ") + boxes.lastText()));
            QVERIFY2(f.stored() == before, qPrintable(where));
        }
    }
}

}  // namespace

class FieldBoundsTest : public QObject {
    Q_OBJECT

   private Q_SLOTS:
    void init() { w_ = std::make_unique<WindowUnderTest>(); }
    void cleanup() { w_.reset(); }

    void formFields();
    void voiceDialogFields();
    void coefficientFields();
    void multipleVoiceEditorFields();
    void barsAndListsSpanTheirRules();
    void randomizerRangesFollowTheirValues();

   private:
    const CTarrowinDoc& doc() { return w_->ws().document.doc(); }
    std::unique_ptr<WindowUnderTest> w_;
};

void FieldBoundsTest::formFields() {
    TarrowinView& view = w_->window->view();
    w_->ws().document.edit(QStringLiteral("on"), DocumentController::Scope::Current, [](CTarrowinDoc& d) {
        for (int v = 0; v < kVoices; ++v) d.setEnabled(v, true);
    });
    std::vector<IntField> fields;
    const struct {
        VoiceRow::Column column;
        const char* rule;
        int32_t VoiceSettings::*member;
    } columns[] = {{VoiceRow::Param1, "param1", &VoiceSettings::param1},
                   {VoiceRow::Param2, "param2", &VoiceSettings::param2},
                   {VoiceRow::Offset, "offset", &VoiceSettings::offset}};
    for (int v = 0; v < kVoices; ++v) {
        for (const auto& c : columns) {
            QLineEdit* edit = view.row(v).edit(c.column);
            fields.push_back({edit->accessibleName(), edit, voiceBounds(c.rule), [edit] { tab(edit); },
                              [this, v, m = c.member] { return int64_t(doc().voice(v).*m); }});
        }
    }
    // The form stores counters up to the engine's limit; Round may leave End above it.
    fields.push_back({QStringLiteral("Start"), view.startEdit(), {0, kMaxCounter}, [&view] { tab(view.startEdit()); },
                      [this] { return int64_t(doc().global().startCounter); }});
    fields.push_back({QStringLiteral("End"), view.endEdit(), {0, kMaxCounter}, [&view] { tab(view.endEdit()); },
                      [this] { return int64_t(doc().global().endCounter); }});
    QCOMPARE(int(fields.size()), int(view.findChildren<QLineEdit*>().size()));  // every field of the form
    for (const IntField& f : fields) {
        checkBounds(f);
        if (QTest::currentTestFailed()) return;  // the field keeps its refused text
    }
}

void FieldBoundsTest::voiceDialogFields() {
    ModulateDialog modulate(QStringLiteral("Modulate"), ModulateDialog::kEveryMode, 5);
    modulate.show();
    checkBounds({QStringLiteral("Modulate every"), modulate.findChild<QLineEdit*>(), voiceBounds("modulateEvery"),
                 [&] { modulate.accept(); }, [&] { return int64_t(modulate.every()); }});
    NoteValueDialog noteValue(QStringLiteral("Other value"), 8);
    noteValue.show();
    const FloatRule ticks = ruleNamed(kVoiceFloatRules, "noteValue");
    checkBounds({QStringLiteral("Other note value"), noteValue.findChild<QLineEdit*>(),
                 {int64_t(ticks.min), int64_t(ticks.max)}, [&] { noteValue.accept(); },
                 [&] { return int64_t(noteValue.value()); }});
}

void FieldBoundsTest::coefficientFields() {
    for (int a = 0; a < kAlgorithms; ++a) {
        const auto rules = coefficientRules(static_cast<Algorithm>(a));
        for (size_t i = 0; i < rules.size(); ++i) {
            const CoefficientRule& r = rules[i];
            const struct {
                float value;
                bool inside;
            } typed[] = {{std::nextafter(r.min, -INFINITY), false},
                         {r.min, true},
                         {std::nextafter(r.max, INFINITY), false},
                         {r.max, true}};
            for (const auto& t : typed) {
                MessageBoxes boxes;
                auto d = makeCoefficientDialog(static_cast<Algorithm>(a), QStringLiteral("Coefficient"),
                                               VoiceSettings::defaults(0), nullptr);
                d->show();
                QLineEdit* edit = d->findChildren<QLineEdit*>().at(qsizetype(i));
                const QString text = numberText(t.value);
                type(edit, text);
                d->accept();
                const QString where = QStringLiteral("%1 of algorithm %2 typed %3").arg(edit->accessibleName()).arg(a).arg(text);
                if (t.inside) {
                    QVERIFY2(boxes.seen().empty() && d->result() == QDialog::Accepted, qPrintable(where));
                    QVERIFY2(d->value(int(i)) == t.value, qPrintable(where));
                } else {
                    QTRY_VERIFY2(!boxes.seen().empty(), qPrintable(where + QStringLiteral(" was taken")));
                    QVERIFY2(boxes.lastText() == numberRangeMessage(r.min, r.max), qPrintable(where));
                }
            }
        }
    }
}

void FieldBoundsTest::multipleVoiceEditorFields() {
    MultipleVoiceEditor& members = w_->window->tools().voiceEditor();
    VoiceEditorDialog dialog(w_->ws(), members, w_->window.get());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const struct {
        ChangeFlag flag;
        const char* field;
        const char* name;
        int32_t MultipleVoiceEditor::*member;
    } fields[] = {{ChangeFlag::Param1, "Param1", "param1", &MultipleVoiceEditor::newParam1},
                  {ChangeFlag::Param2, "Param2", "param2", &MultipleVoiceEditor::newParam2}};
    for (const auto& f : fields) {
        dialog.flagBox(f.flag)->setChecked(true);
        QLineEdit* edit = named<QLineEdit>(&dialog, QString::fromLatin1(f.field));
        QVERIFY(edit && edit->isEnabled());
        checkBounds({QStringLiteral("Multiple Voice Editor ") + edit->accessibleName(), edit, voiceBounds(f.name),
                     [edit] { tab(edit); }, [&members, m = f.member] { return int64_t(members.*m); }});
    }
    QScrollBar* pan = named<QScrollBar>(&dialog, QStringLiteral("Pan"));
    QVERIFY(pan);
    QCOMPARE(int64_t(pan->minimum()), voiceBounds("pan").min);
    QCOMPARE(int64_t(pan->maximum()), voiceBounds("pan").max);
}

void FieldBoundsTest::barsAndListsSpanTheirRules() {
    TarrowinView& view = w_->window->view();
    QScrollBar* tempo = view.tempoBar();
    const Bounds tempos = globalBounds("tempo");
    QCOMPARE(int64_t(tempo->minimum()), tempos.min);
    QCOMPARE(int64_t(tempo->maximum()), tempos.max);
    for (const int64_t t : {tempos.min, tempos.max}) {
        tempo->setValue(int(t));
        QCOMPARE(int64_t(doc().global().tempo), t);
    }
    QComboBox* numerator = listDescribed(w_->window.get(), QStringLiteral("Numerator"));
    const Bounds numerators = globalBounds("timeSigNumerator");
    QCOMPARE(int64_t(numerator->count()), numerators.max - numerators.min + 1);
    QCOMPARE(numerator->itemText(0), QString::number(numerators.min));
    QCOMPARE(numerator->itemText(numerator->count() - 1), QString::number(numerators.max));

    VoiceMidiDialog extra(0);
    QScrollBar* pan = named<QScrollBar>(&extra, QStringLiteral("Pan"));
    QVERIFY(pan);
    QCOMPARE(int64_t(pan->minimum()), voiceBounds("pan").min);
    QCOMPARE(int64_t(pan->maximum()), voiceBounds("pan").max);
}

void FieldBoundsTest::randomizerRangesFollowTheirValues() {
    const FloatRule ticks = ruleNamed(kVoiceFloatRules, "noteValue");
    const struct {
        const char* name;
        RangePicker (*make)(int32_t, int32_t);
        Bounds bounds;
    } ranges[] = {{"Param1 Range", &RangePicker::param1Range, voiceBounds("param1")},
                  {"Param2 Range", &RangePicker::param2Range, voiceBounds("param2")},
                  {"Other Range", &RangePicker::noteValueRange, {int64_t(ticks.min), int64_t(ticks.max)}}};
    for (const auto& r : ranges) {
        const auto lo = int32_t(r.bounds.min), hi = int32_t(r.bounds.max);
        QVERIFY2(!r.make(lo, hi).ok(), r.name);
        QVERIFY2(r.make(lo - 1, hi).ok().has_value(), r.name);
        QVERIFY2(r.make(lo, hi + 1).ok().has_value(), r.name);
    }
}

TARROWIN_QTEST_MAIN(FieldBoundsTest)
#include "field_bounds_test.moc"
