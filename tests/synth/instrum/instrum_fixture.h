// Shared set-up of the loader tests: a known output rate and control ratio, options off,
// a temporary directory for patch files, tone banks, and loads that capture the messages.
#ifndef CORVELLE_TESTS_SYNTH_INSTRUM_INSTRUM_FIXTURE_H
#define CORVELLE_TESTS_SYNTH_INSTRUM_INSTRUM_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "support/tempdir.h"
#include "patch_builder.h"

// A bank whose elements hold the "not set" values a patch line starts from.
struct TestBank {
    ToneBank bank;
    TestBank()
    {
        memset(&bank, 0, sizeof(bank));
        for (ToneBankElement& e : bank.tone) {
            e.note = e.pan = e.strip_loop = e.strip_envelope = e.strip_tail = -1;
            e.amp = -1;
        }
    }
    ToneBankElement& operator[](int prog) { return bank.tone[prog]; }
    ToneBank* get() { return &bank; }
};

class InstrumTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_mode_ = play_mode;
        memset(&mode_, 0, sizeof(mode_));
        mode_.rate = 44100;
        play_mode = &mode_;
        control_ratio = 44;
        fast_decay = 0;
        modify_release = 0;
        antialiasing_allowed = 0;
        saved_verbosity_ = ctl->verbosity;
        ctl->verbosity = 1;
    }

    void TearDown() override
    {
        clear_instrument_cache(nullptr);
        play_mode = saved_mode_;
        control_ratio = 0;
        fast_decay = 0;
        modify_release = 0;
        antialiasing_allowed = 0;
        ctl->verbosity = saved_verbosity_;
    }

    std::string write_patch(const std::string& name, const TestPatch& p)
    {
        return dir_.write(name, build_patch(p));
    }

    // Loads through the file loader; the messages it printed go to *messages.
    Instrument* load(const std::string& name, std::string* messages, ToneBank* bank = nullptr,
                     int dr = 0, int prog = 0, const char* info = nullptr)
    {
        testing::internal::CaptureStderr();
        Instrument* ip = load_gus_instrument(name.c_str(), bank, dr, prog, info);
        std::string out = testing::internal::GetCapturedStderr();
        if (messages != nullptr)
            *messages = out;
        return ip;
    }

    Instrument* load_memory(const std::string& bytes, std::string* messages,
                            ToneBank* bank = nullptr, int dr = 0, int prog = 0)
    {
        testing::internal::CaptureStderr();
        Instrument* ip = load_gus_instrument_from_memory("mem.pat", bytes.data(),
                                                         (long)bytes.size(), bank, dr, prog);
        std::string out = testing::internal::GetCapturedStderr();
        if (messages != nullptr)
            *messages = out;
        return ip;
    }

    PlayMode mode_;
    PlayMode* saved_mode_ = nullptr;
    int saved_verbosity_ = 1;
    TempDir dir_;
};

// Owns an instrument that did not go through the cache.
struct InstrumentDeleter {
    void operator()(Instrument* ip) const { free_instrument(ip); }
};
typedef std::unique_ptr<Instrument, InstrumentDeleter> InstrumentPtr;

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

#endif
