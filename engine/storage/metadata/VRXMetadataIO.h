// Reading and writing the pieces of table metadata (integers, short names,
// counted texts, list counts) with the checked stream operations, and the
// native error numbers of every piece. Private to the metadata module: the
// definition classes and the managers use it, nothing outside does.
//
// Every read either fills its value completely or raises EVRXException;
// a count or a length is checked against the bytes the stream still holds
// before anything is allocated or looped over, so a damaged stream ends in
// an engine error, never in a huge allocation or a read past a buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/VRXStream.h"

namespace vrx::metaio {

// Native error numbers: one pair (write, read) per stored piece.
inline constexpr int32_t kWriteName = 10187, kReadName = 10188;
inline constexpr int32_t kWriteID = 10189, kReadID = 10190;
inline constexpr int32_t kWriteStorageType = 10191, kReadStorageType = 10192;
inline constexpr int32_t kWriteDeclaredType = 10193, kReadDeclaredType = 10194;
inline constexpr int32_t kWriteSize = 10195, kReadSize = 10196;
inline constexpr int32_t kWriteCompressionAlgorithm = 10197, kReadCompressionAlgorithm = 10198;
inline constexpr int32_t kWriteCompressionMode = 10199, kReadCompressionMode = 10200;
inline constexpr int32_t kWriteBlockSize = 10201, kReadBlockSize = 10202;
inline constexpr int32_t kWriteIncrement = 10203, kReadIncrement = 10204;
inline constexpr int32_t kWriteInitialValue = 10205, kReadInitialValue = 10206;
inline constexpr int32_t kWriteMinValue = 10207, kReadMinValue = 10208;
inline constexpr int32_t kWriteMaxValue = 10209, kReadMaxValue = 10210;
inline constexpr int32_t kWriteCycled = 10211, kReadCycled = 10212;
inline constexpr int32_t kWriteIndexKind = 10213, kReadIndexKind = 10214;
inline constexpr int32_t kWriteUnique = 10215, kReadUnique = 10216;
inline constexpr int32_t kWritePrimary = 10217, kReadPrimary = 10218;
inline constexpr int32_t kWriteColumnCount = 10219, kReadColumnCount = 10220;
inline constexpr int32_t kWriteRootPage = 10221, kReadRootPage = 10222;
inline constexpr int32_t kWriteColumnName = 10223, kReadColumnName = 10224;
inline constexpr int32_t kWriteDescending = 10225, kReadDescending = 10226;
inline constexpr int32_t kWriteCaseInsensitive = 10227, kReadCaseInsensitive = 10228;
inline constexpr int32_t kWriteColumnSize = 10229, kReadColumnSize = 10230;
inline constexpr int32_t kWriteReservedID = 10231, kReadReservedID = 10232;
inline constexpr int32_t kWriteTableID = 10233, kReadTableID = 10234;
inline constexpr int32_t kWriteTargetID = 10235, kReadTargetID = 10236;
inline constexpr int32_t kWriteConstraintText = 10237, kReadConstraintText = 10238;
inline constexpr int32_t kWriteKeyFieldCount = 10239, kReadKeyFieldCount = 10240;
inline constexpr int32_t kWriteKeyFieldID = 10241, kReadKeyFieldID = 10242;
inline constexpr int32_t kWriteKeyFieldName = 10243, kReadKeyFieldName = 10244;
inline constexpr int32_t kWriteConstraintType = 10245, kReadConstraintType = 10246;
inline constexpr int32_t kWriteListCount = 10247, kReadListCount = 10248;
inline constexpr int32_t kWriteRecordIndexRoot = 10249, kReadRecordIndexRoot = 10250;
inline constexpr int32_t kWriteBlobIndexRoot = 10251, kReadBlobIndexRoot = 10252;
inline constexpr int32_t kWriteCounterCount = 10253, kReadCounterCount = 10254;
inline constexpr int32_t kWriteCounter = 10255, kReadCounter = 10256;

void WriteU8(TVRXStream& stream, uint8_t value, int32_t code);
void WriteI32(TVRXStream& stream, int32_t value, int32_t code);
void WriteI64(TVRXStream& stream, int64_t value, int32_t code);
uint8_t ReadU8(TVRXStream& stream, int32_t code);
int32_t ReadI32(TVRXStream& stream, int32_t code);
int64_t ReadI64(TVRXStream& stream, int32_t code);

// A short name: byte n, then n bytes. The caller keeps names at 255 bytes
// or fewer (the definitions cut them when they are set).
void WriteName(TVRXStream& stream, std::string_view name, int32_t code);
std::string ReadName(TVRXStream& stream, int32_t code);

// A text with its stored size in front: the size (n + 1) as one byte
// (`wideSize` false) or as an int32 (`wideSize` true), then byte n, then
// n bytes. A one-byte size wraps for n = 255 and is read back as such.
void WriteSizedText(TVRXStream& stream, std::string_view text, bool wideSize, int32_t code);
std::string ReadSizedText(TVRXStream& stream, bool wideSize, int32_t code);

// An int32 count of items that take at least `minItemBytes` bytes each:
// a negative count, or one that the rest of the stream cannot hold, raises
// the read message with the count as block size and `code`.
int32_t ReadCount(TVRXStream& stream, int32_t minItemBytes, int32_t code);

// Raises the checked read message for a stored value that cannot be right:
// the position before it, the stream size, `value` as block size, 0 read.
[[noreturn]] void ThrowBadStoredValue(TVRXStream& stream, int64_t position, int64_t value,
                                      int32_t code);

}  // namespace vrx::metaio

namespace vrx::metaio {

// Native error numbers of the module's own checks (not stream pieces).
inline constexpr int32_t kListIndexOutOfBounds = 10257;
inline constexpr int32_t kAssignMismatch = 10258;
inline constexpr int32_t kInvalidFieldSize = 10259;
inline constexpr int32_t kRecordTooLarge = 10260;
inline constexpr int32_t kRecordBufferTooSmall = 10261;
inline constexpr int32_t kNoIndexStorage = 10262;
inline constexpr int32_t kListKindMismatch = 10263;

}  // namespace vrx::metaio
