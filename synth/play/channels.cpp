#include "play/channels.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "play/sf_modulators.h"
#include "play/sysmode.h"
#include "play/voice.h"
#include "readmidi/readmidi.h"
#include "render/voice_params.h"

Channel channel[MAX_CHANNELS];

static bool valid_slot(int bank)
{
    return bank >= 0 && bank < TONEBANK_SLOTS;
}

const char* channel_instrum_name(int ch)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return "";
    const Channel& c = channel[ch];
    if (ISDRUMCHANNEL(ch)) {
        int bank = c.bank;
        if (!valid_slot(bank) || drumset[bank] == nullptr)
            return "";
        const char* comment = drumset[bank]->tone[0].comment;
        return comment != nullptr ? comment : "";
    }
    if (c.program == -1)
        return "Special Program";
    if (current_file_info != nullptr && current_file_info->file_type >= IS_AUDIO_FILE_FIRST &&
        current_file_info->file_type <= IS_AUDIO_FILE_LAST) {
        const SpecialPatch* sp = special_patch[(uint8)c.special_sample];
        return sp != nullptr && sp->name != nullptr ? sp->name : "MOD";
    }

    int bank = c.bank, prog = c.program & 0x7f;
    instrument_map(c.mapID, &bank, &prog);
    if (!valid_slot(bank) || prog < 0 || prog > 127)
        return "";
    // The note view asks from its own thread: a bank that does not exist is not created here
    // (it would have no name for the program either), bank 0 answers for it.
    const ToneBankElement* e = nullptr;
    if (tonebank[bank] != nullptr)
        e = &tonebank[bank]->tone[prog];
    if ((e == nullptr || e->name == nullptr) && tonebank[0] != nullptr)
        e = &tonebank[0]->tone[prog];
    if (e == nullptr)
        return "";
    if (e->comment != nullptr)
        return e->comment;
    return e->name != nullptr ? e->name : "";
}

static std::mutex published_names_lock;
static char published_names[MAX_CHANNELS][64];
static unsigned published_names_count = 0;

void publish_channel_instrum_name(int ch)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    const char* name = channel_instrum_name(ch);
    std::lock_guard<std::mutex> hold(published_names_lock);
    if (strncmp(published_names[ch], name, sizeof published_names[ch] - 1) == 0)
        return;
    snprintf(published_names[ch], sizeof published_names[ch], "%s", name);
    published_names_count++;
}

void published_channel_instrum_name(int ch, char* out, size_t size)
{
    if (size == 0)
        return;
    std::lock_guard<std::mutex> hold(published_names_lock);
    snprintf(out, size, "%s", ch >= 0 && ch < MAX_CHANNELS ? published_names[ch] : "");
}

unsigned published_channel_instrum_names_count(void)
{
    std::lock_guard<std::mutex> hold(published_names_lock);
    return published_names_count;
}

// ---- defaults -----------------------------------------------------------------------------

void init_channel_layer(int c)
{
    if (c < 0 || c >= MAX_CHANNELS)
        return;
    channel[c].channel_layer = 1u << c;
    channel[c].port_select = c >> 4;
}

static void set_drum_defaults(DrumParts* p)
{
    p->drum_panning = -1;
    for (int32& r : p->drum_envelope_rate)
        r = -1;
    p->pan_random = 0;
    p->drum_level = 1.0f;
    p->chorus_level = p->reverb_level = p->delay_level = -1;
    p->coarse = p->fine = 0;
    p->play_note = -1;
    p->drum_cutoff_freq = p->drum_resonance = 0;
    p->rx = 0xFFFFFFFFu;
}

void reset_drum_controllers(DrumParts* d[], int note)
{
    if (note == -1) {
        for (int i = 0; i < 128; i++)
            if (d[i] != nullptr)
                set_drum_defaults(d[i]);
    } else if (note >= 0 && note < 128 && d[note] != nullptr) {
        set_drum_defaults(d[note]);
    }
}

void play_midi_setup_drums(int ch, int note)
{
    if (ch < 0 || ch >= MAX_CHANNELS || note < 0 || note > 127)
        return;
    if (channel[ch].drums[note] == nullptr) {
        channel[ch].drums[note] = (DrumParts*)safe_malloc(sizeof(DrumParts));
        set_drum_defaults(channel[ch].drums[note]);
    }
}

void free_drum_settings(void)
{
    for (Channel& c : channel) {
        for (DrumParts*& d : c.drums) {
            free(d);
            d = nullptr;
        }
    }
}

void set_reverb_level(int ch, int level)
{
    channel[ch].reverb_level = (int8)(level < -1 ? -1 : level > 127 ? 127 : level);
    channel[ch].reverb_id = -1;
}

int get_reverb_level(int ch)
{
    if (channel[ch].reverb_level == -1)
        return opt_reverb_control < 0 ? (-opt_reverb_control) & 0x7f : DEFAULT_REVERB_SEND_LEVEL;
    return channel[ch].reverb_level;
}

void reset_controllers(int c)
{
    Channel& ch = channel[c];
    ch.volume = play_system_mode == XG_SYSTEM_MODE ? 100 : 90;
    if (prescanning_flag && ch.volume > mainvolume_max) {
        mainvolume_max = ch.volume;
        cmsg(CMSG_INFO, VERB_DEBUG, "ME_MAINVOLUME/max (CH:%d VAL:%#x)", c, ch.volume);
    }
    ch.expression = 127;
    ch.sustain = 0;
    ch.sostenuto = 0;
    ch.mono = 0;
    ch.portamento = 0;
    ch.pitchbend = 0x2000;
    ch.pitchfactor = 0;
    ch.portamento_time_msb = ch.portamento_time_lsb = 0;
    ch.porta_control_ratio = 0;
    ch.mod.val = ch.bend.val = ch.caf.val = ch.paf.val = ch.cc1.val = ch.cc2.val = 0;
    sf_reset_controls(c);
    for (int32& r : ch.envelope_rate)
        r = -1;
    ch.last_note_fine = -1;
    update_portamento_controls(c);
    set_reverb_level(c, -1);
    ch.chorus_level = (int8)(opt_chorus_control == 1 ? 0 : -opt_chorus_control);
    ch.delay_level = 0;
}

static void init_midi_controllers(Channel& ch)
{
    midi_controller* records[] = {&ch.mod, &ch.bend, &ch.caf, &ch.paf, &ch.cc1, &ch.cc2};
    for (midi_controller* p : records)
        memset(p, 0, sizeof(*p));
    ch.bend.pitch = 2;
    ch.mod.lfo1_pitch_depth = (opt_default_module >= 1 && opt_default_module <= 3) ? 10 : 50;
}

static void init_part_eq_xg(part_eq_xg& eq)
{
    eq.bass = eq.treble = 0x40;
    eq.bass_freq = 0x0C;
    eq.treble_freq = 0x36;
    eq.valid = 0;
}

// Tells the interface the controller values of channel c after a reset or a seek.
void redraw_controllers(int c)
{
    const Channel& ch = channel[c];
    ctl_mode_event(CTLE_VOLUME, 1, c, ch.volume);
    ctl_mode_event(CTLE_EXPRESSION, 1, c, ch.expression);
    ctl_mode_event(CTLE_SUSTAIN, 1, c, ch.sustain);
    ctl_mode_event(CTLE_MOD_WHEEL, 1, c, ch.mod.val);
    ctl_mode_event(CTLE_PITCH_BEND, 1, c, ch.pitchbend);
    ctl_prog_event(c);
    ctl_mode_event(CTLE_TEMPER_TYPE, 1, c, ch.temper_type);
    ctl_mode_event(CTLE_MUTE, 1, c, (channel_mute >> c) & 1);
    ctl_mode_event(CTLE_CHORUS_EFFECT, 1, c, ch.chorus_level);
    ctl_mode_event(CTLE_REVERB_EFFECT, 1, c, get_reverb_level(c));
}

void reset_midi(int playing)
{
    int module = opt_default_module;
    for (int i = 0; i < MAX_CHANNELS; i++) {
        Channel& c = channel[i];
        reset_controllers(i);
        reset_drum_controllers(c.drums, -1);
        c.bank_msb = (play_system_mode == XG_SYSTEM_MODE && (i & 0xF) == 9) ? 127 : 0;
        c.bank_lsb = 0;
        if (ISDRUMCHANNEL(i))
            c.bank = 0;
        else
            c.bank = (int8)(special_tonebank >= 0 ? special_tonebank : default_tonebank);
        c.program = (int8)default_program[i];
        c.panning = -1;
        set_view_field(c.key_shift, 0);
        c.loop_timeout = 0;
        c.reverb_id = -1;
        c.eq_gs = 1;
        c.insertion_effect = 0;
        c.special_sample = 0;
        c.vibrato_depth = 0;
        c.vibrato_delay = 0;
        c.vibrato_ratio = 1.0f;
        update_rpn_map(i, RPN_ADDR_FFFF, 0);
        c.mapID = get_default_mapID(i);
        c.altassign = nullptr;
        if (ISDRUMCHANNEL(i)) {
            ToneBank* set = drumset[0];
            if (valid_slot(c.bank) && drumset[(int)c.bank] != nullptr)
                set = drumset[(int)c.bank];
            if (set != nullptr)
                c.altassign = set->alt;
        }
        c.lasttime = 0;
        c.pan_random = 0;
        c.param_resonance = c.param_cutoff_freq = 0;
        c.cutoff_freq_coef = 1.0f;
        c.resonance_dB = 0.0f;
        c.velocity_sense_depth = c.velocity_sense_offset = 0x40;
        memset(c.scale_tuning, 0, sizeof(c.scale_tuning));
        c.prev_scale_tuning = 0;
        c.temper_type = 0;
        c.soft_pedal = 0;
        c.damper_mode = 0;
        c.tone_map0_number = (int8)(module >= 1 && module <= 4 ? module : 0);
        c.assign_mode = (play_system_mode == GS_SYSTEM_MODE || ISDRUMCHANNEL(i)) ? 1 : 2;
        c.legato = 0;
        c.legato_flag = 0;
        init_midi_controllers(c);
        init_channel_layer(i);
        init_part_eq_xg(c.eq_xg);
        set_view_field(c.note_limit_high, 127);
        set_view_field(c.note_limit_low, 0);
        set_view_field(c.vel_limit_high, 127);
        set_view_field(c.vel_limit_low, 0);
        c.rx = 0xFFFFFFFFu;
        c.drum_effect_flag = 0;
        c.dry_level = 127;
        c.pitch_offset_fine = 0.0;
        for (SysexSlot& slot : c.sysex_slot)
            slot = {-1, 0};
    }
    if (playing) {
        kill_all_voices();
        if (temper_type_mute) {
            channel_mute = (temper_type_mute & 1) ? 0xFFFFFFFFu : 0;
        }
        for (int i = 0; i < MAX_CHANNELS; i++)
            redraw_controllers(i);
    } else {
        reset_voices();
    }
    master_volume_ratio = 0xFFFF;
    reset_master_settings();
    adjust_amplification();
    init_freq_table_tuning();
    if (current_file_info != nullptr) {
        drumchannels = current_file_info->drumchannels;
        drumchannel_mask = current_file_info->drumchannel_mask;
    } else {
        drumchannels = default_drumchannels;
        drumchannel_mask = default_drumchannel_mask;
    }
    ctl_mode_event(CTLE_MASTER_VOLUME, 0, amplification, 0);
    ctl_mode_event(CTLE_KEY_OFFSET, 0, note_key_offset, 0);
    ctl_mode_event(CTLE_TIME_RATIO, 0, (long)(100 / midi_time_ratio + 0.5), 0);
}

// ---- programs and bank parameters ---------------------------------------------------------

void midi_program_change(int ch, int prog)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    Channel& c = channel[ch];
    // Program and bank bytes are seven-bit; a damaged system-exclusive message may carry
    // any byte, which must neither index past the banks nor read as the special program.
    prog &= 0x7F;
    c.bank_msb &= 0x7F;
    c.bank_lsb &= 0x7F;
    int newbank;
    switch (play_system_mode) {
    case GS_SYSTEM_MODE: {
        int map = c.bank_lsb != 0 ? c.bank_lsb : c.tone_map0_number;
        switch (map) {
        case 1: c.mapID = ISDRUMCHANNEL(ch) ? SC_55_DRUM_MAP : SC_55_TONE_MAP; break;
        case 2: c.mapID = ISDRUMCHANNEL(ch) ? SC_88_DRUM_MAP : SC_88_TONE_MAP; break;
        case 3: c.mapID = ISDRUMCHANNEL(ch) ? SC_88PRO_DRUM_MAP : SC_88PRO_TONE_MAP; break;
        case 4: c.mapID = ISDRUMCHANNEL(ch) ? SC_8850_DRUM_MAP : SC_8850_TONE_MAP; break;
        default: break;
        }
        newbank = c.bank_msb;
        break;
    }
    case GM2_SYSTEM_MODE:
        if (c.bank_msb == 120)
            midi_drumpart_change(ch, 1);
        else if (c.bank_msb == 121)
            midi_drumpart_change(ch, 0);
        c.mapID = ISDRUMCHANNEL(ch) ? GM2_DRUM_MAP : GM2_TONE_MAP;
        newbank = c.bank_lsb;
        break;
    case XG_SYSTEM_MODE:
        switch ((uint8)c.bank_msb) {
        case 0:
            midi_drumpart_change(ch, 0);
            c.mapID = XG_NORMAL_MAP;
            break;
        case 64:
            midi_drumpart_change(ch, 0);
            c.mapID = XG_SFX64_MAP;
            break;
        case 126:
            midi_drumpart_change(ch, 1);
            c.mapID = XG_SFX126_MAP;
            break;
        case 127:
            midi_drumpart_change(ch, 1);
            c.mapID = XG_DRUM_MAP;
            break;
        default: break;
        }
        newbank = c.bank_lsb;
        break;
    default:
        newbank = c.bank_msb;
        break;
    }

    if (ISDRUMCHANNEL(ch)) {
        c.bank = (int8)prog;
        c.program = (int8)prog;
        ToneBank* set = valid_slot(prog) && drumset[prog] != nullptr ? drumset[prog] : drumset[0];
        c.altassign = set != nullptr ? set->alt : nullptr;
        ctl_mode_event(CTLE_DRUMPART, 1, ch, 1);
        return;
    }
    c.bank = (int8)(special_tonebank >= 0 ? special_tonebank : newbank);
    c.program = (int8)(default_program[ch] == -1 ? -1 : prog);
    c.altassign = nullptr;
    ctl_mode_event(CTLE_DRUMPART, 1, ch, 0);
    if (opt_realtime_playing && play_mode != nullptr && (play_mode->flag & PF_PCM_STREAM) &&
        c.program != -1) {
        int b = c.bank, p = c.program;
        instrument_map(c.mapID, &b, &p);
        play_midi_load_instrument(0, b, p);
    }
}

void recompute_bank_parameter(int ch, int note)
{
    if (ch < 0 || ch >= MAX_CHANNELS || note < 0 || note > 127)
        return;
    Channel& c = channel[ch];
    if (c.special_sample > 0)
        return;
    if (ISDRUMCHANNEL(ch)) {
        play_midi_setup_drums(ch, note);
        DrumParts* d = c.drums[note];
        int bank = c.bank, prog = note;
        instrument_map(c.mapID, &bank, &prog);
        if (!valid_slot(bank) || prog < 0 || prog > 127)
            return;
        ToneBank* set = drumset[bank] != nullptr ? drumset[bank] : drumset[0];
        if (set == nullptr)
            return;
        const ToneBankElement& e = set->tone[prog];
        if (d->reverb_level == -1 && e.reverb_send != -1)
            d->reverb_level = e.reverb_send;
        if (d->chorus_level == -1 && e.chorus_send != -1)
            d->chorus_level = e.chorus_send;
        if (d->delay_level == -1 && e.delay_send != -1)
            d->delay_level = e.delay_send;
        return;
    }
    if (c.program == -1)
        return;
    int bank = c.bank, prog = c.program;
    instrument_map(c.mapID, &bank, &prog);
    if (!valid_slot(bank) || prog < 0 || prog > 127)
        return;
    ToneBank* tb = tonebank[bank] != nullptr ? tonebank[bank] : tonebank[0];
    if (tb == nullptr)
        return;
    const ToneBankElement& e = tb->tone[prog];
    if (e.legato != -1)
        c.legato = e.legato;
    if (e.damper_mode != -1)
        c.damper_mode = e.damper_mode;
    if (e.loop_timeout != -1)
        c.loop_timeout = e.loop_timeout;
}

// ---- portamento ---------------------------------------------------------------------------

// 2^(i/16) / 16 and 2^(j/2048), each to five decimals.
static double midi_time_table(int i)
{
    return std::floor(std::pow(2.0, i / 16.0) / 16.0 * 1e5 + 0.5) / 1e5;
}
static double midi_time_table2(int j)
{
    return std::floor(std::pow(2.0, j / 2048.0) * 1e5 + 0.5) / 1e5;
}

static void stop_gliding(int ch)
{
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.status != VOICE_FREE && v.channel == ch && v.porta_control_ratio) {
            v.porta_control_ratio = 0;
            recompute_freq(i);
        }
    }
}

void update_portamento_controls(int ch)
{
    Channel& c = channel[ch];
    if (c.portamento && (c.portamento_time_msb || c.portamento_time_lsb)) {
        double mt = midi_time_table(c.portamento_time_msb & 0x7F) *
                    midi_time_table2(c.portamento_time_lsb & 0x7F) * 0.0002;
        int dc = (int)(1.0 / (mt * 256.0)) + 1;
        double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
        c.porta_dpb = dc;
        c.porta_control_ratio = (int32)(dc * rate * mt + 0.5);
        return;
    }
    c.porta_control_ratio = 0;
    stop_gliding(ch);
    c.last_note_fine = -1;
}

void update_portamento_time(int ch)
{
    update_portamento_controls(ch);
    const Channel& c = channel[ch];
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.status != VOICE_FREE && v.channel == ch && v.porta_control_ratio) {
            v.porta_control_ratio = c.porta_control_ratio;
            v.porta_dpb = c.porta_dpb;
            recompute_freq(i);
        }
    }
}

void drop_portamento(int ch)
{
    channel[ch].porta_control_ratio = 0;
    stop_gliding(ch);
    channel[ch].last_note_fine = -1;
}

// ---- changes reaching the voices ----------------------------------------------------------

void adjust_volume(int ch)
{
    for (int i = 0; i < upper_voices; i++) {
        if (voice[i].channel == ch && (voice[i].status & (VOICE_ON | VOICE_SUSTAINED))) {
            recompute_amp(i);
            apply_envelope_to_amp(i);
        }
    }
}

void adjust_pitch(int ch)
{
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE && voice[i].channel == ch)
            recompute_freq(i);
}

void update_channel_freq(int ch)
{
    adjust_pitch(ch);
}

void adjust_panning(int ch)
{
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.channel != ch || !(v.status & (VOICE_ON | VOICE_SUSTAINED)))
            continue;
        int pan = get_panning(ch, v.note, i);
        int link = v.chorus_link;
        if (opt_surround_chorus && link != i) {
            if (link < i)
                continue;  // the lower voice of the pair places both
            if (pan == 0)
                pan = 1;
            int spread = pan <= 63 ? pan - 1 : 63;
            if (pan + spread > 127)
                spread = 127 - pan;
            v.panning = pan - spread;
            voice[link].panning = pan + spread;
            recompute_amp(link);
            apply_envelope_to_amp(link);
        } else {
            v.panning = pan;
        }
        recompute_amp(i);
        apply_envelope_to_amp(i);
    }
}

// ---- receive flags ------------------------------------------------------------------------

void set_rx(int ch, int32 rx, int flag)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    if (flag)
        channel[ch].rx |= (uint32)rx;
    else
        channel[ch].rx &= ~(uint32)rx;
}

void set_rx_drum(DrumParts* p, int32 rx, int flag)
{
    if (flag)
        p->rx |= (uint32)rx;
    else
        p->rx &= ~(uint32)rx;
}

int32 get_rx_drum(DrumParts* p, int32 rx)
{
    return (int32)(p->rx & (uint32)rx);
}
