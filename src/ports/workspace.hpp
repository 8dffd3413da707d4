#pragma once
// Running applications, activation, and the notifications about them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ports/subscription.hpp"

namespace scribbet {

struct FrontApp {
    std::optional<std::string> bundleId; // none for an application without one
    bool isSelf = false;                 // this program
};

class Workspace {
public:
    virtual ~Workspace() = default;
    // The process identifier of the first running application with this bundle id.
    virtual std::optional<int> runningProcess(const std::string& bundleId) const = 0;
    // Lets the application with this bundle id come to the front, as the user would.
    virtual void activate(const std::string& bundleId) = 0;
    // The frontmost application; none when no application is frontmost.
    virtual std::optional<FrontApp> frontApplication() const = 0;
    // Opens a link with the system (a settings page, say).
    virtual void openURL(const std::string& url) = 0;
    // Notifications, delivered on the main queue until the subscription is dropped: an
    // application became active; one terminated (with its bundle id when it has one).
    virtual Subscription onActivate(std::function<void()> handler) = 0;
    virtual Subscription onTerminate(std::function<void(const std::optional<std::string>& bundleId)> handler) = 0;
    // The user sees another Space (desktop), a program's full screen included; never on a
    // desktop without Spaces.
    virtual Subscription onSpaceChange(std::function<void()>) { return {}; }
};

} // namespace scribbet
