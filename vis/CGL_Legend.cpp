#include "vis/CGL_Legend.h"

#include <FL/gl.h>
#include <GL/glu.h>

CGL_Legend::CGL_Legend(int x, int y, int w, int h, const char* label)
    : Fl_Gl_Window(x, y, w, h, label)
{
}

void CGL_Legend::init()
{
    glViewport(0, 0, w(), h());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, w(), 0, h());
    glMatrixMode(GL_MODELVIEW);
}

void CGL_Legend::draw()
{
    if (!valid())
        init();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glShadeModel(GL_SMOOTH);
    // The labels beside the scale read "min velocity" at the top and "max velocity" at the
    // bottom: the low colour is drawn at the top (GL's y grows upward).
    glBegin(GL_QUADS);
    glColor3fv(maxcolor);
    glVertex2f(0.0f, 0.0f);
    glVertex2f((float)w(), 0.0f);
    glColor3fv(mincolor);
    glVertex2f((float)w(), (float)h());
    glVertex2f(0.0f, (float)h());
    glEnd();
    glFlush();
}
