#include <FL/Fl.H>
#include "app/gui.h"

int main(int, char**)
{
    gui = new GUI;
    gui->show();
    return Fl::run();
}
