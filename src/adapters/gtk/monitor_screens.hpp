#pragma once
// The screens port from GDK's monitors. GDK may only be asked on the main thread, and the
// core asks from there, yet nothing stops a background caller: so the monitors are read on
// the main thread whenever GDK says they changed, and every caller reads that copy.
#include <mutex>
#include <thread>

#include "adapters/gtk/desktop_flip.hpp"

typedef struct _GdkDisplay GdkDisplay;

namespace scribbet::gtkhost {

class MonitorScreens final : public Screens {
public:
    // Main thread, with GTK initialised.
    explicit MonitorScreens(GdkDisplay* display);
    ~MonitorScreens() override;
    MonitorScreens(const MonitorScreens&) = delete;
    MonitorScreens& operator=(const MonitorScreens&) = delete;

    std::vector<ScreenInfo> screens() const override;
    // The screen under the pointer, where X desktops put the focus; the primary one when
    // asked off the main thread.
    std::optional<ScreenInfo> mainScreen() const override;
    DesktopFlip flip() const;
    // Reads the monitors again. Main thread.
    void refresh();

private:
    GdkDisplay* display_;
    std::thread::id owner_;
    mutable std::mutex mutex_;
    Desktop desktop_;
};

} // namespace scribbet::gtkhost
