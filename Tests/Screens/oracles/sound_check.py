"""Measures a mono 48 kHz float32 mix for the sound tests.

    sound_check.py FILE FREQ,FREQ,... [T0 T1]

Prints "share S": the share of the mix's energy within 80 Hz of the given frequencies; "interval A B"
for every stretch (seconds) in which the mix sounds (5 ms RMS above 0.05); "peak F" for the
strongest frequency; and with a window, "window F S" per frequency: its share of the window's energy.
"""
import sys

import numpy as np

RATE = 48000


def shares(x, freqs):
    spectrum = np.abs(np.fft.rfft(x * np.hanning(len(x)))) ** 2
    bins = np.fft.rfftfreq(len(x), 1.0 / RATE)
    total = spectrum.sum()
    if total <= 0:
        return spectrum, bins, [0.0 for _ in freqs], 0.0
    near = np.zeros(len(bins), dtype=bool)
    each = []
    for f in freqs:
        mask = np.abs(bins - f) <= 80
        each.append(float(spectrum[mask].sum() / total))
        near |= mask
    return spectrum, bins, each, float(spectrum[near].sum() / total)


def main():
    x = np.fromfile(sys.argv[1], dtype=np.float32).astype(np.float64)
    freqs = [float(f) for f in sys.argv[2].split(',') if f]
    spectrum, bins, _, share = shares(x, freqs)
    print('share %.6f' % share)
    print('peak %.1f' % bins[int(np.argmax(spectrum))])
    window = 240
    frames = len(x) // window
    rms = np.sqrt((x[:frames * window].reshape(frames, window) ** 2).mean(axis=1))
    on = rms > 0.05
    start = None
    for i, value in enumerate(on):
        if value and start is None:
            start = i
        if not value and start is not None:
            print('interval %.3f %.3f' % (start * window / RATE, i * window / RATE))
            start = None
    if start is not None:
        print('interval %.3f %.3f' % (start * window / RATE, frames * window / RATE))
    if len(sys.argv) > 4:
        a, b = int(float(sys.argv[3]) * RATE), int(float(sys.argv[4]) * RATE)
        _, _, each, _ = shares(x[a:b], freqs)
        for f, s in zip(freqs, each):
            print('window %.1f %.6f' % (f, s))


main()
