#pragma once
// Pass-through and keys: the layer takes the mouse only over the page's regions (or
// everywhere while the page asks for it), lets Command-W and Command-period close it, notes
// clicks in other programs for the follower, and hides while a drawing is being placed.
#include <vector>

#include <nlohmann/json.hpp>

#include "base/rect.hpp"
#include "layer/page_protocol.hpp"
#include "ports/input_monitors.hpp"

namespace scribbet {

class Overlay;
struct Session;

class PassThrough {
public:
    explicit PassThrough(Overlay& layer) : layer_(layer) {}

    void watch(Session& s);
    void unwatch(Session& s);
    // The page's "regions" message.
    void regions(Session& s, page_protocol::Regions regions);
    // On every tick of a layer that shows.
    void update(Session& s);
    void suspend(Session& s, bool on);

private:
    bool keyDown(const KeyEvent& e);

    Overlay& layer_;
};

} // namespace scribbet
