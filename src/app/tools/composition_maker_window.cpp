#include "composition_maker_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/accessibility.h"
#include "app/workspace.h"

namespace tarrowin::app {

using Scope = DocumentController::Scope;

CompositionMakerWindow::CompositionMakerWindow(Workspace& workspace, QWidget* parent)
    // A window of the main window (as a dialog is): it stays above the form it is used with when
    // the two overlap on a small screen.
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint),
      ws_(workspace) {
    setObjectName(QStringLiteral("CompositionMaker"));
    setWindowTitle(QStringLiteral("Composition Maker"));
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    nameControl(list_, QStringLiteral("Events"));
    list_->setMinimumWidth(list_->fontMetrics().horizontalAdvance(QStringLiteral("[50000 -> 50000]")) + 40);

    auto* buttons = new QVBoxLayout;
    add_ = makeButton("&Add");
    insert_ = makeButton("&Insert");
    remove_ = makeButton("&Remove");
    clear_ = makeButton("C&lear");
    play_ = makeButton("&Play");
    stop_ = makeButton("&Stop");
    close_ = makeButton("&Close");
    for (QPushButton* b : {add_, insert_, remove_, clear_}) buttons->addWidget(b);
    buttons->addSpacing(8);
    for (QPushButton* b : {play_, stop_, close_}) buttons->addWidget(b);
    buttons->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    connect(add_, &QPushButton::clicked, this, &CompositionMakerWindow::add);
    connect(insert_, &QPushButton::clicked, this, &CompositionMakerWindow::insert);
    connect(remove_, &QPushButton::clicked, this, &CompositionMakerWindow::remove);
    connect(clear_, &QPushButton::clicked, this, &CompositionMakerWindow::clear);
    connect(play_, &QPushButton::clicked, this, &CompositionMakerWindow::play);
    connect(stop_, &QPushButton::clicked, this, &CompositionMakerWindow::stop);
    connect(close_, &QPushButton::clicked, this, [this] {
        closing_ = true;
        Q_EMIT closeRequested();
    });
    connect(list_, &QListWidget::itemSelectionChanged, this, &CompositionMakerWindow::userSelected);
    // Delete in the list removes the selected event, as "Remove" does.
    auto* removeKey = new QAction(list_);
    removeKey->setShortcut(QKeySequence::Delete);
    removeKey->setShortcutContext(Qt::WidgetShortcut);
    connect(removeKey, &QAction::triggered, this, [this] {
        if (remove_->isEnabled()) remove();
    });
    list_->addAction(removeKey);
    connect(list_, &QListWidget::doubleClicked, this, [this](const QModelIndex& index) { loadEvent(index.row()); });
    connect(&ws_.document, &DocumentController::changed, this, &CompositionMakerWindow::refresh);

    refresh();
    resize(sizeHint().width(), 300);
}

QPushButton* CompositionMakerWindow::makeButton(const char* text) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setAutoDefault(false);
    return b;
}

void CompositionMakerWindow::closeEvent(QCloseEvent* event) {
    // The window manager's close request is refused: "Close" is the way out.
    if (!closing_) event->ignore();
}

void CompositionMakerWindow::stabilize(const UiState& state) {
    const bool idle = !state.playing;
    for (QWidget* w : {static_cast<QWidget*>(list_), static_cast<QWidget*>(add_), static_cast<QWidget*>(insert_),
                       static_cast<QWidget*>(remove_), static_cast<QWidget*>(clear_)})
        w->setEnabled(idle);
    play_->setEnabled(idle && !state.coolingDown);
    stop_->setEnabled(idle || state.auditioning);
    close_->setEnabled(!state.auditioning);
}

void CompositionMakerWindow::refresh() {
    const std::vector<std::string> lines = eventListLines(ws_.document.doc().composition());
    const int count = static_cast<int>(lines.size());
    const QSignalBlocker block(list_);
    const auto selected = selectedRow();
    // Only what differs is touched: "Create" and undo may change hundreds of lines at once.
    while (list_->count() > count) delete list_->takeItem(list_->count() - 1);
    for (int i = 0; i < count; ++i) {
        const QString text = QString::fromStdString(lines[static_cast<size_t>(i)]);
        if (i < list_->count()) {
            if (list_->item(i)->text() != text) list_->item(i)->setText(text);
        } else {
            list_->addItem(text);
        }
    }
    selectRow(selected && *selected < count ? selected : std::nullopt);
}

std::optional<int> CompositionMakerWindow::selectedRow() const {
    const QList<QListWidgetItem*> items = list_->selectedItems();
    if (items.isEmpty()) return std::nullopt;
    return list_->row(items.constFirst());
}

void CompositionMakerWindow::selectRow(std::optional<int> row) {
    const QSignalBlocker block(list_);
    list_->clearSelection();
    if (row) {
        list_->setCurrentRow(*row, QItemSelectionModel::ClearAndSelect);
    } else {
        list_->setCurrentRow(-1, QItemSelectionModel::Clear);
    }
}

void CompositionMakerWindow::userSelected() {
    if (const auto row = selectedRow()) ws_.playback.setPlayFromEvent(*row);
}

void CompositionMakerWindow::apply(const QString& name, const std::function<EventEdit(CTarrowinDoc&)>& command) {
    EventEdit edit;
    ws_.document.change(name, Scope::Composition, [&](CTarrowinDoc& d) {
        edit = command(d);
        return edit.done();
    });
    // The selection stays on its line, which now shows the inserted event, so it still
    // agrees with "Play from Event"; a removed line leaves nothing selected.
    if (edit.kind == EventEdit::Kind::Inserted) selectRow(edit.index);
    if (edit.kind == EventEdit::Kind::Removed || edit.kind == EventEdit::Kind::Cleared) selectRow(std::nullopt);
}

void CompositionMakerWindow::add() {
    if (!ws_.document.takeTypedInput()) return;
    apply(QStringLiteral("Add Event"), [this](CTarrowinDoc& d) { return addEvent(d, ws_.prompter); });
}

void CompositionMakerWindow::insert() {
    const auto row = selectedRow();
    if (!row || !ws_.document.takeTypedInput()) return;
    apply(QStringLiteral("Insert Event %1").arg(*row),
          [this, row](CTarrowinDoc& d) { return insertEvent(d, ws_.prompter, row); });
}

void CompositionMakerWindow::remove() {
    const auto row = selectedRow();
    if (!row) return;
    apply(QStringLiteral("Remove Event %1").arg(*row),
          [this, row](CTarrowinDoc& d) { return removeEvent(d, ws_.prompter, row); });
}

void CompositionMakerWindow::clear() {
    apply(QStringLiteral("Clear Events"), [this](CTarrowinDoc& d) { return clearEvents(d, ws_.prompter); });
}

void CompositionMakerWindow::loadEvent(int row) {
    if (row < 0 || row >= ws_.document.doc().composition().count()) return;
    ws_.document.change(QStringLiteral("Load Event %1").arg(row), Scope::Current,
                        [row](CTarrowinDoc& d) { return updateFromEvent(d, row).done(); });
    ws_.playback.setPlayFromEvent(row);
}

void CompositionMakerWindow::play() {
    const auto row = selectedRow();
    if (!row) return;
    const PlayResult r = ws_.playback.audition(ws_.document.doc(), *row);
    if (r.status == PlayStatus::DeviceError || r.status == PlayStatus::TuningConflict)
        showMessage(this, QString::fromStdString(r.message), QStringLiteral("Tarrowin"), MessageIcon::Stop);
}

void CompositionMakerWindow::stop() { ws_.playback.stop(); }

}  // namespace tarrowin::app
