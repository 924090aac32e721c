#include <csignal>
#include <FL/Fl.H>
#include "app/gui.h"

int main(int, char**)
{
    // A write past the file-size limit or into a pipe without a reader fails with an error
    // that the audio device reports and the song ends on; by default either signal would end
    // the whole program.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    gui = new GUI;
    gui->show();
    return Fl::run();
}
