// The event loop: the note hook, event dispatch, seeking, rate changes, whole songs from files.
#include "synth/play/player_fixture.h"

class EventLoop : public PlayerTest {};

// What the note hook heard since the last call: "on|off channel key velocity" each.
std::string hooks()
{
    std::string s;
    for (const MidiEvent& e : hooked())
        s += std::string(s.empty() ? "" : ", ") + (e.type == ME_NOTEON ? "on " : "off ") +
             std::to_string(e.channel) + " " + std::to_string(e.a) + " " + std::to_string(e.b);
    hooked().clear();
    return s;
}

TEST_F(EventLoop, NoteHookGetsEveryNoteOnItsReceivingChannelWithTheStoredKey)
{
    auto play = [](MidiEvent ev) { ASSERT_EQ(play_event(&ev), RC_NONE); };
    // Outside the velocity or note range: silent, but still shown, before key shift and transposition.
    channel[0].vel_limit_low = 50, channel[3].note_limit_high = 40;
    channel[0].key_shift = 3, note_key_offset = 2;
    play(make_event(0, ME_NOTEON, 0, 60, 10));
    play(make_event(0, ME_NOTEON, 3, 90, 100));
    EXPECT_EQ(hooks(), "on 0 60 10, on 3 90 100");
    // A layered channel: the hook hears the note once per channel, the event keeps its own.
    channel[2].channel_layer |= 1u;
    MidiEvent on = make_event(0, ME_NOTEON, 0, 62, 100);
    ASSERT_EQ(play_event(&on), RC_NONE);
    EXPECT_EQ(std::make_tuple(hooks(), on.channel), std::make_tuple("on 0 62 100, on 2 62 100", 0));
    // A port-2 channel with the same MIDI channel does not hear it (other port).
    channel[2].channel_layer = 1u << 2, channel[16].channel_layer |= 1u;
    play(on);
    EXPECT_EQ(hooks(), "on 0 62 100");
    // A drum note-off releases its voice unless its drum settings refuse it; the hook hears all.
    int v = sounding_voice(9, 36);
    play(make_event(0, ME_NOTEOFF, 9, 36, 0));
    EXPECT_EQ(voice[v].status, VOICE_OFF);
    play_midi_setup_drums(9, 38);
    ASSERT_NE(channel[9].drums[38], nullptr);
    set_rx_drum(channel[9].drums[38], RX_NOTE_OFF, 0);
    v = sounding_voice(9, 38);
    play(make_event(0, ME_NOTEOFF, 9, 38, 0));
    EXPECT_EQ(voice[v].status, VOICE_ON);
    set_rx_drum(channel[9].drums[38], RX_NOTE_OFF, 1);
    play(make_event(0, ME_NOTEOFF, 9, 38, 0));
    EXPECT_EQ(voice[v].status, VOICE_OFF);
    EXPECT_EQ(hooks(), "off 9 36 0, off 9 38 0, off 9 38 0");
}

TEST_F(EventLoop, ControllerEventsChangeTheChannelAndItsVoices)
{
    // Key shift 64 is no shift: nothing changes, nothing is silenced.
    int v = sounding_voice(4, 60);
    send(ME_KEYSHIFT, 4, 64);
    EXPECT_EQ(std::make_tuple(voice[v].status, channel[4].key_shift), std::make_tuple(VOICE_ON, 0));
    send(ME_KEYSHIFT, 4, 66);
    EXPECT_EQ(std::make_tuple(voice[v].status, channel[4].key_shift), std::make_tuple(VOICE_DIE, 2));
    // Tempo only changes the tempo shown: the song's timing is already in samples.
    MidiEvent tempo = make_event(100, ME_TEMPO, 0x20, 0x07, 0xA1), later = make_event(300, ME_PROGRAM, 0, 1, 0);
    ASSERT_EQ(play_event(&tempo), RC_NONE);
    EXPECT_EQ(current_play_tempo, 500000);
    ASSERT_EQ(play_event(&later), RC_NONE);
    EXPECT_EQ(current_sample, 300);
    // Sustain holds released notes until the pedal is lifted.
    int held = sounding_voice(5, 64);
    send(ME_SUSTAIN, 5, 127);
    EXPECT_EQ(channel[5].sustain, 127);
    send(ME_NOTEOFF, 5, 64);
    EXPECT_EQ(voice[held].status, VOICE_SUSTAINED);
    send(ME_SUSTAIN, 5, 0);
    EXPECT_EQ(voice[held].status, VOICE_OFF);
    // A scale-tuning event for a pitch class outside the octave changes nothing.
    const int8* const scale = channel[6].scale_tuning;
    const std::vector<int> before(scale, scale + 12);
    send(ME_SCALE_TUNING, 6, 200, 10);
    EXPECT_EQ(std::vector<int>(scale, scale + 12), before);
    send(ME_SCALE_TUNING, 6, 11, 10);
    EXPECT_EQ(channel[6].scale_tuning[11], 10);
    // A temperament the mute mask names mutes the channel; any other one unmutes it.
    Restore mute(temper_type_mute, 1 << 2);
    send(ME_TEMPER_TYPE, 7, 2);
    EXPECT_EQ(channel_mute, 1u << 7);
    send(ME_TEMPER_TYPE, 7, 0);
    EXPECT_EQ(channel_mute, 0u);
}

TEST_F(EventLoop, RegisteredAndNonRegisteredParameters)
{
    // Bend sensitivity is held to 24 semitones; the null parameter locks data entry until a reset.
    data_entry(0, false, 0, 0, 30);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 24);
    send(ME_RPN_DEC, 0, 0);
    EXPECT_EQ(channel[0].rpnmap[RPN_ADDR_0000], 23);
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
    EXPECT_FLOAT_EQ(channel[1].vibrato_ratio, 62.5f);
    // Drum parameters act on the note named by the select's low byte, creating its settings.
    data_entry(9, true, 0x1D, 38, 90);
    data_entry(9, true, 0x14, 40, 80);
    ASSERT_TRUE(channel[9].drums[38] != nullptr && channel[9].drums[40] != nullptr);
    EXPECT_EQ(std::make_tuple(channel[9].drums[38]->reverb_level, channel[9].drums[40]->drum_cutoff_freq),
              std::make_tuple(90, 16));
    // An address nobody knows takes no data.
    send(ME_NRPN_MSB, 2, 0x55);
    send(ME_NRPN_LSB, 2, 0x55);
    EXPECT_EQ(last_rpn_addr(2), -1);
}

TEST_F(EventLoop, KeySignatureTransposesToTheForcedKey)
{
    // C major to D, F (up a fourth), G (down a fourth); D to D; A minor to E minor.
    const int cases[][3] = {{0, 2, 2}, {0, -1, 5}, {0, 1, -5}, {2, 2, 0}, {16, 1, -5}};
    for (const auto& c : cases)
        EXPECT_EQ(transpose_for_keysig(c[0], c[1], 0), c[2]) << c[0] << " to " << c[1];
    int odd = transpose_for_keysig(100, 3, 0);  // a key signature no song can have
    EXPECT_TRUE(odd >= -5 && odd <= 6) << odd;
    send(ME_KEYSIG, 0, 3);  // by default the song's own key signature is taken
    EXPECT_EQ(current_keysig, 3);
    Restore force(opt_force_keysig, 2), init(opt_init_keysig, 8);
    int v = sounding_voice(0, 60);
    send(ME_KEYSIG, 0, 0);
    EXPECT_EQ(std::make_tuple(current_keysig, note_key_offset, voice[v].status),
              std::make_tuple(0, 2, VOICE_DIE));
    // With a configured key signature the song's own is not taken.
    opt_init_keysig = 0;
    send(ME_KEYSIG, 0, 5);
    EXPECT_EQ(current_keysig, 0);
}

TEST_F(EventLoop, SeekingReplaysOnlyTheControlStateAndRatesAreChecked)
{
    MidiEvent evs[] = {make_event(0, ME_PROGRAM, 0, 7, 0), make_event(100, ME_NOTEON, 0, 60, 90),
                       make_event(200, ME_MAINVOLUME, 0, 50, 0), make_event(400, ME_NOTEOFF, 0, 60, 0),
                       make_event(500, ME_EOT, 0, 0, 0)};
    event_list = evs;
    // Time 0: nothing is replayed and the first element is next.
    current_sample = 77;
    skip_to(0);
    EXPECT_EQ(std::make_tuple(current_event, current_sample, channel[0].program),
              std::make_tuple(&evs[0], 0, 0));
    // Time 300: program and volume set, no note heard, nothing rendered, the loop one event on.
    skip_to(300);
    EXPECT_EQ(std::make_tuple(channel[0].program, channel[0].volume, hooked().size(),
                              fake_output().writes.size()),
              std::make_tuple(7, 50, 0u, 0u));
    EXPECT_EQ(std::make_tuple(current_sample, current_event, playmidi_seek_flag),
              std::make_tuple(300, &evs[2], 0));
    // Past the end: the position is the end of the song.
    skip_to(10000);
    EXPECT_EQ(std::make_tuple(current_event, current_sample), std::make_tuple(&evs[4], 500));
    // Rates outside the range, or that the output cannot take, fail.
    std::string err = stderr_of([] {
        EXPECT_EQ(playmidi_change_rate(44100, 0), 1);
        for (int32 rate : {3999, 65001, 22050})
            EXPECT_EQ(playmidi_change_rate(rate, 0), -1) << rate;
    });
    for (const char* m : {"Out of sample rate: 3999", "Out of sample rate: 65001",
                          "Can't change sample rate to 22050"})
        EXPECT_NE(err.find(m), std::string::npos) << err;
    EXPECT_EQ(play_mode->rate, 44100);
}

TEST_F(SongPlayback, UnreadableFileEndsWithAnErrorAndTheNextSongStillPlays)
{
    EXPECT_EQ(play("notes.mid", "hello\n"), RC_ERROR) << messages;
    ASSERT_NE(current_file_info, nullptr);
    EXPECT_EQ(current_file_info->file_type, IS_ERROR_FILE);
    EXPECT_TRUE(fake_output().writes.empty());
    EXPECT_EQ(play("missing-dir/none.mid", ""), RC_ERROR);
    // Four seconds of one note: the time display hears of each second once, also in trace mode.
    static int times;
    Restore opened(ctl->opened, 1);  // an interface runs queued calls only while it is open
    Restore trace_playing(ctl->trace_playing);
    Restore event(ctl->event, [](ControlEvent* ce) { times += ce->type == CTLE_CURRENT_TIME; });
    for (int trace : {0, 1}) {
        times = 0;
        hooked().clear();
        ctl->trace_playing = trace;
        EXPECT_EQ(play("ok.mid", song_image({{0, 3840, 0, 60, 100}})), RC_TUNE_END) << messages;
        EXPECT_EQ(hooked().size(), 2u);
        EXPECT_TRUE(times >= 4 && times <= 12) << times << " trace " << trace;
    }
}

TEST_F(SongPlayback, AnOutputTakingEventsGetsTheArrayAndTheSongStopsAtItsEnd)
{
    fake_mode().flag = PF_MIDI_EVENT;
    EXPECT_EQ(play("list.mid", song_image({{0, 480, 0, 60, 100}, {480, 480, 1, 62, 90}})),
              RC_TUNE_END) << messages;
    // Every element went out as its 8 bytes, the end of track last; nothing was played.
    ASSERT_EQ(fake_output().data.size() % sizeof(MidiEvent), 0u);
    size_t n = fake_output().data.size() / sizeof(MidiEvent);
    ASSERT_GE(n, 5u);
    const MidiEvent* evs = reinterpret_cast<const MidiEvent*>(fake_output().data.data());
    EXPECT_EQ(evs[n - 1].type, ME_EOT);
    int notes = 0;
    for (size_t i = 0; i < n; i++)
        notes += evs[i].type == ME_NOTEON || evs[i].type == ME_NOTEOFF;
    EXPECT_EQ(std::make_tuple(notes, hooked().size()), std::make_tuple(4, 0u));
}
