// The note view without a toolkit: note events become glyphs, each frame step makes them grow,
// rise and fade, and a frame's glyphs become quads in painting order and, on the CPU, a
// picture. The window and the video export both draw through these.
#ifndef CORVELLE_VIS_NOTE_VIEW_H
#define CORVELLE_VIS_NOTE_VIEW_H

#include <deque>
#include "sysdep.h"
#include "readmidi/event.h"
#include "vis/glyph.h"
#include "vis/glyph_batch.h"
#include "vis/glyph_canvas.h"

// An event's time in output samples.
int64 note_sample_time(const MidiEvent& ev);

// A note-on becomes a glyph at the bottom of a view view_w pixels wide, lag_seconds tall (how
// late it is taken); a note-off lets go of the oldest held glyph of its key.
void take_note_event(Visual visuals[MAX_CHANNELS], const MidiEvent& ev, int view_w,
                     float lag_seconds);
void let_go_of_all(Visual visuals[MAX_CHANNELS]);

// One frame step in a view `top` pixels high: held glyphs grow by speed pixels, released ones
// rise by speed and lose fade of alpha; a glyph whose bottom reached the top goes. *shown gets
// the glyphs left, *moved those that changed.
void step_glyphs(Visual visuals[MAX_CHANNELS], float top, float speed, float fade,
                 long* shown, long* moved);
bool any_glyphs(const Visual visuals[MAX_CHANNELS]);

// The frame's quads for a view of width x height: channel 0 first, lower keys first, older
// glyphs first, each in its channel's colour for its velocity; what cannot show is dropped.
void batch_glyphs(const Visual visuals[MAX_CHANNELS], int width, int height, GlyphBatch* batch);
// The quads composed into canvas, which starts black.
void compose_glyphs(const GlyphBatch& batch, int width, int height, GlyphCanvas* canvas);

// The note view stepped by a sample clock instead of the audio device: the player's note
// events wait in order until a frame's clock reaches them.
struct OffscreenView {
    int width = 512, height = 503;
    float fade = 0.015f;  // alpha a released glyph loses per frame
    float speed = 5.0f;   // pixels an edge rises per frame
    int32 rate = 44100;   // output samples per second, for how late a note is taken
    Visual visuals[MAX_CHANNELS];
    std::deque<MidiEvent> pending;
    GlyphBatch batch;
    GlyphCanvas canvas;

    // Takes the events due at sample `now`, steps, and composes the frame into canvas.
    void frame(int64 now);
    bool empty() const { return pending.empty() && !any_glyphs(visuals); }
};

#endif
