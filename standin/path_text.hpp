#pragma once
// The drawing's path text as the page hands it to the insert macro: SVG path data in slide
// points (origin at the slide's top-left corner), absolute commands only - M, L, C and Z.
// Each subpath begins with M and becomes one freeform, its lines as line segments and each
// C as one cubic segment, which is the form the program's freeform builder takes.
#include <string>
#include <string_view>
#include <vector>

#include "geometry.hpp"

namespace scribbet::standin {

struct Segment {
    enum class Kind { line, cubic };
    Kind kind = Kind::line;
    Point c1; // control points, for cubic
    Point c2;
    Point to;
    bool operator==(const Segment&) const = default;
};

struct Subpath {
    Point start;
    std::vector<Segment> segments;
    bool closed = false;
    bool operator==(const Subpath&) const = default;
};

struct PathParse {
    std::vector<Subpath> subpaths;
    std::string error; // one sentence for the user; empty when the whole text was read
    bool ok() const { return error.empty(); }
};

// Reads the whole text or nothing: any fault gives an error and no subpaths.
PathParse parsePath(std::string_view text);

// The path text of subpaths, written so that parsePath reads back the same numbers.
std::string pathText(const std::vector<Subpath>& subpaths);

// The smallest rectangle holding the drawn outline (curves by their true extent, not by
// their control points), as the program reports a freeform's position and size.
Rect bounds(const std::vector<Subpath>& subpaths);

} // namespace scribbet::standin
