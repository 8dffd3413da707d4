#pragma once
// The system's accessibility interface (ApplicationServices) behind the port: elements are
// retained AXUIElementRefs, values are read into the port's shapes by ax_value_shape.
// Called on the pane reader's queue (a thread of the program's own, not the main one); every
// call makes and drains its own autorelease pool.
#include "ports/accessibility.hpp"

namespace scribbet::mac {

class MacAccessibility final : public Accessibility {
public:
    bool trusted() const override;
    bool promptForTrust() override;
    AXRef application(int pid) override;
    std::optional<AXValue> attribute(const AXRef& element, const std::string& name) override;
    bool setNumber(const AXRef& element, const std::string& name, double value) override;
    void setMessagingTimeout(const AXRef& element, double seconds) override;
    bool equal(const AXRef& a, const AXRef& b) const override;
};

} // namespace scribbet::mac
