#pragma once
// The application object on macOS: the shared NSApplication, with a delegate of ours that
// hands AppKit's launch, reopen and terminate moments to the port's delegate.
#include <memory>
#include <vector>

#include "ports/application.hpp"
#include "runtime/queues.hpp"

namespace scribbet::mac {

class MacApplication final : public Application {
public:
    // Main thread; `main` pumps on a CocoaPump. Makes the shared NSApplication.
    explicit MacApplication(MainQueue& main);
    ~MacApplication() override;
    MacApplication(const MacApplication&) = delete;
    MacApplication& operator=(const MacApplication&) = delete;

    // Main thread.
    void setAccessoryPolicy() override;
    void setMainMenu(const std::vector<Menu>& menus) override;
    void activate() override;
    // Any thread, any number of times: AppKit's terminate action, once, on the main thread.
    // AppKit tells the delegate (willTerminate) and then ends the process itself.
    void terminate() override;

    // Main thread. Makes our bridge NSApp's delegate and runs the main queue, whose pump runs
    // [NSApp run]: AppKit then reports the launch through the bridge. Returns only when the
    // main queue is quit; the terminate action ends the process inside AppKit instead.
    void run(ApplicationDelegate& delegate);

private:
    struct Impl;
    MainQueue& main_;
    std::unique_ptr<Impl> impl_;
};

} // namespace scribbet::mac
