#include "adapters/mac/mac_layer_factory.hpp"

#import <AppKit/AppKit.h>

#include "adapters/mac/mac_layer_panel.hpp"
#include "adapters/mac/mac_web_view.hpp"

namespace scribbet::mac {

std::unique_ptr<LayerPanel> MacLayerFactory::makePanel(const Rect& screenFrame) {
    return std::make_unique<MacLayerPanel>(screenFrame);
}

// The web view fills the panel: it is the panel's content view, sized with it.
std::shared_ptr<LayerWebView> MacLayerFactory::makeWebView(LayerPanel& panel, std::weak_ptr<LayerPageEvents> events) {
    auto* mac = dynamic_cast<MacLayerPanel*>(&panel);
    NSWindow* window = mac ? windowOf(*mac) : nil;
    if (!window) return nullptr;
    auto web = MacWebView::make(mac->frame(), std::move(events));
    window.contentView = viewOf(*web);
    return web;
}

} // namespace scribbet::mac
