#include "picture.hpp"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace scribbet::standin {

namespace {
using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void tracePath(cairo_t* cr, const std::vector<Subpath>& subpaths) {
    cairo_new_path(cr);
    for (const auto& s : subpaths) {
        cairo_move_to(cr, s.start.x, s.start.y);
        for (const auto& seg : s.segments) {
            if (seg.kind == Segment::Kind::cubic) {
                cairo_curve_to(cr, seg.c1.x, seg.c1.y, seg.c2.x, seg.c2.y, seg.to.x, seg.to.y);
            } else {
                cairo_line_to(cr, seg.to.x, seg.to.y);
            }
        }
        if (s.closed) cairo_close_path(cr);
    }
}

void setColour(cairo_t* cr, const Rgba& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

// The program's triangle arrowhead at the end of an open line, in the line's colour, pointing
// the way the last segment leaves its end; its size grows with the line, as the program's does.
void drawArrowhead(cairo_t* cr, const Shape& shape) {
    if (shape.subpaths.empty() || shape.subpaths.back().closed || shape.subpaths.back().segments.empty()) return;
    const Subpath& s = shape.subpaths.back();
    const Segment& last = s.segments.back();
    const Point tip = last.to;
    Point from = s.segments.size() > 1 ? s.segments[s.segments.size() - 2].to : s.start;
    if (last.kind == Segment::Kind::cubic) from = last.c2.x != tip.x || last.c2.y != tip.y ? last.c2 : last.c1;
    const double dx = tip.x - from.x, dy = tip.y - from.y, len = std::hypot(dx, dy);
    if (!(len > 0)) return;
    const double ux = dx / len, uy = dy / len;
    const double length = 3 * std::max(shape.width, 1.0), half = 1.5 * std::max(shape.width, 1.0);
    cairo_new_path(cr);
    cairo_move_to(cr, tip.x, tip.y);
    cairo_line_to(cr, tip.x - ux * length - uy * half, tip.y - uy * length + ux * half);
    cairo_line_to(cr, tip.x - ux * length + uy * half, tip.y - uy * length - ux * half);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void drawShape(cairo_t* cr, const Shape& shape, const Theme& theme) {
    tracePath(cr, shape.subpaths);
    if (shape.fill.kind != Paint::Kind::none) {
        setColour(cr, shape.fill.resolve(theme));
        cairo_fill_preserve(cr);
    }
    if (shape.stroke.kind != Paint::Kind::none && shape.width > 0) {
        setColour(cr, shape.stroke.resolve(theme));
        cairo_set_line_width(cr, shape.width);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke_preserve(cr);
        if (shape.endArrowhead) drawArrowhead(cr, shape);
    }
    cairo_new_path(cr);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}
} // namespace

std::string slidePicture(const Slide& slide, double slideW, double slideH, const Theme& theme, int widthPx) {
    if (widthPx < 1 || !(slideW > 0) || !(slideH > 0)) return {};
    const int heightPx = std::max(1, static_cast<int>(std::lround(widthPx * slideH / slideW)));
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, widthPx, heightPx), cairo_surface_destroy);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return {};
    Context cr(cairo_create(surface.get()), cairo_destroy);
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    // Shapes are in slide points; one scale maps the whole slide onto the picture.
    cairo_scale(cr.get(), widthPx / slideW, heightPx / slideH);
    for (const auto& shape : slide.shapes) drawShape(cr.get(), shape, theme);
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return {};
    cairo_surface_flush(surface.get());
    std::string png;
    if (cairo_surface_write_to_png_stream(surface.get(), appendBytes, &png) != CAIRO_STATUS_SUCCESS) return {};
    return png;
}

std::string base64(std::string_view bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                       std::uint8_t(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(alphabet[(n >> shift) & 63]);
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (rest == 2) n |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        out.push_back(alphabet[(n >> 18) & 63]);
        out.push_back(alphabet[(n >> 12) & 63]);
        out.push_back(rest == 2 ? alphabet[(n >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

} // namespace scribbet::standin
