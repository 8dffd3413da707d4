#pragma once
// The add-in's macros as the program runs them for an incoming macro event: first whether
// the event reaches the program and a macro at all (the error numbers the event's sender
// sees), then the macro's own answer in the add-in's reply convention ("OK|..." or
// "ERR|" and a sentence).
#include <string>
#include <vector>

#include "model.hpp"

namespace scribbet::standin {

// Error numbers of the event's reply, as the system reports them.
inline constexpr int errNotRunning = -600;
inline constexpr int errParameter = -50;
inline constexpr int errNotHandled = -1708;
inline constexpr int errNotPermitted = -1743;

struct MacroReply {
    int errn = 0;
    std::string errs;   // empty when the reply carries no error text
    std::string direct; // the macro's answer, when it ran
};

// Runs the macro named in full (the add-in's prefix and the macro name), which may change
// the model (zoom, shapes, the links asked for).
MacroReply runMacro(Model& model, const std::string& fullName, const std::vector<std::string>& args);

// The numbers of the geometry answer, "|"-separated: slide width and height (points); the
// slide's left, top, right and bottom on the screen (points, or whole backing pixels of the
// window's screen when the model's units say so); zoom percent; the window's left, top,
// width and height (points); the slide's identifier; Fit (1 or 0); the editor's split
// percentage.
std::string geometryAnswer(const Model& model);

// A number as the add-in writes it: at most three decimals, no trailing zeros.
std::string num(double value);

} // namespace scribbet::standin
