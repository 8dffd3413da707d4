#include "runtime/run_loop.hpp"

#include <algorithm>

namespace scribbet {

RunLoop::RunLoop(MainLoop& pump, const Clock& clock) : pump_(pump), clock_(clock) {
    pump_.attach([this] { return work(); });
}

RunLoop::~RunLoop() {
    pump_.attach({});
    tasks_.clear();
}

void RunLoop::post(Task task) { add(Duration::zero(), std::move(task), Duration::zero()); }

RunLoop::TimerId RunLoop::schedule(Duration delay, Task task) { return add(delay, std::move(task), Duration::zero()); }

RunLoop::TimerId RunLoop::scheduleRepeating(Duration interval, Task task) {
    interval = std::max(interval, Duration(1));
    return add(interval, std::move(task), interval);
}

RunLoop::TimerId RunLoop::add(Duration delay, Task task, Duration interval) {
    const auto added = tasks_.add(clock_.now() + std::max(delay, Duration::zero()), std::move(task), interval);
    // The work looks at the queue again before it answers how long to sleep.
    const bool seen = pump_.onLoopThread() && working_;
    if (added.first && !seen) pump_.wake();
    return added.id;
}

void RunLoop::cancel(TimerId id) { tasks_.cancel(id); }

MainLoop::Pumped RunLoop::work() {
    if (quit_) return {true, std::nullopt};
    working_ = true;
    const auto next = tasks_.runDue(clock_, [this] { return quit_.load(); });
    working_ = false;
    if (quit_) return {true, std::nullopt};
    if (!next) return {false, std::nullopt};
    return {false, std::max(*next - clock_.now(), Duration::zero())};
}

void RunLoop::run() {
    pump_.run();
    quit_ = false;
    // What the quit left behind runs on the next turn of the platform's loop.
    if (tasks_.size() > 0) pump_.wake();
}

void RunLoop::quit() {
    quit_ = true;
    pump_.wake();
}

void RunLoop::drain() {
    for (auto next = tasks_.runDue(clock_); next && *next <= clock_.now(); next = tasks_.runDue(clock_)) {
    }
}

// ---- WaitingPump ----

void WaitingPump::attach(Work work) {
    std::lock_guard lock(mutex_);
    work_ = std::move(work);
}

void WaitingPump::wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    wake_.notify_one();
}

void WaitingPump::run() {
    thread_ = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    for (;;) {
        woken_ = false;
        Work work = work_;
        lock.unlock();
        const Pumped pumped = work ? work() : Pumped{};
        lock.lock();
        if (pumped.stop) return;
        if (woken_) continue;
        if (pumped.wait) {
            wake_.wait_for(lock, *pumped.wait, [this] { return woken_; });
        } else {
            wake_.wait(lock, [this] { return woken_; });
        }
    }
}

} // namespace scribbet
