// Block level of the PPMd variant G coder: the parameter word, one model and
// one range coder per call, the end-of-data mark and the size checks.
#include "engine/storage/compression/ppmd/VRXPPMd.h"

#include <algorithm>
#include <memory>
#include <new>

#include "engine/base/VRXBytes.h"
#include "engine/storage/compression/ppmd/VRXPPMdModel.h"
#include "engine/storage/compression/ppmd/VRXPPMdRangeCoder.h"

namespace vrx {

namespace {

constexpr size_t kWordSize = 4;

std::unique_ptr<ppmd::Model> MakeModel(const PPMdParameters& params) {
  try {
    return std::make_unique<ppmd::Model>(params.order,
                                         static_cast<uint32_t>(params.memoryMB) << 20);
  } catch (const std::bad_alloc&) {
    throw EPPMdError("Not enough memory for the PPM model");
  }
}

}  // namespace

uint32_t PPMdParameterWord(int order, int memoryMB) {
  if (order < kPPMdMinOrder || order > kPPMdMaxOrder) {
    throw EPPMdError("PPM model order out of range");
  }
  if (memoryMB < kPPMdMinMemoryMB || memoryMB > kPPMdMaxMemoryMB) {
    throw EPPMdError("PPM model memory out of range");
  }
  return (static_cast<uint32_t>(memoryMB - 1) << 4) | static_cast<uint32_t>(order - 1) |
         (kPPMdVariantG << 12);
}

PPMdParameters PPMdParseParameterWord(uint32_t word) {
  if ((word >> 12) != kPPMdVariantG) throw EPPMdError("Not a PPMd variant G parameter word");
  PPMdParameters params;
  params.order = static_cast<int>(word & 0x0F) + 1;
  params.memoryMB = static_cast<int>((word >> 4) & 0xFF) + 1;
  if (params.order < kPPMdMinOrder) throw EPPMdError("PPM model order out of range");
  return params;
}

std::vector<uint8_t> PPMdCompress(const uint8_t* data, size_t size, int order, int memoryMB,
                                  size_t maxOutputSize) {
  const uint32_t word = PPMdParameterWord(order, memoryMB);
  if (maxOutputSize < kWordSize) throw EPPMdError("PPM output exceeds the output limit");
  std::vector<uint8_t> out;
  out.reserve(std::min(maxOutputSize, size + size / 16 + 64));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));

  std::unique_ptr<ppmd::Model> model = MakeModel(PPMdParameters{order, memoryMB});
  ppmd::RangeEncoder rc(out, maxOutputSize);
  for (size_t i = 0; i < size; ++i) model->EncodeSymbol(rc, data[i]);
  model->EncodeSymbol(rc, -1);
  rc.Flush();
  return out;
}

std::vector<uint8_t> PPMdDecompress(const uint8_t* data, size_t size, size_t expectedSize,
                                    bool allowShorter) {
  if (size < kWordSize) throw EPPMdError("PPM data too short");
  const uint32_t word = bytes::LoadU32(data);
  const PPMdParameters params = PPMdParseParameterWord(word);

  ppmd::RangeDecoder rc(data + kWordSize, size - kWordSize);
  std::unique_ptr<ppmd::Model> model = MakeModel(params);
  std::vector<uint8_t> out;
  // The expected size comes from stored headers: do not trust it for a
  // large reservation up front.
  out.reserve(std::min(expectedSize, size_t(16) << 20));
  for (;;) {
    const int symbol = model->DecodeSymbol(rc);
    if (symbol < 0) {
      if (!rc.EndsCleanly()) throw EPPMdError("PPM data is damaged");
      break;
    }
    if (out.size() == expectedSize) throw EPPMdError("PPM data decodes to more bytes than expected");
    out.push_back(static_cast<uint8_t>(symbol));
  }
  if (out.size() != expectedSize && !allowShorter) {
    throw EPPMdError("PPM data decodes to fewer bytes than expected");
  }
  return out;
}

}  // namespace vrx
