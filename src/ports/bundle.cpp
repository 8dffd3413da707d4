#include "ports/bundle.hpp"

namespace scribbet {

namespace {
// Used before a real bundle is installed: no version, no resources.
class EmptyBundle final : public Bundle {
public:
    std::optional<std::string> version() const override { return std::nullopt; }
    std::optional<std::filesystem::path> resourcesDirectory() const override { return std::nullopt; }
    std::filesystem::path bundleDirectory() const override { return {}; }
    std::optional<std::filesystem::path> resource(const std::string&, const std::string&) const override {
        return std::nullopt;
    }
};

std::shared_ptr<const Bundle>& mainBundle() {
    static std::shared_ptr<const Bundle> b = std::make_shared<EmptyBundle>();
    return b;
}
} // namespace

const Bundle& Bundle::main() { return *mainBundle(); }
void Bundle::setMain(std::shared_ptr<const Bundle> bundle) { mainBundle() = std::move(bundle); }

} // namespace scribbet
