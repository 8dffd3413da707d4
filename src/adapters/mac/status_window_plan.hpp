#pragma once
// The status window as AppKit builds it: the window's style mask and, for each element of the
// core's layout, its frame and autoresizing mask. The core's frames are already in AppKit's
// convention for a content view that is not flipped (origin at the bottom left, y upwards),
// so "keeps its distance to the top" is a flexible bottom margin, and a window made taller
// moves those elements up with its top edge.
#include "ports/status_ui.hpp"

namespace scribbet::mac {

// NSWindowStyleMask.
namespace windowStyle {
constexpr unsigned long borderless = 0;
constexpr unsigned long titled = 1UL << 0;
constexpr unsigned long closable = 1UL << 1;
constexpr unsigned long miniaturizable = 1UL << 2;
constexpr unsigned long resizable = 1UL << 3;
constexpr unsigned long nonactivatingPanel = 1UL << 7;
} // namespace windowStyle

// NSAutoresizingMaskOptions.
namespace autoresizing {
constexpr unsigned long notSizable = 0;
constexpr unsigned long minXMargin = 1UL << 0;
constexpr unsigned long widthSizable = 1UL << 1;
constexpr unsigned long maxXMargin = 1UL << 2;
constexpr unsigned long minYMargin = 1UL << 3;
constexpr unsigned long heightSizable = 1UL << 4;
constexpr unsigned long maxYMargin = 1UL << 5;
} // namespace autoresizing

struct ElementPlan {
    Rect frame;
    unsigned long autoresizing = autoresizing::notSizable;
};

struct StatusWindowPlan {
    unsigned long styleMask = windowStyle::titled;
    StatusLayout::Size content, minimum;
    ElementPlan explanation, draw, accessibility, log;
};

// Sizes that are not finite or below zero count as zero, frames that are not finite as empty,
// and the content is never smaller than the minimum, which AppKit would otherwise enforce at
// the first resize, moving everything at once.
StatusWindowPlan statusWindowPlan(const StatusLayout& layout);

// Where AppKit's autoresizing puts a subview laid out at `frame` in a superview of `before`
// once the superview is `after`: each axis's change goes to its flexible parts (shared evenly
// when there are two or three), and without one the frame stays. What the plan's masks mean,
// so that the tests can hold them to the layout's words.
Rect autoresized(const Rect& frame, unsigned long mask, StatusLayout::Size before, StatusLayout::Size after);

} // namespace scribbet::mac
