#pragma once
// The notice's panel as AppKit builds it: the window's style, where it may appear,
// the translucent background view, and the label's frame, from the frames the core placed.
#include <optional>

#include "ports/status_ui.hpp"

namespace scribbet::mac {

// NSWindowCollectionBehavior.
namespace collection {
constexpr unsigned long canJoinAllSpaces = 1UL << 0;
constexpr unsigned long fullScreenAuxiliary = 1UL << 8;
} // namespace collection

// NSVisualEffectMaterial, NSVisualEffectState, NSVisualEffectBlendingMode.
constexpr long hudWindowMaterial = 13;
constexpr long activeEffectState = 1;
constexpr long behindWindowBlending = 0;

struct NoticePanelPlan {
    Rect frame; // screen, bottom-left origin
    Rect label; // inside the panel's content view, which is not flipped
    unsigned long styleMask = 0;
    unsigned long collectionBehavior = 0;
    long material = hudWindowMaterial;
    long state = activeEffectState;
    long blending = behindWindowBlending;
    double cornerRadius = 10;
};

// None when the frame is not finite: a panel there would be nowhere the user can see or
// click, and the core's placement cannot produce one from finite sizes.
std::optional<NoticePanelPlan> noticePanelPlan(const Rect& frame, const Rect& label);

// The label's fitting size as the core may use it: whole points, rounded up so that the
// label's frame is never narrower than its text (one point less would wrap it once more and
// cut off its last line); not finite or below zero counts as zero.
NoticeUI::Size noticeFittingSize(double width, double height);

} // namespace scribbet::mac
