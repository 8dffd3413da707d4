#include "app/status_layout.hpp"

#include "app/host.hpp"

namespace scribbet {

StatusLayout statusLayout(bool accessibilityTrusted) {
    StatusLayout l;
    l.title = "Scribbet";
    l.content = {600, 480};
    l.minimum = {460, 380};
    const Host& host = Host::current();
    l.explanation = host.say(
        "Scribbet works in the background: the Scribbet buttons in PowerPoint start it, and it closes itself when "
        "you are back in PowerPoint. This window is only for checking.\n"
        "Draw on current slide: puts the drawing layer over the slide PowerPoint shows.\n"
        "Allow Accessibility: lets the layer follow PowerPoint's zoom and scrolling. Without it, Scribbet sets "
        "PowerPoint to Fit while you draw.");
    l.explanationFrame = {20, 344, 560, 116};
    l.drawTitle = "Draw on current slide";
    l.drawFrame = {14, 300, 200, 32};
    l.accessibilityTitle = accessibilityTrusted ? "Accessibility: on" : "Allow Accessibility...";
    l.accessibilityTooltip = host.say("Lets the drawing layer follow PowerPoint's zoom and scrolling (System "
                                      "Settings > Privacy & Security > Accessibility).");
    l.accessibilityFrame = {218, 300, 190, 32};
    l.logFrame = {20, 20, 560, 272};
    return l;
}

} // namespace scribbet
