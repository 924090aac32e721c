// The glyph model: one mark per note and, per channel, the marks by key with the channel's
// two colours.
#ifndef CORVELLE_VIS_GLYPH_H
#define CORVELLE_VIS_GLYPH_H

#include <list>
#include <map>

// One note mark. The corners run (x1, y1), (x2, y1), (x2, y2), (x1, y2): y1 is the bottom
// edge and y2 the top edge, in view pixels with y growing upward.
struct Glyph {
    bool held;
    int value;  // velocity above the channel's low velocity limit
    float alpha;
    float corners[4][2];

    Glyph(int value, float x1, float x2, float y1, float y2)
        : held(true), value(value), alpha(1.0f),
          corners{{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}}
    {
    }
};

// One channel: the colour of its lowest and highest velocity, and its marks by key
// (the key counts from the channel's lowest playable note); each list keeps creation order.
struct Visual {
    float colors[2][3] = {{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}};
    std::map<int, std::list<Glyph>> glyphs;
};

#endif
