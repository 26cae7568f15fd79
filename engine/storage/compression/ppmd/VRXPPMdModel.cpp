// PPMII model of the PPMd variant G coder. See VRXPPMdModel.h for the memory
// layout and the invariants. Encoder and decoder run the same model code on
// the same symbols, so every decision below must depend only on the model
// state and the symbol, never on which side is running.
#include "engine/storage/compression/ppmd/VRXPPMdModel.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace vrx::ppmd {

namespace {

constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
// Offset 0 stays unused so that a reference of 0 means "none".
constexpr uint32_t kHeapOffset = kUnitSize;
// Longest suffix chain CreateSuccessors may walk (orders are at most 16).
constexpr unsigned kMaxChain = 64;
constexpr uint16_t kFreeStamp = 0xFFFF;

constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3,
                                     0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

struct Tables {
  uint8_t indx2Units[kNumIndexes];
  uint8_t units2Indx[128];
  uint8_t ns2Indx[256];    // SEE row by the number of symbols left unmasked
  uint8_t ns2BsIndx[256];  // binary-context column by the suffix's symbol count
  uint8_t hb2Flag[256];    // 8 for symbols 0x40 and up
};

constexpr Tables MakeTables() {
  Tables t{};
  unsigned k = 0;
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    for (unsigned step = i >= 12 ? 4 : (i >> 2) + 1; step != 0; --step) {
      t.units2Indx[k++] = static_cast<uint8_t>(i);
    }
    t.indx2Units[i] = static_cast<uint8_t>(k);
  }
  t.ns2BsIndx[0] = 0;
  t.ns2BsIndx[1] = 2;
  for (unsigned i = 2; i < 11; ++i) t.ns2BsIndx[i] = 4;
  for (unsigned i = 11; i < 256; ++i) t.ns2BsIndx[i] = 6;
  for (unsigned i = 0; i < 3; ++i) t.ns2Indx[i] = static_cast<uint8_t>(i);
  for (unsigned i = 3, m = 3, step = 1; i < 256; ++i) {
    t.ns2Indx[i] = static_cast<uint8_t>(m);
    if (--step == 0) step = ++m - 2;
  }
  for (unsigned i = 0; i < 256; ++i) t.hb2Flag[i] = i < 0x40 ? 0 : 8;
  return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables.indx2Units[kNumIndexes - 1] == 128);
static_assert(kTables.ns2Indx[255] == 24);

constexpr unsigned I2U(unsigned indx) { return kTables.indx2Units[indx]; }
constexpr unsigned U2I(unsigned nu) { return kTables.units2Indx[nu - 1]; }
constexpr uint32_t U2B(unsigned nu) { return nu * kUnitSize; }

// A free block of units as the sub-allocator sees it.
struct FreeNode {
  uint16_t stamp;     // kFreeStamp while gluing
  uint16_t nu;        // units, while gluing
  uint32_t next;      // free-list link
  uint32_t glueNext;  // list of all free blocks, while gluing
};
static_assert(sizeof(FreeNode) == kUnitSize);

constexpr unsigned GetMean(unsigned prob) { return (prob + (1u << (kPeriodBits - 2))) >> kPeriodBits; }

[[noreturn]] void ThrowInconsistent() { throw EPPMdError("PPM model is inconsistent"); }
[[noreturn]] void ThrowDamaged() { throw EPPMdError("PPM data is damaged"); }

}  // namespace

Model::Model(int maxOrder, uint32_t memorySize) : size_(memorySize), maxOrder_(maxOrder) {
  heapStart_ = kHeapOffset;
  heapEnd_ = heapStart_ + size_;
  // Not value-initialised: the model touches only the memory it uses.
  memory_.reset(new uint8_t[heapEnd_ + kUnitSize]);
  base_ = memory_.get();
  std::memset(base_, 0, heapStart_);
  std::memset(At(heapEnd_), 0, kUnitSize);  // guard: never reads as a free block
  dummySee_ = See{0, kPeriodBits, 64};
  RestartModel();
}

State* Model::FindState(Context* c, unsigned symbol) const {
  State* s = Stats(c);
  for (unsigned i = c->numStats; i != 0; --i, ++s) {
    if (s->symbol == symbol) return s;
  }
  ThrowInconsistent();
}

// ---------------------------------------------------------------------------
// Sub-allocator

void Model::InsertNode(uint32_t node, unsigned indx) {
  reinterpret_cast<FreeNode*>(At(node))->next = freeList_[indx];
  freeList_[indx] = node;
}

uint32_t Model::RemoveNode(unsigned indx) {
  uint32_t node = freeList_[indx];
  freeList_[indx] = reinterpret_cast<FreeNode*>(At(node))->next;
  return node;
}

// Keeps the first I2U(newIndx) units of a block of class oldIndx in use and
// returns the rest to the free lists.
void Model::SplitBlock(uint32_t block, unsigned oldIndx, unsigned newIndx) {
  unsigned nu = I2U(oldIndx) - I2U(newIndx);
  uint32_t rest = block + U2B(I2U(newIndx));
  unsigned i = U2I(nu);
  if (I2U(i) != nu) {
    unsigned k = I2U(--i);
    InsertNode(rest + U2B(k), nu - k - 1);
  }
  InsertNode(rest, i);
}

// Merges neighbouring free blocks and files them again by size. The used
// blocks and free blocks tile [unitsStart_, loUnit_) and [hiUnit_, heapEnd_);
// a used block never starts with kFreeStamp (a context starts with its
// symbol count, a state array with a symbol and a frequency below 255), the
// gap at loUnit_ and the guard unit at heapEnd_ are stamped 0.
void Model::GlueFreeBlocks() {
  if (loUnit_ != hiUnit_) reinterpret_cast<FreeNode*>(At(loUnit_))->stamp = 0;
  uint32_t head = 0;
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    for (uint32_t n = freeList_[i]; n != 0;) {
      FreeNode* f = reinterpret_cast<FreeNode*>(At(n));
      uint32_t next = f->next;
      f->stamp = kFreeStamp;
      f->nu = static_cast<uint16_t>(I2U(i));
      f->glueNext = head;
      head = n;
      n = next;
    }
    freeList_[i] = 0;
  }
  for (uint32_t n = head; n != 0;) {
    FreeNode* f = reinterpret_cast<FreeNode*>(At(n));
    if (f->stamp == kFreeStamp) {
      for (;;) {
        FreeNode* g = reinterpret_cast<FreeNode*>(At(n + U2B(f->nu)));
        if (g->stamp != kFreeStamp || unsigned(f->nu) + g->nu >= 0x10000) break;
        f->nu = static_cast<uint16_t>(f->nu + g->nu);
        g->stamp = 0;  // absorbed; skipped below
      }
    }
    n = f->glueNext;
  }
  for (uint32_t n = head; n != 0;) {
    FreeNode* f = reinterpret_cast<FreeNode*>(At(n));
    uint32_t nextGlue = f->glueNext;
    if (f->stamp == kFreeStamp) {
      unsigned sz = f->nu;
      uint32_t p = n;
      for (; sz > 128; sz -= 128, p += U2B(128)) InsertNode(p, kNumIndexes - 1);
      unsigned i = U2I(sz);
      if (I2U(i) != sz) {
        unsigned k = sz - I2U(--i);
        InsertNode(p + U2B(sz - k), k - 1);
      }
      InsertNode(p, i);
    }
    n = nextGlue;
  }
}

uint32_t Model::AllocUnitsRare(unsigned indx) {
  if (glueCount_ == 0) {
    glueCount_ = 255;
    GlueFreeBlocks();
    if (freeList_[indx] != 0) return RemoveNode(indx);
  }
  unsigned i = indx;
  do {
    if (++i == kNumIndexes) {
      uint32_t numBytes = U2B(I2U(indx));
      --glueCount_;
      if (unitsStart_ - text_ > numBytes) {
        unitsStart_ -= numBytes;
        return unitsStart_;
      }
      return 0;
    }
  } while (freeList_[i] == 0);
  uint32_t block = RemoveNode(i);
  SplitBlock(block, i, indx);
  return block;
}

uint32_t Model::AllocUnits(unsigned indx) {
  if (freeList_[indx] != 0) return RemoveNode(indx);
  uint32_t numBytes = U2B(I2U(indx));
  if (numBytes <= hiUnit_ - loUnit_) {
    uint32_t block = loUnit_;
    loUnit_ += numBytes;
    return block;
  }
  return AllocUnitsRare(indx);
}

uint32_t Model::AllocContext() {
  if (hiUnit_ != loUnit_) return hiUnit_ -= kUnitSize;
  if (freeList_[0] != 0) return RemoveNode(0);
  return AllocUnitsRare(0);
}

uint32_t Model::ShrinkUnits(uint32_t oldRef, unsigned oldNU, unsigned newNU) {
  unsigned i0 = U2I(oldNU);
  unsigned i1 = U2I(newNU);
  if (i0 == i1) return oldRef;
  if (freeList_[i1] != 0) {
    uint32_t block = RemoveNode(i1);
    std::memcpy(At(block), At(oldRef), U2B(newNU));
    InsertNode(oldRef, i0);
    return block;
  }
  SplitBlock(oldRef, i0, i1);
  return oldRef;
}

// ---------------------------------------------------------------------------
// Model

void Model::RestartModel() {
  std::fill(std::begin(freeList_), std::end(freeList_), 0u);
  text_ = heapStart_;
  hiUnit_ = heapEnd_;
  loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
  glueCount_ = 0;

  orderFall_ = maxOrder_;
  runLength_ = initRL_ = -static_cast<int64_t>(maxOrder_ < 12 ? maxOrder_ : 12) - 1;
  prevSuccess_ = 0;

  hiUnit_ -= kUnitSize;
  minContext_ = maxContext_ = Ctx(hiUnit_);
  minContext_->suffix = 0;
  minContext_->numStats = 256;
  minContext_->summFreq = 256 + 1;
  minContext_->stats = loUnit_;
  foundState_ = Stats(minContext_);
  loUnit_ += U2B(256 / 2);
  for (unsigned i = 0; i < 256; ++i) {
    State* s = foundState_ + i;
    s->symbol = static_cast<uint8_t>(i);
    s->freq = 1;
    SetSuccessor(s, 0);
  }

  for (unsigned i = 0; i < 128; ++i) {
    for (unsigned k = 0; k < 8; ++k) {
      uint16_t value = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
      for (unsigned m = 0; m < 64; m += 8) binSumm_[i][k + m] = value;
    }
  }
  for (unsigned i = 0; i < 25; ++i) {
    for (unsigned k = 0; k < 16; ++k) {
      see_[i][k] = See{static_cast<uint16_t>((5 * i + 10) << (kPeriodBits - 4)),
                       static_cast<uint8_t>(kPeriodBits - 4), 4};
    }
  }
}

// Creates the missing contexts along the suffix chain for the symbol just
// coded, so that the next symbol can be predicted from its longest context.
// Returns the deepest context, or 0 when the memory is used up.
uint32_t Model::CreateSuccessors(bool skip) {
  Context* c = minContext_;
  const unsigned symbol = foundState_->symbol;
  const uint32_t upBranch = Successor(foundState_);
  State* ps[kMaxChain];
  unsigned numPs = 0;
  if (!skip) ps[numPs++] = foundState_;
  while (c->suffix != 0) {
    c = Ctx(c->suffix);
    State* s;
    if (c->numStats != 1) {
      s = FindState(c, symbol);
    } else {
      s = OneState(c);
      if (s->symbol != symbol) ThrowInconsistent();
    }
    uint32_t successor = Successor(s);
    if (successor != upBranch) {
      if (successor < unitsStart_ || successor >= heapEnd_) ThrowInconsistent();
      c = Ctx(successor);
      if (numPs == 0) return successor;
      break;
    }
    if (numPs == kMaxChain) ThrowInconsistent();
    ps[numPs++] = s;
  }
  if (upBranch <= heapStart_ || upBranch >= unitsStart_) ThrowInconsistent();

  // The new contexts start with the symbol that followed this context in
  // the text, with a frequency inherited from the context they hang on.
  State upState;
  upState.symbol = *At(upBranch);
  SetSuccessor(&upState, upBranch + 1);
  if (c->numStats == 1) {
    upState.freq = OneState(c)->freq;
  } else {
    State* s = FindState(c, upState.symbol);
    uint32_t cf = s->freq - 1u;
    uint32_t s0 = c->summFreq - c->numStats - cf;
    if (s0 == 0) ThrowInconsistent();
    upState.freq = static_cast<uint8_t>(
        1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0))));
  }
  while (numPs != 0) {
    uint32_t ref = AllocContext();
    if (ref == 0) return 0;
    Context* c1 = Ctx(ref);
    c1->numStats = 1;
    *OneState(c1) = upState;
    c1->suffix = Ref(c);
    SetSuccessor(ps[--numPs], ref);
    c = c1;
  }
  return Ref(c);
}

void Model::UpdateModel() {
  State* fs = foundState_;
  const unsigned symbol = fs->symbol;
  uint32_t fSuccessor = Successor(fs);

  // Information inheritance: the symbol gains weight in the suffix too.
  if (fs->freq < kMaxFreq / 4 && minContext_->suffix != 0) {
    Context* c = Ctx(minContext_->suffix);
    if (c->numStats == 1) {
      State* s = OneState(c);
      if (s->freq < 32) ++s->freq;
    } else {
      State* s = Stats(c);
      if (s->symbol != symbol) {
        s = FindState(c, symbol);
        if (s[0].freq >= s[-1].freq) {
          std::swap(s[0], s[-1]);
          --s;
        }
      }
      if (s->freq < kMaxFreq - 9) {
        s->freq = static_cast<uint8_t>(s->freq + 2);
        c->summFreq = static_cast<uint16_t>(c->summFreq + 2);
      }
    }
  }

  if (orderFall_ == 0) {
    uint32_t ctx = CreateSuccessors(true);
    if (ctx == 0) {
      RestartModel();
      return;
    }
    minContext_ = maxContext_ = Ctx(ctx);
    SetSuccessor(foundState_, ctx);
    return;
  }

  base_[text_++] = static_cast<uint8_t>(symbol);
  uint32_t successor = text_;
  if (text_ >= unitsStart_) {
    RestartModel();
    return;
  }

  if (fSuccessor != 0) {
    if (fSuccessor <= successor) {  // still a text position: build its contexts
      uint32_t ctx = CreateSuccessors(false);
      if (ctx == 0) {
        RestartModel();
        return;
      }
      fSuccessor = ctx;
    }
    if (--orderFall_ == 0) {
      successor = fSuccessor;
      text_ -= (maxContext_ != minContext_);
    }
  } else {
    SetSuccessor(foundState_, successor);
    fSuccessor = Ref(minContext_);
  }

  // Add the symbol to every context above the one where it was found.
  const unsigned ns = minContext_->numStats;
  const uint32_t s0 = minContext_->summFreq - ns - (foundState_->freq - 1u);
  for (Context* c = maxContext_; c != minContext_; c = Ctx(c->suffix)) {
    unsigned ns1 = c->numStats;
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {
        unsigned oldNU = ns1 >> 1;
        unsigned i = U2I(oldNU);
        if (i != U2I(oldNU + 1)) {
          uint32_t block = AllocUnits(i + 1);
          if (block == 0) {
            RestartModel();
            return;
          }
          std::memcpy(At(block), At(c->stats), U2B(oldNU));
          InsertNode(c->stats, i);
          c->stats = block;
        }
      }
      c->summFreq = static_cast<uint16_t>(
          c->summFreq + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (c->summFreq <= 8 * ns1)));
    } else {
      uint32_t block = AllocUnits(0);
      if (block == 0) {
        RestartModel();
        return;
      }
      State* s = reinterpret_cast<State*>(At(block));
      *s = *OneState(c);
      c->stats = block;
      if (s->freq < kMaxFreq / 4 - 1) {
        s->freq = static_cast<uint8_t>(s->freq << 1);
      } else {
        s->freq = kMaxFreq - 4;
      }
      c->summFreq = static_cast<uint16_t>(s->freq + initEsc_ + (ns > 3));
    }
    uint32_t cf = 2 * uint32_t(foundState_->freq) * (c->summFreq + 6u);
    uint32_t sf = s0 + c->summFreq;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      c->summFreq = static_cast<uint16_t>(c->summFreq + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      c->summFreq = static_cast<uint16_t>(c->summFreq + cf);
    }
    State* s = Stats(c) + ns1;
    SetSuccessor(s, successor);
    s->symbol = static_cast<uint8_t>(symbol);
    s->freq = static_cast<uint8_t>(cf);
    c->numStats = static_cast<uint16_t>(ns1 + 1);
    if (c->suffix == 0) ThrowInconsistent();
  }
  maxContext_ = minContext_ = Ctx(fSuccessor);
}

// Halves the frequencies of the current context (keeping them sorted, the
// found state first) and drops states whose frequency reaches 0.
void Model::Rescale() {
  Context* mc = minContext_;
  State* stats = Stats(mc);
  State* s = foundState_;
  {
    State tmp = *s;
    for (; s != stats; --s) s[0] = s[-1];
    *s = tmp;
  }
  unsigned escFreq = mc->summFreq - s->freq;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  const unsigned adder = orderFall_ != 0;
  s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
  unsigned sumFreq = s->freq;

  for (unsigned i = mc->numStats - 1u; i != 0; --i) {
    escFreq -= (++s)->freq;
    s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
    sumFreq += s->freq;
    if (s[0].freq > s[-1].freq) {
      State* s1 = s;
      State tmp = *s1;
      do {
        s1[0] = s1[-1];
      } while (--s1 != stats && tmp.freq > s1[-1].freq);
      *s1 = tmp;
    }
  }

  if (s->freq == 0) {
    const unsigned numStats = mc->numStats;
    unsigned removed = 0;
    do {
      ++removed;
    } while ((--s)->freq == 0);
    escFreq += removed;
    mc->numStats = static_cast<uint16_t>(numStats - removed);
    if (mc->numStats == 1) {
      State tmp = *stats;
      do {
        tmp.freq = static_cast<uint8_t>(tmp.freq - (tmp.freq >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      InsertNode(mc->stats, U2I((numStats + 1) >> 1));
      *(foundState_ = OneState(mc)) = tmp;
      return;
    }
    unsigned n0 = (numStats + 1) >> 1;
    unsigned n1 = (mc->numStats + 1u) >> 1;
    if (n0 != n1) mc->stats = ShrinkUnits(mc->stats, n0, n1);
  }
  mc->summFreq = static_cast<uint16_t>(sumFreq + escFreq - (escFreq >> 1));
  foundState_ = Stats(mc);
}

void Model::NextContext() {
  uint32_t c = Successor(foundState_);
  if (orderFall_ == 0 && c > text_) {
    minContext_ = maxContext_ = Ctx(c);
  } else {
    UpdateModel();
  }
}

// Found a state other than the first of a multi-state context.
void Model::Update1() {
  State* s = foundState_;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  minContext_->summFreq = static_cast<uint16_t>(minContext_->summFreq + 4);
  if (s[0].freq > s[-1].freq) {
    std::swap(s[0], s[-1]);
    foundState_ = --s;
    if (s->freq > kMaxFreq) Rescale();
  }
  NextContext();
}

// Found the first (most probable) state of a multi-state context.
void Model::Update1First() {
  prevSuccess_ = 2u * foundState_->freq > minContext_->summFreq;
  runLength_ += prevSuccess_;
  minContext_->summFreq = static_cast<uint16_t>(minContext_->summFreq + 4);
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + 4);
  if (foundState_->freq > kMaxFreq) Rescale();
  NextContext();
}

// Found after one or more escapes.
void Model::Update2() {
  minContext_->summFreq = static_cast<uint16_t>(minContext_->summFreq + 4);
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + 4);
  if (foundState_->freq > kMaxFreq) Rescale();
  runLength_ = initRL_;
  UpdateModel();
}

// Found the only state of a binary context.
void Model::UpdateBin() {
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + (foundState_->freq < 128));
  prevSuccess_ = 1;
  ++runLength_;
  NextContext();
}

uint16_t* Model::BinSumm() {
  State* s = OneState(minContext_);
  hiBitsFlag_ = kTables.hb2Flag[foundState_->symbol];
  return &binSumm_[s->freq - 1u][prevSuccess_ + kTables.ns2BsIndx[Ctx(minContext_->suffix)->numStats - 1u] +
                                 hiBitsFlag_ + 2u * kTables.hb2Flag[s->symbol] +
                                 (runLength_ < 0 ? 0x20u : 0u)];
}

// The escape frequency of the current context after `numMasked` of its
// symbols were excluded, from the SEE cell that fits its situation.
See* Model::MakeEscFreq(unsigned numMasked, unsigned nonMasked, uint32_t* escFreq) {
  Context* mc = minContext_;
  if (mc->numStats == 256) {
    *escFreq = 1;
    return &dummySee_;
  }
  int suffixStats = mc->suffix != 0 ? Ctx(mc->suffix)->numStats : 256;
  See* see = &see_[kTables.ns2Indx[nonMasked - 1]]
                  [(static_cast<int>(nonMasked) < suffixStats - mc->numStats) +
                   2u * (mc->summFreq < 11u * mc->numStats) + 4u * (numMasked > nonMasked) +
                   hiBitsFlag_];
  unsigned r = see->summ >> see->shift;
  see->summ = static_cast<uint16_t>(see->summ - r);
  *escFreq = r + (r == 0);
  return see;
}

void Model::SeeUpdate(See* see) {
  if (see->shift < kPeriodBits && --see->count == 0) {
    see->summ = static_cast<uint16_t>(see->summ << 1);
    see->count = static_cast<uint8_t>(3 << see->shift++);
  }
}

void Model::MaskAll(Context* c) {
  State* s = Stats(c);
  for (unsigned i = c->numStats; i != 0; --i, ++s) Mask(s->symbol);
}

// ---------------------------------------------------------------------------
// Coding

void Model::EncodeSymbol(RangeEncoder& rc, int symbol) {
  Context* mc = minContext_;
  if (mc->numStats != 1) {
    State* s = Stats(mc);
    if (s->symbol == symbol) {
      Prefetch(s);
      rc.Encode(0, s->freq, mc->summFreq);
      foundState_ = s;
      Update1First();
      return;
    }
    prevSuccess_ = 0;
    uint32_t sum = s->freq;
    for (unsigned i = mc->numStats - 1u; i != 0; --i) {
      if ((++s)->symbol == symbol) {
        Prefetch(s);
        rc.Encode(sum, s->freq, mc->summFreq);
        foundState_ = s;
        Update1();
        return;
      }
      sum += s->freq;
    }
    hiBitsFlag_ = kTables.hb2Flag[foundState_->symbol];
    rc.Encode(sum, mc->summFreq - sum, mc->summFreq);
    BeginMasking();
    MaskAll(mc);
  } else {
    uint16_t* prob = BinSumm();
    State* s = OneState(mc);
    if (s->symbol == symbol) {
      Prefetch(s);
      rc.EncodeBit0(*prob);
      *prob = static_cast<uint16_t>(*prob + (1u << kIntBits) - GetMean(*prob));
      foundState_ = s;
      UpdateBin();
      return;
    }
    rc.EncodeBit1(*prob);
    *prob = static_cast<uint16_t>(*prob - GetMean(*prob));
    initEsc_ = kExpEscape[*prob >> 10];
    BeginMasking();
    Mask(s->symbol);
    prevSuccess_ = 0;
  }

  for (;;) {
    const unsigned numMasked = minContext_->numStats;
    do {
      ++orderFall_;
      if (minContext_->suffix == 0) {
        // Escaping from the order-0 context is the end-of-data mark; a byte
        // always exists there.
        if (symbol >= 0) ThrowInconsistent();
        return;
      }
      minContext_ = Ctx(minContext_->suffix);
    } while (minContext_->numStats == numMasked);

    mc = minContext_;
    // The coded symbol is never masked: it was in none of the contexts
    // escaped from. So the first loop stops at it without looking at the
    // mask, and the second only sums up the rest.
    State* s = Stats(mc);
    const State* const end = s + mc->numStats;
    State* found = nullptr;
    uint32_t low = 0;
    uint32_t sum = 0;
    unsigned nonMasked = 0;
    for (; s != end; ++s) {
      const unsigned keep = charMask_[s->symbol];
      if (s->symbol == symbol) {
        found = s;
        low = sum;
        break;
      }
      sum += s->freq & keep;
      nonMasked += keep & 1;
    }
    for (; s != end; ++s) {
      const unsigned keep = charMask_[s->symbol];
      sum += s->freq & keep;
      nonMasked += keep & 1;
    }
    if (nonMasked == 0) continue;
    uint32_t escFreq;
    See* see = MakeEscFreq(mc->numStats - nonMasked, nonMasked, &escFreq);
    const uint32_t total = sum + escFreq;
    if (found != nullptr) {
      Prefetch(found);
      rc.Encode(low, found->freq, total);
      SeeUpdate(see);
      foundState_ = found;
      Update2();
      return;
    }
    rc.Encode(sum, escFreq, total);
    see->summ = static_cast<uint16_t>(see->summ + total);
    MaskAll(mc);
  }
}

int Model::DecodeSymbol(RangeDecoder& rc) {
  Context* mc = minContext_;
  if (mc->numStats != 1) {
    State* s = Stats(mc);
    const uint32_t count = rc.GetThreshold(mc->summFreq);
    uint32_t hiCnt = s->freq;
    if (count < hiCnt) {
      Prefetch(s);
      rc.Decode(0, s->freq);
      foundState_ = s;
      const int symbol = s->symbol;
      Update1First();
      return symbol;
    }
    prevSuccess_ = 0;
    for (unsigned i = mc->numStats - 1u; i != 0; --i) {
      if ((hiCnt += (++s)->freq) > count) {
        Prefetch(s);
        rc.Decode(hiCnt - s->freq, s->freq);
        foundState_ = s;
        const int symbol = s->symbol;
        Update1();
        return symbol;
      }
    }
    if (count >= mc->summFreq) ThrowDamaged();
    hiBitsFlag_ = kTables.hb2Flag[foundState_->symbol];
    rc.Decode(hiCnt, mc->summFreq - hiCnt);
    BeginMasking();
    MaskAll(mc);
  } else {
    uint16_t* prob = BinSumm();
    State* s = OneState(mc);
    const uint32_t count = rc.GetBinThreshold();
    if (count < *prob) {
      Prefetch(s);
      rc.DecodeBit0(*prob);
      *prob = static_cast<uint16_t>(*prob + (1u << kIntBits) - GetMean(*prob));
      foundState_ = s;
      const int symbol = s->symbol;
      UpdateBin();
      return symbol;
    }
    if (count >= kBinScale) ThrowDamaged();
    rc.DecodeBit1(*prob);
    *prob = static_cast<uint16_t>(*prob - GetMean(*prob));
    initEsc_ = kExpEscape[*prob >> 10];
    BeginMasking();
    Mask(s->symbol);
    prevSuccess_ = 0;
  }

  State* ps[256];
  for (;;) {
    const unsigned numMasked = minContext_->numStats;
    do {
      ++orderFall_;
      if (minContext_->suffix == 0) return -1;  // end-of-data mark
      minContext_ = Ctx(minContext_->suffix);
    } while (minContext_->numStats == numMasked);

    mc = minContext_;
    // Every state is written to ps, only the open ones advance the count;
    // ps has room for one state of each symbol.
    if (mc->numStats > std::size(ps)) ThrowInconsistent();
    State* s = Stats(mc);
    uint32_t sum = 0;
    unsigned nonMasked = 0;
    for (unsigned i = mc->numStats; i != 0; --i, ++s) {
      const unsigned keep = charMask_[s->symbol];
      ps[nonMasked] = s;
      sum += s->freq & keep;
      nonMasked += keep & 1;
    }
    if (nonMasked == 0) continue;
    uint32_t escFreq;
    See* see = MakeEscFreq(mc->numStats - nonMasked, nonMasked, &escFreq);
    const uint32_t total = sum + escFreq;
    const uint32_t count = rc.GetThreshold(total);
    if (count < sum) {
      unsigned k = 0;
      uint32_t hiCnt = ps[0]->freq;
      while (hiCnt <= count) hiCnt += ps[++k]->freq;
      s = ps[k];
      Prefetch(s);
      rc.Decode(hiCnt - s->freq, s->freq);
      SeeUpdate(see);
      foundState_ = s;
      const int symbol = s->symbol;
      Update2();
      return symbol;
    }
    if (count >= total) ThrowDamaged();
    rc.Decode(sum, escFreq);
    see->summ = static_cast<uint16_t>(see->summ + total);
    for (unsigned k = 0; k < nonMasked; ++k) Mask(ps[k]->symbol);
  }
}

}  // namespace vrx::ppmd
