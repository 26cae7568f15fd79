#include "engine/storage/metadata/VRXConstraintDef.h"

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXMetadataIO.h"

namespace vrx {

namespace {

// A stored key field at its smallest: ID, size and an empty name.
constexpr int32_t kMinStoredKeyField = 9;

}  // namespace

// ---- TVRXConstraintDef ----

void TVRXConstraintDef::Assign(const TVRXMetaObjectDef& other) {
  const auto& constraint = SameClass<TVRXConstraintDef>(other);
  if (&constraint == this) return;
  TVRXMetaObjectDef::Assign(other);
  type_ = constraint.type_;
  reserved_ = constraint.reserved_;
  table_ = constraint.table_;
  target_ = constraint.target_;
}

std::unique_ptr<TVRXMetaObjectDef> TVRXConstraintDef::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXConstraintDef(*this));
}

void TVRXConstraintDef::SavePairs(TVRXStream& stream, bool wideSizes) const {
  using namespace metaio;
  TVRXMetaObjectDef::SaveToStream(stream);
  WriteI32(stream, reserved_.ID, kWriteReservedID);
  WriteI32(stream, table_.ID, kWriteTableID);
  WriteI32(stream, target_.ID, kWriteTargetID);
  for (const TVRXNameIDPair* pair : {&reserved_, &table_, &target_})
    WriteSizedText(stream, pair->Name, wideSizes, kWriteConstraintText);
}

void TVRXConstraintDef::LoadPairs(TVRXStream& stream, bool wideSizes) {
  using namespace metaio;
  TVRXMetaObjectDef::LoadFromStream(stream);
  reserved_.ID = ReadI32(stream, kReadReservedID);
  table_.ID = ReadI32(stream, kReadTableID);
  target_.ID = ReadI32(stream, kReadTargetID);
  for (TVRXNameIDPair* pair : {&reserved_, &table_, &target_})
    pair->Name = ReadSizedText(stream, wideSizes, kReadConstraintText);
}

// ---- not null, check ----

std::unique_ptr<TVRXMetaObjectDef> TVRXConstraintDefNotNull::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXConstraintDefNotNull(*this));
}

void TVRXConstraintDefCheck::Assign(const TVRXMetaObjectDef& other) {
  const auto& check = SameClass<TVRXConstraintDefCheck>(other);
  if (&check == this) return;
  TVRXConstraintDef::Assign(other);
  minValue_ = check.minValue_;
  maxValue_ = check.maxValue_;
}

void TVRXConstraintDefCheck::LoadFromStream(TVRXStream& stream) {
  LoadPairs(stream, false);
  minValue_.LoadFromStream(stream);
  maxValue_.LoadFromStream(stream);
}

void TVRXConstraintDefCheck::SaveToStream(TVRXStream& stream) const {
  SavePairs(stream, false);
  minValue_.SaveToStream(stream);
  maxValue_.SaveToStream(stream);
}

std::unique_ptr<TVRXMetaObjectDef> TVRXConstraintDefCheck::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXConstraintDefCheck(*this));
}

// ---- unique, primary key ----

void TVRXConstraintDefUnique::Assign(const TVRXMetaObjectDef& other) {
  const auto& unique = SameClass<TVRXConstraintDefUnique>(other);
  if (&unique == this) return;
  TVRXConstraintDef::Assign(other);
  keyFields_ = unique.keyFields_;
}

void TVRXConstraintDefUnique::LoadFromStream(TVRXStream& stream) {
  using namespace metaio;
  LoadPairs(stream, true);
  const int32_t count = ReadCount(stream, kMinStoredKeyField, kReadKeyFieldCount);
  std::vector<TVRXNameIDPair> keyFields(static_cast<size_t>(count));
  for (TVRXNameIDPair& field : keyFields) {
    field.ID = ReadI32(stream, kReadKeyFieldID);
    field.Name = ReadSizedText(stream, true, kReadKeyFieldName);
  }
  keyFields_ = std::move(keyFields);
}

void TVRXConstraintDefUnique::SaveToStream(TVRXStream& stream) const {
  using namespace metaio;
  SavePairs(stream, true);
  WriteI32(stream, static_cast<int32_t>(keyFields_.size()), kWriteKeyFieldCount);
  for (const TVRXNameIDPair& field : keyFields_) {
    WriteI32(stream, field.ID, kWriteKeyFieldID);
    WriteSizedText(stream, field.Name, true, kWriteKeyFieldName);
  }
}

std::unique_ptr<TVRXMetaObjectDef> TVRXConstraintDefUnique::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXConstraintDefUnique(*this));
}

void TVRXConstraintDefUnique::AddKeyField(std::string_view name, int32_t id) {
  keyFields_.push_back({CutMetaName(name), id});
}

std::unique_ptr<TVRXMetaObjectDef> TVRXConstraintDefPrimary::Clone() const {
  return std::unique_ptr<TVRXMetaObjectDef>(new TVRXConstraintDefPrimary(*this));
}

std::unique_ptr<TVRXConstraintDef> CreateConstraintDef(uint8_t type) {
  switch (type) {
    case kConstraintPrimaryKey:
      return std::make_unique<TVRXConstraintDefPrimary>();
    case kConstraintUnique:
      return std::make_unique<TVRXConstraintDefUnique>();
    case kConstraintNotNull:
      return std::make_unique<TVRXConstraintDefNotNull>();
    case kConstraintCheck:
      return std::make_unique<TVRXConstraintDefCheck>();
    default:
      return nullptr;
  }
}

// ---- TVRXConstraintDefs ----

void TVRXConstraintDefs::SaveToStream(TVRXStream& stream) const {
  metaio::WriteI32(stream, Count(), metaio::kWriteListCount);
  for (int32_t i = 0; i < Count(); ++i) {
    metaio::WriteU8(stream, Constraint(i).Type(), metaio::kWriteConstraintType);
    Constraint(i).SaveToStream(stream);
  }
}

void TVRXConstraintDefs::LoadItems(TVRXStream& stream, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t type = metaio::ReadU8(stream, metaio::kReadConstraintType);
    std::unique_ptr<TVRXConstraintDef> constraint = CreateConstraintDef(type);
    if (!constraint) throw EVRXException("Unknown Constraint Type: '%d'", {type}, 30316);
    constraint->LoadFromStream(stream);
    items_.push_back(std::move(constraint));
  }
}

bool TVRXConstraintDefs::Accepts(const TVRXMetaObjectDef& definition) const {
  return dynamic_cast<const TVRXConstraintDef*>(&definition) != nullptr;
}

}  // namespace vrx
