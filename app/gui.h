// The main window: the note view, the legend and the control panel.
#ifndef CORVELLE_APP_GUI_H
#define CORVELLE_APP_GUI_H

#include <cstddef>
#include <string>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Slider.H>
#include "vis/CGL_Legend.h"
#include "vis/CGL_Window.h"

// The main window lays its parts out itself: the note view takes what room there is beyond
// the smallest size, the seek bar sits below it, and the panel keeps its size at the bottom;
// in full screen the view alone fills the window.
class PlayerWindow : public Fl_Double_Window {
public:
    PlayerWindow(int w, int h, const char* label) : Fl_Double_Window(w, h, label) {}
    void resize(int x, int y, int w, int h) override;
    void layout();
    bool full = false;  // the view alone fills the screen
};

class GUI {
public:
    PlayerWindow* mainwindow;
    CGL_Window* view;
    Fl_Slider* minslider;
    Fl_Slider* maxslider;
    Fl_Choice* color;
    Fl_Box* minlabel;
    Fl_Box* midlabel;
    Fl_Box* maxlabel;
    CGL_Legend* legend;
    Fl_Box* minvelbox;
    Fl_Box* maxvelbox;
    Fl_Choice* channel;
    Fl_Box* fadelabel;
    Fl_Box* fpslabel;
    Fl_Box* speedlabel;
    // What is playing: the seek bar between the view and the panel (click or drag to move),
    // the song's name and times beside the Play button, and the pause sign.
    Fl_Slider* seekbar = nullptr;
    Fl_Box* songline = nullptr;
    Fl_Box* pausesign = nullptr;
    Fl_Group* controls = nullptr;
    bool cutShortTold = false;  // the reader took only part of the song, and the user knows
    unsigned songsBefore = 0;   // songs started before the one in hand

    GUI();
    ~GUI();
    GUI(const GUI&) = delete;
    GUI& operator=(const GUI&) = delete;

    void show();
    // Shows the selected channel's velocity limits and their middle beside the legend.
    void updatelabels();
    // Refills the channel choice with "n: instrument" for channels 1 to 10, keeping the selection.
    void listinstruments();
    // Plays path as "Play .mid" does once a file is chosen (from the chooser, the command line
    // or a drop): a song in hand is stopped first and the view emptied; a file that cannot be
    // played is named in a message box that says why. False when refused.
    bool playFile(const char* path);
    // Stops the song in hand and waits until its thread has closed the device; false when it
    // has not ended within the given seconds.
    bool stopSong(double seconds);
    // Shows where the song is: the seek bar, the name and times, the pause sign, the title.
    void showPosition();
    // F11: the view alone on the whole screen, or back to the window as it was.
    void toggleFullscreen();
    // The window's close button: the song stops and its device closes before the window goes.
    void close();
    std::string songPath;  // the song in hand (or last played), empty before any
    // A drop on the window: the text of a paste, a list of URIs (or paths), one per line.
    void dropped(const char* text);
    // A transport key (Space, Escape, Left, Right, Home) or F11: true when it was one of them
    // and is used up, whether or not a song plays (they never reach the focused control).
    bool transportKey(int key);

private:
    void showcolors();
    void cb_Play_i(Fl_Button*, void*);
    static void cb_Play(Fl_Button*, void*);
    void cb_Fade_i(Fl_Slider*, void*);
    static void cb_Fade(Fl_Slider*, void*);
    void cb_FPS_i(Fl_Slider*, void*);
    static void cb_FPS(Fl_Slider*, void*);
    void cb_minslider_i(Fl_Slider*, void*);
    static void cb_minslider(Fl_Slider*, void*);
    void cb_maxslider_i(Fl_Slider*, void*);
    static void cb_maxslider(Fl_Slider*, void*);
    void cb_color_i(Fl_Choice*, void*);
    static void cb_color(Fl_Choice*, void*);
    void cb_channel_i(Fl_Choice*, void*);
    static void cb_channel(Fl_Choice*, void*);
    void cb_Speed_i(Fl_Slider*, void*);
    static void cb_Speed(Fl_Slider*, void*);
    static void cb_seekbar(Fl_Slider*, void*);
    static void cb_close(Fl_Widget*, void*);
    std::string title;     // the window's label text
    std::string lineText;  // songline's label text
    std::string tracedLine;  // what the trace last said about the song
    bool tracedPause = false;
    double seekAskedAt = -1;     // when a drag of the seek bar last moved the song, seconds
    double seekAskedTo = -1;     // and to where, samples
};

extern GUI* gui;

// The frame timer: one animation step, then re-armed at the view's frame rate while a file
// plays or glyphs remain.
void animate(void*);

// The local path of the first file of a dropped URI list ("file:///a%20b.mid" or a plain
// path, lines ending in CR LF or LF, "#" lines skipped), percent-decoded; empty when the list
// names no local file.
std::string dropped_path(const char* text);

// Writes the channel item "number: name" into dst, cut to fit size bytes with its terminator.
void channel_item_text(char* dst, size_t size, int number, const char* name);

#endif
