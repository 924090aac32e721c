// The note view: takes note events from the playback thread, turns them into glyphs that
// grow, rise and fade, and draws them with OpenGL.
#ifndef CORVELLE_VIS_CGL_WINDOW_H
#define CORVELLE_VIS_CGL_WINDOW_H

#include <atomic>
#include <vector>
#include <FL/Fl_Gl_Window.H>
#include "sysdep.h"
#include "frontend/miditrace.h"
#include "readmidi/event.h"
#include "vis/glyph.h"
#include "vis/glyph_batch.h"
#include "vis/glyph_canvas.h"
#include "vis/note_queue.h"

// The samples the audio device has played of the file, or -1 while it has played none yet: a
// note at sample 0 waits until its sound has begun.
int32 heard_samples(void);

class CGL_Window : public Fl_Gl_Window {
public:
    float fps = 60.0f;      // frames per second of the animation timer
    float fade = 0.015f;    // alpha a released glyph loses per frame
    float speed = 5.0f;     // pixels an edge rises per frame
    std::atomic<bool> playing{false};  // written by the playback thread
    NoteQueue events;
    Visual visuals[MAX_CHANNELS];
    // The play position in output samples, -1 when unknown.
    int32 (*play_position)(void) = heard_samples;
    // How draw() paints the glyphs: as GL quads, or composed into a picture on the CPU and
    // shown as one texture, which is far cheaper where GL rasterises in software. init()
    // chooses by the GL renderer while it is PAINT_BY_RENDERER; both give the same pixels.
    enum Painter { PAINT_BY_RENDERER, PAINT_QUADS, PAINT_IMAGE };
    Painter painter = PAINT_BY_RENDERER;

    CGL_Window(int x, int y, int w, int h, const char* label = nullptr);
    ~CGL_Window() override;
    CGL_Window(const CGL_Window&) = delete;
    CGL_Window& operator=(const CGL_Window&) = delete;

    void init();
    void draw() override;
    void nextFrame();
    bool hasGlyphs() const;
    bool openMidi(const char* path);

    float getColor(bool high, int ch, int component) const;
    void setColor(bool high, int ch, int component, float value);
    const char* getInstru(int ch) const;
    int getMinimum(int ch) const;
    int getMaximum(int ch) const;

private:
    GlyphBatch batch;  // this frame's quads, rebuilt by every draw
    std::vector<float> vertex_xy, vertex_rgba;
    GlyphCanvas canvas;
    unsigned int image_texture = 0;  // GL name of the texture showing canvas, 0 before
    int texture_w = 0, texture_h = 0;

    void drawQuads();
    void drawImage();

    void takeEvent(const MidiEvent& ev, int32 now);
};

// The note hook: copies *ev into the queue of the one note view (dropped when there is none).
void enqueue_event(MidiEvent* ev);

// The playback thread: plays the file path (a copy of its own, freed at the end) with the
// note hook installed, and clears the view's playing flag when the file is done.
void* threadmain(void* path);

#endif
