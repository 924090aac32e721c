// A small Standard MIDI File parser of the tests' own, used to check the reader against an
// independent view of the same bytes: channel messages and tempo changes with their ticks.
#ifndef CORVELLE_TESTS_READMIDI_SMF_PARSE_H
#define CORVELLE_TESTS_READMIDI_SMF_PARSE_H

#include <cstdint>
#include <string>
#include <vector>

struct ParsedEvent {
    int64_t tick;
    int track;
    int status;  // 0x80..0xEF channel messages, 0xFF meta, 0xF0 system exclusive
    int meta_type;
    std::vector<uint8_t> data;
};

struct ParsedSmf {
    bool ok = false;
    int format = 0;
    int division = 0;
    std::vector<ParsedEvent> events;  // in track order, each track in time order

    // Note-ons with velocity above 0.
    std::vector<ParsedEvent> note_ons() const;
    // Tempo changes (tick, microseconds per quarter), sorted by tick.
    std::vector<std::pair<int64_t, int64_t>> tempo_map() const;
    // Seconds from tick 0 to tick t through the tempo map (120 beats per minute until the first
    // change).
    double seconds_at(int64_t t) const;
};

ParsedSmf parse_smf(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> load_file(const std::string& path);

#endif
