#pragma once
// One HTTP/1.1 request, and the parser that finds it in the bytes received so far.
// The parser is a pure function: the connection keeps the buffer and asks again after
// every chunk.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace scribbet {

struct Request {
    static constexpr std::size_t maxHead = 65536;    // header block, without the blank line
    static constexpr std::size_t maxBody = 67108864; // largest accepted content-length

    std::string method;                          // upper-cased
    std::string path;                            // percent-decoded when that gives UTF-8
    std::map<std::string, std::string> query;    // first occurrence of a name wins
    std::map<std::string, std::string> headers;  // names lower-cased; last occurrence wins
    std::string body;                            // bytes

    struct Partial {
        bool expectContinue = false;
        friend bool operator==(const Partial&, const Partial&) = default;
    };
    struct Bad {
        int status = 400; // 400, 411, 413 or 431
        friend bool operator==(const Bad&, const Bad&) = default;
    };
    using Parse = std::variant<Partial, Request, Bad>;

    static Parse parse(std::string_view data);

    friend bool operator==(const Request&, const Request&) = default;
};

} // namespace scribbet
