#pragma once
// A presentation program's slide editor as an accessibility tree: a scroll area with a
// document (layout area) and two scroll bars whose values scroll the document.
#include <algorithm>
#include <memory>
#include <string>

#include "adapters/fake/fake_accessibility.hpp"

namespace scribbet::test {

struct SlideEditor {
    using Node = fake::FakeAXNode;
    std::shared_ptr<Node> scroll, layout, hbar, vbar;
    Rect pane;
    double docW, docH;
    double skew = 1.0; // the program's offset = value * range * skew

    SlideEditor(Rect paneRect, double w, double h, const std::string& label = "Slide Editor 1")
        : pane(paneRect), docW(w), docH(h) {
        scroll = Node::make("AXScrollArea", pane);
        layout = scroll->add(Node::make("AXLayoutArea", Rect{pane.x, pane.y, w, h}));
        layout->attrs["AXDescription"] = label;
        hbar = scroll->add(Node::make("AXScrollBar", Rect{pane.x, pane.y + pane.h - 15, pane.w - 15, 15}));
        vbar = scroll->add(Node::make("AXScrollBar", Rect{pane.x + pane.w - 15, pane.y, 15, pane.h - 15}));
        hbar->attrs["AXValue"] = 0.0;
        vbar->attrs["AXValue"] = 0.0;
        hbar->onSet = [this](double v) { move(v, std::nullopt); };
        vbar->onSet = [this](double v) { move(std::nullopt, v); };
    }
    void move(std::optional<double> h, std::optional<double> v) {
        Rect c = layout->frame();
        if (h) c.x = pane.x - std::min(*h * (docW - pane.w) * skew, docW - pane.w);
        if (v) c.y = pane.y - std::min(*v * (docH - pane.h) * skew, docH - pane.h);
        layout->setFrame(c);
    }
    // A zoom: the document changes size around the pane's centre.
    void zoomTo(double w, double h) {
        docW = w;
        docH = h;
        layout->setFrame({pane.midX() - w / 2, pane.midY() - h / 2, w, h});
    }
};

// The program's application element with one window holding `editor` a few groups down.
inline std::shared_ptr<fake::FakeAXNode> programWithEditor(fake::FakeAccessibility& ax, int pid, const Rect& window,
                                                           const SlideEditor& editor, int depth = 3) {
    auto app = fake::FakeAXNode::make("AXApplication");
    auto win = fake::FakeAXNode::make("AXWindow", window);
    auto at = win;
    for (int i = 0; i < depth; ++i) at = at->add(fake::FakeAXNode::make("AXGroup"));
    at->add(editor.scroll);
    app->attrs["AXWindows"] = std::vector<AXRef>{win};
    app->attrs["AXFocusedWindow"] = AXRef(win);
    ax.apps[pid] = app;
    return win;
}

} // namespace scribbet::test
