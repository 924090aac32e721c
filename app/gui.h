// The main window: the note view, the legend and the control panel.
#ifndef CORVELLE_APP_GUI_H
#define CORVELLE_APP_GUI_H

#include <cstddef>
#include <string>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Slider.H>
#include "vis/CGL_Legend.h"
#include "vis/CGL_Window.h"

class GUI {
public:
    Fl_Double_Window* mainwindow;
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

    GUI();
    ~GUI();
    GUI(const GUI&) = delete;
    GUI& operator=(const GUI&) = delete;

    void show();
    // Shows the selected channel's velocity limits and their middle beside the legend.
    void updatelabels();
    // Refills the channel choice with "n: instrument" for channels 1 to 10, keeping the selection.
    void listinstruments();
    // Plays path as "Play .mid" does once a file is chosen; told: a file the reader refuses
    // is named in a message box (the user picked it without the chooser). False when refused.
    bool playFile(const char* path, bool told = false);
    // A drop on the window: the text of a paste, a list of URIs (or paths), one per line.
    void dropped(const char* text);
    // A transport key (Space, Escape, Left, Right, Home) while a song plays: true when it was
    // one of them and is used up.
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
