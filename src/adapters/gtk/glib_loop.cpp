#include "adapters/gtk/glib_loop.hpp"

#include <glib.h>

#include <cmath>

namespace scribbet::gtkhost {

namespace {
struct PumpSource {
    GSource base;
    GlibMainLoop* loop;
};
} // namespace

GlibMainLoop::GlibMainLoop() : owner_(std::this_thread::get_id()), context_(g_main_context_default()) {
    // No prepare or check: the source is dispatched when its ready time comes.
    static GSourceFuncs funcs = {nullptr, nullptr, &GlibMainLoop::dispatch, nullptr, nullptr, nullptr};
    source_ = g_source_new(&funcs, sizeof(PumpSource));
    reinterpret_cast<PumpSource*>(source_)->loop = this;
    g_source_set_priority(source_, G_PRIORITY_DEFAULT);
    g_source_set_ready_time(source_, -1);
    g_source_attach(source_, context_);
}

GlibMainLoop::~GlibMainLoop() {
    g_source_destroy(source_);
    g_source_unref(source_);
}

unsigned GlibMainLoop::milliseconds(Duration d) {
    if (d <= Duration::zero()) return 0;
    const double ms = std::ceil(std::chrono::duration<double, std::milli>(d).count());
    return ms >= 4e9 ? 4000000000u : static_cast<unsigned>(ms);
}

void GlibMainLoop::attach(Work work) { work_ = std::move(work); }

void GlibMainLoop::wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    g_source_set_ready_time(source_, 0); // wakes the context when called from another thread
}

int GlibMainLoop::dispatch(GSource* source, int (*)(void*), void*) {
    auto* self = reinterpret_cast<PumpSource*>(source)->loop;
    {
        std::lock_guard lock(self->mutex_);
        self->woken_ = false;
        g_source_set_ready_time(source, -1);
    }
    const Pumped pumped = self->work_ ? self->work_() : Pumped{};
    if (pumped.stop) self->stopped_ = true;
    std::lock_guard lock(self->mutex_);
    // A wake while the work ran may be for a task it did not see.
    if (self->woken_) {
        g_source_set_ready_time(source, 0);
    } else if (!pumped.stop && pumped.wait) {
        g_source_set_ready_time(source, g_get_monotonic_time() + gint64(milliseconds(*pumped.wait)) * 1000);
    }
    return G_SOURCE_CONTINUE;
}

void GlibMainLoop::run() {
    stopped_ = false;
    wake();
    while (!stopped_) g_main_context_iteration(context_, TRUE);
}

} // namespace scribbet::gtkhost
