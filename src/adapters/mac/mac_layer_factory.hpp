#pragma once
// Makes the layer's panel and its web view on macOS. Every window there is composited, so
// the layer can always be seen through (the port's default answer).
#include <memory>

#include "ports/layer_ui.hpp"

namespace scribbet::mac {

class MacLayerFactory final : public LayerFactory {
public:
    // Main thread, as every call below.
    std::unique_ptr<LayerPanel> makePanel(const Rect& screenFrame) override;
    // None for a panel this factory did not make, or one already cleared.
    std::shared_ptr<LayerWebView> makeWebView(LayerPanel& panel, std::weak_ptr<LayerPageEvents> events) override;
};

} // namespace scribbet::mac
