#pragma once
// A real-time task loop with timers: the engine of every serial queue's thread and of
// the headless main thread. Tasks run in posting order; a timer runs once its time has
// come, after the tasks posted before that moment.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "ports/clock.hpp"

namespace scribbet {

class RunLoop {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    void post(Task task);
    TimerId schedule(Duration delay, Task task);
    TimerId scheduleRepeating(Duration interval, Task task);
    void cancel(TimerId id);
    // Runs tasks on the calling thread until quit(); then returns. With `drain`, the
    // tasks already posted (not the timers) still run before it returns.
    void run(bool drain = false);
    void quit();
    std::thread::id thread() const { return thread_.load(); }

private:
    using Key = std::pair<std::chrono::steady_clock::time_point, TimerId>;
    struct Entry {
        Task task;
        Duration interval{}; // zero for a one-shot entry
    };
    TimerId add(Duration delay, Entry entry);
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<Key, Entry> due_;           // ordered by time, then by posting order
    std::map<TimerId, Key> keys_;        // for cancel
    TimerId next_ = 1;
    bool quit_ = false;
    std::atomic<std::thread::id> thread_{};
};

} // namespace scribbet
