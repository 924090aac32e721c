// The cache of loaded patch instruments: a file loaded once with the same overrides is
// handed out again instead of being read a second time.
#include "instrum/instrum.h"

#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"

InstrumentCache* instrument_cache[INSTRUMENT_HASH_SIZE];

int name_hash(const char* name)
{
    unsigned int sum = 0;
    for (const char* p = name; *p != '\0'; p++)
        sum += (unsigned int)(int)(int8)*p;
    return (int)(sum & (INSTRUMENT_HASH_SIZE - 1));
}

void free_instrument(Instrument* ip)
{
    if (ip == nullptr)
        return;
    for (int i = 0; i < ip->samples; i++) {
        Sample* sp = &ip->sample[i];
        if (sp->data_alloced)
            free(sp->data);
    }
    free(ip->sample);
    free(ip->instname);
    free(ip);
}

Instrument* find_cached_instrument(const char* name, int panning, int amp, int note,
                                   int strip_loop, int strip_envelope, int strip_tail)
{
    for (InstrumentCache* p = instrument_cache[name_hash(name)]; p != nullptr; p = p->next) {
        if (strcmp(p->name, name) == 0 && p->panning == panning && p->amp == amp &&
            p->note == note && p->strip_loop == strip_loop &&
            p->strip_envelope == strip_envelope && p->strip_tail == strip_tail)
            return p->ip;
    }
    return nullptr;
}

void store_cached_instrument(const char* name, int panning, int amp, int note, int strip_loop,
                             int strip_envelope, int strip_tail, Instrument* ip)
{
    int i = name_hash(name);
    InstrumentCache* p = (InstrumentCache*)safe_malloc(sizeof(InstrumentCache));
    // The entry keeps its own copy: the element that named the patch may be freed or
    // renamed by the next configuration while the instrument stays cached.
    p->name = safe_strdup(name);
    p->panning = panning;
    p->amp = amp;
    p->note = note;
    p->strip_loop = strip_loop;
    p->strip_envelope = strip_envelope;
    p->strip_tail = strip_tail;
    p->ip = ip;
    p->next = instrument_cache[i];
    instrument_cache[i] = p;
}

void clear_instrument_cache(Instrument* keep)
{
    for (int i = 0; i < INSTRUMENT_HASH_SIZE; i++) {
        InstrumentCache* p = instrument_cache[i];
        InstrumentCache* kept = nullptr;
        while (p != nullptr) {
            InstrumentCache* next = p->next;
            if (keep != nullptr && p->ip == keep && kept == nullptr) {
                kept = p;
                kept->next = nullptr;
            } else {
                if (p->ip != keep)
                    free_instrument(p->ip);
                free(p->name);
                free(p);
            }
            p = next;
        }
        instrument_cache[i] = kept;
    }
}
