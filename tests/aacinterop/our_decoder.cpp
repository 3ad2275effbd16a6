#include "our_decoder.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "aac_peers.h"
#include "aacdec/aac_core_decoder.h"
#include "adts_reader.h"
#include "support/reference_fft.h"
#include "support/speech_measures.h"

#include <complex>
#include <cstdio>

#include <gtest/gtest.h>
#include <numbers>

namespace aurivane::aactest {

namespace {

// Lines of the bands that hold noise after the spectral tools: the
// channel's own PNS bands, and for the right channel also the intensity
// bands that copy a PNS band of the left one.
std::bitset<1024> NoiseLines(const ChannelStream& ch, const ChannelStream* left) {
    std::bitset<1024> lines;
    const IcsInfo& ics = ch.ics;
    const bool shortWindows = ics.windowSequence == kEightShort;
    const int groups = shortWindows ? ics.numGroups : 1;
    const int scale = shortWindows ? 8 : 1;
    for (int g = 0; g < groups; ++g) {
        for (int b = 0; b < ics.maxSfb; ++b) {
            const int slot = shortWindows ? g * 16 + b : b;
            const bool intensity = ch.sectionCodebook[slot] == 14 || ch.sectionCodebook[slot] == 15;
            if (ch.pnsFlag[slot] == 0 && !(intensity && left != nullptr && left->pnsFlag[slot] != 0)) continue;
            for (int k = scale * ics.offsets[b]; k < scale * ics.offsets[b + 1]; ++k) lines.set(k);
        }
    }
    return lines;
}

}  // namespace

bool CoreDecodeAdts(const std::vector<uint8_t>& adts, OurPcm* out, std::string* error) {
    AdtsReader reader(adts.data(), adts.size());
    AdtsFrame frame;
    if (!reader.Next(&frame)) {
        *error = "no ADTS frame";
        return false;
    }
    auto decoder = std::make_unique<AacCoreDecoder>();
    auto storage = std::make_unique<uint8_t[]>(8192);  // one ADTS frame at most
    std::vector<float> time(4096, 0.0f);
    BitBuffer bits;
    SbrPayloadList sbr{};
    BitBufferCreate(&bits, storage.get(), 8192);
    AacCoreDecoderOpen(decoder.get(), &bits, &sbr, time.data());
    if (AacCoreDecoderConfigure(decoder.get(), frame.header.sampleRate, 0) != 0) {
        *error = "rate not supported: " + std::to_string(frame.header.sampleRate);
        return false;
    }
    *out = OurPcm{};
    out->channels = frame.header.channelConfig == 1 ? 1 : 2;
    out->sampleRate = frame.header.sampleRate;
    do {
        const int calls = frame.blocksDelimited ? frame.blockCount : frame.header.rawBlocks;
        for (int b = 0; b < calls; ++b) {
            // Each block starts on an empty buffer: bits a failed block left
            // unread do not leak into the next one.
            if (frame.blocksDelimited || b == 0) {
                const AdtsBlock& blk = frame.blocks[frame.blocksDelimited ? b : 0];
                BitBufferCreate(&bits, storage.get(), 8192);
                for (std::size_t i = 0; i < blk.size; ++i) BitBufferWrite(&bits, blk.data[i], 8);
            }
            sbr.count = 0;
            int size = 0, rate = 0, channels = 0, mode = 0;
            const int status = AacCoreDecodeFrame(decoder.get(), &size, &rate, &channels, &mode, 1);
            out->statuses.push_back(status);
            out->noise.push_back(decoder->channel[0].usesNoise != 0 ||
                                 (channels == 2 && decoder->channel[1].usesNoise != 0));
            std::array<std::bitset<1024>, 2> lines;
            if (status == 0) {
                lines[0] = NoiseLines(decoder->channel[0], nullptr);
                if (channels == 2) lines[1] = NoiseLines(decoder->channel[1], &decoder->channel[0]);
            }
            if (channels == 1) lines[1] = lines[0];
            out->noiseLines.push_back(lines);
            uint32_t tools = 0;
            for (int c = 0; c < channels && c < 2; ++c) {
                const ChannelStream& ch = decoder->channel[c];
                if (ch.ics.windowSequence == 2) tools |= kToolShortWindows;
                if (ch.tns.present) tools |= kToolTns;
                if (ch.usesNoise) tools |= kToolNoise;
                if (ch.pulse.present) tools |= kToolPulses;
                for (int b = 0; b < kBandSlots; ++b) {
                    if (c == 1 && (ch.sectionCodebook[b] == 14 || ch.sectionCodebook[b] == 15)) tools |= kToolIntensity;
                }
            }
            if (channels == 2 && decoder->channel[0].msMaskPresent != 0) {
                for (uint8_t m : decoder->channel[0].msMask) {
                    if (m != 0) tools |= kToolMidSide;
                }
            }
            out->tools.push_back(status == 0 ? tools : 0);
            ++out->frames;
            for (int n = 0; n < 1024; ++n) {
                for (int c = 0; c < out->channels; ++c) {
                    // A mono frame in a stereo stream repeats channel 0.
                    const int src = (channels == 2) ? c : 0;
                    out->samples.push_back(time[static_cast<std::size_t>(1024 * src + n)]);
                }
            }
        }
    } while (reader.Next(&frame));
    return true;
}

Comparison CompareDelayed(const PeerPcm& peer, const OurPcm& ours, std::size_t frames) {
    const std::size_t frameSamples = 1024 * static_cast<std::size_t>(ours.channels);
    const std::size_t lead = 1 + static_cast<std::size_t>(peer.skippedFrames);
    const std::size_t ourFrames = ours.samples.size() / frameSamples;
    const std::size_t available = std::min(peer.samples.size() / frameSamples, ourFrames > lead ? ourFrames - lead : 0);
    Comparison c;
    c.frames = frames == 0 ? available : std::min(frames, available);
    const float* p = peer.samples.data();
    const float* o = ours.samples.data() + lead * frameSamples;
    const std::size_t n = c.frames * frameSamples;
    c.snrDb = test::SnrDb({p, n}, {o, n});
    c.maxDiff = MaxAbsDiff(p, o, n);
    double signal = 0, error = 0, noisePeer = 0, noiseOurs = 0;
    for (std::size_t f = 0; f < c.frames; ++f) {
        const float* pf = p + f * frameSamples;
        const float* of = o + f * frameSamples;
        c.frameSnrDb.push_back(test::SnrDb({pf, frameSamples}, {of, frameSamples}));
        // Output frame f of the peer overlaps blocks f + skipped - 1 and f + skipped.
        const std::size_t block = f + static_cast<std::size_t>(peer.skippedFrames);
        const bool noise = (block < ours.noise.size() && ours.noise[block]) ||
                           (block >= 1 && block - 1 < ours.noise.size() && ours.noise[block - 1]);
        if (noise) {
            ++c.noiseFrames;
            noisePeer += Energy(pf, frameSamples);
            noiseOurs += Energy(of, frameSamples);
        } else {
            for (std::size_t i = 0; i < frameSamples; ++i) {
                signal += double(pf[i]) * pf[i];
                error += (double(pf[i]) - of[i]) * (double(pf[i]) - of[i]);
            }
        }
    }
    c.snrDbWithoutNoise = error == 0 ? 200.0 : (signal == 0 ? -200.0 : 10.0 * std::log10(signal / error));
    if (noisePeer > 0 && noiseOurs > 0) c.noiseEnergyRatioDb = 10.0 * std::log10(noiseOurs / noisePeer);
    return c;
}

std::vector<BandComparison> CompareBands(const PeerPcm& peer, const OurPcm& ours) {
    // Hann sidelobes of a noise band 4 bins (8 lines) away are 60 dB down.
    constexpr int kGuardLines = 8;
    const int rateIndex = [&] {
        for (int r = 0; r < kNumRates; ++r) {
            if (kBandTables[r].rate == ours.sampleRate) return r;
        }
        return 0;
    }();
    const BandTable& table = kBandTables[rateIndex];
    std::vector<BandComparison> bands(static_cast<std::size_t>(table.numLong));
    // Clean bands: error energy; noise bands: both energies.
    std::vector<double> cleanError(bands.size());
    double total = 0;
    std::vector<double> noisePeer(bands.size()), noiseOurs(bands.size());
    for (std::size_t b = 0; b < bands.size(); ++b) {
        bands[b].firstLine = table.longOffsets[b];
        bands[b].endLine = table.longOffsets[b + 1];
    }
    const std::size_t channels = static_cast<std::size_t>(ours.channels);
    const std::size_t frameSamples = 1024 * channels;
    const std::size_t lead = 1 + static_cast<std::size_t>(peer.skippedFrames);
    const std::size_t ourFrames = ours.samples.size() / frameSamples;
    const std::size_t frames = std::min(peer.samples.size() / frameSamples, ourFrames > lead ? ourFrames - lead : 0);
    std::vector<double> window(1024);
    for (std::size_t i = 0; i < 1024; ++i) window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (i + 0.5) / 1024);
    std::vector<std::complex<double>> p(1024), o(1024);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t block = f + static_cast<std::size_t>(peer.skippedFrames);
        for (std::size_t c = 0; c < channels; ++c) {
            std::bitset<1024> noise;
            for (std::size_t k = block == 0 ? 0 : block - 1; k <= block && k < ours.noiseLines.size(); ++k) {
                noise |= ours.noiseLines[k][c];
            }
            const float* pf = peer.samples.data() + f * frameSamples + c;
            const float* of = ours.samples.data() + (f + lead) * frameSamples + c;
            for (std::size_t i = 0; i < 1024; ++i) {
                p[i] = window[i] * pf[i * channels];
                o[i] = window[i] * of[i * channels];
            }
            test::ReferenceFft(p);
            test::ReferenceFft(o);
            for (std::size_t b = 0; b < bands.size(); ++b) {
                BandComparison& band = bands[b];
                bool inBand = false, nearBand = false;
                for (int k = std::max(0, band.firstLine - kGuardLines); k < std::min(1024, band.endLine + kGuardLines);
                     ++k) {
                    if (!noise.test(static_cast<std::size_t>(k))) continue;
                    nearBand = true;
                    inBand |= k >= band.firstLine && k < band.endLine;
                }
                // Bin j of the 1024-point spectrum sits on line 2j of the 2048-point MDCT.
                double ep = 0, eo = 0, ed = 0;
                for (int j = band.firstLine / 2; j < (band.endLine + 1) / 2; ++j) {
                    ep += std::norm(p[static_cast<std::size_t>(j)]);
                    eo += std::norm(o[static_cast<std::size_t>(j)]);
                    ed += std::norm(p[static_cast<std::size_t>(j)] - o[static_cast<std::size_t>(j)]);
                }
                total += ep;
                if (inBand) {
                    ++band.noiseCount;
                    noisePeer[b] += ep;
                    noiseOurs[b] += eo;
                } else if (!nearBand) {
                    ++band.cleanCount;
                    cleanError[b] += ed;
                }
            }
        }
    }
    for (std::size_t b = 0; b < bands.size(); ++b) {
        BandComparison& band = bands[b];
        band.errorDb = cleanError[b] == 0 ? -200.0 : 10.0 * std::log10(cleanError[b] / std::max(total, 1e-30));
        if (band.noiseCount > 0) band.energyRatioDb = 10.0 * std::log10((noiseOurs[b] + 1e-9) / (noisePeer[b] + 1e-9));
    }
    return bands;
}

void ExpectBandsAgree(const std::vector<BandComparison>& bands, const std::string& what, double maxErrorDb,
                      double minNoiseDb, double maxNoiseDb) {
    std::printf("%s, per band: lines, frames clean / error dB, frames with noise / energy ours over peer dB\n",
                what.c_str());
    for (const BandComparison& b : bands) {
        std::printf("  %4d-%4d  %4d %7.1f  %4d %+6.2f\n", b.firstLine, b.endLine, b.cleanCount, b.errorDb,
                    b.noiseCount, b.energyRatioDb);
        if (b.cleanCount > 0) {
            EXPECT_LE(b.errorDb, maxErrorDb) << what << ", lines " << b.firstLine;
        }
        if (b.noiseCount >= 8) {
            EXPECT_GE(b.energyRatioDb, minNoiseDb) << what << ", noise in lines " << b.firstLine;
            EXPECT_LE(b.energyRatioDb, maxNoiseDb) << what << ", noise in lines " << b.firstLine;
        }
    }
}

}  // namespace aurivane::aactest
