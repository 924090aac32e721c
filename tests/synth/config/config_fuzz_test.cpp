// Random configuration texts: the reader must neither crash nor hang, whatever it
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
    "mailaddr", "undef", "altassign", "legato", "damper", "rnddelay", "level",
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
// Option letters that are safe to run in a test process (no exit, no file reading loop); the
// dashed option forms are left out (an unknown one ends the program by design).
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
        if (kind == 1) {
            std::string v1 = pick(2) ? any(values) : "", v2 = pick(3) ? "" : any(values);
            l = std::string("opt ") + any(opt_letters) + v1 + (v2.empty() ? "" : " " + v2);
            return l.find('-') == std::string::npos ? l : "opt p1";
        }
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
};

TEST(ConfigFuzz, RandomTextsNeitherCrashNorHang)
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

    PlayMode* saved_mode = play_mode;
    uint32 saved_drums = default_drumchannels;
    const int runs = 3000;
    int statuses[3] = {0, 0, 0};
    for (int i = 0; i < runs; i++) {
        std::string text = gen.text();
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
