#include "engine/storage/metadata/VRXConstraintManager.h"

#include <string>

#include "engine/base/VRXExcept.h"
#include "engine/base/VRXRandom.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/values/VRXTypesRoutines.h"

namespace vrx {

namespace {

// Room kept for the random number that makes a generated name unique
// (below 65535: at most five digits).
constexpr size_t kNameSuffixRoom = 5;

bool IsKeyConstraint(const TVRXConstraintDef& constraint) {
  return constraint.Type() == kConstraintPrimaryKey || constraint.Type() == kConstraintUnique;
}

bool IsFieldConstraint(const TVRXConstraintDef& constraint) {
  return constraint.Type() == kConstraintNotNull || constraint.Type() == kConstraintCheck;
}

}  // namespace

TVRXBaseConstraintManager::TVRXBaseConstraintManager(TVRXMetadataTable& table,
                                                     const TVRXFieldDefs& fields,
                                                     TVRXBaseIndexManager& indexes)
    : table_(table), fields_(fields), indexes_(indexes) {}

void TVRXBaseConstraintManager::LoadFromStream(TVRXStream& stream) {
  constraints_.LoadFromStream(stream);
}

void TVRXBaseConstraintManager::SaveToStream(TVRXStream& stream) const {
  constraints_.SaveToStream(stream);
}

void TVRXBaseConstraintManager::SetConstraintDefs(TVRXConstraintDefs& constraints, bool diskTable) {
  for (int32_t i = 0; i < constraints.Count(); ++i) {
    const uint8_t type = constraints.Constraint(i).Type();
    if (type != kConstraintPrimaryKey && type != kConstraintUnique && type != kConstraintNotNull &&
        type != kConstraintCheck)
      throw EVRXException("Not implemented yet", diskTable ? 30040 : 30058);
  }
  const std::string tableName = table_.TableName();
  for (int32_t i = 0; i < constraints.Count(); ++i) {
    TVRXConstraintDef& constraint = constraints.Constraint(i);
    constraint.SetID(table_.ObjectIDs().GetNextObjectID());
    constraint.Table().Name = CutMetaName(tableName);
  }
  TVRXConstraintDefs held;
  held.Assign(constraints);
  constraints_.Swap(held);
  try {
    ResolveConstraintTargets();
    NameConstraints();
  } catch (...) {
    constraints_.Swap(held);
    throw;
  }
}

void TVRXBaseConstraintManager::ResolveConstraintTargets() {
  const TVRXIndexDefs& indexes = indexes_.IndexDefs();
  for (int32_t i = 0; i < constraints_.Count(); ++i) {
    TVRXConstraintDef& constraint = constraints_.Constraint(i);
    if (IsKeyConstraint(constraint)) {
      const bool primary = constraint.Type() == kConstraintPrimaryKey;
      const int32_t index = indexes.IndexOfName(constraint.Target().Name);
      if (index < 0)
        throw EVRXException("Index '%s' not found", {constraint.Target().Name},
                            primary ? 30325 : 30326);
      constraint.Target().ID = indexes.Item(index).ID();
      for (TVRXNameIDPair& key : static_cast<TVRXConstraintDefUnique&>(constraint).KeyFields()) {
        const int32_t field = fields_.IndexOfName(key.Name);
        if (field < 0)
          throw EVRXException("Field '%s' not found", {key.Name}, primary ? 30331 : 30332);
        key.ID = fields_.Item(field).ID();
      }
    } else if (IsFieldConstraint(constraint)) {
      const int32_t field = fields_.IndexOfName(constraint.Target().Name);
      if (field < 0) throw EVRXException("Field '%s' not found", {constraint.Target().Name}, 30027);
      constraint.Target().ID = fields_.Item(field).ID();
    } else {
      throw EVRXException("Not implemented yet", 30037);
    }
  }
}

void TVRXBaseConstraintManager::NameConstraints() {
  for (int32_t i = 0; i < constraints_.Count(); ++i) {
    TVRXConstraintDef& constraint = constraints_.Constraint(i);
    if (!constraint.Name().empty()) continue;
    if (!IsFieldConstraint(constraint)) throw EVRXException("Not implemented yet", 30038);
    const std::string base = std::string("$") +
                             (constraint.Type() == kConstraintNotNull ? "C_NotNull" : "C_Check") +
                             "$" + table_.TableName() + "$" + constraint.Target().Name;
    // A long base is cut so that the number still fits the name: cut after
    // the number, every candidate would be the same taken name.
    const std::string numbered(Utf8CutToSize(base, kMaxMetaNameLength - kNameSuffixRoom));
    std::string name = CutMetaName(base);
    while (constraints_.IndexOfName(name) >= 0) name = numbered + std::to_string(VRXRandom(65535));
    constraint.SetName(name);
  }
}

const TVRXConstraintDef* TVRXBaseConstraintManager::AddIndexConstraint(const TVRXIndexDef& index) {
  std::unique_ptr<TVRXConstraintDefUnique> constraint;
  std::string name;
  if (index.Primary()) {
    constraint = std::make_unique<TVRXConstraintDefPrimary>();
    name = "C_PK";
  } else if (index.Unique()) {
    constraint = std::make_unique<TVRXConstraintDefUnique>();
    name = "C_Unique";
  } else {
    return nullptr;
  }
  const bool primary = index.Primary();
  for (const TVRXIndexColumn& column : index.Columns()) {
    name += "$" + column.FieldName;
    const int32_t field = fields_.IndexOfName(column.FieldName);
    if (field < 0)
      throw EVRXException("Field '%s' not found", {column.FieldName}, primary ? 30331 : 30332);
    constraint->AddKeyField(column.FieldName, fields_.Item(field).ID());
  }
  constraint->SetName(name);
  constraint->Target() = {index.Name(), index.ID()};
  constraint->Table().Name = CutMetaName(table_.TableName());
  constraint->SetID(table_.ObjectIDs().GetNextObjectID());
  constraints_.Add(std::move(constraint));
  return &constraints_.Constraint(constraints_.Count() - 1);
}

void TVRXBaseConstraintManager::DropIndexConstraint(int32_t indexID) {
  for (int32_t i = 0; i < constraints_.Count(); ++i) {
    const TVRXConstraintDef& constraint = constraints_.Constraint(i);
    if (IsKeyConstraint(constraint) && constraint.Target().ID == indexID) {
      constraints_.Delete(i);
      return;
    }
  }
}

int32_t TVRXBaseConstraintManager::FieldByID(int32_t id, int32_t nativeError) const {
  const int32_t field = fields_.IndexOfID(id);
  if (field < 0) throw EVRXException("Field #%d not found", {id}, nativeError);
  return field;
}

bool TVRXBaseConstraintManager::IsDuplicate(int32_t sessionID, const TVRXConstraintDef& constraint,
                                            std::span<const uint8_t> record, bool isInsert,
                                            std::span<const uint8_t> oldRecord) {
  if (table_.RecordCount(sessionID) <= 0) return false;
  if (!isInsert) fields_.CheckMemoryRecord(oldRecord);
  return indexes_.IsDuplicateKey(sessionID, constraint.Target().ID, record, isInsert, oldRecord);
}

bool TVRXBaseConstraintManager::CheckRecord(int32_t sessionID, std::span<const uint8_t> record,
                                            bool raise, const TVRXRecordID& /*recordID*/,
                                            bool isInsert, std::span<const uint8_t> oldRecord) {
  fields_.CheckMemoryRecord(record);
  for (int32_t i = 0; i < constraints_.Count(); ++i) {
    const TVRXConstraintDef& constraint = constraints_.Constraint(i);
    std::string violation;
    int32_t nativeError = 0;
    switch (constraint.Type()) {
      case kConstraintPrimaryKey: {
        const auto& keys = static_cast<const TVRXConstraintDefUnique&>(constraint).KeyFields();
        bool allNull = true;
        std::string names;
        for (const TVRXNameIDPair& key : keys) {
          if (!FieldIsNull(record, FieldByID(key.ID, 30329))) allNull = false;
          if (!names.empty()) names += ",";
          names += key.Name;
        }
        if (allNull) {
          violation = FormatText("Constraint '%s' violated. Value in field '%s' cannot be null",
                                 {constraint.Name(), names});
          nativeError = 30330;
        } else if (IsDuplicate(sessionID, constraint, record, isInsert, oldRecord)) {
          violation = FormatText("Primary Key constraint '%s' violated. Duplicate found.",
                                 {constraint.Name()});
          nativeError = 30319;
        }
        break;
      }
      case kConstraintUnique:
        if (IsDuplicate(sessionID, constraint, record, isInsert, oldRecord)) {
          violation =
              FormatText("Constraint unique '%s' violated. Duplicate found.", {constraint.Name()});
          nativeError = 30320;
        }
        break;
      case kConstraintNotNull: {
        const int32_t field = FieldByID(constraint.Target().ID, 30024);
        if (FieldIsNull(record, field)) {
          violation = FormatText("Constraint '%s' violated. Value in field '%s' cannot be null",
                                 {constraint.Name(), fields_.Item(field).Name()});
          nativeError = 30026;
        }
        break;
      }
      case kConstraintCheck: {
        const int32_t fieldNo = FieldByID(constraint.Target().ID, 30028);
        if (FieldIsNull(record, fieldNo)) break;
        const auto& check = static_cast<const TVRXConstraintDefCheck&>(constraint);
        const TVRXFieldDef& field = fields_.Field(fieldNo);
        const TVRXRawValue value{record.data() + field.MemoryOffset(), field.MemorySize(),
                                 field.StorageType(), false};
        const auto raw = [](const TVRXVariant& bound) {
          return TVRXRawValue{bound.Data(), bound.DataSize(), bound.DataType(), false};
        };
        if (!check.MinValue().IsNull() &&
            CompareValues(raw(check.MinValue()), value) == kCompareGreater) {
          violation =
              FormatText("Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                         {constraint.Name(), field.Name(), check.MinValue().GetAsString()});
          nativeError = 30029;
        } else if (!check.MaxValue().IsNull() &&
                   CompareValues(raw(check.MaxValue()), value) == kCompareLess) {
          violation = FormatText(
              "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
              {constraint.Name(), field.Name(), check.MaxValue().GetAsString()});
          nativeError = 30030;
        }
        break;
      }
      default:
        throw EVRXException("Not implemented yet", 30036);
    }
    if (nativeError != 0) {
      if (raise) throw EVRXException(violation, nativeError);
      return false;
    }
  }
  return true;
}

}  // namespace vrx
