#pragma once
// A list of report rows, one row per item, as the composition report is written: a tab in
// a row moves on to the next column. The columns are the row's indent and one value column
// right of the widest label in the list, so "\tLog Map:\t\t 5" and "\tMorse-Thue:\t 5" put
// their values one under the other. Rows can be selected and copied as they stand (tabs
// included), since musicians paste these reports elsewhere.

#include <QListWidget>
#include <string>
#include <vector>

namespace tarrowin::app {

class ReportList : public QListWidget {
    Q_OBJECT
   public:
    explicit ReportList(QWidget* parent = nullptr);

    void setRows(const std::vector<std::string>& rows);
    QStringList rows() const;
    // The selected rows in list order, one per line.
    QString selectedRows() const;
    void copySelection() const;

    // Where the indent and the value column start, in pixels from the text's left edge.
    int indentColumn() const { return indent_; }
    int valueColumn() const { return value_; }

   protected:
    void changeEvent(QEvent* event) override;

   private:
    void placeColumns();

    int indent_ = 0;
    int value_ = 0;
};

}  // namespace tarrowin::app
