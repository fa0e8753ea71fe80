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

CrashRecovery::CrashRecovery(DocumentController& document, Prompter& prompter, QObject* parent, const QString& folder,
                             std::chrono::milliseconds period)
    : QObject(parent), document_(document), prompter_(prompter), store_(folder) {
    if (!store_.isReady()) qWarning("tarrowin: no recovery copies: %s", qPrintable(store_.error()));
    timer_.setInterval(period);
    connect(&timer_, &QTimer::timeout, this, &CrashRecovery::writeCopy);
    connect(&document_, &DocumentController::stateChanged, this, &CrashRecovery::documentStateChanged);
    documentStateChanged();
}

void CrashRecovery::documentStateChanged() {
    if (document_.isModified()) {
        if (!timer_.isActive()) timer_.start();
        return;
    }
    // Nothing unsaved: the file on disk (or the new document) is all there is to keep.
    timer_.stop();
    store_.remove();
}

void CrashRecovery::writeCopy() {
    if (!document_.isModified()) return;
    if (!store_.write(document_.doc(), document_.path())) qWarning("tarrowin: %s", qPrintable(store_.error()));
}

void CrashRecovery::beforePlay() { writeCopy(); }

void CrashRecovery::offerLeftCopies() {
    bool recovered = false;
    for (const LeftCopy& left : store_.claimLeftCopies()) {
        if (recovered) {
            store_.release(left);
            continue;
        }
        const RecoveredDocument copy = store_.read(left);
        if (!copy.ok) {
            prompter_.message(
                "Tarrowin found a recovery copy of unsaved changes that it cannot read, and removed it.\n\n" +
                    copy.message.toStdString(),
                "Tarrowin", MessageIcon::Exclamation);
            store_.discard(left);
            continue;
        }
        const QString title =
            copy.documentPath.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(copy.documentPath).fileName();
        const QString question =
            QStringLiteral("Tarrowin did not close properly. Recover the unsaved changes to %1?").arg(title);
        if (!prompter_.ask(question.toStdString(), "Tarrowin")) {
            store_.discard(left);
            continue;
        }
        store_.takeOver(left);
        document_.adopt(copy.doc, copy.documentPath);
        recovered = true;
    }
}

}  // namespace tarrowin::app
