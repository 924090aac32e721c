// Playing one song: loading, the pre-scan, the event loop, the end of the song, seeking and
// the control interface's commands.
#include "play/playmidi.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "config/files.h"
#include "effects/effect.h"
#include "frontend/controls.h"
#include "frontend/miditrace.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "frontend/transport.h"
#include "instrum/instrum.h"
#include "output/aq.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/sysmode.h"
#include "play/voice.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "render/render.h"
#include "render/voice_params.h"

// Channel 10 and channel 26 (bits 9 and 25); bits 16 to 31 mirror bits 0 to 15.
uint32 default_drumchannels = (1u << 9) | (1u << 25);
uint32 drumchannels = (1u << 9) | (1u << 25);
uint32 default_drumchannel_mask = 0;
uint32 drumchannel_mask = 0;
int note_key_offset = 0;
int master_key_shift = 0;
int32 master_tuning = 0;
double midi_time_ratio = 1.0;

MidiEvent* event_list = nullptr;
MidiEvent* current_event = nullptr;
int32 sample_count = 0;
int32 current_sample = 0;
int32 current_play_tempo = 500000;
int32 midi_restart_time = 0;
int check_eot_flag = 0;
int playmidi_seek_flag = 0;
int play_pause_flag = 0;
int file_from_stdin = 0;
int8 current_keysig = 0, current_temper_keysig = 0;
int temper_adj = 0;
int current_freq_table = 0;
int mainvolume_max = 127;

// The output's rate-change request; no output of this program grants it.
static const int PM_REQ_RATE = 9;

int is_stop_code(int rc)
{
    switch (rc) {
    case RC_QUIT:
    case RC_NEXT:
    case RC_REALLY_PREVIOUS:
    case RC_LOAD_FILE:
    case RC_TUNE_END:
    case RC_STOP:
    case RC_ERROR:
        return 1;
    default:
        return 0;
    }
}

static double output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

static bool song_is_audio_file(void)
{
    return current_file_info != nullptr && current_file_info->file_type >= IS_AUDIO_FILE_FIRST &&
           current_file_info->file_type <= IS_AUDIO_FILE_LAST;
}

// ---- commands of the control interface ------------------------------------------------------

int check_apply_control(void)
{
    if (file_from_stdin || ctl == nullptr || ctl->read == nullptr)
        return RC_NONE;
    int32 val = 0;
    int rc = ctl->read(&val);
    switch (rc) {
    case RC_TOGGLE_PAUSE:
        return transport_pause();
    case RC_FORWARD:
    case RC_BACK:
    case RC_JUMP:
        return transport_seek(rc, val);
    case RC_QUIT:
    case RC_STOP:
        transport_stop(rc);
        return rc;
    case RC_TOGGLE_SNDSPEC:
        return RC_NONE;
    case RC_CHANGE_VOLUME: {
        int32 v = amplification + val;
        amplification = v < 0 ? 0 : v > 800 ? 800 : v;
        adjust_amplification();
        ctl_mode_event(CTLE_MASTER_VOLUME, 0, amplification, 0);
        return rc;
    }
    case RC_SYNC_RESTART:
        aq_flush(1);
        return rc;
    case RC_CHANGE_RATE:
        return playmidi_change_rate(val, 0) == 0 ? RC_RELOAD : RC_NONE;
    case RC_OUTPUT_CHANGED:
        return RC_RELOAD;
    default:
        return rc;
    }
}

int playmidi_change_rate(int32 rate, int restart)
{
    if (rate == play_mode->rate)
        return 1;
    if (rate < 4000 || rate > 65000) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Out of sample rate: %d", (int)rate);
        return -1;
    }
    if (restart) {
        int32 pos = current_trace_samples();
        midi_restart_time = pos == -1 ? current_sample : pos;
    } else {
        midi_restart_time = 0;
    }
    int32 arg = rate;
    if (play_mode->acntl(PM_REQ_RATE, &arg) == -1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Can't change sample rate to %d", (int)rate);
        return -1;
    }
    aq_flush(1);
    aq_setup();
    aq_set_soft_queue(-1.0, -1.0);
    free_instruments(1);
    return 0;
}

// ---- seeking ------------------------------------------------------------------------------

void skip_to(int32 until_time)
{
    trace_flush();
    current_event = nullptr;
    if (until_time < current_sample)
        current_sample = 0;
    change_system_mode(DEFAULT_SYSTEM_MODE);
    reset_midi(0);
    current_play_tempo = 500000;
    buffer_pointer = common_buffer;
    buffered_count = 0;
    current_event = event_list;
    midi_restart_time = 0;

    if (until_time > 0 && current_event != nullptr) {
        playmidi_seek_flag = 1;
        while (current_event->type != ME_EOT && scaled_event_time(current_event) < until_time) {
            dispatch_layered(current_event, true);
            current_event++;
        }
        playmidi_seek_flag = 0;
        if (current_event->type == ME_EOT) {
            current_sample = scaled_event_time(current_event);
        } else {
            current_sample = until_time;
            if (current_event != event_list)
                current_event--;
        }
    }
    for (Channel& c : channel)
        c.lasttime = current_sample;
    ctl_mode_event(CTLE_RESET, 0, 0, 0);
    trace_offset(until_time);
}

// ---- the end of a song --------------------------------------------------------------------

// After the last voice: the reverb, chorus and delay ring on until what comes out has stayed
// below -90 dBFS for two blocks (and 50 ms at least), or at most TAIL_SECONDS, after which the
// rest fades out over 50 ms. Each step renders one block, so that every step is measured whole.
static const int TAIL_SECONDS = 6;

static int play_effect_tails(int32 rate)
{
    const int32 block = 1 << audio_buffer_bits;
    const int32 quiet = (int32)((1 << 28) * 3.1623e-5);  // -90 dBFS
    int rc = RC_NONE;
    aq_watch_tail(1);
    const int needed = std::max(2, (int)((rate / 20 + block - 1) / block));
    int quiet_blocks = 0;
    int32 done = 0;
    for (; done < TAIL_SECONDS * rate && quiet_blocks < needed; done += block) {
        rc = compute_data(block);
        if (is_stop_code(rc) || rc == RC_JUMP)
            break;
        quiet_blocks = aq_tail_peak() < quiet ? quiet_blocks + 1 : 0;
    }
    if (!is_stop_code(rc) && rc != RC_JUMP && quiet_blocks < needed) {
        aq_fade_out(rate / 20);
        rc = compute_data(rate / 20 + block);
    }
    if (!is_stop_code(rc) && rc != RC_JUMP)
        rc = compute_data(0);
    aq_watch_tail(0);
    return rc;
}

int midi_play_end(void)
{
    check_eot_flag = 0;
    if (opt_realtime_playing && current_sample == 0) {
        reset_voices();
        return RC_TUNE_END;
    }
    const int32 rate = (int32)output_rate();
    int rc = RC_NONE;

    if (upper_voices > 0) {
        rc = compute_data(rate);
        if (is_stop_code(rc) || rc == RC_JUMP)
            goto end;
        for (int i = 0; i < upper_voices; i++)
            if (voice[i].status & (VOICE_ON | VOICE_SUSTAINED))
                finish_note(i);
        for (int i = 0; i < (opt_realtime_playing ? 3 : 6) && upper_voices > 0; i++) {
            rc = compute_data(rate / 2);
            if (is_stop_code(rc))
                goto end;
        }
        kill_all_voices();
        rc = compute_data(20);
        if (is_stop_code(rc) || rc == RC_JUMP)
            goto end;
        for (int i = 0; i < upper_voices; i++)
            if (voice[i].status != VOICE_FREE)
                free_voice(i);
        upper_voices = 0;
    }

    rc = play_effect_tails(rate);
    if (is_stop_code(rc) || rc == RC_JUMP)
        goto end;
    init_reverb();
    for (Channel& c : channel) {
        c.reverb_level = -1;
        c.reverb_id = -1;
    }
    rc = compute_data(0);
    if (is_stop_code(rc) || rc == RC_JUMP)
        goto end;
    if (!ctl->trace_playing) {
        trace_flush();
        rc = aq_soft_flush();
    } else {
        rc = aq_flush(0);
    }

end:
    // A seek while the end rang out: the song plays on from there.
    if (rc == RC_JUMP)
        return RC_JUMP;
    if (is_stop_code(rc))
        aq_flush(1);
    cmsg(CMSG_INFO, VERB_VERBOSE, "Playing time: ~%d seconds", (int)(current_sample / rate + 2));
    cmsg(CMSG_INFO, VERB_VERBOSE, "Notes cut: %d", (int)cut_notes);
    cmsg(CMSG_INFO, VERB_VERBOSE, "Notes lost totally: %d", (int)lost_notes);
    return is_stop_code(rc) ? rc : RC_TUNE_END;
}

// ---- the pre-scan -------------------------------------------------------------------------

static void prescan_event(MidiEvent* ev)
{
    const int ch = ev->channel;
    if (ch >= MAX_CHANNELS)
        return;
    Channel& c = channel[ch];
    const int32 t = scaled_event_time(ev);
    const int a = ev->a, b = ev->b;
    switch (ev->type) {
    case ME_NOTEON: {
        bool porta = c.portamento && (c.portamento_time_msb || c.portamento_time_lsb);
        if (porta || !note_on_allowed(ev))
            break;
        int vlist[MAX_VOICES_PER_NOTE];
        int nv = find_samples(ev, vlist);
        for (int i = 0; i < nv; i++) {
            // The sample choice fills only the sample and its pitch: the cache's note
            // accounting also reads the voice's channel, note and playing frequency.
            Voice& vp = voice[vlist[i]];
            vp.channel = (uint8)ch;
            vp.note = (uint8)effective_note(ch, a);
            vp.frequency = vp.orig_frequency;
            vp.vibrato_control_ratio = vp.sample->vibrato_control_ratio;
            resamp_cache_refer_on(vlist[i], t);
            free_voice(vlist[i]);
        }
        break;
    }
    case ME_NOTEOFF:
        resamp_cache_refer_off(ch, effective_note(ch, a), t);
        break;
    case ME_PITCHWHEEL:
    case ME_ALL_SOUNDS_OFF:
    case ME_ALL_NOTES_OFF:
    case ME_MONO:
    case ME_POLY:
        resamp_cache_refer_alloff(ch, t);
        break;
    case ME_RESET_CONTROLLERS:
        reset_controllers(ch);
        resamp_cache_refer_alloff(ch, t);
        break;
    case ME_PROGRAM:
        midi_program_change(ch, a);
        break;
    case ME_TONE_BANK_MSB: c.bank_msb = (int8)a; break;
    case ME_TONE_BANK_LSB: c.bank_lsb = (int8)a; break;
    case ME_PORTAMENTO_TIME_MSB: c.portamento_time_msb = (int8)a; break;
    case ME_PORTAMENTO_TIME_LSB: c.portamento_time_lsb = (int8)a; break;
    case ME_PORTAMENTO: c.portamento = a >= 64; break;
    case ME_DRUMPART:
        if (midi_drumpart_change(ch, a))
            midi_program_change(ch, c.program);
        break;
    case ME_KEYSHIFT:
        resamp_cache_refer_alloff(ch, t);
        set_view_field(c.key_shift, a - 64);
        break;
    case ME_SCALE_TUNING:
        resamp_cache_refer_alloff(ch, t);
        if (a < 12)
            c.scale_tuning[a] = (int8)b;
        break;
    case ME_RESET:
        change_system_mode(a);
        reset_midi(0);
        break;
    case ME_MAINVOLUME:
        if (a > mainvolume_max) {
            mainvolume_max = a;
            cmsg(CMSG_INFO, VERB_DEBUG, "ME_MAINVOLUME/max (CH:%d VAL:%#x)", ch, a);
        }
        break;
    default:
        break;
    }
}

// Walks the whole song once before it plays, so that the resample cache knows which notes
// sound how long and the volume compensation knows the loudest channel volume.
static void prescan_song(MidiEvent* ev)
{
    compensation_ratio = 1.0;
    mainvolume_max = opt_amp_compensation ? 0 : 127;
    prescanning_flag = 1;
    change_system_mode(DEFAULT_SYSTEM_MODE);
    reset_midi(0);
    resamp_cache_reset();

    MidiEvent* p = ev;
    for (; p->type != ME_EOT; p++) {
        if (p->type >= ME_NOTEOFF && p->type <= ME_SINGLE_NOTE_TUNING && p->b != 0xFF &&
            p->channel < MAX_CHANNELS) {
            const uint8 orig = p->channel;
            for (int k = 0; k < MAX_CHANNELS; k += 16) {
                int cn = (orig + k) % MAX_CHANNELS;
                int group = cn & ~0xF;
                for (int l = group; l < group + 16; l++) {
                    if ((channel[l].channel_layer & (1u << cn)) &&
                        channel[l].port_select == (orig >> 4)) {
                        p->channel = (uint8)l;
                        prescan_event(p);
                    }
                }
            }
            p->channel = orig;
        } else {
            prescan_event(p);
        }
    }
    if (mainvolume_max > 0 && mainvolume_max < 127) {
        compensation_ratio = std::pow(127.0 / mainvolume_max, 4.0);
        cmsg(CMSG_INFO, VERB_DEBUG, "Compensation ratio:%lf", compensation_ratio);
    }
    int32 end = scaled_event_time(p);
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        resamp_cache_refer_alloff(ch, end);
    resamp_cache_create();
    prescanning_flag = 0;
    reset_midi(0);
}

// ---- one song -----------------------------------------------------------------------------

// Reads the song and loads what it needs. 0 with the event array, or the result that ends
// the song.
static int play_midi_load_file(const char* fn, MidiEvent** event, int32* nevents, int32* nsamples)
{
    file_from_stdin = strcmp(fn, "-") == 0;
    ctl_mode_event(CTLE_NOW_LOADING, 0, (long)fn, 0);
    cmsg(CMSG_INFO, VERB_VERBOSE, "MIDI file: %s", fn);
    InputFile* tf = open_midi_file(fn, 1, OF_VERBOSE);
    if (tf == nullptr) {
        ctl_mode_event(CTLE_LOADING_DONE, 0, -1, 0);
        return RC_ERROR;
    }
    int rc = check_apply_control();
    if (is_stop_code(rc)) {
        close_file(tf);
        ctl_mode_event(CTLE_LOADING_DONE, 0, 1, 0);
        return rc;
    }
    *event = read_midi_file(tf, nevents, nsamples, fn);
    close_file(tf);
    if (*event == nullptr) {
        ctl_mode_event(CTLE_LOADING_DONE, 0, -1, 0);
        return RC_ERROR;
    }
    long secs = (long)(*nsamples / output_rate());
    cmsg(CMSG_INFO, VERB_NOISY, "%d supported events, %d samples, time %d:%02d", (int)*nevents,
         (int)*nsamples, (int)(secs / 60), (int)(secs % 60));

    if (!song_is_audio_file() && (play_mode->flag & PF_PCM_STREAM)) {
        if (!opt_realtime_playing) {
            rc = RC_NONE;
            load_missing_instruments(&rc);
            if (is_stop_code(rc)) {
                ctl_mode_event(CTLE_LOADING_DONE, 0, 1, 0);
                clear_magic_instruments();
                free(*event);
                *event = nullptr;
                return rc;
            }
        }
    } else {
        clear_magic_instruments();
    }
    ctl_mode_event(CTLE_LOADING_DONE, 0, 0, 0);
    return RC_NONE;
}

// Plays a loaded song to its end and releases it.
static int play_midi(MidiEvent* eventlist, int32 samples)
{
    ctl_mode_event(CTLE_PLAY_START, 0, samples, 0);
    sample_count = samples;
    transport_song_started(samples, readmidi_error_flag != 0);
    cut_notes = lost_notes = 0;
    check_eot_flag = 1;
    event_list = eventlist;
    current_event = eventlist;
    reset_midi(0);

    if (!opt_realtime_playing && allocate_cache_size > 0 && !song_is_audio_file() &&
        (play_mode->flag & PF_PCM_STREAM))
        prescan_song(eventlist);

    // The window names the channels' instruments as the song starts; program changes rename them.
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        publish_channel_instrum_name(ch);

    int rc = aq_flush(0);
    if (!is_stop_code(rc)) {
        skip_to(midi_restart_time);
        if (midi_restart_time > 0)
            for (int ch = 0; ch < MAX_CHANNELS; ch++)
                redraw_controllers(ch);
        for (;;) {
            midi_restart_time = 1;
            rc = play_event(current_event);
            if (rc != RC_NONE)
                break;
            if (current_event->type == ME_EOT) {
                rc = RC_TUNE_END;  // the end of track came back without ending the song
                break;
            }
            if (midi_restart_time)
                current_event++;
        }
    }

    ctl_mode_event(CTLE_PLAY_END, 0, 0, 0);
    free_drum_settings();
    if (free_instruments_afterwards)
        free_instruments(0);
    free_special_patch(-1);
    free(event_list);
    event_list = nullptr;
    current_event = nullptr;
    return rc;
}

int play_midi_file(const char* fn)
{
    static int last_rc = RC_NONE;

    current_file_info = get_midi_file_info(fn, 1);
    int rc = check_apply_control();
    if (is_stop_code(rc))
        return rc;

    current_keysig = (int8)(opt_init_keysig == 8 ? 0 : opt_init_keysig);
    note_key_offset = 0;
    midi_time_ratio = 1.0;
    current_play_tempo = 500000;
    for (Channel& c : channel) {
        memset(c.scale_tuning, 0, sizeof(c.scale_tuning));
        c.prev_scale_tuning = 0;
        c.temper_type = 0;
    }
    channel_mute = (temper_type_mute & 1) ? 0xFFFFFFFFu : 0;
    midi_restart_time = 0;
    init_polyphony_control();
    reduce_quality_flag = no_4point_interpolation;
    restore_voices(0);
    // A patch that failed to load for an earlier song is tried again: it may have been mended
    // since. Within a song a failure is still reported and tried only once.
    clear_magic_instruments();
    ctl_mode_event(CTLE_METRONOME, 0, 0, 0);
    ctl_mode_event(CTLE_KEYSIG, 0, current_keysig, 0);
    ctl_mode_event(CTLE_TEMPER_KEYSIG, 0, 0, 0);
    if (opt_force_keysig != 8)
        note_key_offset = transpose_for_keysig(current_keysig, opt_force_keysig, note_key_offset);
    ctl_mode_event(CTLE_KEY_OFFSET, 0, note_key_offset, 0);
    current_freq_table = tonic_freq_table(current_keysig, note_key_offset);
    ctl_mode_event(CTLE_TEMPO, 0, current_play_tempo, 0);
    ctl_mode_event(CTLE_TIME_RATIO, 0, (long)(100 / midi_time_ratio + 0.5), 0);
    for (int ch = 0; ch < MAX_CHANNELS; ch++) {
        ctl_mode_event(CTLE_TEMPER_TYPE, 0, ch, channel[ch].temper_type);
        ctl_mode_event(CTLE_MUTE, 0, ch, temper_type_mute & 1);
    }

    do {
        MidiEvent* event = nullptr;
        int32 nevents = 0, nsamples = 0;
        rc = play_midi_load_file(fn, &event, &nevents, &nsamples);
        if (rc != RC_NONE)
            break;
        rc = play_midi(event, nsamples);
    } while (rc == RC_RELOAD);

    if (rc == RC_ERROR) {
        if (current_file_info->file_type == IS_OTHER_FILE)
            current_file_info->file_type = IS_ERROR_FILE;
        if (last_rc == RC_REALLY_PREVIOUS)
            return RC_REALLY_PREVIOUS;
    }
    last_rc = rc;
    return rc;
}
