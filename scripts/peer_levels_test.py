#!/usr/bin/env python3
"""Checks of the song splitting and level measures of peer_levels.py:
python3 scripts/peer_levels_test.py"""
import math
import os
import struct
import sys
import tempfile
import unittest
from unittest import mock
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peer_levels as pl  # noqa: E402


def track_bytes(body):
    return b"MTrk" + struct.pack(">I", len(body)) + body


def smf(*tracks, fmt=1, division=96):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division) + b"".join(
        track_bytes(t) for t in tracks)


def absolute(events):
    t, out = 0, []
    for delta, ev in events:
        t += delta
        out.append((t, ev))
    return out


# One track mixing channels 1 and 2 under running status, which a meta event does not break
# and a system-exclusive message does; a long delta (two-byte number) and an end of track.
MIXED = bytes([
    0x00, 0xC1, 0x18,                    # ch2 program 24
    0x00, 0x90, 0x3C, 0x64,              # ch1 note on
    0x10, 0x3E, 0x64,                    # running status: ch1 note on
    0x00, 0xFF, 0x01, 0x02, 0x68, 0x69,  # text meta, running status survives it
    0x08, 0x3C, 0x00,                    # ch1 note on velocity 0 (a note-off)
    0x04, 0x91, 0x40, 0x50,              # ch2 note on
    0x81, 0x00, 0x40, 0x00,              # running status, delta 128: ch2 note off
    0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,  # sysex
    0x02, 0xB1, 0x07, 0x64,              # ch2 volume
    0x00, 0xE0, 0x00, 0x40,              # ch1 pitch bend
    0x05, 0x80, 0x3E, 0x00,              # ch1 note off
    0x00, 0xFF, 0x2F, 0x00,
])


class SplitTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "mixed.mid")
        with open(self.path, "wb") as f:
            f.write(smf(MIXED, b"\x00\xff\x2f\x00"))

    def tearDown(self):
        self.dir.cleanup()

    def test_reads_running_status_meta_and_sysex(self):
        fmt, division, tracks = pl.read_smf(self.path)
        self.assertEqual((fmt, division, len(tracks)), (1, 96, 2))
        ev = absolute(tracks[0])
        self.assertEqual(ev[2], (16, bytes([0x90, 0x3E, 0x64])))
        self.assertEqual(ev[4], (24, bytes([0x90, 0x3C, 0x00])))   # status kept over the meta
        self.assertEqual(ev[6], (156, bytes([0x91, 0x40, 0x00])))  # 24 + 4 + 128
        self.assertEqual(ev[7][1], bytes([0xF0, 0x03, 0x7E, 0x7F, 0xF7]))
        self.assertEqual(pl.channels_with_notes(tracks), [0, 1])
        self.assertEqual(pl.programs_of(tracks, 1), [24])
        self.assertEqual(pl.programs_of(tracks, 0), [0])

    def test_a_solo_keeps_its_notes_every_set_up_and_the_timing(self):
        fmt, division, tracks = pl.read_smf(self.path)
        whole = absolute(tracks[0])
        for channel in (0, 1):
            with self.subTest(channel=channel):
                solo = pl.keep_notes_of(tracks, channel)
                out = os.path.join(self.dir.name, "solo.mid")
                pl.write_smf(out, fmt, division, solo)
                _, _, again = pl.read_smf(out)
                self.assertEqual(again, solo)
                expected = [(t, ev) for t, ev in whole
                            if not (pl.is_note(ev) and ev[0] & 0x0F != channel)]
                self.assertEqual(absolute(again[0]), expected)
                self.assertEqual(pl.channels_with_notes(again), [channel])
        self.assertEqual(pl.keep_notes_of(tracks, None), tracks)

    def test_broken_files_are_refused_with_a_reason(self):
        cases = [
            ("not a song", b"RIFF0000WAVE"),
            ("data byte first", smf(b"\x00\x3c\x64\x00\xff\x2f\x00")),
            ("cut short", smf(b"\x00\x90\x3c")),
            ("endless number", smf(b"\x80\x80\x80\x80\x00")),
            ("no tracks", b"MThd" + struct.pack(">IHHH", 6, 0, 0, 96)),
        ]
        for what, data in cases:
            with self.subTest(what):
                with open(self.path, "wb") as f:
                    f.write(data)
                with self.assertRaises(pl.MidiError):
                    pl.read_smf(self.path)

    def test_long_numbers_round_trip(self):
        for value in (0, 127, 128, 16383, 16384, 0x0FFFFFFF):
            data = pl.write_vlq(value)
            self.assertEqual(pl.read_vlq(data, 0, len(data)), (value, len(data)))


class LevelTest(unittest.TestCase):
    def test_levels_of_known_signals(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "s.wav")
            frames = 44100
            # Left a full-scale square wave, right silent: -3 dBFS over both sides.
            samples = b"".join(struct.pack("<hh", 32767 if i % 2 else -32768, 0) for i in range(frames))
            with wave.open(path, "wb") as w:
                w.setnchannels(2)
                w.setsampwidth(2)
                w.setframerate(44100)
                w.writeframes(samples)
            m = pl.wav_energy(path)
            with mock.patch.object(pl, "audioop", None):  # the pure Python sums agree
                exact = pl.wav_energy(path)
            self.assertEqual(exact[1:], m[1:])
            self.assertAlmostEqual(m.energy / exact.energy, 1.0, places=7)
            self.assertEqual((m.frames, m.sides, m.peak), (frames, 2, 32768))
            self.assertAlmostEqual(pl.level_db(m.energy, m.frames, m.sides), -3.01, places=2)
            # Padded with silence to twice its length: 3 dB lower.
            self.assertAlmostEqual(pl.level_db(m.energy, 2 * m.frames, m.sides), -6.02, places=2)
        self.assertEqual(pl.level_db(0.0, 10, 2), -math.inf)

    def test_spread_and_median(self):
        self.assertEqual(pl.spread([1.5, -2.0, 0.5]), 3.5)
        self.assertTrue(math.isnan(pl.spread([])))
        self.assertEqual(pl.median([3, 1, 2]), 2)
        self.assertEqual(pl.median([4, 1, 2, 3]), 2.5)


if __name__ == "__main__":
    unittest.main()
