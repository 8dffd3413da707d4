#pragma once
// What the API's continuations share with it. An answer may come from the program's thread
// after the server and the Api are gone; what it touches lives here, held by every
// continuation, so it is there as long as the last of them.
#include <mutex>
#include <optional>
#include <string>

#include "program/ppt.hpp"
#include "server/api.hpp"
#include "server/placing_memory.hpp"

namespace scribbet {

struct Api::Shared {
    explicit Shared(Parts p) : parts(std::move(p)), placings(parts.ppt.clock()) {}
    Parts parts;
    PlacingMemory placings;
    std::mutex pictureLock;
    std::optional<std::string> png;   // the last slide picture
    std::string pngText;              // and the Base64 it came as: callers sharing one answer
                                      // decode it once
};

} // namespace scribbet
