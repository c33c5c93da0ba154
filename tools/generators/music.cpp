// Generates the run's music: a short, bright synthesized tune (lead melody,
// bass line, chord pad and a drum beat) of 16 bars at 120 beats a minute,
// 32 seconds, 22,050 Hz mono 16-bit PCM. The noise of the drums comes from a
// fixed hash, so the file is the same at every run.
//
// Usage: gen_music OUTPUT.wav
#include "filewriters/wavwriter.h"
#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kBeat = 0.5;       // seconds
constexpr int kBars = 16;
constexpr double kPi = 3.14159265358979323846;

double frequency(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

struct Note {
    int midi;      // 0: rest
    double beats;
};

// Two eight-bar phrases over C - G - Am - F; the second answers the first and
// ends on the tonic.
const Note kMelody[] = {
    // phrase A
    {76, 1}, {79, 0.5}, {76, 0.5}, {72, 1}, {74, 1},
    {74, 1}, {71, 0.5}, {74, 0.5}, {79, 1.5}, {0, 0.5},
    {72, 0.5}, {76, 0.5}, {81, 1}, {79, 0.5}, {76, 0.5}, {72, 1},
    {77, 1}, {76, 0.5}, {74, 0.5}, {72, 1}, {74, 1},
    {76, 1}, {79, 0.5}, {76, 0.5}, {84, 1}, {83, 1},
    {81, 0.5}, {79, 0.5}, {74, 1}, {79, 1.5}, {0, 0.5},
    {81, 0.5}, {79, 0.5}, {76, 1}, {72, 0.5}, {76, 0.5}, {81, 1},
    {77, 0.5}, {76, 0.5}, {74, 1}, {71, 1}, {74, 1},
    // phrase B
    {79, 0.5}, {79, 0.5}, {84, 1}, {79, 1}, {76, 1},
    {79, 0.5}, {81, 0.5}, {79, 1}, {74, 1}, {71, 1},
    {72, 0.5}, {76, 0.5}, {81, 1}, {84, 1}, {81, 1},
    {77, 1}, {81, 0.5}, {79, 0.5}, {77, 1}, {74, 1},
    {76, 1}, {79, 0.5}, {76, 0.5}, {72, 1}, {76, 1},
    {74, 0.5}, {76, 0.5}, {79, 1}, {83, 1}, {86, 1},
    {84, 0.5}, {83, 0.5}, {81, 1}, {76, 1}, {81, 1},
    {79, 1}, {77, 0.5}, {74, 0.5}, {72, 2},
};

// Root of each bar's chord (C, G, Am, F) and its triad above the bass.
const int kRoots[4] = {36, 43, 45, 41};
const int kTriads[4][3] = {{60, 64, 67}, {59, 62, 67}, {57, 60, 64}, {57, 60, 65}};

// Envelope: quick attack, then an exponential decay towards a sustain level,
// and a short release at the end of the note.
double envelope(double t, double length, double decay, double sustain)
{
    const double attack = std::min(1.0, t / 0.008);
    const double body = sustain + (1 - sustain) * std::exp(-t / decay);
    const double release = std::clamp((length - t) / 0.03, 0.0, 1.0);
    return attack * body * release;
}

void addTone(std::vector<double>& out, double start, double length, double freq, double gain, double decay,
    double sustain, int harmonics, double brightness)
{
    const int first = int(start * kRate), count = int(length * kRate);
    for (int i = 0; i < count && first + i < int(out.size()); ++i) {
        const double t = double(i) / kRate;
        double v = 0, amp = 1;
        for (int h = 1; h <= harmonics; ++h, amp *= brightness)
            v += amp * std::sin(2 * kPi * freq * h * t) / h;
        out[first + i] += gain * envelope(t, length, decay, sustain) * v;
    }
}

double noiseSample(int i, uint32_t seed)
{
    return latticeValue(i, 0, seed);
}

void kick(std::vector<double>& out, double start)
{
    const int first = int(start * kRate);
    double phase = 0;
    for (int i = 0; i < kRate / 4 && first + i < int(out.size()); ++i) {
        const double t = double(i) / kRate;
        phase += 2 * kPi * (50 + 110 * std::exp(-t / 0.03)) / kRate;
        out[first + i] += 0.55 * std::exp(-t / 0.12) * std::sin(phase);
    }
}

void snare(std::vector<double>& out, double start)
{
    const int first = int(start * kRate);
    for (int i = 0; i < kRate / 5 && first + i < int(out.size()); ++i) {
        const double t = double(i) / kRate;
        const double body = std::sin(2 * kPi * 190 * t) * std::exp(-t / 0.05);
        out[first + i] += 0.22 * (0.6 * noiseSample(first + i, 5) * std::exp(-t / 0.07) + 0.5 * body);
    }
}

void hat(std::vector<double>& out, double start, double gain)
{
    const int first = int(start * kRate);
    double previous = 0;
    for (int i = 0; i < kRate / 20 && first + i < int(out.size()); ++i) {
        const double t = double(i) / kRate;
        const double n = noiseSample(first + i, 9);
        out[first + i] += gain * (n - previous) * std::exp(-t / 0.012); // differenced: bright
        previous = n;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const double total = kBars * 4 * kBeat;
    std::vector<double> mix(size_t(total * kRate) + kRate / 2, 0.0);

    double at = 0;
    for (const Note& n : kMelody) {
        if (n.midi > 0)
            addTone(mix, at, n.beats * kBeat * 0.95, frequency(n.midi), 0.16, 0.25, 0.45, 6, 0.55);
        at += n.beats * kBeat;
    }

    for (int bar = 0; bar < kBars; ++bar) {
        const int chord = bar % 4;
        const double barStart = bar * 4 * kBeat;
        // Bass: root on the beat, octave on the off-beat.
        for (int e = 0; e < 8; ++e) {
            const int midi = kRoots[chord] + (e % 2 ? 12 : 0);
            addTone(mix, barStart + e * kBeat / 2, kBeat / 2 * 0.9, frequency(midi), 0.2, 0.12, 0.3, 4, 0.5);
        }
        // Pad: the triad held through the bar, soft and round.
        for (int midi : kTriads[chord])
            addTone(mix, barStart, 4 * kBeat * 0.98, frequency(midi), 0.045, 1.2, 0.6, 2, 0.3);
        // Drums: kick on 1 and 3 (and the "and" of 4 every other bar), snare
        // on 2 and 4, hats on every eighth; the first bar has only the hats.
        for (int e = 0; e < 8; ++e)
            hat(mix, barStart + e * kBeat / 2, e % 2 ? 0.05 : 0.08);
        if (bar == 0)
            continue;
        kick(mix, barStart);
        kick(mix, barStart + 2 * kBeat);
        if (bar % 2)
            kick(mix, barStart + 3.5 * kBeat);
        snare(mix, barStart + kBeat);
        snare(mix, barStart + 3 * kBeat);
    }

    double peak = 0;
    for (double v : mix)
        peak = std::max(peak, std::fabs(v));
    std::vector<int16_t> samples(mix.size());
    for (size_t i = 0; i < mix.size(); ++i) {
        const double fade = std::min(1.0, double(mix.size() - i) / (kRate / 4)); // no click at the end
        samples[i] = int16_t(std::lround(mix[i] / peak * 0.85 * 32767 * fade));
    }
    return filewriters::writeFile(argv[1], filewriters::encodeWav16(kRate, 1, samples)) ? 0 : 1;
}
