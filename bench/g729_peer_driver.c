/* The independent G.729 Annex A peer as a whole process, shaped like the
 * program's own commands: "encode IN.raw OUT.g729" codes raw 16-bit mono
 * 8000 Hz PCM (a trailing partial frame padded with silence, as the program
 * does) into 10-byte frames; "decode IN.g729 OUT.raw" turns frames back into
 * raw PCM. Only the library's public API is used. */
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>

#include <stdio.h>
#include <string.h>

enum { kFrameSamples = 80, kFrameBytes = 10, kFramesPerBlock = 100 };

static int Encode(FILE* in, FILE* out) {
    bcg729EncoderChannelContextStruct* enc = initBcg729EncoderChannel(0);
    static int16_t pcm[kFrameSamples * kFramesPerBlock];
    static uint8_t bits[kFrameBytes * kFramesPerBlock];
    size_t got;
    if (enc == NULL) return 1;
    while ((got = fread(pcm, sizeof pcm[0], kFrameSamples * kFramesPerBlock, in)) > 0) {
        const size_t frames = (got + kFrameSamples - 1) / kFrameSamples;
        size_t k;
        memset(pcm + got, 0, (frames * kFrameSamples - got) * sizeof pcm[0]);
        for (k = 0; k < frames; ++k) {
            uint8_t length = 0;
            bcg729Encoder(enc, pcm + k * kFrameSamples, bits + k * kFrameBytes, &length);
        }
        fwrite(bits, kFrameBytes, frames, out);
    }
    closeBcg729EncoderChannel(enc);
    return 0;
}

static int Decode(FILE* in, FILE* out) {
    bcg729DecoderChannelContextStruct* dec = initBcg729DecoderChannel();
    static uint8_t bits[kFrameBytes * kFramesPerBlock];
    static int16_t pcm[kFrameSamples * kFramesPerBlock];
    size_t frames;
    if (dec == NULL) return 1;
    while ((frames = fread(bits, kFrameBytes, kFramesPerBlock, in)) > 0) {
        size_t k;
        for (k = 0; k < frames; ++k)
            bcg729Decoder(dec, bits + k * kFrameBytes, kFrameBytes, 0, 0, 0, pcm + k * kFrameSamples);
        fwrite(pcm, sizeof pcm[0] * kFrameSamples, frames, out);
    }
    closeBcg729DecoderChannel(dec);
    return 0;
}

int main(int argc, char** argv) {
    FILE *in, *out;
    int rc;
    if (argc != 4 || (strcmp(argv[1], "encode") != 0 && strcmp(argv[1], "decode") != 0)) {
        fprintf(stderr, "usage: g729_peer_driver encode IN.raw OUT.g729 | decode IN.g729 OUT.raw\n");
        return 2;
    }
    in = fopen(argv[2], "rb");
    out = fopen(argv[3], "wb");
    if (in == NULL || out == NULL) {
        fprintf(stderr, "g729_peer_driver: cannot open %s\n", in == NULL ? argv[2] : argv[3]);
        return 1;
    }
    rc = strcmp(argv[1], "encode") == 0 ? Encode(in, out) : Decode(in, out);
    fclose(in);
    if (fclose(out) != 0) rc = 1;
    return rc;
}
