#include "document_controller.h"

#include <QFileInfo>

#include "document/document_file.h"

namespace tarrowin::app {

DocumentController::DocumentController(QObject* parent) : QObject(parent) { doc_.OnNewDocument(); }

bool DocumentController::change(const QString& name, Scope scope, const std::function<bool(CTarrowinDoc&)>& fn,
                                int mergeKey) {
    const bool withComposition = scope == Scope::Composition;
    const bool ownStep = !group_ || name != group_->name;
    if (group_ && ownStep) history_.push(group_->name.toStdString(), DocumentDelta::between(group_->before, doc_));
    auto before = DocumentDelta::capture(doc_, withComposition);
    // A refused command may still have changed something (Replace takes the form's
    // counters before it checks them): whatever changed is recorded either way.
    const bool done = fn(doc_);
    DocumentDelta delta = DocumentDelta::between(before, doc_);
    if (delta.changesComposition()) doc_.SetModifiedFlag(true);
    if (ownStep) history_.push(name.toStdString(), std::move(delta), mergeKey);
    if (group_ && ownStep) group_->before = DocumentDelta::capture(doc_, group_->withComposition);
    finishChange();
    return done;
}

void DocumentController::edit(const QString& name, Scope scope, const std::function<void(CTarrowinDoc&)>& fn,
                              int mergeKey) {
    change(
        name, scope,
        [&](CTarrowinDoc& d) {
            fn(d);
            return true;
        },
        mergeKey);
}

void DocumentController::beginGroup(const QString& name, Scope scope) {
    if (group_) return;
    const bool withComposition = scope == Scope::Composition;
    group_ = Group{name, withComposition, DocumentDelta::capture(doc_, withComposition)};
}

void DocumentController::endGroup() {
    if (!group_) return;
    DocumentDelta delta = DocumentDelta::between(group_->before, doc_);
    history_.push(group_->name.toStdString(), std::move(delta));
    group_.reset();
    finishChange();
}

void DocumentController::undo() {
    if (group_ || !history_.undo(doc_)) return;
    finishChange();
}

void DocumentController::redo() {
    if (group_ || !history_.redo(doc_)) return;
    finishChange();
}

void DocumentController::finishChange() {
    Q_EMIT changed();
    Q_EMIT stateChanged();
}

void DocumentController::newDocument() {
    group_.reset();
    doc_.OnNewDocument();
    history_.clear();
    path_.clear();
    Q_EMIT replaced();
    Q_EMIT stateChanged();
}

FileResult DocumentController::open(const QString& path) {
    FileResult r = openDocumentFile(path.toStdString(), doc_);
    if (!r.ok) return r;
    group_.reset();
    history_.clear();
    path_ = QFileInfo(path).absoluteFilePath();
    Q_EMIT replaced();
    Q_EMIT stateChanged();
    return r;
}

FileResult DocumentController::save(const QString& path) {
    FileResult r = saveDocumentFile(path.toStdString(), doc_);
    if (!r.ok) return r;
    history_.setClean();
    path_ = QFileInfo(path).absoluteFilePath();
    Q_EMIT stateChanged();
    return r;
}

void DocumentController::adopt(const CTarrowinDoc& doc, const QString& path) {
    group_.reset();
    doc_.replaceContents(doc.current(), doc.reserved(), doc.composition(), doc.sharedTuning());
    doc_.SetModifiedFlag(true);
    history_.clear();
    history_.forgetSavedState();
    path_ = path;
    Q_EMIT replaced();
    Q_EMIT stateChanged();
}

QString DocumentController::title() const {
    return path_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path_).fileName();
}

float DocumentController::fileVersion() const { return lastReadFileVersion(); }

}  // namespace tarrowin::app
