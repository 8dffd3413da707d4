// The macOS program, Scribbet.app. Launched by the system for a "scribbet" link (or opened by
// hand), it runs until terminated; a second launch is the system's to prevent, since a bundle
// runs once per user and hands the new link to the running instance as a get-URL event.
#import <Foundation/Foundation.h>

#include "adapters/mac/mac_accessibility.hpp"
#include "adapters/mac/mac_application.hpp"
#include "adapters/mac/mac_bundle.hpp"
#include "adapters/mac/mac_input.hpp"
#include "adapters/mac/mac_layer_factory.hpp"
#include "adapters/mac/mac_links.hpp"
#include "adapters/mac/mac_macro_transport.hpp"
#include "adapters/mac/mac_main_loop.hpp"
#include "adapters/mac/mac_notice_ui.hpp"
#include "adapters/mac/mac_paths.hpp"
#include "adapters/mac/mac_preferences.hpp"
#include "adapters/mac/mac_screens.hpp"
#include "adapters/mac/mac_script_runner.hpp"
#include "adapters/mac/mac_status_ui.hpp"
#include "adapters/mac/mac_window_list.hpp"
#include "adapters/mac/mac_workspace.hpp"
#include "shell/app_delegate.hpp"
#include "app/host.hpp"
#include "app/idle.hpp"
#include "app/notice.hpp"
#include "app/settings.hpp"
#include "app/stop_guard.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "program/addin_check.hpp"
#include "program/ppt.hpp"
#include "runtime/queues.hpp"
#include "runtime/shared_slot.hpp"
#include "runtime/system_clock.hpp"

using namespace scribbet;
using namespace scribbet::mac;

namespace {

// Everything the instance is made of, made once in the order each part needs the others, as
// on Linux. AppKit ends the process from inside its terminate action, after the delegate's
// last words (which stop the server and flush the log), so these are not destroyed then; they
// are when the main queue is quit instead and run() returns.
struct Program {
    explicit Program(const Settings& s);

    Settings settings;
    MacPaths paths;
    MacBundle bundle;
    // The pump makes the shared NSApplication, which every AppKit object below needs first.
    std::shared_ptr<CocoaPump> pump = std::make_shared<CocoaPump>();
    MainQueue mainQueue{pump, std::make_shared<SystemClock>()};
    AppState state{paths.logFile(), &mainQueue};
    SharedSlot<AppState> stateSlot{state};
    // Armed when the delegate's last words begin; AppKit's end after them, or theirs, may wait
    // for a call to PowerPoint that never comes back, and the guard ends the process regardless.
    StopGuard guard{{state}};
    MacApplication app{mainQueue};
    MacLinkSource links{mainQueue};
    MacScreens screens;
    std::shared_ptr<MacInputMonitors> input = std::make_shared<MacInputMonitors>();
    std::shared_ptr<MacNoticeUI> notices = std::make_shared<MacNoticeUI>(mainQueue);
    std::shared_ptr<MacLayerFactory> layers = std::make_shared<MacLayerFactory>();
    MacStatusUI statusUI;
    MacPreferences prefs;
    std::shared_ptr<MacWorkspace> workspace = std::make_shared<MacWorkspace>(mainQueue);
    PPT ppt{{std::make_shared<MacMacroTransport>(Host::current().programId), std::make_shared<MacWindowList>(), workspace},
            mainQueue,
            settings.macroPrefix};
    AddinCheck addin{{ppt, std::make_shared<MacScriptRunner>(), mainQueue, settings.addinName,
                      AddinCheck::versionOf(bundle)}};
    std::shared_ptr<Accessibility> axPort = std::make_shared<MacAccessibility>();
    AXAccess ax{{axPort, prefs, workspace, settings.testing, addin.mine()}};
    PaneReader reader;
    SharedSlot<PaneReader> readerSlot{reader};
    Notice notice{{notices, input, screens, mainQueue}};
    ConcurrentQueue background{"com.tarnwell.scribbet.global", 4};
    std::shared_ptr<Overlay> overlay;
    Idle idle{{mainQueue, state, [this] { return overlay && overlay->isOpen(); }, nullptr}};
    std::optional<SharedSlot<Overlay>> overlaySlot;
};

Program::Program(const Settings& s) : settings(s), reader(axPort, mainQueue.clock(), ppt) {
    overlay = std::make_shared<Overlay>(Overlay::Ports{layers, input, workspace, reader, background, mainQueue,
                                                       screens, prefs, ppt, ax, notice, idle, settings.port});
    overlaySlot.emplace(*overlay);
}

} // namespace

int main() {
    @autoreleasepool {
        Program program(Settings::fromEnvironment());
        AppDelegate delegate(program.settings, {program.app, program.links, program.bundle, program.paths,
                                                &program.statusUI},
                             {program.mainQueue, program.state, program.ppt, program.addin, program.ax,
                              program.reader, *program.overlay, program.notice, program.idle, program.prefs,
                              program.screens});
        GuardedDelegate guarded(delegate, program.guard);
        program.app.run(guarded);
    }
    return 0;
}
