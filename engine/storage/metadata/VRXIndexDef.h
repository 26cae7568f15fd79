// Index definitions of a table (TVRXIndexDef with its TVRXIndexColumn
// list) and their list (TVRXIndexDefs). Used by the index manager, the
// constraint manager (the index a key constraint names), the table data
// objects (sort indexes) and the catalog (metadata file).
//
// A temporary index (sorting for one session) lives only in memory: the
// list never counts or writes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/metadata/VRXMetaObjectDef.h"

namespace vrx {

// Bytes of a field's value that a column keys when its creator gives no
// other limit; a longer field is keyed by its first that many bytes.
inline constexpr int32_t kDefaultMaxIndexedSize = 20;

// One column of an index, in key order.
struct TVRXIndexColumn {
  std::string FieldName;
  // Stored bytes: 0 or 0xFF.
  uint8_t Descending = 0;
  uint8_t CaseInsensitive = 0;
  int32_t MaxIndexedSize = kDefaultMaxIndexedSize;

  bool IsDescending() const { return Descending != 0; }
  bool IsCaseInsensitive() const { return CaseInsensitive != 0; }
};

class TVRXIndexDef : public TVRXMetaObjectDef {
 public:
  TVRXIndexDef() = default;

  void Assign(const TVRXMetaObjectDef& other) override;
  // name; int32 ID; byte kind; byte unique; byte primary; int32 column
  // count; int32 root page; per column: name, byte descending, byte
  // case-insensitive, int32 maximum indexed size. Temporary flag, owner
  // session and change counter are not stored.
  void LoadFromStream(TVRXStream& stream) override;
  void SaveToStream(TVRXStream& stream) const override;
  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXIndexDef"; }

  // Columns from three parallel lists: a direction "DESC" makes a column
  // descending, a case "NO_CASE" case-insensitive; each column keys up to
  // kDefaultMaxIndexedSize bytes. Lists of different length raise "Error -
  // different lists length. L1 = %d, L2 = %d" (10278 directions, 10279
  // cases) and leave the columns as they were.
  void SetColumns(const std::vector<std::string>& fieldNames,
                  const std::vector<std::string>& directions,
                  const std::vector<std::string>& cases);

  uint8_t Kind() const { return kind_; }
  std::vector<TVRXIndexColumn>& Columns() { return columns_; }
  const std::vector<TVRXIndexColumn>& Columns() const { return columns_; }
  int32_t ColumnCount() const { return static_cast<int32_t>(columns_.size()); }

  bool Unique() const { return unique_ != 0; }
  void SetUnique(bool value) { unique_ = value ? 1 : 0; }
  bool Primary() const { return primary_ != 0; }
  void SetPrimary(bool value) { primary_ = value ? 1 : 0; }
  // Root page of the index's B-tree; -1 while there is none.
  int32_t RootPage() const { return rootPage_; }
  void SetRootPage(int32_t page) { rootPage_ = page; }

  bool Temporary() const { return temporary_ != 0; }
  void SetTemporary(bool value) { temporary_ = value ? 0xFF : 0; }
  // The session a temporary index belongs to; -1 for stored indexes.
  int32_t OwnerSessionID() const { return ownerSessionID_; }
  void SetOwnerSessionID(int32_t id) { ownerSessionID_ = id; }
  // The table change counter the index last saw.
  int32_t ChangeCounter() const { return changeCounter_; }
  void SetChangeCounter(int32_t value) { changeCounter_ = value; }

 private:
  TVRXIndexDef(const TVRXIndexDef&) = default;

  uint8_t kind_ = 0;
  std::vector<TVRXIndexColumn> columns_;
  uint8_t unique_ = 0;
  uint8_t primary_ = 0;
  int32_t rootPage_ = -1;
  uint8_t temporary_ = 0;
  int32_t ownerSessionID_ = -1;
  int32_t changeCounter_ = 0;
};

class TVRXIndexDefs : public TVRXMetaObjectDefs {
 public:
  TVRXMetaObjectDef& InternalAddCreated() override;
  // The count and the definitions of the indexes that are not temporary.
  void SaveToStream(TVRXStream& stream) const override;
  std::string_view ClassName() const override { return "TVRXIndexDefs"; }

  // The definition at a position, and replacing it with a copy of another.
  virtual TVRXIndexDef& Index(int32_t position) const;
  virtual void SetIndex(int32_t position, const TVRXIndexDef& definition);

 protected:
  bool Accepts(const TVRXMetaObjectDef& definition) const override;
};

}  // namespace vrx
