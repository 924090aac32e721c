#include "vis/note_queue.h"

void NoteQueue::push(const MidiEvent& ev)
{
    std::lock_guard<std::mutex> hold(lock);
    events.push_back(ev);
}

bool NoteQueue::front(MidiEvent* ev) const
{
    std::lock_guard<std::mutex> hold(lock);
    if (events.empty())
        return false;
    *ev = events.front();
    return true;
}

void NoteQueue::pop()
{
    std::lock_guard<std::mutex> hold(lock);
    if (!events.empty())
        events.pop_front();
}

bool NoteQueue::empty() const
{
    std::lock_guard<std::mutex> hold(lock);
    return events.empty();
}

size_t NoteQueue::size() const
{
    std::lock_guard<std::mutex> hold(lock);
    return events.size();
}
