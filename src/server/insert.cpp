// Placing a drawing: the page's path text and style go to the add-in unchanged; the
// program's view is put back where it was, and the page learns what was placed.
#include <utf8proc.h>

#include <charconv>

#include "app/text.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "powerpoint/addin_check.hpp"
#include "powerpoint/ppt.hpp"
#include "server/api.hpp"

namespace scribbet::Api {

namespace {
using nlohmann::json;

constexpr Duration firstRestore = std::chrono::milliseconds(150);
constexpr Duration secondRestore = std::chrono::milliseconds(300);

// Every character Unicode counts as a number; the rest (letters, blanks, signs) dropped.
std::string numericOnly(const std::string& s) {
    std::string out;
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(s.size());
    while (left > 0) {
        utf8proc_int32_t cp;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0) {
            n = 1;
            cp = -1;
        }
        const auto cat = cp >= 0 ? utf8proc_category(cp) : UTF8PROC_CATEGORY_CN;
        if (cat == UTF8PROC_CATEGORY_ND || cat == UTF8PROC_CATEGORY_NL || cat == UTF8PROC_CATEGORY_NO) {
            out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
        }
        p += n;
        left -= n;
    }
    return out;
}

// Lines split at every kind of line break, empty ones dropped.
std::vector<std::string> lines(const std::string& s) {
    static const std::vector<std::string> breaks = {"\r\n", "\n", "\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8",
                                                    "\xE2\x80\xA9"};
    std::vector<std::string> out;
    std::string current;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t matched = 0;
        for (const auto& b : breaks) {
            if (s.compare(i, b.size(), b) == 0) {
                matched = b.size();
                break;
            }
        }
        if (matched) {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
            i += matched;
        } else {
            current.push_back(s[i++]);
        }
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

std::optional<long long> integerText(const std::string& s) {
    std::string_view v(s);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    if (v.empty()) return std::nullopt;
    long long n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
    return n;
}

std::string trimmedText(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

// A replace list of blanks and commas names no shape: with no path, there is nothing to do.
bool namesShapes(const std::string& replace) {
    return replace.find_first_not_of(" \t\r\n\v\f,") != std::string::npos;
}
} // namespace

json Placed::json() const {
    nlohmann::json idValue;
    if (const auto n = integerText(id)) {
        idValue = *n;
    } else {
        idValue = id;
    }
    return {{"k", k},  {"name", name}, {"id", idValue}, {"l", left}, {"t", top},
            {"w", width}, {"h", height}, {"rot", rot},  {"fh", fh},   {"fv", fv}};
}

std::pair<long long, std::vector<Placed>> placed(const std::string& answer) {
    const auto all = lines(answer.size() > 3 ? answer.substr(3) : "");
    if (all.empty()) return {0, {}};
    const long long count = integerText(trimmedText(all[0])).value_or(static_cast<long long>(all.size()) - 1);
    std::vector<Placed> shapes;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const auto f = fields(all[i]);
        if (f.size() < 10) continue;
        auto num = [&](int c) { return number(nlohmann::json(f[c])).value_or(0); };
        shapes.push_back({integerText(f[0]).value_or(-1), f[1], f[2], num(3), num(4), num(5), num(6), num(7),
                          flag(f[8]), flag(f[9])});
    }
    return {count, shapes};
}

json insert(const json& body) {
    if (const auto problem = AddinCheck::problem()) return {{"ok", false}, {"msg", *problem}};
    const std::string path = string(body.value("path", json()), "");
    const std::string replace = string(body.value("replace", json()), "");
    // An empty path that replaces shapes is a removal: the page deleted what it had placed.
    if (trimmedText(path).empty() && !namesShapes(replace)) return {{"ok", false}, {"msg", "Nothing to place."}};
    const std::vector<std::string> args = {
        path,
        string(body.value("stroke", json()), "#1F1F1F"),
        string(body.value("width", json()), "1"),
        string(body.value("fill", json()), "none"),
        replace,
        numericOnly(string(body.value("slide", json()), "")),
    };
    const auto closeValue = body.find("close");
    const bool close = closeValue != body.end() && closeValue->is_boolean() && closeValue->get<bool>();

    if (close) MainQueue::shared().sync([] { Overlay::shared().suspend(true); });
    std::optional<PaneState> saved;
    PaneReader& reader = PaneReader::shared();
    if (AXAccess::trusted()) reader.queue().sync([&] { saved = reader.read(std::nullopt); });

    const std::string answer = PPT::run("SCBT_Insert", args);
    if (answer.rfind("OK", 0) == 0) {
        const auto [count, shapes] = placed(answer);
        log("Placed " + std::to_string(count) + " path(s) on the slide.");
        if (saved) {
            clock().sleepFor(firstRestore);
            reader.queue().sync([&] { reader.restore(*saved); });
            clock().sleepFor(secondRestore);
            reader.queue().sync([&] { reader.restore(*saved); });
        }
        if (close) MainQueue::shared().async([] { Overlay::shared().close(true); });
        json list = json::array();
        for (const auto& s : shapes) list.push_back(s.json());
        return {{"ok", true}, {"msg", "Placed on the slide as a PowerPoint freeform."}, {"shapes", list}};
    }
    const std::string msg = replyError(answer);
    log("Place FAILED: " + msg);
    if (close) MainQueue::shared().sync([] { Overlay::shared().suspend(false); });
    return {{"ok", false}, {"msg", msg}};
}

} // namespace scribbet::Api
