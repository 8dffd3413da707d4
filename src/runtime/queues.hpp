#pragma once
// The program's queues: the main queue (all user-interface objects and layer state),
// labelled serial queues (draw, log, powerpoint, ax, net) and a concurrent queue (work).
//
// Rules the types help keep: `sync` onto the queue one is already on runs inline instead
// of deadlocking; `syncFor` either runs the task wholly or not at all, so a caller that
// gave up never races a task that starts late; timers cancel themselves when their handle
// goes away, so a timer cannot outlive the object that owns it.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ports/clock.hpp"
#include "ports/main_loop.hpp"
#include "runtime/run_loop.hpp"
#include "runtime/system_clock.hpp"

namespace scribbet {

class Queue {
public:
    virtual ~Queue() = default;
    virtual void async(Task task) = 0;
    virtual void after(Duration delay, Task task) = 0;
    virtual bool isCurrent() const = 0;

    // Runs the task on this queue and waits for it; inline when already on it.
    void sync(const Task& task);
    // As sync, but gives up after `limit`: true when the task ran, false when it never will.
    bool syncFor(Duration limit, const Task& task);

    // Returns a value computed on this queue.
    template <class F>
    auto syncValue(F f) -> decltype(f()) {
        std::optional<decltype(f())> out;
        sync([&] { out.emplace(f()); });
        return std::move(*out);
    }
};

// A timer handle: the timer stops when the handle is cancelled or destroyed.
class Timer {
public:
    Timer() = default;
    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { cancel(); }

    void cancel();
    bool isActive() const;

    struct State;

private:
    friend class MainQueue;
    explicit Timer(std::shared_ptr<State> s) : state_(std::move(s)) {}
    std::shared_ptr<State> state_;
};

class MainQueue final : public Queue {
public:
    MainQueue(std::shared_ptr<MainLoop> loop, std::shared_ptr<Clock> clock);

    void async(Task task) override;
    void after(Duration delay, Task task) override;
    bool isCurrent() const override;

    // One-shot and repeating timers whose handle owns them. Main thread.
    Timer oneShot(Duration delay, Task task);
    Timer repeating(Duration interval, Task task);

    // Pumps the platform's loop until quit(); a quit() that came first makes it return at once.
    void run() { run_.run(); }
    // Makes run() return after the task in progress; the rest waits for the next run(). Any thread.
    void quit() { run_.quit(); }
    // Tasks and timers waiting.
    std::size_t waiting() const { return run_.waiting(); }
    const Clock& clock() const { return *clock_; }

private:
    friend class Timer;
    void arm(const std::shared_ptr<Timer::State>& state);
    std::shared_ptr<MainLoop> loop_;
    std::shared_ptr<Clock> clock_;
    RunLoop run_;
};

class SerialQueue final : public Queue {
public:
    explicit SerialQueue(std::string label);
    // Runs the tasks already queued, then stops the thread.
    ~SerialQueue() override;

    void async(Task task) override;
    void after(Duration delay, Task task) override;
    bool isCurrent() const override;
    const std::string& label() const { return label_; }

private:
    std::string label_;
    SystemClock clock_;
    WaitingPump pump_;
    RunLoop loop_{pump_, clock_};
    std::thread thread_;
};

// Tasks run side by side. `threads` workers are kept; when a task comes and none of them
// is free (they all wait on something slow, say the presentation program), it gets a worker
// of its own, up to `most`, so a queue of slow tasks never holds up a quick one. Workers
// beyond the kept ones end after `rest` without work.
class ConcurrentQueue final : public Queue {
public:
    explicit ConcurrentQueue(std::string label, unsigned threads = 0, unsigned most = 256,
                             Duration rest = std::chrono::seconds(10));
    // Runs the tasks already queued, then ends the workers.
    ~ConcurrentQueue() override;

    void async(Task task) override;
    // The delay is kept by a helper thread; the task then runs on one of the workers.
    void after(Duration delay, Task task) override;
    bool isCurrent() const override;
    const std::string& label() const { return label_; }
    // Workers alive now, busy or not.
    unsigned threadCount() const;

private:
    using Workers = std::list<std::thread>;
    void work(Workers::iterator self);
    void addWorker(); // with mutex_ held
    std::string label_;
    unsigned kept_;
    unsigned most_;
    Duration rest_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    unsigned idle_ = 0; // workers not running a task
    bool stop_ = false;
    Workers workers_;
    std::vector<std::thread> retired_; // ended workers, joined by the next caller
    SerialQueue timers_;
};

} // namespace scribbet
