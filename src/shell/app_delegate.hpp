#pragma once
// The application's delegate: the launch sequence and the front door for links.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.hpp"
#include "ports/application.hpp"
#include "ports/bundle.hpp"
#include "ports/links.hpp"
#include "ports/paths.hpp"
#include "ports/status_ui.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

class AddinCheck;
class Api;
class AppState;
class AXAccess;
class Idle;
class Notice;
class Overlay;
class PaneReader;
class PPT;
class Preferences;
class Screens;
class Server;

class AppDelegate : public ApplicationDelegate {
public:
    struct Ports {
        Application& app;
        LinkSource& links;
        const Bundle& bundle;
        const Paths& paths;
        StatusUI* statusUI = nullptr; // none: no status window
    };
    // The program's long-lived parts, which the entry point builds before the delegate and
    // which outlive it.
    struct Parts {
        MainQueue& main;
        AppState& state;
        PPT& ppt;
        AddinCheck& addin;
        AXAccess& ax;
        PaneReader& reader;
        Overlay& overlay;
        Notice& notice;
        Idle& idle;
        Preferences& prefs;
        const Screens& screens;
    };

    static constexpr Duration idleInterval = std::chrono::seconds(20);

    AppDelegate(Settings settings, Ports ports, Parts parts);
    ~AppDelegate() override;

    void willFinishLaunching() override;
    void didFinishLaunching() override;
    bool shouldHandleReopen(bool hasVisibleWindows) override;
    void willTerminate() override;

    // An incoming get-URL event's text; queued until launching has finished.
    void openURL(const std::optional<std::string>& text);
    // The link dispatcher. Main thread.
    void handle(const std::string& text);

    // Feeds a link into the running delegate's dispatcher (the test route uses it); empty
    // until launch, then set once. Main thread.
    std::function<void(const std::string&)> link;

    // The menu bar the launch installs.
    static std::vector<Menu> menus();
    // SCRIBBET_WEB when set, else "web" in the bundle's resources (or the bundle itself).
    static std::filesystem::path webDirectory(const std::optional<std::string>& env, const Bundle& bundle);

    bool launched() const { return launched_; }
    const Settings& settings() const { return settings_; }

    // Drawing starts: one at a time on the draw queue, then the layer opens on the main queue.
    void startDrawing(const std::string& geom, const std::string& tool);
    // The status window's "Draw on current slide".
    void drawNow();
    // The slow part of a drawing start; on the draw queue. It uses only the parts, never the
    // delegate, which may go meanwhile.
    static void prepare(const Parts& parts, const std::string& geom, const std::string& tool);
    // Logs why no layer opened and shows it to the user; any thread.
    static void notice(const Parts& parts, const std::string& message);

    // The status window.
    void showStatus();
    void accessibility();
    const std::shared_ptr<StatusWindowUI>& statusWindow() const { return status_; }
    Server* server() const { return server_.get(); }

private:
    void buildWindow();
    void startServer(const std::filesystem::path& webDir);
    void stopServer();
    void armIdleTimer(Instant due);

    Settings settings_;
    Ports ports_;
    Parts parts_;
    Timer idleTimer_;
    std::shared_ptr<StatusWindowUI> status_;
    std::unique_ptr<Api> api_;
    std::unique_ptr<Server> server_; // after the API it calls, so it stops first
    bool launched_ = false;
    std::vector<std::string> queued_;

public:
    // Drawing starts, one at a time. Late among the members, so that it ends its tasks
    // before the members go.
    SerialQueue drawQueue{"com.tarnwell.scribbet.draw"};

private:
    WeakFactory<AppDelegate> weak_{this}; // last: the first to go
};

} // namespace scribbet
