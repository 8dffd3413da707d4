#pragma once
// The drawing layer without a display: a panel that only remembers what it was told, and a
// web view that loads the page address over HTTP and reports the response and load failures
// as a real one would, so that the layer's policies, failures and start watchdog behave as
// they do with a real page. It runs no script, so the page never says "ready".
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "ports/input_monitors.hpp"
#include "ports/layer_ui.hpp"
#include "ports/status_ui.hpp"
#include "runtime/queues.hpp"

namespace scribbet::linuxhost {

class HeadlessPanel final : public LayerPanel {
public:
    explicit HeadlessPanel(Rect f) : frame_(f) {}
    Rect frame() const override { return frame_; }
    void setFrame(const Rect& f) override { frame_ = f; }
    bool isVisible() const override { return visible_; }
    void makeKeyAndFront() override { visible_ = true; }
    void orderFrontRegardless() override { visible_ = true; }
    void hide() override { visible_ = false; }
    bool ignoresMouse() const override { return ignores_; }
    void setIgnoresMouse(bool ignore) override { ignores_ = ignore; }
    void clear() override { visible_ = false; }

private:
    Rect frame_;
    bool visible_ = false;
    bool ignores_ = false;
};

class HttpWebView final : public LayerWebView, public std::enable_shared_from_this<HttpWebView> {
public:
    // Loads are fetched on `fetches` and reported on `main`.
    HttpWebView(std::weak_ptr<LayerPageEvents> events, Queue& fetches, MainQueue& main)
        : events_(std::move(events)), fetches_(fetches), main_(main) {}
    ~HttpWebView() override;
    void load(const std::string& url, Duration timeout) override;
    void reload() override;
    void stopLoading() override;
    // No script engine: every evaluation answers with an error, at once.
    void evaluate(const std::string& script, std::function<void(EvalResult)> completion) override;
    void detach() override;

    struct Response {
        int status = 0;              // 0 when nothing came back
        std::string errorDescription; // why, when nothing came back
    };
    // A plain GET of an http://127.0.0.1:PORT/... address, waiting at most `timeout`.
    static Response fetch(const std::string& url, Duration timeout);

private:
    void start();
    std::weak_ptr<LayerPageEvents> events_;
    Queue& fetches_;
    MainQueue& main_;
    std::string url_;
    Duration timeout_{};
    std::atomic<bool> detached_{false};
    std::atomic<int> generation_{0}; // a stopped or replaced load reports nothing
};

class HeadlessLayerFactory final : public LayerFactory {
public:
    explicit HeadlessLayerFactory(MainQueue& main) : main_(main) {}
    std::unique_ptr<LayerPanel> makePanel(const Rect& screenFrame) override {
        return std::make_unique<HeadlessPanel>(screenFrame);
    }
    std::shared_ptr<LayerWebView> makeWebView(LayerPanel&, std::weak_ptr<LayerPageEvents> events) override {
        return std::make_shared<HttpWebView>(std::move(events), fetches_, main_);
    }

private:
    MainQueue& main_;
    // Fetches under way end before the factory goes, and with it the queue they report to.
    ConcurrentQueue fetches_{"com.tarnwell.scribbet.fetch", 1};
};

// No keyboard or mouse to watch: monitors are taken but never called.
class HeadlessInput final : public InputMonitors {
public:
    Subscription addKeyMonitor(std::function<bool(const KeyEvent&)>) override { return {}; }
    Subscription addMouseMonitor(std::function<void()>) override { return {}; }
    Point pointer() const override { return {}; }
    bool buttonsHeld() const override { return false; }
};

// Notices go to the log, which is where a user of the headless program looks.
class LoggedNotices final : public NoticeUI {
public:
    Size measure(const std::string& text) override;
    void show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) override;
    void hide() override {}
};

} // namespace scribbet::linuxhost
