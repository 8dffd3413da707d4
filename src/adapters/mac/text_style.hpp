#pragma once
// The two text styles of the program's own windows, as data: the log view's lines and the
// notice's label. The Objective-C++ side turns a style into an NSFont and an NSColor.
#include <string>

namespace scribbet::mac {

struct TextStyle {
    enum class Font { system, monospacedSystem };
    enum class Weight { regular };
    enum class Colour { label }; // the system's label colour, which follows light and dark mode

    Font font = Font::system;
    double size = 13;
    Weight weight = Weight::regular;
    Colour colour = Colour::label;
    friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

// The log's lines line up their time stamps: the monospaced system font, 11 points.
TextStyle logTextStyle();
// The notice: the system font at 13 points, wrapping at noticeWrapWidth.
TextStyle noticeTextStyle();
constexpr double noticeWrapWidth = 440;

// A text as AppKit may take it: valid UTF-8 (NSString refuses anything else and gives nil,
// which an attributed string or a label would not survive), invalid bytes as U+FFFD.
std::string appKitText(const std::string& utf8);

} // namespace scribbet::mac
