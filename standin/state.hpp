#pragma once
// The model as JSON, and changes to it by key, for `scribbet-standin ctl`, the "state" and
// "set" requests, and the --state file.
//
// The state's keys are the keys a "set" takes, so that a saved state can be loaded again;
// "addin", "link" and "ax" are objects whose members are set as "addin.version",
// "link.support", "ax.trusted" and so on. Read-only parts: "pid", "apps", "layout" (where the
// window's parts and the slide lie on the screen), "geometry" (the geometry answer the
// add-in would give now) and the accessibility counts "ax.prompts", "ax.searches" and
// "ax.generation".
#include <string>

#include <nlohmann/json.hpp>

#include "model.hpp"

namespace scribbet::standin {

nlohmann::json stateJson(const Model& model);

// Applies every KEY: VALUE of `values` (values may be JSON or the texts a command line
// gives, "1280,800" for a pair, "true", "never"); all or nothing. The error sentence, or
// empty when every key was applied.
std::string applyValues(Model& model, const nlohmann::json& values);

// Takes a saved state (stateJson's output, or any part of it) over the model; read-only
// parts are skipped. All or nothing, like applyValues.
std::string loadState(Model& model, const nlohmann::json& state);

} // namespace scribbet::standin
