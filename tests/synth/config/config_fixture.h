// The configuration state put back between tests; texts read with their messages captured.
#ifndef CORVELLE_TESTS_CONFIG_FIXTURE_H
#define CORVELLE_TESTS_CONFIG_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "config/files.h"
#include "config/readconfig.h"
#include "config/soundfont.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "support/capture.h"
#include "support/guards.h"

inline void reset_configuration_state()
{
    free_tone_bank();
    free_instrument_map();
    free_soundfont_requests();
    clean_up_pathlist();
    progbase = rcf_count = 0, def_instr_name[0] = '\0', default_instrument_name = nullptr;
    ctl = &dumb_control_mode, ctl->opened = 0, ctl->verbosity = 1;
}

struct ReadResult {
    int status;
    std::string messages;
    bool operator==(const ReadResult& o) const
    {
        return status == o.status && messages == o.messages;
    }
};
inline std::ostream& operator<<(std::ostream& o, const ReadResult& r)
{
    return o << "status " << r.status << ", messages \"" << r.messages << "\"";
}

// Reads the text itself, or (named) the file of that name.
inline ReadResult read_config_text(const std::string& text, bool named = false)
{
    ReadResult r{};
    r.messages = stderr_of([&] { r.status = read_config_file(text.c_str(), named ? 0 : 1); });
    return r;
}
// Whether the text reads without an error; the messages say why not.
inline ::testing::AssertionResult reads_clean(const std::string& text)
{
    const ReadResult r = read_config_text(text);
    if (r.status == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << r.status << ": " << r.messages;
}

// The search path as "first;second;...;".
inline std::string path_list_text()
{
    std::string s;
    for (PathList* p = pathlist; p != nullptr; p = p->next)
        s += std::string(p->path) + ";";
    return s;
}

// Where a map sends program prog of set: {what instrument_map returns, set, prog}.
inline std::vector<int> mapped(int map, int set, int prog)
{
    const int found = instrument_map(map, &set, &prog);
    return {found, set, prog};
}

struct ConfigTest : ::testing::Test {
    void SetUp() override { reset_configuration_state(); }
    void TearDown() override { reset_configuration_state(); }
};

#endif
