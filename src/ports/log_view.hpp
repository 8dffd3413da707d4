#pragma once
// The status window's pieces that the log reaches: its log view and whether it shows.
#include <string>

namespace scribbet {

class LogView {
public:
    virtual ~LogView() = default;
    // Appends one view line in the log's text style and scrolls to the end.
    virtual void append(const std::string& line) = 0;
};

class StatusWindow {
public:
    virtual ~StatusWindow() = default;
    virtual bool isVisible() const = 0;
};

} // namespace scribbet
