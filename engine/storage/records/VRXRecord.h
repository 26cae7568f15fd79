// Records of one table in memory and on disk, and the access to their
// field values.
//
// The layout comes from the field definitions (TVRXFieldDefs after
// ComputeOffsets): a null bitmap of ceil(field count / 8) bytes, bit
// (i mod 8) of byte (i div 8) set = field i is NULL, then the fields at
// their offsets. The memory record holds every field in its memory size;
// the disk record holds the same except the BLOB fields, which keep only
// their 6-byte BLOB reference.
//
// Field access converts between the memory record and a dataset field
// buffer (the representation a dataset field works with):
//   SHORTINT       1 stored byte  <-> int16
//   CARDINAL       4 stored bytes <-> int64 (high half zero)
//   SINGLE         4 stored bytes <-> double
//   EXTENDED       10 stored bytes <-> double
//   BLOB types     nothing is copied (read through a BLOB stream)
//   anything else  the memory-size bytes as they are
// The widening follows the storage type, so an AUTOINC field stored in one
// byte is delivered as an int16 like a SHORTINT.
//
// Used by the record manager, the table data objects and the cursors.
#pragma once

#include <cstdint>
#include <span>

#include "engine/storage/metadata/VRXFieldDef.h"

namespace vrx {

// Bytes a dataset field buffer of this field holds: the widened sizes above,
// else the memory size (0 for the BLOB types).
int32_t FieldBufferSize(const TVRXFieldDef& field);

// Copies field `fieldNo` of `memoryRecord` into `outBuffer` (FieldBufferSize
// bytes) and answers true, or answers false when the field is NULL. A null
// buffer makes only the NULL test. "Invalid field number - FieldNo = %d,
// FieldCount = %d" (10000) past the fields; "Error getting field data -
// FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d" (10002) when the
// record is too short for the field.
bool GetFieldValue(int32_t fieldNo, const TVRXFieldDefs& fieldDefs, void* outBuffer,
                   std::span<const uint8_t> memoryRecord);

// Stores `inBuffer` (FieldBufferSize bytes) into field `fieldNo`. A null
// buffer, a CHAR, STRING or GUID value starting with a zero byte and a
// WIDECHAR or WIDESTRING value starting with a zero 16-bit character make
// the field NULL (its bytes are left as they are). "Invalid field number -
// FieldNo = %d, FieldCount = %d" (10004) past the fields; "Error setting
// field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d" (30521)
// when the record is too short for the field.
void SetFieldValue(int32_t fieldNo, const TVRXFieldDefs& fieldDefs, const void* inBuffer,
                   std::span<uint8_t> memoryRecord);

// Equal null bitmaps and, field by field, equal disk-size bytes at the
// memory offset.
bool RecordsEqual(const TVRXFieldDefs& fieldDefs, std::span<const uint8_t> a,
                  std::span<const uint8_t> b);

// Zero-fill the target, copy the bitmap, then each field's disk-size bytes
// between its memory and its disk offset. Both records must have their full
// size ("Invalid record buffer size %d. Should be at least %d").
void MemoryToDisk(const TVRXFieldDefs& fieldDefs, std::span<const uint8_t> memoryRecord,
                  std::span<uint8_t> diskRecord);
void DiskToMemory(const TVRXFieldDefs& fieldDefs, std::span<const uint8_t> diskRecord,
                  std::span<uint8_t> memoryRecord);

}  // namespace vrx
