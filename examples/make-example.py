#!/usr/bin/env python3
"""Makes examples/mixture.wav: four seconds of a plucked-string melody (left of
centre), a soft organ chord (right of centre) and a hi-hat pattern, as 16-bit
stereo at 22050 Hz. Standard library only; deterministic."""

import math
import struct
import wave

RATE = 22050
SECONDS = 4.0
N = int(RATE * SECONDS)


class Lcg:
    """Small deterministic generator, so the file is the same everywhere."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state / 0x7FFFFFFF * 2.0 - 1.0


def plucked(freq, length, rng):
    """Karplus-Strong string: a noise burst through a damped delay line."""
    period = max(2, int(round(RATE / freq)))
    line = [rng.next() for _ in range(period)]
    out = []
    for i in range(length):
        j = i % period
        value = line[j]
        line[j] = 0.996 * 0.5 * (value + line[(j + 1) % period])
        out.append(value)
    return out


def main():
    rng = Lcg(20261207)
    left = [0.0] * N
    right = [0.0] * N

    melody = [(0.0, 392.0), (0.5, 440.0), (1.0, 493.9), (1.5, 587.3),
              (2.0, 493.9), (2.5, 440.0), (3.0, 392.0), (3.5, 329.6)]
    for start, freq in melody:
        s = int(start * RATE)
        note = plucked(freq, min(N - s, int(0.9 * RATE)), rng)
        for i, v in enumerate(note):
            left[s + i] += 0.45 * v
            right[s + i] += 0.15 * v

    for i in range(N):
        t = i / RATE
        swell = min(1.0, t / 0.4) * min(1.0, (SECONDS - t) / 0.4)
        chord = sum(math.sin(2 * math.pi * f * t) for f in (130.8, 164.8, 196.0)) / 3.0
        left[i] += 0.08 * swell * chord
        right[i] += 0.22 * swell * chord

    for beat in range(16):
        s = int(beat * 0.25 * RATE)
        for i in range(int(0.06 * RATE)):
            if s + i >= N:
                break
            v = rng.next() * math.exp(-i / (0.012 * RATE)) * 0.18
            left[s + i] += v
            right[s + i] += v

    frames = bytearray()
    for a, b in zip(left, right):
        frames += struct.pack('<hh', int(max(-1.0, min(1.0, a)) * 32767),
                              int(max(-1.0, min(1.0, b)) * 32767))
    with wave.open('mixture.wav', 'wb') as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


if __name__ == '__main__':
    main()
