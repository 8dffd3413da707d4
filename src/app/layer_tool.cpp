#include "app/layer_tool.hpp"

#include <algorithm>

#include "base/text.hpp"

namespace scribbet::LayerTool {

std::string from(const std::optional<std::string>& value) {
    const std::string name = text::lowercased(text::trimBlanks(value.value_or("")));
    if (name.empty()) return name;
    if (std::find(known.begin(), known.end(), name) != known.end()) return name;
    return "pen";
}

} // namespace scribbet::LayerTool
