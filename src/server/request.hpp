#pragma once
// One HTTP/1.1 request, and the parser that finds it in the bytes received so far.
// The parser keeps nothing itself: the connection keeps the buffer (and, to be spared
// reading it again, a Progress) and asks again after every chunk.
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
    class Progress;

    // Reads the buffer from its start.
    static Parse parse(std::string_view data);
    // Reads only what is new since the last call with the same progress, giving the answer
    // the call above gives for the whole buffer.
    static Parse parse(std::string_view data, Progress& progress);

    // Fills path and query from a request target (what follows the method).
    void setTarget(std::string_view target);

    friend bool operator==(const Request&, const Request&) = default;
};

// How far reading a growing buffer has got. A connection keeps one beside its buffer and
// hands both over after every chunk, so a request that trickles in a few bytes at a time
// costs about what it costs arriving whole: the search for the blank line carries on where
// it stopped, and a header block already read is not read again while the body arrives.
// One progress belongs to one buffer that only grows. It starts afresh by itself once a call
// has decided (ready or bad), and when it is handed a buffer shorter than the last one.
class Request::Progress {
public:
    Progress() = default;

private:
    friend struct Request;

    // Everything that is not answered in the header: the search for the end of the header
    // block over more than a few new bytes, and what comes after it.
    Parse read(std::string_view data);
    // The header block ends at `end`: reads it, and the body when that is there too.
    Parse readBlock(std::string_view data, std::size_t end);
    // The body has come: hands over the request.
    Parse finish(std::string_view data);
    void reset();

    std::size_t searched_ = 0;  // bytes known to hold no end of the header block
    std::size_t bodyStart_ = 0; // not 0 once the header block has been read into head_
    std::size_t length_ = 0;
    bool expectContinue_ = false;
    Request head_;
};

// Most calls while a request trickles in bring a few bytes and change nothing: the body is
// still short, or the new bytes hold no line feed and so no end of the header block (every
// end before them was looked for already). Those are answered here, in the caller's sight,
// because calling out and handing back a whole Parse would cost more than the looking.
inline Request::Parse Request::parse(std::string_view data, Progress& progress) {
    const auto size = data.size();
    if (progress.bodyStart_ != 0) {
        if (size >= progress.bodyStart_ && size - progress.bodyStart_ < progress.length_) {
            return Partial{progress.expectContinue_};
        }
    } else if (const auto seen = progress.searched_;
               seen <= size && size - seen <= 8 && size <= maxHead) {
        bool lineFeed = false;
        for (auto i = seen; i < size; ++i) lineFeed |= data[i] == '\n';
        if (!lineFeed) {
            progress.searched_ = size;
            return Partial{};
        }
    }
    return progress.read(data);
}

} // namespace scribbet
