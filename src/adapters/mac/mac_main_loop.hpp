#pragma once
// The main loop on macOS: the main thread's Core Foundation run loop, which AppKit runs.
// One run loop source of ours pumps the main queue: a wake signals it (from any thread),
// and after each run a timer of ours is set for when the queue's next timer falls due. Both
// are in the common modes, so the queue keeps running while a menu is tracked or a window
// is resized, and whenever the run loop runs, inside run() or not.
#include <memory>

#include "ports/main_loop.hpp"

namespace scribbet::mac {

class CocoaPump final : public MainLoop {
public:
    // On the process's main thread, whose run loop it pumps. Makes the shared NSApplication.
    CocoaPump();
    ~CocoaPump() override;
    CocoaPump(const CocoaPump&) = delete;
    CocoaPump& operator=(const CocoaPump&) = delete;

    void attach(Work work) override;
    void wake() override;
    // Runs AppKit's event loop ([NSApp run]) until the work answers stop. The application
    // shell calls it through the main queue, as the Linux shell does: AppKit reports the
    // launch from inside it.
    void run() override;
    bool onLoopThread() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace scribbet::mac
