#include "shell/app_delegate.hpp"

#include "app/idle.hpp"
#include "app/notice.hpp"
#include "app/layer_tool.hpp"
#include "app/link.hpp"
#include "app/script_setup.hpp"
#include "app/status_layout.hpp"
#include "geometry/pane_reader.hpp"
#include "program/ppt.hpp"
#include "base/text.hpp"
#include "log/app_state.hpp"
#include "program/addin_check.hpp"
#include "geometry/ax_access.hpp"
#include "server/api.hpp"
#include "server/server.hpp"
#include "app/host.hpp"

namespace scribbet {

AppDelegate::AppDelegate(Settings settings, Ports ports, Parts parts)
    : settings_(std::move(settings)), ports_(ports), parts_(parts) {}

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
    parts_.idle.setTerminate([&app = ports_.app] { app.terminate(); });
    armIdleTimer(parts_.main.clock().now() + idleInterval);
    link = weakly(weak_.weak(), [](AppDelegate& d, const std::string& text) { d.handle(text); });
    startServer(webDirectory(environment("SCRIBBET_WEB"), ports_.bundle));
    log("Scribbet " + parts_.addin.mine() + " started.");
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
    parts_.state.flush();
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
        log(Host::current().say("Started from PowerPoint."));
    } else {
        log("Unknown link: " + text::prefix(text, 120));
    }
}

void AppDelegate::buildWindow() {
    if (!ports_.statusUI) return;
    status_ = ports_.statusUI->build(statusLayout(parts_.ax.trusted()),
                                     weakly(weak_.weak(), [](AppDelegate& d) { d.drawNow(); }),
                                     weakly(weak_.weak(), [](AppDelegate& d) { d.accessibility(); }));
    parts_.state.statusWindow = status_;
    if (status_) parts_.state.attach(status_->logView());
}

void AppDelegate::showStatus() {
    if (!status_) buildWindow();
    ports_.app.activate();
    if (status_) status_->makeKeyAndFront();
}

void AppDelegate::accessibility() {
    if (!parts_.ax.trusted()) {
        parts_.ax.prompt();
        parts_.ax.openSettings();
        log("Allow Scribbet in System Settings > Privacy & Security > Accessibility (if it is listed already, switch "
            "it off and on).");
        return;
    }
    log(Host::current().say("Accessibility is on: the drawing layer follows PowerPoint's zoom and scrolling."));
    if (status_) status_->setAccessibilityTitle("Accessibility: on");
}

void AppDelegate::startServer(const std::filesystem::path& webDir) {
    api_ = std::make_unique<Api>(Api::Parts{parts_.main, parts_.ppt, parts_.addin, parts_.ax, parts_.overlay,
                                            parts_.reader, parts_.prefs, settings_.testing, link});
    ServerOptions options;
    options.port = settings_.port;
    options.api = [&api = *api_](Server& server, const Request& request, Answer answer) {
        api.route(server, request, std::move(answer));
    };
    options.main = &parts_.main;
    options.requested = weakly(parts_.idle.weak(), [](Idle& idle) { idle.requested(); });
    server_ = std::make_unique<Server>(webDir, options);
}

// Nothing waits for the program from here on: the calls still waiting are answered as not
// made, then the server tells each client what became of its request and closes.
void AppDelegate::stopServer() {
    parts_.ppt.stop();
    if (server_) server_->stop();
}

// The idle ticks keep to a fixed grid from launch on every main loop (some loops count
// each interval from when the last tick ran, and so drift): the idle rule measures whole
// intervals between the ticks' due times. A tick that comes more than an interval late
// skips the grid points it missed rather than firing them in a burst.
void AppDelegate::armIdleTimer(Instant due) {
    const Clock& clock = parts_.main.clock();
    idleTimer_ = parts_.main.oneShot(due - clock.now(), [this, &clock, due] {
        Instant next = due + idleInterval;
        if (const Instant now = clock.now(); next <= now) next += idleInterval * ((now - next) / idleInterval + 1);
        armIdleTimer(next); // first, so that a check that ends the program also ends the timer
        parts_.idle.check(due);
    });
}

} // namespace scribbet
