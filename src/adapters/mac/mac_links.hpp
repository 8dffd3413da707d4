#pragma once
// Links of the "scribbet" scheme on macOS: the system delivers each as a get-URL Apple
// event, taken here with an NSAppleEventManager handler. Plain C++ here, Objective-C++ in
// the .mm.
#include <memory>

#include "ports/links.hpp"
#include "runtime/queues.hpp"

namespace scribbet::mac {

class MacLinkSource final : public LinkSource {
public:
    // Handlers run on `main`, which outlives this source.
    explicit MacLinkSource(MainQueue& main);
    // Removes the get-URL handler, so no event reaches a handler that is gone. Main thread.
    ~MacLinkSource() override;
    MacLinkSource(const MacLinkSource&) = delete;
    MacLinkSource& operator=(const MacLinkSource&) = delete;

    // Main thread. The first call installs the event handler: call it before launching has
    // finished (the delegate does, in willFinishLaunching), so that the link which started the
    // application is not lost. A later call replaces the handler; an empty one drops events.
    void setHandler(Handler handler) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace scribbet::mac
