#include "vis/x_display.h"

bool connect_display()
{
    return connect_display_impl();
}
