// The queue that hands note events from the playback thread to the toolkit thread.
#ifndef CORVELLE_VIS_NOTE_QUEUE_H
#define CORVELLE_VIS_NOTE_QUEUE_H

#include <deque>
#include <mutex>
#include "readmidi/event.h"

// First in, first out; every operation takes the lock, so one thread may push while
// another looks at the front and pops.
class NoteQueue {
public:
    void push(const MidiEvent& ev);
    // Copies the front event into *ev; false when the queue is empty.
    bool front(MidiEvent* ev) const;
    void pop();
    bool empty() const;
    size_t size() const;

private:
    mutable std::mutex lock;
    std::deque<MidiEvent> events;
};

#endif
