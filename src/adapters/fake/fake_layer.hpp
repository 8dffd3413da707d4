#pragma once
// In-memory layer window, page and input for tests: they record what the layer did and let
// a test play the page (post messages, crash, answer scripts) and the user (keys, pointer).
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ports/input_monitors.hpp"
#include "ports/layer_ui.hpp"
#include "ports/screens.hpp"

namespace scribbet::fake {

class FakePanel final : public LayerPanel {
public:
    explicit FakePanel(Rect f) : frame_(f) {}
    Rect frame() const override { return frame_; }
    void setFrame(const Rect& f) override { frame_ = f; }
    bool isVisible() const override { return visible; }
    void makeKeyAndFront() override {
        visible = true;
        key = true;
    }
    void orderFrontRegardless() override { visible = true; }
    void hide() override {
        visible = false;
        key = false;
    }
    bool ignoresMouse() const override { return ignoring; }
    void setIgnoresMouse(bool ignore) override {
        ignoring = ignore;
        ++ignoreWrites;
    }
    void clear() override {
        visible = false;
        cleared = true;
    }
    bool onActiveSpace() const override { return onSpace; }

    Rect frame_;
    bool visible = false, key = false, ignoring = true, cleared = false, onSpace = true;
    int ignoreWrites = 0;
};

class FakeWebView final : public LayerWebView {
public:
    explicit FakeWebView(std::weak_ptr<LayerPageEvents> e) : events(std::move(e)) {}
    void load(const std::string& u, Duration t) override {
        url = u;
        timeout = t;
        ++loads;
    }
    void reload() override { ++reloads; }
    void stopLoading() override { stopped = true; }
    void evaluate(const std::string& script, std::function<void(EvalResult)> completion) override {
        scripts.push_back(script);
        if (completion) {
            if (answer) {
                completion(answer(script));
            } else {
                pending.push_back(std::move(completion));
            }
        }
    }
    void detach() override { detached = true; }

    // The page's side.
    void post(const nlohmann::json& body) {
        if (auto e = events.lock(); e && !detached) e->message(*this, body);
    }
    void crash() {
        if (auto e = events.lock(); e && !detached) e->contentProcessEnded(*this);
    }

    std::weak_ptr<LayerPageEvents> events;
    std::string url;
    Duration timeout{};
    int loads = 0, reloads = 0;
    bool stopped = false, detached = false;
    std::vector<std::string> scripts;
    std::function<EvalResult(const std::string&)> answer; // when unset, completions wait
    std::vector<std::function<void(EvalResult)>> pending;
};

class FakeLayerFactory final : public LayerFactory {
    class Handle final : public LayerPanel {
    public:
        explicit Handle(std::shared_ptr<FakePanel> p) : p_(std::move(p)) {}
        Rect frame() const override { return p_->frame(); }
        void setFrame(const Rect& f) override { p_->setFrame(f); }
        bool isVisible() const override { return p_->isVisible(); }
        void makeKeyAndFront() override { p_->makeKeyAndFront(); }
        void orderFrontRegardless() override { p_->orderFrontRegardless(); }
        void hide() override { p_->hide(); }
        bool ignoresMouse() const override { return p_->ignoresMouse(); }
        void setIgnoresMouse(bool ignore) override { p_->setIgnoresMouse(ignore); }
        void clear() override { p_->clear(); }
        bool onActiveSpace() const override { return p_->onActiveSpace(); }

    private:
        std::shared_ptr<FakePanel> p_;
    };

public:
    bool canShowSeeThrough() const override { return seeThrough; }
    // The layer owns a handle; the panel itself lives on here, so a test can still look at
    // a panel the layer has let go of.
    std::unique_ptr<LayerPanel> makePanel(const Rect& screenFrame) override {
        if (failPanel) return nullptr;
        auto p = std::make_shared<FakePanel>(screenFrame);
        panels.push_back(p);
        panel = p.get();
        return std::make_unique<Handle>(p);
    }
    std::shared_ptr<LayerWebView> makeWebView(LayerPanel&, std::weak_ptr<LayerPageEvents> events) override {
        if (failWebView) return nullptr;
        web = std::make_shared<FakeWebView>(std::move(events));
        webs.push_back(web);
        return web;
    }
    bool seeThrough = true;                 // a compositing manager runs
    bool failPanel = false, failWebView = false;
    FakePanel* panel = nullptr;             // the latest
    std::vector<std::shared_ptr<FakePanel>> panels;
    std::shared_ptr<FakeWebView> web;       // the latest
    std::vector<std::shared_ptr<FakeWebView>> webs;
};

class FakeInputMonitors final : public InputMonitors {
public:
    Subscription addKeyMonitor(std::function<bool(const KeyEvent&)> h) override { return keys.add(std::move(h)); }
    Subscription addMouseMonitor(std::function<void()> h) override { return mice.add(std::move(h)); }
    Point pointer() const override { return at; }
    bool buttonsHeld() const override { return held; }

    // The user's side: a key press (true when a monitor consumed it), a click elsewhere.
    bool press(const KeyEvent& e) { return keys.notifyUntilTaken(e); }
    void clickElsewhere() { mice.notify(); }

    CallbackList<bool(const KeyEvent&)> keys;
    CallbackList<void()> mice;
    Point at;
    bool held = false;
};

// Screens given in the top-left convention people think in, answered in the platform's.
class FakeScreens final : public Screens {
public:
    // `topLeft` frames; the first is the primary screen at 0,0.
    void set(const std::vector<Rect>& topLeft, double scale = 1) {
        list.clear();
        if (topLeft.empty()) return;
        const double H = topLeft.front().h;
        for (const Rect& r : topLeft) {
            const Rect flipped{r.x, H - (r.y + r.h), r.w, r.h};
            list.push_back({flipped, flipped, scale});
        }
    }
    std::vector<ScreenInfo> screens() const override { return list; }
    std::optional<ScreenInfo> mainScreen() const override {
        if (mainIndex && *mainIndex < list.size()) return list[*mainIndex];
        return std::nullopt;
    }
    std::vector<ScreenInfo> list;
    std::optional<std::size_t> mainIndex = 0;
};

} // namespace scribbet::fake
