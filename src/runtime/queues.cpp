#include "runtime/queues.hpp"

#include <cassert>
#include <future>

namespace scribbet {

namespace {
// The background queue whose task the current thread is running, if any.
thread_local const Queue* current = nullptr;

struct CurrentScope {
    const Queue* saved;
    explicit CurrentScope(const Queue* q) : saved(current) { current = q; }
    ~CurrentScope() { current = saved; }
};
} // namespace

// ---- Queue ----

void Queue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&] {
        task();
        done.set_value();
    });
    finished.wait();
}

bool Queue::syncFor(Duration limit, const Task& task) {
    if (isCurrent()) {
        task();
        return true;
    }
    // pending -> running -> done, or pending -> abandoned: whoever moves first wins.
    enum : int { pending, running, done, abandoned };
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        int state = pending;
        Task task;
    };
    auto shared = std::make_shared<Shared>();
    shared->task = task;
    async([shared] {
        {
            std::lock_guard lock(shared->m);
            if (shared->state != pending) return;
            shared->state = running;
        }
        shared->task();
        std::lock_guard lock(shared->m);
        shared->state = done;
        shared->cv.notify_all();
    });
    std::unique_lock lock(shared->m);
    if (shared->cv.wait_for(lock, limit, [&] { return shared->state == done; })) return true;
    if (shared->state == pending) {
        shared->state = abandoned;
        return false;
    }
    // It started before the limit: it must finish, since it may use the caller's data.
    shared->cv.wait(lock, [&] { return shared->state == done; });
    return true;
}

// ---- Timer ----

struct Timer::State {
    MainQueue* queue = nullptr;
    RunLoop::TimerId id = 0;
    Duration interval{};
    bool repeats = false;
    bool active = true;
    Task task;
};

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

bool Timer::isActive() const { return state_ && state_->active; }

void Timer::cancel() {
    if (!state_) return;
    if (state_->active) {
        state_->active = false;
        state_->queue->run_.cancel(state_->id);
    }
    state_.reset();
}

// ---- MainQueue ----

MainQueue::MainQueue(std::shared_ptr<MainLoop> loop, std::shared_ptr<Clock> clock)
    : loop_(std::move(loop)), clock_(std::move(clock)), run_(*loop_, *clock_) {}

void MainQueue::async(Task task) { run_.post(std::move(task)); }

void MainQueue::after(Duration delay, Task task) { run_.schedule(delay, std::move(task)); }

bool MainQueue::isCurrent() const { return run_.onLoopThread(); }

Timer MainQueue::oneShot(Duration delay, Task task) {
    auto state = std::make_shared<Timer::State>();
    state->queue = this;
    state->interval = delay;
    state->task = std::move(task);
    arm(state);
    return Timer(state);
}

Timer MainQueue::repeating(Duration interval, Task task) {
    auto state = std::make_shared<Timer::State>();
    state->queue = this;
    state->interval = interval;
    state->repeats = true;
    state->task = std::move(task);
    std::weak_ptr<Timer::State> weak = state;
    state->id = run_.scheduleRepeating(interval, [weak] {
        // Held for the call: the task may cancel or replace its own timer.
        if (auto s = weak.lock(); s && s->active) s->task();
    });
    return Timer(state);
}

void MainQueue::arm(const std::shared_ptr<Timer::State>& state) {
    std::weak_ptr<Timer::State> weak = state;
    state->id = run_.schedule(state->interval, [weak] {
        auto s = weak.lock();
        if (!s || !s->active) return;
        s->active = false;
        s->task(); // `s` keeps the task alive even if the task drops its own handle
    });
}

// ---- SerialQueue ----

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] {
        CurrentScope scope(this);
        loop_.run();
        loop_.drain();
    });
}

SerialQueue::~SerialQueue() {
    loop_.quit();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach(); // destroyed by its own last task: nothing left to wait for
        } else {
            thread_.join();
        }
    }
}

void SerialQueue::async(Task task) { loop_.post(std::move(task)); }

void SerialQueue::after(Duration delay, Task task) { loop_.schedule(delay, std::move(task)); }

bool SerialQueue::isCurrent() const { return current == this; }

// ---- ConcurrentQueue ----

ConcurrentQueue::ConcurrentQueue(std::string label, unsigned threads, unsigned most, Duration rest)
    : label_(std::move(label)),
      kept_(std::max(1u, threads == 0 ? std::max(4u, std::thread::hardware_concurrency() * 2) : threads)),
      most_(std::max(kept_, most)),
      rest_(rest),
      timers_(label_ + ".timers") {
    std::lock_guard lock(mutex_);
    for (unsigned i = 0; i < kept_; ++i) addWorker();
}

ConcurrentQueue::~ConcurrentQueue() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true; // from here on no worker ends early and none is added
    }
    wake_.notify_all();
    Workers workers;
    std::vector<std::thread> retired;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
        retired.swap(retired_);
    }
    for (auto& w : workers) w.join();
    for (auto& w : retired) w.join();
}

void ConcurrentQueue::addWorker() {
    const auto self = workers_.emplace(workers_.end());
    // The new worker takes mutex_ before it looks at `self`, so the handle is in place by then.
    *self = std::thread([this, self] { work(self); });
    ++idle_; // free from the start: it looks for a task as soon as it runs
}

void ConcurrentQueue::async(Task task) {
    std::vector<std::thread> ended;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        // More tasks waiting than free workers: this one gets a worker of its own.
        if (tasks_.size() > idle_ && workers_.size() < most_ && !stop_) {
            try {
                addWorker();
            } catch (const std::system_error&) {
                workers_.pop_back(); // no thread to be had: the task waits for a worker
            }
        }
        ended.swap(retired_);
    }
    wake_.notify_one();
    for (auto& t : ended) t.join(); // they have left their loop; this only collects them
}

void ConcurrentQueue::after(Duration delay, Task task) {
    timers_.after(delay, [this, task = std::move(task)]() mutable { async(std::move(task)); });
}

bool ConcurrentQueue::isCurrent() const { return current == this; }

unsigned ConcurrentQueue::threadCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<unsigned>(workers_.size());
}

void ConcurrentQueue::work(Workers::iterator self) {
    CurrentScope scope(this);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            --idle_;
            lock.unlock();
            task();
            task = nullptr; // what it holds goes before the lock is taken again
            lock.lock();
            ++idle_;
            continue;
        }
        if (stop_) return; // stopping, and everything queued has run
        bool rested = false;
        if (workers_.size() > kept_) {
            rested = wake_.wait_for(lock, rest_) == std::cv_status::timeout;
        } else {
            wake_.wait(lock);
        }
        if (rested && tasks_.empty() && !stop_ && workers_.size() > kept_) {
            --idle_;
            retired_.push_back(std::move(*self));
            workers_.erase(self);
            return;
        }
    }
}

} // namespace scribbet
