// Senders of control events: straight to the interface, or through the MIDI trace when the
// interface shows events at the time they are heard.
#include "frontend/controls.h"
#include "frontend/miditrace.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"

static void send_event(ControlEvent* ce)
{
    if (ctl->trace_playing)
        push_midi_trace_ce(ctl->event, ce);
    else if (ctl->event != nullptr)
        ctl->event(ce);
}

void ctl_mode_event(int type, int trace, long arg1, long arg2)
{
    ControlEvent ce = {type, arg1, arg2, 0, 0};
    if (trace && ctl->trace_playing)
        push_midi_trace_ce(ctl->event, &ce);
    else if (ctl->event != nullptr)
        ctl->event(&ce);
}

void ctl_updatetime(int32 samples)
{
    double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
    long secs = (long)(samples / (rate * midi_time_ratio));
    ControlEvent ce = {CTLE_CURRENT_TIME, secs, 0, 0, 0};
    send_event(&ce);
    ce.type = CTLE_REFRESH;
    ce.v1 = 0;
    send_event(&ce);
}

void ctl_pause_event(int pause, int32 samples)
{
    double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
    long secs = (long)(samples / (rate * midi_time_ratio));
    ControlEvent ce = {CTLE_PAUSE, pause, secs, 0, 0};
    send_event(&ce);
}

void ctl_prog_event(int ch)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    publish_channel_instrum_name(ch);
    const Channel& c = channel[ch];
    ControlEvent ce = {CTLE_PROGRAM, ch, c.program, (long)channel_instrum_name(ch),
                       ((long)(uint8)c.bank_msb << 16) | ((long)(uint8)c.bank_lsb << 8) |
                           (long)(uint8)c.bank};
    send_event(&ce);
}
