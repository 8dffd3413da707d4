#pragma once
// In-memory adapters of the presentation program's ports: a test scripts the replies and
// reads back what was sent.
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ports/macro_transport.hpp"
#include "ports/script_runner.hpp"
#include "ports/window_list.hpp"
#include "ports/workspace.hpp"

namespace scribbet::fake {

class FakeMacroTransport final : public MacroTransport {
public:
    struct Sent {
        std::string name;
        std::vector<std::string> args;
        Duration timeout;
    };
    MacroEventReply send(const std::string& fullName, const std::vector<std::string>& args,
                         Duration timeout) override {
        std::function<MacroEventReply(const Sent&)> answer;
        Sent sent{fullName, args, timeout};
        {
            std::lock_guard lock(mutex);
            this->sent.push_back(sent);
            answer = respond;
        }
        if (answer) return answer(sent);
        MacroEventReply r;
        r.direct = "OK";
        return r;
    }
    std::vector<Sent> sentSoFar() {
        std::lock_guard lock(mutex);
        return sent;
    }
    static MacroEventReply direct(std::string text) {
        MacroEventReply r;
        r.direct = std::move(text);
        return r;
    }
    static MacroEventReply failing(MacroFailureKind kind, int number, std::optional<std::string> message = {}) {
        MacroEventReply r;
        r.failure = MacroFailure{kind, number, std::move(message)};
        return r;
    }

    std::mutex mutex;
    std::vector<Sent> sent;
    std::function<MacroEventReply(const Sent&)> respond; // any thread
};

class FakeWindowList final : public WindowList {
public:
    std::optional<std::vector<WindowInfo>> onScreenWindows() const override { return windows; }
    std::optional<std::vector<WindowInfo>> windows = std::vector<WindowInfo>{};
};

class FakeWorkspace final : public Workspace {
public:
    std::optional<int> runningProcess(const std::string& bundleId) const override {
        std::lock_guard lock(mutex);
        if (bundleId == runningBundle) return pid;
        return std::nullopt;
    }
    void activate(const std::string& bundleId) override {
        std::lock_guard lock(mutex);
        activated.push_back(bundleId);
        front = FrontApp{bundleId, false};
    }
    std::optional<FrontApp> frontApplication() const override {
        std::lock_guard lock(mutex);
        return front;
    }
    void openURL(const std::string& url) override {
        std::lock_guard lock(mutex);
        opened.push_back(url);
    }
    Subscription onActivate(std::function<void()> handler) override { return activateHandlers.add(std::move(handler)); }
    Subscription onTerminate(std::function<void(const std::optional<std::string>&)> handler) override {
        return terminateHandlers.add(std::move(handler));
    }
    Subscription onSpaceChange(std::function<void()> handler) override { return spaceHandlers.add(std::move(handler)); }
    void setRunning(std::optional<int> p) {
        std::lock_guard lock(mutex);
        pid = p;
    }
    // The system's part: an application comes to the front, or one quits.
    void bringToFront(std::optional<FrontApp> app) {
        {
            std::lock_guard lock(mutex);
            front = std::move(app);
        }
        activateHandlers.notify();
    }
    void terminate(const std::optional<std::string>& bundleId) {
        terminateHandlers.notify(bundleId);
    }
    std::size_t observerCount() const { return activateHandlers.size() + terminateHandlers.size(); }

    mutable std::mutex mutex;
    std::string runningBundle = "com.microsoft.Powerpoint";
    std::optional<int> pid = 4242;
    std::optional<FrontApp> front = FrontApp{"com.microsoft.Powerpoint", false};
    std::vector<std::string> activated;
    std::vector<std::string> opened;
    CallbackList<void()> activateHandlers;
    CallbackList<void()> spaceHandlers;
    CallbackList<void(const std::optional<std::string>&)> terminateHandlers;
};

class FakeScriptRunner final : public ScriptRunner {
public:
    std::optional<ScriptResult> run(const std::string& source) override {
        scripts.push_back(source);
        if (respond) return respond(source);
        return std::nullopt;
    }
    std::vector<std::string> scripts; // main thread only
    std::function<std::optional<ScriptResult>(const std::string&)> respond;
};

} // namespace scribbet::fake
