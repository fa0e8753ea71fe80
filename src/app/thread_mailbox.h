#pragma once
// Hands work from any thread to the thread of a QObject: each posted function runs there,
// in the order posted, unless the mailbox is gone first. The functions and what they
// carry pass through a mutex, and Qt's event only says that there is something to take:
// a hand-over that ThreadSanitizer sees whole, where Qt's own queue (a Qt built without
// it) would show it the worker's data without the order that makes reading it safe.

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

namespace tarrowin::app {

class ThreadMailbox : public QObject {
    Q_OBJECT
   public:
    using QObject::QObject;

    // Any thread.
    void post(std::function<void()> fn);

   private:
    Q_INVOKABLE void deliver();

    std::mutex mutex_;
    std::vector<std::function<void()>> pending_;  // guarded by mutex_
};

}  // namespace tarrowin::app
