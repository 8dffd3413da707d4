// A drawing start: check the add-in, measure the slide (from the link or the add-in, with
// the pane when Accessibility allows it, else with the program set to Fit), then open the
// layer. The slow part runs on the draw queue, one start after the other.
#include <array>
#include <charconv>
#include <limits>

#include "app/app_delegate.hpp"
#include "app/idle.hpp"
#include "app/notice.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "layer/page_protocol.hpp"
#include "log/app_state.hpp"
#include "powerpoint/addin_check.hpp"
#include "powerpoint/ppt.hpp"

namespace scribbet {

namespace {
constexpr int fitAttempts = 10;
constexpr Duration fitPause = std::chrono::milliseconds(120);
constexpr double whereTimeout = 5;

std::optional<Geom> parsedOnMain(const std::string& text) {
    return MainQueue::shared().syncValue([&] { return Geom::from(text); });
}

// A whole number of points with every digit, whatever its size and the locale.
std::string points(double v) {
    std::array<char, std::numeric_limits<double>::max_exponent10 + 8> buf;
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, 0);
    return ec == std::errc() ? std::string(buf.data(), end) : "?";
}

std::string measuredLine(const Geom& g, const std::optional<PaneState>& pane, bool fitted) {
    const Rect r = pane ? g.lined(*pane).rect : g.rect;
    const char* suffix = pane ? " (Accessibility)" : fitted ? " (PowerPoint set to Fit)" : "";
    return "Slide " + Overlay::num(g.slideW) + "x" + Overlay::num(g.slideH) + " pt at " + points(r.minX()) + "," +
           points(r.minY()) + " (" + points(r.width()) + "x" + points(r.height()) + ") on screen" + suffix + ".";
}
} // namespace

void AppDelegate::startDrawing(const std::string& geom, const std::string& tool) {
    ++Idle::working;
    // The task holds nothing of the delegate's: it may run while the delegate goes, and a
    // start still queued then is dropped.
    drawQueue.async([weak = weak_.weak(), &reader = reader(), geom, tool] {
        if (!weak.expired()) prepare(reader, geom, tool);
        MainQueue::shared().async([] { --Idle::working; });
    });
}

void AppDelegate::drawNow() {
    PPT::activate();
    startDrawing("", "");
}

void AppDelegate::notice(const std::string& message) {
    log("Could not open the drawing layer: " + message);
    MainQueue::shared().async([message] { Notice::show(message); });
}

namespace {
// A start while the layer is open switches its tool and brings it to the slide.
void reuseLayer(const std::string& geomText, const std::string& tool) {
    if (!tool.empty()) {
        std::string cmd = "{}";
        try {
            cmd = page_protocol::toolCommand(tool).dump();
        } catch (const nlohmann::json::exception&) {
        }
        if (!Overlay::shared().command(cmd, 3)) log("The drawing layer did not switch to " + tool + ".");
    }
    MainQueue::shared().async([geomText] {
        if (!geomText.empty()) Overlay::shared().realign(geomText);
        Overlay::shared().bringToFront();
    });
}

// The pane from Accessibility, or none: then the first start asks for it once.
std::optional<PaneState> readPane(PaneReader& reader, const Geom& slide) {
    std::optional<PaneState> pane;
    if (!AXAccess::trusted()) {
        if (MainQueue::shared().syncValue([] { return AXAccess::askOnce(); })) {
            log("Asked for Accessibility, so the layer can follow PowerPoint's zoom and scrolling.");
            MainQueue::shared().async([] {
                Notice::show("To follow PowerPoint's zoom and scrolling, allow Scribbet in System Settings > Privacy "
                             "& Security > Accessibility (if it is listed already, switch it off and on). Until then "
                             "Scribbet sets PowerPoint to Fit while you draw.");
            });
        }
        return pane;
    }
    const auto near = slide.window;
    reader.queue().sync([&] {
        reader.read(near);
        reader.refresh();
        pane = reader.read(near);
    });
    if (!pane) log("Accessibility is allowed but PowerPoint's slide editor was not found - measuring without it.");
    return pane;
}

// Sets the program to Fit and waits for its view to settle; true when it was set.
bool fitAndSettle(Geom& slide) {
    const MacroReply reply = PPT::run("SCBT_Zoom", {"fit"});
    if (!reply.hasFields()) {
        log("Could not set PowerPoint to Fit: " + replyError(reply));
        return false;
    }
    MacroReply last;
    for (int i = 0; i < fitAttempts; ++i) {
        clock().sleepFor(fitPause);
        const MacroReply now = PPT::run("SCBT_Where", {}, whereTimeout);
        const auto step = FitOnOpen::step(last, now);
        if (step == FitOnOpen::Step::failed) break;
        if (step == FitOnOpen::Step::settled) {
            if (auto g = parsedOnMain(now.fields())) {
                slide = *g;
                break;
            }
        }
        last = now;
    }
    return true;
}
} // namespace

void AppDelegate::prepare(PaneReader& reader, const std::string& geomText, const std::string& tool) {
    if (const auto problem = AddinCheck::problem()) return notice(*problem);
    if (MainQueue::shared().syncValue([] { return Overlay::shared().isOpen(); })) return reuseLayer(geomText, tool);

    std::string text = geomText;
    if (!parsedOnMain(text)) {
        const MacroReply reply = PPT::run("SCBT_Geom");
        if (!reply.hasFields()) return notice(replyError(reply));
        text = reply.fields();
    }
    auto slide = parsedOnMain(text);
    if (!slide) return notice("Could not find the slide on the screen. Switch PowerPoint to Normal view, then try again.");

    const std::optional<PaneState> pane = readPane(reader, *slide);
    const bool fitted = FitOnOpen::wanted(pane) && fitAndSettle(*slide);
    log(measuredLine(*slide, pane, fitted));
    MainQueue::shared().async([g = *slide, pane, tool, fitted] { Overlay::shared().open(g, pane, tool, fitted); });
}

} // namespace scribbet
