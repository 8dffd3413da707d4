#include "app/app_delegate.hpp"

#include "app/idle.hpp"
#include "app/notice.hpp"
#include "app/layer_tool.hpp"
#include "app/link.hpp"
#include "app/script_setup.hpp"
#include "app/status_layout.hpp"
#include "geometry/pane_reader.hpp"
#include "app/text.hpp"
#include "log/app_state.hpp"
#include "powerpoint/addin_check.hpp"
#include "server/api.hpp"
#include "server/server.hpp"

namespace scribbet {

std::function<void(const std::string&)> AppDelegate::link;

AppDelegate::AppDelegate(Settings settings, Ports ports) : settings_(std::move(settings)), ports_(ports) {}

AppDelegate::~AppDelegate() { stopServer(); }

std::vector<Menu> AppDelegate::menus() {
    return {
        Menu{"", "Scribbet",
             {{"Hide Scribbet", "h", MenuAction::hide}, {}, {"Quit Scribbet", "q", MenuAction::terminate}}},
        Menu{"Edit", "Edit",
             {{"Undo", "z", MenuAction::undo},
              {},
              {"Cut", "x", MenuAction::cut},
              {"Copy", "c", MenuAction::copy},
              {"Paste", "v", MenuAction::paste},
              {"Select All", "a", MenuAction::selectAll}}},
    };
}

std::filesystem::path AppDelegate::webDirectory(const std::optional<std::string>& env, const Bundle& bundle) {
    if (env && !env->empty()) return *env;
    return bundle.resourcesDirectory().value_or(bundle.bundleDirectory()) / "web";
}

void AppDelegate::willFinishLaunching() {
    ports_.links.setHandler(
        weakly(weak_.weak(), [](AppDelegate& d, const std::optional<std::string>& text) { d.openURL(text); }));
}

void AppDelegate::didFinishLaunching() {
    ports_.app.setMainMenu(menus());
    buildWindow();
    ports_.app.setAccessoryPolicy();
    Idle::setTerminate([&app = ports_.app] { app.terminate(); });
    armIdleTimer(clock().now() + idleInterval);
    startServer(webDirectory(environment("SCRIBBET_WEB"), ports_.bundle));
    link = weakly(weak_.weak(), [](AppDelegate& d, const std::string& text) { d.handle(text); });
    log("Scribbet " + AddinCheck::mine() + " started.");
    ScriptSetup::ensureSetup(settings_, ports_.bundle, ports_.paths);

    launched_ = true;
    auto pending = std::move(queued_);
    queued_.clear();
    for (const auto& text : pending) handle(text);
}

bool AppDelegate::shouldHandleReopen(bool) {
    showStatus();
    return false;
}

void AppDelegate::willTerminate() {
    idleTimer_.cancel();
    stopServer();
    AppState::shared().flush();
}

void AppDelegate::openURL(const std::optional<std::string>& text) {
    if (!text) return;
    if (launched_) {
        handle(*text);
    } else {
        queued_.push_back(*text);
    }
}

void AppDelegate::handle(const std::string& text) {
    const auto parsed = Link::parse(text);
    if (!parsed) {
        log("Ignored a link that is not valid: " + text::prefix(text, 120));
        return;
    }
    if (parsed->command == "draw") {
        startDrawing(parsed->value("g").value_or(""), LayerTool::from(parsed->value("tool")));
    } else if (parsed->command == "status") {
        showStatus();
    } else if (parsed->command == "open") {
        log("Started from PowerPoint.");
    } else {
        log("Unknown link: " + text::prefix(text, 120));
    }
}

void AppDelegate::buildWindow() {
    if (!ports_.statusUI) return;
    status_ = ports_.statusUI->build(statusLayout(AXAccess::trusted()),
                                     weakly(weak_.weak(), [](AppDelegate& d) { d.drawNow(); }),
                                     weakly(weak_.weak(), [](AppDelegate& d) { d.accessibility(); }));
    AppState::shared().statusWindow = status_;
    if (status_) AppState::shared().attach(status_->logView());
}

void AppDelegate::showStatus() {
    if (!status_) buildWindow();
    ports_.app.activate();
    if (status_) status_->makeKeyAndFront();
}

void AppDelegate::accessibility() {
    if (!AXAccess::trusted()) {
        AXAccess::prompt();
        AXAccess::openSettings();
        log("Allow Scribbet in System Settings > Privacy & Security > Accessibility (if it is listed already, switch "
            "it off and on).");
        return;
    }
    log("Accessibility is on: the drawing layer follows PowerPoint's zoom and scrolling.");
    if (status_) status_->setAccessibilityTitle("Accessibility: on");
}

PaneReader& AppDelegate::reader() const { return ports_.reader ? *ports_.reader : PaneReader::shared(); }

void AppDelegate::startServer(const std::filesystem::path& webDir) {
    ServerOptions options;
    options.port = settings_.port;
    options.api = Api::route;
    server_ = std::make_unique<Server>(webDir, options);
}

void AppDelegate::stopServer() {
    if (server_) server_->stop();
}
void AppDelegate::idleCheck(Instant due) { Idle::check(due); }

// The idle ticks keep to a fixed grid from launch on every main loop (some loops count
// each interval from when the last tick ran, and so drift): the idle rule measures whole
// intervals between the ticks' due times. A tick that comes more than an interval late
// skips the grid points it missed rather than firing them in a burst.
void AppDelegate::armIdleTimer(Instant due) {
    idleTimer_ = MainQueue::shared().oneShot(due - clock().now(), [this, due] {
        Instant next = due + idleInterval;
        if (const Instant now = clock().now(); next <= now) next += idleInterval * ((now - next) / idleInterval + 1);
        armIdleTimer(next); // first, so that a check that ends the program also ends the timer
        idleCheck(due);
    });
}

} // namespace scribbet
