#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Small valid files in the formats and encodings the sound library decodes,
and the broken files a user meets: empty, text, cut short, lying headers,
too many channels, non-finite samples. The command-line seeds are text, one
word per line. Run it again after changing it; only the time stamp of the
float WAV's PEAK chunk and the Ogg stream's serial number differ between runs.
"""

import ctypes
import ctypes.util
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SOUND = os.path.join(HERE, "corpus", "fuzz_sound_file")
COMMAND = os.path.join(HERE, "corpus", "fuzz_command_line")

RATE = 8000

# libsndfile format codes (sndfile.h)
WAV, AIFF, AU, W64, CAF, RF64, FLAC, OGG = (0x010000, 0x020000, 0x030000, 0x0B0000,
                                            0x180000, 0x220000, 0x170000, 0x200000)
PCM_U8, PCM_16, PCM_24, FLOAT, ULAW = 0x0005, 0x0002, 0x0003, 0x0006, 0x0010
IMA_ADPCM, MS_ADPCM, GSM610, VORBIS = 0x0012, 0x0013, 0x0020, 0x0060


class SfInfo(ctypes.Structure):
    _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]


lib = ctypes.CDLL(ctypes.util.find_library("sndfile") or "libsndfile.so.1")
lib.sf_open.restype = ctypes.c_void_p
lib.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(SfInfo)]
lib.sf_write_float.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_float), ctypes.c_int64]
lib.sf_close.argtypes = [ctypes.c_void_p]


def signal(frames, channels):
    return [0.5 * math.sin(2 * math.pi * (220 + 110 * c) * i / RATE) + 0.2 * math.sin(2 * math.pi * 1375 * i / RATE)
            for i in range(frames) for c in range(channels)]


def encoded(name, fmt, channels, frames):
    """A file written by the sound library itself."""
    info = SfInfo(0, RATE, channels, fmt, 0, 0)
    path = os.path.join(SOUND, name)
    f = lib.sf_open(path.encode(), 0x20, ctypes.byref(info))  # SFM_WRITE
    if not f:
        raise SystemExit("cannot write " + path)
    s = signal(frames, channels)
    lib.sf_write_float(f, (ctypes.c_float * len(s))(*s), len(s))
    lib.sf_close(f)


def pcm16_wav(frames, channels=1, claimed=None, fmt=1, bits=16, samples=None):
    """A WAV file by hand, so that its fields can lie."""
    if samples is None:
        data = b"".join(struct.pack("<h", int(v * 32767)) for v in signal(frames, channels))
    else:
        data = b"".join(struct.pack("<f", v) for v in samples)
    block = channels * bits // 8
    length = len(data) if claimed is None else claimed
    return (b"RIFF" + struct.pack("<I", min(36 + length, 0xFFFFFFFF)) + b"WAVE" +
            b"fmt " + struct.pack("<IHHIIHH", 16, fmt, channels, RATE, RATE * block, block, bits) +
            b"data" + struct.pack("<I", length) + data)


def raw(name, data):
    with open(os.path.join(SOUND, name), "wb") as f:
        f.write(data)


def command(name, words):
    with open(os.path.join(COMMAND, name), "w") as f:
        f.write("".join(w + "\n" for w in words))


def main():
    os.makedirs(SOUND, exist_ok=True)
    os.makedirs(COMMAND, exist_ok=True)

    encoded("mono16.wav", WAV | PCM_16, 1, 300)
    encoded("stereo_float.wav", WAV | FLOAT, 2, 200)
    encoded("stereo24.wav", WAV | PCM_24, 2, 100)
    encoded("ima_adpcm.wav", WAV | IMA_ADPCM, 1, 505)
    encoded("ms_adpcm.wav", WAV | MS_ADPCM, 2, 500)
    encoded("gsm610.wav", WAV | GSM610, 1, 320)
    encoded("ulaw.wav", WAV | ULAW, 1, 200)
    encoded("u8.aiff", AIFF | PCM_U8, 1, 200)
    encoded("pcm16.aiff", AIFF | PCM_16, 2, 100)
    encoded("float.au", AU | FLOAT, 1, 100)
    encoded("pcm16.w64", W64 | PCM_16, 1, 100)
    encoded("pcm16.caf", CAF | PCM_16, 2, 100)
    encoded("pcm16.rf64", RF64 | PCM_16, 1, 100)
    encoded("mono.flac", FLAC | PCM_16, 1, 400)
    encoded("stereo.ogg", OGG | VORBIS, 2, 400)

    whole = pcm16_wav(300)
    raw("empty.wav", b"")
    raw("text.wav", b"These are notes, not a sound.\n")
    raw("header_only.wav", pcm16_wav(0))
    raw("truncated_header.wav", whole[:30])
    raw("truncated_data.wav", whole[:44 + 301])
    raw("claims_4GiB.wav", pcm16_wav(300, claimed=0xFFFFFFF0))
    raw("three_channels.wav", pcm16_wav(50, channels=3))
    raw("zero_channels.wav", pcm16_wav(0, channels=0))
    nan = signal(100, 1)
    nan[40] = float("nan")
    raw("nan_float.wav", pcm16_wav(100, fmt=3, bits=32, samples=nan))
    inf = signal(100, 1)
    inf[99] = float("inf")
    raw("inf_float.wav", pcm16_wav(100, fmt=3, bits=32, samples=inf))

    command("minimal", ["song.wav", "2"])
    command("every_option", ["-f", "1000", "--maxiterations", "7", "-c", "0.5", "-o", "8", "-s", "-m",
                             "-t", "2", "my song.wav", "12"])
    command("largest_fftsize", ["a.wav", "2", "-f", "1073741823", "-o", "1073741824"])
    command("fftsize_too_large", ["a.wav", "2", "--fftsize", "1073741824"])
    command("overlap_above", ["a.wav", "2", "-f", "8", "-o", "17"])
    command("negative_components", ["a.wav", "-1"])
    command("negative_threads", ["a.wav", "1", "-t", "-1"])
    command("criteria_nan", ["a.wav", "2", "-c", "nan"])
    command("criteria_exponent", ["a.wav", "2", "-c", "-1e-308", "-i", "-5"])
    command("int_overflow", ["a.wav", "99999999999"])
    command("combined_switches", ["-sm", "a.wav", "3"])
    command("help", ["--help"])
    command("version", ["--version"])
    command("unknown_option", ["a.wav", "2", "--bogus"])
    command("missing_value", ["a.wav", "2", "-f"])
    command("missing_components", ["a.wav"])
    command("empty_word", ["", "2"])
    command("output_choices", ["-d", "out/", "--encoding", "float", "a.wav", "2"])
    command("unknown_encoding", ["a.wav", "2", "--encoding", "pcm8"])
    command("empty_outdir", ["a.wav", "2", "--outdir", ""])
    command("pad", ["a.wav", "2", "--pad", "-o", "3"])
    command("pad_overlap_two", ["a.wav", "2", "--pad", "-o", "2"])


if __name__ == "__main__":
    main()
