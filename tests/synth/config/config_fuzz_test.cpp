// Random and mutated configuration texts: the reader must neither crash nor hang, whatever it
// is given. Seeded, so a failure can be replayed.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "config_fixture.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "support/tempdir.h"

namespace {

const char* const keywords[] = {
    "comm", "timeout", "copydrumset", "copybank", "copymap", "HTTPproxy", "FTPproxy",
    "mailaddr", "opt", "undef", "altassign", "legato", "damper", "rnddelay", "level",
    "reverbsend", "chorussend", "delaysend", "playnote", "soundfont", "font", "progbase", "map",
    "dir", "source", "default", "drumset", "bank", "#extension", "0", "35", "127", "128", "-1"};
const char* const map_names[] = {"sc55", "sc88drum", "xg", "xgdrum", "gm2", "gm2drum", "nomap"};
const char* const patch_options[] = {
    "amp=", "note=", "pan=", "tune=", "rate=", "offset=", "keep=", "strip=", "tremolo=",
    "vibrato=", "sclnote=", "scltune=", "comm=", "modrate=", "modoffset=", "envkeyf=", "envvelf=",
    "modkeyf=", "modvelf=", "trempitch=", "tremfc=", "modpitch=", "modfc=", "fc=", "q=",
    "fckeyf=", "fcvelf=", "qvelf=", "order=", "cutoff=", "reso=", "bogus=", "="};
const char* const values[] = {
    "0", "1", "127", "128", "-1", "800", "801", "99999999999999999999", "-99999999999", "center",
    "left", "env", "loop", "tail", "1.5", "5Hz", "300ms", "10:5Hz:20", "1::3", ":::::::",
    ",,,,", "1,2,3,4,5", "0-127", "-", "50-", "-40", "40-35", "clear", "%font", "%sample",
    "\"quoted word\"", "'x'y", "#", "0#", "abc#", "", "1e400", "0x10", "\t", "\xa0", "\xff\xfe"};
// Option letters that are safe to run in a test process (no exit, no file reading loop).
const char* const opt_letters[] = {"A", "a", "B", "C", "D", "E", "e", "F", "f", "H", "I", "K",
                                   "k", "m", "N", "P", "p", "Q", "R", "S", "s", "T", "U", "V",
                                   "W", "w", "4", "g", "d", "j", "t", "q", "i", "Z", "x", "y", "O"};

struct Generator {
    std::mt19937 rng;
    std::vector<std::string> files;  // real files the texts may source

    explicit Generator(uint32_t seed) : rng(seed) {}

    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }
    template <size_t N>
    const char* any(const char* const (&list)[N]) { return list[pick(N)]; }

    std::string word()
    {
        switch (pick(6)) {
        case 0: return any(values);
        case 1: return std::to_string((int)pick(300) - 20);
        case 2: return any(map_names);
        case 3: return std::string(any(patch_options)) + any(values);
        case 4: {
            std::string s;
            size_t len = pick(12);
            for (size_t i = 0; i < len; i++)
                s += (char)(33 + pick(94));
            return s;
        }
        default: return std::string(pick(2000) + 1, 'w');
        }
    }

    std::string line()
    {
        std::string l;
        int kind = (int)pick(10);
        if (kind == 0 && !files.empty())
            return "source " + files[pick(files.size())];
        if (kind == 1)
            return std::string("opt ") + any(opt_letters) + (pick(2) ? any(values) : "") +
                   (pick(3) == 0 ? std::string(" ") + any(values) : "");
        if (kind == 2)
            return std::string("bank ") + (pick(2) ? any(map_names) : "") + " " +
                   std::to_string((int)pick(140)) + (pick(2) ? " 5 p.pat amp=5" : "");
        l = any(keywords);
        size_t n = pick(8);
        if (pick(20) == 0)
            n = 150;  // more words than a line may hold
        for (size_t i = 0; i < n; i++)
            l += (pick(4) ? " " : "\t") + word();
        if (pick(5) == 0)
            l += " # trailing comment";
        return l;
    }

    std::string text()
    {
        std::string t;
        size_t n = pick(30) + 1;
        for (size_t i = 0; i < n; i++)
            t += line() + (pick(10) ? "\n" : "\r\n");
        return t;
    }

    std::string mutate(std::string t)
    {
        size_t edits = pick(20) + 1;
        for (size_t i = 0; i < edits && !t.empty(); i++) {
            size_t at = pick(t.size());
            switch (pick(6)) {
            case 0: t[at] = (char)pick(256); break;
            case 1: t.insert(at, 1, "\"'#\n \t\xa0:,=-"[pick(12)]); break;
            case 2: t.erase(at, pick(8) + 1); break;
            case 3: t.insert(at, t.substr(pick(t.size()), pick(40))); break;
            case 4: t.resize(at); break;
            default: t.insert(at, std::string(pick(1500), (char)('a' + pick(26)))); break;
            }
        }
        return t;
    }
};

// Options that end the program or read standard input are left out of the random texts: the
// dashed option forms (an unknown one ends the program by design), "h" and "v".
std::string make_safe(std::string t)
{
    for (size_t at = 0; (at = t.find("opt", at)) != std::string::npos; at += 3)
        t[at + 1] = 'q';
    return t;
}

std::string safe_opt_lines(std::string t)
{
    // Generated opt lines are kept; everything else that spells "opt" is defused.
    std::string out, line;
    size_t start = 0;
    while (start <= t.size()) {
        size_t end = t.find('\n', start);
        if (end == std::string::npos)
            end = t.size();
        line = t.substr(start, end - start);
        bool generated = line.rfind("opt ", 0) == 0 && line.size() < 200 && line.find('-') == std::string::npos;
        out += generated ? line : make_safe(line);
        if (end < t.size())
            out += '\n';
        start = end + 1;
    }
    return out;
}

TEST(ConfigFuzz, RandomAndMutatedTextsNeitherCrashNorHang)
{
    reset_configuration_state();
    FILE* in = freopen("/dev/null", "r", stdin);  // "source -" reads standard input
    ASSERT_NE(in, nullptr);
    TempDir t;
    Generator gen(20240611u);
    gen.files = {t.file("a.cfg"), t.file("b.cfg"), t.file("missing.cfg"), t.file("gz.cfg.gz")};
    t.write("a.cfg", "bank 0\n0 a.pat\nsource " + t.file("b.cfg") + "\n");
    t.write("b.cfg", "drumset 0\n35 kick amp=90\nsource " + t.file("a.cfg") + "\n");  // a loop
    t.write("gz.cfg.gz", "\x1f\x8b\x08garbage");

    const std::vector<std::string> corpus = {
        "dir /tmp/nowhere\nbank 0\n0 piano.pat amp=80 pan=left tremolo=10:5Hz:20\n",
        "drumset 0\naltassign clear 35-40 50-\n35 \"kick drum.pat\" note=36 keep=env\n",
        "#extension comm 5 Grand,Piano\nbank sc55 8\n0 p rate=1::3 offset=,,5 vibrato=:300ms\n",
        "progbase 1\nmap gm2 121 1 0 2\ncopymap sc88 sc55\nsoundfont a.sf2 order=1 amp=3\n"
        "font exclude 0 1 2\nlevel 0-5,9 100\n",
        "opt p64\nopt s44.1\nopt A100,90a\nopt Q1,2\nopt Ers\nopt x bank\\n0\\tpiano\n",
    };

    PlayMode* saved_mode = play_mode;
    uint32 saved_drums = default_drumchannels;
    const int runs = 3000;
    int statuses[3] = {0, 0, 0};
    for (int i = 0; i < runs; i++) {
        std::string text = i % 2 == 0 ? gen.text() : gen.mutate(corpus[gen.pick(corpus.size())]);
        text = i % 2 == 0 ? safe_opt_lines(text) : make_safe(text);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        int status = read_config_file(text.c_str(), 1);
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(status >= 0 && status <= 2) << "run " << i << " status " << status;
        statuses[status]++;
        ASSERT_EQ(rcf_count, 0) << "run " << i;
        if (i % 50 == 49) {
            reset_configuration_state();
            play_mode = saved_mode;
        }
    }
    // Both outcomes occur, and a source loop was met at least once.
    EXPECT_GT(statuses[0], 0);
    EXPECT_GT(statuses[1], runs / 4);
    EXPECT_GT(statuses[2], 0);
    reset_configuration_state();
    play_mode = saved_mode;
    default_drumchannels = saved_drums;
}

}  // namespace
