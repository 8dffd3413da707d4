#include "powerpoint/addin_check.hpp"

#include "platform/bundle.hpp"

namespace scribbet::AddinCheck {

const std::string& mine() {
    static const std::string version = Bundle::main().version().value_or("?");
    return version;
}

} // namespace scribbet::AddinCheck
