#include "vis/glyph_batch.h"

#include <algorithm>
#include <cstring>

void GlyphBatch::clear(int width, int height)
{
    view_w = std::max(0, width);
    view_h = std::max(0, height);
    rects.clear();
    last_in_column.clear();
    covered_known = false;
}

void GlyphBatch::add(float x1, float x2, float y1, float y2, const float color[4])
{
    // Not (alpha > 0) rather than alpha <= 0: a NaN alpha leaves the picture alone too.
    if (!(color[3] > 0.0f) || x1 == x2 || y1 == y2)
        return;
    float left = std::min(x1, x2), right = std::max(x1, x2);
    float bottom = std::min(y1, y2), top = std::max(y1, y2);
    if (right <= 0.0f || left >= (float)view_w || top <= 0.0f || bottom >= (float)view_h)
        return;
    Rect r{x1, x2, y1, y2, {color[0], color[1], color[2], color[3]}, -1};
    uint32_t a, b;
    memcpy(&a, &x1, sizeof a);
    memcpy(&b, &x2, sizeof b);
    int& last = last_in_column[((uint64_t)a << 32) | b];
    r.before = last - 1;
    last = (int)rects.size() + 1;  // 0 in a new map entry means none
    rects.push_back(r);
}

// The parts of [lo, hi) that no interval of the sorted, disjoint list covers, appended to out.
static void uncovered(float lo, float hi, const std::vector<std::pair<float, float>>& covered,
                      std::vector<std::pair<float, float>>* out)
{
    for (const auto& c : covered) {
        if (c.second <= lo)
            continue;
        if (c.first >= hi)
            break;
        if (c.first > lo)
            out->push_back({lo, c.first});
        lo = std::max(lo, c.second);
        if (lo >= hi)
            return;
    }
    out->push_back({lo, hi});
}

// Adds [lo, hi) to the sorted, disjoint list, merging what touches or overlaps it.
static void cover(float lo, float hi, std::vector<std::pair<float, float>>* covered)
{
    auto first = covered->begin();
    while (first != covered->end() && first->second < lo)
        ++first;
    auto end = first;
    while (end != covered->end() && end->first <= hi) {
        lo = std::min(lo, end->first);
        hi = std::max(hi, end->second);
        ++end;
    }
    first = covered->erase(first, end);
    covered->insert(first, {lo, hi});
}

void GlyphBatch::dropCovered()
{
    pieces.assign(rects.size(), Pieces{0, 0});
    cut.clear();
    std::vector<std::pair<float, float>> covered, visible;
    for (const auto& column : last_in_column) {
        covered.clear();
        // Later quads first: what they cover is known when an earlier one is reached.
        for (int i = column.second - 1; i >= 0; i = rects[(size_t)i].before) {
            const Rect& r = rects[(size_t)i];
            float lo = std::min(r.y1, r.y2), hi = std::max(r.y1, r.y2);
            visible.clear();
            uncovered(lo, hi, covered, &visible);
            Pieces& p = pieces[(size_t)i];
            if (visible.size() == 1 && visible[0].first == lo && visible[0].second == hi) {
                p.count = -1;  // whole
            } else {
                p.first = (int)cut.size();
                p.count = (int)visible.size();
                cut.insert(cut.end(), visible.begin(), visible.end());
            }
            if (r.rgba[3] >= 1.0f)
                cover(lo, hi, &covered);
        }
    }
    covered_known = true;
}

void GlyphBatch::fill(std::vector<float>* xy, std::vector<float>* rgba) const
{
    xy->clear();
    rgba->clear();
    each([&](float x1, float x2, float y1, float y2, const float color[4]) {
        const float corners[8] = {x1, y1, x2, y1, x2, y2, x1, y2};
        xy->insert(xy->end(), corners, corners + 8);
        for (int k = 0; k < 4; k++)
            rgba->insert(rgba->end(), color, color + 4);
    });
}
