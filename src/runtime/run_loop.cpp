#include "runtime/run_loop.hpp"

namespace scribbet {

void RunLoop::post(Task task) { schedule(Duration::zero(), std::move(task)); }

RunLoop::TimerId RunLoop::schedule(Duration delay, Task task) {
    std::lock_guard lock(mutex_);
    const TimerId id = next_++;
    const Key key{std::chrono::steady_clock::now() + std::max(delay, Duration::zero()), id};
    due_.emplace(key, std::move(task));
    keys_.emplace(id, key);
    wake_.notify_one();
    return id;
}

void RunLoop::cancel(TimerId id) {
    std::lock_guard lock(mutex_);
    auto it = keys_.find(id);
    if (it == keys_.end()) return;
    due_.erase(it->second);
    keys_.erase(it);
}

void RunLoop::run(bool drain) {
    thread_ = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (quit_) {
            if (!drain) break;
            // Finish what was already due; timers still in the future are dropped.
            if (due_.empty() || due_.begin()->first.first > now) break;
        }
        if (due_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = due_.begin();
        if (first->first.first > now) {
            wake_.wait_until(lock, first->first.first);
            continue;
        }
        Task task = std::move(first->second);
        keys_.erase(first->first.second);
        due_.erase(first);
        lock.unlock();
        task();
        task = nullptr; // release captures outside the lock's scope, before relocking
        lock.lock();
    }
    quit_ = false;
}

void RunLoop::quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_all();
}

} // namespace scribbet
