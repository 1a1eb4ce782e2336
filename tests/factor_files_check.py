#!/usr/bin/python3
"""The factor files that --factors writes, read as a numpy user reads them.

For WAV, FLAC and Ogg inputs at three rates and three framings (default, -o 8,
--pad with -f 1024): np.load of the .npy files equals the -m --precision 17
text files bit for bit; --factors text writes those same text files; the
metadata's hop, padding, times and frequencies follow from the options, and
its sources name each output's rows. Then: --no-sounds writes the factor
files and nothing else, plain -m writes no metadata, and templates read from
an .npy H file give the same sounds as from the text file.

Usage: factor_files_check.py TESSAVO
"""

import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import soundfile as sf

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(tessavo, args, cwd):
    r = subprocess.run([tessavo] + args, cwd=cwd, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"FAIL: tessavo {' '.join(args)} exited {r.returncode}: {r.stdout}{r.stderr}")


def text_matrix(path):
    return np.loadtxt(path, skiprows=1, ndmin=2)


def main(tessavo):
    work = tempfile.mkdtemp(prefix="tessavo-factors.")
    t = np.arange(30000)
    cases = [("song.wav", "WAV", 8000, ["-o", "8"], 8192, 1024, 0),
             ("song.flac", "FLAC", 22050, [], 8192, 2048, 0),
             ("song.ogg", "OGG", 48000, ["--pad", "-f", "1024"], 2048, 512, 1536)]
    for name, container, rate, options, n, hop, padding in cases:
        folder = os.path.join(work, container)
        os.mkdir(folder)
        sound = np.stack([0.3 * np.sin(2 * np.pi * 440 * t / rate), 0.2 * np.sin(2 * np.pi * 97 * t / rate)], 1)
        sf.write(os.path.join(folder, name), sound, rate, format=container)
        base = ["-i", "10", "-s"] + options
        for sub, extra in (("npy", ["--factors", "npy"]), ("text", ["--factors", "text", "--precision", "17"]),
                           ("m", ["-m", "--precision", "17"])):
            os.mkdir(os.path.join(folder, sub))
            run(tessavo, [name, "3", "-d", sub] + base + extra, folder)
        at = lambda sub, f: os.path.join(folder, sub, name + f)
        for m in "WH":
            text = text_matrix(at("m", f"-{m}.txt"))
            loaded = np.load(at("npy", f"-{m}.npy"))
            check(loaded.dtype == np.dtype("<f8") and loaded.shape == text.shape
                  and np.array_equal(loaded.view(np.uint64), text.view(np.uint64)),
                  f"{name}: np.load of {m}.npy differs from the text at 17 digits")
            check(open(at("text", f"-{m}.txt")).read() == open(at("m", f"-{m}.txt")).read(),
                  f"{name}: --factors text wrote another {m} file than -m")
        check(not os.path.exists(at("m", "-factors.json")), f"{name}: plain -m wrote metadata")
        meta = json.load(open(at("npy", "-factors.json")))
        frames = np.load(at("npy", "-W.npy")).shape[0]
        want = {"sample_rate": rate, "channels": 2, "transform_length": n, "window_length": n, "hop": hop,
                "padding": padding, "padded": padding > 0, "loss": "euclidean", "mask": "direct",
                "components": 3, "rows": 3, "frames": frames, "bins": n // 2, "format": "npy",
                "w_file": name + "-W.npy", "h_file": name + "-H.npy", "input": name,
                "sources": [{"name": str(k), "rows": [k]} for k in range(3)]}
        for key, value in want.items():
            check(meta.get(key) == value, f"{name}: metadata {key} is {meta.get(key)!r}, not {value!r}")
        check(meta["frame_times"] == [(r * hop - padding) / rate for r in range(frames)],
              f"{name}: frame times do not follow the hop and padding")
        check(meta["bin_frequencies"] == [j * rate / n for j in range(n // 2)],
              f"{name}: bin frequencies do not follow the rate and transform")
        check(meta["command_line"][1:] == [name, "3", "-d", "npy"] + base + ["--factors", "npy"],
              f"{name}: command line {meta['command_line']}")

    # Learning templates: the factor files only; then the .npy H as templates
    # gives the sounds that the same H as 17-digit text gives.
    folder = os.path.join(work, "WAV")
    os.mkdir(os.path.join(folder, "learn"))
    run(tessavo, ["song.wav", "2", "-d", "learn", "-i", "10", "-s", "--factors", "npy", "--no-sounds"], folder)
    check(sorted(os.listdir(os.path.join(folder, "learn"))) ==
          ["song.wav-H.npy", "song.wav-W.npy", "song.wav-factors.json"], "--no-sounds wrote more than the factors")
    h = np.load(os.path.join(folder, "learn", "song.wav-H.npy"))
    with open(os.path.join(folder, "learn", "H.txt"), "w") as f:
        f.write(f"{h.shape[0]} {h.shape[1]}\n")
        for row in h:
            f.write("".join(f"{x:.17g} " for x in row) + "\n")
    for sub, file in (("from-npy", "song.wav-H.npy"), ("from-text", "H.txt")):
        os.mkdir(os.path.join(folder, sub))
        run(tessavo, ["song.wav", "1", "-d", sub, "-i", "10", "-s", "--templates",
                      "lead=" + os.path.join("learn", file)], folder)
    for out in ("song-lead.wav", "song-0.wav", "song-residual.wav"):
        a = open(os.path.join(folder, "from-npy", out), "rb").read()
        b = open(os.path.join(folder, "from-text", out), "rb").read()
        check(a == b, f"templates from .npy and from text give different {out}")
    meta = json.load(open(os.path.join(folder, "learn", "song.wav-factors.json")))
    check(meta["sources"] == [{"name": "0", "rows": [0]}, {"name": "1", "rows": [1]}], "learn run's sources")

    if failures:
        print(f"{len(failures)} failures; files kept in {work}")
        return 1
    subprocess.run(["rm", "-rf", work])
    print("factor files: every check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
