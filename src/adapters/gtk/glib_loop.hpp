#pragma once
// The main loop on GLib's default context, where GTK and WebKit deliver their events. One
// source of ours pumps the main queue: a wake makes it ready at once, and after each run it
// is made ready again for when the queue's next timer falls due. It pumps whenever the
// context is iterated, inside run() or not.
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

    void attach(Work work) override;
    void wake() override;
    // Iterates the default context until the work answers stop.
    void run() override;
    bool onLoopThread() const override { return std::this_thread::get_id() == owner_; }

    // GLib's whole milliseconds for a delay: never early, so a delay is always waited out.
    static unsigned milliseconds(Duration d);

private:
    static int dispatch(GSource* source, int (*)(void*), void*);

    std::thread::id owner_;
    GMainContext* context_;
    GSource* source_;
    Work work_;
    std::mutex mutex_;
    bool woken_ = false;  // under mutex_: a wake came while the work ran
    bool stopped_ = false; // main thread
};

} // namespace scribbet::gtkhost
