#include "crash_recovery.h"

#include <QFileInfo>
#include <QtGlobal>

#include "app/document_controller.h"
#include "tools/prompter.h"

namespace tarrowin::app {

std::chrono::milliseconds CrashRecovery::defaultPeriod() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("TARROWIN_RECOVERY_SECONDS", &ok);
    return std::chrono::seconds(ok && seconds > 0 ? seconds : 60);
}

QString recoveryProblemMessage(const QString& problem) {
    return QStringLiteral("Tarrowin cannot keep a recovery copy of unsaved changes: if it ended unexpectedly, they "
                          "would be lost. Save your work to keep it safe.\n\n%1")
        .arg(problem);
}

CrashRecovery::CrashRecovery(DocumentController& document, Prompter& prompter, QObject* parent, const QString& folder,
                             std::chrono::milliseconds period)
    : QObject(parent), document_(document), prompter_(prompter), store_(folder) {
    if (!store_.isReady()) {
        problem_ = store_.error();
        qWarning("tarrowin: no recovery copies: %s", qPrintable(problem_));
    }
    timer_.setInterval(period);
    connect(&timer_, &QTimer::timeout, this, &CrashRecovery::writeCopy);
    connect(&document_, &DocumentController::stateChanged, this, &CrashRecovery::documentStateChanged);
    documentStateChanged();
}

void CrashRecovery::start() {
    if (!problem_.isEmpty()) prompter_.message(recoveryProblemMessage(problem_).toStdString(), "Tarrowin", MessageIcon::Exclamation);
    offerLeftCopies();
}

void CrashRecovery::documentStateChanged() {
    if (ending_) return;
    if (document_.isModified()) {
        if (!timer_.isActive()) timer_.start();
        return;
    }
    // Nothing unsaved: the file on disk (or the new document) is all there is to keep.
    timer_.stop();
    store_.remove();
}

void CrashRecovery::setProblem(const QString& problem) {
    if (problem == problem_) return;
    const bool arises = problem_.isEmpty();
    problem_ = problem;
    Q_EMIT problemChanged(problem_);
    if (problem_.isEmpty()) return;
    qWarning("tarrowin: %s", qPrintable(problem_));
    // Said once as it arises; the status bar keeps saying it until a copy is written again.
    if (arises) prompter_.message(recoveryProblemMessage(problem_).toStdString(), "Tarrowin", MessageIcon::Exclamation);
}

bool CrashRecovery::storeCopy() {
    // A store that could not be made at start (a full disk) is tried again.
    return (store_.isReady() || store_.prepare()) && store_.write(document_.doc(), document_.path());
}

void CrashRecovery::writeCopy() {
    if (ending_ || !document_.isModified()) return;
    setProblem(storeCopy() ? QString() : store_.error());
}

void CrashRecovery::beforePlay() { writeCopy(); }

void CrashRecovery::keepForNextStart() {
    if (ending_) return;
    ending_ = true;
    timer_.stop();
    // The program is ending: no question can wait for an answer, a failure is only logged.
    if (document_.isModified() && !storeCopy()) qWarning("tarrowin: %s", qPrintable(store_.error()));
    store_.keepForNextStart();
}

void CrashRecovery::offerLeftCopies() {
    bool recovered = false;
    for (const LeftCopy& left : store_.claimLeftCopies()) {
        // Once the program is being ended, every copy waits for the next start (the claims
        // went with keepForNextStart).
        if (recovered || ending_) {
            store_.release(left);
            continue;
        }
        const RecoveredDocument copy = store_.read(left);
        const QString where = store_.pathOf(left);
        if (copy.otherVersion) {
            store_.release(left);
            prompter_.message(QStringLiteral("Tarrowin found a recovery copy of unsaved changes written by another "
                                             "version of Tarrowin, and left it for that version: %1\n\n%2")
                                  .arg(where, copy.message)
                                  .toStdString(),
                              "Tarrowin", MessageIcon::Exclamation);
            continue;
        }
        if (!copy.ok) {
            // Unsaved work is never deleted unread: it is moved out of the way instead.
            const QString aside = store_.setAside(left);
            const QString kept = aside.isEmpty()
                                     ? QStringLiteral("It could not be moved (%1) and stays at %2.").arg(store_.error(), where)
                                     : QStringLiteral("It was moved to %1.").arg(aside);
            prompter_.message(
                QStringLiteral("Tarrowin found a recovery copy of unsaved changes that it cannot read. %1\n\n%2")
                    .arg(kept, copy.message)
                    .toStdString(),
                "Tarrowin", MessageIcon::Exclamation);
            continue;
        }
        const QString title =
            copy.documentPath.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(copy.documentPath).fileName();
        const QString question =
            QStringLiteral("Tarrowin did not close properly. Recover the unsaved changes to %1?").arg(title);
        const bool yes = prompter_.ask(question.toStdString(), "Tarrowin");
        // A signal that ends the program while the question is open closes it: that is no No.
        if (ending_) {
            store_.release(left);
            continue;
        }
        if (!yes) {
            store_.discard(left);
            continue;
        }
        store_.takeOver(left);
        document_.adopt(copy.doc, copy.documentPath);
        recovered = true;
    }
}

}  // namespace tarrowin::app
