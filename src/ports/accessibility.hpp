#pragma once
// The system's accessibility interface to another program's user interface: elements, their
// attributes, and setting a number (how scroll bars are moved).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ports/subscription.hpp"

namespace scribbet {

// An element of another program's interface; what it refers to is the adapter's.
class AXElement {
public:
    virtual ~AXElement() = default;
};
using AXRef = std::shared_ptr<const AXElement>;

struct AXPoint {
    double x = 0, y = 0;
};
struct AXSize {
    double w = 0, h = 0;
};
using AXValue = std::variant<double, bool, std::string, AXPoint, AXSize, AXRef, std::vector<AXRef>>;

class Accessibility {
public:
    virtual ~Accessibility() = default;
    // Whether this process may use the interface now; never prompts.
    virtual bool trusted() const = 0;
    // Asks with the system's prompt; answers whether trusted now.
    virtual bool promptForTrust() = 0;
    virtual AXRef application(int pid) = 0;
    // None when the attribute is missing or the call fails (a stale element included).
    virtual std::optional<AXValue> attribute(const AXRef& element, const std::string& name) = 0;
    virtual bool setNumber(const AXRef& element, const std::string& name, double value) = 0;
    virtual void setMessagingTimeout(const AXRef& element, double seconds) = 0;
    virtual bool equal(const AXRef& a, const AXRef& b) const = 0;

    // Whether the interface tells when the program's view may have changed, so that a reader
    // need not look again and again to notice. The handler may be called on any thread.
    virtual bool tellsChanges() const { return false; }
    virtual Subscription onChange(std::function<void()>) { return {}; }
};

} // namespace scribbet
