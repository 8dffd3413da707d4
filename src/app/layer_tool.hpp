#pragma once
// The drawing-tool names a link may carry; their meaning is the drawing page's.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace scribbet::LayerTool {

inline constexpr std::array<std::string_view, 7> known = {
    "pen", "highlighter", "shape:rect", "shape:ellipse", "shape:line", "select", "direct"};

// The tool to use: empty when none was named, a known name, or "pen" for anything else.
std::string from(const std::optional<std::string>& value);

} // namespace scribbet::LayerTool
