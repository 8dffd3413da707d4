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

void VirtualMainLoop::attach(Work work) {
    std::lock_guard lock(mutex_);
    work_ = std::move(work);
}

void VirtualMainLoop::wake() {
    std::lock_guard lock(mutex_);
    wake_ = true;
    woken_.notify_all();
}

bool VirtualMainLoop::onLoopThread() const { return std::this_thread::get_id() == owner_; }

MainLoop::Pumped VirtualMainLoop::pump() {
    Work work;
    {
        std::lock_guard lock(mutex_);
        wake_ = false;
        work = work_;
    }
    return work ? work() : Pumped{};
}

void VirtualMainLoop::runPending() {
    for (;;) {
        const Pumped pumped = pump();
        if (pumped.stop || !pumped.wait || *pumped.wait > Duration::zero()) return;
    }
}

void VirtualMainLoop::advance(Duration d) {
    const Instant target = clock_->now() + d;
    for (;;) {
        const Pumped pumped = pump();
        if (pumped.stop || !pumped.wait) break;
        const Instant next = clock_->now() + *pumped.wait;
        if (next > target) break;
        clock_->set(next);
    }
    clock_->set(target);
}

bool VirtualMainLoop::runUntil(const std::function<bool()>& done, Duration realLimit) {
    const auto deadline = std::chrono::steady_clock::now() + realLimit;
    for (;;) {
        runPending();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (wake_) continue;
        // `done` may turn true on another thread without posting anything: look again often.
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            runPending();
            return done();
        }
        woken_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

void VirtualMainLoop::run() {
    for (;;) {
        const Pumped pumped = pump();
        if (pumped.stop) return;
        if (pumped.wait) {
            clock_->set(clock_->now() + *pumped.wait);
            continue;
        }
        std::unique_lock lock(mutex_);
        woken_.wait(lock, [this] { return wake_; });
    }
}

} // namespace scribbet::fake
