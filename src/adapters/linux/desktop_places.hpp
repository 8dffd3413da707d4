#pragma once
// Where the Linux program finds its resources and writes its files. The "bundle" is the
// program's own folder: the drawing page's "web" folder and the ribbon helper lie beside
// the executable (the build tree links them there from the project).
#include "ports/bundle.hpp"
#include "ports/paths.hpp"

namespace scribbet::linuxhost {

class ProgramBundle final : public Bundle {
public:
    // `folder` defaults to the folder of the running executable.
    explicit ProgramBundle(std::filesystem::path folder = {});
    std::optional<std::string> version() const override;
    std::optional<std::filesystem::path> resourcesDirectory() const override { return std::nullopt; }
    std::filesystem::path bundleDirectory() const override { return folder_; }
    std::optional<std::filesystem::path> resource(const std::string& name, const std::string& ext) const override;

private:
    std::filesystem::path folder_;
};

// XDG places: the log under $XDG_STATE_HOME, the ribbon helper in the desktop stand-in's
// scripts folder under $XDG_DATA_HOME.
class XdgPaths final : public Paths {
public:
    std::filesystem::path logFile() const override;
    std::filesystem::path scriptsFolder() const override;

    // An absolute $NAME, else home joined with `fallback`.
    static std::filesystem::path base(const char* name, const char* fallback);
};

} // namespace scribbet::linuxhost
