#pragma once
// The application's delegate: the launch sequence and the front door for links.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.hpp"
#include "platform/application.hpp"
#include "platform/bundle.hpp"
#include "platform/links.hpp"
#include "platform/paths.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

class AppDelegate : public ApplicationDelegate {
public:
    struct Ports {
        Application& app;
        LinkSource& links;
        const Bundle& bundle;
        const Paths& paths;
    };

    static constexpr Duration idleInterval = std::chrono::seconds(20);

    AppDelegate(Settings settings, Ports ports);
    ~AppDelegate() override;

    void willFinishLaunching() override;
    void didFinishLaunching() override;
    bool shouldHandleReopen(bool hasVisibleWindows) override;
    void willTerminate() override;

    // An incoming get-URL event's text; queued until launching has finished.
    void openURL(const std::optional<std::string>& text);
    // The link dispatcher. Main thread.
    void handle(const std::string& text);

    // Feeds a link into the running delegate's dispatcher (the test route uses it);
    // empty until launch. Main thread.
    static std::function<void(const std::string&)> link;

    // The menu bar the launch installs.
    static std::vector<Menu> menus();
    // SCRIBBET_WEB when set, else "web" in the bundle's resources (or the bundle itself).
    static std::filesystem::path webDirectory(const std::optional<std::string>& env, const Bundle& bundle);

    bool launched() const { return launched_; }
    const Settings& settings() const { return settings_; }

    // Filled in by the parts that draw, show the status window, serve the page and quit
    // when idle; until then they do nothing.
    virtual void startDrawing(const std::string& geom, const std::string& tool);
    virtual void showStatus();
    virtual void buildWindow();
    virtual void startServer(const std::filesystem::path& webDir);
    virtual void stopServer();
    virtual void idleCheck();

    SerialQueue drawQueue{"com.tarnwell.scribbet.draw"};

private:
    Settings settings_;
    Ports ports_;
    Timer idleTimer_;
    bool launched_ = false;
    std::vector<std::string> queued_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace scribbet
