// The resample cache: what the pre-scan counts and what gets cached when the area is short.
#include "synth/render/voice_sound.h"

#include "render/resample_cache.h"

class ResampleCache : public ResampleTest {
protected:
    Restore<int32> size_{allocate_cache_size};
    ResampleCache() { resamp_cache_reset(); }
    ~ResampleCache() override
    {
        allocate_cache_size = size_.saved();
        resamp_cache_reset();
    }
    // A pre-scan note of sp on ch from t to `off` (none when negative), with vibrato if asked.
    void note(Sample* sp, int ch, int note, int32 t, int32 off = -1, int vibrato = 0)
    {
        int v = play(sp, 0x1000, note);
        voice[v].channel = (uint8)ch, voice[v].frequency = voice[v].orig_frequency;
        voice[v].vibrato_control_ratio = vibrato;
        resamp_cache_refer_on(v, t);
        free_voice(v);
        if (off >= 0)
            resamp_cache_refer_off(ch, note, off);
    }
    // The play count of (sp, note), -1 when it has no entry.
    static int32 count_of(Sample* sp, int note)
    {
        for (cache_hash* p : cache_hash_table)
            for (; p != nullptr; p = p->next)
                if (p->sp == sp && p->note == note)
                    return p->cnt;
        return -1;
    }
};

TEST_F(ResampleCache, PrescanCountsHowLongNotesSoundAndTheLongestAreCached)
{
    TestSample looped, once, exact, pingpong;
    make_sine(looped, 22050, 50.0, 2000, 500, 1500);
    make_sine(once, 22050, 50.0, 2000, 0, 0);
    make_sine(exact, 44100, 100.0, 2000, 500, 1500);
    exact.s.note_to_use = 60, exact.s.root_freq = freq_table[60];
    make_sine(pingpong, 22050, 50.0, 2000, 500, 1500);
    pingpong.s.modes |= MODES_PINGPONG;

    note(&looped.s, 0, 60, 0, 1000);
    note(&looped.s, 0, 60, 2000);
    note(&looped.s, 0, 60, 2500);  // the same key again closes the pending count
    note(&looped.s, 1, 60, 2600);
    resamp_cache_refer_alloff(0, 3000);
    resamp_cache_refer_off(1, 60, 2500);  // before its start: nothing is added
    EXPECT_EQ(count_of(&looped.s, 60), 1000 + 500 + 500);
    // Held past its end, an unlooped note counts what its sample lasts: 2000 points an octave up.
    note(&once.s, 2, 81, 0, 100000);
    EXPECT_NEAR(count_of(&once.s, 81), 2000 * 2 / 2.0 * 441.0 / 440.0, 2);
    // Samples that play as recorded, bounce, or vibrate are not counted.
    note(&exact.s, 3, 60, 0, 5000);
    note(&pingpong.s, 4, 60, 0, 5000);
    note(&looped.s, 0, 62, 0, 5000, 40);
    for (auto [sp, note] : {std::pair<Sample*, int>{&exact.s, 60}, {&pingpong.s, 60}, {&looped.s, 62}})
        EXPECT_EQ(count_of(sp, note), -1) << note;

    resamp_cache_create();
    EXPECT_NE(resamp_cache_fetch(&looped.s, 60), nullptr);
    cache_hash* entry = resamp_cache_fetch(&once.s, 81);
    ASSERT_NE(entry, nullptr);
    // The cached unlooped note is copied point by point to its end, which ends the voice.
    int v = play(entry->resampled, 0x1000, 81);
    voice[v].cache = entry;
    EXPECT_EQ(render(v, 5000).size(), (size_t)(entry->resampled->loop_end >> FRACTION_BITS));
    EXPECT_EQ(voice[v].timeout, 1);
    EXPECT_TRUE(resamp_cache_fetch(&looped.s, 61) == nullptr && resamp_cache_fetch(&exact.s, 60) == nullptr);

    // With nothing worth caching the area stays empty.
    resamp_cache_reset();
    note(&exact.s, 0, 60, 0, 5000);
    resamp_cache_create();
    EXPECT_TRUE(cache_data_len == 0 && resamp_cache_fetch(&exact.s, 60) == nullptr);

    // Room for 3000 values: of two notes of about 1600, the one longer played for its size is kept.
    make_sine(once, 22050, 50.0, 800, 100, 700);
    make_sine(looped, 22050, 50.0, 800, 100, 700);
    allocate_cache_size = 6000;
    resamp_cache_reset();
    note(&once.s, 0, 69, 0, 1000);
    note(&looped.s, 1, 69, 0, 5000);
    resamp_cache_create();
    EXPECT_TRUE(resamp_cache_fetch(&once.s, 69) == nullptr && resamp_cache_fetch(&looped.s, 69) != nullptr);
    EXPECT_EQ(count_of(&once.s, 69), -1);  // unlinked
    EXPECT_TRUE(cache_data_len > 1500 && cache_data_len <= allocate_cache_size / 2) << cache_data_len;

    // Of two notes alike but for the sample's address, the first reached is cached, in either order.
    for (bool once_first : {true, false}) {
        make_sine(once, 22050, 50.0, 800, 100, 700);
        resamp_cache_reset();
        note(once_first ? &once.s : &looped.s, 0, 69, 0, 5000);
        note(once_first ? &looped.s : &once.s, 1, 69, 0, 5000);
        resamp_cache_create();
        EXPECT_EQ(resamp_cache_fetch(&once.s, 69) != nullptr, once_first);
        EXPECT_EQ(resamp_cache_fetch(&looped.s, 69) != nullptr, !once_first);
    }
    // Every value a resampler may read of a cached sample, the one past its end too, is new.
    make_sine(once, 22050, 50.0, 800, 0, 0);
    std::vector<sample_t> cached[2];
    for (int run = 0; run < 2; run++) {
        resamp_cache_reset();
        std::fill(cache_data, cache_data + allocate_cache_size / 2, (sample_t)(run * 12345));
        note(&once.s, 0, 69, 0, 5000);
        resamp_cache_create();
        const cache_hash* e = resamp_cache_fetch(&once.s, 69);
        ASSERT_NE(e, nullptr);
        const Sample* cs = e->resampled;
        cached[run].assign(cs->data, cs->data + (cs->data_length >> FRACTION_BITS) + 1);
    }
    EXPECT_EQ(cached[0], cached[1]);
}

TEST_F(ResampleCache, ANoteBentFarAboveACachedStartGoesOnInItsSource)
{
    // A SoundFont sample whose loop starts late: of short notes only the start is cached.
    TestSample sf;
    make_sine(sf, 44100, 100.0, 40000, 30000, 39000);
    sf.s.inst_type = INST_SF2, sf.s.envelope_rate[3] = FULL_LEVEL / 30;
    for (int k = 0; k < 3; k++)
        note(&sf.s, 0, 60, 2000 * k, 2000 * k + 1000);
    resamp_cache_create();
    cache_hash* e = resamp_cache_fetch(&sf.s, 60);
    ASSERT_TRUE(e != nullptr && e->resampled->cache_source == &sf.s);
    // Bent 100 times up, one call runs past the cached values; the note sounds on.
    const int v = play(e->resampled, 100 * 0x1000, 60);
    EXPECT_EQ(render(v, 4000, 2000).size(), 4000u);
    EXPECT_EQ(voice[v].sample, &sf.s);
}
