// The glyphs of one frame as vertex arrays for one GL draw call, in painting order, without
// the quads and parts of quads that cannot change the picture.
#ifndef CORVELLE_VIS_GLYPH_BATCH_H
#define CORVELLE_VIS_GLYPH_BATCH_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

class GlyphBatch {
public:
    // Starts a frame for a view of width x height pixels.
    void clear(int width, int height);
    // Appends the quad (x1, y1), (x2, y1), (x2, y2), (x1, y2) in colour rgba (alpha last)
    // unless it puts no pixel into the view: fully transparent, empty, or outside.
    void add(float x1, float x2, float y1, float y2, const float rgba[4]);
    // Leaves out what a later opaque quad of the same column (the same x1 and x2; alpha 1 or
    // more, which GL takes as 1) paints over: quads it covers whole, and the covered rows of
    // the others (such a quad is cut into the pieces that still show). An opaque quad
    // replaces the pixels under it, so nothing painted there before it counts; a cut along a
    // horizontal line gives the same pixels as the whole quad.
    void dropCovered();
    // The vertex arrays: 4 corners per quad, (x, y) each, and the colour of each corner.
    void fill(std::vector<float>* xy, std::vector<float>* rgba) const;
    // Calls paint(x1, x2, y1, y2, rgba) for every quad, or piece of one, that fill() sends,
    // in painting order.
    template <class Paint>
    void each(Paint paint) const;

    int quads() const { return (int)rects.size(); }

private:
    struct Rect {
        float x1, x2, y1, y2;  // as given; bottom/top order kept
        float rgba[4];
        int before;  // the previous quad of the same column in painting order, or -1
    };
    // What dropCovered left of a quad: count -1 for all of it, else count row ranges from
    // cut[first] on (none when it is hidden).
    struct Pieces {
        int first, count;
    };
    int view_w = 0, view_h = 0;
    std::vector<Rect> rects;
    // Last quad + 1 of each column, by the bits of its x1 and x2.
    std::unordered_map<uint64_t, int> last_in_column;
    bool covered_known = false;
    std::vector<Pieces> pieces;
    std::vector<std::pair<float, float>> cut;
};

template <class Paint>
void GlyphBatch::each(Paint paint) const
{
    for (size_t i = 0; i < rects.size(); i++) {
        const Rect& r = rects[i];
        if (!covered_known || pieces[i].count < 0) {
            paint(r.x1, r.x2, r.y1, r.y2, r.rgba);
            continue;
        }
        for (int k = 0; k < pieces[i].count; k++) {
            const auto& piece = cut[(size_t)(pieces[i].first + k)];
            paint(r.x1, r.x2, piece.first, piece.second, r.rgba);
        }
    }
}

#endif
