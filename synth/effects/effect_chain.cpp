// The final stage of every block: mono reverb, the reverb of the whole mix, the left/right
// delay that widens the stereo image, and noise shaping for the output encoding.
#include <cmath>
#include <cstring>

#include "effects/effect.h"
#include "frontend/mt19937.h"
#include "frontend/options.h"
#include "output/output.h"

// Frames of the past input the left/right delay keeps (the largest block).
#define LR_DELAY_FRAMES 4096

static int32 lr_ring[2][LR_DELAY_FRAMES];
static int32 lr_write = 0;
// Alternating mode: state 0..5, frames counted in it, its period, the two gains.
static int lr_state = 0;
static int32 lr_counter = 0, turn_counter = 0;
static double lr_gain_dry = 0.0, lr_gain_delay = 0.0, lr_gain_step = 0.0;

static int output_is_mono(void)
{
    return play_mode != nullptr && (play_mode->encoding & PE_MONO) != 0;
}

static int32 output_rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
}

void init_effect(void)
{
    effect_left_right_delay(nullptr, 0);
    static const uint32 keys[4] = {0x123, 0x234, 0x345, 0x456};
    init_by_array(keys, 4);
    init_pink_noise(&global_pink_noise_light);
    init_noise_shaping();
    init_send_buffers();
    prepare_effect_status();
    init_reverb();
    init_ch_delay();
    init_ch_chorus();
    init_eq_gs();
}

// The delay in frames: msec x rate / 1000 rounded to the nearest (halves to even), kept
// within what the line holds.
static int32 lr_delay_frames(void)
{
    double d = rint((double)effect_lr_delay_msec * output_rate() / 1000.0);
    if (!(d > 0.0))
        return 0;
    return d > LR_DELAY_FRAMES ? LR_DELAY_FRAMES : (int32)d;
}

// The end of a period of the alternating mode: the next state with its period and gains.
static void lr_next_state(void)
{
    const int32 ten = output_rate() * 10, one = output_rate();
    switch (lr_state) {
    case 0:
        lr_state = 2;
        turn_counter = one;
        lr_gain_dry = 0.0, lr_gain_delay = 1.0;
        break;
    case 2:
        lr_state = 3;
        lr_gain_dry = 1.0, lr_gain_delay = 0.0;
        break;
    case 3:
        lr_state = 1;
        turn_counter = ten;
        break;
    case 1:
        lr_state = 4;
        turn_counter = one;
        lr_gain_dry = 1.0, lr_gain_delay = 0.0;
        break;
    case 4:
        lr_state = 5;
        lr_gain_dry = 0.0, lr_gain_delay = 1.0;
        break;
    default:
        lr_state = 0;
        turn_counter = ten;
        break;
    }
    lr_gain_step = 1.0 / turn_counter;
    lr_counter = 0;
}

static inline int32 mix2(int32 dry, double gd, int32 delayed, double gl)
{
    return (int32)lround(dry * gd + delayed * gl);
}

void effect_left_right_delay(int32* buf, int32 frames)
{
    if (buf == nullptr) {
        memset(lr_ring, 0, sizeof(lr_ring));
        lr_write = 0;
        lr_state = 0;
        lr_counter = 0;
        turn_counter = output_rate() * 10;
        lr_gain_dry = lr_gain_delay = lr_gain_step = 0.0;
        return;
    }
    if (output_is_mono() || effect_lr_mode < 0 || effect_lr_mode > 2 || frames <= 0)
        return;
    const int32 d = lr_delay_frames();
    if (d == 0)
        return;
    if (turn_counter <= 0)
        turn_counter = output_rate() * 10;
    for (int32 i = 0; i < frames; i++) {
        int32 r = lr_write - d;
        if (r < 0)
            r += LR_DELAY_FRAMES;
        const int32 dl = lr_ring[0][r], dr = lr_ring[1][r];
        const int32 l = buf[2 * i], rr = buf[2 * i + 1];
        lr_ring[0][lr_write] = l;
        lr_ring[1][lr_write] = rr;
        if (++lr_write == LR_DELAY_FRAMES)
            lr_write = 0;

        if (effect_lr_mode == 0) {
            buf[2 * i] = dl;
            continue;
        }
        if (effect_lr_mode == 1) {
            buf[2 * i + 1] = dr;
            continue;
        }
        switch (lr_state) {
        case 0: buf[2 * i] = dl; break;
        case 1: buf[2 * i + 1] = dr; break;
        case 2: buf[2 * i] = mix2(l, lr_gain_dry, dl, lr_gain_delay); break;
        case 3: buf[2 * i + 1] = mix2(rr, lr_gain_dry, dr, lr_gain_delay); break;
        case 4:
            buf[2 * i] = mix2(l, lr_gain_dry, dl, lr_gain_delay);
            buf[2 * i + 1] = dr;
            break;
        default:
            buf[2 * i] = dl;
            buf[2 * i + 1] = mix2(rr, lr_gain_dry, dr, lr_gain_delay);
            break;
        }
        // The cross-fades move the gains a step each frame: the dry gain rises in states 2
        // and 5, falls in 3 and 4.
        switch (lr_state) {
        case 2:
        case 5:
            lr_gain_dry += lr_gain_step;
            lr_gain_delay -= lr_gain_step;
            break;
        case 3:
        case 4:
            lr_gain_dry -= lr_gain_step;
            lr_gain_delay += lr_gain_step;
            break;
        default: break;
        }
        if (++lr_counter >= turn_counter)
            lr_next_state();
    }
}

void do_effect(int32* buf, int32 frames)
{
    if (buf == nullptr || frames <= 0)
        return;
    const int mono = output_is_mono();
    const int32 samples = mono ? frames : frames * 2;

    if (opt_reverb_control && mono)
        do_mono_reverb(buf, frames);

    // The reverb of the whole mix: a stereo effect, so not on mono output (which has its
    // own reverb above).
    const int global = reverb_is_global(opt_reverb_control);
    if (!mono && (global || opt_chorus_control < 0)) {
        set_dry_signal(buf, samples);
        if (global)
            set_ch_reverb(buf, samples, reverb_global_level(opt_reverb_control));
        mix_dry_signal(buf, samples);
        if (global)
            do_ch_reverb(buf, samples);
    }

    effect_left_right_delay(buf, frames);
    do_noise_shaping(buf, samples);
}
