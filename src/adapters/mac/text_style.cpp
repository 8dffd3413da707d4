#include "adapters/mac/text_style.hpp"

#include "base/text.hpp"

namespace scribbet::mac {

TextStyle logTextStyle() {
    return {TextStyle::Font::monospacedSystem, 11, TextStyle::Weight::regular, TextStyle::Colour::label};
}

TextStyle noticeTextStyle() {
    return {TextStyle::Font::system, 13, TextStyle::Weight::regular, TextStyle::Colour::label};
}

std::string appKitText(const std::string& utf8) { return text::validUtf8(utf8); }

} // namespace scribbet::mac
