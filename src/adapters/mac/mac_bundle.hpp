#pragma once
// The application's bundle (Foundation's main NSBundle) behind the port. Any thread.
#include "ports/bundle.hpp"

namespace scribbet::mac {

class MacBundle final : public Bundle {
public:
    std::optional<std::string> version() const override;
    std::optional<std::filesystem::path> resourcesDirectory() const override;
    std::filesystem::path bundleDirectory() const override;
    std::optional<std::filesystem::path> resource(const std::string& name, const std::string& ext) const override;
};

} // namespace scribbet::mac
