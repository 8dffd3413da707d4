#include "adapters/gtk/glib_loop.hpp"

#include <glib.h>

#include <cmath>

namespace scribbet::gtkhost {

struct GlibMainLoop::Entry {
    Task task;
    GSource* source = nullptr; // our own reference; the context holds another while attached
    bool repeats = false;
    std::atomic<bool> cancelled{false};
    ~Entry() {
        if (source) g_source_unref(source);
    }
};

namespace {
struct FireData {
    GlibMainLoop* loop;
    MainLoop::TimerId id;
};
} // namespace

GlibMainLoop::GlibMainLoop() : owner_(std::this_thread::get_id()), context_(g_main_context_default()) {}

GlibMainLoop::~GlibMainLoop() {
    std::lock_guard lock(mutex_);
    if (drainSource_) {
        g_source_destroy(drainSource_);
        g_source_unref(drainSource_);
    }
    for (auto& [id, entry] : timers_) g_source_destroy(entry->source);
}

unsigned GlibMainLoop::milliseconds(Duration d) {
    if (d <= Duration::zero()) return 0;
    const double ms = std::ceil(std::chrono::duration<double, std::milli>(d).count());
    return ms >= 4e9 ? 4000000000u : static_cast<unsigned>(ms);
}

void GlibMainLoop::post(Task task) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
    armDrain();
}

void GlibMainLoop::armDrain() {
    if (drainSource_ || posted_.empty()) return;
    drainSource_ = g_idle_source_new();
    g_source_set_priority(drainSource_, G_PRIORITY_DEFAULT);
    g_source_set_callback(drainSource_, &GlibMainLoop::drain, this, nullptr);
    g_source_attach(drainSource_, context_); // wakes the loop when called from another thread
}

int GlibMainLoop::drain(void* data) {
    auto* self = static_cast<GlibMainLoop*>(data);
    std::deque<Task> batch;
    {
        std::lock_guard lock(self->mutex_);
        batch.swap(self->posted_);
        g_source_unref(self->drainSource_);
        self->drainSource_ = nullptr;
    }
    while (!batch.empty()) {
        if (self->quit_) {
            // The rest waits for the next run(), still ahead of anything posted since.
            std::lock_guard lock(self->mutex_);
            self->posted_.insert(self->posted_.begin(), std::make_move_iterator(batch.begin()),
                                 std::make_move_iterator(batch.end()));
            self->armDrain();
            break;
        }
        Task task = std::move(batch.front());
        batch.pop_front();
        task();
    }
    return G_SOURCE_REMOVE;
}

MainLoop::TimerId GlibMainLoop::schedule(Duration delay, Task task) { return add(delay, std::move(task), false); }

MainLoop::TimerId GlibMainLoop::scheduleRepeating(Duration interval, Task task) {
    return add(std::max(interval, Duration(std::chrono::milliseconds(1))), std::move(task), true);
}

MainLoop::TimerId GlibMainLoop::add(Duration delay, Task task, bool repeats) {
    auto entry = std::make_shared<Entry>();
    entry->task = std::move(task);
    entry->repeats = repeats;
    entry->source = g_timeout_source_new(milliseconds(delay));
    std::lock_guard lock(mutex_);
    const TimerId id = next_++;
    g_source_set_callback(entry->source, &GlibMainLoop::fire, new FireData{this, id},
                          [](gpointer d) { delete static_cast<FireData*>(d); });
    timers_.emplace(id, entry);
    g_source_attach(entry->source, context_);
    return id;
}

int GlibMainLoop::fire(void* data) {
    const auto* d = static_cast<FireData*>(data);
    GlibMainLoop* self = d->loop;
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(self->mutex_);
        auto it = self->timers_.find(d->id);
        if (it == self->timers_.end()) return G_SOURCE_REMOVE;
        entry = it->second;
        if (!entry->repeats) self->timers_.erase(it);
    }
    entry->task();
    return entry->repeats && !entry->cancelled ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void GlibMainLoop::cancel(TimerId id) {
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        entry = std::move(it->second);
        timers_.erase(it);
    }
    entry->cancelled = true;
    g_source_destroy(entry->source);
}

void GlibMainLoop::run() {
    while (!quit_) g_main_context_iteration(context_, TRUE);
    quit_ = false;
}

void GlibMainLoop::quit() {
    quit_ = true;
    g_main_context_wakeup(context_);
}

} // namespace scribbet::gtkhost
