#include "engine/storage/metadata/VRXIndexManager.h"

#include <algorithm>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXRandom.h"
#include "engine/storage/metadata/VRXMetadataIO.h"
#include "platform/locale/Locale.h"

namespace vrx {

namespace {

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

// Marks the manager busy for one operation, also when it fails.
class TVRXBaseIndexManager::BusyScope {
 public:
  explicit BusyScope(bool& busy) : busy_(busy), previous_(busy) { busy_ = true; }
  ~BusyScope() { busy_ = previous_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& busy_;
  bool previous_;
};

TVRXBaseIndexManager::TVRXBaseIndexManager(TVRXMetadataTable& table, const TVRXFieldDefs& fields,
                                           TVRXIndexFactory* factory)
    : table_(table), fields_(fields), factory_(factory) {}

TVRXBaseIndexManager::~TVRXBaseIndexManager() = default;

void TVRXBaseIndexManager::LoadFromStream(TVRXStream& stream) {
  indexes_.LoadFromStream(stream);
  objects_.clear();
}

void TVRXBaseIndexManager::SaveToStream(TVRXStream& stream) const { indexes_.SaveToStream(stream); }

void TVRXBaseIndexManager::SetIndexDefs(TVRXIndexDefs& indexes) {
  for (int32_t i = 0; i < indexes.Count(); ++i)
    indexes.Item(i).SetID(table_.ObjectIDs().GetNextObjectID());
  indexes_.Assign(indexes);
  objects_.clear();
}

int32_t TVRXBaseIndexManager::FindIndexForFields(int32_t sessionID,
                                                 const std::vector<std::string>& fieldNames,
                                                 const std::vector<std::string>& directions,
                                                 const std::vector<std::string>& cases) const {
  const auto count = static_cast<int32_t>(fieldNames.size());
  if (directions.size() != fieldNames.size())
    throw EVRXException("Error - different lists length. L1 = %d, L2 = %d",
                        {count, directions.size()}, 10276);
  if (cases.size() != fieldNames.size())
    throw EVRXException("Error - different lists length. L1 = %d, L2 = %d", {count, cases.size()},
                        10277);
  for (int32_t i = 0; i < indexes_.Count(); ++i) {
    const TVRXIndexDef& index = indexes_.Index(i);
    if (index.ColumnCount() < count) continue;
    if (index.Temporary() && index.OwnerSessionID() != sessionID) continue;
    bool fits = true;
    for (int32_t c = 0; c < count && fits; ++c) {
      const TVRXIndexColumn& column = index.Columns()[c];
      if (AsciiUpper(column.FieldName) != AsciiUpper(fieldNames[c])) {
        fits = false;
      } else if (directions[c] == "ASC") {
        fits = !column.IsDescending();
      } else if (directions[c] == "DESC") {
        fits = column.IsDescending();
      }
      if (!fits) break;
      if (cases[c] == "CASE") {
        const int32_t field = fields_.IndexOfName(fieldNames[c]);
        if (field >= 0 && IsTextType(fields_.Field(field).StorageType()))
          fits = !column.IsCaseInsensitive();
      } else if (cases[c] == "NO_CASE") {
        fits = column.IsCaseInsensitive();
      }
    }
    if (fits) return index.ID();
  }
  return -1;
}

const TVRXIndexDef& TVRXBaseIndexManager::CreateTemporaryIndex(
    int32_t sessionID, const std::vector<std::string>& fieldNames,
    const std::vector<std::string>& directions, const std::vector<std::string>& cases) {
  TVRXIndexDef definition;
  std::string name;
  do {
    name = RandomSuffixName(kTemporaryIndexPrefix);
  } while (indexes_.IndexOfName(name) >= 0);
  definition.SetName(name);
  definition.SetColumns(fieldNames, directions, cases);
  definition.SetTemporary(true);
  definition.SetOwnerSessionID(sessionID);
  definition.SetChangeCounter(table_.ChangeCounter());
  return AddIndex(sessionID, definition);
}

const TVRXIndexDef& TVRXBaseIndexManager::AddIndex(int32_t sessionID,
                                                   const TVRXIndexDef& definition) {
  BusyScope busy(busy_);
  auto added = definition.Clone();
  added->SetID(table_.ObjectIDs().GetNextObjectID());
  const int32_t id = added->ID();
  indexes_.Add(std::move(added));
  try {
    TVRXIndexObject& index = GetIndex(id);
    index.Build(sessionID);
    CheckedDef(id).SetRootPage(index.RootPage());
  } catch (...) {
    objects_.erase(id);
    indexes_.Delete(indexes_.IndexOfID(id));
    throw;
  }
  return CheckedDef(id);
}

void TVRXBaseIndexManager::DeleteIndex(int32_t sessionID, int32_t indexID) {
  BusyScope busy(busy_);
  CheckedDef(indexID);
  GetIndex(indexID).Drop(sessionID);
  objects_.erase(indexID);
  indexes_.Delete(indexes_.IndexOfID(indexID));
}

TVRXIndexDef& TVRXBaseIndexManager::CheckedDef(int32_t indexID) const {
  const int32_t position = indexes_.IndexOfID(indexID);
  if (position < 0) throw EVRXException("Index not found", 20018);
  return indexes_.Index(position);
}

const TVRXIndexDef* TVRXBaseIndexManager::FindIndexDef(int32_t indexID) const {
  const int32_t position = indexes_.IndexOfID(indexID);
  return position < 0 ? nullptr : &indexes_.Index(position);
}

TVRXIndexObject& TVRXBaseIndexManager::GetIndex(int32_t indexID) {
  const TVRXIndexDef& definition = CheckedDef(indexID);
  auto found = objects_.find(indexID);
  if (found != objects_.end()) return *found->second;
  if (factory_ == nullptr)
    throw EVRXException("Index '%s' cannot be opened: no index storage is attached to the table",
                        {definition.Name()}, metaio::kNoIndexStorage);
  auto opened = factory_->OpenIndex(definition);
  TVRXIndexObject& index = *opened;
  objects_.emplace(indexID, std::move(opened));
  return index;
}

void TVRXBaseIndexManager::KeysChanged(TVRXIndexDef& definition, TVRXIndexObject& index) {
  definition.SetChangeCounter(definition.ChangeCounter() + 1);
  definition.SetRootPage(index.RootPage());
}

template <typename Action>
void TVRXBaseIndexManager::ForEveryIndex(Action action) {
  BusyScope busy(busy_);
  for (int32_t i = 0; i < indexes_.Count(); ++i) {
    TVRXIndexDef& definition = indexes_.Index(i);
    action(definition, GetIndex(definition.ID()));
  }
}

void TVRXBaseIndexManager::EmptyIndexes(int32_t sessionID) {
  ForEveryIndex([&](TVRXIndexDef& definition, TVRXIndexObject& index) {
    index.Empty(sessionID);
    definition.SetRootPage(index.RootPage());
  });
}

void TVRXBaseIndexManager::InsertKeys(int32_t sessionID, std::span<const uint8_t> record,
                                      const TVRXRecordID& recordID) {
  ForEveryIndex([&](TVRXIndexDef& definition, TVRXIndexObject& index) {
    index.InsertKey(sessionID, record, recordID);
    KeysChanged(definition, index);
  });
}

void TVRXBaseIndexManager::UpdateKeys(int32_t sessionID, std::span<const uint8_t> oldRecord,
                                      std::span<const uint8_t> newRecord,
                                      const TVRXRecordID& recordID) {
  ForEveryIndex([&](TVRXIndexDef& definition, TVRXIndexObject& index) {
    // An entry whose key bytes stay the same stays where it is.
    if (!index.SameEntry(oldRecord, newRecord)) {
      index.DeleteKey(sessionID, oldRecord, recordID);
      index.InsertKey(sessionID, newRecord, recordID);
    }
    KeysChanged(definition, index);
  });
}

void TVRXBaseIndexManager::DeleteKeys(int32_t sessionID, std::span<const uint8_t> record,
                                      const TVRXRecordID& recordID) {
  ForEveryIndex([&](TVRXIndexDef& definition, TVRXIndexObject& index) {
    index.DeleteKey(sessionID, record, recordID);
    KeysChanged(definition, index);
  });
}

void TVRXBaseIndexManager::RebuildOutdatedTemporaryIndexes(int32_t sessionID) {
  BusyScope busy(busy_);
  const int32_t current = table_.ChangeCounter();
  for (int32_t i = 0; i < indexes_.Count(); ++i) {
    TVRXIndexDef& definition = indexes_.Index(i);
    if (!definition.Temporary() || definition.ChangeCounter() == current) continue;
    TVRXIndexObject& index = GetIndex(definition.ID());
    index.Build(sessionID);
    definition.SetRootPage(index.RootPage());
    definition.SetChangeCounter(current);
  }
}

bool TVRXBaseIndexManager::IsDuplicateKey(int32_t sessionID, int32_t indexID,
                                          std::span<const uint8_t> record, bool isInsert,
                                          std::span<const uint8_t> oldRecord) {
  TVRXIndexObject& index = GetIndex(indexID);
  if (!isInsert && index.SameKey(record, oldRecord)) return false;
  return index.ContainsKey(sessionID, record);
}

void TVRXBaseIndexManager::RenameField(std::string_view oldName, std::string_view newName) {
  const std::string wanted = locale::LowerCase(oldName);
  const std::string renamed = CutMetaName(newName);
  for (int32_t i = 0; i < indexes_.Count(); ++i)
    for (TVRXIndexColumn& column : indexes_.Index(i).Columns())
      if (locale::LowerCase(column.FieldName) == wanted) column.FieldName = renamed;
}

}  // namespace vrx
