#include "engine/storage/metadata/VRXIndexDef.h"

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXMetadataIO.h"

namespace vrx {

namespace {

// The smallest stored column: an empty name, two flag bytes and the size.
constexpr int32_t kMinStoredColumn = 7;

}  // namespace

void TVRXIndexDef::Assign(const TVRXMetaObjectDef& other) {
  const auto& index = SameClass<TVRXIndexDef>(other);
  if (&index == this) return;
  TVRXMetaObjectDef::Assign(other);
  kind_ = index.kind_;
  columns_ = index.columns_;
  unique_ = index.unique_;
  primary_ = index.primary_;
  rootPage_ = index.rootPage_;
  temporary_ = index.temporary_;
  ownerSessionID_ = index.ownerSessionID_;
  changeCounter_ = index.changeCounter_;
}

std::unique_ptr<TVRXMetaObjectDef> TVRXIndexDef::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXIndexDef(*this));
}

void TVRXIndexDef::SaveToStream(TVRXStream& stream) const {
  using namespace metaio;
  TVRXMetaObjectDef::SaveToStream(stream);
  WriteU8(stream, kind_, kWriteIndexKind);
  WriteU8(stream, unique_, kWriteUnique);
  WriteU8(stream, primary_, kWritePrimary);
  WriteI32(stream, ColumnCount(), kWriteColumnCount);
  WriteI32(stream, rootPage_, kWriteRootPage);
  for (const TVRXIndexColumn& column : columns_) {
    WriteName(stream, column.FieldName, kWriteColumnName);
    WriteU8(stream, column.Descending, kWriteDescending);
    WriteU8(stream, column.CaseInsensitive, kWriteCaseInsensitive);
    WriteI32(stream, column.MaxIndexedSize, kWriteColumnSize);
  }
}

void TVRXIndexDef::LoadFromStream(TVRXStream& stream) {
  using namespace metaio;
  TVRXMetaObjectDef::LoadFromStream(stream);
  kind_ = ReadU8(stream, kReadIndexKind);
  unique_ = ReadU8(stream, kReadUnique);
  primary_ = ReadU8(stream, kReadPrimary);
  const int32_t count = ReadCount(stream, 0, kReadColumnCount);
  rootPage_ = ReadI32(stream, kReadRootPage);
  // The count is checked against the bytes left once the root page is
  // read, so that a damaged count cannot make the loop run for long.
  if (static_cast<int64_t>(count) * kMinStoredColumn > stream.GetSize() - stream.Position())
    ThrowBadStoredValue(stream, stream.Position() - 8, count, kReadColumnCount);
  std::vector<TVRXIndexColumn> columns(static_cast<size_t>(count));
  for (TVRXIndexColumn& column : columns) {
    column.FieldName = ReadName(stream, kReadColumnName);
    column.Descending = ReadU8(stream, kReadDescending);
    column.CaseInsensitive = ReadU8(stream, kReadCaseInsensitive);
    column.MaxIndexedSize = ReadI32(stream, kReadColumnSize);
  }
  columns_ = std::move(columns);
  temporary_ = 0;
  ownerSessionID_ = -1;
}

void TVRXIndexDef::SetColumns(const std::vector<std::string>& fieldNames,
                              const std::vector<std::string>& directions,
                              const std::vector<std::string>& cases) {
  const auto count = static_cast<int32_t>(fieldNames.size());
  if (directions.size() != fieldNames.size())
    throw EVRXException("Error - different lists length. L1 = %d, L2 = %d",
                        {count, directions.size()}, 10278);
  if (cases.size() != fieldNames.size())
    throw EVRXException("Error - different lists length. L1 = %d, L2 = %d", {count, cases.size()},
                        10279);
  std::vector<TVRXIndexColumn> columns;
  for (size_t i = 0; i < fieldNames.size(); ++i) {
    TVRXIndexColumn column;
    column.FieldName = CutMetaName(fieldNames[i]);
    column.Descending = directions[i] == "DESC" ? 0xFF : 0;
    column.CaseInsensitive = cases[i] == "NO_CASE" ? 0xFF : 0;
    columns.push_back(std::move(column));
  }
  columns_ = std::move(columns);
}

// ---- TVRXIndexDefs ----

TVRXMetaObjectDef& TVRXIndexDefs::InternalAddCreated() {
  items_.push_back(std::make_unique<TVRXIndexDef>());
  return *items_.back();
}

void TVRXIndexDefs::SaveToStream(TVRXStream& stream) const {
  int32_t stored = 0;
  for (int32_t i = 0; i < Count(); ++i)
    if (!Index(i).Temporary()) ++stored;
  metaio::WriteI32(stream, stored, metaio::kWriteListCount);
  for (int32_t i = 0; i < Count(); ++i)
    if (!Index(i).Temporary()) Index(i).SaveToStream(stream);
}

TVRXIndexDef& TVRXIndexDefs::Index(int32_t position) const {
  return static_cast<TVRXIndexDef&>(Item(position));
}

void TVRXIndexDefs::SetIndex(int32_t position, const TVRXIndexDef& definition) {
  CheckIndex(position, Count());
  items_[position] = definition.Clone();
}

bool TVRXIndexDefs::Accepts(const TVRXMetaObjectDef& definition) const {
  return dynamic_cast<const TVRXIndexDef*>(&definition) != nullptr;
}

}  // namespace vrx
