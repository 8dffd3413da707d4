// Feeds arbitrary bytes to Request::parse. Besides crashes and sanitizer reports, it checks
// what must hold for every buffer, and aborts when a result breaks it.
#include <utf8proc.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/request.hpp"

using scribbet::Request;

namespace {

#define CHECK(cond)                                                                            \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "broken invariant at line %d: %s\n", __LINE__, #cond);        \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

constexpr std::string_view headEnd = "\r\n\r\n";

bool isUtf8(std::string_view s) {
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    auto left = static_cast<utf8proc_ssize_t>(s.size());
    while (left > 0) {
        utf8proc_int32_t cp;
        const auto n = utf8proc_iterate(p, left, &cp);
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

bool isTrimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return s.empty() || (!blank(s.front()) && !blank(s.back()));
}

// The declared length read with the standard library, not with the parser's own code.
long long declaredLength(const Request& r) {
    const auto it = r.headers.find("content-length");
    if (it == r.headers.end()) return 0;
    std::string_view text = it->second;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    CHECK(ec == std::errc{} && end == text.data() + text.size());
    return value;
}

void checkReady(std::string_view data, std::size_t end, const Request& r) {
    CHECK(end != std::string_view::npos);
    CHECK(!r.method.empty() && r.method.find(' ') == std::string::npos);
    CHECK(!r.headers.contains("transfer-encoding"));
    CHECK(r.body.size() <= Request::maxBody);
    CHECK(static_cast<long long>(r.body.size()) == declaredLength(r));
    CHECK(data.substr(end + headEnd.size(), r.body.size()) == r.body);

    CHECK(isUtf8(r.method) && isUtf8(r.path));
    for (const auto& [name, value] : r.headers) {
        CHECK(isUtf8(name) && isUtf8(value) && isTrimmed(name) && isTrimmed(value));
        for (const char c : name) CHECK(c < 'A' || c > 'Z');
    }
    for (const auto& [key, value] : r.query) CHECK(isUtf8(key) && isUtf8(value));

    // One byte short of the body (or of the blank line) is never a whole request.
    const auto whole = end + headEnd.size() + r.body.size();
    CHECK(!std::holds_alternative<Request>(Request::parse(data.substr(0, whole - 1))));
}

void checkBad(std::string_view data, std::size_t end, int status) {
    CHECK(status == 400 || status == 411 || status == 413 || status == 431);
    if (end == std::string_view::npos) {
        CHECK(status == 431 && data.size() > Request::maxHead);
        return;
    }
    CHECK(status != 431);
    // Refusals are decided by the header block alone, before any body byte.
    const auto headOnly = Request::parse(data.substr(0, end + headEnd.size()));
    CHECK(std::holds_alternative<Request::Bad>(headOnly));
    CHECK(std::get<Request::Bad>(headOnly).status == status);
}

// Handed over in chunks with one progress, as a connection hands it over, the buffer gets
// the answer it gets read whole, and so does every prefix on the way (small inputs only:
// each of those checks reads its prefix again). The chunk size comes from the data too;
// large inputs take larger chunks, so that no input costs more than a few hundred steps.
void checkInChunks(std::string_view data, const Request::Parse& whole) {
    const std::size_t small = data.empty() ? 1 : 1 + static_cast<unsigned char>(data.back()) % 24;
    const std::size_t chunk = std::max(small, data.size() / 256);
    const bool everyStep = data.size() <= 1024;
    Request::Progress progress;
    for (std::size_t n = std::min(chunk, data.size());; n = std::min(n + chunk, data.size())) {
        const auto step = Request::parse(data.substr(0, n), progress);
        if (n == data.size() || !std::holds_alternative<Request::Partial>(step)) {
            // A decided prefix decides the whole buffer the same way.
            CHECK(step == whole);
            return;
        }
        if (everyStep) CHECK(step == Request::parse(data.substr(0, n)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    const auto result = Request::parse(data);
    CHECK(Request::parse(data) == result);
    checkInChunks(data, result);

    const auto end = data.find(headEnd);
    if (end != std::string_view::npos && end > Request::maxHead) {
        CHECK(result == Request::Parse{Request::Bad{400}});
    }

    if (const auto* partial = std::get_if<Request::Partial>(&result)) {
        const bool open = end == std::string_view::npos;
        CHECK(!open || (!partial->expectContinue && size <= Request::maxHead));
        return 0;
    }
    if (const auto* request = std::get_if<Request>(&result)) {
        checkReady(data, end, *request);
    } else {
        checkBad(data, end, std::get<Request::Bad>(result).status);
    }

    // A decided buffer stays decided: later bytes change nothing.
    CHECK(Request::parse(std::string(data) + "x") == result);
    return 0;
}
