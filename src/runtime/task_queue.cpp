#include "runtime/task_queue.hpp"

#include <algorithm>

namespace scribbet {

Instant nextOnGrid(Instant due, Duration interval, Instant now) {
    const Instant next = due + interval;
    if (next > now) return next;
    return due + interval * ((now - due) / interval + 1);
}

TaskQueue::Added TaskQueue::add(Instant due, Task task, Duration interval) {
    std::lock_guard lock(mutex_);
    const Id id = nextId_++;
    const Key key{due, id};
    due_.emplace(key, Entry{std::move(task), interval > Duration::zero() ? interval : Duration::zero()});
    times_.emplace(id, due);
    return {id, due_.begin()->first == key};
}

void TaskQueue::cancel(Id id) {
    Entry gone;
    {
        std::lock_guard lock(mutex_);
        auto it = times_.find(id);
        if (it == times_.end()) return;
        auto entry = due_.find({it->second, id});
        if (entry != due_.end()) {
            gone = std::move(entry->second);
            due_.erase(entry);
        }
        times_.erase(it);
    }
}

std::optional<Instant> TaskQueue::runDue(const Clock& clock, const std::function<bool()>& stop) {
    const Instant now = clock.now();
    std::unique_lock lock(mutex_);
    while (!due_.empty() && due_.begin()->first.first <= now && !(stop && stop())) {
        auto node = due_.extract(due_.begin());
        const Id id = node.key().second;
        const Duration interval = node.mapped().interval;
        if (interval == Duration::zero()) times_.erase(id);
        lock.unlock();
        node.mapped().task();
        if (interval == Duration::zero()) {
            node = {}; // the task's captures go outside the lock
            lock.lock();
            continue;
        }
        lock.lock();
        // Back in line in the same node, unless it was cancelled while it ran.
        auto time = times_.find(id);
        if (time == times_.end()) {
            lock.unlock();
            node = {};
            lock.lock();
            continue;
        }
        time->second = nextOnGrid(node.key().first, interval, clock.now());
        node.key().first = time->second;
        due_.insert(std::move(node));
    }
    if (due_.empty()) return std::nullopt;
    return due_.begin()->first.first;
}

std::optional<Instant> TaskQueue::next() const {
    std::lock_guard lock(mutex_);
    if (due_.empty()) return std::nullopt;
    return due_.begin()->first.first;
}

std::size_t TaskQueue::size() const {
    std::lock_guard lock(mutex_);
    return due_.size();
}

void TaskQueue::clear() {
    std::map<Key, Entry> gone;
    std::lock_guard lock(mutex_);
    gone.swap(due_);
    times_.clear();
}

} // namespace scribbet
