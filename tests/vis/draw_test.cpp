// What the note view and the legend put on screen, read back from real windows' GL framebuffer.
#include "vis/CGL_Legend.h"
#include "vis/view_test_util.h"

using Drawing = ShownView;

TEST_F(Drawing, GlyphColumnAndVelocityColourOfEachChannel)
{
    EXPECT_TRUE(rgb_near(render(view), 256, 250, 0, 0, 0));

    note(ME_NOTEON, 0, 60, 64);
    note(ME_NOTEON, 0, 70, 127);
    note(ME_NOTEON, 1, 80, 0);
    view->setColor(false, 1, 2, 0.5f);  // low colour (0, 0, 0.5): velocity 0 shows dark blue
    EXPECT_FLOAT_EQ(view->getColor(false, 1, 2), 0.5f);
    EXPECT_FLOAT_EQ(view->getColor(false, 0, 2), 0.0f);
    note(ME_NOTEON, 2, 10, 0);
    view->setColor(false, 2, 0, 1.0f);  // only channel 3's low colour turns red
    note(ME_NOTEON, 2, 20, 127);
    channel[3].vel_limit_low = channel[3].vel_limit_high = 100;  // one velocity: the high colour
    view->setColor(true, 3, 0, 0.0f);
    view->setColor(true, 3, 2, 0.0f);  // high colour green
    note(ME_NOTEON, 3, 50, 100);
    note(ME_NOTEON, 3, 51, 20);
    view->nextFrame();
    Pixels p = render(view);
    // 64 / 127 of the way from black to white is 128 of 255; x 240..244, 5 tall after a frame.
    for (int x = 240; x < 244; x++)
        for (int y = 0; y < 5; y++)
            EXPECT_TRUE(rgb_near(p, x, y, 128, 128, 128));
    const int expect[][5] = {{239, 2, 0, 0, 0},     {244, 2, 0, 0, 0},   {241, 5, 0, 0, 0},
                             {282, 2, 255, 255, 255}, {322, 2, 0, 0, 128}, {42, 2, 255, 0, 0},
                             {82, 2, 255, 255, 255},  {202, 2, 0, 255, 0}, {206, 2, 0, 255, 0}};
    for (auto& e : expect)
        EXPECT_TRUE(rgb_near(p, e[0], e[1], e[2], e[3], e[4]));
}

TEST_F(Drawing, FadingGlyphBlendsAndProjectionFollowsResize)
{
    view->fade = 0.5f;
    note(ME_NOTEON, 0, 60, 127);
    note(ME_NOTEON, 0, 70, 127);  // held throughout
    view->nextFrame();
    note(ME_NOTEOFF, 0, 60);
    view->nextFrame();  // alpha 0.5, bottom edge at 5
    EXPECT_TRUE(rgb_near(render(view), 241, 7, 128, 128, 128, 2));
    view->nextFrame();  // alpha 0: still there, but leaves the background
    ASSERT_EQ(view->visuals[0].glyphs[60].size(), 1u);
    EXPECT_TRUE(rgb_near(render(view), 241, 12, 0, 0, 0));

    view->size(300, 200);
    run_toolkit_for(0.1);
    Pixels p = render(view);
    ASSERT_EQ(p.w, 300);
    // One unit per pixel, the glyph in its key's column: x 280..284 of 512 is 164.1..166.4 of 300.
    EXPECT_TRUE(rgb_near(p, 165, 2, 255, 255, 255));
    EXPECT_TRUE(rgb_near(p, 281, 2, 0, 0, 0));
    view->nextFrame();
    EXPECT_FLOAT_EQ(view->visuals[0].glyphs[70].front().corners[2][1], 20.0f);
    for (int i = 0; i < 50; i++)
        view->nextFrame();
    EXPECT_FLOAT_EQ(view->visuals[0].glyphs[70].front().corners[2][1], 200.0f);  // the new height
}

using Legend = OnDisplay;

TEST_F(Legend, ShowsLowColourAtTheTopBesideMinVelocityFadingToHighAtTheBottom)
{
    CGL_Legend legend(0, 0, 25, 89, "legend");
    legend.end();
    ASSERT_TRUE(show_and_wait(&legend));
    Pixels p = render(&legend);  // rows from the bottom
    for (int y = 1; y < 89; y++)
        EXPECT_LE(p.at(12, y)[0], p.at(12, y - 1)[0]) << "row " << y;
    legend.maxcolor[1] = legend.maxcolor[2] = 0.0f;  // black at the top to red at the bottom
    Pixels red = render(&legend);
    for (int y : {0, 44, 88}) {
        int v = (255 * (88 - y) + 44) / 88;
        EXPECT_TRUE(rgb_near(p, 12, y, v, v, v, 3));
        EXPECT_TRUE(rgb_near(red, 20, y, v, 0, 0, 3));
    }
    // The first drawing of a new legend (in a new GL context) sets up its own projection.
    CGL_Legend fresh(0, 0, 40, 120, "legend");
    fresh.end();
    fresh.show();
    Pixels first = render(&fresh);
    EXPECT_TRUE(rgb_near(first, 39, 119, 0, 0, 0, 3));
    EXPECT_TRUE(rgb_near(first, 0, 0, 255, 255, 255, 3));
}
