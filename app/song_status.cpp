#include "app/song_status.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string song_name(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string song_time(long long samples, double rate)
{
    long long seconds = samples > 0 && rate > 0 ? (long long)(samples / rate) : 0;
    char text[32];
    snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string window_title(const std::string& name)
{
    return name.empty() ? "Midi Visualization" : "Midi Visualization - " + name;
}

std::string song_line(const std::string& name, long long at, long long total, double rate)
{
    return name + "  " + song_time(at, rate) + " / " + song_time(total, rate);
}

// The reader's messages and what they mean to someone who chose the file.
static const struct {
    const char* says;
    const char* means;
} reader_problems[] = {
    {"Not a MIDI file", "not a Standard MIDI File"},
    {"Too shorten midi file", "truncated: the file ends in the middle of a track"},
    {"Can't read track header", "truncated: a track is missing"},
    {"Corrupt MIDI file", "damaged: a track does not start where it should"},
    {"Illigal Variable-length quantity", "damaged: a time or length in a track is unreadable"},
    {"Unknown MIDI file format", "not a Standard MIDI File of format 0, 1 or 2"},
    {"Invalid time division", "damaged: its time division is unusable"},
    {"Overflow the sample counter", "damaged: its times run past what can be played"},
    {"Can't read a song of", "too large to be read"},
    {"No such file or directory", "no such file"},
    {"Permission denied", "not readable (permission denied)"},
    {"Is a directory", "a folder, not a file"},
};

std::string refusal_text(const std::string& path, const std::string& problem, int short_track,
                         long short_byte)
{
    std::string name = song_name(path);
    if (short_track > 0 && short_byte >= 0 && problem.find("Too shorten") != std::string::npos)
        return truncated_text(path, short_track, short_byte);
    for (const auto& p : reader_problems)
        if (problem.find(p.says) != std::string::npos)
            return name + ": " + p.means;
    if (problem.empty())
        return name + ": could not be played";
    // A message the reader has no plain words for is shown as it is, after the name.
    std::string said = problem;
    if (said.compare(0, path.size() + 2, path + ": ") == 0)
        said.erase(0, path.size() + 2);
    return name + ": " + said;
}

std::string truncated_text(const std::string& path, int track, long byte)
{
    return song_name(path) + ": truncated in track " + std::to_string(track) + " at byte " +
           std::to_string(byte);
}

std::string cut_short_text(const std::string& path, long events, long long samples, double rate)
{
    long long minutes = rate > 0 ? (long long)(samples / rate / 60.0 + 0.5) : 0;
    char text[160];
    snprintf(text, sizeof text, " has more than %ld events; only the first %lld minute%s played",
             events, minutes, minutes == 1 ? " is" : "s are");
    return song_name(path) + text;
}

std::string unreadable_reason(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return strerror(errno);
    if (S_ISDIR(st.st_mode))
        return strerror(EISDIR);
    if (access(path.c_str(), R_OK) != 0)
        return strerror(errno);
    return "";
}
