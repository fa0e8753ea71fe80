#include "performance_recorder.h"

#include <chrono>
#include <new>

namespace tarrowin {

namespace {
// How often the helper restocks and looks for finished takes. At the densest (16 voices
// striking every tick at tempo 340, some 1500 entries a second) the stock lasts seconds.
constexpr std::chrono::milliseconds kHelperPeriod{10};

template <class T>
bool takeFrom(SpscQueue<T*>& queue, T*& item) {
    T* const* front = queue.front();
    if (front == nullptr) return false;
    item = *front;
    queue.pop();
    return true;
}
}  // namespace

PerformanceRecorder::PerformanceRecorder(Delivery deliver) : deliver_(std::move(deliver)) {}

PerformanceRecorder::~PerformanceRecorder() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (helper_.joinable()) helper_.join();
    Block* b = nullptr;
    while (takeFrom(finished_, b)) freeTake(b);
    freeTake(first_);
    while (waiting_ != nullptr) {
        Block* next = waiting_->nextTake;
        freeTake(waiting_);
        waiting_ = next;
    }
    dropStock();
}

void PerformanceRecorder::startPlay() {
    finishPlay();
    playEnded_.store(false);
    quit_ = false;
    restock();
    helper_ = std::thread(&PerformanceRecorder::helperLoop, this);
}

void PerformanceRecorder::finishPlay() {
    if (helper_.joinable()) helper_.join();
    dropStock();
}

PerformanceRecorder::Block* PerformanceRecorder::freshBlock() {
    Block* b = nullptr;
    if (!takeFrom(stock_, b)) {
        b = new (std::nothrow) Block;
        if (b == nullptr) return nullptr;
        madeByWorker_.fetch_add(1, std::memory_order_relaxed);
    }
    b->count = 0;
    b->next = nullptr;
    b->nextTake = nullptr;
    return b;
}

void PerformanceRecorder::add(const TakeEntry& entry) {
    if (last_ == nullptr || last_->count == kBlockEntries) {
        Block* b = freshBlock();
        if (b == nullptr) return;  // no memory left at all
        (last_ != nullptr ? last_->next : first_) = b;
        last_ = b;
    }
    last_->entries[last_->count++] = entry;
}

void PerformanceRecorder::endTake(int64_t date) {
    if (first_ == nullptr) return;
    add(TakeEntry::end(date));
    // Queued behind the takes that are still waiting, so that they stay in order.
    Block** tail = &waiting_;
    while (*tail != nullptr) tail = &(*tail)->nextTake;
    *tail = first_;
    first_ = last_ = nullptr;
    handOver();
}

void PerformanceRecorder::handOver() {
    while (waiting_ != nullptr && finished_.push(waiting_)) waiting_ = waiting_->nextTake;
}

void PerformanceRecorder::playEnded() {
    // Past the play's last message: waiting here for room in the queue delays nothing. The
    // queue holds far more takes than a play ends between two of the helper's looks.
    for (handOver(); waiting_ != nullptr; handOver()) std::this_thread::sleep_for(kHelperPeriod);
    playEnded_.store(true, std::memory_order_release);
    wake_.notify_all();
}

void PerformanceRecorder::restock() {
    for (;;) {
        if (spare_ == nullptr) spare_ = new (std::nothrow) Block;
        if (spare_ == nullptr || !stock_.push(spare_)) return;
        spare_ = nullptr;
    }
}

void PerformanceRecorder::helperLoop() {
    for (;;) {
        restock();
        const bool ended = playEnded_.load(std::memory_order_acquire);
        Block* b = nullptr;
        while (takeFrom(finished_, b)) deliver(b);
        if (ended) break;
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, kHelperPeriod, [this] { return quit_; });
        if (quit_) break;
    }
}

void PerformanceRecorder::deliver(Block* first) {
    PerformanceTake take;
    size_t size = 0;
    for (const Block* b = first; b != nullptr; b = b->next) size += b->count;
    take.entries.reserve(size);
    for (const Block* b = first; b != nullptr; b = b->next) {
        take.entries.insert(take.entries.end(), b->entries.begin(), b->entries.begin() + static_cast<std::ptrdiff_t>(b->count));
    }
    freeTake(first);
    if (deliver_) deliver_(std::move(take));
}

void PerformanceRecorder::dropStock() {
    Block* b = nullptr;
    while (takeFrom(stock_, b)) delete b;
    delete spare_;
    spare_ = nullptr;
}

void PerformanceRecorder::freeTake(Block* first) {
    while (first != nullptr) {
        Block* next = first->next;
        delete first;
        first = next;
    }
}

}  // namespace tarrowin
