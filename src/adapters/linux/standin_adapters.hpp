#pragma once
// The presentation program's ports on Linux, answered by the desktop stand-in over its
// socket. The stand-in plays the program on the Mac, so its macro replies carry the Mac's
// error numbers; the transport's own failures are given the numbers the macOS transport
// would see: no stand-in is a process that isn't there (-600), no answer in time a time-out
// (-1712), a connection that breaks mid-call an invalid connection (-609).
#include <atomic>
#include <filesystem>

#include "ports/accessibility.hpp"
#include "ports/macro_transport.hpp"
#include "ports/screens.hpp"
#include "ports/script_runner.hpp"
#include "ports/window_list.hpp"
#include "ports/workspace.hpp"
#include "runtime/queues.hpp"

namespace scribbet::linuxhost {

// Short questions (running, windows, activation) get a brief limit: the stand-in answers
// them at once or not at all.
inline constexpr Duration quickLimit = std::chrono::seconds(2);

// What a failure number (with its text) from the stand-in means: this adapter's one table.
MacroFailure macroFailureOf(int number, std::optional<std::string> message);

class StandinMacroTransport final : public MacroTransport {
public:
    MacroEventReply send(const std::string& fullName, const std::vector<std::string>& args,
                         Duration timeout) override;
};

class StandinWindowList final : public WindowList {
public:
    std::optional<std::vector<WindowInfo>> onScreenWindows() const override;
};

// Notifications come from watching the stand-in's front application on the main queue
// four times a second, since the stand-in cannot call back.
class StandinWorkspace final : public Workspace {
public:
    // Watches for the front and running programs on `main`'s timer.
    explicit StandinWorkspace(MainQueue& main);
    ~StandinWorkspace() override;
    std::optional<int> runningProcess(const std::string& bundleId) const override;
    void activate(const std::string& bundleId) override;
    std::optional<FrontApp> frontApplication() const override;
    // Links go to the desktop's opener; the stand-in notes settings pages it is shown.
    void openURL(const std::string& url) override;
    Subscription onActivate(std::function<void()> handler) override;
    Subscription onTerminate(std::function<void(const std::optional<std::string>&)> handler) override;

    static constexpr const char* selfBundleId = "com.tarnwell.scribbet";

private:
    struct Watch;
    std::shared_ptr<Watch> watch_;
};

class StandinScriptRunner final : public ScriptRunner {
public:
    std::optional<ScriptResult> run(const std::string& source) override;
};

// The stand-in reports screens in global top-left points; the port speaks the platform's
// bottom-left convention, so the frames are turned over here.
class StandinScreens final : public Screens {
public:
    std::vector<ScreenInfo> screens() const override;
    std::optional<ScreenInfo> mainScreen() const override;
};

// The stand-in's accessibility tree of its window, element by element over the socket.
class StandinAccessibility final : public Accessibility {
public:
    bool trusted() const override;
    bool promptForTrust() override;
    AXRef application(int pid) override;
    std::optional<AXValue> attribute(const AXRef& element, const std::string& name) override;
    bool setNumber(const AXRef& element, const std::string& name, double value) override;
    void setMessagingTimeout(const AXRef& element, double seconds) override;
    bool equal(const AXRef& a, const AXRef& b) const override;

private:
    Duration limit() const;
    std::atomic<std::int64_t> timeoutMicros_{250000};
};

} // namespace scribbet::linuxhost
