// The queue that hands note events from the playback thread to the toolkit thread.
#ifndef CORVELLE_VIS_NOTE_QUEUE_H
#define CORVELLE_VIS_NOTE_QUEUE_H

#include <deque>
#include <functional>
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
    // Takes the front event into *ev when due(front) says so and the queue has not been
    // cleared since epoch() returned `since`, in one step. False when nothing was taken.
    bool pop_if(const std::function<bool(const MidiEvent&)>& due, MidiEvent* ev, unsigned since);
    // Empties the queue and starts a new epoch.
    void clear();
    unsigned epoch() const;
    bool empty() const;
    size_t size() const;

private:
    mutable std::mutex lock;
    std::deque<MidiEvent> events;
    unsigned cleared = 0;
};

#endif
