#pragma once
// The workspace (AppKit's NSWorkspace and NSRunningApplication) behind the port. Running
// processes may be asked from any queue; activation is done on the main thread (it hops there
// when asked elsewhere); the notifications are observed on the workspace's own notification
// centre, one observer per subscription, and handed to the main queue.
#include <memory>

#include "ports/workspace.hpp"
#include "runtime/queues.hpp"

namespace scribbet::mac {

class MacWorkspace final : public Workspace {
public:
    explicit MacWorkspace(MainQueue& main);
    ~MacWorkspace() override;
    std::optional<int> runningProcess(const std::string& bundleId) const override;
    void activate(const std::string& bundleId) override;
    std::optional<FrontApp> frontApplication() const override;
    void openURL(const std::string& url) override;
    Subscription onActivate(std::function<void()> handler) override;
    Subscription onTerminate(std::function<void(const std::optional<std::string>& bundleId)> handler) override;
    Subscription onSpaceChange(std::function<void()> handler) override;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

} // namespace scribbet::mac
