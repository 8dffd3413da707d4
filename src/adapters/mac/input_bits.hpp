#pragma once
// AppKit's event numbers as the input monitors use them: the event types and masks the
// monitors ask for, and the modifier-flag bits a key event carries. The numbers are Apple's
// (NSEventType, NSEventMask, NSEventModifierFlags); mac_input.mm ties each one to the SDK's
// constant at compile time.
#include <cstdint>
#include <string_view>

#include "ports/input_monitors.hpp"

namespace scribbet::mac::input_bits {

// NSEventType values.
inline constexpr int leftMouseUpType = 2;
inline constexpr int keyDownType = 10;
inline constexpr int scrollWheelType = 22;
inline constexpr int magnifyType = 30;

// As NSEventMaskFromType makes a mask of a type.
constexpr std::uint64_t maskOf(int type) { return std::uint64_t{1} << type; }

// The local monitor: this program's key presses.
inline constexpr std::uint64_t keyMask = maskOf(keyDownType);
// The global monitor: a click ending, a scroll or a pinch in another program, any of which
// may have moved or zoomed the slide under the layer.
inline constexpr std::uint64_t mouseMask = maskOf(leftMouseUpType) | maskOf(scrollWheelType) | maskOf(magnifyType);

// NSEventModifierFlags. The low 16 bits are the device's own (which side's key, coalescing)
// and say nothing about which modifiers are held.
inline constexpr std::uint64_t deviceIndependentMask = 0xFFFF0000u;
inline constexpr std::uint64_t shiftFlag = 1u << 17;
inline constexpr std::uint64_t controlFlag = 1u << 18;
inline constexpr std::uint64_t optionFlag = 1u << 19;
inline constexpr std::uint64_t commandFlag = 1u << 20;

// A key-down as the layer reads it: Command, Option and Control from the flags (Shift, Caps
// Lock and the function key are not the layer's business), the characters ignoring
// modifiers as UTF-8, and whether it was meant for the layer's panel.
KeyEvent keyEventOf(std::uint64_t modifierFlags, std::u16string_view charactersIgnoringModifiers, bool inLayerPanel);

} // namespace scribbet::mac::input_bits
