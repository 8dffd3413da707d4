#pragma once
// The main bundle's answers in plain C++: the glue reads NSBundle's values and these decide
// what the port reports.
#include <filesystem>
#include <optional>
#include <string>

namespace scribbet::mac {

// What the Info.plist holds under CFBundleShortVersionString, as the glue found it.
struct InfoValue {
    bool present = false;
    bool isString = false;
    std::string text; // when it is a string
};

// The short version only when it is a non-empty string: a number or a list there (a badly
// written Info.plist) is no version to compare the add-in's with.
std::optional<std::string> versionOf(const InfoValue& value);

// A path NSBundle gave as text; none for nil or empty.
std::optional<std::filesystem::path> pathOf(const std::optional<std::string>& text);

// Whether a resource may be looked up by this name and extension. An empty name would make
// pathForResource:ofType: answer with the first file of that extension, whichever it is, and a
// name that climbs out of the bundle ("../") is no resource of ours.
bool resourceNameUsable(const std::string& name, const std::string& ext);

} // namespace scribbet::mac
