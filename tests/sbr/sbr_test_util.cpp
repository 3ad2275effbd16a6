#include "sbr/sbr_test_util.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "dsp/ps_tables.h"

namespace aurivane::sbrtest {

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if ((bits_ & 7) == 0) bytes_.push_back(0);
        if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bits_ & 7));
        ++bits_;
    }
}

void BitWriter::PutCode(const HuffmanBook& book, int value) {
    const int index = value + book.lav;
    Put(book.codes[index], book.lengths[index]);
}

void WriteHeader(BitWriter& w, const HeaderFields& h) {
    w.Put(1, 1);  // bs_header_flag
    w.Put(static_cast<uint32_t>(h.ampRes), 1);
    w.Put(static_cast<uint32_t>(h.startFreq), 4);
    w.Put(static_cast<uint32_t>(h.stopFreq), 4);
    w.Put(static_cast<uint32_t>(h.xoverBand), 3);
    w.Put(0, 2);  // bs_reserved
    w.Put(0, 2);  // bs_header_extra_1, bs_header_extra_2
}

void WriteMonoFrame(BitWriter& w, int nLow, int nQ, int level, int noise, const std::vector<int>& psBits) {
    w.Put(0, 1);  // bs_data_extra
    w.Put(0, 2);  // FIXFIX
    w.Put(0, 2);  // one envelope
    w.Put(0, 1);  // low frequency resolution
    w.Put(0, 1);  // bs_df_env
    w.Put(0, 1);  // bs_df_noise
    for (int q = 0; q < nQ; ++q) w.Put(0, 2);  // bs_invf_mode
    // One FIXFIX envelope is always coded at 1.5 dB: 7-bit start value.
    w.Put(static_cast<uint32_t>(level), 7);
    for (int k = 1; k < nLow; ++k) w.PutCode(kSbrHuffmanBooks[kSbrBookFEnv15], 0);
    w.Put(static_cast<uint32_t>(noise), 5);
    for (int k = 1; k < nQ; ++k) w.PutCode(kSbrHuffmanBooks[kSbrBookFEnv30], 0);
    w.Put(0, 1);  // bs_add_harmonic_flag
    if (psBits.empty()) {
        w.Put(0, 1);  // bs_extended_data
        return;
    }
    w.Put(1, 1);
    const int bits = 2 + static_cast<int>(psBits.size());
    const int bytes = (bits + 7) / 8;
    if (bytes < 15) {
        w.Put(static_cast<uint32_t>(bytes), 4);
    } else {
        w.Put(15, 4);
        w.Put(static_cast<uint32_t>(bytes - 15), 8);
    }
    w.Put(2, 2);  // EXTENSION_ID_PS
    for (int b : psBits) w.Put(static_cast<uint32_t>(b), 1);
    for (int i = bits; i < 8 * bytes; ++i) w.Put(0, 1);
}

std::vector<int> PsBlock(int mode, int iid, int icc) {
    BitWriter w;
    w.Put(1, 1);  // enable_ps_header
    w.Put(1, 1);  // enable_iid
    w.Put(static_cast<uint32_t>(mode), 3);
    w.Put(1, 1);  // enable_icc
    w.Put(static_cast<uint32_t>(mode), 3);
    w.Put(0, 1);  // enable_ext
    w.Put(0, 1);  // frame_class FIX
    w.Put(1, 2);  // one envelope
    const int bands = mode == 0 ? 10 : 20;
    w.Put(0, 1);  // iid_dt
    w.PutCode(kPsHuffmanBooks[kPsBookIidDf], iid);
    for (int b = 1; b < bands; ++b) w.PutCode(kPsHuffmanBooks[kPsBookIidDf], 0);
    w.Put(0, 1);  // icc_dt
    w.PutCode(kPsHuffmanBooks[kPsBookIccDf], icc);
    for (int b = 1; b < bands; ++b) w.PutCode(kPsHuffmanBooks[kPsBookIccDf], 0);
    std::vector<int> bits;
    const std::vector<uint8_t> bytes = w.Bytes();
    for (int i = 0; i < w.Bits(); ++i) bits.push_back((bytes[i >> 3] >> (7 - (i & 7))) & 1);
    return bits;
}

SbrPayloadEntry MakeEntry(const BitWriter& data, int elementType, int extensionType) {
    BitWriter w;
    w.Put(0, 4);
    const std::vector<uint8_t> bytes = data.Bytes();
    for (int i = 0; i < data.Bits(); ++i) w.Put((bytes[i >> 3] >> (7 - (i & 7))) & 1, 1);
    SbrPayloadEntry e;
    std::memset(&e, 0, sizeof(e));
    e.elementType = elementType;
    e.extensionType = extensionType;
    const std::vector<uint8_t> out = w.Bytes();
    e.byteCount = static_cast<int32_t>(out.size());
    std::memcpy(e.bytes, out.data(), out.size());
    return e;
}

SbrPayloadList OneEntry(const SbrPayloadEntry& e) {
    SbrPayloadList list;
    std::memset(&list, 0, sizeof(list));
    list.count = 1;
    list.entries[0] = e;
    return list;
}

std::string ReadTable(const std::string& name) {
    std::ifstream in(std::string(AURIVANE_SHARED_DIR) + "/tables/" + name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<double> ArrayOf(const std::string& json, const std::string& object, const std::string& key) {
    std::vector<double> out;
    std::size_t at = json.find("\"" + object + "\"");
    if (at == std::string::npos) return out;
    at = json.find("\"" + key + "\"", at);
    if (at == std::string::npos) return out;
    at = json.find('[', at);
    const std::size_t end = json.find(']', at);
    std::stringstream s(json.substr(at + 1, end - at - 1));
    std::string item;
    while (std::getline(s, item, ',')) out.push_back(std::stod(item));
    return out;
}

}  // namespace aurivane::sbrtest
