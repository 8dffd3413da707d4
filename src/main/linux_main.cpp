// The Linux program: `scribbet [LINK...]`. Hands its links to a running instance when
// there is one; otherwise becomes the instance and runs until terminated.
#include <csignal>
#include <pthread.h>

#include <unistd.h>

#include <iostream>
#include <thread>

#include "shell/app_delegate.hpp"
#include "app/settings.hpp"
#include "app/stop_guard.hpp"
#include "log/app_state.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "adapters/linux/desktop_places.hpp"
#include "adapters/linux/file_preferences.hpp"
#include "adapters/linux/headless_layer.hpp"
#include "app/idle.hpp"
#include "app/notice.hpp"
#include "layer/overlay.hpp"
#include "adapters/linux/headless_app.hpp"
#include "adapters/linux/host_choice.hpp"
#include "adapters/linux/impress_adapters.hpp"
#include "adapters/linux/instance_channel.hpp"
#include "adapters/linux/standin_adapters.hpp"
#include "program/addin_check.hpp"
#include "program/ppt.hpp"
#include "runtime/queues.hpp"
#include "runtime/shared_slot.hpp"
#include "runtime/system_clock.hpp"
#ifdef SCRIBBET_GTK
#include "adapters/gtk/gtk_host.hpp"
#include "adapters/gtk/x11_workspace.hpp"
#endif

using namespace scribbet;
using namespace scribbet::linuxhost;

namespace {
int refuse(const std::string& why) {
    std::cerr << "scribbet: " << why << "\n";
    return 1;
}

// The loop the main queue runs on: GLib's when there is a display to open, else a plain one.
struct Loop {
    std::shared_ptr<MainLoop> pump;
    bool windows = false;
};

Loop openLoop([[maybe_unused]] const char* program) {
#ifdef SCRIBBET_GTK
    auto display = gtkhost::openDisplay();
    if (display.loop) {
        gtkhost::restartHeadlessOnDisplayLoss(program);
        return {display.loop, true};
    }
    std::cerr << "scribbet: " << display.why << "\n";
#endif
    return {std::make_shared<WaitingPump>(), false};
}

// The platform's side: real windows when the loop is GLib's; the headless adapters otherwise.
struct Adapters {
    std::shared_ptr<LayerFactory> layers;
    std::shared_ptr<InputMonitors> input = std::make_shared<HeadlessInput>();
    std::shared_ptr<NoticeUI> notices = std::make_shared<LoggedNotices>();
    std::shared_ptr<const Screens> screens = std::make_shared<StandinScreens>();
    std::shared_ptr<StatusUI> statusUI;
#ifdef SCRIBBET_GTK
    std::shared_ptr<gtkhost::MonitorScreens> monitors;
#endif
};

Adapters makeAdapters(MainQueue& main, [[maybe_unused]] bool windows) {
    Adapters a;
#ifdef SCRIBBET_GTK
    if (windows) {
        auto g = gtkhost::adaptersOn(main);
        a.layers = g.layers;
        a.input = g.input;
        a.notices = g.notices;
        a.screens = g.screens;
        a.statusUI = g.status;
        a.monitors = g.screens;
        return a;
    }
#endif
    a.layers = std::make_shared<HeadlessLayerFactory>(main);
    return a;
}

// The presentation program and the desktop around it, as the ports the core speaks.
struct HostPorts {
    std::shared_ptr<MacroTransport> transport;
    std::shared_ptr<WindowList> windows;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<ScriptRunner> runner; // none: the program's add-in is mended by the user
    std::shared_ptr<Accessibility> ax;
    std::shared_ptr<void> keep;           // what the ports above stand on
};

HostPorts standinPorts(MainQueue& main) {
    return {std::make_shared<StandinMacroTransport>(), std::make_shared<StandinWindowList>(),
            std::make_shared<StandinWorkspace>(main), std::make_shared<StandinScriptRunner>(),
            std::make_shared<StandinAccessibility>(), nullptr};
}

#ifdef SCRIBBET_GTK
// Impress through its extension, and the real X desktop around it. X knows processes, not
// programs: Impress is the soffice its extension answers from.
HostPorts impressPorts(MainQueue& main, const std::shared_ptr<gtkhost::MonitorScreens>& monitors,
                       std::optional<int> answered) {
    auto desktop = std::make_shared<gtkhost::X11Desktop>(main, monitors);
    auto view = std::make_shared<ImpressView>(
        [desktop](std::uint64_t xid) { return desktop->clientOrigin(xid); },
        [desktop](const Rect& pixels) { return desktop->pointsOf(pixels); },
        impress::socketPath(), answered);
    gtkhost::Programs programs{
        [view](int pid) -> std::optional<std::string> {
            if (view->pid() == pid) return Host::current().programId;
            return std::nullopt;
        },
        [view](const std::string& programId) -> std::optional<int> {
            if (programId == Host::current().programId) return view->pid();
            return std::nullopt;
        }};
    struct Keep {
        std::shared_ptr<gtkhost::X11Desktop> desktop;
        std::shared_ptr<ImpressView> view;
    };
    return {std::make_shared<ImpressMacroTransport>(), std::make_shared<gtkhost::X11WindowList>(desktop),
            std::make_shared<gtkhost::X11Workspace>(main, desktop, programs, static_cast<int>(::getpid())), nullptr,
            std::make_shared<ImpressAccessibility>(*view), std::make_shared<Keep>(Keep{desktop, view})};
}
#endif

HostPorts hostPorts(const HostChoice& choice, MainQueue& main, [[maybe_unused]] const Adapters& adapters) {
#ifdef SCRIBBET_GTK
    if (choice.kind == HostKind::impress && adapters.monitors) {
        return impressPorts(main, adapters.monitors, choice.impressPid);
    }
#endif
    return standinPorts(main);
}

// Everything the instance is made of, made once in the order each part needs the others and
// gone in the reverse order, while the platform still runs (the layer and the notice hold GTK
// and WebKit objects, which must not go among the static objects at exit, after WebKit's own).
struct Program {
    Program(const Settings& s, const Loop& loop, const HostChoice& host);

    Settings settings;
    XdgPaths paths;
    ProgramBundle bundle;
    MainQueue mainQueue;
    AppState state{paths.logFile(), &mainQueue};
    SharedSlot<AppState> stateSlot{state};
    // Armed by the terminate action, it outlasts every part below: their ends may wait for a
    // call to the program that never comes back.
    StopGuard guard{{state}};
    Adapters adapters;
    FilePreferences prefs{FilePreferences::defaultFile()};
    HostPorts host;
    PPT ppt{{host.transport, host.windows, host.workspace}, mainQueue, settings.macroPrefix};
    AddinCheck addin{{ppt, host.runner, mainQueue, settings.addinName, AddinCheck::versionOf(bundle)}};
    AXAccess ax{{host.ax, prefs, host.workspace, settings.testing, addin.mine()}};
    PaneReader reader;
    SharedSlot<PaneReader> readerSlot{reader};
    Notice notice{{adapters.notices, adapters.input, *adapters.screens, mainQueue}};
    ConcurrentQueue background{"com.tarnwell.scribbet.global", 4};
    std::shared_ptr<Overlay> overlay;
    Idle idle{{mainQueue, state, [this] { return overlay && overlay->isOpen(); }, nullptr}};
    std::optional<SharedSlot<Overlay>> overlaySlot;
};

Program::Program(const Settings& s, const Loop& loop, const HostChoice& choice)
    : settings(s),
      mainQueue(loop.pump, std::make_shared<SystemClock>()),
      adapters(makeAdapters(mainQueue, loop.windows)),
      host(hostPorts(choice, mainQueue, adapters)),
      reader(host.ax, mainQueue.clock(), ppt) {
    log(choice.note);
    overlay = std::make_shared<Overlay>(Overlay::Ports{adapters.layers, adapters.input, host.workspace, reader, background,
                                                       mainQueue, *adapters.screens, prefs, ppt, ax, notice, idle,
                                                       settings.port});
    overlaySlot.emplace(*overlay);
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
    // Made first, so gone last: the place is let go only once the rest of this instance is gone.
    InstanceChannel channel;
    const Loop loop = openLoop(argv[0]);
    const HostChoice host = chooseHost(environment("SCRIBBET_HOST"), loop.windows, [] {
        const auto hi = impress::hello(std::chrono::seconds(1));
        return hi ? std::optional<int>(hi->pid) : std::nullopt;
    });
    if (host.kind == HostKind::impress) Host::use(impressHost());
    Program program(settings, loop, host);
    HeadlessApplication app(program.mainQueue);
    app.whenTerminating([&guard = program.guard] { guard.arm(); });
    // Another instance may have started in the same moment: then this start hands over.
    const auto role = channel.start(place.socket, messages, handOverTo(app));
    if (role.role != InstanceChannel::Start::instance) {
        return role.role == InstanceChannel::Start::handedOver ? 0 : refuse(role.why);
    }
    terminateOnStopSignals(app, stops);

    AppDelegate delegate(settings, {app, app, program.bundle, program.paths, program.adapters.statusUI.get()},
                         {program.mainQueue, program.state, program.ppt, program.addin, program.ax, program.reader,
                          *program.overlay, program.notice, program.idle, program.prefs, *program.adapters.screens});
    GuardedDelegate guarded(delegate, program.guard);
    app.run(guarded, links);
    // Later starts wait for the place until this process is gone, then take their links with it.
    channel.stopServing();
    return 0;
}
