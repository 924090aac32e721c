// The note view: takes note events from the playback thread, turns them into glyphs that
// grow, rise and fade, and draws them with OpenGL.
#ifndef CORVELLE_VIS_CGL_WINDOW_H
#define CORVELLE_VIS_CGL_WINDOW_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>
#include <FL/Fl_Gl_Window.H>
#include "sysdep.h"
#include "frontend/miditrace.h"
#include "readmidi/event.h"
#include "vis/glyph.h"
#include "vis/glyph_batch.h"
#include "vis/glyph_canvas.h"
#include "vis/note_queue.h"

// The samples the audio device has played of the file, or -1 while it has played none yet
// since the start or the last seek: a note at the start (or where a seek went) waits until
// its sound has begun.
int32 heard_samples(void);

class CGL_Window : public Fl_Gl_Window {
public:
    float fps = 60.0f;      // frames per second of the animation timer
    float fade = 0.015f;    // alpha a released glyph loses per frame
    float speed = 5.0f;     // pixels an edge rises per frame
    std::atomic<bool> playing{false};  // written by the playback thread
    // The transport's notices, from the playback thread: the song is paused (the picture
    // stands still); a seek or stop dropped the sound, so what is held is let go.
    std::atomic<bool> paused{false};
    std::atomic<bool> let_go{false};
    // A seek while paused: the next frame empties the view and shows the new position, and
    // the picture stands still again.
    std::atomic<bool> moved_while_paused{false};
    // Where the sound starts: 0, or the position a seek went to. The play position reads that
    // until the device has played a frame of it.
    std::atomic<int32> sound_from{0};
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

    // Called with the text of a paste (a drop's URI list) that reaches the view.
    void (*onDrop)(const char* text) = nullptr;

    void init();
    void draw() override;
    int handle(int event) override;
    void nextFrame();
    bool hasGlyphs() const;
    // Forgets every glyph and queued note (a new song starts on an empty view).
    void clearNotes();
    // Where the listener is in the song, in samples: the device's position, or where the
    // sound starts (0, or the last seek's target) while it has played none of it.
    int32 shownPosition() const;
    // Glyphs keep their columns: their edges scale with the view's width.
    void resize(int x, int y, int w, int h) override;
    bool openMidi(const char* path);
    // Set by whoever opens a file for which the user has seen no chooser (the command line, a
    // drop): a file the reader refuses is then named in a message box, not only on the
    // standard streams.
    bool tellReaderFailure = false;
    // What the user is to be told about the last song once its playback thread has ended:
    // the audio output did not open ("Couldn't open output device: ..."), or the reader's
    // message; taken once, empty when there is nothing to tell.
    // from_reader tells whether it is the reader's refusal of the file.
    std::string takeFailureMessage(bool* from_reader = nullptr);

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

    std::mutex failure_lock;
    std::string failure_message;
    bool failure_from_reader = false;
    friend void* threadmain(void* path);
};

// The view's answer to the transport's notices (set as the transport hook while a song plays).
void view_transport_change(int change, int32 from, int32 to);

// The system's reason why the audio device is missing or could not be opened.
std::string output_failure_reason();

// The note hook: copies *ev into the queue of the one note view (dropped when there is none).
void enqueue_event(MidiEvent* ev);

// The playback thread: plays the file path (a copy of its own, freed at the end) with the
// note hook installed, and clears the view's playing flag when the file is done.
void* threadmain(void* path);

#endif
