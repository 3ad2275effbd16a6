#include "our_decoder.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "aac_peers.h"
#include "aacdec/aac_core_decoder.h"
#include "adts_reader.h"

namespace aurivane::aactest {

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
    c.snrDb = SnrDb(p, o, n);
    c.maxDiff = MaxAbsDiff(p, o, n);
    double signal = 0, error = 0, noisePeer = 0, noiseOurs = 0;
    for (std::size_t f = 0; f < c.frames; ++f) {
        const float* pf = p + f * frameSamples;
        const float* of = o + f * frameSamples;
        c.frameSnrDb.push_back(SnrDb(pf, of, frameSamples));
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

int DetectSkippedFrames(const PeerPcm& peer, const OurPcm& ours) {
    int best = 0;
    double bestSnr = -1e9;
    for (int s = 0; s <= 2; ++s) {
        PeerPcm shifted;
        shifted.channels = peer.channels;
        shifted.skippedFrames = s;
        shifted.samples.assign(peer.samples.begin(),
                               peer.samples.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                                          peer.samples.size(), 40 * 1024 * peer.channels)));
        const double snr = CompareDelayed(shifted, ours).snrDb;
        if (snr > bestSnr) {
            bestSnr = snr;
            best = s;
        }
    }
    return best;
}

}  // namespace aurivane::aactest
