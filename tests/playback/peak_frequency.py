#!/usr/bin/python3
"""Prints the frequency of the strongest peak between LOW and HIGH Hz in a stretch of a
16-bit WAV file, with numpy's FFT:
    peak_frequency.py FILE START_SECONDS END_SECONDS LOW_HZ HIGH_HZ
The channels are mixed, the stretch Hann-windowed and zero-padded to 2**20 samples, and
the peak refined by a parabola through the log magnitudes of its bin and its neighbours."""
import sys
import wave

import numpy as np

path, start, end, low, high = sys.argv[1], *map(float, sys.argv[2:6])
with wave.open(path, "rb") as w:
    rate, channels = w.getframerate(), w.getnchannels()
    if w.getsampwidth() != 2:
        sys.exit("not 16-bit audio")
    w.setpos(int(start * rate))
    frames = w.readframes(int((end - start) * rate))
audio = np.frombuffer(frames, dtype="<i2").astype(np.float64).reshape(-1, channels).mean(axis=1)
if not np.any(audio):
    sys.exit("silence")
size = 1 << 20
spectrum = np.abs(np.fft.rfft(audio * np.hanning(len(audio)), size))
bins = np.arange(len(spectrum)) * rate / size
inside = np.flatnonzero((bins >= low) & (bins <= high))
k = inside[np.argmax(spectrum[inside])]
a, b, c = np.log(spectrum[k - 1:k + 2] + 1e-12)
offset = 0.5 * (a - c) / (a - 2 * b + c)
print(f"{(k + offset) * rate / size:.6f}")
