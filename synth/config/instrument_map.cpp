// Instrument maps: GS, XG and GM2 bank numbers resolved to bank slots and programs.
#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/memory.h"

bank_map_elem map_bank[MAP_BANK_COUNT], map_drumset[MAP_BANK_COUNT];
int map_bank_counter = 0;

static inst_map_elem* inst_map_table[NUM_INST_MAP][128];

struct MapName {
    const char* name;
    int mapid;
    int isdrum;
};

// Sorted by name for the binary search.
static const MapName map_names[] = {
    {"gm2", GM2_TONE_MAP, 0},         {"gm2drum", GM2_DRUM_MAP, 1},
    {"sc55", SC_55_TONE_MAP, 0},      {"sc55drum", SC_55_DRUM_MAP, 1},
    {"sc88", SC_88_TONE_MAP, 0},      {"sc8850", SC_8850_TONE_MAP, 0},
    {"sc8850drum", SC_8850_DRUM_MAP, 1}, {"sc88drum", SC_88_DRUM_MAP, 1},
    {"sc88pro", SC_88PRO_TONE_MAP, 0}, {"sc88prodrum", SC_88PRO_DRUM_MAP, 1},
    {"xg", XG_NORMAL_MAP, 0},         {"xgdrum", XG_DRUM_MAP, 1},
    {"xgsfx126", XG_SFX126_MAP, 1},   {"xgsfx64", XG_SFX64_MAP, 0},
};

int mapname2id(const char* name, int* isdrum)
{
    int lo = 0, hi = (int)(sizeof(map_names) / sizeof(map_names[0])) - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = strcmp(name, map_names[mid].name);
        if (c == 0) {
            if (isdrum != nullptr)
                *isdrum = map_names[mid].isdrum;
            return map_names[mid].mapid;
        }
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return -1;
}

void alloc_instrument_bank(int dr, int bk)
{
    if (bk < 0 || bk >= TONEBANK_SLOTS)
        return;
    ToneBank** table = dr ? drumset : tonebank;
    if (table[bk] == nullptr) {
        table[bk] = (ToneBank*)safe_malloc(sizeof(ToneBank));
        memset(table[bk], 0, sizeof(ToneBank));
    }
}

int find_instrument_map_bank(int dr, int map, int bk)
{
    if (map == INST_NO_MAP)
        return 0;
    bank_map_elem* bm = dr ? map_drumset : map_bank;
    for (int i = 0; i < MAP_BANK_COUNT; i++) {
        if (!bm[i].used)
            return -(128 + i);
        if (bm[i].mapid == map && bm[i].bankno == bk)
            return 128 + i;
    }
    return 0;
}

int alloc_instrument_map_bank(int dr, int map, int bk)
{
    if (map == INST_NO_MAP) {
        alloc_instrument_bank(dr, bk);
        return bk;
    }
    int i = find_instrument_map_bank(dr, map, bk);
    if (i == 0)
        return -1;
    if (i > 0)
        return i;
    i = -i - 128;
    bank_map_elem* bm = dr ? map_drumset : map_bank;
    bm[i].used = 1;
    bm[i].mapid = (int16)map;
    bm[i].bankno = bk;
    if (map_bank_counter < i + 1)
        map_bank_counter = i + 1;
    i += 128;
    alloc_instrument_bank(dr, i);
    return i;
}

static int valid_map_args(int mapID, int set, int elem)
{
    return mapID > INST_NO_MAP && mapID < NUM_INST_MAP && set >= 0 && set < 128 && elem >= 0 &&
           elem < 128;
}

void set_instrument_map(int mapID, int set_from, int elem_from, int set_to, int elem_to)
{
    if (!valid_map_args(mapID, set_from, elem_from))
        return;
    inst_map_elem* p = inst_map_table[mapID][set_from];
    if (p == nullptr) {
        p = (inst_map_elem*)safe_malloc(128 * sizeof(inst_map_elem));
        memset(p, 0, 128 * sizeof(inst_map_elem));
        inst_map_table[mapID][set_from] = p;
    }
    p[elem_from].set = set_to;
    p[elem_from].elem = elem_to;
    p[elem_from].mapped = 1;
}

int instrument_map(int mapID, int* set_in_out, int* elem_in_out)
{
    if (mapID == INST_NO_MAP)
        return 0;
    int s = *set_in_out, e = *elem_in_out;
    if (!valid_map_args(mapID, s, e))
        return 0;
    inst_map_elem* p = inst_map_table[mapID][s];
    if (p != nullptr && p[e].mapped) {
        *set_in_out = p[e].set;
        *elem_in_out = p[e].elem;
        return 1;
    }
    if (s != 0) {
        p = inst_map_table[mapID][0];
        if (p != nullptr && p[e].mapped) {
            *set_in_out = p[e].set;
            *elem_in_out = p[e].elem;
        }
        return 2;
    }
    return 0;
}

void free_instrument_map(void)
{
    for (int i = 0; i < map_bank_counter; i++)
        map_bank[i].used = map_drumset[i].used = 0;
    for (int i = 0; i < NUM_INST_MAP; i++)
        for (int j = 0; j < 128; j++) {
            free(inst_map_table[i][j]);
            inst_map_table[i][j] = nullptr;
        }
}
