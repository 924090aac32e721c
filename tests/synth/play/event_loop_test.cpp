// The event loop: rendering up to each event, the note hook, layering, the dispatch of
// controller and meta events, seeking, rate changes and whole songs read from files.
#include <cmath>
#include <cstring>

#include "synth/play/player_fixture.h"
#include "readmidi/readmidi.h"
#include "support/tempdir.h"

class EventLoop : public PlayerTest {};

TEST_F(EventLoop, EventsAtOneTimeRenderNothingBetweenThemAndLaterOnesRenderTheGap)
{
    MidiEvent evs[] = {make_event(1000, ME_NOTEON, 0, 60, 100), make_event(1000, ME_NOTEON, 1, 64, 90),
                       make_event(5096, ME_NOTEOFF, 0, 60, 0), make_event(5096, ME_EOT, 0, 0, 0)};
    event_list = evs;
    for (int i = 0; i < 2; i++)
        ASSERT_EQ(play_event(&evs[i]), RC_NONE);
    EXPECT_EQ(buffered_count, 1000);
    EXPECT_TRUE(recording().writes.empty());
    // The next event is 4096 samples later: one whole block goes out, 1000 frames wait.
    ASSERT_EQ(play_event(&evs[2]), RC_NONE);
    EXPECT_EQ(recording().writes, std::vector<int32>({4096 * 4}));
    EXPECT_EQ(buffered_count, 1000);
}

TEST_F(EventLoop, NoteHookGetsEveryNoteOnItsReceivingChannelWithTheStoredKey)
{
    // Outside the velocity or note range: silent, but still shown.
    channel[0].vel_limit_low = 50;
    channel[3].note_limit_high = 40;
    channel[0].key_shift = 3;
    note_key_offset = 2;
    MidiEvent quiet = make_event(0, ME_NOTEON, 0, 60, 10);
    MidiEvent high = make_event(0, ME_NOTEON, 3, 90, 100);
    ASSERT_EQ(play_event(&quiet), RC_NONE);
    ASSERT_EQ(play_event(&high), RC_NONE);
    ASSERT_EQ(hooked().size(), 2u);
    EXPECT_EQ(hooked()[0].a, 60);  // before key shift and transposition
    EXPECT_EQ(hooked()[0].b, 10);
    EXPECT_EQ(hooked()[1].channel, 3);

    // Channel 2 also plays what arrives on channel 0: the hook hears the note twice, once per
    // receiving channel, and the event keeps its own channel.
    hooked().clear();
    channel[2].channel_layer |= 1u;
    MidiEvent on = make_event(0, ME_NOTEON, 0, 62, 100);
    ASSERT_EQ(play_event(&on), RC_NONE);
    ASSERT_EQ(hooked().size(), 2u);
    EXPECT_EQ(hooked()[0].channel, 0);
    EXPECT_EQ(hooked()[1].channel, 2);
    EXPECT_EQ(on.channel, 0);

    // A port-2 channel with the same MIDI channel does not hear it (other port).
    hooked().clear();
    channel[2].channel_layer = 1u << 2;
    channel[16].channel_layer |= 1u;
    ASSERT_EQ(play_event(&on), RC_NONE);
    EXPECT_EQ(hooked().size(), 1u);

    // A drum note-off without drum settings releases its voice and reaches the hook.
    hooked().clear();
    int v = sounding_voice(9, 36);
    MidiEvent off = make_event(0, ME_NOTEOFF, 9, 36, 0);
    ASSERT_EQ(play_event(&off), RC_NONE);
    EXPECT_EQ(voice[v].status, VOICE_OFF);
    ASSERT_EQ(hooked().size(), 1u);
    EXPECT_EQ(hooked()[0].type, ME_NOTEOFF);

    // Drum settings that do not receive note-off let a non-looping drum ring on; settings
    // that receive it (as created) release it. The hook hears both note-offs.
    hooked().clear();
    play_midi_setup_drums(9, 38);
    ASSERT_NE(channel[9].drums[38], nullptr);
    set_rx_drum(channel[9].drums[38], RX_NOTE_OFF, 0);
    v = sounding_voice(9, 38);
    off.a = 38;
    ASSERT_EQ(play_event(&off), RC_NONE);
    EXPECT_EQ(voice[v].status, VOICE_ON);
    set_rx_drum(channel[9].drums[38], RX_NOTE_OFF, 1);
    ASSERT_EQ(play_event(&off), RC_NONE);
    EXPECT_EQ(voice[v].status, VOICE_OFF);
    EXPECT_EQ(hooked().size(), 2u);
}

TEST_F(EventLoop, ControllerEventsChangeTheChannelAndItsVoices)
{
    // Key shift 64 is no shift: nothing changes, nothing is silenced.
    int v = sounding_voice(4, 60);
    MidiEvent shift = make_event(0, ME_KEYSHIFT, 4, 64, 0);
    dispatch_event(&shift, false);
    EXPECT_EQ(voice[v].status, VOICE_ON);
    EXPECT_EQ(channel[4].key_shift, 0);
    shift.a = 66;
    dispatch_event(&shift, false);
    EXPECT_EQ(voice[v].status, VOICE_DIE);
    EXPECT_EQ(channel[4].key_shift, 2);

    // Tempo only changes the tempo shown: the song's timing is already in samples.
    MidiEvent tempo = make_event(100, ME_TEMPO, 0x20, 0x07, 0xA1);
    MidiEvent later = make_event(300, ME_PROGRAM, 0, 1, 0);
    ASSERT_EQ(play_event(&tempo), RC_NONE);
    EXPECT_EQ(current_play_tempo, 0x07 * 65536 + 0xA1 * 256 + 0x20);
    ASSERT_EQ(play_event(&later), RC_NONE);
    EXPECT_EQ(current_sample, 300);

    // Sustain holds released notes until the pedal is lifted.
    int held = sounding_voice(5, 64);
    MidiEvent pedal = make_event(300, ME_SUSTAIN, 5, 127, 0);
    MidiEvent off = make_event(300, ME_NOTEOFF, 5, 64, 0);
    dispatch_event(&pedal, false);
    EXPECT_EQ(channel[5].sustain, 127);
    dispatch_event(&off, false);
    EXPECT_EQ(voice[held].status, VOICE_SUSTAINED);
    pedal.a = 0;
    dispatch_event(&pedal, false);
    EXPECT_EQ(voice[held].status, VOICE_OFF);

    // A scale-tuning event for a pitch class outside the octave changes nothing.
    int8 before[12];
    memcpy(before, channel[6].scale_tuning, sizeof before);
    MidiEvent tuning = make_event(300, ME_SCALE_TUNING, 6, 200, 10);
    dispatch_event(&tuning, false);
    EXPECT_EQ(memcmp(before, channel[6].scale_tuning, sizeof before), 0);
    tuning.a = 11;
    dispatch_event(&tuning, false);
    EXPECT_EQ(channel[6].scale_tuning[11], 10);
}

TEST_F(EventLoop, RegisteredAndNonRegisteredParameters)
{
    // Pitch-bend sensitivity is held to 24 semitones.
    data_entry(0, false, 0, 0, 30);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 24);
    send(ME_RPN_DEC, 0, 0);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 23);

    // After the null parameter data entry is locked until a parameter reset.
    data_entry(0, false, 0x7F, 0x7F, 0);
    data_entry(0, false, 0, 0, 12);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 23);
    update_rpn_map(0, RPN_ADDR_FFFF, 0);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 2);
    data_entry(0, false, 0, 0, 12);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 12);

    // NRPN vibrato rate: 64 is the sample's own rate, 0 the slowest.
    data_entry(1, true, 0x01, 0x08, 64);
    EXPECT_FLOAT_EQ(channel[1].vibrato_ratio, 1.0f);
    send(ME_DATA_ENTRY_MSB, 1, 0);
    EXPECT_FLOAT_EQ(channel[1].vibrato_ratio, (float)(1.0 / 0.016));

    // Drum parameters act on the note named by the select's low byte.
    data_entry(9, true, 0x1D, 38, 90);
    ASSERT_NE(channel[9].drums[38], nullptr);
    EXPECT_EQ(channel[9].drums[38]->reverb_level, 90);

    // An address nobody knows takes no data.
    send(ME_NRPN_MSB, 2, 0x55);
    send(ME_NRPN_LSB, 2, 0x55);
    EXPECT_EQ(last_rpn_addr(2), -1);
}

TEST_F(EventLoop, KeySignatureTransposesToTheForcedKey)
{
    EXPECT_EQ(transpose_for_keysig(0, 2, 0), 2);    // C major to D major
    EXPECT_EQ(transpose_for_keysig(0, -1, 0), 5);   // C major to F major
    EXPECT_EQ(transpose_for_keysig(0, 1, 0), -5);   // C major to G major: down a fourth
    EXPECT_EQ(transpose_for_keysig(2, 2, 0), 0);    // already there
    EXPECT_EQ(transpose_for_keysig(16, 1, 0), -5);  // A minor to E minor
    // A key signature no song can have still gives an answer.
    int odd = transpose_for_keysig(100, 3, 0);
    EXPECT_GE(odd, -5);
    EXPECT_LE(odd, 6);

    int8 saved_force = opt_force_keysig, saved_init = opt_init_keysig;
    opt_force_keysig = 2;
    opt_init_keysig = 8;
    int v = sounding_voice(0, 60);
    MidiEvent keysig = make_event(0, ME_KEYSIG, 0, 0, 0);
    dispatch_event(&keysig, false);
    EXPECT_EQ(current_keysig, 0);
    EXPECT_EQ(note_key_offset, 2);
    EXPECT_EQ(voice[v].status, VOICE_DIE);
    // With a configured key signature the song's own is not taken.
    opt_init_keysig = 0;
    keysig.a = 5;
    dispatch_event(&keysig, false);
    EXPECT_EQ(current_keysig, 0);
    opt_force_keysig = saved_force;
    opt_init_keysig = saved_init;
}

TEST_F(EventLoop, SeekingReplaysOnlyTheControlState)
{
    MidiEvent evs[] = {make_event(0, ME_PROGRAM, 0, 7, 0),     make_event(100, ME_NOTEON, 0, 60, 90),
                       make_event(200, ME_MAINVOLUME, 0, 50, 0), make_event(400, ME_NOTEOFF, 0, 60, 0),
                       make_event(500, ME_EOT, 0, 0, 0)};
    event_list = evs;

    // Time 0: nothing is replayed and the first element is next.
    current_sample = 77;
    skip_to(0);
    EXPECT_EQ(current_event, &evs[0]);
    EXPECT_EQ(current_sample, 0);
    EXPECT_EQ(channel[0].program, 0);

    // Time 300: the program and volume are set, no note reached the hook, nothing rendered.
    skip_to(300);
    EXPECT_EQ(channel[0].program, 7);
    EXPECT_EQ(channel[0].volume, 50);
    EXPECT_TRUE(hooked().empty());
    EXPECT_TRUE(recording().writes.empty());
    EXPECT_EQ(current_sample, 300);
    EXPECT_EQ(current_event, &evs[2]);  // the loop advances once before playing on
    EXPECT_EQ(playmidi_seek_flag, 0);

    // Past the end: the position is the end of the song.
    skip_to(10000);
    EXPECT_EQ(current_event, &evs[4]);
    EXPECT_EQ(current_sample, 500);
}

TEST_F(EventLoop, RateChangesOutsideTheRangeOrRefusedByTheOutputFail)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(playmidi_change_rate(44100, 0), 1);
    EXPECT_EQ(playmidi_change_rate(3999, 0), -1);
    EXPECT_EQ(playmidi_change_rate(65001, 0), -1);
    EXPECT_EQ(playmidi_change_rate(22050, 0), -1);  // this output cannot change its rate
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Out of sample rate: 3999"), std::string::npos) << err;
    EXPECT_NE(err.find("Out of sample rate: 65001"), std::string::npos) << err;
    EXPECT_NE(err.find("Can't change sample rate to 22050"), std::string::npos) << err;
    EXPECT_EQ(play_mode->rate, 44100);
}

// ---- whole songs from files ----

class SongPlayback : public PlayerTest {
protected:
    TempDir dir;
    int play(const std::string& name, const MidiBytes& image)
    {
        std::string path = dir.write(name, as_string(image));
        testing::internal::CaptureStderr();
        int rc = play_midi_file(path.c_str());
        messages = testing::internal::GetCapturedStderr();
        return rc;
    }
    std::string messages;
};

TEST_F(SongPlayback, SongOfOnlyEndOfTrackPlaysJustTheTail)
{
    MidiBytes image = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                       'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    EXPECT_EQ(play("empty.mid", image), RC_TUNE_END) << messages;
    EXPECT_EQ(recording().frames(), 44100);  // one second of tail, nothing before it
    EXPECT_TRUE(hooked().empty());
}

TEST_F(SongPlayback, EveryNoteReachesTheHookWhenTheAudioClockReachesIt)
{
    std::vector<SongNote> notes;
    for (int i = 0; i < 40; i++)
        notes.push_back({(uint32_t)(i * 120), 100, i % 16, 40 + i, 30 + i * 2});
    int rc = play("song.mid", song_image(notes, 960));
    EXPECT_EQ(rc, RC_TUNE_END) << messages;

    ASSERT_EQ(hooked().size(), 80u);
    int ons = 0;
    int32 last = 0;
    for (size_t i = 0; i < hooked().size(); i++) {
        const MidiEvent& ev = hooked()[i];
        ons += ev.type == ME_NOTEON;
        // Rendering reached the event's time exactly when the hook saw it.
        EXPECT_EQ(hooked_at()[i], ev.time) << "event " << i;
        EXPECT_GE(ev.time, last);
        last = ev.time;
    }
    EXPECT_EQ(ons, 40);
    // A tick is 1/960 s: the note-on at tick 120 is at 5512.5 samples.
    EXPECT_NEAR(hooked()[2].time, 5512.5, 1.0);
    // After the last note-off (tick 4780) nothing sounds: the song may end at the next block,
    // but not before that note-off nor after its end; then comes one second of tail.
    int32 last_note = hooked().back().time;
    EXPECT_NEAR(last_note, 4780.0 / 960.0 * 44100.0, 1.0);
    EXPECT_GE(recording().frames(), last_note + 44100);
    EXPECT_LE(recording().frames(), sample_count + 44100 + 4096);
}

TEST_F(SongPlayback, UnreadableFileEndsWithAnErrorAndTheNextSongStillPlays)
{
    EXPECT_EQ(play("notes.mid", MidiBytes{'h', 'e', 'l', 'l', 'o', '\n'}), RC_ERROR);
    EXPECT_NE(messages.find("Not a MIDI file!"), std::string::npos) << messages;
    ASSERT_NE(current_file_info, nullptr);
    EXPECT_EQ(current_file_info->file_type, IS_ERROR_FILE);
    EXPECT_TRUE(recording().writes.empty());

    EXPECT_EQ(play("missing-dir/none.mid", MidiBytes{}), RC_ERROR);

    // Four seconds of one note: the time display hears of each new second (or voice count)
    // once, not after every block.
    static int times;
    times = 0;
    void (*saved_event)(ControlEvent*) = ctl->event;
    ctl->event = [](ControlEvent* ce) { times += ce->type == CTLE_CURRENT_TIME; };
    EXPECT_EQ(play("ok.mid", song_image({{0, 3840, 0, 60, 100}})), RC_TUNE_END) << messages;
    ctl->event = saved_event;
    EXPECT_EQ(hooked().size(), 2u);
    EXPECT_GE(times, 4);
    EXPECT_LE(times, 12);
}

TEST_F(SongPlayback, AnOutputTakingEventsGetsTheArrayAndTheSongStopsAtItsEnd)
{
    recording_mode().flag = PF_MIDI_EVENT;
    EXPECT_EQ(play("list.mid", song_image({{0, 480, 0, 60, 100}, {480, 480, 1, 62, 90}})),
              RC_TUNE_END)
        << messages;
    // Every element went out as its 8 bytes, the end of track last, and nothing after it.
    ASSERT_EQ(recording().data.size() % sizeof(MidiEvent), 0u);
    size_t n = recording().data.size() / sizeof(MidiEvent);
    ASSERT_GE(n, 5u);
    const MidiEvent* evs = reinterpret_cast<const MidiEvent*>(recording().data.data());
    EXPECT_EQ(evs[n - 1].type, ME_EOT);
    int notes = 0;
    for (size_t i = 0; i < n; i++)
        notes += evs[i].type == ME_NOTEON || evs[i].type == ME_NOTEOFF;
    EXPECT_EQ(notes, 4);
    EXPECT_TRUE(hooked().empty());  // nothing was played
}
