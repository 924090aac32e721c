// What each fuzz target does with one input. The libFuzzer programs in this folder call these,
// and the regression test runs the inputs they once failed on through the same functions.
#ifndef CORVELLE_FUZZ_TARGETS_H
#define CORVELLE_FUZZ_TARGETS_H

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/files.h"
#include "config/readconfig.h"
#include "config/soundfont.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "instrum/instrum.h"
#include "instrum/sf2_reader.h"
#include "instrum/soundfont_instruments.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "readmidi/sysex.h"
#include "tests/support/sf2_writer.h"

// The program's start-up tables, a known output mode and control ratio, errors only, and no
// terminal to read ("source -").
inline void fuzz_engine_init()
{
    static PlayMode mode = {44100, 0, 0, -1, {0, 0, 0, 0, 0}, "fuzz output", 'f', "-",
                            nullptr, nullptr, nullptr, nullptr, nullptr};
    play_mode = &mode;  // kept by the start-up, which opens no device then
    corvelle_start_initialize();
    control_ratio = 44;
    ctl = &dumb_control_mode;
    ctl->verbosity = VERB_NORMAL;
    if (freopen("/dev/null", "r", stdin) == nullptr)
        perror("/dev/null");
}

// The song reader on a file image, through the event array it builds.
inline void fuzz_midi_input(const uint8_t* data, size_t size)
{
    int32 count = 0, samples = 0;
    MidiEvent* ev = read_midi_memory(data, (long)size, &count, &samples, "fuzz.mid");
    if (ev != nullptr) {
        if (count < 1 || ev[count - 1].type != ME_EOT)
            abort();  // an array without its end-of-song event
        free(ev);
    }
    free_all_midi_file_info();
}

// Both system-exclusive decoders on the bytes of one message (after 0xF0).
inline void fuzz_sysex_input(const uint8_t* data, size_t size)
{
    current_file_info = get_midi_file_info("sysex.mid", 1);
    readmidi_read_init();
    readmidi_set_track(0, 1);
    MidiEvent ev;
    memset(&ev, 0, sizeof(ev));
    parse_sysex_event(data, (int32)size, &ev);
    static MidiEvent evm[MAX_SYSEX_EVENTS];
    int n = parse_sysex_event_multi(data, (int32)size, evm);
    if (n < 0 || n > MAX_SYSEX_EVENTS)
        abort();
    free_midi_list();
    delete_string_table(&string_event_strtab);
    free_all_midi_file_info();
}

// The patch loader on a file image. The first byte chooses the settings it is loaded with.
inline void fuzz_patch_input(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    uint8_t sel = data[0];
    static ToneBank bank;
    memset(&bank, 0, sizeof(bank));
    for (ToneBankElement& e : bank.tone)
        e.note = e.pan = e.strip_loop = e.strip_envelope = e.strip_tail = -1, e.amp = -1;
    ToneBankElement& t = bank.tone[0];
    if (sel & 1)
        t.note = 60;
    if (sel & 2)
        t.amp = 200;
    if (sel & 4)
        t.strip_loop = t.strip_envelope = 1;
    if (sel & 8)
        t.strip_tail = 1;
    fast_decay = (sel & 16) != 0;
    antialiasing_allowed = (sel & 32) != 0;
    Instrument* ip = load_gus_instrument_from_memory("fuzz.pat", data + 1, (long)size - 1,
                                                     (sel & 64) ? &bank : nullptr,
                                                     (sel & 128) != 0, 0);
    if (ip != nullptr) {
        // What the voices rely on: data, a rate and pitch, loops inside the data.
        for (int i = 0; i < ip->samples; i++) {
            const Sample& sp = ip->sample[i];
            if (sp.data == nullptr || sp.sample_rate <= 0 || sp.root_freq <= 0 ||
                sp.loop_start > sp.loop_end || sp.loop_end > sp.data_length)
                abort();
        }
        free_instrument(ip);
    }
    fast_decay = antialiasing_allowed = 0;
}

// The SoundFont reader on a file image, then every preset converted (drum presets for one key
// chosen by the first byte), and every point the voices may read of every sample touched.
inline void fuzz_sf2_input(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    const int key = data[0] & 0x7F;
    // A file is mapped at a page boundary: the image gets an aligned buffer of its own.
    std::string image((const char*)data + 1, size - 1), why;
    SF2File* f = sf2_read_memory(image.data(), image.size(), "fuzz.sf2", &why);
    if (f == nullptr)
        return;
    SF2Settings set;
    set.cutoff = (data[0] & 0x80) ? 0 : -1;
    for (const SF2ZoneList& p : f->presets) {
        Instrument* ip = sf2_convert_preset(f, p.bank, p.preset, p.bank == 128 ? key : -1, set,
                                            44100, 44);
        if (ip == nullptr)
            continue;
        volatile int sum = 0;
        for (int i = 0; i < ip->samples; i++) {
            sf2_sample_ready(&ip->sample[i]);
            const Sample& sp = ip->sample[i];
            if (sp.data == nullptr || sp.sample_rate <= 0 || sp.root_freq <= 0 ||
                sp.loop_start > sp.loop_end || sp.loop_end > sp.data_length ||
                sp.low_freq > sp.high_freq)
                abort();
            for (splen_t k = 0; k < (sp.data_length >> FRACTION_BITS) + 2; k++)
                sum = sum + sp.data[k];
        }
        free_instrument(ip);
    }
    delete f;
}

// The Ogg Vorbis decoding of compressed fonts: the input (after the byte choosing the drum key
// and the filter setting) is the stream of the one sample of an SF3 font, played looped as a
// melodic preset and as a drum kit.
inline void fuzz_sf3_input(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    Sf2FontDef def;
    def.compressed = true;
    Sf2SampleDef s;
    s.name = "fuzz";
    s.stream.assign((const char*)data + 1, size - 1);
    s.loop_start = 8, s.loop_end = 1000;
    def.samples = {s};
    def.instruments = {{"fuzz", {{{{SF2_SAMPLE_MODES, 1}}, 0}}}};
    def.presets = {{"fuzz", 0, 0, {{{}, 0}}}, {"kit", 0, 128, {{{}, 0}}}};
    std::string image = build_sf2(def);
    image.insert(image.begin(), (char)data[0]);
    fuzz_sf2_input((const uint8_t*)image.data(), image.size());
}

// Options that end the program by design (help, version, the dashed forms with an unknown
// name) become an unknown keyword; everything else reaches the reader as given.
inline void defuse_exiting_options(std::string& t)
{
    for (size_t at = 0; (at = t.find("opt", at)) != std::string::npos; at += 3) {
        size_t p = at + 3;
        while (p < t.size() && !isalnum((unsigned char)t[p]) && t[p] != '-')
            p++;  // separators, quotes and whatever else stands between
        if (p == t.size() || t[p] == '-' || t[p] == 'h' || t[p] == 'v')
            t[at + 1] = 'q';
    }
}

// The configuration reader on a text; the configuration is emptied again afterwards.
inline void fuzz_config_input(const uint8_t* data, size_t size)
{
    std::string text((const char*)data, size);
    defuse_exiting_options(text);
    rcf_count = 0;
    int status = read_config_file(text.c_str(), 1);
    if (status < 0 || status > 2)
        abort();
    free_tone_bank();
    free_instrument_map();
    free_soundfont_requests();
    clean_up_pathlist();
    progbase = 0;
    rcf_count = 0;
    def_instr_name[0] = '\0';
    default_instrument_name = nullptr;
    ctl = &dumb_control_mode;
    ctl->verbosity = VERB_NORMAL;
}

#endif
