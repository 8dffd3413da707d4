#pragma once
// Running applications and activation.
#include <optional>
#include <string>

namespace scribbet {

class Workspace {
public:
    virtual ~Workspace() = default;
    // The process identifier of the first running application with this bundle id.
    virtual std::optional<int> runningProcess(const std::string& bundleId) const = 0;
    // Lets the application with this bundle id come to the front, as the user would.
    virtual void activate(const std::string& bundleId) = 0;
    // The bundle id of the frontmost application, when known.
    virtual std::optional<std::string> frontmost() const = 0;
    // Opens a link with the system (a settings page, say).
    virtual void openURL(const std::string& url) = 0;
};

} // namespace scribbet
