#include "geometry/pane_reader.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "program/ppt.hpp"
#include "runtime/shared_slot.hpp"

namespace scribbet {

namespace {
constexpr Duration barSettle = std::chrono::milliseconds(25);
constexpr Duration refreshSettle = std::chrono::milliseconds(30);

template <class T>
std::optional<T> as(const std::optional<AXValue>& v) {
    if (v && std::holds_alternative<T>(*v)) return std::get<T>(*v);
    return std::nullopt;
}
} // namespace

PaneReader::PaneReader(std::shared_ptr<Accessibility> ax, const Clock& clock, const PPT& ppt)
    : ax_(std::move(ax)), clock_(clock), ppt_(ppt) {}

PaneReader& PaneReader::shared() {
    PaneReader* reader = SharedSlot<PaneReader>::get();
    assert(reader && "the entry point builds the pane reader");
    return *reader;
}

bool PaneReader::close(const Rect& a, const Rect& b) {
    return std::abs(a.x - b.x) < 6 && std::abs(a.y - b.y) < 6 && std::abs(a.w - b.w) < 12 &&
           std::abs(a.h - b.h) < 12;
}

std::optional<AXValue> PaneReader::value(const AXRef& element, const std::string& name) {
    const auto& a = ax_;
    if (!a || !element) return std::nullopt;
    return a->attribute(element, name);
}

std::optional<std::string> PaneReader::string(const AXRef& element, const std::string& name) {
    return as<std::string>(value(element, name));
}

std::vector<AXRef> PaneReader::children(const AXRef& element) {
    return as<std::vector<AXRef>>(value(element, "AXChildren")).value_or(std::vector<AXRef>{});
}

std::optional<Rect> PaneReader::frame(const AXRef& element) {
    const auto pos = as<AXPoint>(value(element, "AXPosition"));
    if (!pos) return std::nullopt;
    const auto size = as<AXSize>(value(element, "AXSize"));
    if (!size) return std::nullopt;
    return Rect{pos->x, pos->y, size->w, size->h};
}

void PaneReader::forget() {
    app_ = win_ = scroll_ = layout_ = slide_ = nullptr;
    bars_.clear();
}

std::optional<PaneState> PaneReader::read(const std::optional<Rect>& near) {
    const auto pid = ppt_.running();
    const auto& a = ax_;
    if (!a || !a->trusted() || !pid) {
        forget();
        return std::nullopt;
    }
    if (*pid != pid_) {
        forget();
        pid_ = *pid;
    }
    if (auto state = current(); state && (!near || close(state->window, *near))) return state;
    const Instant now = clock_.now();
    if (lastFind_ && now - *lastFind_ <= throttle) return std::nullopt;
    lastFind_ = now;
    find(near);
    return current();
}

void PaneReader::find(const std::optional<Rect>& near) {
    forget();
    const auto& a = ax_;
    if (!a) return;
    app_ = a->application(pid_);
    if (!app_) return;
    a->setMessagingTimeout(app_, messagingTimeout);

    std::vector<AXRef> windows = as<std::vector<AXRef>>(value(app_, "AXWindows")).value_or(std::vector<AXRef>{});
    if (const auto focused = as<AXRef>(value(app_, "AXFocusedWindow")); focused && *focused) {
        std::erase_if(windows, [&](const AXRef& w) { return a->equal(w, *focused); });
        windows.insert(windows.begin(), *focused);
    }
    if (near) {
        std::vector<bool> isClose;
        for (const auto& w : windows) {
            const auto f = frame(w);
            isClose.push_back(f && close(*f, *near));
        }
        std::vector<std::size_t> order(windows.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return isClose[a] && !isClose[b]; });
        std::vector<AXRef> sorted;
        for (auto i : order) sorted.push_back(windows[i]);
        windows = std::move(sorted);
    }

    for (const auto& window : windows) {
        std::optional<Candidate> best;
        auto pair = editor(window, 0, best);
        if (!pair && best) pair = std::make_pair(best->scroll, best->layout);
        if (!pair) continue;
        win_ = window;
        scroll_ = pair->first;
        layout_ = pair->second;
        for (const auto& child : children(scroll_)) {
            if (role(child) == "AXScrollBar") bars_.push_back(child);
        }
        for (const auto& child : children(layout_)) {
            if (role(child) == "AXGroup" && string(child, "AXDescription") == "Slide") slide_ = child;
        }
        for (const auto& e : {win_, scroll_, layout_}) a->setMessagingTimeout(e, messagingTimeout);
        if (slide_) a->setMessagingTimeout(slide_, messagingTimeout);
        for (const auto& bar : bars_) a->setMessagingTimeout(bar, messagingTimeout);
        return;
    }
}

std::optional<std::pair<AXRef, AXRef>> PaneReader::editor(const AXRef& element, int depth,
                                                          std::optional<Candidate>& best) {
    const auto kids = children(element);
    if (role(element) == "AXScrollArea") {
        for (const auto& child : kids) {
            if (role(child) != "AXLayoutArea") continue;
            if (string(child, "AXDescription").value_or("").rfind("Slide Editor", 0) == 0) {
                return std::make_pair(element, child);
            }
            if (const auto f = frame(element)) {
                const double area = f->width() * f->height();
                if (!best || area > best->area) best = Candidate{element, child, area};
            }
        }
    }
    if (depth < maxDepth) {
        for (const auto& child : kids) {
            if (auto found = editor(child, depth + 1, best)) return found;
        }
    }
    return std::nullopt;
}

std::optional<PaneState> PaneReader::current() {
    if (!win_ || !scroll_ || !layout_) return std::nullopt;
    // One failed read is enough: a stale or hung element costs one time-out, not six.
    const auto pane = frame(scroll_);
    if (!pane) return std::nullopt;
    const auto content = frame(layout_);
    if (!content) return std::nullopt;
    const auto window = frame(win_);
    if (!window) return std::nullopt;
    if (!(pane->w > 20 && pane->h > 20) || !(content->w > 0 && content->h > 0)) return std::nullopt;
    PaneState s;
    s.pane = *pane;
    s.content = *content;
    s.window = *window;
    s.label = string(layout_, "AXDescription").value_or("");
    for (const auto& bar : bars_) {
        if (auto f = frame(bar)) s.bars.push_back(*f);
    }
    if (slide_) s.slide = frame(slide_);
    return s;
}

bool PaneReader::scroll(AXPoint to, std::optional<AXSize> doc) {
    const auto state = current();
    const auto& a = ax_;
    if (!state || bars_.empty() || !a) return false;
    const AXSize size = doc.value_or(AXSize{state->content.w, state->content.h});
    bool moved = false;
    for (const auto& bar : bars_) {
        const auto f = frame(bar);
        if (!f) continue;
        const bool horizontal = f->w > f->h;
        const double edge = horizontal ? state->pane.x : state->pane.y;
        const double length = horizontal ? state->pane.w : state->pane.h;
        const double docLength = horizontal ? size.w : size.h;
        const double range = docLength - length;
        if (range <= 0.5) continue;
        const double want = edge - (horizontal ? to.x : to.y);
        const double v = std::clamp(want / range, 0.0, 1.0);
        if (!a->setNumber(bar, "AXValue", v)) continue;
        clock_.sleepFor(barSettle);
        moved = true;
        correct(bar, horizontal, want, v);
    }
    return moved;
}

// The program may map a bar's value to its document a little differently than assumed:
// measure where the document went and adjust, at most twice.
void PaneReader::correct(const AXRef& bar, bool horizontal, double want, double value) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!(value > 0.001 && value < 0.999)) return;
        const auto fresh = current();
        if (!fresh) return;
        const double got = horizontal ? fresh->pane.x - fresh->content.x : fresh->pane.y - fresh->content.y;
        if (std::abs(got - want) < 0.75 || got <= 0.5) return;
        value = std::clamp(want / (got / value), 0.0, 1.0);
        if (const auto& a = ax_) a->setNumber(bar, "AXValue", value);
        clock_.sleepFor(barSettle);
    }
}

void PaneReader::restore(const PaneState& saved) {
    const auto now = current();
    if (!now || !(now->pane == saved.pane)) return;
    if (std::abs(now->content.w - saved.content.w) >= 1 || std::abs(now->content.h - saved.content.h) >= 1) return;
    if (std::abs(now->content.x - saved.content.x) > 0.5 || std::abs(now->content.y - saved.content.y) > 0.5) {
        scroll({saved.content.x, saved.content.y}, AXSize{saved.content.w, saved.content.h});
    }
}

void PaneReader::refresh() {
    const auto& a = ax_;
    for (const auto& bar : bars_) {
        const auto v = as<double>(value(bar, "AXValue"));
        if (!v || !a) continue;
        a->setNumber(bar, "AXValue", *v < 0.5 ? *v + 0.00001 : *v - 0.00001);
        a->setNumber(bar, "AXValue", *v);
    }
    if (!bars_.empty()) clock_.sleepFor(refreshSettle);
}

} // namespace scribbet
