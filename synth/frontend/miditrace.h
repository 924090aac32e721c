// The MIDI trace: control events held until the audio device reaches their sample time,
// and the play-position clock.
#ifndef CORVELLE_FRONTEND_MIDITRACE_H
#define CORVELLE_FRONTEND_MIDITRACE_H

#include "sysdep.h"
#include "frontend/controls.h"

// One queued call. args holds the call's arguments or, for form 4, a ControlEvent.
struct MidiTraceNode {
    int32 start;  // sample time at which it runs; -1 runs at once
    int argc;     // 0 none, 1 one int, 2 two ints, 3 one int with a time, 4 a ControlEvent
    union {
        long args[5];
        ControlEvent ce;
    } a;
    union {
        void (*f0)(void);
        void (*f1)(int);
        void (*f2)(int, int);
        void (*fce)(ControlEvent*);
    } f;
    MidiTraceNode* next;
};

struct MidiTrace {
    int32 offset;  // added to the play position
    int flush_flag;
    void (*loop_hook)(void);
    MidiTraceNode *head, *tail;
    MidiTraceNode* free_list;
};

extern MidiTrace midi_trace;

void init_midi_trace(void);
// Queue a call of f at the current play time (or run it now when nothing is traced).
void push_midi_trace0(void (*f)(void));
void push_midi_trace1(void (*f)(int), int arg1);
void push_midi_trace2(void (*f)(int, int), int arg1, int arg2);
void push_midi_trace_ce(void (*f)(ControlEvent*), ControlEvent* ce);
// Queue f(v) at sample time start.
void push_midi_time_vp(int32 start, void (*f)(int), int v);
// The common tail: queues a copy of node, or runs it at once; returns the queued node or none.
MidiTraceNode* midi_trace_setfunc(MidiTraceNode* node);

// Runs the calls whose time has come; 1 while calls remain queued, else 0.
int trace_loop(void);
// Runs every queued call regardless of its time and empties the queue.
void trace_flush(void);
// Samples until the next queued call is due: -1 nothing queued, 0 position unknown.
int32 trace_wait_samples(void);
void trace_offset(int32 offset);
void set_trace_loop_hook(void (*f)(void));

// Samples the audio device has played plus the trace offset, or -1 when the output cannot tell.
int32 current_trace_samples(void);

#endif
