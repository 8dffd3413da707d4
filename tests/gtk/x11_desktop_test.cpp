// The window manager's desktop with real windows of other processes. Under a window manager
// (scripts/test-gtk.sh starts openbox for the X11DesktopLiveTest group only): the active window
// and the front program follow the user's choice, the list follows the stacking, a move is told
// with the client area's new origin, a closed program is told; idle, the desktop costs nothing.
// On the bare X server the other window tests run on: every answer is none, honestly.
#include "gtk_fixture.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>

#include "adapters/gtk/x11_desktop.hpp"
#include "adapters/gtk/x11_workspace.hpp"
// After the tests' headers: Xlib's macros (None, Bool) would break them.
#include <gdk/gdkx.h>

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> childEnvironment() {
    std::vector<std::string> env = {std::string("DISPLAY=") + std::getenv("DISPLAY"), "PATH=/usr/bin:/bin",
                                    "GSETTINGS_BACKEND=memory", "NO_AT_BRIDGE=1"};
    if (const char* run = std::getenv("XDG_RUNTIME_DIR")) env.push_back(std::string("XDG_RUNTIME_DIR=") + run);
    return env;
}

// Another program with one window, named `name` (its WM_CLASS) and titled "`name` window".
class OtherProgram {
public:
    OtherProgram(const test::TempDir& dir, const std::string& name, int x, int y, int w, int h)
        : output_(dir / (name + ".out")),
          process_({SCRIBBET_X11_WINDOW, name, name + " window", std::to_string(x), std::to_string(y),
                    std::to_string(w), std::to_string(h)},
                   childEnvironment(), output_.string()) {}

    // The window's X id once it is mapped; 0 when it never was.
    Xid xid() {
        if (xid_ == 0) test::eventually([&] { return (xid_ = printedId()) != 0; }, 8000ms);
        return xid_;
    }
    int pid() const { return process_.pid(); }
    void quit() {
        process_.signal(SIGTERM);
        process_.wait();
    }

private:
    // The line of digits among what it printed (GTK may warn before it).
    Xid printedId() const {
        std::istringstream lines(test::readFile(output_));
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return std::stoul(line);
        }
        return 0;
    }

    std::filesystem::path output_;
    test::Process process_;
    Xid xid_ = 0;
};

// The window's area on the root as xwininfo reads it from the X server: its own window, without
// the window manager's frame, in points (X's pixels over GDK's scale, GDK_SCALE).
std::optional<Rect> xwininfo(const test::TempDir& dir, Xid xid) {
    const auto out = dir / "xwininfo.out";
    test::Process p({"/usr/bin/xwininfo", "-id", std::to_string(xid)}, childEnvironment(), out.string());
    if (p.wait(5000ms) != 0) return std::nullopt;
    const std::string text = test::readFile(out);
    auto number = [&](const std::string& label) -> std::optional<double> {
        const auto at = text.find(label);
        if (at == std::string::npos) return std::nullopt;
        return std::strtod(text.c_str() + at + label.size(), nullptr);
    };
    const auto x = number("Absolute upper-left X:"), y = number("Absolute upper-left Y:");
    const auto w = number("Width:"), h = number("Height:");
    if (!x || !y || !w || !h) return std::nullopt;
    const double scale = gdk_window_get_scale_factor(gdk_get_default_root_window());
    return Rect{*x / scale, *y / scale, *w / scale, *h / scale};
}

bool near(Point a, Point b) { return std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1; }

class DesktopTest : public test::GtkDisplayTest {
protected:
    // Which process is which program, as main would say.
    Programs programs() {
        return {[known = known_](int pid) -> std::optional<std::string> {
                    const auto it = known->find(pid);
                    return it == known->end() ? std::nullopt : std::optional(it->second);
                },
                [known = known_](const std::string& id) -> std::optional<int> {
                    for (const auto& [pid, program] : *known) {
                        if (program == id) return pid;
                    }
                    return std::nullopt;
                }};
    }
    void name(const OtherProgram& p, const std::string& id) { (*known_)[p.pid()] = id; }
    bool xdotool(const std::string& command, Xid xid, std::vector<std::string> more = {}) {
        return xdotool(command, std::to_string(xid), std::move(more));
    }
    bool xdotool(const std::string& command, const std::string& window, std::vector<std::string> more = {}) {
        std::vector<std::string> argv = {"/usr/bin/xdotool", command, window};
        argv.insert(argv.end(), more.begin(), more.end());
        return test::run(argv) == 0;
    }

    std::shared_ptr<std::map<int, std::string>> known_ = std::make_shared<std::map<int, std::string>>();
};

// ---- Under a window manager ----

class X11DesktopLiveTest : public DesktopTest {
protected:
    void SetUp() override {
        if (!std::getenv("SCRIBBET_X11_WM")) GTEST_SKIP() << "needs a window manager: run scripts/test-gtk.sh";
        DesktopTest::SetUp();
        if (IsSkipped()) return;
        one = std::make_unique<OtherProgram>(dir, "ScribbetOne", 100, 120, 500, 360);
        two = std::make_unique<OtherProgram>(dir, "ScribbetTwo", 700, 160, 480, 340);
        ASSERT_NE(one->xid(), 0u);
        ASSERT_NE(two->xid(), 0u);
        name(*one, "org.example.one");
        name(*two, "org.example.two");
        desktop = std::make_shared<X11Desktop>(*main, screens);
        ASSERT_TRUE(pumpUntil([&] { return desktop->managed() && listed(one->xid()) && listed(two->xid()); }))
            << "the window manager never showed both windows";
        workspace = std::make_unique<X11Workspace>(*main, desktop, programs(), ::getpid());
        list = std::make_unique<X11WindowList>(desktop);
    }
    void TearDown() override {
        list.reset();
        workspace.reset();
        desktop.reset();
        one.reset();
        two.reset();
        DesktopTest::TearDown();
    }

    std::optional<DesktopWindow> listed(Xid xid) const {
        for (const DesktopWindow& w : desktop->windows()) {
            if (w.xid == xid) return w;
        }
        return std::nullopt;
    }
    // Where the list puts the process's first window; -1 when it has none on screen.
    int placeOf(int pid) const {
        const auto windows = list->onScreenWindows();
        if (!windows) return -1;
        for (std::size_t i = 0; i < windows->size(); ++i) {
            if ((*windows)[i].ownerPid == pid) return static_cast<int>(i);
        }
        return -1;
    }
    std::optional<std::string> frontProgram() const {
        const auto front = workspace->frontApplication();
        return front ? front->bundleId : std::nullopt;
    }
    // Has the user pick the window, and waits until the window manager made it active.
    void choose(OtherProgram& p) {
        ASSERT_TRUE(xdotool("windowactivate", p.xid()));
        ASSERT_TRUE(pumpUntil([&] { return desktop->activeWindow() == p.xid(); })) << "never active: " << p.xid();
    }

    std::unique_ptr<OtherProgram> one, two;
    std::shared_ptr<X11Desktop> desktop;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<X11WindowList> list;
};

TEST_F(X11DesktopLiveTest, EveryWindowNamesItsProcessClassTitleAndClientArea) {
    const auto w = listed(one->xid());
    ASSERT_TRUE(w);
    EXPECT_EQ(w->pid, one->pid());
    EXPECT_EQ(w->wmClass, "ScribbetOne");
    EXPECT_EQ(w->title, "ScribbetOne window");
    EXPECT_EQ(w->layer, 0);
    const auto x = xwininfo(dir, one->xid());
    ASSERT_TRUE(x);
    // The client area, not the frame around it: the title bar alone is far more than a pixel.
    EXPECT_NEAR(w->client.x, x->x, 1);
    EXPECT_NEAR(w->client.y, x->y, 1);
    EXPECT_EQ(w->client.w, x->w);
    EXPECT_EQ(w->client.h, x->h);
    EXPECT_TRUE(near(*desktop->clientOrigin(one->xid()), {x->x, x->y}));
    EXPECT_EQ(desktop->clientOrigin(0x7fffffff), std::nullopt);
}

TEST_F(X11DesktopLiveTest, TheActiveWindowAndTheFrontProgramFollowTheUsersChoiceOnceAChange) {
    choose(*two);
    pump(300ms); // what choosing it told is over before anyone listens
    int activations = 0, actives = 0;
    auto program = workspace->onActivate([&] { ++activations; });
    auto window = desktop->onActive([&] { ++actives; });

    choose(*one);
    EXPECT_EQ(desktop->activePid(), one->pid());
    EXPECT_EQ(frontProgram(), "org.example.one");
    EXPECT_FALSE(workspace->frontApplication()->isSelf);
    pump(300ms);
    EXPECT_EQ(activations, 1);
    EXPECT_GE(actives, 1);

    // The window manager may let nobody be active for a moment on the way to the next window:
    // the desktop tells that too, the workspace does not.
    choose(*two);
    EXPECT_EQ(frontProgram(), "org.example.two");
    pump(300ms);
    EXPECT_EQ(activations, 2);
    EXPECT_GE(actives, 2);

    // Choosing the window that is already active changes nothing.
    ASSERT_TRUE(xdotool("windowactivate", two->xid()));
    pump(400ms);
    EXPECT_EQ(activations, 2);

    // A process main knows nothing of is still the front one, with no program named.
    known_->erase(two->pid());
    ASSERT_TRUE(workspace->frontApplication());
    EXPECT_EQ(frontProgram(), std::nullopt);
}

TEST_F(X11DesktopLiveTest, OurOwnWindowInFrontIsOurselves) {
    test::ColourWindow mine(300, 300, 300, 200, 0.2, 0.4, 0.8);
    const Xid xid = gdk_x11_window_get_xid(gtk_widget_get_window(mine.widget()));
    ASSERT_TRUE(pumpUntil([&] { return listed(xid).has_value(); }));
    EXPECT_EQ(listed(xid)->pid, ::getpid());
    ASSERT_TRUE(xdotool("windowactivate", std::to_string(xid)));
    ASSERT_TRUE(pumpUntil([&] { return desktop->activeWindow() == xid; }));
    const auto front = workspace->frontApplication();
    ASSERT_TRUE(front);
    EXPECT_TRUE(front->isSelf);
}

TEST_F(X11DesktopLiveTest, TheWorkspaceBringsAProgramForwardEvenFromMinimized) {
    choose(*two);
    ASSERT_TRUE(xdotool("windowminimize", one->xid()));
    ASSERT_TRUE(pumpUntil([&] { return placeOf(one->pid()) < 0; })) << "a minimized window stayed in the list";
    EXPECT_GE(placeOf(two->pid()), 0);

    workspace->activate("org.example.one");
    ASSERT_TRUE(pumpUntil([&] { return desktop->activeWindow() == one->xid() && placeOf(one->pid()) >= 0; }));
    EXPECT_EQ(frontProgram(), "org.example.one");

    desktop->activate(two->xid());
    EXPECT_TRUE(pumpUntil([&] { return desktop->activeWindow() == two->xid(); }));
    // A program nobody runs, or an id no window has, is simply not activated.
    workspace->activate("org.example.nobody");
    desktop->activate(0x7fffffff);
    pump(300ms);
    EXPECT_EQ(desktop->activeWindow(), two->xid());
}

TEST_F(X11DesktopLiveTest, TheWindowListFollowsRaisingFrontToBack) {
    ASSERT_TRUE(xdotool("windowraise", one->xid()));
    ASSERT_TRUE(pumpUntil([&] { return placeOf(one->pid()) >= 0 && placeOf(one->pid()) < placeOf(two->pid()); }));
    ASSERT_TRUE(xdotool("windowraise", two->xid()));
    ASSERT_TRUE(pumpUntil([&] { return placeOf(two->pid()) >= 0 && placeOf(two->pid()) < placeOf(one->pid()); }));

    const auto windows = list->onScreenWindows();
    ASSERT_TRUE(windows);
    const WindowInfo& front = (*windows)[static_cast<std::size_t>(placeOf(two->pid()))];
    const auto x = xwininfo(dir, two->xid());
    ASSERT_TRUE(x && front.bounds);
    EXPECT_NEAR(front.bounds->x, x->x, 1);
    EXPECT_NEAR(front.bounds->y, x->y, 1);
    EXPECT_EQ(front.bounds->w, x->w);
    EXPECT_EQ(front.layer, 0);
}

TEST_F(X11DesktopLiveTest, AMoveIsToldWithTheClientAreasNewOrigin) {
    const Point before = *desktop->clientOrigin(one->xid());
    std::vector<Point> origins;
    int others = 0;
    auto moved = desktop->onMoved(one->xid(), [&](Point p) { origins.push_back(p); });
    auto other = desktop->onMoved(two->xid(), [&](Point) { ++others; });

    ASSERT_TRUE(xdotool("windowmove", one->xid(), {"300", "250"}));
    ASSERT_TRUE(pumpUntil([&] { return !origins.empty() && !near(origins.back(), before); })) << "no move was told";
    pump(200ms);
    const auto x = xwininfo(dir, one->xid());
    ASSERT_TRUE(x);
    EXPECT_TRUE(near(origins.back(), {x->x, x->y}))
        << "told (" << origins.back().x << ", " << origins.back().y << "), X says (" << x->x << ", " << x->y << ")";
    EXPECT_TRUE(near(*desktop->clientOrigin(one->xid()), origins.back()));
    EXPECT_EQ(others, 0);

    // Dropped, a subscription hears nothing more.
    moved.reset();
    const std::size_t told = origins.size();
    ASSERT_TRUE(xdotool("windowmove", one->xid(), {"150", "300"}));
    ASSERT_TRUE(pumpUntil([&] { return !near(*desktop->clientOrigin(one->xid()), {x->x, x->y}); }));
    pump(200ms);
    EXPECT_EQ(origins.size(), told);
}

TEST_F(X11DesktopLiveTest, AProgramWhoseWindowClosedIsToldOnce) {
    int closedOne = 0, closedTwo = 0;
    std::vector<std::optional<std::string>> ended;
    auto a = desktop->onClosed(one->pid(), [&] { ++closedOne; });
    auto b = desktop->onClosed(two->pid(), [&] { ++closedTwo; });
    auto c = workspace->onTerminate([&](const std::optional<std::string>& id) { ended.push_back(id); });
    // main stops knowing the process once it ended: the workspace remembers which program it was.
    known_->erase(two->pid());

    two->quit();
    ASSERT_TRUE(pumpUntil([&] { return closedTwo > 0 && !ended.empty(); }));
    pump(300ms);
    EXPECT_EQ(closedTwo, 1);
    EXPECT_EQ(closedOne, 0);
    EXPECT_EQ(ended, (std::vector<std::optional<std::string>>{"org.example.two"}));
    EXPECT_FALSE(listed(two->xid()));
    EXPECT_TRUE(listed(one->xid()));
}

TEST_F(X11DesktopLiveTest, TheDesktopMayGoWhileChangesAreUnderWay) {
    int heard = 0;
    auto active = desktop->onActive([&] { ++heard; });
    auto activated = workspace->onActivate([&] { ++heard; });
    auto moved = desktop->onMoved(one->xid(), [&](Point) { ++heard; });
    desktop->activate(one->xid());
    ASSERT_TRUE(xdotool("windowmove", one->xid(), {"220", "240"}));
    ASSERT_TRUE(xdotool("windowactivate", two->xid()));
    list.reset();
    workspace.reset();
    desktop.reset();
    pump(500ms);
    EXPECT_EQ(heard, 0);
    active.reset(); // after its desktop: nothing to end, nothing to crash on
}

// The figure for idle cost: SCRIBBET_X11_IDLE_SECONDS=20 makes it a 20 s measurement.
TEST_F(X11DesktopLiveTest, IdleTheDesktopCostsNoProcessorTime) {
    int heard = 0;
    auto a = desktop->onActive([&] { ++heard; });
    auto b = desktop->onMoved(one->xid(), [&](Point) { ++heard; });
    auto c = workspace->onActivate([&] { ++heard; });
    auto d = workspace->onTerminate([&](const std::optional<std::string>&) { ++heard; });
    // Windows just mapped may still be placed and focused, and the previous test's just closed:
    // the desktop settles first.
    int changes = 0;
    auto e = desktop->onChanged([&](const DesktopChange&) { ++changes; });
    for (int seen = -1; seen != changes;) {
        seen = changes;
        pump(500ms);
    }
    heard = 0;
    const char* asked = std::getenv("SCRIBBET_X11_IDLE_SECONDS");
    const double seconds = asked ? std::max(1.0, std::atof(asked)) : 2.0;

    auto cpu = [] {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double start = cpu();
    // The loop sleeps until something happens, as the program's does.
    bool over = false;
    g_timeout_add(static_cast<guint>(seconds * 1000), +[](gpointer done) -> gboolean {
        *static_cast<bool*>(done) = true;
        return G_SOURCE_REMOVE;
    }, &over);
    while (!over) g_main_context_iteration(nullptr, TRUE);
    const double used = cpu() - start;
    std::cout << "idle desktop: " << used * 1000 << " ms of processor time in " << seconds << " s\n";
    RecordProperty("idle_cpu_ms", std::to_string(used * 1000));
    EXPECT_LT(used / seconds, 0.01);
    EXPECT_EQ(heard, 0);
}

// ---- On the bare X server ----

class GtkX11DesktopTest : public DesktopTest {};

TEST_F(GtkX11DesktopTest, WithoutAWindowManagerEveryAnswerIsNoneAndNothingIsTold) {
    OtherProgram one(dir, "ScribbetOne", 100, 100, 400, 300);
    ASSERT_NE(one.xid(), 0u);
    name(one, "org.example.one");
    auto desktop = std::make_shared<X11Desktop>(*main, screens);
    X11WindowList list(desktop);
    X11Workspace workspace(*main, desktop, programs(), ::getpid());
    int told = 0;
    auto a = desktop->onMoved(one.xid(), [&](Point) { ++told; });
    auto b = desktop->onActive([&] { ++told; });
    auto c = desktop->onClosed(one.pid(), [&] { ++told; });
    auto d = workspace.onActivate([&] { ++told; });
    auto e = workspace.onTerminate([&](const std::optional<std::string>&) { ++told; });
    pump(200ms);

    EXPECT_FALSE(desktop->managed());
    EXPECT_TRUE(desktop->windows().empty());
    EXPECT_EQ(desktop->activeWindow(), std::nullopt);
    EXPECT_EQ(desktop->activePid(), std::nullopt);
    EXPECT_EQ(desktop->clientOrigin(one.xid()), std::nullopt);
    // Nobody keeps a list of the programs' windows: not an empty list, none.
    EXPECT_EQ(list.onScreenWindows(), std::nullopt);
    EXPECT_FALSE(workspace.frontApplication().has_value());
    // The process is still known to run: that is main's word, not the window manager's.
    EXPECT_EQ(workspace.runningProcess("org.example.one"), one.pid());

    desktop->activate(one.xid());
    desktop->activatePid(one.pid());
    workspace.activate("org.example.one");
    ASSERT_TRUE(xdotool("windowmove", one.xid(), {"300", "300"}));
    one.quit();
    pump(300ms);
    EXPECT_EQ(told, 0);
    EXPECT_FALSE(desktop->managed());
}

// A window manager may start after the program does, and may go (a crash, a replacement).
TEST_F(GtkX11DesktopTest, AWindowManagerThatComesAndGoesIsFollowed) {
    auto desktop = std::make_shared<X11Desktop>(*main, screens);
    if (desktop->managed()) GTEST_SKIP() << "a window manager runs already";
    OtherProgram one(dir, "ScribbetOne", 100, 100, 400, 300);
    ASSERT_NE(one.xid(), 0u);
    auto env = childEnvironment();
    env.push_back("XDG_CONFIG_HOME=" + (dir / "config").string());
    test::Process wm({"/usr/bin/openbox", "--sm-disable"}, env, (dir / "openbox.log").string());
    ASSERT_TRUE(pumpUntil([&] { return desktop->managed() && !desktop->windows().empty(); }))
        << "the window manager's coming went unseen";
    ASSERT_TRUE(xdotool("windowactivate", one.xid()));
    ASSERT_TRUE(pumpUntil([&] { return desktop->activeWindow() == one.xid(); }));

    wm.signal(SIGTERM);
    EXPECT_EQ(wm.wait(), 0);
    ASSERT_TRUE(pumpUntil([&] { return !desktop->managed(); })) << "the window manager's leaving went unseen";
    // What it left on the root is nobody's word any more.
    EXPECT_TRUE(desktop->windows().empty());
    EXPECT_EQ(desktop->activeWindow(), std::nullopt);
    EXPECT_EQ(desktop->activePid(), std::nullopt);
    EXPECT_EQ(desktop->clientOrigin(one.xid()), std::nullopt);
    X11Workspace workspace(*main, desktop, programs(), ::getpid());
    EXPECT_FALSE(workspace.frontApplication().has_value());
}

TEST_F(GtkX11DesktopTest, ALinkNobodyOpensIsLoggedWithoutHoldingTheMainThread) {
    auto desktop = std::make_shared<X11Desktop>(*main, screens);
    X11Workspace workspace(*main, desktop, programs(), ::getpid());
    workspace.openURL("scribbet-test-nobody-opens://settings");
    EXPECT_FALSE(wasLogged("Could not open the link"));
    EXPECT_TRUE(pumpUntil([&] { return wasLogged("Could not open the link"); }));
}

} // namespace
