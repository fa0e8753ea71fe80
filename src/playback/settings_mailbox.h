#pragma once
// The newest settings edited while a live play runs, handed from the window's thread to the
// play's worker without locks or waiting: the window publishes an immutable copy behind an
// atomic pointer, and the worker swaps it out at the top of a tick. The worker frees nothing:
// the copy it held before goes on a list that the publishing side empties.

#include <atomic>

#include "engine/settings.h"

namespace tarrowin {

class SettingsMailbox {
   public:
    SettingsMailbox() = default;
    ~SettingsMailbox() { clear(); }
    SettingsMailbox(const SettingsMailbox&) = delete;
    SettingsMailbox& operator=(const SettingsMailbox&) = delete;

    // The publishing side (one thread). A copy the worker never took is replaced and freed,
    // and so are the copies it is done with.
    void publish(const Settings& settings);
    void collect();
    // Frees every copy; only while no worker takes.
    void clear();

    // The worker's side: the copy published since the last call, or null. The copy returned
    // before is done with: it goes on the list the publishing side frees.
    const Settings* take();
    // The worker is done with its last copy too.
    void release();

   private:
    struct Copy {
        Settings settings;
        Copy* next = nullptr;
    };
    void retire(Copy* copy);
    static void freeList(Copy* copy);

    std::atomic<Copy*> pending_{nullptr};
    std::atomic<Copy*> retired_{nullptr};
    Copy* held_ = nullptr;  // the worker's
};

}  // namespace tarrowin
