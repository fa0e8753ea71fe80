#include "settings_mailbox.h"

namespace tarrowin {

void SettingsMailbox::publish(const Settings& settings) {
    Copy* copy = new Copy{settings};
    // A copy still pending was never taken: the worker cannot reach it any more.
    delete pending_.exchange(copy, std::memory_order_acq_rel);
    collect();
}

void SettingsMailbox::collect() { freeList(retired_.exchange(nullptr, std::memory_order_acquire)); }

void SettingsMailbox::clear() {
    delete pending_.exchange(nullptr, std::memory_order_acquire);
    release();
    collect();
}

const Settings* SettingsMailbox::take() {
    Copy* copy = pending_.exchange(nullptr, std::memory_order_acquire);
    if (copy == nullptr) return nullptr;
    if (held_ != nullptr) retire(held_);
    held_ = copy;
    return &copy->settings;
}

void SettingsMailbox::release() {
    if (held_ != nullptr) retire(held_);
    held_ = nullptr;
}

void SettingsMailbox::retire(Copy* copy) {
    // Only the worker pushes, and the other side only takes the whole list: no ABA.
    Copy* head = retired_.load(std::memory_order_relaxed);
    do {
        copy->next = head;
    } while (!retired_.compare_exchange_weak(head, copy, std::memory_order_release, std::memory_order_relaxed));
}

void SettingsMailbox::freeList(Copy* copy) {
    while (copy != nullptr) {
        Copy* next = copy->next;
        delete copy;
        copy = next;
    }
}

}  // namespace tarrowin
