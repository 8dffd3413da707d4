#pragma once
// Reads the presentation program's slide editor through the accessibility interface: finds
// the scroll area that holds the document, keeps references to it, and reports and moves
// its scroll position. Everything here runs on the reader's own queue.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "geometry/pane_state.hpp"
#include "ports/accessibility.hpp"
#include "ports/clock.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

class PPT;

class PaneReader {
public:
    static constexpr Duration throttle = std::chrono::milliseconds(250);
    static constexpr double messagingTimeout = 0.25;
    static constexpr int maxDepth = 14;

    // Without an interface, it finds nothing; `ppt` says which process the program is.
    PaneReader(std::shared_ptr<Accessibility> ax, const Clock& clock, const PPT& ppt);
    // The reader the entry point built.
    static PaneReader& shared();

    SerialQueue& queue() { return queue_; }
    // Whether the program's interface tells of changes to its view, and a subscription to them.
    bool tellsChanges() const { return ax_ && ax_->tellsChanges(); }
    Subscription onChange(std::function<void()> handler) { return ax_ ? ax_->onChange(std::move(handler)) : Subscription{}; }

    // The pane's state, preferring the pane near `near` (the program's window) when given.
    std::optional<PaneState> read(const std::optional<Rect>& near);
    // Moves the scroll bars so that the document's top-left corner lands at `to`; true when
    // a bar was moved.
    bool scroll(AXPoint to, std::optional<AXSize> doc = std::nullopt);
    // Puts a saved scroll position back, unless the pane or the zoom changed meanwhile.
    void restore(const PaneState& saved);
    // Nudges every bar and puts it back, so the program reports its view afresh.
    void refresh();
    void forget();

    static bool close(const Rect& a, const Rect& b);
    std::optional<Rect> frame(const AXRef& element);
    std::optional<std::string> string(const AXRef& element, const std::string& name);
    std::optional<AXValue> value(const AXRef& element, const std::string& name);
    std::vector<AXRef> children(const AXRef& element);

private:
    struct Candidate {
        AXRef scroll, layout;
        double area = 0;
    };
    std::optional<PaneState> current();
    void find(const std::optional<Rect>& near);
    std::optional<std::pair<AXRef, AXRef>> editor(const AXRef& element, int depth, std::optional<Candidate>& best);
    std::optional<std::string> role(const AXRef& element) { return string(element, "AXRole"); }
    void correct(const AXRef& bar, bool horizontal, double want, double value);

    const std::shared_ptr<Accessibility> ax_;
    const Clock& clock_;
    const PPT& ppt_;
    SerialQueue queue_{"com.tarnwell.scribbet.ax"};
    int pid_ = 0;
    AXRef app_, win_, scroll_, layout_, slide_;
    std::vector<AXRef> bars_;
    std::optional<Instant> lastFind_;
};

} // namespace scribbet
