// Switched fourth-order MA prediction of the LSFs with the two-stage split
// vector quantiser of G.729 (1 + 7 + 5 + 5 bits).
#ifndef AURIVANE_G729_G729_LSP_QUANTIZER_H
#define AURIVANE_G729_G729_LSP_QUANTIZER_H

namespace aurivane::g729 {

// The four previous quantised residual vectors of the predictor, newest first.
struct LsfPredictorMemory {
    double past[4][10];
    void Reset();
};

void LspToLsf(const double lsp[10], double lsf[10]);
void LsfToLsp(const double lsf[10], double lsp[10]);

// Quantised LSP vector of the code (lsp1: switch + L1 index; lsp2: L2 << 5 | L3)
// with the rearrangement and stability rules; shifts the predictor memory.
void DecodeLsp(int lsp1, int lsp2, LsfPredictorMemory& mem, double lspq[10]);

// Chooses the code for lsp (cosines), returns its quantised LSPs and
// shifts the memory exactly as DecodeLsp does.
void QuantizeLsp(const double lsp[10], LsfPredictorMemory& mem, double lspq[10], int* lsp1,
                 int* lsp2);

// Ordering, 0.0392 minimum spacing and the [0.005, 3.135] bounds.
void StabilizeLsf(double lsf[10]);

}  // namespace aurivane::g729

#endif
