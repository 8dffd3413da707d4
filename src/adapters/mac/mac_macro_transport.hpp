#pragma once
// The macro event on macOS: an Apple event to the presentation program, sent with
// -[NSAppleEventDescriptor sendEventWithOptions:timeout:error:] and read back into the port's
// reply. Built from macro_event.hpp's plan; plain C++ here, Objective-C++ in the .mm.
#include <string>

#include "ports/macro_transport.hpp"

namespace scribbet::mac {

class MacMacroTransport final : public MacroTransport {
public:
    // The program the events go to, by bundle identifier ("com.microsoft.Powerpoint").
    explicit MacMacroTransport(std::string bundleId);

    // Any thread but the main one (the bridge's queue): it blocks until the reply.
    MacroEventReply send(const std::string& fullName, const std::vector<std::string>& args,
                         Duration timeout) override;

private:
    const std::string bundleId_;
};

} // namespace scribbet::mac
