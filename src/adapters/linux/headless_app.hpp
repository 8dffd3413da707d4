#pragma once
// The application object of the Linux program without a display: no menu bar to show and
// no Dock to leave, but the same launch order, links and terminate action as on macOS.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ports/application.hpp"
#include "ports/links.hpp"
#include "runtime/queues.hpp"

namespace scribbet::linuxhost {

class HeadlessApplication final : public Application, public LinkSource {
public:
    explicit HeadlessApplication(MainQueue& main) : main_(main) {}

    void setAccessoryPolicy() override {}
    void setMainMenu(const std::vector<Menu>& menus) override { menus_ = menus; }
    void activate() override {}
    // Any thread: the delegate's last words run on the main thread, then the loop ends.
    void terminate() override;
    // Runs once, on the thread that asked for the terminate action, when it begins: before the
    // main thread gets to it, which a busy main thread may never do.
    void whenTerminating(std::function<void()> begun) { begun_ = std::move(begun); }
    void setHandler(Handler handler) override { handler_ = std::move(handler); }

    // Launches: links given at start arrive before launching has finished, as the
    // system delivers the links that started an application. Returns when terminated.
    void run(ApplicationDelegate& delegate, const std::vector<std::string>& startLinks);
    // Any thread: runs `task` on the main thread unless the application is ending, when
    // it would never run; then false. What a second start handed over goes through here,
    // so that its sender knows whether it was taken.
    bool unlessEnding(std::function<void()> task);
    // Main thread: a link arrived, or the application was opened again.
    void open(const std::string& link);
    void reopened();

    const std::vector<Menu>& menus() const { return menus_; }

private:
    MainQueue& main_;
    ApplicationDelegate* delegate_ = nullptr;
    Handler handler_;
    std::function<void()> begun_;
    std::vector<Menu> menus_;
    std::mutex ending_; // terminating_ and what is posted behind it
    bool terminating_ = false;
};

} // namespace scribbet::linuxhost
