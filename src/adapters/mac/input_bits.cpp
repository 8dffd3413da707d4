#include "adapters/mac/input_bits.hpp"

#include "adapters/mac/script_value.hpp"

namespace scribbet::mac::input_bits {

KeyEvent keyEventOf(std::uint64_t modifierFlags, std::u16string_view charactersIgnoringModifiers, bool inLayerPanel) {
    const std::uint64_t flags = modifierFlags & deviceIndependentMask;
    KeyEvent e;
    e.command = (flags & commandFlag) != 0;
    e.option = (flags & optionFlag) != 0;
    e.control = (flags & controlFlag) != 0;
    e.charactersIgnoringModifiers = utf8Of(charactersIgnoringModifiers);
    e.inLayerPanel = inLayerPanel;
    return e;
}

} // namespace scribbet::mac::input_bits
