// Helpers of the SBR decoder tests: a bit writer and builders of SBR
// extension payloads as the core decoder stores them.
#ifndef AURIVANE_TESTS_SBR_SBR_TEST_UTIL_H
#define AURIVANE_TESTS_SBR_SBR_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "aacdec/sbr_payload.h"
#include "dsp/sbr_tables.h"

namespace aurivane::sbrtest {

class BitWriter {
public:
    void Put(uint32_t value, int bits);
    // The codeword of `value` in `book`.
    void PutCode(const HuffmanBook& book, int value);
    int Bits() const { return bits_; }
    std::vector<uint8_t> Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int bits_ = 0;
};

struct HeaderFields {
    int ampRes = 1, startFreq = 5, stopFreq = 0, xoverBand = 0;
};

// sbr_header with both extra flags clear (the default values for the rest).
void WriteHeader(BitWriter& w, const HeaderFields& h);

// A FIXFIX single-channel frame with one envelope for a header whose tables
// have nLow low-resolution bands (high resolution off) and nQ noise bands:
// all envelope values `level`, all noise values `noise`. psBits, when not
// empty, go into the extended data as one extension of id 2.
void WriteMonoFrame(BitWriter& w, int nLow, int nQ, int level, int noise, const std::vector<int>& psBits = {});

// The bits of a minimal ps_data block: header with IID/ICC in mode `mode`
// (0 = 10 bands, 1 = 20), one fixed envelope, every IID index `iid` and
// every ICC index `icc`, coded in frequency direction.
std::vector<int> PsBlock(int mode, int iid, int icc);

// Stores the writer's bits as a payload entry: four zero bits, the data,
// zero padding to whole bytes; byteCount counts the stored bytes.
SbrPayloadEntry MakeEntry(const BitWriter& data, int elementType, int extensionType);

SbrPayloadList OneEntry(const SbrPayloadEntry& e);

// A file of the shared normative tables as text ("" when missing).
std::string ReadTable(const std::string& name);
// The numeric array `key` of the first JSON object named `object` in `json`
// (empty when absent).
std::vector<double> ArrayOf(const std::string& json, const std::string& object, const std::string& key);

}  // namespace aurivane::sbrtest

#endif
