#include "support/speech_measures.h"

#include "support/reference_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace aurivane::test {

namespace {

double Energy(Pcm x) {
    double e = 0;
    for (int16_t v : x) e += static_cast<double>(v) * v;
    return e;
}

template <typename T>
double SnrOf(std::span<const T> ref, std::span<const T> test, double cap) {
    const std::size_t n = std::min(ref.size(), test.size());
    double sig = 0, err = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(ref[i]) - test[i];
        sig += static_cast<double>(ref[i]) * ref[i];
        err += d * d;
    }
    if (err == 0) return cap;
    if (sig == 0) return -cap;
    return std::min(cap, 10.0 * std::log10(sig / err));
}

}  // namespace

int BestLag(Pcm ref, Pcm test, int maxLag, double* correlation) {
    int best = 0;
    double bestCorr = -2.0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        const Aligned a = AlignByLag(ref, test, lag);
        if (a.ref.empty()) continue;
        double xy = 0;
        for (std::size_t i = 0; i < a.ref.size(); ++i) xy += static_cast<double>(a.ref[i]) * a.test[i];
        const double den = std::sqrt(Energy(a.ref) * Energy(a.test));
        const double c = den > 0 ? xy / den : 0.0;
        if (c > bestCorr) {
            bestCorr = c;
            best = lag;
        }
    }
    if (correlation != nullptr) *correlation = bestCorr;
    return best;
}

Aligned AlignByLag(Pcm ref, Pcm test, int lag) {
    std::size_t r0 = 0, t0 = 0;
    if (lag >= 0) {
        t0 = static_cast<std::size_t>(lag);
    } else {
        r0 = static_cast<std::size_t>(-lag);
    }
    if (r0 >= ref.size() || t0 >= test.size()) return {};
    const std::size_t n = std::min(ref.size() - r0, test.size() - t0);
    return {ref.subspan(r0, n), test.subspan(t0, n)};
}


double SnrDb(Pcm ref, Pcm test) { return SnrOf(ref, test, 100.0); }
double SnrDb(std::span<const float> ref, std::span<const float> test) { return SnrOf(ref, test, 200.0); }

double SegmentalSnrDb(Pcm ref, Pcm test, std::size_t frame) {
    const std::size_t n = std::min(ref.size(), test.size());
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t start = 0; frame > 0 && start + frame <= n; start += frame) {
        const Pcm r = ref.subspan(start, frame);
        const Pcm t = test.subspan(start, frame);
        const double sig = Energy(r);
        if (sig / static_cast<double>(frame) < 1.0) continue;
        double err = 0;
        for (std::size_t i = 0; i < frame; ++i) {
            const double d = static_cast<double>(r[i]) - t[i];
            err += d * d;
        }
        const double snr = err == 0 ? 35.0 : 10.0 * std::log10(sig / err);
        sum += std::clamp(snr, -10.0, 35.0);
        ++count;
    }
    return count ? sum / static_cast<double>(count) : 0.0;
}

double LogSpectralDistanceDb(Pcm ref, Pcm test) {
    constexpr std::size_t kN = 256, kHop = 128;
    const std::size_t n = std::min(ref.size(), test.size());
    // Frames more than 40 dB below the loudest one are pauses: skip them.
    double loudest = 0;
    for (std::size_t start = 0; start + kN <= n; start += kHop) {
        loudest = std::max(loudest, Energy(ref.subspan(start, kN)) / kN);
    }
    const double floorMs = std::max(1.0, loudest * 1e-4);
    std::vector<double> window(kN);
    for (std::size_t i = 0; i < kN; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (static_cast<double>(i) + 0.5) / kN);
    }
    std::vector<std::complex<double>> a(kN), b(kN);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t start = 0; start + kN <= n; start += kHop) {
        if (Energy(ref.subspan(start, kN)) / kN < floorMs || loudest < 1.0) continue;
        for (std::size_t i = 0; i < kN; ++i) {
            a[i] = ref[start + i] * window[i];
            b[i] = test[start + i] * window[i];
        }
        ReferenceFft(a);
        ReferenceFft(b);
        double d2 = 0;
        for (std::size_t k = 1; k < kN / 2; ++k) {
            // A small absolute floor keeps empty bins from dominating.
            const double pa = std::norm(a[k]) + 1.0, pb = std::norm(b[k]) + 1.0;
            const double d = 10.0 * std::log10(pa / pb);
            d2 += d * d;
        }
        sum += std::sqrt(d2 / (kN / 2 - 1));
        ++count;
    }
    return count ? sum / static_cast<double>(count) : 0.0;
}

double LevelDbfs(Pcm x) {
    if (x.empty()) return -200.0;
    const double ms = Energy(x) / static_cast<double>(x.size());
    if (ms == 0) return -200.0;
    return 10.0 * std::log10(ms / (32768.0 * 32768.0));
}

double LevelDifferenceDb(Pcm ref, Pcm test) { return LevelDbfs(test) - LevelDbfs(ref); }

SpeechComparison CompareSpeech(Pcm ref, Pcm test, int maxLag) {
    SpeechComparison c;
    c.lag = BestLag(ref, test, maxLag, &c.correlation);
    const Aligned a = AlignByLag(ref, test, c.lag);
    c.snr = SnrDb(a.ref, a.test);
    c.segSnr = SegmentalSnrDb(a.ref, a.test);
    c.lsd = LogSpectralDistanceDb(a.ref, a.test);
    c.levelDiff = LevelDifferenceDb(a.ref, a.test);
    return c;
}

}  // namespace aurivane::test
