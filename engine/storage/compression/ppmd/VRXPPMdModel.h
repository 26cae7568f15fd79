// The PPMII context model of the PPMd variant G coder, with its sub-allocator.
// One object serves one coding (compression or decompression of one block);
// VRXPPMd.cpp creates it, feeds it symbols and throws it away.
//
// Model memory layout (all references are 32-bit offsets from the start of
// the allocation, 0 meaning none):
//   [kHeapOffset, unitsStart_)  text area: the symbols seen so far, growing up
//                               from text_; a state whose successor points
//                               here has no context of its own yet
//   [unitsStart_, heapEnd_)     12-byte units: contexts and state arrays,
//                               taken from loUnit_ upwards and (contexts)
//                               from hiUnit_ downwards, freed units kept in
//                               38 size-class lists
//   [heapEnd_, +12)             a zeroed guard unit for merging free blocks
// When no unit or text byte is left the model restarts from scratch, as the
// published variant does.
//
// Invariants the coding relies on: every symbol of a context is also in its
// suffix context; the order-0 context holds all 256 symbols and has no
// suffix; a context's SummFreq exceeds the sum of its state frequencies.
// Defensive checks throw EPPMdError rather than read past a context's states
// should one of them ever fail, so damaged input cannot turn into an access
// outside the model memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/storage/compression/ppmd/VRXPPMdRangeCoder.h"

namespace vrx::ppmd {

inline constexpr unsigned kUnitSize = 12;
inline constexpr unsigned kNumIndexes = 38;  // size classes of free unit blocks

// A symbol of a context: 6 bytes, two to a unit.
struct State {
  uint8_t symbol;
  uint8_t freq;
  uint16_t successorLow;
  uint16_t successorHigh;
};

// A context: one unit. A context with one state keeps it in place of
// summFreq and stats (see OneState).
struct Context {
  uint16_t numStats;
  uint16_t summFreq;
  uint32_t stats;
  uint32_t suffix;
};

// Secondary escape estimation cell.
struct See {
  uint16_t summ;
  uint8_t shift;
  uint8_t count;
};

static_assert(sizeof(State) == 6 && sizeof(Context) == kUnitSize && sizeof(See) == 4);

class Model {
 public:
  // Allocates memorySize bytes of model memory (throws std::bad_alloc) and
  // starts the model. maxOrder is 2..16.
  Model(int maxOrder, uint32_t memorySize);
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Codes one byte (0..255) or, with -1, the end-of-data escape.
  void EncodeSymbol(RangeEncoder& rc, int symbol);
  // Decodes one byte, or returns -1 at the end-of-data escape. Throws
  // EPPMdError on data the model could not have produced.
  int DecodeSymbol(RangeDecoder& rc);

 private:
  // --- addressing ---
  uint8_t* At(uint32_t ref) const { return base_ + ref; }
  uint32_t Ref(const void* p) const {
    return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - base_);
  }
  Context* Ctx(uint32_t ref) const { return reinterpret_cast<Context*>(base_ + ref); }
  State* Stats(const Context* c) const { return reinterpret_cast<State*>(base_ + c->stats); }
  static State* OneState(Context* c) { return reinterpret_cast<State*>(&c->summFreq); }
  static uint32_t Successor(const State* s) {
    return s->successorLow | (static_cast<uint32_t>(s->successorHigh) << 16);
  }
  static void SetSuccessor(State* s, uint32_t ref) {
    s->successorLow = static_cast<uint16_t>(ref);
    s->successorHigh = static_cast<uint16_t>(ref >> 16);
  }
  // Starts loading the context (or text) that follows state s while the
  // range coder works: the next symbol is coded there.
  void Prefetch(const State* s) const { __builtin_prefetch(base_ + Successor(s)); }
  // The state of `symbol` in multi-state context c; throws when missing.
  State* FindState(Context* c, unsigned symbol) const;

  // --- sub-allocator ---
  void InsertNode(uint32_t node, unsigned indx);
  uint32_t RemoveNode(unsigned indx);
  void SplitBlock(uint32_t block, unsigned oldIndx, unsigned newIndx);
  void GlueFreeBlocks();
  uint32_t AllocUnitsRare(unsigned indx);
  uint32_t AllocUnits(unsigned indx);
  uint32_t AllocContext();
  uint32_t ShrinkUnits(uint32_t oldRef, unsigned oldNU, unsigned newNU);

  // --- model ---
  void RestartModel();
  uint32_t CreateSuccessors(bool skip);
  void UpdateModel();
  void Rescale();
  void NextContext();
  void Update1();
  void Update1First();
  void Update2();
  void UpdateBin();
  uint16_t* BinSumm();
  See* MakeEscFreq(unsigned numMasked, unsigned nonMasked, uint32_t* escFreq);
  static void SeeUpdate(See* see);
  // charMask_ holds 0xFF for a symbol still open in the current escape
  // sequence and 0 for one excluded: the scans of a suffix context add
  // `freq & mask` without a branch per state.
  void BeginMasking() { std::memset(charMask_, 0xFF, sizeof charMask_); }
  void Mask(unsigned symbol) { charMask_[symbol] = 0; }
  void MaskAll(Context* c);

  std::unique_ptr<uint8_t[]> memory_;
  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t heapStart_ = 0;
  uint32_t heapEnd_ = 0;
  uint32_t text_ = 0;
  uint32_t unitsStart_ = 0;
  uint32_t loUnit_ = 0;
  uint32_t hiUnit_ = 0;
  uint32_t glueCount_ = 0;
  uint32_t freeList_[kNumIndexes] = {};

  Context* minContext_ = nullptr;
  Context* maxContext_ = nullptr;
  State* foundState_ = nullptr;
  int maxOrder_ = 0;
  int orderFall_ = 0;
  int64_t runLength_ = 0;
  int64_t initRL_ = 0;
  unsigned initEsc_ = 0;
  unsigned prevSuccess_ = 0;
  unsigned hiBitsFlag_ = 0;
  uint8_t charMask_[256] = {};
  uint16_t binSumm_[128][64] = {};
  See see_[25][16] = {};
  See dummySee_ = {};
};

}  // namespace vrx::ppmd
