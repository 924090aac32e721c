#!/usr/bin/env python3
"""Per-channel levels of corvelle-render against FluidSynth on the same SoundFont.

For every song of a folder and every channel that has notes, a copy of the song keeps that
channel's notes alone (controllers, programs, pitch bends and system-exclusive messages of
every channel stay, so both synthesizers set up the same way), both synthesizers render it,
and the difference of their RMS levels (ours - FluidSynth, dB) is taken. A song's spread is
the largest minus the smallest difference over the channels audible in both renders; a
common gain error moves every difference alike and leaves the spread alone.

Run through scripts/peer-levels.sh; standard library only.
"""
import argparse
import collections
import concurrent.futures
import math
import os
import struct
import subprocess
import sys
import tempfile
import warnings
import wave

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        import audioop  # C speed for the sums of squares; gone from Python 3.13
    except ImportError:
        audioop = None

from array import array

DRUM_CHANNEL = 9
SILENT_DB = -60.0  # a render quieter than this is not compared
# FluidSynth renders at this gain and its levels are moved to the gain asked for (its output
# scales exactly with -g): the chorus of some presets lifts a channel 15 dB or more, which would
# clip at the gain that matches our whole songs.
PEER_RENDER_GAIN = 0.1
FULL_SCALE = 32767

# What a render measures: sum of squares of every sample of every side, frames, sides, and the
# largest magnitude of a sample.
Measure = collections.namedtuple("Measure", "energy frames sides peak")


class MidiError(Exception):
    pass


# ----------------------------------------------------------------------------------------
# Standard MIDI Files: read into (delta, event bytes) lists, write back without running status


def read_vlq(data, pos, end):
    value = 0
    for _ in range(4):
        if pos >= end:
            raise MidiError("variable-length number runs past the end of its track")
        b = data[pos]
        pos += 1
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            return value, pos
    raise MidiError("variable-length number longer than four bytes")


def write_vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


CHANNEL_DATA_BYTES = {0x80: 2, 0x90: 2, 0xA0: 2, 0xB0: 2, 0xC0: 1, 0xD0: 1, 0xE0: 2}


def parse_track(data, pos, end):
    """Events of one track as (delta, complete event bytes with its status byte)."""
    events = []
    running = None
    while pos < end:
        delta, pos = read_vlq(data, pos, end)
        if pos >= end:
            raise MidiError("track ends after a delta time")
        status = data[pos]
        if status == 0xFF:
            if pos + 1 >= end:
                raise MidiError("meta event cut short")
            length, body = read_vlq(data, pos + 2, end)
            if body + length > end:
                raise MidiError("meta event runs past the end of its track")
            events.append((delta, bytes(data[pos:body + length])))
            pos = body + length
            # Meta events leave running status alone.
        elif status in (0xF0, 0xF7):
            length, body = read_vlq(data, pos + 1, end)
            if body + length > end:
                raise MidiError("system-exclusive message runs past the end of its track")
            events.append((delta, bytes(data[pos:body + length])))
            pos = body + length
            running = None
        else:
            if status & 0x80:
                if status >= 0xF0:
                    raise MidiError("system message 0x%02X in a track" % status)
                running = status
                pos += 1
            elif running is None:
                raise MidiError("data byte without a status byte")
            n = CHANNEL_DATA_BYTES[running & 0xF0]
            if pos + n > end:
                raise MidiError("channel event cut short")
            events.append((delta, bytes([running]) + bytes(data[pos:pos + n])))
            pos += n
    return events


def read_smf(path):
    """(format, division, tracks) of a Standard MIDI File; chunks other than MTrk are skipped."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 0
    if data[:4] == b"RIFF" and data[8:12] == b"RMID":
        found = data.find(b"MThd")
        if found < 0:
            raise MidiError("RIFF file without a MIDI header")
        pos = found
    if data[pos:pos + 4] != b"MThd" or len(data) < pos + 14:
        raise MidiError("not a Standard MIDI File")
    hlen = struct.unpack(">I", data[pos + 4:pos + 8])[0]
    fmt, ntracks, division = struct.unpack(">HHH", data[pos + 8:pos + 14])
    pos += 8 + hlen
    tracks = []
    while pos + 8 <= len(data) and len(tracks) < ntracks:
        cid = data[pos:pos + 4]
        clen = struct.unpack(">I", data[pos + 4:pos + 8])[0]
        body = pos + 8
        end = min(body + clen, len(data))
        if cid == b"MTrk":
            tracks.append(parse_track(data, body, end))
        pos = body + clen
    if not tracks:
        raise MidiError("no tracks")
    return fmt, division, tracks


def write_smf(path, fmt, division, tracks):
    out = bytearray(b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division))
    for events in tracks:
        body = bytearray()
        for delta, ev in events:
            body += write_vlq(delta) + ev
        out += b"MTrk" + struct.pack(">I", len(body)) + body
    with open(path, "wb") as f:
        f.write(out)


def is_note(ev):
    return ev[0] < 0xF0 and ev[0] & 0xF0 in (0x80, 0x90)


def channels_with_notes(tracks):
    return sorted({ev[0] & 0x0F for events in tracks for _, ev in events
                   if ev[0] < 0xF0 and ev[0] & 0xF0 == 0x90 and ev[2] > 0})


def programs_of(tracks, channel):
    """The programs a channel is given, in order of appearance (0 when never given)."""
    timed = []
    for events in tracks:
        t = 0
        for delta, ev in events:
            t += delta
            if ev[0] < 0xF0 and ev[0] & 0xF0 == 0xC0 and ev[0] & 0x0F == channel:
                timed.append((t, ev[1]))
    seen = []
    for _, p in sorted(timed, key=lambda x: x[0]):
        if p not in seen:
            seen.append(p)
    return seen or [0]


def keep_notes_of(tracks, channel):
    """The tracks with the note events of every channel but `channel` taken out (None: keep all)."""
    result = []
    for events in tracks:
        kept, carried = [], 0
        for delta, ev in events:
            if channel is not None and is_note(ev) and ev[0] & 0x0F != channel:
                carried += delta
                continue
            kept.append((delta + carried, ev))
            carried = 0
        result.append(kept)
    return result


# ----------------------------------------------------------------------------------------
# Levels


def wav_energy(path):
    """The Measure of a 16-bit PCM WAV file."""
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError("%s: %d-bit samples, 16-bit expected" % (path, 8 * w.getsampwidth()))
        sides, frames = w.getnchannels(), w.getnframes()
        total, peak = 0.0, 0
        while True:
            chunk = w.readframes(1 << 16)
            if not chunk:
                break
            if audioop is not None:
                n = len(chunk) // 2
                # rms() rounds down to a whole number: taken on the samples widened to 32 bits
                # (times 65536), what it drops is a part in 10^8 even for a quiet render.
                rms = audioop.rms(audioop.lin2lin(chunk, 2, 4), 4) / 65536.0
                total += rms * rms * n
                peak = max(peak, audioop.max(chunk, 2))
            else:
                a = array("h")
                a.frombytes(chunk)
                if sys.byteorder != "little":
                    a.byteswap()
                total += float(sum(x * x for x in a))
                peak = max(peak, max(abs(x) for x in a))
    return Measure(total, frames, sides, peak)


def level_db(energy, frames, sides):
    """RMS level in dBFS of `energy` spread over `frames` frames of `sides` sides."""
    if frames <= 0 or energy <= 0:
        return -math.inf
    return 10.0 * math.log10(energy / (frames * sides * 32768.0 ** 2))


def spread(diffs):
    return max(diffs) - min(diffs) if diffs else float("nan")


def median(values):
    v = sorted(values)
    if not v:
        return float("nan")
    m = len(v) // 2
    return v[m] if len(v) % 2 else (v[m - 1] + v[m]) / 2


# ----------------------------------------------------------------------------------------
# Rendering


def run(cmd, what):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return p.returncode, p.stderr.decode("utf-8", "replace")


def render_ours(args, cfg, song, out, dry):
    cmd = ["nice", args.render, "-c", cfg, "-s", "44100", "-OwS", "-o", out]
    if dry:
        cmd += ["--reverb=0", "--chorus=0"]
    rc, err = run(cmd + [song], "ours")
    # 2: written, but an instrument file the configuration names did not load.
    if rc not in (0, 2) or not os.path.exists(out):
        raise RuntimeError("corvelle-render failed on %s (status %d): %s" % (song, rc, err.strip()))
    return err if rc == 2 else ""


def render_peer(args, song, out, dry):
    # Dynamic sample loading reads only the samples the song plays: the same output, without
    # reading the whole font for each render.
    cmd = ["nice", "fluidsynth", "-ni", "-q", "-o", "synth.dynamic-sample-loading=1", "-F", out,
           "-T", "wav", "-O", "s16", "-r", "44100", "-g", str(PEER_RENDER_GAIN)]
    if dry:
        cmd += ["-R", "0", "-C", "0"]
    rc, err = run(cmd + [args.font, song], "peer")
    if rc != 0 or not os.path.exists(out):
        raise RuntimeError("fluidsynth failed on %s (status %d): %s" % (song, rc, err.strip()))
    return ""


def measure(job):
    """Renders one (song copy, mode) with both synthesizers: energies and frame counts."""
    args, cfg, song, tag, dry, tmp = job
    result = {}
    for who, render in (("ours", render_ours), ("peer", render_peer)):
        out = os.path.join(tmp, "%s-%s-%s.wav" % (tag, "dry" if dry else "wet", who))
        if who == "ours":
            note = render(args, cfg, song, out, dry)
        else:
            note = render(args, song, out, dry)
        result[who] = wav_energy(out)
        if note:
            result["note"] = note.strip().splitlines()[-1]
        os.unlink(out)
    return result


def fmt_db(x):
    return "   -inf" if x == -math.inf else "%+7.1f" % x


def program_label(channel, programs):
    if channel == DRUM_CHANNEL:
        return "drums"
    return "p" + "/".join(str(p) for p in programs)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("folder", help="folder of .mid songs")
    ap.add_argument("--render", required=True, help="corvelle-render program")
    ap.add_argument("--config", required=True, help="the build's corvelle.cfg")
    ap.add_argument("--font", default="/usr/share/sounds/sf2/FluidR3_GM.sf2")
    ap.add_argument("--gain", type=float, default=0.6, help="FluidSynth's gain (-g)")
    ap.add_argument("--tsv", default="peer-levels.tsv")
    ap.add_argument("--modes", default="wet,dry", help="wet (effects on), dry (reverb and chorus off)")
    ap.add_argument("-j", "--jobs", type=int, default=1)
    args = ap.parse_args(argv)

    songs = sorted(f for f in os.listdir(args.folder) if f.lower().endswith((".mid", ".midi")))
    if not songs:
        print("peer-levels: no .mid files in %s" % args.folder, file=sys.stderr)
        return 1
    if not args.gain > 0:
        print("peer-levels: the gain must be above 0", file=sys.stderr)
        return 1
    modes = [m for m in args.modes.split(",") if m]
    if any(m not in ("wet", "dry") for m in modes):
        print("peer-levels: --modes takes wet and dry", file=sys.stderr)
        return 1

    with tempfile.TemporaryDirectory(prefix="peer-levels-") as tmp:
        cfg = os.path.join(tmp, "font.cfg")
        with open(cfg, "w") as f:
            # The font plays every program it has, the patch set only what it lacks.
            f.write("source %s\nsoundfont %s order=0\n" % (args.config, args.font))
        jobs, info = [], {}
        for name in songs:
            path = os.path.join(args.folder, name)
            try:
                fmt, division, tracks = read_smf(path)
            except (MidiError, OSError, struct.error) as e:
                print("peer-levels: %s: %s, left out" % (name, e), file=sys.stderr)
                continue
            chans = channels_with_notes(tracks)
            info[name] = {c: programs_of(tracks, c) for c in chans}
            for c in [None] + chans:
                tag = "%s-%s" % (os.path.splitext(name)[0], "all" if c is None else "ch%02d" % (c + 1))
                copy = os.path.join(tmp, tag + ".mid")
                write_smf(copy, fmt, division, keep_notes_of(tracks, c))
                for m in modes:
                    jobs.append(((name, c, m), (args, cfg, copy, tag, m == "dry", tmp)))
        if not info:
            print("peer-levels: no song of %s could be read" % args.folder, file=sys.stderr)
            return 1
        results = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            futures = {pool.submit(measure, job): key for key, job in jobs}
            for done, fut in enumerate(concurrent.futures.as_completed(futures), 1):
                if sys.stderr.isatty():
                    print("\rpeer-levels: %d of %d renders" % (2 * done, 2 * len(jobs)),
                          end="", file=sys.stderr, flush=True)
                try:
                    results[futures[fut]] = fut.result()
                except (RuntimeError, ValueError, wave.Error, OSError) as e:
                    print("peer-levels: %s" % e, file=sys.stderr)
                    return 1
        if sys.stderr.isatty():
            print(file=sys.stderr)
    return report(args, songs, info, modes, results)


def peak_db(peak):
    return 20.0 * math.log10(peak / 32768.0) if peak > 0 else -math.inf


def report(args, songs, info, modes, results):
    rows = []
    peer_offset = 20.0 * math.log10(args.gain / PEER_RENDER_GAIN)
    print("corvelle-render (soundfont %s order=0) against fluidsynth on the same font, its levels "
          "as at -g %g" % (args.font, args.gain))
    print("level: RMS of both sides over the song's longest render (a shorter render counts as "
          "padded with silence), dBFS; difference: ours - FluidSynth; ! a render reached full scale")
    for m in modes:
        title = "effects on" if m == "wet" else "reverb and chorus off (ours --reverb=0 --chorus=0, fluidsynth -R 0 -C 0)"
        print("\n== %s" % title)
        spreads, all_diffs = [], []
        for name in songs:
            if name not in info:
                continue
            keys = [(name, c, m) for c in [None] + sorted(info[name])]
            frames = max(max(results[k]["ours"].frames, results[k]["peer"].frames) for k in keys)
            cells, diffs, overall, overall_clip = [], [], float("nan"), ""
            for key in keys:
                c = key[1]
                r = results[key]
                ours = level_db(r["ours"].energy, frames, r["ours"].sides)
                peer = level_db(r["peer"].energy, frames, r["peer"].sides) + peer_offset
                ours_peak = peak_db(r["ours"].peak)
                peer_peak = peak_db(r["peer"].peak) + peer_offset
                clip = "!" if max(r["ours"].peak, r["peer"].peak) >= FULL_SCALE else ""
                audible = ours > SILENT_DB and peer > SILENT_DB
                diff = ours - peer if audible else float("nan")
                label = "all" if c is None else "ch%d" % (c + 1)
                progs = "" if c is None else program_label(c, info[name][c])
                rows.append((name, m, label, progs, ours, peer, diff, audible, ours_peak, peer_peak,
                             r.get("note", "")))
                if c is None:
                    overall, overall_clip = diff, clip
                    continue
                cells.append("%s %s %s%s" % (label, progs, ("%+.1f" % diff) if audible else "(silent)", clip))
                if audible:
                    diffs.append(diff)
                    all_diffs.append((abs(diff), diff, name, label, progs))
            s = spread(diffs)
            if diffs:
                spreads.append(s)
            print("%-28s spread %5.1f dB  whole song %+.1f dB%s  (%d channels)"
                  % (name, s, overall, overall_clip, len(diffs)))
            print("    " + ", ".join(cells))
        if spreads:
            print("median spread %.1f dB, worst %.1f dB over %d songs"
                  % (median(spreads), max(spreads), len(spreads)))
        print("largest |difference|: " + "; ".join(
            "%s %s %s %+.1f" % (n, lab, p, d) for _, d, n, lab, p in sorted(all_diffs, reverse=True)[:5]))
    with open(args.tsv, "w") as f:
        f.write("song\tmode\tchannel\tprograms\tours_dbfs\tfluidsynth_dbfs\tdifference_db\tcompared\t"
                "ours_peak_dbfs\tfluidsynth_peak_dbfs\tnote\n")
        for name, m, label, progs, ours, peer, diff, audible, ours_peak, peer_peak, note in rows:
            f.write("%s\t%s\t%s\t%s\t%.2f\t%.2f\t%s\t%d\t%.2f\t%.2f\t%s\n" % (
                name, m, label, progs, ours, peer, "" if diff != diff else "%.2f" % diff, audible,
                ours_peak, peer_peak, note))
    print("\nwritten %s" % args.tsv)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
