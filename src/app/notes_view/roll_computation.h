#pragma once
// Computes the notes of the roll off the window's thread. Each request cancels the one
// before it; only the newest result is delivered, on the window's thread, so a long piece
// never blocks the form and a stale result never replaces a newer one.

#include <QObject>
#include <atomic>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "app/thread_mailbox.h"
#include "reports/notes_model.h"

namespace tarrowin::app {

// What the roll is computed from: a snapshot taken on the window's thread.
struct RollInput {
    RollMode mode = RollMode::CurrentSettings;
    Settings current;
    std::vector<Settings> events;  // the composition, in Composition mode
    int32_t percussionChannel = kDefaultPercussionChannel;
    std::shared_ptr<const TuningSettings> tuning;  // the document's: never changed in place

    bool operator==(const RollInput&) const = default;
};

class RollComputation : public QObject {
    Q_OBJECT
   public:
    explicit RollComputation(QObject* parent = nullptr);
    // Cancels what still runs and waits for it.
    ~RollComputation() override;

    void request(RollInput input);
    // Until the newest request's notes are delivered (its job may have ended before that).
    bool busy() const { return delivered_ != generation_; }
    // The generation of the newest request (counts requests).
    int generation() const { return generation_; }

   Q_SIGNALS:
    // The notes of the newest request.
    void ready(std::shared_ptr<const tarrowin::RollNotes> notes);

   private:
    struct Job {
        std::thread thread;
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
    };
    void finished(int generation, std::shared_ptr<const RollNotes> notes);
    void reapFinished();

    ThreadMailbox mailbox_;  // the jobs' results, to this object's thread
    std::list<std::unique_ptr<Job>> jobs_;
    Job* running_ = nullptr;
    int generation_ = 0;
    int delivered_ = 0;  // the generation whose notes were delivered last
};

}  // namespace tarrowin::app
