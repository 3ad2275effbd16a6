// Time/frequency grid of one SBR channel: the frame class from the previous
// class and the transient decision, the fixed-fixed records, and for the
// variable classes the border lists around the transient (pre-fill,
// inter-fill, post-fill) with the borders beyond the frame kept for the next
// one. Produces the coded grid fields and the frame info derived from them.
#ifndef AURIVANE_SBRENC_SBR_FRAME_GENERATOR_H
#define AURIVANE_SBRENC_SBR_FRAME_GENERATOR_H

#include "dsp/sbr_grid.h"
#include "sbrenc/sbr_encoder_types.h"

namespace aurivane {

class SbrFrameGenerator {
public:
    // Border lists span the two-frame axis 0..32 with at most one border per
    // two time slots, plus the pre- and post-fill borders.
    static constexpr int kMaxBorders = 20;

    // frameSpread, staticFraming and maxEnvelopesLog2 of the settings.
    void Init(const SbrEncoderSettings& settings);

    // Builds this frame's grid from the transient information of the frame.
    // Always yields fields the sbr_grid syntax expresses; the first border
    // continues where the previous frame's grid ended.
    void Generate(const SbrTransientInfo& transient, SbrGridFields* fields, SbrFrameInfo* info);

    int PreviousClass() const { return prevClass_; }

private:
    struct BorderList {
        int border[kMaxBorders];
        int res[kMaxBorders];
        int n;
        void Clear() { n = 0; }
        void Append(int b, int r);
        void Prepend(int b, int r);
        void RemoveLast() { if (n > 0) --n; }
        void RemoveFirst();
    };

    void PreFill(BorderList& b, int bmin, int distance) const;
    void InterFill(BorderList& b, int bmin, int* nL);
    // Post-fill, special case, common border and keep; returns iC and iT.
    void CloseFrame(BorderList& b, int bmax, int tt, int cap, int* iC, int* iT);
    void FieldsVarFix(SbrGridFields* f) const;
    void FieldsVarVarSpread(SbrGridFields* f) const;
    static void FieldsFixVar(const BorderList& b, int iC, int iT, SbrGridFields* f);
    static void FieldsVarVar(const BorderList& b, int iC, int iT, int nL, SbrGridFields* f);
    static void FieldsFixFix(int numEnvelopes, SbrGridFields* f);
    static void SingleEnvelope(int first, int last, SbrGridFields* f);

    int frameSpread_ = 1;
    int staticFraming_ = 0;
    int staticEnvelopes_ = 2;
    int prevClass_ = kFixFix;
    bool spread_ = false;
    BorderList kept_ = {};
    int keptTransient_ = -99;
    int keptFill_ = -99;
};

}  // namespace aurivane

#endif
