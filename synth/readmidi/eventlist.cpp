#include "readmidi/eventlist.h"

#include <cstdlib>
#include <cstring>

#include "effects/effect.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "output/output.h"
#include "play/channels.h"
#include "readmidi/sysex.h"

EventListNode* evlist = nullptr;
EventListNode* current_midi_point = nullptr;
int32 event_count = 0;
int readmidi_error_flag = 0;
TimeSigRecord timesig[MAX_TIMESIG];
int current_read_track = 0;
int karaoke_format = 0;
int karaoke_title_flag = 0;
int midi_port_number = 0;
int readmidi_smpte_timing = 0;
int default_channel_program[256];
int32 sample_increment = 0;
int32 sample_correction = 0;

// The node pool: blocks of nodes chained together, handed out in order and released in one
// step by free_midi_list.
enum { NODES_PER_BLOCK = 4096 };
struct NodeBlock {
    NodeBlock* next;
    int used;
    EventListNode nodes[NODES_PER_BLOCK];
};
static NodeBlock* mempool = nullptr;

static EventListNode* new_node(void)
{
    if (mempool == nullptr || mempool->used == NODES_PER_BLOCK) {
        NodeBlock* b = (NodeBlock*)safe_malloc(sizeof(NodeBlock));
        b->next = mempool;
        b->used = 0;
        mempool = b;
    }
    return &mempool->nodes[mempool->used++];
}

void free_midi_list(void)
{
    if (evlist == nullptr)
        return;
    while (mempool != nullptr) {
        NodeBlock* next = mempool->next;
        free(mempool);
        mempool = next;
    }
    evlist = nullptr;
    current_midi_point = nullptr;
}

void readmidi_read_init(void)
{
    // Default layering: every channel hears only itself.
    for (int i = 0; i < MAX_CHANNELS; i++) {
        channel[i].channel_layer = 1u << i;
        channel[i].port_select = i >> 4;
    }
    reset_sysex_reader_state();
    // A new song starts with the effect parameters at power-on.
    init_effect_status();

    free_midi_list();
    evlist = new_node();
    memset(&evlist->event, 0, sizeof(evlist->event));
    evlist->event.type = ME_NONE;
    evlist->next = evlist->prev = nullptr;
    current_midi_point = evlist;
    readmidi_error_flag = 0;
    event_count = 1;

    free_string_event_table();
    delete_string_table(&string_event_strtab);
    karaoke_format = 0;
    readmidi_smpte_timing = 0;
    for (int i = 0; i < 256; i++)
        default_channel_program[i] = -1;
}

int32 readmidi_set_track(int trackno, int rewindp)
{
    current_read_track = trackno;
    clear_chorus_text_state();
    if (karaoke_format == 1 && current_read_track == 2)
        karaoke_format = 2;
    else if (karaoke_format == 2 && current_read_track == 3)
        karaoke_format = 3;
    midi_port_number = 0;

    if (evlist == nullptr)
        return 0;
    if (rewindp) {
        current_midi_point = evlist;
    } else {
        while (current_midi_point->next != nullptr)
            current_midi_point = current_midi_point->next;
    }
    return current_midi_point->event.time;
}

void readmidi_add_event(const MidiEvent* a_event)
{
    if (evlist == nullptr)
        return;
    if (event_count == MAX_MIDI_EVENT) {
        if (!readmidi_error_flag) {
            readmidi_error_flag = 1;
            cmsg(CMSG_ERROR, VERB_NORMAL, "Maxmum number of events is exceeded");
        }
        return;
    }
    event_count++;

    EventListNode* newev = new_node();
    newev->event = *a_event;
    if (newev->event.time < 0)
        newev->event.time = 0;
    int32 at = newev->event.time;

    EventListNode* p = current_midi_point;
    if (p->event.time > at) {
        // Backwards to the last node not later than the new one; the head has time 0.
        while (p->prev != nullptr && p->event.time > at)
            p = p->prev;
    } else {
        // Forwards past every node not later than the new one.
        while (p->next != nullptr && p->next->event.time <= at)
            p = p->next;
    }
    newev->prev = p;
    newev->next = p->next;
    if (p->next != nullptr)
        p->next->prev = newev;
    p->next = newev;
    current_midi_point = newev;
}

int convert_midi_control_change(int chn, int type, int val, MidiEvent* ev_ret)
{
    static const struct {
        uint8 control;
        uint8 type;
    } table[] = {
        {0, ME_TONE_BANK_MSB},       {1, ME_MODULATION_WHEEL},   {2, ME_BREATH},
        {4, ME_FOOT},                {5, ME_PORTAMENTO_TIME_MSB}, {6, ME_DATA_ENTRY_MSB},
        {7, ME_MAINVOLUME},          {8, ME_BALANCE},            {10, ME_PAN},
        {11, ME_EXPRESSION},         {32, ME_TONE_BANK_LSB},     {37, ME_PORTAMENTO_TIME_LSB},
        {38, ME_DATA_ENTRY_LSB},     {64, ME_SUSTAIN},           {65, ME_PORTAMENTO},
        {66, ME_SOSTENUTO},          {67, ME_SOFT_PEDAL},        {68, ME_LEGATO_FOOTSWITCH},
        {69, ME_HOLD2},              {71, ME_HARMONIC_CONTENT},  {72, ME_RELEASE_TIME},
        {73, ME_ATTACK_TIME},        {74, ME_BRIGHTNESS},        {84, ME_PORTAMENTO_CONTROL},
        {91, ME_REVERB_EFFECT},      {92, ME_TREMOLO_EFFECT},    {93, ME_CHORUS_EFFECT},
        {94, ME_CELESTE_EFFECT},     {95, ME_PHASER_EFFECT},     {96, ME_RPN_INC},
        {97, ME_RPN_DEC},            {98, ME_NRPN_LSB},          {99, ME_NRPN_MSB},
        {100, ME_RPN_LSB},           {101, ME_RPN_MSB},          {120, ME_ALL_SOUNDS_OFF},
        {121, ME_RESET_CONTROLLERS}, {123, ME_ALL_NOTES_OFF},    {126, ME_MONO},
        {127, ME_POLY},
    };
    for (const auto& entry : table) {
        if (entry.control == type) {
            // A value that is missing or out of range counts as the largest one.
            if (val < 0 || val > 127)
                val = 127;
            ev_ret->type = entry.type;
            ev_ret->channel = (uint8)chn;
            ev_ret->a = (uint8)val;
            ev_ret->b = 0;
            return 1;
        }
    }
    return 0;
}

void readmidi_add_ctl_event(int32 at, int ch, int a, int b)
{
    MidiEvent ev;
    if (convert_midi_control_change(ch, a, b, &ev)) {
        ev.time = at;
        readmidi_add_event(&ev);
    } else {
        cmsg(CMSG_INFO, VERB_DEBUG, "(Control ch=%d %d: %d)", ch, a, b);
    }
}

void compute_sample_increment(int32 tempo, int32 divisions)
{
    if (divisions < 1)
        divisions = 1;  // the reader refuses a division of 0; never divide by it here
    int32 rate = (play_mode != nullptr) ? play_mode->rate : 44100;
    long double a = (long double)tempo * (long double)rate * 0.065536L / (long double)divisions;
    // Samples per tick in 16.16 fixed point must fit 31 bits: a tick longer than about
    // 32767 samples is not a tempo a song can mean.
    int32 step;
    if (!(a >= 0))
        step = 0;
    else if (a >= 2147483647.0L)
        step = 0x7FFFFFFF;
    else
        step = (int32)a;
    sample_correction = step & 0xFFFF;
    sample_increment = (step >> 16) & 0xFFFF;
    cmsg(CMSG_INFO, VERB_DEBUG, "Samples per delta-t: %d (correction %d)", sample_increment,
         sample_correction);
}
