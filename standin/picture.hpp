#pragma once
// The slide as the add-in exports it: a PNG picture at a given width, white background,
// every shape filled and outlined as it lies on the slide.
#include <string>
#include <string_view>

#include "model.hpp"

namespace scribbet::standin {

// PNG bytes, `widthPx` wide and as tall as the slide's proportions make it (at least 1 px);
// empty when the picture cannot be made.
std::string slidePicture(const Slide& slide, double slideW, double slideH, const Theme& theme, int widthPx);

// Standard Base64 with padding, as the add-in sends binary data in its text answers.
std::string base64(std::string_view bytes);

} // namespace scribbet::standin
