// Deterministic value noise for the asset generators: the same numbers on
// every machine and every run (integer hashing, no random library).
#pragma once

#include <cmath>
#include <cstdint>

inline uint32_t hash3(int32_t x, int32_t y, uint32_t seed)
{
    uint32_t h = seed * 0x9E3779B9u ^ uint32_t(x) * 0x85EBCA6Bu ^ uint32_t(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

// Uniform in [-1, 1].
inline double latticeValue(int32_t x, int32_t y, uint32_t seed)
{
    return hash3(x, y, seed) / 2147483647.5 - 1.0;
}

inline double smoothstep(double edge0, double edge1, double x)
{
    double t = (x - edge0) / (edge1 - edge0);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return t * t * (3 - 2 * t);
}

// Smooth noise in [-1, 1] with one lattice cell per unit. With periods > 0
// the lattice wraps every `periodX` cells along x and `periodY` along y, so
// the noise tiles.
inline double valueNoise(double x, double y, uint32_t seed, int32_t periodX, int32_t periodY)
{
    const double fx = std::floor(x), fy = std::floor(y);
    int32_t x0 = int32_t(fx), y0 = int32_t(fy), x1 = x0 + 1, y1 = y0 + 1;
    auto wrap = [](int32_t v, int32_t period) { return period > 0 ? ((v % period) + period) % period : v; };
    x0 = wrap(x0, periodX), x1 = wrap(x1, periodX), y0 = wrap(y0, periodY), y1 = wrap(y1, periodY);
    const double tx = smoothstep(0, 1, x - fx), ty = smoothstep(0, 1, y - fy);
    const double a = latticeValue(x0, y0, seed), b = latticeValue(x1, y0, seed);
    const double c = latticeValue(x0, y1, seed), d = latticeValue(x1, y1, seed);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

// The same period along both axes (0: no wrapping).
inline double valueNoise(double x, double y, uint32_t seed, int32_t period = 0)
{
    return valueNoise(x, y, seed, period, period);
}

// Octaves of value noise, each twice as fine and half as strong; about [-1, 1].
inline double fractalNoise(double x, double y, int octaves, uint32_t seed, int32_t periodX, int32_t periodY)
{
    double sum = 0, amplitude = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(i), periodX, periodY);
        total += amplitude;
        x *= 2, y *= 2, amplitude *= 0.5;
        periodX *= 2, periodY *= 2;
    }
    return sum / total;
}

inline double fractalNoise(double x, double y, int octaves, uint32_t seed, int32_t period = 0)
{
    return fractalNoise(x, y, octaves, seed, period, period);
}
