#pragma once
// One request of the wire (see adapters/linux/standin_link.hpp) and its answer: the
// program's macro events and scripts, the desktop's questions (running, windows, front,
// screens, activate, the accessibility interface) and the stand-in's own (state, set, quit,
// ax.tree).
#include <nlohmann/json.hpp>

#include "shared_model.hpp"

namespace scribbet::standin {

struct Handled {
    nlohmann::json answer;
    bool answered = true; // false: the stand-in ended while the program was still busy
    bool quit = false;    // the stand-in ends once this answer is sent
};

// May block for the program's reply delay (macros and scripts) or its accessibility delay
// (questions about its elements).
Handled handleRequest(SharedModel& shared, const nlohmann::json& request);

} // namespace scribbet::standin
