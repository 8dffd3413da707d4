#pragma once
// The add-in's macros answer in a reply convention: "OK", "OK|" followed by fields, or
// "ERR|" followed by one sentence for the user. Only this file pair reads and writes those
// prefixes; everything else asks the value.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace scribbet {

struct MacroReply {
    bool ok = false;
    // The pieces after the first "|": an answer's fields ("OK" has none, "OK|" one empty
    // field); for a failure, its sentence cut at every "|".
    std::vector<std::string> parts;
    // A failure's sentence for the user; empty for an answer.
    std::string error;
    // The failure was that nothing answered to the macro: the add-in is not loaded.
    bool addinMissing = false;
    // The program did not answer in time: it may still be running the macro, so what the
    // macro did is not known.
    bool unsure = false;

    static MacroReply failure(std::string sentence, bool addinMissing = false);

    // An answer with fields, as every measuring macro gives; a bare "OK" has none.
    bool hasFields() const { return ok && !parts.empty(); }
    // The fields from `from` on as they came, "|" and all.
    std::string fields(std::size_t from = 0) const;
    // The reply in the convention.
    std::string text() const;

    friend bool operator==(const MacroReply&, const MacroReply&) = default;
};

// Splits a reply on every "|"; ok when the first piece is "OK". A text outside the
// convention is a failure whose sentence is the whole text.
MacroReply fromMacro(std::string_view reply);
// Whether a text is in the convention at all.
bool conventional(std::string_view reply);
// What a caller shows for a reply: a failure's sentence, any other reply's text unchanged.
std::string replyError(const MacroReply& reply);

} // namespace scribbet
