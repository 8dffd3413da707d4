#include "adapters/linux/headless_app.hpp"

namespace scribbet::linuxhost {

void HeadlessApplication::run(ApplicationDelegate& delegate, const std::vector<std::string>& startLinks) {
    delegate_ = &delegate;
    delegate.willFinishLaunching();
    for (const auto& link : startLinks) open(link);
    delegate.didFinishLaunching();
    main_.run();
    delegate_ = nullptr;
}

void HeadlessApplication::terminate() {
    std::lock_guard lock(ending_);
    if (terminating_) return;
    terminating_ = true;
    if (begun_) begun_();
    main_.async([this] {
        if (delegate_) delegate_->willTerminate();
        main_.quit();
    });
}

bool HeadlessApplication::unlessEnding(std::function<void()> task) {
    // Under the lock: a task posted after the terminate task would never run.
    std::lock_guard lock(ending_);
    if (terminating_) return false;
    main_.async(std::move(task));
    return true;
}

void HeadlessApplication::open(const std::string& link) {
    if (handler_) handler_(link);
}

void HeadlessApplication::reopened() {
    if (delegate_) delegate_->shouldHandleReopen(false);
}

} // namespace scribbet::linuxhost
