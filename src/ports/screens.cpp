#include "ports/screens.hpp"

namespace scribbet {

std::vector<double> backingScales(const Screens& screens) {
    std::vector<double> scales;
    for (const auto& s : screens.screens()) scales.push_back(s.backingScale);
    return scales;
}

} // namespace scribbet
