#include "adapters/fake/virtual_loop.hpp"

namespace scribbet::fake {

Instant VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

WallTime VirtualClock::wallNow() const {
    std::lock_guard lock(mutex_);
    return wallStart_ + std::chrono::duration_cast<WallTime::duration>(now_ - start_);
}

void VirtualClock::sleepFor(Duration d) const {
    std::lock_guard lock(mutex_);
    if (d > Duration::zero()) now_ += d;
}

void VirtualClock::set(Instant t) {
    std::lock_guard lock(mutex_);
    if (t > now_) now_ = t;
}

void VirtualClock::setWallStart(WallTime t) {
    std::lock_guard lock(mutex_);
    wallStart_ = t - std::chrono::duration_cast<WallTime::duration>(now_ - start_);
}

VirtualMainLoop::VirtualMainLoop(std::shared_ptr<VirtualClock> clock)
    : clock_(std::move(clock)), owner_(std::this_thread::get_id()) {}

void VirtualMainLoop::post(Task task) { schedule(Duration::zero(), std::move(task)); }

MainLoop::TimerId VirtualMainLoop::schedule(Duration delay, Task task) { return add(delay, {std::move(task), {}}); }

MainLoop::TimerId VirtualMainLoop::scheduleRepeating(Duration interval, Task task) {
    return add(interval, {std::move(task), std::max(interval, Duration(1))});
}

MainLoop::TimerId VirtualMainLoop::add(Duration delay, Entry entry) {
    std::lock_guard lock(mutex_);
    const TimerId id = next_++;
    const Key key{clock_->now() + std::max(delay, Duration::zero()), id};
    due_.emplace(key, std::move(entry));
    keys_.emplace(id, key);
    posted_.notify_all();
    return id;
}

void VirtualMainLoop::cancel(TimerId id) {
    std::lock_guard lock(mutex_);
    auto it = keys_.find(id);
    if (it == keys_.end()) return;
    due_.erase(it->second);
    keys_.erase(it);
}

bool VirtualMainLoop::onLoopThread() const { return std::this_thread::get_id() == owner_; }

bool VirtualMainLoop::runOneDue(Instant limit) {
    decltype(due_)::node_type node;
    {
        std::lock_guard lock(mutex_);
        if (due_.empty() || due_.begin()->first.first > limit) return false;
        node = due_.extract(due_.begin());
        clock_->set(node.key().first);
        if (node.mapped().interval == Duration::zero()) keys_.erase(node.key().second);
    }
    node.mapped().task();
    if (node.mapped().interval == Duration::zero()) return true;
    // Back in line for its next run, in the same node, unless it was cancelled meanwhile.
    std::lock_guard lock(mutex_);
    auto key = keys_.find(node.key().second);
    if (key == keys_.end()) return true;
    node.key().first += node.mapped().interval;
    key->second = node.key();
    due_.insert(std::move(node));
    return true;
}

void VirtualMainLoop::runPending() {
    while (runOneDue(clock_->now())) {
    }
}

void VirtualMainLoop::advance(Duration d) {
    const Instant target = clock_->now() + d;
    while (runOneDue(target)) {
    }
    clock_->set(target);
}

bool VirtualMainLoop::runUntil(const std::function<bool()>& done, Duration realLimit) {
    const auto deadline = std::chrono::steady_clock::now() + realLimit;
    for (;;) {
        runPending();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        const bool ready = !due_.empty() && due_.begin()->first.first <= clock_->now();
        if (ready) continue;
        // `done` may turn true on another thread without posting anything: look again often.
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            runPending();
            return done();
        }
        posted_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

void VirtualMainLoop::run() {
    for (;;) {
        runPending();
        std::unique_lock lock(mutex_);
        if (quit_) {
            quit_ = false;
            return;
        }
        if (due_.empty()) {
            posted_.wait(lock);
            continue;
        }
        const Instant next = due_.begin()->first.first;
        lock.unlock();
        clock_->set(next);
    }
}

void VirtualMainLoop::quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    posted_.notify_all();
}

std::size_t VirtualMainLoop::pendingCount() const {
    std::lock_guard lock(mutex_);
    return due_.size();
}

bool VirtualMainLoop::quitRequested() const {
    std::lock_guard lock(mutex_);
    return quit_;
}

} // namespace scribbet::fake
