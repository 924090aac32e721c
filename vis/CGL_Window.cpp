#include "vis/CGL_Window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <FL/Fl.H>
#include <FL/fl_ask.H>
#include <FL/gl.h>
#include <GL/glu.h>
#include "frontend/controls.h"
#include "frontend/startup.h"
#include "frontend/transport.h"
#include "platform/waveout.h"
#include "output/output.h"
#include "platform/thread.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "render/resample.h"
#include "vis/note_view.h"
#include "vis/view_trace.h"

static CGL_Window* win = nullptr;

int32 heard_samples(void)
{
    int32 played = current_trace_samples();
    CGL_Window* view = win;
    return played == (view != nullptr ? view->sound_from.load() : 0) ? -1 : played;
}

void enqueue_event(MidiEvent* ev)
{
    CGL_Window* view = win;
    if (view)
        view->events.push(*ev);
}

CGL_Window::CGL_Window(int x, int y, int w, int h, const char* label)
    : Fl_Gl_Window(x, y, w, h, label)
{
    win = this;
    // A window tells the user that there is no audio device, and stays.
    exit_without_output_device = 0;
}

CGL_Window::~CGL_Window()
{
    if (win == this)
        win = nullptr;
}

void CGL_Window::takeEvent(const MidiEvent& ev, int32 now)
{
    float lag = 0.0f;
    if (play_mode && play_mode->rate > 0)
        lag = (float)((now - note_sample_time(ev)) / play_mode->rate);
    take_note_event(visuals, ev, w(), lag);
}

void view_transport_change(int change, int32 from, int32 to)
{
    CGL_Window* view = win;
    if (view == nullptr)
        return;
    switch (change) {
    case TRANSPORT_PAUSE:
        view->paused = true;
        trace_transport("pause", from, to);
        break;
    case TRANSPORT_RESUME:
        view->paused = false;
        trace_transport("resume", from, to);
        break;
    case TRANSPORT_STOP:
    case TRANSPORT_SEEK:
        // Queued notes were rendered for sound that is now dropped: they will never be heard.
        view->events.clear();
        view->let_go = true;
        if (change == TRANSPORT_SEEK)
            view->sound_from = to;
        if (change == TRANSPORT_STOP)
            view->paused = false;
        else if (view->paused)
            view->moved_while_paused = true;  // a seek while paused stays paused
        trace_transport(change == TRANSPORT_STOP ? "stop" : "seek", from, to);
        break;
    default:
        break;
    }
}

void CGL_Window::nextFrame()
{
    // A seek that clears the queue after the position was read moves the position too: no
    // event is taken against the old one.
    unsigned epoch = events.epoch();
    int32 now = play_position();
    bool standing = paused;
    MidiEvent ev;
    // Notes heard before the sound stopped still appear, as they would have at this frame.
    auto due = [now](const MidiEvent& e) { return note_sample_time(e) <= now; };
    while (now >= 0 && events.pop_if(due, &ev, epoch))
        takeEvent(ev, now);
    if (moved_while_paused.exchange(false))
        for (Visual& visual : visuals)
            visual.glyphs.clear();
    if (let_go.exchange(false))
        let_go_of_all(visuals);

    long shown = 0, moved = 0;
    if (standing) {  // paused: nothing rises, grows or fades
        for (const Visual& visual : visuals)
            for (const auto& entry : visual.glyphs)
                shown += (long)entry.second.size();
    } else {
        step_glyphs(visuals, (float)h(), speed, fade, &shown, &moved);
    }
    trace_frame(now, shown, moved);
}

bool CGL_Window::hasGlyphs() const
{
    return any_glyphs(visuals);
}

void CGL_Window::clearNotes()
{
    events.clear();
    for (Visual& visual : visuals)
        visual.glyphs.clear();
    let_go = false;
    moved_while_paused = false;
}

int32 CGL_Window::shownPosition() const
{
    int32 at = play_position();
    return at >= 0 ? at : sound_from.load();
}

void CGL_Window::resize(int x, int y, int w, int h)
{
    int was = this->w();
    if (was > 0 && w != was) {
        float scale = (float)w / (float)was;
        for (Visual& visual : visuals)
            for (auto& entry : visual.glyphs)
                for (Glyph& g : entry.second)
                    for (auto& corner : g.corners)
                        corner[0] *= scale;
    }
    Fl_Gl_Window::resize(x, y, w, h);
}

bool CGL_Window::openMidi(const char* path)
{
    if (!path)
        return false;
    if (playing || hasGlyphs()) {
        fl_message("A midi is already playing.");
        return false;
    }
    corvelle_start_initialize();
    if (play_mode == nullptr) {
        std::string why = output_failure_reason();
        fprintf(stderr, "Couldn't open output device: %s\n", why.c_str());
        fl_message("Couldn't open output device: %s", why.c_str());
        return false;
    }
    if (corvelle_pre_load_configuration() != 0 || corvelle_post_load_configuration() != 0) {
        fl_message("Could not find corvelle.cfg.");
        return false;
    }
    // The chooser's text changes after this returns: the thread plays its own copy. Playing
    // starts now, so that the frame timer's first tick already sees it.
    char* copy = strdup(path);
    if (copy == nullptr)
        return false;
    playing = true;
    Fl_Thread id;
    if (fl_create_thread(id, threadmain, copy) != 0) {
        playing = false;
        free(copy);
        return false;
    }
    return true;
}

std::string output_failure_reason()
{
    std::string why = waveOutFailureText();
    return why.empty() ? "no audio device could be opened" : why;
}

std::string CGL_Window::takeFailureMessage(bool* from_reader)
{
    std::lock_guard<std::mutex> g(failure_lock);
    std::string text;
    text.swap(failure_message);
    if (from_reader != nullptr)
        *from_reader = failure_from_reader;
    failure_from_reader = false;
    return text;
}

void* threadmain(void* path)
{
    char* name = static_cast<char*>(path);
    if (win) {
        win->playing = true;
        win->paused = false;
        win->sound_from = 0;
    }
    ctl_clear_requests();
    ctl_forget_problems();
    int failures_before = playlist_failures;
    unsigned started_before = transport_songs_started();
    set_transport_hook(view_transport_change);
    set_qevent(enqueue_event);
    corvelle_init_player();
    initialize_resampler_coeffs();
    int rc = corvelle_play_main(1, &name);
    free(name);
    if (win) {
        std::lock_guard<std::mutex> g(win->failure_lock);
        win->failure_from_reader = false;
        if (rc == 2) {  // the output did not open
            win->failure_message = "Couldn't open output device: " + output_failure_reason();
            fprintf(stderr, "%s\n", win->failure_message.c_str());
        } else if (win->tellReaderFailure && playlist_failures > failures_before &&
                   transport_songs_started() == started_before) {
            // The reader refused the file before anything played (a device that fails
            // later says so on the streams).
            win->failure_message = ctl_last_problem();
            win->failure_from_reader = true;
        }
        win->tellReaderFailure = false;
        win->paused = false;
        win->playing = false;
    }
    return nullptr;
}

int CGL_Window::handle(int event)
{
    switch (event) {
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE:
        return 1;  // files may be dropped here
    case FL_PASTE:
        if (onDrop != nullptr)
            onDrop(Fl::event_text());
        return 1;
    default:
        return Fl_Gl_Window::handle(event);
    }
}

// GL renderers that rasterise in software, by the names they give.
static bool software_renderer()
{
    const char* name = (const char*)glGetString(GL_RENDERER);
    if (!name)
        return false;
    for (const char* soft : {"llvmpipe", "softpipe", "swrast"})
        if (strstr(name, soft))
            return true;
    return false;
}

void CGL_Window::init()
{
    glViewport(0, 0, w(), h());
    glShadeModel(GL_FLAT);  // one colour per glyph: nothing to interpolate
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, w(), 0, h());
    glMatrixMode(GL_MODELVIEW);
    if (painter == PAINT_BY_RENDERER)
        painter = software_renderer() ? PAINT_IMAGE : PAINT_QUADS;
}

// Painting order decides what covers what: channel 0 first, lower keys first, older glyphs
// first; a fading glyph lets what lies under it show through. The quads are painted in that
// order, without those that leave the picture as it is.
void CGL_Window::draw()
{
    if (!context_valid())
        image_texture = 0;  // a new context has none of the old one's textures
    if (!valid())
        init();
    batch_glyphs(visuals, w(), h(), &batch);
    if (painter == PAINT_IMAGE)
        drawImage();
    else
        drawQuads();
    glFlush();
}

// All quads in one call.
void CGL_Window::drawQuads()
{
    batch.fill(&vertex_xy, &vertex_rgba);
    glClear(GL_COLOR_BUFFER_BIT);
    if (vertex_xy.empty())
        return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, vertex_xy.data());
    glColorPointer(4, GL_FLOAT, 0, vertex_rgba.data());
    glDrawArrays(GL_QUADS, 0, (GLsizei)(vertex_xy.size() / 2));
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

// The quads composed into the canvas, copied to the window as one texture quad: texel for
// pixel, nearest texel, no blending. The canvas holds columns, so texture coordinate s runs
// up the view and t across it.
void CGL_Window::drawImage()
{
    compose_glyphs(batch, w(), h(), &canvas);
    int tw = canvas.height(), th = canvas.width();
    if (tw == 0 || th == 0) {
        glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    if (image_texture == 0) {
        GLuint name;
        glGenTextures(1, &name);
        image_texture = name;
        texture_w = texture_h = 0;
    }
    glBindTexture(GL_TEXTURE_2D, image_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (tw != texture_w || th != texture_h) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     canvas.pixels());
        texture_w = tw;
        texture_h = th;
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, tw, th, GL_RGBA, GL_UNSIGNED_BYTE,
                        canvas.pixels());
    }
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    float x = (float)w(), y = (float)h();
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(0.0f, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(x, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(x, y);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(0.0f, y);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    glEnable(GL_BLEND);
}

float CGL_Window::getColor(bool high, int ch, int component) const
{
    return visuals[ch].colors[high ? 1 : 0][component];
}

void CGL_Window::setColor(bool high, int ch, int component, float value)
{
    visuals[ch].colors[high ? 1 : 0][component] = value;
}

// The name is the copy the playback thread published, read under its lock: the channel
// records and instrument texts themselves belong to that thread while a song plays.
const char* CGL_Window::getInstru(int ch) const
{
    static char shown[MAX_CHANNELS][64];
    if (ch < 0 || ch >= MAX_CHANNELS)
        return "";
    published_channel_instrum_name(ch, shown[ch], sizeof shown[ch]);
    return shown[ch];
}

int CGL_Window::getMinimum(int ch) const
{
    return view_field(channel[ch].vel_limit_low);
}

int CGL_Window::getMaximum(int ch) const
{
    return view_field(channel[ch].vel_limit_high);
}
