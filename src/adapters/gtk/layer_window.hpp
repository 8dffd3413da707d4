#pragma once
// The drawing layer's window under X: an undecorated, transparent toplevel over one monitor,
// kept above the others. Transparency needs an RGBA visual and a compositing manager to
// blend it; without a manager the window would be opaque, so the factory reports whether
// one runs and the layer decides. Letting the mouse through is an empty input shape: the X
// server then hands clicks to whatever lies below.
#include <memory>

#include "adapters/gtk/monitor_screens.hpp"
#include "ports/layer_ui.hpp"
#include "runtime/queues.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkWindow GdkWindow;
typedef struct _GdkScreen GdkScreen;

namespace scribbet::gtkhost {

class LayerWindow final : public LayerPanel {
public:
    // On `screen`, or the default display's when none is given.
    LayerWindow(const Rect& platformFrame, std::shared_ptr<MonitorScreens> screens, GdkScreen* screen = nullptr);
    ~LayerWindow() override;
    LayerWindow(const LayerWindow&) = delete;
    LayerWindow& operator=(const LayerWindow&) = delete;

    Rect frame() const override { return frame_; }
    void setFrame(const Rect& frame) override;
    bool isVisible() const override;
    void makeKeyAndFront() override;
    void orderFrontRegardless() override;
    void hide() override;
    bool ignoresMouse() const override { return ignores_; }
    void setIgnoresMouse(bool ignore) override;
    void clear() override;

    // The one child: the web view, which then fills the window.
    void setContent(GtkWidget* content);
    GtkWidget* widget() const { return window_; }
    bool hasRGBAVisual() const { return rgba_; }
    // Whether a GDK window belongs to a layer window (the key monitor asks).
    static bool isLayer(GdkWindow* window);

private:
    void applyInputShape();
    std::shared_ptr<MonitorScreens> screens_;
    GtkWidget* window_ = nullptr;
    GtkWidget* content_ = nullptr;
    Rect frame_;
    bool ignores_ = false;
    bool rgba_ = false;
    bool gaveKeyboardAway_ = false; // when it was hidden; taken back on showing if nobody took it
};

class GtkLayerFactory final : public LayerFactory {
public:
    // Windows on `screen`, or on the default display's when none is given.
    // Page views report their time-outs on `main`.
    GtkLayerFactory(std::shared_ptr<MonitorScreens> screens, MainQueue& main, GdkScreen* screen = nullptr);
    // A compositing manager runs and an RGBA visual exists. GDK keeps the answer current as
    // managers come and go (it watches the manager's selection, and says "composited-changed").
    bool canShowSeeThrough() const override;
    std::unique_ptr<LayerPanel> makePanel(const Rect& screenFrame) override;
    // None for a panel this factory did not make.
    std::shared_ptr<LayerWebView> makeWebView(LayerPanel& panel, std::weak_ptr<LayerPageEvents> events) override;

private:
    std::shared_ptr<MonitorScreens> screens_;
    MainQueue& main_;
    GdkScreen* screen_;
};

} // namespace scribbet::gtkhost
