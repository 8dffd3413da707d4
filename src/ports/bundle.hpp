#pragma once
// The application's bundle: its version and the resources it carries.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace scribbet {

class Bundle {
public:
    virtual ~Bundle() = default;
    // The short version string, when the bundle has one as text.
    virtual std::optional<std::string> version() const = 0;
    virtual std::optional<std::filesystem::path> resourcesDirectory() const = 0;
    virtual std::filesystem::path bundleDirectory() const = 0;
    // A resource file by name and extension, when the bundle has it.
    virtual std::optional<std::filesystem::path> resource(const std::string& name,
                                                          const std::string& ext) const = 0;
};

} // namespace scribbet
