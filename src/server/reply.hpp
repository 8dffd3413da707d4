#pragma once
// One HTTP answer: what the server writes back on a connection before closing it.
#include <string>

namespace scribbet {

struct Reply {
    int code = 200;
    std::string type; // the Content-Type value
    std::string body; // bytes

    friend bool operator==(const Reply&, const Reply&) = default;
};

} // namespace scribbet
