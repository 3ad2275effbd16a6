#include "support/sbr_payload_gen.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace aurivane::test {

namespace {

// ---- Huffman codebooks: the SBR envelope/noise books (ISO/IEC 14496-3
// Tables 4.A.68 to 4.A.77) and the PS books (Tables 8.B.17 to 8.B.21),
// transcribed from the shared table data, in index order (index = value +
// lav; value for IPD/OPD).
struct Code {
    uint32_t bits;
    uint8_t length;
};

// EnvT15: 121 codewords, index order
const Code kEnvT15[] = {
    {0x3ffd6,18}, {0x3ffd7,18}, {0x3ffd8,18}, {0x3ffd9,18}, {0x3ffda,18}, {0x3ffdb,18}, {0x7ffb8,19}, {0x7ffb9,19},
    {0x7ffba,19}, {0x7ffbb,19}, {0x7ffbc,19}, {0x7ffbd,19}, {0x7ffbe,19}, {0x7ffbf,19}, {0x7ffc0,19}, {0x7ffc1,19},
    {0x7ffc2,19}, {0x7ffc3,19}, {0x7ffc4,19}, {0x7ffc5,19}, {0x7ffc6,19}, {0x7ffc7,19}, {0x7ffc8,19}, {0x7ffc9,19},
    {0x7ffca,19}, {0x7ffcb,19}, {0x7ffcc,19}, {0x7ffcd,19}, {0x7ffce,19}, {0x7ffcf,19}, {0x7ffd0,19}, {0x7ffd1,19},
    {0x7ffd2,19}, {0x7ffd3,19}, {0x1ffe6,17}, {0x3ffd4,18}, {0xfff0,16}, {0x1ffe9,17}, {0x3ffd5,18}, {0x1ffe7,17},
    {0xfff1,16}, {0xffec,16}, {0xffed,16}, {0xffee,16}, {0x7ff4,15}, {0x3ff9,14}, {0x3ff7,14}, {0x1ffa,13},
    {0x1ff9,13}, {0xffb,12}, {0x7fc,11}, {0x3fc,10}, {0x1fd,9}, {0xfd,8}, {0x7d,7}, {0x3d,6},
    {0x1d,5}, {0xd,4}, {0x5,3}, {0x1,2}, {0x0,2}, {0x4,3}, {0xc,4}, {0x1c,5},
    {0x3c,6}, {0x7c,7}, {0xfc,8}, {0x1fc,9}, {0x3fd,10}, {0xffa,12}, {0x1ff8,13}, {0x3ff6,14},
    {0x3ff8,14}, {0x7ff5,15}, {0xffef,16}, {0x1ffe8,17}, {0xfff2,16}, {0x7ffd4,19}, {0x7ffd5,19}, {0x7ffd6,19},
    {0x7ffd7,19}, {0x7ffd8,19}, {0x7ffd9,19}, {0x7ffda,19}, {0x7ffdb,19}, {0x7ffdc,19}, {0x7ffdd,19}, {0x7ffde,19},
    {0x7ffdf,19}, {0x7ffe0,19}, {0x7ffe1,19}, {0x7ffe2,19}, {0x7ffe3,19}, {0x7ffe4,19}, {0x7ffe5,19}, {0x7ffe6,19},
    {0x7ffe7,19}, {0x7ffe8,19}, {0x7ffe9,19}, {0x7ffea,19}, {0x7ffeb,19}, {0x7ffec,19}, {0x7ffed,19}, {0x7ffee,19},
    {0x7ffef,19}, {0x7fff0,19}, {0x7fff1,19}, {0x7fff2,19}, {0x7fff3,19}, {0x7fff4,19}, {0x7fff5,19}, {0x7fff6,19},
    {0x7fff7,19}, {0x7fff8,19}, {0x7fff9,19}, {0x7fffa,19}, {0x7fffb,19}, {0x7fffc,19}, {0x7fffd,19}, {0x7fffe,19},
    {0x7ffff,19},
};
// EnvF15: 121 codewords, index order
const Code kEnvF15[] = {
    {0x7ffe7,19}, {0x7ffe8,19}, {0xfffd2,20}, {0xfffd3,20}, {0xfffd4,20}, {0xfffd5,20}, {0xfffd6,20}, {0xfffd7,20},
    {0xfffd8,20}, {0x7ffda,19}, {0xfffd9,20}, {0xfffda,20}, {0xfffdb,20}, {0xfffdc,20}, {0x7ffdb,19}, {0xfffdd,20},
    {0x7ffdc,19}, {0x7ffdd,19}, {0xfffde,20}, {0x3ffe4,18}, {0xfffdf,20}, {0xfffe0,20}, {0xfffe1,20}, {0x7ffde,19},
    {0xfffe2,20}, {0xfffe3,20}, {0xfffe4,20}, {0x7ffdf,19}, {0xfffe5,20}, {0x7ffe0,19}, {0x3ffe8,18}, {0x7ffe1,19},
    {0x3ffe0,18}, {0x3ffe9,18}, {0x1ffef,17}, {0x3ffe5,18}, {0x1ffec,17}, {0x1ffed,17}, {0x1ffee,17}, {0xfff4,16},
    {0xfff3,16}, {0xfff0,16}, {0x7ff7,15}, {0x7ff6,15}, {0x3ffa,14}, {0x1ffa,13}, {0x1ff9,13}, {0xffa,12},
    {0xff8,12}, {0x7f9,11}, {0x3fb,10}, {0x1fc,9}, {0x1fa,9}, {0xfb,8}, {0x7c,7}, {0x3c,6},
    {0x1c,5}, {0xc,4}, {0x5,3}, {0x1,2}, {0x0,2}, {0x4,3}, {0xd,4}, {0x1d,5},
    {0x3d,6}, {0xfa,8}, {0xfc,8}, {0x1fb,9}, {0x3fa,10}, {0x7f8,11}, {0x7fa,11}, {0x7fb,11},
    {0xff9,12}, {0xffb,12}, {0x1ff8,13}, {0x1ffb,13}, {0x3ff8,14}, {0x3ff9,14}, {0xfff1,16}, {0xfff2,16},
    {0x1ffea,17}, {0x1ffeb,17}, {0x3ffe1,18}, {0x3ffe2,18}, {0x3ffea,18}, {0x3ffe3,18}, {0x3ffe6,18}, {0x3ffe7,18},
    {0x3ffeb,18}, {0xfffe6,20}, {0x7ffe2,19}, {0xfffe7,20}, {0xfffe8,20}, {0xfffe9,20}, {0xfffea,20}, {0xfffeb,20},
    {0xfffec,20}, {0x7ffe3,19}, {0xfffed,20}, {0xfffee,20}, {0xfffef,20}, {0xffff0,20}, {0x7ffe4,19}, {0xffff1,20},
    {0x3ffec,18}, {0xffff2,20}, {0xffff3,20}, {0x7ffe5,19}, {0x7ffe6,19}, {0xffff4,20}, {0xffff5,20}, {0xffff6,20},
    {0xffff7,20}, {0xffff8,20}, {0xffff9,20}, {0xffffa,20}, {0xffffb,20}, {0xffffc,20}, {0xffffd,20}, {0xffffe,20},
    {0xfffff,20},
};
// BalT15: 49 codewords, index order
const Code kBalT15[] = {
    {0xffe4,16}, {0xffe5,16}, {0xffe6,16}, {0xffe7,16}, {0xffe8,16}, {0xffe9,16}, {0xffea,16}, {0xffeb,16},
    {0xffec,16}, {0xffed,16}, {0xffee,16}, {0xffef,16}, {0xfff0,16}, {0xfff1,16}, {0xfff2,16}, {0xfff3,16},
    {0xfff4,16}, {0xffe2,16}, {0xffc,12}, {0x7fc,11}, {0x1fe,9}, {0x7e,7}, {0x1e,5}, {0x6,3},
    {0x0,1}, {0x2,2}, {0xe,4}, {0x3e,6}, {0xfe,8}, {0x7fd,11}, {0xffd,12}, {0x7ff0,15},
    {0xffe3,16}, {0xfff5,16}, {0xfff6,16}, {0xfff7,16}, {0xfff8,16}, {0xfff9,16}, {0xfffa,16}, {0x1fff6,17},
    {0x1fff7,17}, {0x1fff8,17}, {0x1fff9,17}, {0x1fffa,17}, {0x1fffb,17}, {0x1fffc,17}, {0x1fffd,17}, {0x1fffe,17},
    {0x1ffff,17},
};
// BalF15: 49 codewords, index order
const Code kBalF15[] = {
    {0x3ffe2,18}, {0x3ffe3,18}, {0x3ffe4,18}, {0x3ffe5,18}, {0x3ffe6,18}, {0x3ffe7,18}, {0x3ffe8,18}, {0x3ffe9,18},
    {0x3ffea,18}, {0x3ffeb,18}, {0x3ffec,18}, {0x3ffed,18}, {0x3ffee,18}, {0x3ffef,18}, {0x3fff0,18}, {0xfff7,16},
    {0x1fff0,17}, {0x3ffc,14}, {0x7fe,11}, {0x7fc,11}, {0xfe,8}, {0x7e,7}, {0xe,4}, {0x2,2},
    {0x0,1}, {0x6,3}, {0x1e,5}, {0x3e,6}, {0x1fe,9}, {0x7fd,11}, {0xffe,12}, {0x7ffa,15},
    {0xfff6,16}, {0x3fff1,18}, {0x3fff2,18}, {0x3fff3,18}, {0x3fff4,18}, {0x3fff5,18}, {0x3fff6,18}, {0x3fff7,18},
    {0x3fff8,18}, {0x3fff9,18}, {0x3fffa,18}, {0x3fffb,18}, {0x3fffc,18}, {0x3fffd,18}, {0x3fffe,18}, {0x7fffe,19},
    {0x7ffff,19},
};
// EnvT30: 63 codewords, index order
const Code kEnvT30[] = {
    {0x3ffed,18}, {0x3ffee,18}, {0x7ffde,19}, {0x7ffdf,19}, {0x7ffe0,19}, {0x7ffe1,19}, {0x7ffe2,19}, {0x7ffe3,19},
    {0x7ffe4,19}, {0x7ffe5,19}, {0x7ffe6,19}, {0x7ffe7,19}, {0x7ffe8,19}, {0x7ffe9,19}, {0x7ffea,19}, {0x7ffeb,19},
    {0x7ffec,19}, {0x1fff4,17}, {0xfff7,16}, {0xfff9,16}, {0xfff8,16}, {0x3ffb,14}, {0x3ffa,14}, {0x3ff8,14},
    {0x1ffa,13}, {0xffc,12}, {0x7fc,11}, {0xfe,8}, {0x3e,6}, {0xe,4}, {0x2,2}, {0x0,1},
    {0x6,3}, {0x1e,5}, {0x7e,7}, {0x1fe,9}, {0x7fd,11}, {0x1ffb,13}, {0x3ff9,14}, {0x3ffc,14},
    {0x7ffa,15}, {0xfff6,16}, {0x1fff5,17}, {0x3ffec,18}, {0x7ffed,19}, {0x7ffee,19}, {0x7ffef,19}, {0x7fff0,19},
    {0x7fff1,19}, {0x7fff2,19}, {0x7fff3,19}, {0x7fff4,19}, {0x7fff5,19}, {0x7fff6,19}, {0x7fff7,19}, {0x7fff8,19},
    {0x7fff9,19}, {0x7fffa,19}, {0x7fffb,19}, {0x7fffc,19}, {0x7fffd,19}, {0x7fffe,19}, {0x7ffff,19},
};
// EnvF30: 63 codewords, index order
const Code kEnvF30[] = {
    {0xffff0,20}, {0xffff1,20}, {0xffff2,20}, {0xffff3,20}, {0xffff4,20}, {0xffff5,20}, {0xffff6,20}, {0x3fff3,18},
    {0x7fff5,19}, {0x7ffee,19}, {0x7ffef,19}, {0x7fff6,19}, {0x3fff4,18}, {0x3fff2,18}, {0xffff7,20}, {0x7fff0,19},
    {0x1fff5,17}, {0x3fff0,18}, {0x1fff4,17}, {0xfff7,16}, {0xfff6,16}, {0x7ff8,15}, {0x3ffb,14}, {0xffd,12},
    {0x7fd,11}, {0x3fd,10}, {0x1fd,9}, {0xfd,8}, {0x3e,6}, {0xe,4}, {0x2,2}, {0x0,1},
    {0x6,3}, {0x1e,5}, {0xfc,8}, {0x1fc,9}, {0x3fc,10}, {0x7fc,11}, {0xffc,12}, {0x1ffc,13},
    {0x3ffa,14}, {0x7ff9,15}, {0x7ffa,15}, {0xfff8,16}, {0xfff9,16}, {0x1fff6,17}, {0x1fff7,17}, {0x3fff5,18},
    {0x3fff6,18}, {0x3fff1,18}, {0xffff8,20}, {0x7fff1,19}, {0x7fff2,19}, {0x7fff3,19}, {0xffff9,20}, {0x7fff7,19},
    {0x7fff4,19}, {0xffffa,20}, {0xffffb,20}, {0xffffc,20}, {0xffffd,20}, {0xffffe,20}, {0xfffff,20},
};
// BalT30: 25 codewords, index order
const Code kBalT30[] = {
    {0x1ff2,13}, {0x1ff3,13}, {0x1ff4,13}, {0x1ff5,13}, {0x1ff6,13}, {0x1ff7,13}, {0x1ff8,13}, {0xff8,12},
    {0xfe,8}, {0x7e,7}, {0xe,4}, {0x6,3}, {0x0,1}, {0x2,2}, {0x1e,5}, {0x3e,6},
    {0x1fe,9}, {0x1ff9,13}, {0x1ffa,13}, {0x1ffb,13}, {0x1ffc,13}, {0x1ffd,13}, {0x1ffe,13}, {0x3ffe,14},
    {0x3fff,14},
};
// BalF30: 25 codewords, index order
const Code kBalF30[] = {
    {0x1ff7,13}, {0x1ff8,13}, {0x1ff9,13}, {0x1ffa,13}, {0x1ffb,13}, {0x3ff8,14}, {0x3ff9,14}, {0x7fc,11},
    {0xfe,8}, {0x7e,7}, {0xe,4}, {0x2,2}, {0x0,1}, {0x6,3}, {0x1e,5}, {0x3e,6},
    {0x1fe,9}, {0xffa,12}, {0x1ff6,13}, {0x3ffa,14}, {0x3ffb,14}, {0x3ffc,14}, {0x3ffd,14}, {0x3ffe,14},
    {0x3fff,14},
};
// NoiseT30: 63 codewords, index order
const Code kNoiseT30[] = {
    {0x1fce,13}, {0x1fcf,13}, {0x1fd0,13}, {0x1fd1,13}, {0x1fd2,13}, {0x1fd3,13}, {0x1fd4,13}, {0x1fd5,13},
    {0x1fd6,13}, {0x1fd7,13}, {0x1fd8,13}, {0x1fd9,13}, {0x1fda,13}, {0x1fdb,13}, {0x1fdc,13}, {0x1fdd,13},
    {0x1fde,13}, {0x1fdf,13}, {0x1fe0,13}, {0x1fe1,13}, {0x1fe2,13}, {0x1fe3,13}, {0x1fe4,13}, {0x1fe5,13},
    {0x1fe6,13}, {0x1fe7,13}, {0x7f2,11}, {0xfd,8}, {0x3e,6}, {0xe,4}, {0x6,3}, {0x0,1},
    {0x2,2}, {0x1e,5}, {0xfc,8}, {0x3f8,10}, {0x1fcc,13}, {0x1fe8,13}, {0x1fe9,13}, {0x1fea,13},
    {0x1feb,13}, {0x1fec,13}, {0x1fcd,13}, {0x1fed,13}, {0x1fee,13}, {0x1fef,13}, {0x1ff0,13}, {0x1ff1,13},
    {0x1ff2,13}, {0x1ff3,13}, {0x1ff4,13}, {0x1ff5,13}, {0x1ff6,13}, {0x1ff7,13}, {0x1ff8,13}, {0x1ff9,13},
    {0x1ffa,13}, {0x1ffb,13}, {0x1ffc,13}, {0x1ffd,13}, {0x1ffe,13}, {0x3ffe,14}, {0x3fff,14},
};
// NoiseBalT30: 25 codewords, index order
const Code kNoiseBalT30[] = {
    {0xec,8}, {0xed,8}, {0xee,8}, {0xef,8}, {0xf0,8}, {0xf1,8}, {0xf2,8}, {0xf3,8},
    {0xf4,8}, {0xf5,8}, {0x1c,5}, {0x2,2}, {0x0,1}, {0x6,3}, {0x3a,6}, {0xf6,8},
    {0xf7,8}, {0xf8,8}, {0xf9,8}, {0xfa,8}, {0xfb,8}, {0xfc,8}, {0xfd,8}, {0xfe,8},
    {0xff,8},
};
// IidDf: 29 codewords, index order
const Code kIidDf[] = {
    {0x1fffb,17}, {0x1fffc,17}, {0x1fffd,17}, {0x1fffa,17}, {0xfffc,16}, {0x7ffc,15}, {0x1ffd,13}, {0x3fe,10},
    {0x1fe,9}, {0x7e,7}, {0x3c,6}, {0x1d,5}, {0xd,4}, {0x5,3}, {0x0,1}, {0x4,3},
    {0xc,4}, {0x1c,5}, {0x3d,6}, {0x3e,6}, {0xfe,8}, {0x7fe,11}, {0x1ffc,13}, {0x3ffc,14},
    {0x3ffd,14}, {0x7ffd,15}, {0x1fffe,17}, {0x3fffe,18}, {0x3ffff,18},
};
// IidDt: 29 codewords, index order
const Code kIidDt[] = {
    {0x7fff9,19}, {0x7fffa,19}, {0x7fffb,19}, {0xffff8,20}, {0xffff9,20}, {0xffffa,20}, {0x1fffd,17}, {0x7ffe,15},
    {0xffe,12}, {0x3fe,10}, {0xfe,8}, {0x3e,6}, {0xe,4}, {0x2,2}, {0x0,1}, {0x6,3},
    {0x1e,5}, {0x7e,7}, {0x1fe,9}, {0x7fe,11}, {0x1ffe,13}, {0x3ffe,14}, {0x1fffc,17}, {0x7fff8,19},
    {0xffffb,20}, {0xffffc,20}, {0xffffd,20}, {0xffffe,20}, {0xfffff,20},
};
// IidFineDf: 61 codewords, index order
const Code kIidFineDf[] = {
    {0x1feb4,18}, {0x1feb5,18}, {0x1fd76,18}, {0x1fd77,18}, {0x1fd74,18}, {0x1fd75,18}, {0x1fe8a,18}, {0x1fe8b,18},
    {0x1fe88,18}, {0xfe80,17}, {0x1feb6,18}, {0xfe82,17}, {0xfeb8,17}, {0x7f42,16}, {0x7fae,16}, {0x3faf,15},
    {0x1fd1,14}, {0x1fe9,14}, {0xfe9,13}, {0x7ea,12}, {0x7fb,12}, {0x3fb,11}, {0x1fb,10}, {0x1ff,10},
    {0x7c,8}, {0x3c,7}, {0x1c,6}, {0xc,5}, {0x0,4}, {0x1,3}, {0x1,1}, {0x2,3},
    {0x1,4}, {0xd,5}, {0x1d,6}, {0x3d,7}, {0x7d,8}, {0xfc,9}, {0x1fc,10}, {0x3fc,11},
    {0x3f4,11}, {0x7eb,12}, {0xfea,13}, {0x1fea,14}, {0x1fd6,14}, {0x3fd0,15}, {0x7faf,16}, {0x7f43,16},
    {0xfeb9,17}, {0xfe83,17}, {0x1feb7,18}, {0xfe81,17}, {0x1fe89,18}, {0x1fe8e,18}, {0x1fe8f,18}, {0x1fe8c,18},
    {0x1fe8d,18}, {0x1feb2,18}, {0x1feb3,18}, {0x1feb0,18}, {0x1feb1,18},
};
// IidFineDt: 61 codewords, index order
const Code kIidFineDt[] = {
    {0x4ed4,16}, {0x4ed5,16}, {0x4ece,16}, {0x4ecf,16}, {0x4ecc,16}, {0x4ed6,16}, {0x4ed8,16}, {0x4f46,16},
    {0x4f60,16}, {0x2718,15}, {0x2719,15}, {0x2764,15}, {0x2765,15}, {0x276d,15}, {0x27b1,15}, {0x13b7,14},
    {0x13d6,14}, {0x9c7,13}, {0x9e9,13}, {0x9ed,13}, {0x4ee,12}, {0x4f7,12}, {0x278,11}, {0x139,10},
    {0x9a,9}, {0x9f,9}, {0x20,7}, {0x11,6}, {0xa,5}, {0x3,3}, {0x1,1}, {0x0,2},
    {0xb,5}, {0x12,6}, {0x21,7}, {0x4c,8}, {0x9b,9}, {0x13a,10}, {0x279,11}, {0x270,11},
    {0x4ef,12}, {0x4e2,12}, {0x9ea,13}, {0x9d8,13}, {0x13d7,14}, {0x13d0,14}, {0x27b2,15}, {0x27a2,15},
    {0x271a,15}, {0x271b,15}, {0x4f66,16}, {0x4f67,16}, {0x4f61,16}, {0x4f47,16}, {0x4ed9,16}, {0x4ed7,16},
    {0x4ecd,16}, {0x4ed2,16}, {0x4ed3,16}, {0x4ed0,16}, {0x4ed1,16},
};
// IccDf: 15 codewords, index order
const Code kIccDf[] = {
    {0x3fff,14}, {0x3ffe,14}, {0xffe,12}, {0x3fe,10}, {0x7e,7}, {0x1e,5}, {0x6,3}, {0x0,1},
    {0x2,2}, {0xe,4}, {0x3e,6}, {0xfe,8}, {0x1fe,9}, {0x7fe,11}, {0x1ffe,13},
};
// IccDt: 15 codewords, index order
const Code kIccDt[] = {
    {0x3ffe,14}, {0x1ffe,13}, {0x7fe,11}, {0x1fe,9}, {0x7e,7}, {0x1e,5}, {0x6,3}, {0x0,1},
    {0x2,2}, {0xe,4}, {0x3e,6}, {0xfe,8}, {0x3fe,10}, {0xffe,12}, {0x3fff,14},
};
// IpdDf: 8 codewords, index order
const Code kIpdDf[] = {
    {0x1,1}, {0x0,3}, {0x6,4}, {0x4,4}, {0x2,4}, {0x3,4}, {0x5,4}, {0x7,4},
};
// IpdDt: 8 codewords, index order
const Code kIpdDt[] = {
    {0x1,1}, {0x2,3}, {0x2,4}, {0x3,5}, {0x2,5}, {0x0,4}, {0x3,4}, {0x3,3},
};
// OpdDf: 8 codewords, index order
const Code kOpdDf[] = {
    {0x1,1}, {0x1,3}, {0x6,4}, {0x4,4}, {0xf,5}, {0xe,5}, {0x5,4}, {0x0,3},
};
// OpdDt: 8 codewords, index order
const Code kOpdDt[] = {
    {0x1,1}, {0x2,3}, {0x1,4}, {0x7,5}, {0x6,5}, {0x0,4}, {0x2,4}, {0x3,3},
};

struct Book {
    const Code* codes;
    int lav;
    int entries;
};

template <std::size_t N>
constexpr Book MakeBook(const Code (&codes)[N], int lav) {
    return Book{codes, lav, static_cast<int>(N)};
}

const Book kBookEnvT15 = MakeBook(kEnvT15, 60);
const Book kBookEnvF15 = MakeBook(kEnvF15, 60);
const Book kBookBalT15 = MakeBook(kBalT15, 24);
const Book kBookBalF15 = MakeBook(kBalF15, 24);
const Book kBookEnvT30 = MakeBook(kEnvT30, 31);
const Book kBookEnvF30 = MakeBook(kEnvF30, 31);
const Book kBookBalT30 = MakeBook(kBalT30, 12);
const Book kBookBalF30 = MakeBook(kBalF30, 12);
const Book kBookNoiseT30 = MakeBook(kNoiseT30, 31);
const Book kBookNoiseBalT30 = MakeBook(kNoiseBalT30, 12);
const Book kBookIidDf = MakeBook(kIidDf, 14);
const Book kBookIidDt = MakeBook(kIidDt, 14);
const Book kBookIidFineDf = MakeBook(kIidFineDf, 30);
const Book kBookIidFineDt = MakeBook(kIidFineDt, 30);
const Book kBookIccDf = MakeBook(kIccDf, 7);
const Book kBookIccDt = MakeBook(kIccDt, 7);
const Book kBookIpdDf = MakeBook(kIpdDf, 0);
const Book kBookIpdDt = MakeBook(kIpdDt, 0);
const Book kBookOpdDf = MakeBook(kOpdDf, 0);
const Book kBookOpdDt = MakeBook(kOpdDt, 0);

// Writes `value` (within +-lav) with a codebook; indices are value + lav.
void PutCode(SbrBitWriter& w, const Book& book, int value) {
    const int index = value + book.lav;
    if (index < 0 || index >= book.entries) {
        throw std::logic_error("sbr payload generator: value outside its codebook");
    }
    w.Put(book.codes[index].bits, book.codes[index].length);
}

int Nint(double x) { return static_cast<int>(std::floor(x + 0.5)); }

// Band widths from `start` to `stop` in `n` bands on a logarithmic scale.
std::vector<int> LogBandWidths(int start, int stop, int n) {
    std::vector<int> dk(n);
    const double q = static_cast<double>(stop) / start;
    for (int k = 0; k < n; ++k) {
        dk[k] = Nint(start * std::pow(q, (k + 1.0) / n)) - Nint(start * std::pow(q, static_cast<double>(k) / n));
    }
    std::sort(dk.begin(), dk.end());
    return dk;
}

// Envelope data of one channel and frame, planned before it is written
// because sbr_dtdf precedes the data in the bitstream.
struct ChannelPlan {
    int ampRes = 0;
    bool balance = false;
    std::vector<int> dfEnv, dfNoise;           // 0 frequency direction, 1 time direction
    std::vector<std::vector<int>> env, noise;  // quantised values (balance: even, delta 2)
    std::vector<int> invf;
    bool addHarmonic = false;
    std::vector<int> sinusoids;
};

}  // namespace

// ---- bit writer ----------------------------------------------------------

void SbrBitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if ((bits_ & 7) == 0) bytes_.push_back(0);
        if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bits_ & 7));
        ++bits_;
    }
}

void SbrBitWriter::AlignZero() {
    while (bits_ & 7) Put(0, 1);
}

void SbrBitWriter::Patch(std::size_t bitPos, uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++bitPos) {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (bitPos & 7));
        if ((value >> i) & 1u) {
            bytes_[bitPos >> 3] |= mask;
        } else {
            bytes_[bitPos >> 3] &= static_cast<uint8_t>(~mask);
        }
    }
}

uint32_t SbrCrc10(const std::vector<uint8_t>& data, std::size_t firstBit, std::size_t bitCount) {
    uint32_t crc = 0;
    for (std::size_t i = firstBit; i < firstBit + bitCount; ++i) {
        const uint32_t bit = (data[i >> 3] >> (7 - (i & 7))) & 1u;
        const uint32_t top = ((crc >> 9) & 1u) ^ bit;
        crc = (crc << 1) & 0x3FFu;
        if (top) crc ^= 0x233u;  // x^9 + x^5 + x^4 + x + 1; x^10 is the carry
    }
    return crc;
}

// ---- frequency band tables (ISO/IEC 14496-3 4.6.18.3) --------------------

SbrBandTables BuildSbrBandTables(const SbrHeaderFields& h, int fs) {
    SbrBandTables t;
    auto fail = [&t](const char* why) {
        t.valid = false;
        t.error = why;
        return t;
    };
    static const int kOffsets[6][16] = {
        {-8, -7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7},
        {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13},
        {-5, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16},
        {-6, -4, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16},
        {-4, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20},
        {-2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20, 24},
    };
    int row;
    if (fs <= 16000) row = 0;
    else if (fs <= 22050) row = 1;
    else if (fs <= 24000) row = 2;
    else if (fs <= 32000) row = 3;
    else if (fs <= 64000) row = 4;
    else row = 5;
    const double fStart = fs < 32000 ? 3000 : (fs < 64000 ? 4000 : 5000);
    const int startMin = Nint(fStart * 128.0 / fs);
    const int stopMin = Nint(2 * fStart * 128.0 / fs);
    const int k0 = startMin + kOffsets[row][h.startFreq];
    int k2;
    if (h.stopFreq < 14) {
        const std::vector<int> dk = LogBandWidths(stopMin, 64, 13);
        k2 = stopMin;
        for (int i = 0; i < h.stopFreq; ++i) k2 += dk[i];
    } else {
        k2 = (h.stopFreq == 14 ? 2 : 3) * k0;
    }
    k2 = std::min(k2, 64);
    t.k0 = k0;
    t.k2 = k2;
    if (k2 <= k0) return fail("k2 <= k0");
    const int maxSpan = fs <= 32000 ? 48 : (fs == 44100 ? 35 : 32);
    if (k2 - k0 > maxSpan) return fail("SBR range too wide");

    std::vector<int>& m = t.master;
    if (h.freqScale == 0) {
        const int dk = h.alterScale ? 2 : 1;
        const int numBands = h.alterScale ? 2 * Nint((k2 - k0) / 4.0) : 2 * ((k2 - k0) / 2);
        if (numBands <= 0) return fail("no master bands");
        std::vector<int> vdk(numBands, dk);
        int diff = k2 - (k0 + numBands * dk);
        int incr = diff < 0 ? 1 : -1;
        int k = diff < 0 ? 0 : numBands - 1;
        while (diff != 0) {
            vdk[k] -= incr;
            k += incr;
            diff += incr;
        }
        m.push_back(k0);
        for (int w : vdk) {
            if (w <= 0) return fail("empty master band");
            m.push_back(m.back() + w);
        }
    } else {
        static const int kBands[3] = {12, 10, 8};
        const int bands = kBands[h.freqScale - 1];
        const double warp = h.alterScale ? 1.3 : 1.0;
        const bool twoRegions = static_cast<double>(k2) / k0 > 2.2449;
        const int k1 = twoRegions ? 2 * k0 : k2;
        const int nb0 = 2 * Nint(bands * std::log(static_cast<double>(k1) / k0) / (2.0 * std::log(2.0)));
        if (nb0 <= 0) return fail("no bands in the first region");
        const std::vector<int> vdk0 = LogBandWidths(k0, k1, nb0);
        m.push_back(k0);
        for (int w : vdk0) {
            if (w <= 0) return fail("empty band in the first region");
            m.push_back(m.back() + w);
        }
        if (twoRegions) {
            const int nb1 =
                2 * Nint(bands * std::log(static_cast<double>(k2) / k1) / (2.0 * std::log(2.0) * warp));
            if (nb1 <= 0) return fail("no bands in the second region");
            std::vector<int> vdk1 = LogBandWidths(k1, k2, nb1);
            if (vdk1[0] < vdk0.back()) {
                const int change = vdk0.back() - vdk1[0];
                vdk1[0] += change;
                vdk1[nb1 - 1] -= change;
                std::sort(vdk1.begin(), vdk1.end());
            }
            for (int w : vdk1) {
                if (w <= 0) return fail("empty band in the second region");
                m.push_back(m.back() + w);
            }
        }
    }
    const int nMaster = static_cast<int>(m.size()) - 1;
    if (h.xoverBand >= nMaster) return fail("crossover band beyond the master table");
    t.high.assign(m.begin() + h.xoverBand, m.end());
    const int nHigh = t.NHigh();
    const int nLow = nHigh / 2 + (nHigh & 1);
    t.low.push_back(t.high[0]);
    for (int k = 1; k <= nLow; ++k) t.low.push_back(t.high[2 * k - (nHigh & 1)]);
    t.kx = t.high[0];
    t.m = t.high[nHigh] - t.kx;
    if (t.kx > 32) return fail("kx above 32");
    if (t.kx + t.m > 64) return fail("kx + M above 64");
    if (nHigh > 48) return fail("too many envelope bands");
    int nq = 1;
    if (h.noiseBands > 0) {
        nq = std::max(1, Nint(h.noiseBands * std::log(static_cast<double>(k2) / t.kx) / std::log(2.0)));
    }
    if (nq > 5) return fail("more than 5 noise floor bands");
    if (nq > nLow) return fail("more noise bands than low-resolution bands");
    int i = 0;
    t.noise.push_back(t.low[0]);
    for (int k = 1; k <= nq; ++k) {
        i += (nLow - i) / (nq + 1 - k);
        t.noise.push_back(t.low[i]);
    }
    for (int k = 0; k < nq; ++k) {
        if (t.noise[k + 1] <= t.noise[k]) return fail("empty noise floor band");
    }

    // Patch construction (4.6.18.6.3): more than five patches is invalid.
    int msb = k0, usb = t.kx, numPatches = 0, lastPatchBands = 0;
    const int goalSb = Nint(2.048e6 / fs);
    int k = nMaster;
    if (goalSb < t.kx + t.m) {
        k = 0;
        for (int j = 0; j <= nMaster && m[j] < goalSb; ++j) k = j + 1;
    }
    int sb = 0;
    for (int guard = 0;; ++guard) {
        if (guard > 64) return fail("patch construction does not terminate");
        int j = k + 1, odd = 0;
        do {
            --j;
            if (j < 0) return fail("patch construction underflow");
            sb = m[j];
            odd = (sb - 2 + k0) % 2;
        } while (sb > k0 - 1 + msb - odd);
        const int bands = std::max(sb - usb, 0);
        if (bands > 0) {
            usb = sb;
            msb = sb;
            ++numPatches;
            lastPatchBands = bands;
        } else {
            msb = t.kx;
        }
        if (m[k] - sb < 3) k = nMaster;
        if (sb == t.kx + t.m) break;
    }
    if (lastPatchBands < 3 && numPatches > 1) --numPatches;
    t.numPatches = numPatches;
    if (numPatches > 5) return fail("more than five patches");
    if (numPatches == 0) return fail("no patch");
    t.valid = true;
    return t;
}

// ---- payload generator ---------------------------------------------------

struct SbrPayloadGenerator::Grid {
    int cls = 0;  // 0 FIXFIX, 1 FIXVAR, 2 VARFIX, 3 VARVAR
    int fixExp = 0;
    int varBord0 = 0, varBord1 = 0, numRel0 = 0, numRel1 = 0;
    std::array<int, 4> rel0{}, rel1{};
    int pointer = 0;
    int numEnv = 1;
    std::array<int, 8> freqRes{};
    std::array<int, 9> borders{};
    int numNoise = 1;
};

namespace {

int PointerBits(int numEnv) {
    int bits = 0;
    while ((1 << bits) < numEnv + 1) ++bits;
    return bits;
}

// Borders and validity of a grid (the checks a conforming decoder makes).
bool ResolveGrid(SbrPayloadGenerator::Grid& g) {
    const int L = g.numEnv;
    int lead = 0, trail = 16, nLead = 0, nTrail = 0;
    switch (g.cls) {
        case 0: nLead = L - 1; break;
        case 1: trail = 16 + g.varBord1; nTrail = g.numRel1; break;
        case 2: lead = g.varBord0; nLead = g.numRel0; break;
        default: lead = g.varBord0; trail = 16 + g.varBord1; nLead = g.numRel0; nTrail = g.numRel1; break;
    }
    g.borders[0] = lead;
    g.borders[L] = trail;
    for (int l = 1; l <= nLead; ++l) {
        g.borders[l] = g.borders[l - 1] + (g.cls == 0 ? 16 / L : g.rel0[l - 1]);
    }
    for (int l = 1; l <= nTrail; ++l) g.borders[L - l] = g.borders[L - l + 1] - g.rel1[l - 1];
    for (int l = 0; l < L; ++l) {
        if (g.borders[l + 1] <= g.borders[l]) return false;
    }
    if (g.borders[0] > 3 || g.borders[L] < 16 || g.borders[L] > 19) return false;
    if (g.cls != 0 && g.pointer > L) return false;
    g.numNoise = L > 1 ? 2 : 1;
    return L >= 1 && L <= 5;
}

}  // namespace

SbrPayloadGenerator::SbrPayloadGenerator(const SbrGenOptions& options)
    : options_(options), rng_(options.seed) {}

SbrHeaderFields SbrPayloadGenerator::RandomHeader() {
    auto pick = [this](int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); };
    for (int attempt = 0; attempt < 10000; ++attempt) {
        SbrHeaderFields h;
        do {
            h.ampRes = pick(2);
        } while (!((options_.ampResMask >> h.ampRes) & 1));
        h.startFreq = pick(16);
        h.stopFreq = pick(16);
        h.xoverBand = pick(3) == 0 ? pick(8) : 0;
        h.freqScale = pick(4);
        h.alterScale = pick(2);
        h.noiseBands = pick(4);
        h.limiterBands = pick(4);
        h.limiterGains = pick(4);
        h.interpolFreq = pick(2);
        h.smoothingMode = pick(2);
        const SbrBandTables t = BuildSbrBandTables(h, options_.outputRate);
        // The high band must leave room for the envelope data of a frame
        // next to the core; very narrow ranges exercise little.
        if (t.valid && t.NHigh() >= 2 && t.kx <= options_.maxKx) return h;
    }
    throw std::logic_error("sbr payload generator: no valid header found");
}

bool SbrPayloadGenerator::MakeGrid(ChannelState& c, int simplicity, bool invalid8, Grid* out) {
    auto pick = [this](int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); };
    for (int attempt = 0; attempt < 200; ++attempt) {
        Grid g;
        if (invalid8 && c.prevEnd == 0) {
            g.cls = 0;
            g.fixExp = 3;
            g.numEnv = 8;
            g.numNoise = 2;
            g.freqRes.fill(pick(2));
            return (*out = g), true;
        }
        if (c.prevEnd != 0) {
            // Continuity: this frame must start where the last one ended.
            g.cls = ((options_.frameClassMask >> 3) & 1) && (!((options_.frameClassMask >> 2) & 1) || pick(2))
                        ? 3
                        : 2;
        } else {
            do {
                g.cls = pick(4);
            } while (!((options_.frameClassMask >> g.cls) & 1));
        }
        if (simplicity >= 2) g.cls = c.prevEnd != 0 ? 2 : 0;
        const int maxRel = simplicity >= 1 ? 1 : 3;
        switch (g.cls) {
            case 0:
                g.fixExp = simplicity >= 2 ? 0 : pick(simplicity >= 1 ? 2 : 3);
                g.numEnv = 1 << g.fixExp;
                break;
            case 1:
                g.varBord1 = pick(4);
                g.numRel1 = simplicity >= 2 ? 0 : pick(maxRel + 1);
                g.numEnv = g.numRel1 + 1;
                for (int i = 0; i < g.numRel1; ++i) g.rel1[i] = 2 * pick(4) + 2;
                break;
            case 2:
                g.varBord0 = c.prevEnd;
                g.numRel0 = simplicity >= 2 ? 0 : pick(maxRel + 1);
                g.numEnv = g.numRel0 + 1;
                for (int i = 0; i < g.numRel0; ++i) g.rel0[i] = 2 * pick(4) + 2;
                break;
            default:
                g.varBord0 = c.prevEnd;
                g.varBord1 = pick(4);
                g.numRel0 = pick(maxRel + 1);
                g.numRel1 = pick(maxRel + 1);
                g.numEnv = g.numRel0 + g.numRel1 + 1;
                for (int i = 0; i < g.numRel0; ++i) g.rel0[i] = 2 * pick(4) + 2;
                for (int i = 0; i < g.numRel1; ++i) g.rel1[i] = 2 * pick(4) + 2;
                break;
        }
        if (g.cls != 0) g.pointer = pick(g.numEnv + 1);
        const int res = simplicity >= 2 ? 0 : pick(2);
        for (int l = 0; l < g.numEnv; ++l) g.freqRes[l] = g.cls == 0 ? res : pick(2);
        if (ResolveGrid(g)) return (*out = g), true;
    }
    return false;
}

void SbrPayloadGenerator::WriteGrid(SbrBitWriter& w, const Grid& g) {
    w.Put(static_cast<uint32_t>(g.cls), 2);
    switch (g.cls) {
        case 0:
            w.Put(static_cast<uint32_t>(g.fixExp), 2);
            w.Put(static_cast<uint32_t>(g.freqRes[0]), 1);
            return;
        case 1:
            w.Put(static_cast<uint32_t>(g.varBord1), 2);
            w.Put(static_cast<uint32_t>(g.numRel1), 2);
            for (int i = 0; i < g.numRel1; ++i) w.Put(static_cast<uint32_t>((g.rel1[i] - 2) / 2), 2);
            w.Put(static_cast<uint32_t>(g.pointer), PointerBits(g.numEnv));
            for (int l = 0; l < g.numEnv; ++l) w.Put(static_cast<uint32_t>(g.freqRes[g.numEnv - 1 - l]), 1);
            return;
        case 2:
            w.Put(static_cast<uint32_t>(g.varBord0), 2);
            w.Put(static_cast<uint32_t>(g.numRel0), 2);
            for (int i = 0; i < g.numRel0; ++i) w.Put(static_cast<uint32_t>((g.rel0[i] - 2) / 2), 2);
            break;
        default:
            w.Put(static_cast<uint32_t>(g.varBord0), 2);
            w.Put(static_cast<uint32_t>(g.varBord1), 2);
            w.Put(static_cast<uint32_t>(g.numRel0), 2);
            w.Put(static_cast<uint32_t>(g.numRel1), 2);
            for (int i = 0; i < g.numRel0; ++i) w.Put(static_cast<uint32_t>((g.rel0[i] - 2) / 2), 2);
            for (int i = 0; i < g.numRel1; ++i) w.Put(static_cast<uint32_t>((g.rel1[i] - 2) / 2), 2);
            break;
    }
    w.Put(static_cast<uint32_t>(g.pointer), PointerBits(g.numEnv));
    for (int l = 0; l < g.numEnv; ++l) w.Put(static_cast<uint32_t>(g.freqRes[l]), 1);
}

namespace {

// Previous envelope seen at the frequency resolution of the current one.
std::vector<int> MapToResolution(const std::vector<int>& prev, int prevRes, int res, const SbrBandTables& t) {
    if (prevRes == res) return prev;
    std::vector<int> out;
    if (res == 1) {
        for (int k = 0; k < t.NHigh(); ++k) {
            int i = 0;
            while (i + 1 < t.NLow() && t.low[i + 1] <= t.high[k]) ++i;
            out.push_back(prev[i]);
        }
    } else {
        for (int k = 0; k < t.NLow(); ++k) {
            int i = 0;
            while (i < t.NHigh() && t.high[i] != t.low[k]) ++i;
            out.push_back(prev[std::min(i, t.NHigh() - 1)]);
        }
    }
    return out;
}

const Book& EnvBook(bool balance, int ampRes, bool time) {
    if (balance) return ampRes ? (time ? kBookBalT30 : kBookBalF30) : (time ? kBookBalT15 : kBookBalF15);
    return ampRes ? (time ? kBookEnvT30 : kBookEnvF30) : (time ? kBookEnvT15 : kBookEnvF15);
}

const Book& NoiseBook(bool balance, bool time) {
    if (balance) return time ? kBookNoiseBalT30 : kBookBalF30;
    return time ? kBookNoiseT30 : kBookEnvF30;
}

void CopyBits(SbrBitWriter& to, const SbrBitWriter& from) {
    for (std::size_t i = 0; i < from.BitCount(); ++i) to.Put(static_cast<uint32_t>(from.BitAt(i)), 1);
}

// Writes an extension length in bytes: 4 bits, 15 escaping to 15 + 8 bits.
void PutExtensionCount(SbrBitWriter& w, int cnt) {
    if (cnt < 15) {
        w.Put(static_cast<uint32_t>(cnt), 4);
    } else {
        w.Put(15, 4);
        w.Put(static_cast<uint32_t>(cnt - 15), 8);
    }
}

}  // namespace

// Plans one channel's envelopes and noise floors, random walks that stay
// inside the ranges a decoder can dequantise and whose deltas every
// codebook can carry.
static ChannelPlan PlanChannel(std::mt19937& rng, const SbrPayloadGenerator::ChannelState& c,
                               const SbrPayloadGenerator::Grid& g, const SbrBandTables& t, int headerAmpRes,
                               bool balance, bool timeDelta, bool sinusoids, int simplicity,
                               std::vector<std::vector<int>>* envCoded, std::vector<std::vector<int>>* noiseCoded) {
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    ChannelPlan p;
    p.balance = balance;
    p.ampRes = (g.cls == 0 && g.numEnv == 1) ? 0 : headerAmpRes;
    const int delta = balance ? 2 : 1;
    int lo, hi, centre;
    if (balance) {
        lo = 0;
        hi = p.ampRes ? 24 : 48;
        centre = hi / 2;
    } else {
        lo = p.ampRes ? 5 : 10;
        hi = p.ampRes ? 30 : 60;
        centre = p.ampRes ? c.level / 2 : c.level;
    }
    auto clamp = [&](int v) {
        v = std::clamp(v, lo, hi);
        return balance ? v & ~1 : v;
    };
    auto step = [&]() {
        const int r = pick(16);
        const int s = r < 6 ? 0 : (r < 11 ? 1 : (r < 15 ? 2 : 6));
        return (pick(2) ? s : -s) * delta;
    };
    const bool history = c.havePrev && c.prevAmpRes == p.ampRes && c.prevBalance == balance && timeDelta &&
                         simplicity < 2;
    std::vector<int> prev = c.prevEnv;
    int prevRes = c.prevRes;
    for (int l = 0; l < g.numEnv; ++l) {
        const int res = g.freqRes[l];
        const int n = res ? t.NHigh() : t.NLow();
        const bool canTime = (l > 0 && timeDelta && simplicity < 2) || history;
        const bool time = canTime && pick(2);
        std::vector<int> v(n), coded(n);
        if (time) {
            const std::vector<int> ref = MapToResolution(prev, prevRes, res, t);
            for (int k = 0; k < n; ++k) {
                v[k] = clamp(ref[k] + step());
                coded[k] = (v[k] - ref[k]) / delta;
            }
        } else {
            for (int k = 0; k < n; ++k) {
                v[k] = simplicity >= 2 ? clamp(centre) : clamp((k ? v[k - 1] : centre) + step());
                coded[k] = (v[k] - (k ? v[k - 1] : 0)) / delta;
            }
        }
        p.dfEnv.push_back(time ? 1 : 0);
        p.env.push_back(v);
        envCoded->push_back(coded);
        prev = v;
        prevRes = res;
    }
    const int nq = t.NQ();
    const int nlo = 0, nhi = balance ? 24 : 30, ncentre = balance ? 12 : 8 + 2 * pick(8);
    const bool noiseHistory = c.havePrev && c.prevBalance == balance && timeDelta && simplicity < 2;
    std::vector<int> prevNoise = c.prevNoise;
    for (int q = 0; q < g.numNoise; ++q) {
        const bool time = (q > 0 ? (timeDelta && simplicity < 2) : noiseHistory) && pick(2);
        std::vector<int> v(nq), coded(nq);
        for (int k = 0; k < nq; ++k) {
            const int base = time ? prevNoise[k] : (k ? v[k - 1] : ncentre);
            int x = std::clamp(base + (simplicity >= 2 && !time ? 0 : step()), nlo, nhi);
            if (balance) x &= ~1;
            v[k] = x;
            coded[k] = (x - (time ? prevNoise[k] : (k ? v[k - 1] : 0))) / delta;
        }
        p.dfNoise.push_back(time ? 1 : 0);
        p.noise.push_back(v);
        noiseCoded->push_back(coded);
        prevNoise = v;
    }
    for (int q = 0; q < nq; ++q) p.invf.push_back(pick(4));
    p.addHarmonic = sinusoids && simplicity == 0 && pick(4) == 0;
    if (p.addHarmonic) {
        for (int k = 0; k < t.NHigh(); ++k) p.sinusoids.push_back(pick(6) == 0 ? 1 : 0);
    }
    return p;
}

namespace {

void WriteDtdf(SbrBitWriter& w, const ChannelPlan& p) {
    for (int d : p.dfEnv) w.Put(static_cast<uint32_t>(d), 1);
    for (int d : p.dfNoise) w.Put(static_cast<uint32_t>(d), 1);
}

void WriteInvf(SbrBitWriter& w, const ChannelPlan& p) {
    for (int m : p.invf) w.Put(static_cast<uint32_t>(m), 2);
}

void WriteEnvelope(SbrBitWriter& w, const ChannelPlan& p, const std::vector<std::vector<int>>& coded) {
    for (std::size_t l = 0; l < coded.size(); ++l) {
        const bool time = p.dfEnv[l] != 0;
        const Book& book = EnvBook(p.balance, p.ampRes, time);
        for (std::size_t k = 0; k < coded[l].size(); ++k) {
            if (!time && k == 0) {
                const int bits = p.balance ? (p.ampRes ? 5 : 6) : (p.ampRes ? 6 : 7);
                w.Put(static_cast<uint32_t>(coded[l][0]), bits);
            } else {
                PutCode(w, book, coded[l][k]);
            }
        }
    }
}

void WriteNoise(SbrBitWriter& w, const ChannelPlan& p, const std::vector<std::vector<int>>& coded) {
    for (std::size_t q = 0; q < coded.size(); ++q) {
        const bool time = p.dfNoise[q] != 0;
        const Book& book = NoiseBook(p.balance, time);
        for (std::size_t k = 0; k < coded[q].size(); ++k) {
            if (!time && k == 0) {
                w.Put(static_cast<uint32_t>(coded[q][0]), 5);
            } else {
                PutCode(w, book, coded[q][k]);
            }
        }
    }
}

void WriteHarmonics(SbrBitWriter& w, const ChannelPlan& p) {
    w.PutBit(p.addHarmonic);
    for (int s : p.sinusoids) w.Put(static_cast<uint32_t>(s), 1);
}

void CommitChannel(SbrPayloadGenerator::ChannelState& c, const SbrPayloadGenerator::Grid& g, const ChannelPlan& p,
                   bool invalid, std::mt19937& rng) {
    if (invalid) {
        c.havePrev = false;
        c.prevEnd = 0;
        return;
    }
    c.havePrev = true;
    c.prevEnd = g.borders[g.numEnv] - 16;
    c.prevAmpRes = p.ampRes;
    c.prevBalance = p.balance;
    c.prevRes = g.freqRes[g.numEnv - 1];
    c.prevEnv = p.env.back();
    c.prevNoise = p.noise.back();
    // The base level drifts slowly; it stays within the range that keeps
    // the high band below clipping.
    c.level = std::clamp(c.level + static_cast<int>(rng() % 5) - 2, 16, 44);
}

void UpdateStats(SbrGenStats& st, const SbrPayloadGenerator::Grid& g, const ChannelPlan& p) {
    st.frameClass[g.cls]++;
    st.maxEnvelopes = std::max(st.maxEnvelopes, g.numEnv);
    st.ampRes[p.ampRes]++;
    for (int d : p.dfEnv) (d ? st.timeDelta : st.freqDelta)++;
    for (int d : p.dfNoise) (d ? st.timeDelta : st.freqDelta)++;
    if (p.addHarmonic) st.sinusoidFrames++;
    for (int m : p.invf) st.invfModes[m]++;
}

}  // namespace

void SbrPayloadGenerator::WritePs(SbrBitWriter& w, PsState& ps, SbrGenStats& st, int simplicity) {
    auto pick = [this](int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); };
    auto pickMode = [&]() {
        int m;
        do {
            m = pick(6);
        } while (!((options_.psModeMask >> m) & 1));
        return m;
    };
    static const int kBands[3] = {10, 20, 34};
    static const int kIpdBands[3] = {5, 11, 17};
    static const int kNumEnv[2][4] = {{0, 1, 2, 4}, {1, 2, 3, 4}};
    const bool header = !ps.started || (simplicity == 0 && pick(6) == 0);
    bool modeChanged = !ps.started;
    w.PutBit(header);
    if (header) {
        const int iidMode = pickMode(), iccMode = pickMode();
        const bool enableIid = pick(8) != 0, enableIcc = pick(8) != 0;
        modeChanged = modeChanged || iidMode != ps.iidMode || iccMode != ps.iccMode;
        if (iidMode != ps.iidMode || !enableIid) ps.prevIidValid = false;
        if (iccMode != ps.iccMode || !enableIcc) ps.prevIccValid = false;
        if (iidMode % 3 != ps.iidMode % 3 || !enableIid) ps.prevIpdValid = false;
        ps.iidMode = iidMode;
        ps.iccMode = iccMode;
        ps.enableIid = enableIid;
        ps.enableIcc = enableIcc;
        ps.enableExt = options_.psIpdOpd || pick(8) == 0;
        w.PutBit(enableIid);
        if (enableIid) w.Put(static_cast<uint32_t>(iidMode), 3);
        w.PutBit(enableIcc);
        if (enableIcc) w.Put(static_cast<uint32_t>(iccMode), 3);
        w.PutBit(ps.enableExt);
        ps.started = true;
        st.psHeaders++;
    }
    const int frameClass = options_.psFrameClassVar && simplicity == 0 && pick(3) == 0 ? 1 : 0;
    // Zero envelopes hold the previous parameters, which a new quantisation
    // grid would leave out of range.
    int envIndex = simplicity >= 2 ? 1 : pick(4);
    if (modeChanged && frameClass == 0 && envIndex == 0 && !options_.psOutOfRange) envIndex = 1;
    const int numEnv = kNumEnv[frameClass][envIndex];
    w.PutBit(frameClass != 0);
    w.Put(static_cast<uint32_t>(envIndex), 2);
    if (frameClass) {
        std::vector<int> slots(32);
        for (int i = 0; i < 32; ++i) slots[i] = i + 1;
        std::shuffle(slots.begin(), slots.end(), rng_);
        slots.resize(numEnv);
        std::sort(slots.begin(), slots.end());
        for (int b : slots) w.Put(static_cast<uint32_t>(b - 1), 5);
        st.psVarBorders++;
    }
    st.psMaxEnvelopes = std::max(st.psMaxEnvelopes, numEnv);
    auto walk = [&](int v, int lo, int hi) {
        const int r = pick(8);
        return std::clamp(v + (r < 3 ? 0 : (r < 6 ? 1 : 3)) * (pick(2) ? 1 : -1), lo, hi);
    };
    // IID and ICC: one direction bit, then one code per parameter band.
    auto params = [&](int count, int lo, int hi, bool& prevValid, std::vector<int>& prev, const Book& df,
                      const Book& dt) {
        for (int e = 0; e < numEnv; ++e) {
            const bool time = prevValid && static_cast<int>(prev.size()) == count && simplicity < 2 && pick(2);
            w.PutBit(time);
            std::vector<int> v(count);
            for (int b = 0; b < count; ++b) {
                if (time) {
                    v[b] = walk(prev[b], lo, hi);
                    PutCode(w, dt, v[b] - prev[b]);
                } else {
                    v[b] = simplicity >= 2 ? 0 : walk(b ? v[b - 1] : std::min((lo + hi) / 2, 4), lo, hi);
                    PutCode(w, df, v[b] - (b ? v[b - 1] : 0));
                }
            }
            prev = v;
            prevValid = true;
        }
    };
    if (ps.enableIid) {
        const bool fine = ps.iidMode >= 3;
        const int lim = (fine ? 15 : 7) + (options_.psOutOfRange ? 6 : 0);
        params(kBands[ps.iidMode % 3], -lim, lim, ps.prevIidValid, ps.prevIid,
               fine ? kBookIidFineDf : kBookIidDf, fine ? kBookIidFineDt : kBookIidDt);
        (fine ? st.psFine : st.psCoarse)++;
        st.psBands[ps.iidMode % 3]++;
    }
    if (ps.enableIcc) {
        params(kBands[ps.iccMode % 3], 0, options_.psOutOfRange ? 11 : 7, ps.prevIccValid, ps.prevIcc, kBookIccDf,
               kBookIccDt);
        st.psBands[ps.iccMode % 3]++;
    }
    if (ps.enableExt) {
        SbrBitWriter ext;
        if (options_.psIpdOpd && ps.enableIid) {
            ext.Put(0, 2);  // ps_extension_id 0: IPD/OPD
            ext.PutBit(true);
            const int count = kIpdBands[ps.iidMode % 3];
            for (int e = 0; e < numEnv; ++e) {
                for (int which = 0; which < 2; ++which) {
                    const bool time = ps.prevIpdValid && pick(2);
                    ext.PutBit(time);
                    std::vector<int>& prev = which ? ps.prevOpd : ps.prevIpd;
                    prev.resize(count);
                    std::vector<int> v(count);
                    for (int b = 0; b < count; ++b) {
                        v[b] = static_cast<int>(rng_() % 8);
                        const int d = ((v[b] - (time ? prev[b] : (b ? v[b - 1] : 0))) % 8 + 8) % 8;
                        PutCode(ext, which ? (time ? kBookOpdDt : kBookOpdDf) : (time ? kBookIpdDt : kBookIpdDf), d);
                    }
                    prev = v;
                }
                ps.prevIpdValid = true;
            }
            ext.PutBit(false);  // reserved_ps
            st.psIpdOpd++;
        }
        const int cnt = static_cast<int>((ext.BitCount() + 7) / 8);
        PutExtensionCount(w, cnt);
        CopyBits(w, ext);
        w.Put(0, static_cast<int>(cnt * 8 - ext.BitCount()));
    }
    st.psFrames++;
}

bool SbrPayloadGenerator::Frame(State& s, SbrGenStats& st, int simplicity, int maxBytes,
                                std::vector<uint8_t>* out) {
    auto pick = [this](int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); };
    SbrBitWriter w;
    w.Put(static_cast<uint32_t>(ExtensionType()), 4);
    if (options_.crc) w.Put(0, 10);  // bs_sbr_crc_bits, patched below

    bool sendHeader = !s.headerSent || (simplicity == 0 && pick(8) == 0);
    if (!s.headerSent) {
        s.header = options_.randomHeaders ? RandomHeader() : SbrHeaderFields{};
        s.tables = BuildSbrBandTables(s.header, options_.outputRate);
        for (auto& c : s.ch) c.level = 24 + pick(12);
    } else if (options_.headerChanges && simplicity == 0 && pick(24) == 0) {
        const SbrHeaderFields h = RandomHeader();
        const SbrHeaderFields& o = s.header;
        const bool reset = h.startFreq != o.startFreq || h.stopFreq != o.stopFreq || h.xoverBand != o.xoverBand ||
                           h.freqScale != o.freqScale || h.alterScale != o.alterScale ||
                           h.noiseBands != o.noiseBands;
        if (reset || h.ampRes != o.ampRes) {
            // The envelope history is gone for the decoder too.
            for (auto& c : s.ch) c.havePrev = false;
        }
        if (reset) st.resets++;
        s.header = h;
        s.tables = BuildSbrBandTables(h, options_.outputRate);
        sendHeader = true;
    }
    const SbrHeaderFields& h = s.header;
    const SbrBandTables& t = s.tables;
    w.PutBit(sendHeader);
    if (sendHeader) {
        const bool extra1 = h.freqScale != 2 || h.alterScale != 1 || h.noiseBands != 2 || pick(2);
        const bool extra2 = h.limiterBands != 2 || h.limiterGains != 2 || h.interpolFreq != 1 ||
                            h.smoothingMode != 1 || pick(2);
        w.Put(static_cast<uint32_t>(h.ampRes), 1);
        w.Put(static_cast<uint32_t>(h.startFreq), 4);
        w.Put(static_cast<uint32_t>(h.stopFreq), 4);
        w.Put(static_cast<uint32_t>(h.xoverBand), 3);
        w.Put(0, 2);  // bs_reserved
        w.PutBit(extra1);
        w.PutBit(extra2);
        if (extra1) {
            w.Put(static_cast<uint32_t>(h.freqScale), 2);
            w.Put(static_cast<uint32_t>(h.alterScale), 1);
            w.Put(static_cast<uint32_t>(h.noiseBands), 2);
        }
        if (extra2) {
            w.Put(static_cast<uint32_t>(h.limiterBands), 2);
            w.Put(static_cast<uint32_t>(h.limiterGains), 2);
            w.Put(static_cast<uint32_t>(h.interpolFreq), 1);
            w.Put(static_cast<uint32_t>(h.smoothingMode), 1);
        }
        s.headerSent = true;
        st.headers++;
    }
    const bool invalid8 = options_.invalidFixFix8Every > 0 && frameIndex_ > 0 &&
                          frameIndex_ % options_.invalidFixFix8Every == 0 && simplicity == 0;
    const bool dataExtra = simplicity == 0 && pick(16) == 0;
    w.PutBit(dataExtra);
    if (dataExtra) w.Put(0, options_.pair ? 8 : 4);

    std::vector<std::vector<int>> env0, noise0, env1, noise1;
    Grid g0, g1;
    ChannelPlan p0, p1;
    bool invalid = false;
    if (!options_.pair) {
        if (!MakeGrid(s.ch[0], simplicity, invalid8, &g0)) return false;
        invalid = g0.numEnv > 5;
        p0 = PlanChannel(rng_, s.ch[0], g0, t, h.ampRes, false, options_.timeDelta, options_.sinusoids,
                         simplicity, &env0, &noise0);
        WriteGrid(w, g0);
        WriteDtdf(w, p0);
        WriteInvf(w, p0);
        WriteEnvelope(w, p0, env0);
        WriteNoise(w, p0, noise0);
        WriteHarmonics(w, p0);
        if (options_.ps) {
            SbrBitWriter psw;
            WritePs(psw, s.ps, st, simplicity);
            const std::size_t bits = 2 + psw.BitCount();
            const int cnt = static_cast<int>((bits + 7) / 8);
            w.PutBit(true);  // bs_extended_data
            PutExtensionCount(w, cnt);
            w.Put(2, 2);  // EXTENSION_ID_PS
            CopyBits(w, psw);
            w.Put(0, static_cast<int>(cnt * 8 - bits));
        } else {
            w.PutBit(false);
        }
    } else {
        const bool coupled = (options_.coupling == 1 || (options_.coupling == 2 && pick(2))) &&
                             s.ch[0].prevEnd == s.ch[1].prevEnd;
        if (coupled != s.prevCoupled) {
            // Level and balance histories do not mix.
            s.ch[1].havePrev = false;
        }
        w.PutBit(coupled);
        if (!MakeGrid(s.ch[0], simplicity, invalid8, &g0)) return false;
        invalid = g0.numEnv > 5;
        if (coupled) {
            g1 = g0;
        } else if (!MakeGrid(s.ch[1], simplicity, false, &g1)) {
            return false;
        }
        p0 = PlanChannel(rng_, s.ch[0], g0, t, h.ampRes, false, options_.timeDelta, options_.sinusoids,
                         simplicity, &env0, &noise0);
        p1 = PlanChannel(rng_, s.ch[1], g1, t, h.ampRes, coupled, options_.timeDelta, options_.sinusoids,
                         simplicity, &env1, &noise1);
        if (coupled) {
            p1.invf = p0.invf;
            WriteGrid(w, g0);
            WriteDtdf(w, p0);
            WriteDtdf(w, p1);
            WriteInvf(w, p0);
            WriteEnvelope(w, p0, env0);
            WriteNoise(w, p0, noise0);
            WriteEnvelope(w, p1, env1);
            WriteNoise(w, p1, noise1);
            st.coupled++;
        } else {
            WriteGrid(w, g0);
            WriteGrid(w, g1);
            WriteDtdf(w, p0);
            WriteDtdf(w, p1);
            WriteInvf(w, p0);
            WriteInvf(w, p1);
            WriteEnvelope(w, p0, env0);
            WriteEnvelope(w, p1, env1);
            WriteNoise(w, p0, noise0);
            WriteNoise(w, p1, noise1);
            st.independent++;
        }
        WriteHarmonics(w, p0);
        WriteHarmonics(w, p1);
        w.PutBit(false);  // bs_extended_data
        s.prevCoupled = coupled;
    }
    w.AlignZero();
    const int bytes = static_cast<int>(w.Bytes().size());
    if (bytes > std::min(maxBytes, 264)) return false;
    if (options_.crc) {
        w.Patch(4, SbrCrc10(w.Bytes(), 14, w.BitCount() - 14), 10);
    }
    UpdateStats(st, g0, p0);
    CommitChannel(s.ch[0], g0, p0, invalid, rng_);
    if (options_.pair) {
        UpdateStats(st, g1, p1);
        CommitChannel(s.ch[1], g1, p1, invalid, rng_);
    }
    if (invalid) st.invalidFrames++;
    st.frames++;
    st.maxPayloadBytes = std::max(st.maxPayloadBytes, bytes);
    *out = w.Bytes();
    return true;
}

std::vector<uint8_t> SbrPayloadGenerator::Next(int maxBytes) {
    std::vector<uint8_t> out;
    for (int simplicity = 0; simplicity <= 2; ++simplicity) {
        State s = state_;
        SbrGenStats st = stats_;
        const std::mt19937 saved = rng_;
        if (Frame(s, st, simplicity, maxBytes, &out)) {
            state_ = std::move(s);
            stats_ = st;
            break;
        }
        rng_ = saved;
        rng_.discard(1);
        out.clear();
    }
    ++frameIndex_;
    return out;
}

// ---- raw data blocks -------------------------------------------------------

long BlockBitsBeforeEnd(const std::vector<uint8_t>& block) {
    long last = -1;
    for (long i = static_cast<long>(block.size()) * 8 - 1; i >= 0; --i) {
        if ((block[i >> 3] >> (7 - (i & 7))) & 1) {
            last = i;
            break;
        }
    }
    if (last < 2) return -1;
    for (long i = last - 2; i <= last; ++i) {
        if (!((block[i >> 3] >> (7 - (i & 7))) & 1)) return -1;
    }
    return last - 2;
}

std::vector<uint8_t> InsertFillElement(const std::vector<uint8_t>& block, const std::vector<uint8_t>& payload) {
    const long bits = BlockBitsBeforeEnd(block);
    if (bits < 0) return {};
    if (payload.empty()) return block;
    SbrBitWriter w;
    for (long i = 0; i < bits; ++i) w.Put((block[i >> 3] >> (7 - (i & 7))) & 1, 1);
    const int cnt = static_cast<int>(payload.size());
    w.Put(6, 3);  // ID_FIL
    if (cnt < 15) {
        w.Put(static_cast<uint32_t>(cnt), 4);
    } else {
        w.Put(15, 4);
        w.Put(static_cast<uint32_t>(cnt - 14), 8);
    }
    for (uint8_t b : payload) w.Put(b, 8);
    w.Put(7, 3);  // ID_END
    w.AlignZero();
    return w.Bytes();
}

std::vector<uint8_t> WrapPacketStream(const AdtsStream& s) {
    std::vector<uint8_t> out;
    for (const auto& b : s.blocks) {
        if (b.size() > 255) throw std::length_error("raw data block too long for a packet record");
        out.push_back(static_cast<uint8_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

int DropLargeBlocks(AdtsStream* s, std::size_t maxBytes) {
    const std::size_t before = s->blocks.size();
    std::erase_if(s->blocks, [maxBytes](const std::vector<uint8_t>& b) { return b.size() > maxBytes; });
    return static_cast<int>(before - s->blocks.size());
}

AdtsStream AddSbrPayloads(const AdtsStream& core, SbrPayloadGenerator& gen) {
    AdtsStream out = core;
    for (auto& b : out.blocks) {
        const long bits = BlockBitsBeforeEnd(b);
        if (bits < 0) throw std::runtime_error("raw data block without END element");
        // Fill element header (3 + 4 + 8 bits) and END must fit 255 bytes too.
        const long budget = (255L * 8 - bits - 18) / 8;
        const std::vector<uint8_t> payload = gen.Next(static_cast<int>(std::min<long>(budget, 264)));
        b = InsertFillElement(b, payload);
    }
    return out;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(f);
}

}  // namespace aurivane::test
