#include "roll_computation.h"

namespace tarrowin::app {

RollComputation::RollComputation(QObject* parent) : QObject(parent) {}

RollComputation::~RollComputation() {
    for (auto& job : jobs_) job->cancel.store(true);
    for (auto& job : jobs_) job->thread.join();
}

void RollComputation::request(RollInput input) {
    reapFinished();
    if (running_ != nullptr) running_->cancel.store(true);
    const int generation = ++generation_;
    auto job = std::make_unique<Job>();
    Job* j = job.get();
    running_ = j;
    j->thread = std::thread([this, j, generation, input = std::move(input)] {
        auto notes = computeRollNotes(input.mode, input.current, input.events, input.percussionChannel, &j->cancel,
                                      kMaxRollNotes, input.tuning);
        std::shared_ptr<const RollNotes> result;
        if (notes) result = std::make_shared<const RollNotes>(std::move(*notes));
        // Posted to this object's thread; the destructor joins every job before the object
        // goes, so the post never outlives it.
        mailbox_.post([this, generation, result] { finished(generation, result); });
        j->done.store(true);
    });
    jobs_.push_back(std::move(job));
}

void RollComputation::finished(int generation, std::shared_ptr<const RollNotes> notes) {
    reapFinished();
    if (generation != generation_ || !notes) return;  // a newer request is on its way
    delivered_ = generation;
    Q_EMIT ready(std::move(notes));
}

void RollComputation::reapFinished() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        if ((*it)->done.load()) {
            (*it)->thread.join();
            if (running_ == it->get()) running_ = nullptr;
            it = jobs_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace tarrowin::app
