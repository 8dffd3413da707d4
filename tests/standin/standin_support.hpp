#pragma once
// Shared by the stand-in's tests: a model in a known place, and the add-in's answers taken
// apart.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "macros.hpp"
#include "model.hpp"

namespace scribbet::standin::test {

// The standard desktop with the window at 100, 50, 1400 by 900 (on the 2x laptop screen),
// at 100 % without Fit.
inline Model placedModel() {
    Model m = Model::standard("1.2.3", 4242);
    m.window.frame = {100, 50, 1400, 900};
    m.window.fit = false;
    m.window.zoom = 100;
    return m;
}

inline std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> out;
    std::string piece;
    std::istringstream in(text);
    while (std::getline(in, piece, by)) out.push_back(piece);
    if (!text.empty() && text.back() == by) out.push_back("");
    return out;
}

inline std::vector<double> numbersOf(const std::string& answer) {
    std::vector<double> out;
    for (const auto& f : split(answer, '|')) out.push_back(std::stod(f));
    return out;
}

// The macro's direct answer; fails the test when the event did not reach it.
inline std::string run(Model& m, const std::string& name, const std::vector<std::string>& args = {}) {
    const MacroReply r = runMacro(m, m.addin.prefix + name, args);
    EXPECT_EQ(r.errn, 0) << r.errs;
    return r.direct;
}

inline std::string unbase64(const std::string& text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        const int v = value(c);
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

// A decoded PNG, read back with cairo.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // 0xAARRGGBB

    static Picture fromPng(const std::string& png) {
        struct Reader {
            const std::string& bytes;
            std::size_t at = 0;
        } reader{png};
        auto read = [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->at + length > r->bytes.size()) return CAIRO_STATUS_READ_ERROR;
            std::copy_n(r->bytes.data() + r->at, length, data);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        };
        cairo_surface_t* s = cairo_image_surface_create_from_png_stream(read, &reader);
        Picture p;
        if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
            p.width = cairo_image_surface_get_width(s);
            p.height = cairo_image_surface_get_height(s);
            const int stride = cairo_image_surface_get_stride(s);
            const unsigned char* data = cairo_image_surface_get_data(s);
            for (int y = 0; y < p.height; ++y) {
                const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
                p.pixels.insert(p.pixels.end(), row, row + p.width);
            }
        }
        cairo_surface_destroy(s);
        return p;
    }
    std::uint32_t rgb(int x, int y) const { return pixels.at(static_cast<std::size_t>(y * width + x)) & 0xFFFFFF; }
};

} // namespace scribbet::standin::test
