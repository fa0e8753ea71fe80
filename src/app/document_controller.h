#pragma once
// The one place through which the window changes the document: every change is made here
// as one step of the undo history, with the form and the tool windows told afterwards.
// It also holds the document's file name and opens, saves and renews it.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "document/document.h"
#include "document/document_history.h"
#include "document/document_validation.h"

namespace tarrowin::app {

class DocumentController : public QObject {
    Q_OBJECT
   public:
    // What a change may touch: the current settings only, or the composition as well.
    enum class Scope { Current, Composition };
    // Changes that follow each other with the same key become one step (a tempo drag).
    enum MergeKey { NoMerge = 0, TempoMerge = 1 };

    explicit DocumentController(QObject* parent = nullptr);

    const CTarrowinDoc& doc() const { return doc_; }

    // What is typed in the form and not yet taken into the document. The form registers the
    // one gate that checks it (Check) or also commits it (Commit); a command that reads the
    // document passes the gate first. False when a typed value was refused: the form has
    // said why and put the focus back. With no form registered, nothing is typed.
    enum class Typed { Check, Commit };
    void setTypedInputGate(std::function<bool(Typed)> gate) { typedInputGate_ = std::move(gate); }
    bool takeTypedInput(Typed how = Typed::Commit) const { return !typedInputGate_ || typedInputGate_(how); }

    // Makes a change as one step named `name` ("Tempo", "Remove Event 3"). fn edits the
    // document through its own rules and returns whether it did what was asked (false: a
    // refused command). Whatever it changed is one step either way. A change that touches the composition marks the
    // document modified, so an edited composition is never closed without the question.
    bool change(const QString& name, Scope scope, const std::function<bool(CTarrowinDoc&)>& fn, int mergeKey = NoMerge);
    // The same for an edit that always goes through.
    void edit(const QString& name, Scope scope, const std::function<void(CTarrowinDoc&)>& fn, int mergeKey = NoMerge);

    // Several changes as one step (a whole play that loads events): between begin and end,
    // the changes made under the group's name record nothing of their own. A change under
    // another name (the musician switching a voice during a play) stays a step of its own,
    // between the group's parts.
    void beginGroup(const QString& name, Scope scope);
    void endGroup();
    bool inGroup() const { return group_.has_value(); }

    bool canUndo() const { return history_.canUndo(); }
    bool canRedo() const { return history_.canRedo(); }
    QString undoName() const { return QString::fromStdString(history_.undoName()); }
    QString redoName() const { return QString::fromStdString(history_.redoName()); }
    void undo();
    void redo();
    const DocumentHistory& history() const { return history_; }

    // New: the default document, no file name, an empty history.
    void newDocument();
    // Reads the file into the document; on failure nothing changes and the result says why.
    FileResult open(const QString& path);
    // Writes the document; on success it takes this file name and is no longer modified.
    FileResult save(const QString& path);
    // Puts a document read elsewhere (a recovered copy) in place, modified, under `path`.
    void adopt(const CTarrowinDoc& doc, const QString& path);

    QString path() const { return path_; }
    // "Untitled" or the file name without its folder.
    QString title() const;
    bool isModified() const { return doc_.isModified(); }
    // The version of the file read most recently (Composition Information shows it).
    float fileVersion() const;

   Q_SIGNALS:
    // The contents changed (an edit, undo, redo): views refresh from the document.
    void changed();
    // New or Open replaced the whole document: views run their initial update.
    void replaced();
    // The modified flag, the file name or the undo history changed.
    void stateChanged();

   private:
    void finishChange();

    CTarrowinDoc doc_;
    DocumentHistory history_;
    std::function<bool(Typed)> typedInputGate_;
    QString path_;
    struct Group {
        QString name;
        bool withComposition;
        DocumentDelta::Before before;
    };
    std::optional<Group> group_;
};

}  // namespace tarrowin::app
