#include "sbrenc/sbr_frame_generator.h"

#include <algorithm>
#include <cstring>

namespace aurivane {

namespace {

constexpr int kDMin = 4;    // shortest envelope the fill rules aim for, in time slots
constexpr int kDMax = 12;   // longest
constexpr int kAxisEnd = 2 * kSbrTimeSlots;  // the generator sees this frame and the next
constexpr int kNoIndex = -99;
constexpr int kSpreadNoIndex = -4711;

int FloorDiv2(int v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

// Segment length for splitting a distance d into k parts of even length.
int FillLength(int d, int k) { return 2 * FloorDiv2(d / k - 2) + 2; }

}  // namespace

void SbrFrameGenerator::BorderList::Append(int b, int r) {
    if (n >= kMaxBorders) return;
    border[n] = b;
    res[n] = r;
    ++n;
}

void SbrFrameGenerator::BorderList::Prepend(int b, int r) {
    if (n >= kMaxBorders) return;
    std::memmove(border + 1, border, n * sizeof(int));
    std::memmove(res + 1, res, n * sizeof(int));
    border[0] = b;
    res[0] = r;
    ++n;
}

void SbrFrameGenerator::BorderList::RemoveFirst() {
    if (n <= 0) return;
    --n;
    std::memmove(border, border + 1, n * sizeof(int));
    std::memmove(res, res + 1, n * sizeof(int));
}

void SbrFrameGenerator::Init(const SbrEncoderSettings& s) {
    frameSpread_ = s.frameSpread;
    staticFraming_ = s.staticFraming;
    staticEnvelopes_ = 1 << std::clamp(static_cast<int>(s.maxEnvelopesLog2), 0, 2);
    prevClass_ = kFixFix;
    spread_ = false;
    kept_.Clear();
    keptTransient_ = kNoIndex;
    keptFill_ = kNoIndex;
}

void SbrFrameGenerator::PreFill(BorderList& b, int bmin, int distance) const {
    if (distance <= kDMax) return;
    int k = 2, len = 0;
    for (; k <= distance; ++k) {
        len = std::min(8, FillLength(distance, k));
        if (distance - (k - 1) * len <= kDMax) break;
    }
    if (len <= 0) return;
    for (int i = 1; i < k; ++i) b.Prepend(bmin - i * len, 1);
}

void SbrFrameGenerator::InterFill(BorderList& b, int bmin, int* nL) {
    if (keptFill_ > 0 && keptFill_ < kept_.n) kept_.n = keptFill_;
    while (kept_.n > 1 && kept_.border[kept_.n - 1] > bmin) kept_.RemoveLast();
    const int last = kept_.n - 1;
    const int middle = bmin - kept_.border[last];
    *nL = last;
    if (middle > kDMax) {
        PreFill(b, bmin, middle);
        for (int i = last; i >= 0; --i) b.Prepend(kept_.border[i], kept_.res[i]);
    } else if (middle >= kDMin) {
        for (int i = last; i >= 0; --i) b.Prepend(kept_.border[i], kept_.res[i]);
    } else if (last > 0) {
        for (int i = last - 1; i >= 0; --i) b.Prepend(kept_.border[i], kept_.res[i]);
        *nL = last - 1;
    } else {
        b.RemoveFirst();
        b.Prepend(kept_.border[0], kept_.res[0]);
    }
}

void SbrFrameGenerator::CloseFrame(BorderList& b, int bmax, int tt, int cap, int* iC, int* iT) {
    // Post-fill up to the end of the next frame.
    const int d = kAxisEnd - bmax;
    int k = 1, rem = d;
    if (d <= 0) {
        b.RemoveLast();
    } else {
        int len = 0;
        while (rem > kDMax && k < d) {
            ++k;
            len = std::min(cap, FillLength(d, k));
            rem = d - len * (k - 1);
        }
        if (len > 0)
            for (int i = 1; i < k; ++i) b.Append(bmax + i * len, 1);
    }
    // Special case: a last segment too short to stand alone.
    if (k == 1 && rem < kDMin && b.n > 0) {
        if (frameSpread_) {
            spread_ = true;
            b.Append(b.border[b.n - 1] + 8, 1);
            k = 2;
        } else if (rem == 1) {
            b.RemoveLast();
        } else if (b.n > 1 && b.border[b.n - 1] - b.border[b.n - 2] > 2) {
            b.border[b.n - 1] -= 2;
            b.res[b.n - 1] = 0;
        }
    }
    *iC = b.n - 1;
    for (int i = 0; i < b.n; ++i)
        if (b.border[i] >= kSbrTimeSlots) {
            *iC = i;
            break;
        }
    *iT = kNoIndex;
    for (int i = 0; i < b.n; ++i)
        if (b.border[i] >= tt) {
            *iT = i;
            break;
        }
    // Keep the borders from the common one on for the next frame.
    kept_.Clear();
    for (int i = *iC; i < b.n; ++i) kept_.Append(b.border[i] - kSbrTimeSlots, b.res[i]);
    keptTransient_ = *iT == kNoIndex ? kNoIndex : *iT - *iC;
    keptFill_ = b.n - k - *iC + 1;
}

void SbrFrameGenerator::FieldsFixFix(int numEnvelopes, SbrGridFields* f) {
    f->frameClass = kFixFix;
    f->numEnvelopes = numEnvelopes;
    f->freqResFixed = 1;
}

void SbrFrameGenerator::FieldsFixVar(const BorderList& b, int iC, int iT, SbrGridFields* f) {
    f->frameClass = kFixVar;
    f->varBorder0 = b.border[iC];
    f->numRel0 = iC;
    for (int i = iC, j = 0; i >= 1 && j < 4; --i, ++j) f->rel0[j] = b.border[i] - b.border[i - 1];
    for (int j = 0; j < iC && j < kSbrMaxEnvelopes; ++j) f->freqRes[j] = b.res[iC - 1 - j];
    if (iC < kSbrMaxEnvelopes) f->freqRes[iC] = 1;
    f->pointer = (iC < iT || iT == kNoIndex) ? 0 : iC - iT + 1;
}

void SbrFrameGenerator::FieldsVarFix(SbrGridFields* f) const {
    f->frameClass = kVarFix;
    f->varBorder0 = kept_.border[0];
    f->numRel0 = kept_.n - 1;
    for (int i = 1; i < kept_.n && i <= 4; ++i) f->rel0[i - 1] = kept_.border[i] - kept_.border[i - 1];
    for (int i = 0; i < kept_.n && i < kSbrMaxEnvelopes; ++i) f->freqRes[i] = kept_.res[i];
    f->pointer = keptTransient_ < 0 ? 0 : keptTransient_ + 1;
}

void SbrFrameGenerator::FieldsVarVarSpread(SbrGridFields* f) const {
    const int m = kept_.n;
    f->frameClass = kVarVar;
    f->varBorder0 = kept_.border[0];
    f->varBorder1 = kept_.border[m - 1];
    f->numRel0 = m <= 4 ? m - 2 : 2;
    f->numRel1 = m <= 4 ? 0 : m - 4;
    for (int q = 1; q <= f->numRel0 && q <= 4; ++q) f->rel0[q - 1] = kept_.border[q] - kept_.border[q - 1];
    for (int q = m - 1, j = 0; q >= m - f->numRel1 && j < 4; --q, ++j)
        f->rel1[j] = kept_.border[q] - kept_.border[q - 1];
    for (int i = 0; i <= m - 2 && i < kSbrMaxEnvelopes; ++i) f->freqRes[i] = kept_.res[i];
    f->pointer = keptTransient_ <= 0 ? 0 : m - keptTransient_;
}

void SbrFrameGenerator::FieldsVarVar(const BorderList& b, int iC, int iT, int nL, SbrGridFields* f) {
    f->frameClass = kVarVar;
    f->varBorder0 = b.border[0];
    f->varBorder1 = b.border[iC];
    f->numRel0 = nL;
    f->numRel1 = iC - nL - 1;
    for (int q = 1; q <= nL && q <= 4; ++q) f->rel0[q - 1] = b.border[q] - b.border[q - 1];
    for (int q = iC, j = 0; q >= iC - f->numRel1 + 1 && j < 4; --q, ++j) f->rel1[j] = b.border[q] - b.border[q - 1];
    for (int i = 0; i < iC && i < kSbrMaxEnvelopes; ++i) f->freqRes[i] = b.res[i];
    f->pointer = (iC < iT || iT == kNoIndex) ? 0 : iC - iT + 1;
}

// Never taken with the fill constants above (every transient sequence yields
// codable grids), but a grid the syntax cannot carry must not reach the
// writer: fall back to one envelope of the same class over the same span, so
// the neighbouring frames still join.
void SbrFrameGenerator::SingleEnvelope(int first, int last, SbrGridFields* f) {
    const int cls = f->frameClass;
    *f = {};
    f->frameClass = cls;
    f->varBorder0 = cls == kFixVar ? std::clamp(last, kSbrTimeSlots, kSbrTimeSlots + 3) : std::clamp(first, 0, 3);
    f->varBorder1 = std::clamp(last, kSbrTimeSlots, kSbrTimeSlots + 3);
    f->freqRes[0] = 1;
}

void SbrFrameGenerator::Generate(const SbrTransientInfo& tr, SbrGridFields* fields, SbrFrameInfo* info) {
    SbrGridFields f = {};
    if (staticFraming_) {
        FieldsFixFix(staticEnvelopes_, &f);
        prevClass_ = kFixFix;
        SbrDeriveFrameInfo(f, info);
        *fields = f;
        return;
    }
    const bool transient = tr.flag != 0;
    int cls;
    if (prevClass_ == kFixFix || prevClass_ == kVarFix) {
        cls = transient ? kFixVar : kFixFix;
    } else if (transient) {
        cls = kVarVar;
        spread_ = false;
    } else {
        cls = spread_ ? kVarVar : kVarFix;
    }

    // The transient segment: two short low-resolution envelopes from the
    // transient on, then a long high-resolution one.
    const int t = tr.position;
    const int tt = t + 4;
    const int cap = t <= 3 ? 6 : (t <= 5 ? 4 : 8);
    BorderList b;
    b.Clear();
    int iC = -1, iT = kNoIndex, nL = 0;
    if (transient) {
        b.Append(tt, 0);
        b.Append(tt + 2, 0);
        b.Append(tt + 6, 1);
    }
    const int bmin = tt, bmax = tt + 6;
    // Span of the frame: it starts where the previous grid ended.
    const int first = cls == kFixFix || cls == kFixVar ? 0 : kept_.border[0];
    int last = kSbrTimeSlots;
    f.frameClass = cls;
    switch (cls) {
        case kFixFix: FieldsFixFix(tr.position != 0 ? 2 : 1, &f); break;
        case kFixVar:
            PreFill(b, bmin, bmin);
            CloseFrame(b, bmax, tt, cap, &iC, &iT);
            FieldsFixVar(b, iC, iT, &f);
            last = b.border[iC];
            break;
        case kVarFix: FieldsVarFix(&f); break;
        default:
            if (!transient) {
                FieldsVarVarSpread(&f);
                last = kept_.border[kept_.n - 1];
            } else {
                InterFill(b, bmin, &nL);
                CloseFrame(b, bmax, tt, cap, &iC, &iT);
                FieldsVarVar(b, iC, iT, nL, &f);
                last = b.border[iC];
            }
            break;
    }
    if (!SbrDeriveFrameInfo(f, info)) {
        SingleEnvelope(first, last, &f);
        SbrDeriveFrameInfo(f, info);
    }
    if (cls == kVarVar && !transient) {
        // The spread frame ends on the last kept border; the next frame starts there.
        const int end = kept_.border[kept_.n - 1];
        spread_ = false;
        kept_.Clear();
        kept_.Append(end - kSbrTimeSlots, 1);
        keptTransient_ = kSpreadNoIndex;
        keptFill_ = kSpreadNoIndex;
    }
    prevClass_ = cls;
    *fields = f;
}

}  // namespace aurivane
