#pragma once
// The model behind one lock, for the socket server's connection threads. Changes wake the
// threads that wait out the program's reply delay, so a program that was "hung" and is told
// to answer again answers the events that were waiting.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "model.hpp"

namespace scribbet::standin {

class SharedModel {
public:
    explicit SharedModel(Model model) : model_(std::move(model)) {}

    template <class F>
    auto read(F&& f) const {
        std::lock_guard lock(mutex_);
        return f(static_cast<const Model&>(model_));
    }

    template <class F>
    auto change(F&& f) {
        Wake wake{changed_}; // notifies after the lock below is released
        std::lock_guard lock(mutex_);
        return f(model_);
    }

    // Waits until the program's reply delay has passed since `since`; the delay is read
    // afresh on every change. False when the stand-in is ending first.
    bool waitOutDelay(std::chrono::steady_clock::time_point since) {
        return waitOut(since, [](const Model& m) { return m.delay; });
    }

    // The same for a question about one of the program's accessibility elements.
    bool waitOutAXDelay(std::chrono::steady_clock::time_point since) {
        return waitOut(since, [](const Model& m) { return m.ax.delay; });
    }

    // Releases every waiting thread; the events they held are never answered.
    void end() {
        Wake wake{changed_};
        std::lock_guard lock(mutex_);
        ending_ = true;
    }

private:
    template <class DelayOf>
    bool waitOut(std::chrono::steady_clock::time_point since, DelayOf delayOf) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (ending_) return false;
            const Delay delay = delayOf(model_);
            if (delay.never) {
                changed_.wait(lock);
                continue;
            }
            const auto due = since + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                         std::chrono::duration<double>(delay.seconds));
            if (std::chrono::steady_clock::now() >= due) return true;
            changed_.wait_until(lock, due);
        }
    }

    struct Wake {
        std::condition_variable& cv;
        ~Wake() { cv.notify_all(); }
    };

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Model model_;
    bool ending_ = false;
};

} // namespace scribbet::standin
