#include "runtime/run_loop.hpp"

namespace scribbet {

void RunLoop::post(Task task) { schedule(Duration::zero(), std::move(task)); }

RunLoop::TimerId RunLoop::schedule(Duration delay, Task task) { return add(delay, {std::move(task), {}}); }

RunLoop::TimerId RunLoop::scheduleRepeating(Duration interval, Task task) {
    return add(interval, {std::move(task), std::max(interval, Duration(1))});
}

RunLoop::TimerId RunLoop::add(Duration delay, Entry entry) {
    std::lock_guard lock(mutex_);
    const TimerId id = next_++;
    const Key key{std::chrono::steady_clock::now() + std::max(delay, Duration::zero()), id};
    due_.emplace(key, std::move(entry));
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
        auto node = due_.extract(first);
        const TimerId id = node.key().second;
        if (node.mapped().interval == Duration::zero()) {
            keys_.erase(id);
            lock.unlock();
            node.mapped().task();
            node = {}; // release captures outside the lock, before relocking
            lock.lock();
            continue;
        }
        lock.unlock();
        node.mapped().task();
        lock.lock();
        // Back in line for its next run, in the same node, unless it was cancelled meanwhile.
        auto key = keys_.find(id);
        if (key != keys_.end()) {
            const auto step = node.mapped().interval;
            auto next = node.key().first + step;
            if (next <= std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now() + step;
            node.key() = {next, id};
            key->second = node.key();
            due_.insert(std::move(node));
        } else {
            lock.unlock();
            node = {};
            lock.lock();
        }
    }
    quit_ = false;
}

void RunLoop::quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_all();
}

} // namespace scribbet
