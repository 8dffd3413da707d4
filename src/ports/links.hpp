#pragma once
// Where links of the "scribbet" scheme come in: Apple's get-URL events on macOS, the
// command line and the instance socket on Linux.
#include <functional>
#include <optional>
#include <string>

namespace scribbet {

class LinkSource {
public:
    // Receives an event's text, or none when the event carried no text. Main thread.
    using Handler = std::function<void(std::optional<std::string>)>;
    virtual ~LinkSource() = default;
    virtual void setHandler(Handler handler) = 0;
};

} // namespace scribbet
