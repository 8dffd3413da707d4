#pragma once
// The window list and the workspace ports over the real X desktop (X11Desktop). X knows
// processes and windows, not programs: which process is which presentation program comes
// from the host, through a small description main fills in.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "adapters/gtk/x11_desktop.hpp"
#include "ports/window_list.hpp"
#include "ports/workspace.hpp"

namespace scribbet::gtkhost {

// Which process runs which program, by the program's identifier (the bundle id the core
// speaks of). Both are asked from any thread; an empty function knows nothing.
struct Programs {
    std::function<std::optional<std::string>(int pid)> programOf;
    std::function<std::optional<int>(const std::string& programId)> pidOf;
};

// On-screen windows front to back: layer 0 for ordinary windows, higher for palettes, windows
// kept above and docks; bounds are client areas. None without a window manager, since then
// nobody keeps a list of the programs' windows.
class X11WindowList final : public WindowList {
public:
    explicit X11WindowList(std::shared_ptr<X11Desktop> desktop) : desktop_(std::move(desktop)) {}
    std::optional<std::vector<WindowInfo>> onScreenWindows() const override;

private:
    std::shared_ptr<X11Desktop> desktop_;
};

class X11Workspace final : public Workspace {
public:
    // Main thread. `selfPid` is this program's process.
    X11Workspace(MainQueue& main, std::shared_ptr<X11Desktop> desktop, Programs programs, int selfPid);
    ~X11Workspace() override;

    std::optional<int> runningProcess(const std::string& programId) const override;
    // The program's topmost window comes to the front, on the main queue.
    void activate(const std::string& programId) override;
    // The program of the active window's process; none when no window is active.
    std::optional<FrontApp> frontApplication() const override;
    // The desktop's handler for the link, started without waiting for it.
    void openURL(const std::string& url) override;
    // A window of another process became active (nobody active in between is no change).
    Subscription onActivate(std::function<void()> handler) override;
    // A program's process has no window left, with the program's identifier; processes that
    // are no known program are not told.
    Subscription onTerminate(std::function<void(const std::optional<std::string>&)> handler) override;

private:
    struct Watch;
    MainQueue& main_;
    std::shared_ptr<X11Desktop> desktop_;
    Programs programs_;
    int selfPid_;
    std::shared_ptr<Watch> watch_;
};

} // namespace scribbet::gtkhost
