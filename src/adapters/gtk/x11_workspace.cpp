#include "adapters/gtk/x11_workspace.hpp"

#include <gio/gio.h>

#include <map>

#include "log/app_state.hpp"
#include "runtime/weak.hpp"

namespace scribbet::gtkhost {

namespace {
std::optional<std::string> programOf(const Programs& p, int pid) {
    return p.programOf ? p.programOf(pid) : std::nullopt;
}

void opened(GObject*, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
        log(std::string("Could not open the link: ") + (error ? error->message : "no program takes it."));
        if (error) g_error_free(error);
    }
}
} // namespace

std::optional<std::vector<WindowInfo>> X11WindowList::onScreenWindows() const {
    if (!desktop_->managed()) return std::nullopt;
    std::vector<WindowInfo> out;
    for (const DesktopWindow& w : desktop_->windows()) out.push_back({w.pid, w.layer, w.client});
    return out;
}

// What the notifications need to remember between two changes of the desktop. Main thread.
struct X11Workspace::Watch {
    Programs programs;
    desktop_rules::ActivationWatch front;
    std::map<int, std::string> known; // processes with windows that are a program, and which
    CallbackList<void()> activate;
    CallbackList<void(const std::optional<std::string>&)> terminate;
    Subscription changes;

    void learn(const DesktopState& s) {
        for (const ManagedWindow& w : s.stacked) {
            if (!w.pid || known.count(*w.pid)) continue;
            if (auto id = programOf(programs, *w.pid)) known.emplace(*w.pid, std::move(*id));
        }
    }
    void changed(const DesktopChange& c, const DesktopState& s) {
        learn(s);
        for (int pid : c.closedPids) {
            auto it = known.find(pid);
            std::optional<std::string> id = it != known.end() ? std::optional(it->second) : programOf(programs, pid);
            if (it != known.end()) known.erase(it);
            if (id) terminate.notify(id);
        }
        if (front.seen(s)) activate.notify();
    }
};

X11Workspace::X11Workspace(MainQueue& main, std::shared_ptr<X11Desktop> desktop, Programs programs, int selfPid)
    : main_(main), desktop_(std::move(desktop)), programs_(std::move(programs)), selfPid_(selfPid),
      watch_(std::make_shared<Watch>()) {
    const DesktopState now = desktop_->state();
    watch_->programs = programs_;
    watch_->front = desktop_rules::ActivationWatch(desktop_rules::activeOwner(now));
    watch_->learn(now);
    watch_->changes = desktop_->onChanged(weakly(watch_, [d = desktop_.get()](Watch& w, const DesktopChange& c) {
        w.changed(c, d->state());
    }));
}

X11Workspace::~X11Workspace() = default;

std::optional<int> X11Workspace::runningProcess(const std::string& programId) const {
    return programs_.pidOf ? programs_.pidOf(programId) : std::nullopt;
}

void X11Workspace::activate(const std::string& programId) {
    if (const auto pid = runningProcess(programId)) desktop_->activatePid(*pid);
}

std::optional<FrontApp> X11Workspace::frontApplication() const {
    // One reading: the window and its process from the same moment.
    const DesktopState s = desktop_->state();
    if (!desktop_rules::active(s)) return std::nullopt;
    const auto pid = desktop_rules::activePid(s);
    if (!pid) return FrontApp{};
    return FrontApp{programOf(programs_, *pid), *pid == selfPid_};
}

void X11Workspace::openURL(const std::string& url) {
    // GIO finds the handler and starts it on the main context; the main thread goes on meanwhile.
    main_.async([url] { g_app_info_launch_default_for_uri_async(url.c_str(), nullptr, nullptr, opened, nullptr); });
}

Subscription X11Workspace::onActivate(std::function<void()> handler) {
    return watch_->activate.add(std::move(handler));
}

Subscription X11Workspace::onTerminate(std::function<void(const std::optional<std::string>&)> handler) {
    return watch_->terminate.add(std::move(handler));
}

} // namespace scribbet::gtkhost
