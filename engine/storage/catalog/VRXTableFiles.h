// A table's metadata file read into and written from the metadata module's
// TVRXTableMetadata: the file is a transacted internal file of page type 8
// whose content is written compressed (ZLIB, level 1). Used by the table
// layer's readers that need no open table (the integrity check, the engine's
// shell) and by tests that create tables through the catalog.
#pragma once

#include <cstdint>

#include "engine/storage/catalog/VRXInternalFiles.h"
#include "engine/storage/metadata/VRXTableMetadata.h"

namespace vrx {

inline constexpr uint8_t kMetadataCompression = 1;  // ZLIB
inline constexpr uint8_t kMetadataCompressionLevel = 1;

// Replaces `metadata` with the file's content; engine errors for a damaged
// file (its chain, its compression or the definitions themselves).
void ReadTableMetadata(TVRXInternalDBTransactedAccessFile& file, int32_t sessionID,
                       TVRXTableMetadata& metadata);
void WriteTableMetadata(TVRXInternalDBTransactedAccessFile& file, int32_t sessionID,
                        const TVRXTableMetadata& metadata);

}  // namespace vrx
