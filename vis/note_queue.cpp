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

bool NoteQueue::pop_if(const std::function<bool(const MidiEvent&)>& due, MidiEvent* ev,
                       unsigned since)
{
    std::lock_guard<std::mutex> hold(lock);
    if (cleared != since || events.empty() || !due(events.front()))
        return false;
    *ev = events.front();
    events.pop_front();
    return true;
}

void NoteQueue::clear()
{
    std::lock_guard<std::mutex> hold(lock);
    events.clear();
    cleared++;
}

unsigned NoteQueue::epoch() const
{
    std::lock_guard<std::mutex> hold(lock);
    return cleared;
}
