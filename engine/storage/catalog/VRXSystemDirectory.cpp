#include "engine/storage/catalog/VRXSystemDirectory.h"

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/compression/VRXCompression.h"

namespace vrx {

TVRXSystemDirectory::TVRXSystemDirectory(TVRXPageManager& pageManager)
    : file_(pageManager, ptFileSystemDirectory) {}

void TVRXSystemDirectory::Create(int32_t sessionID) {
  file_.Create(sessionID);
  if (file_.FirstPage() != kSystemDirectoryPageNo)
    throw EVRXException("Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {file_.FirstPage(), kSystemDirectoryPageNo}, 30392);
  entries_.clear();
}

void TVRXSystemDirectory::Load(int32_t sessionID) {
  file_.Open(kSystemDirectoryPageNo);
  const std::vector<uint8_t> content = file_.ReadAll(sessionID);
  std::vector<TVRXSystemFileEntry> entries;
  for (size_t at = 0; at + kSystemDirectoryEntrySize <= content.size();
       at += kSystemDirectoryEntrySize)
    entries.push_back({bytes::LoadU8(&content[at]), bytes::LoadI32(&content[at + 1])});
  entries_ = std::move(entries);
}

void TVRXSystemDirectory::Save(int32_t sessionID) {
  std::vector<uint8_t> content(entries_.size() * kSystemDirectoryEntrySize);
  for (size_t i = 0; i < entries_.size(); ++i) {
    uint8_t* at = &content[i * kSystemDirectoryEntrySize];
    bytes::StoreU8(at, entries_[i].id);
    bytes::StoreI32(at + 1, entries_[i].firstPage);
  }
  file_.WriteFile(sessionID, content.data(), 0, kCompressionNone,
                  static_cast<int32_t>(content.size()));
}

void TVRXSystemDirectory::AddEntry(uint8_t id, int32_t firstPage) {
  entries_.push_back({id, firstPage});
}

int32_t TVRXSystemDirectory::FindEntry(uint8_t id) const {
  for (const TVRXSystemFileEntry& entry : entries_)
    if (entry.id == id) return entry.firstPage;
  return -1;
}

}  // namespace vrx
