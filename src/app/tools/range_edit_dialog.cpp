#include "range_edit_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <limits>

#include "app/accessibility.h"
#include "app/form_fields.h"

namespace tarrowin::app {

RangeEditDialog::RangeEditDialog(const RangePicker& range, Prompter& prompter, QWidget* parent)
    : OkOnlyDialog(parent), range_(range), prompter_(prompter) {
    setWindowTitle(QString::fromStdString(range.title));
    auto* fromLabel = new QLabel(QStringLiteral("&From"), this);
    auto* toLabel = new QLabel(QStringLiteral("&To"), this);
    from_ = new QLineEdit(QString::number(range.from), this);
    to_ = new QLineEdit(QString::number(range.to), this);
    nameControl(from_, fromLabel, QStringLiteral("From"));
    nameControl(to_, toLabel, QStringLiteral("To"));
    for (QLineEdit* e : {from_, to_}) fitField(e, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &RangeEditDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(fromLabel, 0, 0);
    layout->addWidget(toLabel, 0, 1);
    layout->addWidget(from_, 1, 0);
    layout->addWidget(to_, 1, 1);
    layout->addWidget(ok, 2, 0, 1, 2, Qt::AlignHCenter);
    from_->selectAll();
}

void RangeEditDialog::accept() {
    constexpr int64_t low = std::numeric_limits<int32_t>::min(), high = std::numeric_limits<int32_t>::max();
    const auto from = readIntegerField(from_, low, high);
    if (!from) return;
    const auto to = readIntegerField(to_, low, high);
    if (!to) return;
    RangePicker typed = range_;
    typed.from = *from;
    typed.to = *to;
    if (prompter_.refused(typed.ok())) return;
    range_ = typed;
    OkOnlyDialog::accept();
}

RangePicker editRange(const RangePicker& range, Prompter& prompter, QWidget* parent) {
    RangeEditDialog dialog(range, prompter, parent);
    dialog.exec();
    return dialog.range();
}

}  // namespace tarrowin::app
