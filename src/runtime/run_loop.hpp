#pragma once
// Tasks and timers run through a pump: the engine of the main queue, whatever the platform's
// loop, and of every serial queue's thread. Tasks run in posting order; a timer runs once its
// time has come, after the tasks posted before that moment.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ports/clock.hpp"
#include "ports/main_loop.hpp"
#include "runtime/task_queue.hpp"

namespace scribbet {

class RunLoop {
public:
    using TimerId = TaskQueue::Id;

    // Attaches to the pump at once; both must outlive this loop.
    RunLoop(MainLoop& pump, const Clock& clock);
    // Detaches from the pump and drops what has not run.
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Any thread.
    void post(Task task);
    TimerId schedule(Duration delay, Task task);
    // Every `interval` until cancelled, the first time one interval from now.
    TimerId scheduleRepeating(Duration interval, Task task);
    void cancel(TimerId id);

    // Pumps until quit(); a quit() that came first makes it return at once, and only once.
    void run();
    // Makes run() return after the task in progress; what is left waits for the next run().
    // Any thread.
    void quit();
    // Runs what is due now, and what that posts for now, whether or not quit() was called:
    // a serial queue's last tasks before its thread ends.
    void drain();
    // Tasks and timers waiting.
    std::size_t waiting() const { return tasks_.size(); }
    bool onLoopThread() const { return pump_.onLoopThread(); }
    const Clock& clock() const { return clock_; }

private:
    TimerId add(Duration delay, Task task, Duration interval);
    MainLoop::Pumped work();

    MainLoop& pump_;
    const Clock& clock_;
    TaskQueue tasks_;
    std::atomic<bool> quit_{false};
    bool working_ = false; // on the loop's thread: inside work(), which looks again before it sleeps
};

// A pump that waits on a condition variable, on whichever thread calls run(): the headless
// main thread's and each serial queue's.
class WaitingPump final : public MainLoop {
public:
    WaitingPump() : thread_(std::this_thread::get_id()) {}
    void attach(Work work) override;
    void wake() override;
    void run() override;
    bool onLoopThread() const override { return std::this_thread::get_id() == thread_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    Work work_;
    std::atomic<std::thread::id> thread_;
};

} // namespace scribbet
