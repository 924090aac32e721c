// The colour scale beside the colour editor: the selected channel's low-velocity colour at
// the top, beside "min velocity", fading to its high-velocity colour at the bottom, beside
// "max velocity".
#ifndef CORVELLE_VIS_CGL_LEGEND_H
#define CORVELLE_VIS_CGL_LEGEND_H

#include <FL/Fl_Gl_Window.H>

class CGL_Legend : public Fl_Gl_Window {
public:
    float mincolor[3] = {0.0f, 0.0f, 0.0f};
    float maxcolor[3] = {1.0f, 1.0f, 1.0f};

    CGL_Legend(int x, int y, int w, int h, const char* label = nullptr);

    void init();
    void draw() override;
};

#endif
