#include "frontend/miditrace.h"

#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"
#include "output/aq.h"

MidiTrace midi_trace;

// The audio device's play position in samples (the audio queue's clock), or -1 while the
// output cannot report it.
static int32 device_play_position(void)
{
    return aq_samples();
}

int32 current_trace_samples(void)
{
    int32 played = device_play_position();
    if (played == -1)
        return -1;
    return played + __atomic_load_n(&midi_trace.offset, __ATOMIC_RELAXED);
}

// The sample time a call queued now is due at. Once the output reports its play position
// this is the render position; until then every call is due at once (-1).
static int32 trace_start_time(void)
{
    return -1;
}

static void free_node_list(MidiTraceNode* p)
{
    while (p != nullptr) {
        MidiTraceNode* next = p->next;
        free(p);
        p = next;
    }
}

void init_midi_trace(void)
{
    free_node_list(midi_trace.head);
    free_node_list(midi_trace.free_list);
    midi_trace.flush_flag = 0;
    midi_trace.loop_hook = nullptr;
    midi_trace.head = midi_trace.tail = midi_trace.free_list = nullptr;
    trace_offset(0);
}

static void run_node(MidiTraceNode* p)
{
    if (!ctl->opened)
        return;
    switch (p->argc) {
    case 0:
        p->f.f0();
        break;
    case 1:
    case 3:
        p->f.f1((int)p->a.args[0]);
        break;
    case 2:
        p->f.f2((int)p->a.args[0], (int)p->a.args[1]);
        break;
    case 4:
        p->f.fce(&p->a.ce);
        break;
    }
}

MidiTraceNode* midi_trace_setfunc(MidiTraceNode* node)
{
    if (!ctl->trace_playing || node->start < 0) {
        run_node(node);
        return nullptr;
    }
    MidiTraceNode* p = midi_trace.free_list;
    if (p != nullptr)
        midi_trace.free_list = p->next;
    else
        p = (MidiTraceNode*)safe_malloc(sizeof(MidiTraceNode));
    *p = *node;
    p->next = nullptr;
    if (midi_trace.head == nullptr)
        midi_trace.head = midi_trace.tail = p;
    else {
        midi_trace.tail->next = p;
        midi_trace.tail = p;
    }
    return p;
}

static MidiTraceNode new_node(int argc)
{
    MidiTraceNode node;
    memset(&node, 0, sizeof(node));
    node.start = trace_start_time();
    node.argc = argc;
    return node;
}

void push_midi_trace0(void (*f)(void))
{
    if (f == nullptr)
        return;
    MidiTraceNode node = new_node(0);
    node.f.f0 = f;
    midi_trace_setfunc(&node);
}

void push_midi_trace1(void (*f)(int), int arg1)
{
    if (f == nullptr)
        return;
    MidiTraceNode node = new_node(1);
    node.a.args[0] = arg1;
    node.f.f1 = f;
    midi_trace_setfunc(&node);
}

void push_midi_trace2(void (*f)(int, int), int arg1, int arg2)
{
    if (f == nullptr)
        return;
    MidiTraceNode node = new_node(2);
    node.a.args[0] = arg1;
    node.a.args[1] = arg2;
    node.f.f2 = f;
    midi_trace_setfunc(&node);
}

void push_midi_trace_ce(void (*f)(ControlEvent*), ControlEvent* ce)
{
    if (f == nullptr)
        return;
    MidiTraceNode node = new_node(4);
    node.a.ce = *ce;
    node.f.fce = f;
    midi_trace_setfunc(&node);
}

void push_midi_time_vp(int32 start, void (*f)(int), int v)
{
    if (f == nullptr)
        return;
    MidiTraceNode node = new_node(3);
    node.start = start;
    node.a.args[0] = v;
    node.f.f1 = f;
    midi_trace_setfunc(&node);
}

static void send_refresh(void)
{
    if (ctl->event == nullptr)
        return;
    ControlEvent ce = {CTLE_REFRESH, 0, 0, 0, 0};
    ctl->event(&ce);
}

int trace_loop(void)
{
    static int32 last_now = -1;

    if (midi_trace.loop_hook != nullptr)
        midi_trace.loop_hook();
    if (midi_trace.head == nullptr)
        return 0;

    int32 now = current_trace_samples();
    if (now == -1 || !ctl->trace_playing)
        now = 0x7fffffff;

    int ran = 0, ran_event = 0;
    while (midi_trace.head != nullptr && midi_trace.head->start <= now && now > 0) {
        MidiTraceNode* p = midi_trace.head;
        midi_trace.head = p->next;
        if (p->argc == 4)
            ran_event = 1;
        run_node(p);
        p->next = midi_trace.free_list;
        midi_trace.free_list = p;
        ran = 1;
    }
    if (ran_event)
        send_refresh();

    if (midi_trace.head != nullptr) {
        // A stalled clock must not hold the queue for ever.
        if (!ran && now == last_now)
            midi_trace.head->start--;
        last_now = now;
        return 1;
    }
    last_now = now;
    midi_trace.tail = nullptr;
    return 0;
}

void trace_flush(void)
{
    midi_trace.flush_flag = 1;
    while (midi_trace.head != nullptr) {
        MidiTraceNode* p = midi_trace.head;
        midi_trace.head = p->next;
        run_node(p);
        free(p);
    }
    free_node_list(midi_trace.free_list);
    midi_trace.head = midi_trace.tail = midi_trace.free_list = nullptr;
    send_refresh();
    midi_trace.flush_flag = 0;
}

int32 trace_wait_samples(void)
{
    if (midi_trace.head == nullptr)
        return -1;
    int32 now = current_trace_samples();
    if (now == -1)
        return 0;
    int32 wait = midi_trace.head->start - now;
    return wait < 0 ? 0 : wait;
}

// The window's thread reads the offset with the play position (current_trace_samples) while
// the playback thread sets it when a song starts or skips.
void trace_offset(int32 offset)
{
    __atomic_store_n(&midi_trace.offset, offset, __ATOMIC_RELAXED);
}

void set_trace_loop_hook(void (*f)(void))
{
    midi_trace.loop_hook = f;
}
