#pragma once
// The application object: its activation policy, main menu, activation and terminate
// action, and the launch and reopen moments it reports to its delegate.
#include <optional>
#include <string>
#include <vector>

namespace scribbet {

enum class MenuAction { hide, terminate, undo, cut, copy, paste, selectAll };

struct MenuItem {
    std::string title;           // empty for a separator
    std::string key;             // the Command-key equivalent (Ctrl on Linux)
    std::optional<MenuAction> action;
    bool separator() const { return !action && title.empty(); }
    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

struct Menu {
    std::string itemTitle;       // the title in the menu bar
    std::string title;           // the submenu's own title
    std::vector<MenuItem> items;
    friend bool operator==(const Menu&, const Menu&) = default;
};

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void willFinishLaunching() = 0;
    virtual void didFinishLaunching() = 0;
    // The user opened the running application again; the answer is the platform's
    // "should it do its default reopen handling".
    virtual bool shouldHandleReopen(bool hasVisibleWindows) = 0;
    // Last words before the process ends through the terminate action.
    virtual void willTerminate() = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual void setAccessoryPolicy() = 0;
    virtual void setMainMenu(const std::vector<Menu>& menus) = 0;
    virtual void activate() = 0;
    // The terminate action: the delegate's willTerminate, then the event loop ends.
    virtual void terminate() = 0;
};

} // namespace scribbet
