// One opening of the drawing layer, made whole from what `open` found.
#include "layer/session.hpp"

namespace scribbet {

Session::Session(std::unique_ptr<LayerPanel> panel, std::shared_ptr<LayerWebView> web, std::string address,
                 Point origin, const Geom& geom, const std::optional<PaneState>& pane)
    : panel(std::move(panel)), web(std::move(web)), address(std::move(address)), origin(origin), geom(geom),
      host(pane.has_value()), pane(pane), layerSlide(geom.slideID) {}

} // namespace scribbet
