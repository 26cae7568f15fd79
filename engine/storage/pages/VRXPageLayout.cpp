#include "engine/storage/pages/VRXPageLayout.h"

#include <bit>
#include <cstring>

#include "engine/base/VRXExcept.h"

namespace vrx {


namespace {
// Main header field offsets.
constexpr int kSizeField = 16;
constexpr int kVersionField = 18;
constexpr int kPageSizeField = 26;
constexpr int kExtentSizeField = 28;
constexpr int kTotalPagesField = 30;
constexpr int kLastUsedField = 34;
constexpr int kCommitCounterField = 38;
constexpr int kStateField = 42;
constexpr int kEncryptedField = 43;
constexpr int kReservedField = 44;
}  // namespace

TVRXMainHeader TVRXMainHeader::Fresh(uint16_t pageSize, uint16_t extentSize) {
  TVRXMainHeader header;
  std::memcpy(header.signature.data(), kDatabaseSignature.data(), kSignatureSize);
  header.pageSize = pageSize;
  header.extentSize = extentSize;
  return header;
}

void TVRXMainHeader::Load(const uint8_t* b) {
  std::memcpy(signature.data(), b, kSignatureSize);
  headerSize = bytes::LoadI16(b + kSizeField);
  version = bytes::LoadDouble(b + kVersionField);
  pageSize = bytes::LoadU16(b + kPageSizeField);
  extentSize = bytes::LoadU16(b + kExtentSizeField);
  totalPageCount = bytes::LoadI32(b + kTotalPagesField);
  lastUsedPage = bytes::LoadI32(b + kLastUsedField);
  commitCounter = bytes::LoadI32(b + kCommitCounterField);
  state = b[kStateField];
  encrypted = b[kEncryptedField];
  std::memcpy(reserved.data(), b + kReservedField, reserved.size());
}

void TVRXMainHeader::Store(uint8_t* b) const {
  std::memcpy(b, signature.data(), kSignatureSize);
  bytes::StoreI16(b + kSizeField, headerSize);
  bytes::StoreDouble(b + kVersionField, version);
  bytes::StoreU16(b + kPageSizeField, pageSize);
  bytes::StoreU16(b + kExtentSizeField, extentSize);
  bytes::StoreI32(b + kTotalPagesField, totalPageCount);
  bytes::StoreI32(b + kLastUsedField, lastUsedPage);
  bytes::StoreI32(b + kCommitCounterField, commitCounter);
  b[kStateField] = state;
  b[kEncryptedField] = encrypted;
  std::memcpy(b + kReservedField, reserved.data(), reserved.size());
}

bool TVRXMainHeader::SignatureValid() const {
  return std::memcmp(signature.data(), kDatabaseSignature.data(), kSignatureSize) == 0;
}

std::string TVRXMainHeader::SignatureText() const {
  std::string text(reinterpret_cast<const char*>(signature.data()), kSignatureSize);
  // A C string of the found bytes: it ends at the first zero byte.
  const auto zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

void TVRXCryptoHeader::Load(const uint8_t* b) {
  headerSize = bytes::LoadI16(b);
  cipherId = b[2];
  std::memcpy(checkBlock.data(), b + 4, checkBlock.size());
  checkCrc = bytes::LoadU32(b + 260);
}

void TVRXCryptoHeader::Store(uint8_t* b) const {
  std::memset(b, 0, kCryptoHeaderSize);
  bytes::StoreI16(b, headerSize);
  b[2] = cipherId;
  std::memcpy(b + 4, checkBlock.data(), checkBlock.size());
  bytes::StoreU32(b + 260, checkCrc);
}

void TVRXLayoutBlock::Load(const uint8_t* b) { blockSize = bytes::LoadI16(b); }

void TVRXLayoutBlock::Store(uint8_t* b) const {
  std::memset(b, 0, kLayoutBlockSize);
  bytes::StoreI16(b, blockSize);
}

void InitPageHeader(uint8_t* page) {
  using namespace page_header;
  std::memcpy(page + kSignature, kPageSignature.data(), 4);
  bytes::StoreI32(page + kModCounter, 0);
  bytes::StoreU16(page + kPageType, ptUnknown);
  bytes::StoreI32(page + kNextPage, -1);
  bytes::StoreU32(page + kDataCrc, 0);
  page[18] = page[19] = page[20] = page[21] = 0;
  bytes::StoreI32(page + kReserved22, -1);
  bytes::StoreI32(page + kReserved26, -1);
  bytes::StoreI16(page + kReserved30, 0);
}

bool PageSignatureValid(const uint8_t* page) {
  return std::memcmp(page + page_header::kSignature, kPageSignature.data(), 4) == 0;
}

std::string_view PageTypeName(int pageType) {
  static constexpr std::string_view kNames[] = {"Unknown Page",
                                                "Empty Page",
                                                "EAM Page",
                                                "PFS Page",
                                                "FileSystemDirectory Page",
                                                "ActiveSessionList Page",
                                                "TableList Page",
                                                "TableLocks Page",
                                                "TableMetaData Page",
                                                "TableMostUpdated Page",
                                                "TableRecord Page",
                                                "TableBlob Page",
                                                "TableIndex Page"};
  if (pageType < 0 || pageType > kLastPageType)
    throw EVRXException("Unknown Page Type: (%d)", {pageType}, 30382);
  return kNames[pageType];
}

void CheckPageType(int found, int wanted, int32_t nativeError) {
  if (found == wanted) return;
  // A type byte that no page type has is named by the type error itself.
  throw EVRXException("Wrong page type. Found '%s', but wanted: '%s'",
                      {PageTypeName(found), PageTypeName(wanted)}, nativeError);
}

}  // namespace vrx
