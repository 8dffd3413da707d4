#include "adapters/gtk/x11_desktop_rules.hpp"

#include <algorithm>
#include <set>

namespace scribbet::gtkhost::desktop_rules {

namespace {
bool ordinary(const ManagedWindow& w) { return w.kind == WindowKind::normal || w.kind == WindowKind::dialog; }

std::set<int> pidsOf(const DesktopState& s) {
    std::set<int> out;
    for (const auto& w : s.stacked) {
        if (w.pid) out.insert(*w.pid);
    }
    return out;
}
} // namespace

Rect toPoints(const Rect& pixels, double scale, const DesktopFlip& flip) {
    const double s = scale > 0 ? scale : 1;
    return {pixels.x / s - flip.originX, pixels.y / s - flip.originY, pixels.w / s, pixels.h / s};
}

bool onScreen(const ManagedWindow& w) {
    return !w.minimized && !w.shaded && w.onCurrentWorkspace && w.kind != WindowKind::desktop && w.client.w > 0 &&
           w.client.h > 0;
}

int layerOf(const ManagedWindow& w) {
    switch (w.kind) {
    case WindowKind::dock:
        return dockLayer;
    // Palettes and torn-off toolbars float over their program's windows, as panels do on a Mac.
    case WindowKind::utility:
    case WindowKind::toolbar:
    case WindowKind::menu:
        return floatingLayer;
    default:
        return w.above ? floatingLayer : normalLayer;
    }
}

std::vector<ManagedWindow> frontToBack(const std::vector<ManagedWindow>& stacked) {
    std::vector<ManagedWindow> out;
    for (auto it = stacked.rbegin(); it != stacked.rend(); ++it) {
        if (onScreen(*it)) out.push_back(*it);
    }
    // A window manager stacks its layers itself; one that does not still gets the order a
    // window list promises.
    std::stable_sort(out.begin(), out.end(),
                     [](const ManagedWindow& a, const ManagedWindow& b) { return layerOf(a) > layerOf(b); });
    return out;
}

const ManagedWindow* find(const DesktopState& s, Xid xid) {
    const auto it =
        std::find_if(s.stacked.begin(), s.stacked.end(), [&](const ManagedWindow& w) { return w.xid == xid; });
    return it == s.stacked.end() ? nullptr : &*it;
}

std::optional<Xid> active(const DesktopState& s) { return s.managed ? s.active : std::nullopt; }

std::optional<int> activePid(const DesktopState& s) {
    const auto xid = active(s);
    const ManagedWindow* w = xid ? find(s, *xid) : nullptr;
    return w ? w->pid : std::nullopt;
}

std::optional<Xid> topmostOf(const DesktopState& s, int pid) {
    std::optional<Xid> hidden;
    for (auto it = s.stacked.rbegin(); it != s.stacked.rend(); ++it) {
        if (it->pid != pid || !ordinary(*it)) continue;
        if (onScreen(*it)) return it->xid;
        if (!hidden) hidden = it->xid;
    }
    return hidden;
}

DesktopChange between(const DesktopState& before, const DesktopState& after) {
    DesktopChange c;
    for (const auto& w : after.stacked) {
        const ManagedWindow* old = find(before, w.xid);
        if (old && (old->client != w.client || before.scale != after.scale)) c.moved.push_back(w.xid);
    }
    c.activeChanged = active(before) != active(after);
    const auto gone = pidsOf(before), now = pidsOf(after);
    std::set_difference(gone.begin(), gone.end(), now.begin(), now.end(), std::back_inserter(c.closedPids));
    c.any = before != after;
    return c;
}

std::optional<long long> activeOwner(const DesktopState& s) {
    const auto xid = active(s);
    if (!xid) return std::nullopt;
    const ManagedWindow* w = find(s, *xid);
    if (w && w->pid) return *w->pid;
    return -static_cast<long long>(*xid);
}

bool ActivationWatch::seen(const DesktopState& s) {
    const auto now = activeOwner(s);
    if (!now || now == last_) return false;
    last_ = now;
    return true;
}

} // namespace scribbet::gtkhost::desktop_rules
