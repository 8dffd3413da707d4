// The Linux program: `scribbet [LINK...]`. Hands its links to a running instance when
// there is one; otherwise becomes the instance and runs until terminated.
#include <csignal>
#include <pthread.h>

#include <iostream>
#include <thread>

#include "app/app_delegate.hpp"
#include "app/settings.hpp"
#include "log/app_state.hpp"
#include "geometry/pane_reader.hpp"
#include "adapters/linux/desktop_places.hpp"
#include "adapters/linux/file_preferences.hpp"
#include "adapters/linux/headless_layer.hpp"
#include "app/notice.hpp"
#include "layer/overlay.hpp"
#include "adapters/linux/headless_app.hpp"
#include "adapters/linux/instance_channel.hpp"
#include "adapters/linux/standin_adapters.hpp"
#include "powerpoint/addin_check.hpp"
#include "powerpoint/ppt.hpp"
#include "runtime/queues.hpp"
#ifdef SCRIBBET_GTK
#include "adapters/gtk/gtk_host.hpp"
#endif

using namespace scribbet;
using namespace scribbet::linuxhost;

namespace {
int refuse(const std::string& why) {
    std::cerr << "scribbet: " << why << "\n";
    return 1;
}

// The platform's side: real windows when there is a display; the headless adapters otherwise.
struct Adapters {
    std::shared_ptr<MainLoop> loop = std::make_shared<WaitingPump>();
    std::shared_ptr<LayerFactory> layers = std::make_shared<HeadlessLayerFactory>();
    std::shared_ptr<InputMonitors> input = std::make_shared<HeadlessInput>();
    std::shared_ptr<NoticeUI> notices = std::make_shared<LoggedNotices>();
    std::shared_ptr<const Screens> screens = std::make_shared<StandinScreens>();
    std::shared_ptr<StatusUI> statusUI;
};

Adapters makeAdapters([[maybe_unused]] const char* program) {
    Adapters a;
#ifdef SCRIBBET_GTK
    auto display = gtkhost::openDisplay();
    if (const auto& g = display.adapters) {
        a.loop = g->loop;
        a.layers = g->layers;
        a.input = g->input;
        a.notices = g->notices;
        a.screens = g->screens;
        a.statusUI = g->status;
        gtkhost::restartHeadlessOnDisplayLoss(program);
    } else {
        std::cerr << "scribbet: " << display.why << "\n";
    }
#endif
    return a;
}

// The core's rooms get their adapters.
void install(const Adapters& a, const XdgPaths& paths, const std::shared_ptr<ProgramBundle>& bundle) {
    MainQueue::install(a.loop, std::make_shared<SystemClock>());
    Bundle::setMain(bundle);
    AppState::install(paths.logFile());
    auto workspace = std::make_shared<StandinWorkspace>();
    PPT::install({std::make_shared<StandinMacroTransport>(), std::make_shared<StandinWindowList>(), workspace});
    Overlay::install({a.layers, a.input, workspace});
    Notice::install(a.notices, a.input);
    AddinCheck::install(std::make_shared<StandinScriptRunner>());
    Screens::install(a.screens);
    AXAccess::install(std::make_shared<StandinAccessibility>());
    Preferences::install(std::make_shared<FilePreferences>(FilePreferences::defaultFile()));
}

// SIGINT and SIGTERM go to one waiting thread, which asks for the terminate action.
sigset_t blockStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    return stops;
}

void terminateOnStopSignals(HeadlessApplication& app, sigset_t stops) {
    std::thread waiter([&app, stops] {
        int sig = 0;
        if (sigwait(&stops, &sig) == 0) app.terminate();
    });
#ifdef SCRIBBET_GTK
    gtkhost::forwardStopSignals(waiter.native_handle());
#endif
    waiter.detach();
}

// Links handed over by later starts run on the main thread, unless this instance is ending.
InstanceChannel::Handler handOverTo(HeadlessApplication& app) {
    return [&app](const std::vector<std::string>& handed) {
        return app.unlessEnding([&app, handed] {
            for (const auto& message : handed) {
                if (message.starts_with('L')) app.open(message.substr(1));
                if (message == "R") app.reopened();
            }
        });
    };
}
} // namespace

int main(int argc, char** argv) {
    const Settings settings = Settings::fromEnvironment();
    Settings::setCurrent(settings);

    const std::vector<std::string> links(argv + 1, argv + argc);
    std::vector<std::string> messages;
    for (const auto& l : links) messages.push_back(InstanceChannel::linkMessage(l));
    if (messages.empty()) messages.push_back(InstanceChannel::reopenMessage());

    // With an instance running, a start hands its links over or says why it could not; it
    // never becomes a second instance.
    const auto place = InstanceChannel::place();
    if (!place.why.empty()) return refuse(place.why);
    if (const auto early = InstanceChannel::handOff(place.socket, messages);
        early.outcome != InstanceChannel::HandOff::nobody) {
        return early.outcome == InstanceChannel::HandOff::handed ? 0 : refuse(early.why);
    }

    const sigset_t stops = blockStopSignals();
    const Adapters adapters = makeAdapters(argv[0]);
    XdgPaths paths;
    auto bundle = std::make_shared<ProgramBundle>();
    install(adapters, paths, bundle);

    HeadlessApplication app(MainQueue::shared());
    InstanceChannel channel;
    // Another instance may have started in the same moment: then this start hands over.
    const auto role = channel.start(place.socket, messages, handOverTo(app));
    if (role.role != InstanceChannel::Start::instance) {
        return role.role == InstanceChannel::Start::handedOver ? 0 : refuse(role.why);
    }
    terminateOnStopSignals(app, stops);

    AppDelegate delegate(settings, {app, app, *bundle, paths, adapters.statusUI.get()});
    app.run(delegate, links);
    channel.stop();
#ifdef SCRIBBET_GTK
    // The layer and the notice hold GTK and WebKit objects: they go now, while GTK still
    // runs, and not among the static objects at exit, after WebKit's own.
    Overlay::install({});
    Notice::install(nullptr, nullptr);
#endif
    return 0;
}
