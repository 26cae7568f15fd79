#include "engine/storage/catalog/VRXTableList.h"

#include <algorithm>
#include <cstring>

#include "engine/base/VRXBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/storage/compression/VRXCompression.h"

namespace vrx {

namespace {

constexpr int kNameField = 0;
constexpr int kTableIdField = 256;
constexpr int kMetadataField = 260;
constexpr int kMostUpdatedField = 264;
constexpr int kLockFileField = 268;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string TableListName(std::string_view name) {
  if (name.size() <= static_cast<size_t>(kMaxTableNameLength)) return std::string(name);
  size_t cut = kMaxTableNameLength;
  // Step back over continuation bytes to the start of the cut character.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return std::string(name.substr(0, cut));
}

bool SameTableName(std::string_view left, std::string_view right) {
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); });
}

TVRXTableListFile::TVRXTableListFile(TVRXPageManager& pageManager)
    : file_(pageManager, ptTableList) {}

int32_t TVRXTableListFile::Create(int32_t sessionID) {
  file_.Create(sessionID);
  entries_.clear();
  return file_.FirstPage();
}

void TVRXTableListFile::Open(int32_t firstPage) {
  if (file_.FirstPage() != -1) throw EVRXException("Table list file already opened.", 30393);
  file_.Open(firstPage);
}

void TVRXTableListFile::Load(int32_t sessionID) {
  const std::vector<uint8_t> content = file_.ReadAll(sessionID);
  std::vector<TVRXTableEntry> entries;
  for (size_t at = 0; at + kTableListEntrySize <= content.size(); at += kTableListEntrySize) {
    const uint8_t* entry = &content[at];
    TVRXTableEntry e;
    // The length byte can say at most 255, which the field always holds.
    const uint8_t length = bytes::LoadU8(entry + kNameField);
    e.name.assign(reinterpret_cast<const char*>(entry + kNameField + 1), length);
    e.tableID = bytes::LoadI32(entry + kTableIdField);
    e.metadataPage = bytes::LoadI32(entry + kMetadataField);
    e.mostUpdatedPage = bytes::LoadI32(entry + kMostUpdatedField);
    e.lockFilePage = bytes::LoadI32(entry + kLockFileField);
    entries.push_back(std::move(e));
  }
  entries_ = std::move(entries);
}

void TVRXTableListFile::Save(int32_t sessionID) {
  std::vector<uint8_t> content(entries_.size() * kTableListEntrySize, 0);
  for (size_t i = 0; i < entries_.size(); ++i) {
    uint8_t* entry = &content[i * kTableListEntrySize];
    const std::string name = TableListName(entries_[i].name);
    bytes::StoreU8(entry + kNameField, static_cast<uint8_t>(name.size()));
    std::memcpy(entry + kNameField + 1, name.data(), name.size());
    bytes::StoreI32(entry + kTableIdField, entries_[i].tableID);
    bytes::StoreI32(entry + kMetadataField, entries_[i].metadataPage);
    bytes::StoreI32(entry + kMostUpdatedField, entries_[i].mostUpdatedPage);
    bytes::StoreI32(entry + kLockFileField, entries_[i].lockFilePage);
  }
  file_.WriteFile(sessionID, content.data(), 0, kCompressionNone,
                  static_cast<int32_t>(content.size()));
}

const TVRXTableEntry* TVRXTableListFile::Find(std::string_view name) const {
  const std::string key = TableListName(name);
  for (const TVRXTableEntry& entry : entries_)
    if (SameTableName(entry.name, key)) return &entry;
  return nullptr;
}

bool TVRXTableListFile::Contains(std::string_view name) const { return Find(name) != nullptr; }

void TVRXTableListFile::AddTableEntry(int32_t tableID, std::string_view name, int32_t lockFilePage,
                                      int32_t mostUpdatedPage, int32_t metadataPage) {
  if (Contains(name))
    throw EVRXException("Cannot create table. Table '%s' already exists", {name}, 30395);
  entries_.push_back({TableListName(name), tableID, metadataPage, mostUpdatedPage, lockFilePage});
}

TVRXTableEntry TVRXTableListFile::FindTableEntry(std::string_view name) const {
  const TVRXTableEntry* entry = Find(name);
  if (entry == nullptr) throw EVRXException("Table '%s' not exists.", {name}, 30396);
  return *entry;
}

void TVRXTableListFile::DeleteTableEntry(std::string_view name) {
  const TVRXTableEntry* entry = Find(name);
  if (entry == nullptr) throw EVRXException("Table '%s' not exists.", {name}, 30405);
  entries_.erase(entries_.begin() + (entry - entries_.data()));
}

void TVRXTableListFile::RenameTableEntry(std::string_view name, std::string_view newName) {
  const TVRXTableEntry* entry = Find(name);
  if (entry == nullptr) throw EVRXException("Table '%s' not exists.", {name}, 30397);
  // A new name that differs from the old one only in case is no clash.
  const TVRXTableEntry* other = Find(newName);
  if (other != nullptr && other != entry)
    throw EVRXException("Cannot rename table. Table '%s' already exists", {newName}, 30474);
  entries_[static_cast<size_t>(entry - entries_.data())].name = TableListName(newName);
}

}  // namespace vrx
