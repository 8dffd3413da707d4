#include "platform/linux/headless_app.hpp"

namespace scribbet::linuxhost {

void HeadlessApplication::run(ApplicationDelegate& delegate, const std::vector<std::string>& startLinks) {
    delegate_ = &delegate;
    delegate.willFinishLaunching();
    for (const auto& link : startLinks) {
        if (handler_) handler_(link);
    }
    delegate.didFinishLaunching();
    loop_.run();
    delegate_ = nullptr;
}

void HeadlessApplication::terminate() {
    if (terminating_.exchange(true)) return;
    loop_.post([this] {
        if (delegate_) delegate_->willTerminate();
        loop_.quit();
    });
}

void HeadlessApplication::deliver(std::string link) {
    loop_.post([this, link = std::move(link)] {
        if (handler_) handler_(link);
    });
}

void HeadlessApplication::reopen() {
    loop_.post([this] {
        if (delegate_) delegate_->shouldHandleReopen(false);
    });
}

} // namespace scribbet::linuxhost
