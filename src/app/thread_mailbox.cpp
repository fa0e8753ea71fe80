#include "thread_mailbox.h"

#include <QMetaObject>

namespace tarrowin::app {

void ThreadMailbox::post(std::function<void()> fn) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wake = pending_.empty();  // else a delivery is on its way already
        pending_.push_back(std::move(fn));
    }
    // By name: the event Qt queues carries nothing of ours.
    if (wake) QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
}

void ThreadMailbox::deliver() {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(pending_);
    }
    for (const auto& fn : batch) fn();
}

}  // namespace tarrowin::app
