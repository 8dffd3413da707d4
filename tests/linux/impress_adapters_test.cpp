// Impress's side of the bridge against a small extension of the test's own on a real Unix
// socket: the macro answers and failures as the program's kinds, the view facts streamed in and
// shown as the slide editor's elements, a window move without a new line, and soffice going away.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "adapters/linux/impress_adapters.hpp"
#include "geometry/pane_state.hpp"

using namespace scribbet;
using namespace scribbet::linuxhost;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// Answers hello and macros; a watch gets every line pushed, in order, until the test ends.
class FakeExtension {
public:
    explicit FakeExtension(std::filesystem::path path) : path_(std::move(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path_.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(fd_, 16), 0);
        acceptor_ = std::thread([this] { acceptAll(); });
    }
    ~FakeExtension() { stop(); }

    void stop() {
        {
            std::lock_guard lock(m_);
            if (stopped_) return;
            stopped_ = true;
        }
        cv_.notify_all();
        ::shutdown(fd_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : served_) t.join();
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    void push(const json& line) {
        {
            std::lock_guard lock(m_);
            lines_.push_back(line.dump() + "\n");
        }
        cv_.notify_all();
    }

    std::function<json(const json&)> macro = [](const json&) { return json{{"errn", 0}, {"direct", "OK|1"}}; };
    std::atomic<int> watches{0};

private:
    void acceptAll() {
        for (;;) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            std::lock_guard lock(m_);
            served_.emplace_back([this, c] {
                serve(c);
                ::close(c);
            });
        }
    }
    void serve(int c) {
        std::string in;
        for (;;) {
            auto end = in.find('\n');
            while (end == std::string::npos) {
                pollfd p{c, POLLIN, 0};
                if (::poll(&p, 1, 100) == 0) {
                    std::lock_guard lock(m_);
                    if (stopped_) return;
                    continue;
                }
                char b[4096];
                const auto n = ::read(c, b, sizeof b);
                if (n <= 0) return;
                in.append(b, static_cast<std::size_t>(n));
                end = in.find('\n');
            }
            const json r = json::parse(in.substr(0, end), nullptr, false);
            in.erase(0, end + 1);
            const std::string op = r.value("op", "");
            if (op == "watch") return watch(c);
            json a = op == "hello" ? json{{"host", "impress"}, {"pid", 4242}, {"version", "0.1.0"}} : macro(r);
            const std::string out = a.dump() + "\n";
            if (::send(c, out.data(), out.size(), MSG_NOSIGNAL) < 0) return;
        }
    }
    void watch(int c) {
        ++watches;
        std::size_t sent = 0;
        std::unique_lock lock(m_);
        for (;;) {
            cv_.wait(lock, [&] { return stopped_ || sent < lines_.size(); });
            if (stopped_) return;
            const std::string out = lines_[sent++];
            if (::send(c, out.data(), out.size(), MSG_NOSIGNAL) < 0) return;
        }
    }

    std::filesystem::path path_;
    int fd_ = -1;
    std::mutex m_;
    std::condition_variable cv_;
    bool stopped_ = false;
    std::deque<std::string> lines_;
    std::list<std::thread> served_;
    std::thread acceptor_;
};

json facts(int seq, double slideX, double zoomW, const char* view = "normal") {
    return {{"seq", seq},          {"doc", "file:///tmp/a.odp"}, {"xid", 77},
            {"origin", {100, 50}}, {"window", {100, 50, 1200, 800}}, {"pane", {300, 150, 900, 600}},
            {"slide", {slideX, 200, zoomW, zoomW * 9 / 16}},         {"slideW", 960},
            {"slideH", 540},       {"label", "Slide Editor Slide 2"}, {"view", view}};
}

template <class F> bool eventually(F f) {
    for (int i = 0; i < 300; ++i) {
        if (f()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

class ImpressAdaptersTest : public ::testing::Test {
protected:
    std::filesystem::path socket =
        std::filesystem::temp_directory_path() / ("impress-test-" + std::to_string(::getpid()) + ".sock");
    FakeExtension ext{socket};
};

TEST_F(ImpressAdaptersTest, MacrosAnswerOrFailAsTheProgramsKinds) {
    ImpressMacroTransport t(socket);
    json seen;
    ext.macro = [&](const json& r) {
        seen = r;
        return json{{"errn", 0}, {"direct", "OK|960|540"}};
    };
    auto r = t.send("SCBT_Pen.SCBT_Geom", {"a"}, 5s);
    EXPECT_FALSE(r.failure);
    EXPECT_EQ(r.direct, "OK|960|540");
    EXPECT_EQ(seen["name"], "SCBT_Pen.SCBT_Geom");
    EXPECT_EQ(seen["args"], json::array({"a"}));
    EXPECT_EQ(seen["limit"], 4500); // a little less than the caller waits

    ext.macro = [](const json&) { return json{{"errn", -1708}, {"errs", "The macro X does not exist."}}; };
    r = t.send("SCBT_Pen.X", {}, 5s);
    ASSERT_TRUE(r.failure);
    EXPECT_EQ(r.failure->kind, MacroFailureKind::notHandled);
    ext.macro = [](const json&) { return json{{"errn", -1712}, {"errs", "Impress did not answer in time."}}; };
    EXPECT_EQ(t.send("SCBT_Pen.SCBT_Where", {}, 5s).failure->kind, MacroFailureKind::timedOut);
    ext.macro = [](const json&) { return json{{"direct", "OK"}}; }; // no errn: not the wire
    EXPECT_EQ(t.send("SCBT_Pen.SCBT_Where", {}, 5s).failure->kind, MacroFailureKind::notRunning);

    ext.stop();
    EXPECT_EQ(t.send("SCBT_Pen.SCBT_Geom", {}, 1s).failure->kind, MacroFailureKind::notRunning);
    EXPECT_FALSE(impress::hello(1s, socket));
}

TEST_F(ImpressAdaptersTest, TheViewsFactsAreTheSlideEditorsElementsAndFollowEveryLine) {
    std::optional<Point> windowAt; // the desktop knows nothing yet
    std::mutex m;
    double pixelsPerPoint = 1; // GDK_SCALE
    ImpressView view(
        [&](std::uint64_t xid) {
            std::lock_guard lock(m);
            return xid == 77 ? windowAt : std::nullopt;
        },
        [&](const Rect& r) {
            std::lock_guard lock(m);
            return Rect{r.x / pixelsPerPoint, r.y / pixelsPerPoint, r.w / pixelsPerPoint, r.h / pixelsPerPoint};
        },
        socket);
    ImpressAccessibility ax(view);
    std::atomic<int> told{0};
    Subscription hearing = ax.onChange([&] { ++told; });
    EXPECT_TRUE(ax.tellsChanges());
    ASSERT_TRUE(eventually([&] { return ax.trusted(); }));
    EXPECT_EQ(view.pid(), 4242);
    EXPECT_FALSE(ax.application(1)); // another process
    const AXRef app = ax.application(4242);
    ASSERT_TRUE(app);
    EXPECT_EQ(std::get<std::vector<AXRef>>(*ax.attribute(app, "AXWindows")).size(), 0u); // no facts yet

    ext.push(facts(1, 330, 640));
    ASSERT_TRUE(eventually([&] { return view.facts().has_value(); }));
    const AXRef win = std::get<AXRef>(*ax.attribute(app, "AXFocusedWindow"));
    const AXRef editor = std::get<std::vector<AXRef>>(*ax.attribute(win, "AXChildren")).at(0);
    EXPECT_EQ(std::get<std::string>(*ax.attribute(editor, "AXRole")), "AXScrollArea");
    const AXRef doc = std::get<std::vector<AXRef>>(*ax.attribute(editor, "AXChildren")).at(0);
    EXPECT_EQ(std::get<std::string>(*ax.attribute(doc, "AXDescription")), "Slide Editor Slide 2");
    const AXRef slide = std::get<std::vector<AXRef>>(*ax.attribute(doc, "AXChildren")).at(0);
    auto at = [&](const AXRef& e) {
        const auto p = std::get<AXPoint>(*ax.attribute(e, "AXPosition"));
        const auto s = std::get<AXSize>(*ax.attribute(e, "AXSize"));
        return Rect{p.x, p.y, s.w, s.h};
    };
    EXPECT_EQ(at(slide), (Rect{330, 200, 640, 360}));

    EXPECT_TRUE(eventually([&] { return told >= 1; })); // every line is told
    const int before = told;
    ext.push(facts(2, 100, 1920)); // zoomed in: the next question sees it
    ASSERT_TRUE(eventually([&] { return at(slide).w == 1920; }));
    EXPECT_TRUE(eventually([&] { return told > before; }));
    // The document keeps a slide editor's margins, so a reader of margins gets the same scale.
    const PaneState state{at(editor), at(doc), {}, "", at(win), std::nullopt};
    ASSERT_TRUE(state.scaleFromContent(960, 540));
    EXPECT_DOUBLE_EQ(*state.scaleFromContent(960, 540), 2.0);
    EXPECT_TRUE(ax.equal(slide, std::get<std::vector<AXRef>>(*ax.attribute(doc, "AXChildren")).at(0)));

    {
        std::lock_guard lock(m);
        windowAt = Point{160, 20}; // moved by (60, -30), without a line from Impress
    }
    EXPECT_EQ(at(slide), (Rect{160, 170, 1920, 1080}));
    EXPECT_EQ(at(win), (Rect{160, 20, 1200, 800}));
    {
        std::lock_guard lock(m);
        pixelsPerPoint = 2; // the ports speak points, and so does the desktop: halved, then moved
        windowAt = Point{80, 10};
    }
    EXPECT_EQ(at(slide), (Rect{80, 85, 960, 540}));
    {
        std::lock_guard lock(m);
        pixelsPerPoint = 1;
        windowAt = Point{160, 20};
    }

    ext.push(facts(3, 100, 1920, "other")); // the outline view: no slide editor
    ASSERT_TRUE(eventually([&] { return std::get<std::vector<AXRef>>(*ax.attribute(win, "AXChildren")).empty(); }));
    EXPECT_FALSE(ax.attribute(slide, "AXPosition"));

    hearing.reset();
    const int last = told;
    ext.push({{"closed", true}});
    ASSERT_TRUE(eventually([&] { return !view.facts(); }));
    EXPECT_EQ(told, last); // an ended subscription hears nothing
    EXPECT_FALSE(ax.attribute(win, "AXPosition"));
    EXPECT_FALSE(ax.setNumber(slide, "AXValue", 0.5));

    ext.stop(); // soffice gone: nothing is trusted until it answers again
    EXPECT_TRUE(eventually([&] { return !ax.trusted(); }));

}

TEST(ImpressFacts, ALineThatIsNotADocumentsFactsIsNone) {
    EXPECT_FALSE(impress::factsFrom(json::parse(R"({"seq": 1, "doc": null})")));
    EXPECT_FALSE(impress::factsFrom(json::parse(R"({"doc": "a", "window": [0,0,1,1], "pane": [0,0,1], "slide": [0,0,1,1]})")));
    EXPECT_FALSE(impress::factsFrom(json::parse(R"({"doc": "a", "window": [0,0,1,1], "pane": [0,0,-1,1], "slide": [0,0,1,1]})")));
    const auto f = impress::factsFrom(json::parse(R"({"doc": "a", "window": [0,0,1,1], "pane": [0,0,1,1], "slide": [0,0,1,1]})"));
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->xid);
    EXPECT_TRUE(f->normalView);
    EXPECT_EQ(impress::shifted(*f, Point{5, 5}).slide, f->slide); // no origin: nothing to shift by
}

} // namespace
