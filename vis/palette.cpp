#include "vis/palette.h"

#include <cmath>
#include <cstring>

const char palette_names[] = "mono, channels";

// Fully saturated colour of a hue in degrees, at brightness value.
static void hue_color(float degrees, float value, float rgb[3])
{
    float h = std::fmod(degrees, 360.0f) / 60.0f;
    float x = 1.0f - std::fabs(std::fmod(h, 2.0f) - 1.0f);
    float r = 0, g = 0, b = 0;
    switch ((int)h) {
    case 0: r = 1; g = x; break;
    case 1: r = x; g = 1; break;
    case 2: g = 1; b = x; break;
    case 3: g = x; b = 1; break;
    case 4: r = x; b = 1; break;
    default: r = 1; b = x; break;
    }
    rgb[0] = r * value;
    rgb[1] = g * value;
    rgb[2] = b * value;
}

bool apply_palette(const char* name, Visual visuals[MAX_CHANNELS])
{
    const bool mono = strcmp(name, "mono") == 0;
    if (!mono && strcmp(name, "channels") != 0)
        return false;
    // The fifteen melodic channels of a port take hues 24 degrees apart, in an order that puts
    // neighbouring channels far apart on the wheel (steps of 7 x 24 = 168 degrees).
    const int drum = 9;
    for (int ch = 0; ch < MAX_CHANNELS; ch++) {
        float(&c)[2][3] = visuals[ch].colors;
        int part = ch % 16;
        if (mono) {
            for (int k = 0; k < 3; k++) {
                c[0][k] = 0.0f;
                c[1][k] = 1.0f;
            }
        } else if (part == drum) {
            const float low[3] = {0.22f, 0.21f, 0.20f}, high[3] = {0.85f, 0.82f, 0.78f};
            memcpy(c[0], low, sizeof low);
            memcpy(c[1], high, sizeof high);
        } else {
            int slot = part < drum ? part : part - 1;
            float hue = (float)((slot * 7) % 15) * 24.0f;
            hue_color(hue, 0.3f, c[0]);
            hue_color(hue, 1.0f, c[1]);
        }
    }
    return true;
}
