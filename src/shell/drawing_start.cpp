// A drawing start: check the add-in, measure the slide (from the link or the add-in, with
// the pane when Accessibility allows it, else with the program set to Fit), then open the
// layer. The slow part runs on the draw queue, one start after the other.

#include "shell/app_delegate.hpp"
#include "app/idle.hpp"
#include "app/notice.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "layer/page_protocol.hpp"
#include "log/app_state.hpp"
#include "program/addin_check.hpp"
#include "program/ppt.hpp"
#include "runtime/decimal_text.hpp"
#include "app/host.hpp"

#include <cmath>

namespace scribbet {

namespace {
constexpr int fitAttempts = 10;
constexpr Duration fitPause = std::chrono::milliseconds(120);
constexpr double whereTimeout = 5;

std::optional<Geom> parsedOnMain(const AppDelegate::Parts& parts, const std::string& text) {
    return parts.main.syncValue([&] { return Geom::from(text, parts.screens, parts.ppt); });
}

// A whole number of points with every digit, whatever its size and the locale; a value that is
// not finite (a width past the largest double) is written "0", as the layer writes numbers.
std::string points(double v) {
    return std::isfinite(v) ? decimal::fixed(v, 0).value_or("0") : "0";
}

std::string measuredLine(const Geom& g, const std::optional<PaneState>& pane, bool fitted) {
    const Rect r = pane ? g.lined(*pane).rect : g.rect;
    const std::string suffix = pane ? " (Accessibility)" : fitted ? Host::current().say(" (PowerPoint set to Fit)") : "";
    return "Slide " + Overlay::num(g.slideW) + "x" + Overlay::num(g.slideH) + " pt at " + points(r.minX()) + "," +
           points(r.minY()) + " (" + points(r.width()) + "x" + points(r.height()) + ") on screen" + suffix + ".";
}
} // namespace

void AppDelegate::startDrawing(const std::string& geom, const std::string& tool) {
    ++parts_.idle.working;
    // The task holds nothing of the delegate's: it may run while the delegate goes, and a
    // start still queued then is dropped.
    drawQueue.async([weak = weak_.weak(), parts = parts_, geom, tool] {
        if (!weak.expired()) prepare(parts, geom, tool);
        parts.main.async(weakly(parts.idle.weak(), [](Idle& idle) { --idle.working; }));
    });
}

void AppDelegate::drawNow() {
    parts_.ppt.activate();
    startDrawing("", "");
}

void AppDelegate::notice(const Parts& parts, const std::string& message) {
    log("Could not open the drawing layer: " + message);
    parts.main.async([&notice = parts.notice, message] { notice.show(message); });
}

namespace {
// A start while the layer is open switches its tool and brings it to the slide.
void reuseLayer(const AppDelegate::Parts& parts, const std::string& geomText, const std::string& tool) {
    if (!tool.empty()) {
        std::string cmd = "{}";
        try {
            cmd = page_protocol::toolCommand(tool).dump();
        } catch (const nlohmann::json::exception&) {
        }
        if (!parts.overlay.command(cmd, 3)) log("The drawing layer did not switch to " + tool + ".");
    }
    parts.main.async([&layer = parts.overlay, geomText] {
        if (!geomText.empty()) layer.realign(geomText);
        layer.bringToFront();
    });
}

// The pane from Accessibility, or none: then the first start asks for it once.
std::optional<PaneState> readPane(const AppDelegate::Parts& parts, const Geom& slide) {
    std::optional<PaneState> pane;
    if (!parts.ax.trusted()) {
        if (parts.main.syncValue([&ax = parts.ax] { return ax.askOnce(); })) {
            log(Host::current().say("Asked for Accessibility, so the layer can follow PowerPoint's zoom and scrolling."));
            parts.main.async([&notice = parts.notice] {
                notice.show(Host::current().say(
                    "To follow PowerPoint's zoom and scrolling, allow Scribbet in System Settings > Privacy & Security "
                    "> Accessibility (if it is listed already, switch it off and on). Until then Scribbet sets "
                    "PowerPoint to Fit while you draw."));
            });
        }
        return pane;
    }
    const auto near = slide.window;
    PaneReader& reader = parts.reader;
    reader.queue().sync([&] {
        reader.read(near);
        reader.refresh();
        pane = reader.read(near);
    });
    if (!pane) log(Host::current().say(
        "Accessibility is allowed but PowerPoint's slide editor was not found - measuring without it."));
    return pane;
}

// Sets the program to Fit and waits for its view to settle; true when it was set.
bool fitAndSettle(const AppDelegate::Parts& parts, Geom& slide) {
    const MacroReply reply = parts.ppt.run("SCBT_Zoom", {"fit"});
    if (!reply.hasFields()) {
        log(Host::current().say("Could not set PowerPoint to Fit: ") + replyError(reply));
        return false;
    }
    MacroReply last;
    for (int i = 0; i < fitAttempts; ++i) {
        parts.main.clock().sleepFor(fitPause);
        const MacroReply now = parts.ppt.run("SCBT_Where", {}, whereTimeout);
        const auto step = FitOnOpen::step(last, now);
        if (step == FitOnOpen::Step::failed) break;
        if (step == FitOnOpen::Step::settled) {
            if (auto g = parsedOnMain(parts, now.fields())) {
                slide = *g;
                break;
            }
        }
        last = now;
    }
    return true;
}
} // namespace

void AppDelegate::prepare(const Parts& parts, const std::string& geomText, const std::string& tool) {
    if (const auto problem = parts.addin.problem()) return notice(parts, *problem);
    if (parts.main.syncValue([&layer = parts.overlay] { return layer.isOpen(); })) {
        return reuseLayer(parts, geomText, tool);
    }

    std::string text = geomText;
    if (!parsedOnMain(parts, text)) {
        const MacroReply reply = parts.ppt.run("SCBT_Geom");
        if (!reply.hasFields()) return notice(parts, replyError(reply));
        text = reply.fields();
    }
    auto slide = parsedOnMain(parts, text);
    if (!slide) return notice(parts, Host::current().say(
        "Could not find the slide on the screen. Switch PowerPoint to Normal view, then try again."));

    const std::optional<PaneState> pane = readPane(parts, *slide);
    const bool fitted = FitOnOpen::wanted(pane) && fitAndSettle(parts, *slide);
    log(measuredLine(*slide, pane, fitted));
    parts.main.async([&layer = parts.overlay, g = *slide, pane, tool, fitted] { layer.open(g, pane, tool, fitted); });
}

} // namespace scribbet
