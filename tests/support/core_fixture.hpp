#pragma once
// The program's parts on fakes, built in the order the entry point builds them: the screens
// and preferences, the presentation program and its add-in check, Accessibility and the pane
// reader, the notice, the idle rule, the drawing layer and the page's API, all on the virtual
// main queue. A test plays the system's side through the fakes and reaches each part here.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "adapters/fake/fake_accessibility.hpp"
#include "adapters/fake/fake_app.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "adapters/fake/fake_status.hpp"
#include "shell/app_delegate.hpp"
#include "app/idle.hpp"
#include "app/notice.hpp"
#include "app/settings.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "ports/preferences.hpp"
#include "program/addin_check.hpp"
#include "program/ppt.hpp"
#include "runtime/shared_slot.hpp"
#include "server/api.hpp"
#include "support/free_port.hpp"
#include "support/test_env.hpp"

namespace scribbet::test {

class CoreTest : public VirtualMainTest {
protected:
    explicit CoreTest(Settings s = {}) : settings(std::move(s)) {}
    ~CoreTest() override { quiesce(); }

    // Closes the layer and waits until nothing of it is in flight on another thread. A fixture
    // whose fakes answer from its own members calls it first in its destructor, before those
    // members go.
    void quiesce() {
        if (overlay) overlay->teardown(); // a test may have let its layer go
        reader.queue().sync([] {});
        measureQueue.sync([] {});
        ppt.queue().sync([] {});
    }

    // The parts as the application's delegate takes them.
    AppDelegate::Parts parts() {
        return {main, state, ppt, addin, access, reader, *overlay, notice, idle, prefs, *screens};
    }
    // Lets the layer go, as the program does at its end.
    void releaseLayer() {
        overlaySlot.reset();
        overlay.reset();
    }

    // The add-in answers each macro (named without the prefix) from `replies`, and with
    // nothing for a macro that has no reply there.
    void answerFromReplies() {
        transport->respond = [this](const fake::FakeMacroTransport::Sent& s) {
            std::lock_guard lock(repliesMutex);
            const auto found = replies.find(unprefixed(s.name));
            return fake::FakeMacroTransport::direct(found == replies.end() ? "" : found->second);
        };
    }
    void reply(const std::string& macro, std::string text) {
        std::lock_guard lock(repliesMutex);
        replies[macro] = std::move(text);
    }
    // The macros sent so far, without the prefix.
    std::vector<std::string> macros() {
        std::vector<std::string> names;
        for (const auto& s : transport->sentSoFar()) names.push_back(unprefixed(s.name));
        return names;
    }
    std::string unprefixed(const std::string& name) const {
        return name.starts_with(settings.macroPrefix) ? name.substr(settings.macroPrefix.size()) : name;
    }

    const Settings settings;
    fake::FakeBundle bundle;
    const std::string version = AddinCheck::versionOf(bundle); // "1.2.3", the fake bundle's
    std::shared_ptr<fake::FakeScreens> screens = std::make_shared<fake::FakeScreens>();
    MemoryPreferences prefs;

    std::shared_ptr<fake::FakeMacroTransport> transport = std::make_shared<fake::FakeMacroTransport>();
    std::shared_ptr<fake::FakeWindowList> windows = std::make_shared<fake::FakeWindowList>();
    std::shared_ptr<fake::FakeWorkspace> workspace = std::make_shared<fake::FakeWorkspace>();
    PPT ppt{{transport, windows, workspace}, main, settings.macroPrefix, &main.clock()};
    std::shared_ptr<fake::FakeScriptRunner> runner = std::make_shared<fake::FakeScriptRunner>();
    AddinCheck addin{{ppt, runner, main, settings.addinName, version}};

    std::shared_ptr<fake::FakeAccessibility> ax = std::make_shared<fake::FakeAccessibility>();
    AXAccess access{{ax, prefs, workspace, settings.testing, version}};
    PaneReader reader{ax, main.clock(), ppt};
    SharedSlot<PaneReader> readerSlot{reader};

    std::shared_ptr<fake::FakeNoticeUI> notices = std::make_shared<fake::FakeNoticeUI>();
    std::shared_ptr<fake::FakeInputMonitors> input = std::make_shared<fake::FakeInputMonitors>();
    Notice notice{{notices, input, *screens, main}};
    Idle idle{{main, state, [this] { return overlay && overlay->isOpen(); }, nullptr}};

    SerialQueue measureQueue{"test.measure"};
    std::shared_ptr<fake::FakeLayerFactory> factory = std::make_shared<fake::FakeLayerFactory>();
    std::shared_ptr<Overlay> overlay = std::make_shared<Overlay>(Overlay::Ports{
        factory, input, workspace, reader, measureQueue, main, *screens, prefs, ppt, access, notice, idle,
        settings.port});
    std::optional<SharedSlot<Overlay>> overlaySlot{std::in_place, *overlay};

    Api api{{main, ppt, addin, access, *overlay, reader, prefs, settings.testing, nullptr}};

    std::mutex repliesMutex;
    std::map<std::string, std::string> replies;
};

// The application's delegate over the parts, with its server on a free port, and the
// application, its links, the paths and the status window faked.
class DelegateTest : public CoreTest {
protected:
    DelegateTest() : CoreTest(onFreePort()) { ::unsetenv("SCRIBBET_WEB"); }
    ~DelegateTest() override {
        // A start still running waits on the main queue: let it end before the delegate goes.
        loop->runUntil([this] { return idle.working == 0; }, std::chrono::seconds(5));
        if (delegate) delegate->drawQueue.sync([] {});
        app.delegate = nullptr;
        delegate.reset();
    }
    static Settings onFreePort() {
        Settings s;
        s.port = freePort();
        return s;
    }

    // A delegate with or without a status window; the application tells it of its end.
    AppDelegate& make(bool withStatusWindow = true) {
        delegate = std::make_unique<AppDelegate>(
            settings, AppDelegate::Ports{app, app, bundle, paths, withStatusWindow ? &statusUI : nullptr}, parts());
        app.delegate = delegate.get();
        return *delegate;
    }
    // One screen, the program's window on it and an add-in that answers every macro a
    // drawing start asks with the usual slide: 960 x 540 points at 100, 200, 100 %.
    static constexpr const char* slideAnswer = "960|540|100|200|1060|740|100|0|0|1400|880|257|0|100";
    static constexpr const char* encodedSlide =
        "960%7C540%7C100%7C200%7C1060%7C740%7C100%7C0%7C0%7C1400%7C880%7C257%7C0%7C100";
    void programWithTheUsualSlide() {
        screens->set({{0, 0, 1440, 900}});
        ax->isTrusted = false;
        windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{0, 0, 1400, 880}}};
        const std::string answer = std::string("OK|") + slideAnswer;
        replies = {{"SCBT_Version", "OK|dev"}, {"SCBT_Geom", answer}, {"SCBT_Zoom", "OK|"}, {"SCBT_Where", answer}};
        answerFromReplies();
    }
    // The messages logged so far but the server's own, which come from its thread at any moment.
    std::vector<std::string> loggedButServer() {
        std::vector<std::string> out;
        for (auto& line : logged()) {
            if (!line.starts_with("Web server ")) out.push_back(std::move(line));
        }
        return out;
    }

    fake::FakeApplication app;
    fake::FakePaths paths;
    fake::FakeStatusUI statusUI;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace scribbet::test
