#pragma once
// The per-user places the program writes to.
#include <filesystem>

namespace scribbet {

class Paths {
public:
    virtual ~Paths() = default;
    virtual std::filesystem::path logFile() const = 0;
    // The folder from which the presentation program lets its add-ins run scripts.
    virtual std::filesystem::path scriptsFolder() const = 0;
};

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path homeDirectory();

} // namespace scribbet
