// The note view's picture composed on the CPU, for GL renderers that rasterise in software:
// there, one textured quad of the finished picture costs far less than thousands of glyph
// quads. Each glyph covers and blends exactly the pixels, and gives exactly the 8-bit values,
// that GL's quad would on such a renderer: a pixel is in when its centre is, counting the
// left and bottom edges and not the right and top ones, with the corners snapped to 1/256 of
// a pixel; colour and alpha go to 8 bits rounded to nearest, and each channel becomes
// src * a + dst * (255 - a), each product divided by 255 on its own, the sum saturated.
#ifndef CORVELLE_VIS_GLYPH_CANVAS_H
#define CORVELLE_VIS_GLYPH_CANVAS_H

#include <cstdint>
#include <vector>

class GlyphCanvas {
public:
    // Starts a frame of width x height pixels, all of them 0 (black, alpha 0: the view's
    // clear colour).
    void clear(int width, int height);
    // Blends the quad with corners (x1, y1) and (x2, y2), in view pixels with y upward, in
    // colour rgba (alpha last; every value taken within [0, 1]).
    void paint(float x1, float x2, float y1, float y2, const float rgba[4]);

    int width() const { return w; }
    int height() const { return h; }
    // The picture column by column, each column from the bottom: pixel (x, y) is
    // pixels()[x * height() + y], 4 bytes R, G, B, A. So a glyph's pixels are a few long
    // runs; drawn as a texture with its two coordinates swapped, it shows the right way up.
    const uint32_t* pixels() const { return image.data(); }

private:
    int w = 0, h = 0;
    std::vector<uint32_t> image;
};

// The pixels [*first, *end) of a row of size pixels that a quad edge to edge from a to b
// (either order) covers.
void covered_pixels(float a, float b, int size, int* first, int* end);

// Blends count 4-byte pixels at p with the colour rgba (8 bits each, alpha in rgba[3], which
// the alpha channel blends as well), four pixels at a time with SSE2.
void blend_pixels(uint32_t* p, int count, const uint8_t rgba[4]);
// The same one pixel at a time, as the reference for blend_pixels.
void blend_pixels_scalar(uint32_t* p, int count, const uint8_t rgba[4]);

#endif
