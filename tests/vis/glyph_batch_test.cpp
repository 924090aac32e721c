// The view's two painters give the plain drawing's picture, pixel for pixel, in crowded columns.
#include <random>
#include "vis/glyph_batch.h"
#include "vis/glyph_canvas.h"
#include "vis/plain_drawing.h"
#include "vis/view_test_util.h"

// Each way of painting draws the picture the plain way draws, pixel for pixel.
static void expect_painters_match_plain(CGL_Window* view, int round)
{
    view->make_current();
    draw_glyph_by_glyph(*view);
    const Pixels want = read_back(view->w(), view->h());
    for (auto painter : {CGL_Window::PAINT_QUADS, CGL_Window::PAINT_IMAGE}) {
        view->painter = painter;
        const Pixels got = render(view);
        ASSERT_EQ(got.rgb.size(), want.rgb.size());
        size_t i = std::mismatch(got.rgb.begin(), got.rgb.end(), want.rgb.begin()).first -
                   got.rgb.begin();
        ASSERT_EQ(i, got.rgb.size()) << "round " << round << ", painter " << painter
                                     << ": first difference at pixel (" << i / 3 % want.w << ", "
                                     << i / 3 / want.w << ")";
    }
}

class BatchedDrawing : public ShownView {
protected:
    unsigned seed = 7;

    unsigned next(unsigned n)
    {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    }
    // Random notes on a few channels and keys: crowded columns, held glyphs among fading ones.
    void play(int frames, int notes_per_frame)
    {
        std::multimap<int, MidiEvent> offs;  // by the frame they are due in
        for (int f = 0; f < frames; f++) {
            for (int n = 0; n < notes_per_frame; n++) {
                MidiEvent on = make_event(0, ME_NOTEON, (int)next(5), 40 + (int)next(24),
                                          (int)next(128));
                view->events.push(on);
                on.type = ME_NOTEOFF;
                offs.emplace(f + (int)next(30), on);
            }
            for (; !offs.empty() && offs.begin()->first <= f; offs.erase(offs.begin()))
                view->events.push(offs.begin()->second);
            view->nextFrame();
        }
    }
};

TEST_F(BatchedDrawing, CrowdedColumnsLookAsDrawnGlyphByGlyph)
{
    // Channel 2 has wide keys, channel 3 one velocity, channel 4 goes beyond its colours.
    channel[2].note_limit_low = 40, channel[2].note_limit_high = 52;
    channel[3].vel_limit_low = channel[3].vel_limit_high = 90;
    channel[4].vel_limit_low = 30, channel[4].vel_limit_high = 60;
    for (int ch = 0; ch < 5; ch++) {
        view->setColor(false, ch, ch % 3, 0.25f * (float)ch);
        view->setColor(true, ch, (ch + 1) % 3, 1.0f - 0.2f * (float)ch);
        view->setColor(true, ch, (ch + 2) % 3, 0.5f);
    }
    // Whole pixels, then half pixels (edges through pixel centres), and no fading.
    const std::pair<float, float> motions[] = {{5.0f, 0.04f}, {3.5f, 0.07f}, {2.25f, 0.0f}};
    for (auto m : motions) {
        SCOPED_TRACE(m.first);
        view->speed = m.first, view->fade = m.second;
        for (int round = 0; round < 6; round++) {
            play(15, 6);
            ASSERT_NO_FATAL_FAILURE(expect_painters_match_plain(view, round));
        }
    }
}

// Glyphs outside the view, empty or with swapped corners, edges on and near pixel centres (the
// odd height makes GL's mapping inexact), colour and alpha out of range: both paint as GL does.
TEST_F(BatchedDrawing, OddGlyphsEdgesBetweenPixelCentresAndColoursOutOfRange)
{
    const float fractions[] = {0.0f,   1 / 256.0f, 0.25f,  0.3f,       0.5f - 1 / 256.0f,
                               0.5f,   0.5f + 1 / 512.0f,  0.5f + 1 / 256.0f, 0.7f,
                               0.75f,  255 / 256.0f, 0.999f};
    const int nf = (int)(sizeof fractions / sizeof fractions[0]);
    for (int ch = 0; ch < 4; ch++) {
        view->setColor(false, ch, 0, -0.3f + 0.2f * (float)ch);
        view->setColor(false, ch, 1, 0.5f);
        view->setColor(true, ch, 1, 1.4f - 0.3f * (float)ch);
        view->setColor(true, ch, 2, 0.2f * (float)ch);
    }
    const float alphas[] = {1.0f, 0.5f, 1.0f / 510.0f, 1.0f / 508.0f, 0.999f, 1.7f,
                            0.37f, -0.5f, 0.0f, 0.02f};
    for (int round = 0; round < 4; round++) {
        for (Visual& v : view->visuals)
            v.glyphs.clear();
        for (int n = 0; n < 300; n++) {
            float x1 = (float)next(530) - 10.0f + fractions[next(nf)];
            float x2 = x1 + (float)next(30) + fractions[next(nf)];
            float y1 = (float)next(540) - 20.0f + fractions[next(nf)];
            float y2 = y1 + (float)next(120) + fractions[next(nf)];
            std::list<Glyph>& column = view->visuals[next(4)].glyphs[(int)next(8)];
            if (next(2))
                column.emplace_back((int)next(128), x1, x2, y1, y2);
            else
                column.emplace_back((int)next(128), x2, x1, y2, y1);
            column.back().alpha = alphas[next(10)];
        }
        ASSERT_NO_FATAL_FAILURE(expect_painters_match_plain(view, round));
    }
}

// What the batch leaves out, so that the pixel tests above do compare the batched path.
TEST(GlyphBatch, DropsWhatLaterOpaqueQuadsCover)
{
    const float solid[4] = {1.0f, 0.0f, 0.0f, 1.0f}, faint[4] = {0.0f, 1.0f, 0.0f, 0.5f},
                gone[4] = {0.0f, 0.0f, 1.0f, 0.0f};
    GlyphBatch batch;
    batch.clear(100, 100);
    batch.add(0, 4, 10, 20, faint);   // wholly under the next opaque one: dropped
    batch.add(0, 4, 0, 30, solid);    // the last one covers 25..30 of it
    batch.add(0, 4, 20, 40, faint);   // under the last one only in 25..35: cut in two
    batch.add(4, 8, 0, 50, faint);    // another column: kept whole
    batch.add(0, 4, 0, 20, gone);     // transparent: not taken
    batch.add(-9, 0, 0, 20, solid);   // ends at the view's left edge: not taken
    batch.add(0, 4, 25, 35, solid);   // last: kept whole
    batch.add(4, 4, 5, 15, faint);    // no width: not taken
    EXPECT_EQ(batch.quads(), 5);
    batch.dropCovered();
    std::vector<float> xy, rgba;
    batch.fill(&xy, &rgba);
    // (x1, bottom, top) of each quad sent, in painting order.
    std::vector<std::vector<float>> sent;
    for (size_t q = 0; q < xy.size(); q += 8)
        sent.push_back({xy[q], xy[q + 1], xy[q + 5]});
    EXPECT_EQ(sent, (std::vector<std::vector<float>>{
                        {0, 0, 25}, {0, 20, 25}, {0, 35, 40}, {4, 0, 50}, {0, 25, 35}}));
    ASSERT_EQ(rgba.size(), sent.size() * 16);
    EXPECT_EQ(rgba[16 * 1 + 3], 0.5f);  // a piece keeps its quad's colour
}

// The SSE2 blending of pixel runs against its one-at-a-time twin (which is compared with GL above).
TEST(GlyphCanvas, BlendingFourAtATimeEqualsOneAtATime)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    // Alpha at and next to the ends, where the kernel replaces or leaves pixels alone.
    const int edge_alphas[] = {0, 1, 2, 127, 128, 253, 254, 255};
    const int guard = 3;  // untouched pixels on each side of a run
    for (int trial = 0; trial < 4000; trial++) {
        int count = trial % 41;  // every tail length, after runs of 0..10 groups of four
        int offset = trial / 41 % 4;  // and runs starting at any pixel, not only aligned ones
        uint8_t rgba[4];
        for (uint8_t& c : rgba)
            c = (uint8_t)byte(random);
        if (trial % 3 == 0)
            rgba[3] = (uint8_t)edge_alphas[trial / 3 % 8];
        std::vector<uint32_t> got((size_t)(offset + count + 2 * guard));
        for (uint32_t& p : got)
            p = (uint32_t)random();
        std::vector<uint32_t> want = got;
        blend_pixels(got.data() + offset + guard, count, rgba);
        blend_pixels_scalar(want.data() + offset + guard, count, rgba);
        ASSERT_EQ(got, want) << "count " << count << ", offset " << offset << ", colour "
                             << (int)rgba[0] << " " << (int)rgba[1] << " " << (int)rgba[2]
                             << " alpha " << (int)rgba[3];
    }
}
