#include "app/gui.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <FL/Fl.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Group.H>
#include <FL/fl_ask.H>
#include "app/song_status.h"
#include "frontend/controls.h"
#include "frontend/transport.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "play/channels.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "vis/view_trace.h"

GUI* gui = nullptr;

static int main_window_events(int event, Fl_Window* window);

GUI::GUI()
{
    Fl::scheme("plastic");
    mainwindow = new PlayerWindow(530, 638, "Midi Visualization");
    mainwindow->user_data((void*)this);
    // The parts are laid out by the window itself; the default size is the smallest.
    mainwindow->resizable(nullptr);
    mainwindow->size_range(530, 638);
    mainwindow->callback(cb_close);
    {
        view = new CGL_Window(9, 9, 512, 503);
        view->box(FL_DOWN_BOX);
        view->color(FL_BACKGROUND_COLOR);
        view->selection_color(FL_BACKGROUND_COLOR);
        view->labeltype(FL_NORMAL_LABEL);
        view->labelfont(0);
        view->labelsize(14);
        view->labelcolor(FL_FOREGROUND_COLOR);
        view->align(Fl_Align(FL_ALIGN_TOP));
        view->when(FL_WHEN_RELEASE);
        view->end();
    }
    {
        seekbar = new Fl_Slider(9, 512, 512, 8);
        seekbar->type(FL_HOR_FILL_SLIDER);
        seekbar->box(FL_FLAT_BOX);
        seekbar->color(FL_BACKGROUND_COLOR);
        seekbar->selection_color(FL_DARK3);
        seekbar->visible_focus(0);
        seekbar->when(FL_WHEN_CHANGED | FL_WHEN_RELEASE);
        seekbar->callback((Fl_Callback*)cb_seekbar);
        seekbar->deactivate();
    }
    {
        controls = new Fl_Group(10, 520, 520, 111);
        {
            Fl_Button* o = new Fl_Button(29, 606, 125, 19, "Play .mid");
            o->box(FL_PLASTIC_DOWN_BOX);
            o->callback((Fl_Callback*)cb_Play);
        }
        {
            Fl_Slider* o = new Fl_Slider(60, 550, 100, 15, "Fade");
            o->type(FL_HOR_SLIDER);
            o->box(FL_PLASTIC_DOWN_BOX);
            o->step(0.001);
            o->value(0.015);
            o->callback((Fl_Callback*)cb_Fade);
            o->align(Fl_Align(FL_ALIGN_LEFT));
        }
        {
            Fl_Slider* o = new Fl_Slider(60, 525, 100, 15, "FPS");
            o->type(FL_HOR_SLIDER);
            o->box(FL_PLASTIC_DOWN_BOX);
            o->minimum(1);
            o->maximum(120);
            o->step(1);
            o->value(60);
            o->callback((Fl_Callback*)cb_FPS);
            o->align(Fl_Align(FL_ALIGN_LEFT));
        }
        {
            Fl_Group* colouring = new Fl_Group(195, 536, 315, 94, "Pseudocoloring");
            {
                minslider = new Fl_Slider(225, 590, 180, 16, "Min");
                minslider->type(FL_HOR_NICE_SLIDER);
                minslider->box(FL_PLASTIC_DOWN_BOX);
                minslider->callback((Fl_Callback*)cb_minslider);
                minslider->align(Fl_Align(FL_ALIGN_LEFT));
            }
            {
                maxslider = new Fl_Slider(225, 610, 180, 16, "Max");
                maxslider->type(FL_HOR_NICE_SLIDER);
                maxslider->box(FL_PLASTIC_DOWN_BOX);
                maxslider->value(1.0);
                maxslider->callback((Fl_Callback*)cb_maxslider);
                maxslider->align(Fl_Align(FL_ALIGN_LEFT));
            }
            {
                color = new Fl_Choice(255, 566, 150, 19, "RGB");
                color->down_box(FL_BORDER_BOX);
                color->add("Red|Green|Blue");
                color->value(0);
                color->callback((Fl_Callback*)cb_color);
            }
            {
                minlabel = new Fl_Box(445, 541, 60, 13, "0");
                minlabel->labelsize(10);
            }
            {
                midlabel = new Fl_Box(445, 579, 60, 13, "0");
                midlabel->labelsize(10);
            }
            {
                maxlabel = new Fl_Box(445, 617, 60, 13, "0");
                maxlabel->labelsize(10);
            }
            {
                legend = new CGL_Legend(420, 541, 25, 89);
                legend->box(FL_NO_BOX);
                legend->color(FL_BACKGROUND_COLOR);
                legend->selection_color(FL_BACKGROUND_COLOR);
                legend->labeltype(FL_NORMAL_LABEL);
                legend->labelfont(0);
                legend->labelsize(14);
                legend->labelcolor(FL_FOREGROUND_COLOR);
                legend->align(Fl_Align(FL_ALIGN_TOP));
                legend->when(FL_WHEN_RELEASE);
                legend->end();
            }
            {
                minvelbox = new Fl_Box(446, 553, 60, 13, "min velocity");
                minvelbox->labelsize(10);
            }
            {
                maxvelbox = new Fl_Box(445, 605, 60, 13, "max velocity");
                maxvelbox->labelsize(10);
            }
            {
                channel = new Fl_Choice(255, 545, 150, 19, "Channel");
                channel->down_box(FL_BORDER_BOX);
                channel->add("1|2|3|4|5|6|7|8|9|10");
                channel->value(0);
                channel->callback((Fl_Callback*)cb_channel);
            }
            colouring->end();
        }
        {
            Fl_Slider* o = new Fl_Slider(60, 575, 100, 15, "Speed");
            o->type(FL_HOR_SLIDER);
            o->box(FL_PLASTIC_DOWN_BOX);
            o->minimum(1);
            o->maximum(25);
            o->step(0.1);
            o->value(5);
            o->callback((Fl_Callback*)cb_Speed);
            o->align(Fl_Align(FL_ALIGN_LEFT));
        }
        {
            fadelabel = new Fl_Box(60, 562, 100, 13, "0.015 alpha/frame");
            fadelabel->labelsize(10);
        }
        {
            fpslabel = new Fl_Box(60, 537, 100, 13, "60 frames/second");
            fpslabel->labelsize(10);
        }
        {
            speedlabel = new Fl_Box(60, 587, 100, 13, "5.0 pixels/frame");
            speedlabel->labelsize(10);
        }
        {
            songline = new Fl_Box(10, 626, 160, 12);
            songline->labelsize(10);
            songline->align(Fl_Align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_CLIP));
            pausesign = new Fl_Box(172, 626, 12, 12, "@||");
            pausesign->labelsize(9);
            pausesign->hide();
        }
        controls->end();
    }
    mainwindow->end();
}

GUI::~GUI()
{
    delete mainwindow;
}

void GUI::show()
{
    Fl::event_dispatch(main_window_events);
    fl_message_title_default("Corvelle");
    view->onDrop = [](const char* text) {
        if (gui != nullptr)
            gui->dropped(text);
    };
    mainwindow->show();
    view->show();
}

void GUI::updatelabels()
{
    static char minbuf[32], midbuf[32], maxbuf[32];
    int ch = channel->value();
    int lo = view->getMinimum(ch);
    int hi = view->getMaximum(ch);
    snprintf(minbuf, sizeof minbuf, "%d", lo);
    snprintf(midbuf, sizeof midbuf, "%d", (int)((hi - lo) * 0.5));
    snprintf(maxbuf, sizeof maxbuf, "%d", hi);
    minlabel->label(minbuf);
    midlabel->label(midbuf);
    maxlabel->label(maxbuf);
    minlabel->redraw_label();
    midlabel->redraw_label();
    maxlabel->redraw_label();
}

void channel_item_text(char* dst, size_t size, int number, const char* name)
{
    snprintf(dst, size, "%d: %s", number, name ? name : "");
}

void GUI::listinstruments()
{
    static char buf[10][32];
    int selected = channel->value();
    channel->clear();
    for (int i = 0; i < 10; i++) {
        channel_item_text(buf[i], sizeof buf[i], i + 1, view->getInstru(i));
        // replace() takes the text as it is: a '/', '|' or '&' in a name makes no submenu,
        // split or shortcut.
        channel->replace(channel->add("item"), buf[i]);
    }
    channel->value(selected);
}

// Both sliders show the selected colour component of the selected channel.
void GUI::showcolors()
{
    int comp = color->value();
    int ch = channel->value();
    minslider->value(view->getColor(false, ch, comp));
    maxslider->value(view->getColor(true, ch, comp));
}

bool GUI::stopSong(double seconds)
{
    // A stop asked for the moment a song's thread starts may be forgotten by it: asked again
    // now and then until the thread has ended.
    const int step_us = 5000, ask_every = 20;
    for (int step = 0; view->playing && step * step_us < seconds * 1e6; step++) {
        if (step % ask_every == 0)
            ctl_request(RC_STOP, 0);
        usleep(step_us);
    }
    return !view->playing;
}

bool GUI::playFile(const char* path)
{
    if (path == nullptr)
        return false;
    // A file that cannot be read leaves the song in hand playing.
    std::string why = unreadable_reason(path);
    if (!why.empty()) {
        std::string said = refusal_text(path, why);
        fprintf(stderr, "%s: %s\n%s\n", path, why.c_str(), said.c_str());
        if (!view->playing && !view->hasGlyphs())
            trace_idle();  // nothing started: the window is as idle as it was
        fl_message("%s", said.c_str());
        return false;
    }
    // The song in hand (playing, or its glyphs still fading) makes way for the new one.
    if (!stopSong(5.0)) {
        fl_message("%s: the song before it did not stop.", song_name(path).c_str());
        return false;
    }
    Fl::remove_timeout(animate);
    view->clearNotes();
    view->takeFailureMessage();
    ctl_forget_problems();
    std::string chosen = path;  // the chooser's text changes once it is gone
    view->tellReaderFailure = true;
    songsBefore = transport_songs_started();
    if (!view->openMidi(chosen.c_str())) {
        view->tellReaderFailure = false;
        return false;
    }
    songPath = chosen;
    cutShortTold = false;
    listinstruments();
    animate(nullptr);
    return true;
}

// The toolkit's file chooser, opened with an empty name field on the folder it was last in
// (the current folder at first): a full path typed there is taken as typed. (Opened through
// fl_file_chooser, the field holds the folder's path, selected: the "/" that starts a typed
// path replaces it and is taken for "no folder", which leaves the chooser where it was, and
// the next "/" completes the typed name against that folder, rewriting the field under the
// cursor, so that the rest of the path lands in the middle of the folder's name.) An absolute
// path, or null when cancelled.
static const char* choose_song()
{
    static Fl_File_Chooser* chooser = nullptr;
    if (chooser == nullptr)
        chooser = new Fl_File_Chooser("", "*.mid", Fl_File_Chooser::SINGLE, "Open");
    chooser->value("");
    chooser->show();
    while (chooser->shown())
        Fl::wait();
    return chooser->count() > 0 ? chooser->value() : nullptr;
}

void GUI::cb_Play_i(Fl_Button*, void*)
{
    playFile(choose_song());
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string dropped_path(const char* text)
{
    std::string all = text ? text : "";
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find('\n', at);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line.compare(0, 7, "file://") == 0) {
            line.erase(0, 7);
            // file://host/path: only this machine's files ("localhost" or no host).
            if (line.compare(0, 9, "localhost") == 0)
                line.erase(0, 9);
            if (line.empty() || line[0] != '/')
                continue;
            std::string path;
            for (size_t i = 0; i < line.size(); i++) {
                int hi, lo;
                if (line[i] == '%' && i + 2 < line.size() && (hi = hex_digit(line[i + 1])) >= 0 &&
                    (lo = hex_digit(line[i + 2])) >= 0) {
                    path += (char)(hi * 16 + lo);
                    i += 2;
                } else {
                    path += line[i];
                }
            }
            if (path.find('\0') == std::string::npos)
                return path;
        } else if (line[0] == '/') {
            return line;  // a plain path, as some programs drop
        }
    }
    return "";
}

void GUI::dropped(const char* text)
{
    std::string path = dropped_path(text);
    if (path.empty()) {
        fl_message("Only files on this computer can be played.");
        return;
    }
    playFile(path.c_str());
}

bool GUI::transportKey(int key)
{
    switch (key) {
    case FL_Escape:
        // Escape would close the window; here it stops the song (and does nothing idle).
        if (view->playing)
            ctl_request(RC_STOP, 0);
        return true;
    case ' ':
        if (view->playing)
            ctl_request(RC_TOGGLE_PAUSE, 0);
        return true;
    case FL_Left:
    case FL_Right:
        if (view->playing)
            ctl_request_skip(key == FL_Left ? -5.0 : 5.0);
        return true;
    case FL_Home:
        if (view->playing)
            ctl_request(RC_JUMP, 0);
        return true;
    case FL_F + 11:
        toggleFullscreen();
        return true;
    default:
        return false;
    }
}

void GUI::showPosition()
{
    bool inHand = view->playing && !songPath.empty();
    std::string name = inHand ? song_name(songPath) : std::string();
    std::string t = window_title(name);
    if (t != title) {
        title = t;
        mainwindow->copy_label(title.c_str());
    }
    double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
    long long total = inHand ? transport_song_samples() : 0;
    long long at = inHand ? view->shownPosition() : 0;
    if (at > total)
        at = total;
    std::string line = inHand ? song_line(name, at, total, rate) : std::string();
    if (line != lineText) {
        lineText = line;
        songline->label(lineText.c_str());
        songline->redraw_label();
    }
    bool showPause = inHand && view->paused;
    if (line != tracedLine || showPause != tracedPause) {
        tracedLine = line;
        tracedPause = showPause;
        trace_status((int32)at, showPause, line.c_str());
    }
    if (showPause != (pausesign->visible() != 0)) {
        if (showPause)
            pausesign->show();
        else
            pausesign->hide();
        pausesign->redraw_label();
        controls->redraw();
    }
    if (inHand && total > 0)
        seekbar->activate();
    else
        seekbar->deactivate();
    // A drag in progress keeps the knob where the hand puts it.
    if (Fl::pushed() != seekbar) {
        seekbar->range(0, total > 0 ? (double)total : 1.0);
        seekbar->value((double)at);
    }
}

// How often a drag of the seek bar moves the song at most: each seek drops and refills the
// device's queue, so every step of the hand would flood the player.
static const double SEEK_DRAG_INTERVAL = 0.1;  // seconds

void GUI::cb_seekbar(Fl_Slider* o, void*)
{
    GUI* g = (GUI*)o->window()->user_data();
    if (!g->view->playing)
        return;
    // While the button is down the song follows the knob in steps; the release lands where
    // the knob is, unless the last step went there already.
    using seconds = std::chrono::duration<double>;
    double now = seconds(std::chrono::steady_clock::now().time_since_epoch()).count();
    bool dragging = Fl::pushed() == o;
    if (dragging && g->seekAskedAt >= 0 && now - g->seekAskedAt < SEEK_DRAG_INTERVAL)
        return;
    if (!dragging && o->value() == g->seekAskedTo) {
        g->seekAskedAt = g->seekAskedTo = -1;
        return;
    }
    ctl_request(RC_JUMP, (int32)o->value());
    g->seekAskedAt = dragging ? now : -1;
    g->seekAskedTo = dragging ? o->value() : -1;
}

void GUI::toggleFullscreen()
{
    if (mainwindow->full) {
        mainwindow->full = false;
        controls->show();
        seekbar->show();
        mainwindow->fullscreen_off();
    } else {
        mainwindow->full = true;
        controls->hide();
        seekbar->hide();
        mainwindow->fullscreen();
    }
    mainwindow->layout();
    mainwindow->redraw();
}

void GUI::close()
{
    stopSong(5.0);
    Fl::remove_timeout(animate);
    view->clearNotes();
    mainwindow->hide();
}

void GUI::cb_close(Fl_Widget* w, void*)
{
    ((GUI*)w->user_data())->close();
}

void PlayerWindow::resize(int x, int y, int w, int h)
{
    Fl_Double_Window::resize(x, y, w, h);
    layout();
}

void PlayerWindow::layout()
{
    GUI* g = (GUI*)user_data();
    if (g == nullptr || g->controls == nullptr)
        return;
    if (full) {
        g->view->resize(0, 0, w(), h());
        return;
    }
    g->view->resize(9, 9, w() - 18, h() - 135);
    g->seekbar->resize(9, h() - 126, w() - 18, 8);
    g->controls->resize(10, h() - 118, 520, 111);
}

// Every event of the main window passes here first: the transport keys work whatever widget
// has the focus, and a drop anywhere on the window goes to the note view, whose paste event
// then carries the dropped text.
static int main_window_events(int event, Fl_Window* window)
{
    if (gui != nullptr && window != nullptr && window->top_window() == gui->mainwindow &&
        !Fl::modal()) {
        switch (event) {
        case FL_KEYBOARD:
            if (gui->transportKey(Fl::event_key()))
                return 1;
            break;
        case FL_DND_ENTER:
        case FL_DND_DRAG:
        case FL_DND_RELEASE:
            Fl::belowmouse(gui->view);
            return 1;
        default:
            break;
        }
    }
    return Fl::handle_(event, window);
}
void GUI::cb_Play(Fl_Button* o, void* v)
{
    ((GUI*)(o->parent()->parent()->user_data()))->cb_Play_i(o, v);
}

void GUI::cb_Fade_i(Fl_Slider* o, void*)
{
    static char buf[32];
    view->fade = (float)o->value();
    snprintf(buf, sizeof buf, "%.3f alpha/frame", o->value());
    fadelabel->label(buf);
    fadelabel->redraw_label();
}
void GUI::cb_Fade(Fl_Slider* o, void* v)
{
    ((GUI*)(o->parent()->parent()->user_data()))->cb_Fade_i(o, v);
}

void GUI::cb_FPS_i(Fl_Slider* o, void*)
{
    static char buf[32];
    view->fps = (float)o->value();
    snprintf(buf, sizeof buf, "%d frames/second", (int)o->value());
    fpslabel->label(buf);
    fpslabel->redraw_label();
}
void GUI::cb_FPS(Fl_Slider* o, void* v)
{
    ((GUI*)(o->parent()->parent()->user_data()))->cb_FPS_i(o, v);
}

void GUI::cb_minslider_i(Fl_Slider* o, void*)
{
    float v = (float)o->value();
    int comp = color->value();
    int ch = channel->value();
    view->setColor(false, ch, comp, v);
    view->redraw();
    legend->mincolor[comp] = v;
    legend->redraw();
}
void GUI::cb_minslider(Fl_Slider* o, void* v)
{
    ((GUI*)(o->parent()->parent()->parent()->user_data()))->cb_minslider_i(o, v);
}

void GUI::cb_maxslider_i(Fl_Slider* o, void*)
{
    float v = (float)o->value();
    int comp = color->value();
    int ch = channel->value();
    view->setColor(true, ch, comp, v);
    view->redraw();
    legend->maxcolor[comp] = v;
    legend->redraw();
}
void GUI::cb_maxslider(Fl_Slider* o, void* v)
{
    ((GUI*)(o->parent()->parent()->parent()->user_data()))->cb_maxslider_i(o, v);
}

void GUI::cb_color_i(Fl_Choice*, void*)
{
    showcolors();
}
void GUI::cb_color(Fl_Choice* o, void* v)
{
    ((GUI*)(o->parent()->parent()->parent()->user_data()))->cb_color_i(o, v);
}

void GUI::cb_channel_i(Fl_Choice*, void*)
{
    int ch = channel->value();
    showcolors();
    for (int c = 0; c < 3; c++) {
        legend->mincolor[c] = view->getColor(false, ch, c);
        legend->maxcolor[c] = view->getColor(true, ch, c);
    }
    updatelabels();
    legend->redraw();
}
void GUI::cb_channel(Fl_Choice* o, void* v)
{
    ((GUI*)(o->parent()->parent()->parent()->user_data()))->cb_channel_i(o, v);
}

void GUI::cb_Speed_i(Fl_Slider* o, void*)
{
    static char buf[32];
    view->speed = (float)o->value();
    snprintf(buf, sizeof buf, "%.1f pixels/frame", o->value());
    speedlabel->label(buf);
    speedlabel->redraw_label();
}
void GUI::cb_Speed(Fl_Slider* o, void* v)
{
    ((GUI*)(o->parent()->parent()->user_data()))->cb_Speed_i(o, v);
}

// Once the playback thread has ended, nothing more reaches the device: what the note queue
// still holds was never heard (the device failed, or stopped before the song's last events).
// Those notes are not drawn, and the glyphs whose releases they carried are let go, so that
// the view empties and Play is accepted again.
static void let_go_of_unheard(CGL_Window* view)
{
    MidiEvent ev;
    while (view->events.front(&ev))
        view->events.pop();
    for (Visual& visual : view->visuals)
        for (auto& entry : visual.glyphs)
            for (Glyph& g : entry.second)
                g.held = false;
}

// What the user is told once a song's thread has ended: a refusal of the reader in plain
// words naming the file, or the device's failure as it stands.
static std::string failure_text(CGL_Window* view)
{
    bool fromReader = false;
    std::string failure = view->takeFailureMessage(&fromReader);
    if (failure.empty() || !fromReader)
        return failure;
    // The song's thread has ended: the reader's note of where the data ran out is settled.
    std::string said = refusal_text(gui->songPath, failure, smf_short_track, smf_short_byte);
    fprintf(stderr, "%s\n", said.c_str());
    return said;
}

void animate(void*)
{
    CGL_Window* view = gui->view;
    // The channel choice follows the song's program changes.
    static unsigned names_listed = 0;
    unsigned names = published_channel_instrum_names_count();
    if (names != names_listed) {
        names_listed = names;
        gui->listinstruments();
    }
    // Paused, the picture stands still and nothing is drawn again until the song moves (a
    // seek while paused shows its new position) or goes on.
    if (view->playing && view->paused && !view->moved_while_paused) {
        gui->showPosition();
        Fl::repeat_timeout(0.1, animate, nullptr);
        return;
    }
    view->nextFrame();
    std::string failure;
    if (!view->playing) {
        let_go_of_unheard(view);
        failure = failure_text(view);
    }
    view->redraw();
    gui->showPosition();
    if (atoi(gui->maxlabel->label()) == 0)
        gui->updatelabels();
    // The frames stop when the song is over and the view is empty; that is said before a
    // message box holds the window's thread.
    bool idle = !view->playing && !view->hasGlyphs();
    if (idle)
        trace_idle();
    else
        Fl::repeat_timeout(1.0 / view->fps, animate, nullptr);
    // A song the reader could take only part of plays that part, and the user is told once.
    // It has started: the reader's notes of it are settled.
    if (view->playing && !gui->cutShortTold && transport_songs_started() != gui->songsBefore) {
        std::string said;
        if (smf_short_track > 0)
            said = truncated_text(gui->songPath, smf_short_track, smf_short_byte);
        else if (transport_song_cut_short())
            said = cut_short_text(gui->songPath, MAX_MIDI_EVENT, transport_song_samples(),
                                  play_mode != nullptr ? play_mode->rate : 44100);
        if (!said.empty()) {
            gui->cutShortTold = true;
            fprintf(stderr, "%s\n", said.c_str());
            fl_message("%s", said.c_str());
        }
    }
    if (!failure.empty())
        fl_message("%s", failure.c_str());
}
