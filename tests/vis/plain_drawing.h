// The view's picture drawn one glBegin/glEnd quad per glyph: the reference for its painters.
#ifndef CORVELLE_TESTS_VIS_PLAIN_DRAWING_H
#define CORVELLE_TESTS_VIS_PLAIN_DRAWING_H

#include <FL/gl.h>
#include "play/channels.h"
#include "vis/CGL_Window.h"

// Draws into the current GL context, which must be the view's.
inline void draw_glyph_by_glyph(const CGL_Window& view)
{
    glClear(GL_COLOR_BUFFER_BIT);
    for (int ch = 0; ch < MAX_CHANNELS; ch++) {
        const float* low = view.visuals[ch].colors[0];
        const float* high = view.visuals[ch].colors[1];
        float span = (float)(channel[ch].vel_limit_high - channel[ch].vel_limit_low);
        for (const auto& entry : view.visuals[ch].glyphs) {
            for (const Glyph& g : entry.second) {
                if (g.alpha <= 0.0f)
                    continue;
                float v = (float)g.value;
                if (span == 0.0f)
                    glColor4f(high[0], high[1], high[2], g.alpha);
                else
                    glColor4f(low[0] + v * (high[0] - low[0]) / span,
                              low[1] + v * (high[1] - low[1]) / span,
                              low[2] + v * (high[2] - low[2]) / span, g.alpha);
                glBegin(GL_QUADS);
                for (const float* corner : g.corners)
                    glVertex2fv(corner);
                glEnd();
            }
        }
    }
}

#endif
