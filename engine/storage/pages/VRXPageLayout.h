// The bytes of a database file up to the page level: little-endian helpers,
// the main header, crypto header and layout block at the start S of the
// database, the 40-byte page header, the page types and the modification
// counter's wrap rule. Used by the disk page manager, the free-space map and
// tools that inspect a file. Nothing here does I/O.
//
// File layout, offsets relative to S:
//   0    76 bytes  main header
//   76   280 bytes crypto header
//   356  20 bytes  layout block (bytes 3 and 4 are lock bytes)
//   376  4 bytes   object-ID counter
//   380  pages 0, 1, 2, ... of page size bytes each
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/VRXBytes.h"
#include "engine/storage/file/VRXFileSignature.h"

namespace vrx {

// --- file layout --------------------------------------------------------------

inline constexpr int kCryptoHeaderSize = 280;
inline constexpr int kLayoutBlockSize = 20;
inline constexpr int kObjectIdCounterSize = 4;
// Standard offsets relative to S.
inline constexpr int kCryptoHeaderOffset = kMainHeaderSize;                         // 76
inline constexpr int kLayoutBlockOffset = kCryptoHeaderOffset + kCryptoHeaderSize;  // 356
inline constexpr int kObjectIdOffset = kLayoutBlockOffset + kLayoutBlockSize;       // 376
inline constexpr int kFirstPageOffset = kObjectIdOffset + kObjectIdCounterSize;     // 380
// Lock bytes inside the layout block.
inline constexpr int kTablesLockByte = 3;
inline constexpr int kHeaderLockByte = 4;

inline constexpr double kCurrentVersion = 4.8;  // bit pattern 0x4013333333333333
// Files older than this are reported as needing repair.
inline constexpr double kOldestSoundVersion = 2.99;
inline constexpr uint16_t kDefaultPageSize = 4096;
inline constexpr uint16_t kDefaultExtentSize = 8;
inline constexpr uint8_t kStateConsistent = 2;
inline constexpr uint8_t kStateCommitting = 1;

// The main header image (76 bytes on disk).
struct TVRXMainHeader {
  std::array<uint8_t, kSignatureSize> signature{};
  int16_t headerSize = kMainHeaderSize;
  double version = kCurrentVersion;
  uint16_t pageSize = kDefaultPageSize;
  uint16_t extentSize = kDefaultExtentSize;
  int32_t totalPageCount = 0;
  int32_t lastUsedPage = -1;
  int32_t commitCounter = 0;
  uint8_t state = kStateConsistent;
  uint8_t encrypted = 0;  // 0 = plain, anything else = encrypted
  std::array<uint8_t, 32> reserved{};

  // A header for a new file: signature set, other fields as above.
  static TVRXMainHeader Fresh(uint16_t pageSize, uint16_t extentSize);
  void Load(const uint8_t* bytes);
  void Store(uint8_t* bytes) const;
  bool SignatureValid() const;
  std::string SignatureText() const;  // the 16 bytes as found
};

// The crypto header image (280 bytes). Only kept and written back: no cipher
// is built into this engine.
struct TVRXCryptoHeader {
  int16_t headerSize = kCryptoHeaderSize;
  uint8_t cipherId = 0;
  std::array<uint8_t, 256> checkBlock{};
  uint32_t checkCrc = 0;

  void Load(const uint8_t* bytes);
  void Store(uint8_t* bytes) const;
};

// The layout block image (20 bytes).
struct TVRXLayoutBlock {
  int16_t blockSize = kLayoutBlockSize;

  void Load(const uint8_t* bytes);
  void Store(uint8_t* bytes) const;
};

// --- page header ---------------------------------------------------------------

inline constexpr int kPageHeaderSize = 40;
inline constexpr std::string_view kPageSignature = "VRXP";
namespace page_header {
inline constexpr int kSignature = 0;    // 4 bytes "VRXP"
inline constexpr int kModCounter = 4;   // int32
inline constexpr int kPageType = 8;     // uint16
inline constexpr int kNextPage = 10;    // int32, -1 = none
inline constexpr int kDataCrc = 14;     // uint32 (encrypted databases only)
inline constexpr int kCipherId = 20;    // byte (encrypted databases only)
inline constexpr int kReserved22 = 22;  // int32, -1
inline constexpr int kReserved26 = 26;  // int32, -1
inline constexpr int kReserved30 = 30;  // int16, 0
}  // namespace page_header

// Writes the initial header of a fresh page into the first 40 bytes of an
// already zero-filled buffer.
void InitPageHeader(uint8_t* page);
bool PageSignatureValid(const uint8_t* page);

// --- page types ---------------------------------------------------------------

enum TVRXPageType : uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
};
inline constexpr int kLastPageType = ptTableIndex;
// Passed as the expected type: any type, no check.
inline constexpr uint16_t kAnyPageType = 255;

// "TableRecord Page" and so on; throws "Unknown Page Type: (%d)" (30382)
// for a type above 12.
std::string_view PageTypeName(int pageType);
// Throws "Wrong page type. Found '%s', but wanted: '%s'" with `nativeError`
// unless found == wanted.
void CheckPageType(int found, int wanted, int32_t nativeError);

// --- modification counter -------------------------------------------------------

inline constexpr int32_t kMaxModCounter = 0x7FFFFFFC;
// Marks a page whose read failed or that was freed.
inline constexpr int32_t kInvalidModCounter = 0x7FFFFFFF;
// Largest starting value of a page created by AddPage.
inline constexpr int32_t kMaxInitialModCounter = 0x3FFFFFFE;

// The counter after one more write: +1, and 0 after 0x7FFFFFFC. Values that
// counting never produces (0x7FFFFFFD..0x7FFFFFFF, negative ones left by a
// failed read or a damaged page) also go on at 0, so counting never overflows.
constexpr int32_t NextModCounter(int32_t counter) {
  return (counter < 0 || counter >= kMaxModCounter) ? 0 : counter + 1;
}

}  // namespace vrx
