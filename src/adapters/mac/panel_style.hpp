#pragma once
// How the layer's panel is made, in AppKit's numbers, in one place: borderless and
// non-activating (it takes keys without making Scribbet the active program, so the
// presentation program keeps its menus), on the floating level over normal windows, and
// allowed into the space of a full-screen window. mac_layer_panel.mm ties the numbers to the
// SDK's constants.
#include <cstdint>

namespace scribbet::mac::panel_style {

// NSWindowStyleMask: borderless is no bit at all; the non-activating panel is bit 7.
inline constexpr std::uint64_t borderless = 0;
inline constexpr std::uint64_t nonactivatingPanel = std::uint64_t{1} << 7;
inline constexpr std::uint64_t styleMask = borderless | nonactivatingPanel;

// NSBackingStoreBuffered.
inline constexpr std::uint64_t bufferedBacking = 2;

// NSFloatingWindowLevel (kCGFloatingWindowLevel).
inline constexpr long floatingLevel = 3;

// NSWindowCollectionBehaviorMoveToActiveSpace: bit 1. Brought to the front, the layer comes to
// the Space the user sees (the program's full screen included) instead of staying behind.
inline constexpr std::uint64_t moveToActiveSpace = std::uint64_t{1} << 1;
// NSWindowCollectionBehaviorFullScreenAuxiliary: bit 8. It may share a full-screen Space.
inline constexpr std::uint64_t fullScreenAuxiliary = std::uint64_t{1} << 8;
inline constexpr std::uint64_t collectionBehavior = moveToActiveSpace | fullScreenAuxiliary;

// NSWindowAnimationBehaviorNone: the layer appears and goes at once.
inline constexpr long noAnimation = 2;

inline constexpr const char* title = "Scribbet drawing layer";

} // namespace scribbet::mac::panel_style
