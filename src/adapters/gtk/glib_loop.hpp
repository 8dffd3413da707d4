#pragma once
// The main loop on GLib's default context, where GTK and WebKit deliver their events.
// Posted tasks go through one queue of ours, drained by a single idle source, so they run in
// posting order whatever GLib does with sources of equal priority; timers are GLib timeout
// sources that a cancel destroys.
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ports/main_loop.hpp"

typedef struct _GSource GSource;
typedef struct _GMainContext GMainContext;

namespace scribbet::gtkhost {

class GlibMainLoop final : public MainLoop {
public:
    // The calling thread is the main thread from now on.
    GlibMainLoop();
    ~GlibMainLoop() override;
    GlibMainLoop(const GlibMainLoop&) = delete;
    GlibMainLoop& operator=(const GlibMainLoop&) = delete;

    void post(Task task) override;
    TimerId schedule(Duration delay, Task task) override;
    TimerId scheduleRepeating(Duration interval, Task task) override;
    void cancel(TimerId id) override;
    bool onLoopThread() const override { return std::this_thread::get_id() == owner_; }
    // Iterates the default context until quit(); a quit() that came first makes it return at once.
    void run() override;
    void quit() override;

    // GLib's whole milliseconds for a delay: never early, so a delay is always waited out.
    static unsigned milliseconds(Duration d);

private:
    struct Entry;

    static int drain(void* self);
    static int fire(void* data);
    TimerId add(Duration delay, Task task, bool repeats);
    void armDrain(); // with mutex_ held

    std::thread::id owner_;
    GMainContext* context_;
    std::mutex mutex_;
    std::deque<Task> posted_;
    GSource* drainSource_ = nullptr;
    std::map<TimerId, std::shared_ptr<Entry>> timers_;
    TimerId next_ = 1;
    std::atomic<bool> quit_{false};
};

} // namespace scribbet::gtkhost
