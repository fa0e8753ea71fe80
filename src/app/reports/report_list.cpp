#include "report_list.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <array>

namespace tarrowin::app {

namespace {

struct Piece {
    int x;
    QString text;
};

struct RowLayout {
    std::vector<Piece> pieces;
    int width = 0;
    // How far the text reaches where a tab moves on to the value column (0: nowhere).
    int labelEnd = 0;
};

// Lays a row out on three columns: the row's start, the indent and the value column. A run
// of tabs moves on by as many columns as it has tabs, and at most to the value column; text
// that already reaches past the column is followed by a blank instead.
RowLayout layoutRow(const QString& row, const QFontMetrics& fm, int indent, int value) {
    const std::array<int, 3> columns{0, indent, value};
    const int blank = fm.horizontalAdvance(QLatin1Char(' '));
    RowLayout layout;
    int x = 0;
    size_t column = 0;
    for (qsizetype i = 0; i < row.size();) {
        if (row[i] == QLatin1Char('\t')) {
            size_t run = 0;
            for (; i < row.size() && row[i] == QLatin1Char('\t'); ++i) ++run;
            column = std::min<size_t>(column + run, columns.size() - 1);
            if (column == columns.size() - 1 && x > 0) layout.labelEnd = std::max(layout.labelEnd, x);
            x = x <= columns[column] ? columns[column] : x + blank;
            continue;
        }
        qsizetype end = row.indexOf(QLatin1Char('\t'), i);
        if (end < 0) end = row.size();
        QString text = row.mid(i, end - i);
        const int width = fm.horizontalAdvance(text);
        layout.pieces.push_back({x, std::move(text)});
        x += width;
        i = end;
    }
    layout.width = x;
    return layout;
}

int textMargin(const QWidget* widget) {
    const QStyle* style = widget ? widget->style() : QApplication::style();
    return style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
}

class ColumnDelegate : public QStyledItemDelegate {
   public:
    explicit ColumnDelegate(ReportList* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString row = opt.text;
        opt.text.clear();  // the style draws the background, selection and focus; the text is ours
        const QWidget* widget = opt.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                                 : QPalette::Inactive;
        const bool selected = opt.state & QStyle::State_Selected;
        const QRect area = opt.rect.adjusted(textMargin(widget), 0, 0, 0);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        for (const Piece& p : layoutRow(row, opt.fontMetrics, list_->indentColumn(), list_->valueColumn()).pieces)
            painter->drawText(area.adjusted(p.x, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                              p.text);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QString row = index.data(Qt::DisplayRole).toString();
        const int width = layoutRow(row, option.fontMetrics, list_->indentColumn(), list_->valueColumn()).width;
        size.setWidth(width + 2 * textMargin(option.widget));
        size.setHeight(std::max(size.height(), option.fontMetrics.height()));  // empty rows keep their height
        return size;
    }

   private:
    ReportList* list_;
};

}  // namespace

ReportList::ReportList(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new ColumnDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    // The list's own Copy would take the current row only.
    auto* copy = new QAction(QStringLiteral("&Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &ReportList::copySelection);
    auto* all = new QAction(QStringLiteral("Select &All"), this);
    all->setShortcut(QKeySequence::SelectAll);
    all->setShortcutContext(Qt::WidgetShortcut);
    connect(all, &QAction::triggered, this, &QAbstractItemView::selectAll);
    addActions({copy, all});
    setContextMenuPolicy(Qt::ActionsContextMenu);
    placeColumns();
}

void ReportList::setRows(const std::vector<std::string>& rows) {
    clear();
    for (const std::string& r : rows) addItem(QString::fromStdString(r));
    placeColumns();
}

QStringList ReportList::rows() const {
    QStringList out;
    for (int i = 0; i < count(); ++i) out << item(i)->text();
    return out;
}

QString ReportList::selectedRows() const {
    QStringList out;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) out << item(i)->text();
    return out.join(QLatin1Char('\n'));
}

void ReportList::copySelection() const {
    const QString text = selectedRows();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void ReportList::changeEvent(QEvent* event) {
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) placeColumns();
}

void ReportList::placeColumns() {
    const QFontMetrics fm(font());
    indent_ = fm.averageCharWidth() * 4;
    int labelEnd = indent_;
    for (const QString& r : rows()) labelEnd = std::max(labelEnd, layoutRow(r, fm, indent_, 0).labelEnd);
    value_ = labelEnd + fm.averageCharWidth() * 2;
    scheduleDelayedItemsLayout();
    viewport()->update();
}

}  // namespace tarrowin::app
