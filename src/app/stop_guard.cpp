#include "app/stop_guard.hpp"

#include <unistd.h>

#include <future>
#include <memory>

#include "log/app_state.hpp"

namespace scribbet {

StopGuard::StopGuard(Ports ports) : ports_(std::move(ports)) {
    if (!ports_.end) ports_.end = [] { ::_exit(0); };
}

StopGuard::~StopGuard() {
    {
        std::unique_lock lock(mutex_);
        // An end under way (only a test's end returns) finishes before the guard goes.
        changed_.wait(lock, [this] { return phase_ != Phase::ending; });
        stopping_ = true;
    }
    changed_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

void StopGuard::arm() {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::waiting) return;
    phase_ = Phase::armed;
    deadline_ = std::chrono::steady_clock::now() + ports_.limit;
    watcher_ = std::thread([this] { watch(); });
}

void StopGuard::ended() {
    {
        std::unique_lock lock(mutex_);
        if (phase_ == Phase::ending || phase_ == Phase::gone) {
            // The guard is ending the process: nothing of the teardown may run meanwhile.
            changed_.wait(lock, [this] { return phase_ == Phase::gone; });
            return;
        }
        if (phase_ == Phase::logging || phase_ == Phase::logged) return;
        phase_ = Phase::logging;
    }
    logEnd();
    {
        std::lock_guard lock(mutex_);
        phase_ = Phase::logged;
    }
    changed_.notify_all();
}

void StopGuard::logEnd() {
    ports_.log.log(endedLine);
    flushWithin(ports_.flushLimit);
}

// The log's file queue may itself be stuck (a file system that hangs): the wait is bounded,
// and a flush that never returns is left behind with the process.
void StopGuard::flushWithin(Duration limit) {
    auto done = std::make_shared<std::promise<void>>();
    auto flushed = done->get_future();
    std::thread([&log = ports_.log, done] {
        log.flush();
        done->set_value();
    }).detach();
    flushed.wait_for(limit);
}

void StopGuard::watch() {
    std::unique_lock lock(mutex_);
    if (changed_.wait_until(lock, deadline_, [this] { return stopping_; })) return;
    // The teardown is writing the line itself: it gets the moment a flush may take.
    changed_.wait_for(lock, ports_.flushLimit, [this] { return phase_ != Phase::logging || stopping_; });
    if (stopping_) return;
    const bool unlogged = phase_ == Phase::armed;
    phase_ = Phase::ending;
    lock.unlock();
    if (unlogged) logEnd();
    ports_.end();
    lock.lock();
    phase_ = Phase::gone;
    changed_.notify_all();
}

void GuardedDelegate::willTerminate() {
    guard_.arm();
    inner_.willTerminate();
    guard_.ended();
}

} // namespace scribbet
