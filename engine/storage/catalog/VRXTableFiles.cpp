#include "engine/storage/catalog/VRXTableFiles.h"

#include <vector>

#include "engine/base/VRXStream.h"

namespace vrx {

namespace {

constexpr int32_t kMetadataStreamWrite = 30477;

}  // namespace

void ReadTableMetadata(TVRXInternalDBTransactedAccessFile& file, int32_t sessionID,
                       TVRXTableMetadata& metadata) {
  const std::vector<uint8_t> content = file.ReadAll(sessionID);
  TVRXMemoryStream stream;
  if (!content.empty())
    WriteChecked(content.data(), static_cast<int32_t>(content.size()), stream,
                 kMetadataStreamWrite);
  stream.SetPosition(0);
  metadata.LoadFromStream(stream);
}

void WriteTableMetadata(TVRXInternalDBTransactedAccessFile& file, int32_t sessionID,
                        const TVRXTableMetadata& metadata) {
  TVRXMemoryStream stream;
  metadata.SaveToStream(stream);
  const auto size = static_cast<int32_t>(stream.GetSize());
  file.WriteFile(sessionID, stream.Memory(), kMetadataCompressionLevel, kMetadataCompression, size);
}

}  // namespace vrx
