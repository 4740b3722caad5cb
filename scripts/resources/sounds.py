"""The sounds: the short error signal and the thunder clap, as samples in -1..1."""

import math
import random

RATE = 22050


def square_tone(frequency, seconds, attack, release):
    """A square wave built from its odd harmonics below 5 kHz, so it buzzes without aliasing,
    shaped by a raised-cosine attack and release so that it starts and stops without a click."""
    count = int(seconds * RATE)
    harmonics = [k for k in range(1, 40, 2) if k * frequency < 5000]
    samples = []
    for n in range(count):
        t = n / RATE
        value = sum(math.sin(2 * math.pi * k * frequency * t) / k for k in harmonics) * 4 / math.pi
        envelope = 1.0
        if t < attack:
            envelope = 0.5 - 0.5 * math.cos(math.pi * t / attack)
        elif t > seconds - release:
            envelope = 0.5 + 0.5 * math.cos(math.pi * (t - (seconds - release)) / release)
        samples.append(value * envelope)
    return samples


def error_sound():
    """Two descending tones, D then G below it: about 0.45 s."""
    first = square_tone(587.33, 0.15, 0.006, 0.03)
    gap = [0.0] * int(0.03 * RATE)
    second = square_tone(392.0, 0.26, 0.006, 0.12)
    return [s * 0.42 for s in first + gap + second]


def low_pass(samples, cutoff, passes=1):
    """A one-pole low-pass filter applied the given number of times."""
    coefficient = 1.0 - math.exp(-2 * math.pi * cutoff / RATE)
    for _ in range(passes):
        state, filtered = 0.0, []
        for s in samples:
            state += coefficient * (s - state)
            filtered.append(state)
        samples = filtered
    return samples


def normalised(samples, peak=1.0):
    loudest = max(abs(s) for s in samples) or 1.0
    return [s * peak / loudest for s in samples]


def thunder_sound():
    """A thunder clap: a sharp crack of bright noise, a crackle of discharges, then a long low
    rumble that swells in a few rolls and dies away; 2.6 s, peaking at -3 dBFS."""
    generator = random.Random(1752)
    count = int(2.6 * RATE)
    noise = [generator.uniform(-1.0, 1.0) for _ in range(count)]

    # The crack: noise with its lows removed, gone within a tenth of a second.
    dull = low_pass(noise, 900.0)
    crack = [(n - d) * math.exp(-i / (0.045 * RATE)) for i, (n, d) in enumerate(zip(noise, dull))]

    # The crackle: short bursts at random moments, thinning out over the first half second.
    crackle = [0.0] * count
    for i in range(int(0.6 * RATE)):
        if generator.random() < 0.012 * math.exp(-i / (0.18 * RATE)):
            height = generator.uniform(0.4, 1.0) * generator.choice((-1, 1))
            for j in range(generator.randint(6, 40)):
                if i + j < count:
                    crackle[i + j] += height * noise[(i * 7 + j) % count] * math.exp(-j / 8.0)
    crackle = low_pass(crackle, 4000.0)

    # The rumble: deep filtered noise, rolling in a few swells under a long decay.
    rumble = normalised(low_pass(noise, 110.0, 3))
    deep = normalised(low_pass(noise[::-1], 45.0, 3))
    rolls = [(0.18, 0.12, 1.0), (0.55, 0.2, 0.8), (1.05, 0.25, 0.6), (1.6, 0.3, 0.35)]
    body = []
    for i in range(count):
        t = i / RATE
        swell = sum(h * math.exp(-((t - c) / w) ** 2) for c, w, h in rolls)
        envelope = (1.0 - math.exp(-t / 0.04)) * (0.35 * math.exp(-t / 0.9) + 0.65 * swell)
        body.append((0.7 * rumble[i] + 0.5 * deep[i]) * envelope)

    crack, crackle, body = normalised(crack), normalised(crackle), normalised(body)
    mixed = [0.55 * a + 0.35 * b + 0.9 * c for a, b, c in zip(crack, crackle, body)]
    fade = int(0.35 * RATE)
    for i in range(fade):
        mixed[count - fade + i] *= 0.5 + 0.5 * math.cos(math.pi * i / fade)
    return normalised(mixed, 10 ** (-3 / 20))
