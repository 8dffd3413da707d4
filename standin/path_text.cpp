#include "path_text.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "base/text.hpp"

namespace scribbet::standin {

namespace {
// Far beyond any slide; the program refuses shapes this far out, and so do we, before
// anything is placed.
constexpr double maxCoordinate = 1e6;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Walks the text by SVG's path grammar: numbers may be run together where a sign or a
// second decimal point starts the next one ("10-5", "1.5.5"), and a single comma may stand
// between two numbers.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool atEnd() {
        skipSpace();
        return i_ >= text_.size();
    }
    // The next character whole, as UTF-8; a byte that begins none is U+FFFD.
    std::string takeCharacter() {
        text::CodePoint cp = 0;
        const std::size_t n = text::codePointAt(text_, i_, cp);
        std::string out;
        if (cp < 0) {
            text::appendCodePoint(out, 0xFFFD);
        } else {
            out.assign(text_.substr(i_, n));
        }
        i_ += n;
        return out;
    }
    bool numberAhead() {
        skipSpace();
        if (i_ >= text_.size()) return false;
        const char c = text_[i_];
        return isDigit(c) || c == '.' || c == '+' || c == '-';
    }
    // A comma must be followed by another number.
    bool danglingComma() const { return comma_; }

    // The next number, or an error sentence in `error`.
    std::optional<double> number(std::string& error) {
        if (!numberAhead()) {
            error = "The drawing has a number missing.";
            return std::nullopt;
        }
        const std::size_t from = i_;
        if (text_[i_] == '+' || text_[i_] == '-') ++i_;
        const std::size_t digitsFrom = i_;
        int digits = 0;
        while (i_ < text_.size() && isDigit(text_[i_])) ++i_, ++digits;
        if (i_ < text_.size() && text_[i_] == '.') {
            ++i_;
            while (i_ < text_.size() && isDigit(text_[i_])) ++i_, ++digits;
        }
        if (digits == 0) {
            error = "The drawing has a number that cannot be read.";
            return std::nullopt;
        }
        if (i_ < text_.size() && (text_[i_] == 'e' || text_[i_] == 'E')) {
            std::size_t j = i_ + 1;
            if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
            if (j >= text_.size() || !isDigit(text_[j])) {
                error = "The drawing has a number that cannot be read.";
                return std::nullopt;
            }
            while (j < text_.size() && isDigit(text_[j])) ++j;
            i_ = j;
        }
        double value = 0;
        const auto [end, ec] = std::from_chars(text_.data() + digitsFrom, text_.data() + i_, value);
        if (ec != std::errc{} || end != text_.data() + i_ || !std::isfinite(value) ||
            std::fabs(value) > maxCoordinate) {
            error = "The drawing has a coordinate too far from the slide.";
            return std::nullopt;
        }
        if (text_[from] == '-') value = -value;
        skipSpace();
        comma_ = i_ < text_.size() && text_[i_] == ',';
        if (comma_) ++i_;
        return value;
    }

    std::optional<Point> point(std::string& error) {
        const auto x = number(error);
        if (!x) return std::nullopt;
        const auto y = number(error);
        if (!y) return std::nullopt;
        return Point{*x, *y};
    }

private:
    void skipSpace() {
        while (i_ < text_.size() && isSpace(text_[i_])) ++i_;
    }

    std::string_view text_;
    std::size_t i_ = 0;
    bool comma_ = false;
};

std::string commandError(const std::string& c) {
    if (c.size() == 1 && ((c[0] >= 'a' && c[0] <= 'z') || (c[0] >= 'A' && c[0] <= 'Z'))) {
        return "The drawing uses the path command \"" + c + "\", but only absolute M, L, C and Z are understood.";
    }
    return "The drawing has an unexpected character \"" + c + "\".";
}

// Reads the commands one by one; `current` is the subpath being built, none before the first
// M and after a Z (a new part must begin with M).
class PathBuilder {
public:
    explicit PathBuilder(std::string_view text) : in_(text) {}

    PathParse run() {
        if (in_.atEnd()) return fail("There is nothing to place: the drawing is empty.");
        while (!in_.atEnd()) {
            if (in_.danglingComma()) return fail("The drawing has a comma where a number should be.");
            const std::string taken = in_.takeCharacter();
            const char c = taken.size() == 1 ? taken[0] : '\0';
            const bool ok = c == 'M' ? moveTo() : c == 'L' ? lineTo() : c == 'C' ? curveTo() : c == 'Z' ? close()
                                                                                                : bad(commandError(taken));
            if (!ok) return fail(error_);
        }
        if (in_.danglingComma()) return fail("The drawing has a comma where a number should be.");
        if (!finishPart()) return fail(error_);
        return {std::move(done_), {}};
    }

private:
    bool bad(std::string sentence) {
        error_ = std::move(sentence);
        return false;
    }
    PathParse fail(std::string sentence) { return {{}, std::move(sentence)}; }

    bool finishPart() {
        if (!open_) return true;
        open_ = false;
        if (current_.segments.empty()) return bad("A part of the drawing has no lines or curves.");
        done_.push_back(std::move(current_));
        current_ = {};
        return true;
    }

    bool moveTo() {
        if (!finishPart()) return false;
        const auto p = in_.point(error_);
        if (!p) return false;
        current_ = Subpath{*p, {}, false};
        open_ = true;
        afterClose_ = false;
        // Further pairs after M are lines, as in SVG.
        while (in_.numberAhead()) {
            if (!addLine()) return false;
        }
        return true;
    }

    bool needOpen(char command) {
        if (open_ && !afterClose_) return true;
        if (afterClose_) return bad("A part of the drawing after Z must begin with M.");
        return bad(std::string("The drawing must begin with M, not ") + command + ".");
    }

    bool addLine() {
        const auto p = in_.point(error_);
        if (!p) return false;
        current_.segments.push_back({Segment::Kind::line, {}, {}, *p});
        return true;
    }

    bool lineTo() {
        if (!needOpen('L')) return false;
        do {
            if (!addLine()) return false;
        } while (in_.numberAhead());
        return true;
    }

    bool curveTo() {
        if (!needOpen('C')) return false;
        do {
            const auto c1 = in_.point(error_);
            if (!c1) return false;
            const auto c2 = in_.point(error_);
            if (!c2) return false;
            const auto to = in_.point(error_);
            if (!to) return false;
            current_.segments.push_back({Segment::Kind::cubic, *c1, *c2, *to});
        } while (in_.numberAhead());
        return true;
    }

    bool close() {
        if (!needOpen('Z')) return false;
        if (in_.numberAhead()) return bad("The drawing has numbers after Z.");
        current_.closed = true;
        afterClose_ = true;
        return true;
    }

    Reader in_;
    std::vector<Subpath> done_;
    Subpath current_;
    bool open_ = false;
    bool afterClose_ = false;
    std::string error_;
};

void put(std::string& out, double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, ec == std::errc{} ? end : buf);
}

void put(std::string& out, Point p) {
    out.push_back(' ');
    put(out, p.x);
    out.push_back(' ');
    put(out, p.y);
}

// The values of one coordinate along a cubic where it turns, for t strictly inside (0, 1).
std::vector<double> turningValues(double p0, double p1, double p2, double p3) {
    const double a = -p0 + 3 * p1 - 3 * p2 + p3;
    const double b = 2 * (p0 - 2 * p1 + p2);
    const double c = p1 - p0;
    std::vector<double> ts;
    if (std::fabs(a) < 1e-12) {
        if (std::fabs(b) > 1e-12) ts.push_back(-c / b);
    } else {
        const double d = b * b - 4 * a * c;
        if (d >= 0) {
            ts.push_back((-b + std::sqrt(d)) / (2 * a));
            ts.push_back((-b - std::sqrt(d)) / (2 * a));
        }
    }
    std::vector<double> values;
    for (double t : ts) {
        if (t <= 0 || t >= 1) continue;
        const double u = 1 - t;
        values.push_back(u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3);
    }
    return values;
}

struct Extent {
    double minX = std::numeric_limits<double>::infinity();
    double minY = std::numeric_limits<double>::infinity();
    double maxX = -std::numeric_limits<double>::infinity();
    double maxY = -std::numeric_limits<double>::infinity();
    void addX(double x) { minX = std::min(minX, x), maxX = std::max(maxX, x); }
    void addY(double y) { minY = std::min(minY, y), maxY = std::max(maxY, y); }
    void add(Point p) { addX(p.x), addY(p.y); }
};
} // namespace

PathParse parsePath(std::string_view text) { return PathBuilder(text).run(); }

std::string pathText(const std::vector<Subpath>& subpaths) {
    std::string out;
    for (const auto& s : subpaths) {
        if (!out.empty()) out.push_back(' ');
        out.push_back('M');
        put(out, s.start);
        for (const auto& seg : s.segments) {
            out += seg.kind == Segment::Kind::line ? " L" : " C";
            if (seg.kind == Segment::Kind::cubic) put(out, seg.c1), put(out, seg.c2);
            put(out, seg.to);
        }
        if (s.closed) out += " Z";
    }
    return out;
}

Rect bounds(const std::vector<Subpath>& subpaths) {
    Extent e;
    for (const auto& s : subpaths) {
        Point from = s.start;
        e.add(from);
        for (const auto& seg : s.segments) {
            e.add(seg.to);
            if (seg.kind == Segment::Kind::cubic) {
                for (double x : turningValues(from.x, seg.c1.x, seg.c2.x, seg.to.x)) e.addX(x);
                for (double y : turningValues(from.y, seg.c1.y, seg.c2.y, seg.to.y)) e.addY(y);
            }
            from = seg.to;
        }
    }
    if (e.minX > e.maxX) return {};
    return {e.minX, e.minY, e.maxX - e.minX, e.maxY - e.minY};
}

} // namespace scribbet::standin
