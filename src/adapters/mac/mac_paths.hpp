#pragma once
// The macOS places: the log in the user's Logs folder, the ribbon helper in the
// presentation program's application-scripts folder. Plain C++, so it builds everywhere.
#include "ports/paths.hpp"

namespace scribbet::mac {

class MacPaths final : public Paths {
public:
    std::filesystem::path logFile() const override { return homeDirectory() / "Library/Logs/Scribbet.log"; }
    std::filesystem::path scriptsFolder() const override {
        return homeDirectory() / "Library/Application Scripts/com.microsoft.Powerpoint";
    }
};

} // namespace scribbet::mac
