// Constraint definitions of a table and their list (TVRXConstraintDefs):
// primary key (type 0), unique (2), not null (3) and check (4). Used by the
// constraint manager, the table data objects (constraints implied by
// indexes), SQL table definitions and the catalog (metadata file).
//
// Every constraint carries three name/ID pairs: a reserved pair (empty, 0),
// the table pair, and the target pair (the constrained field for not null
// and check, the enforcing index for primary key and unique). Key
// constraints also list their key fields as name/ID pairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/metadata/VRXMetaObjectDef.h"
#include "engine/values/VRXVariant.h"

namespace vrx {

inline constexpr uint8_t kConstraintPrimaryKey = 0;
inline constexpr uint8_t kConstraintUnique = 2;
inline constexpr uint8_t kConstraintNotNull = 3;
inline constexpr uint8_t kConstraintCheck = 4;

struct TVRXNameIDPair {
  std::string Name;
  int32_t ID = 0;

  bool operator==(const TVRXNameIDPair&) const = default;
};

// A constraint of any type. The four types the engine knows are the
// subclasses below; a plain TVRXConstraintDef of another type can be built
// (and is refused wherever constraints are set or checked). Its stored
// form is that of the base definition: name and ID.
class TVRXConstraintDef : public TVRXMetaObjectDef {
 public:
  explicit TVRXConstraintDef(uint8_t type) : type_(type) {}

  void Assign(const TVRXMetaObjectDef& other) override;
  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXConstraintDef"; }

  uint8_t Type() const { return type_; }

  const TVRXNameIDPair& Reserved() const { return reserved_; }
  TVRXNameIDPair& Table() { return table_; }
  const TVRXNameIDPair& Table() const { return table_; }
  TVRXNameIDPair& Target() { return target_; }
  const TVRXNameIDPair& Target() const { return target_; }

 protected:
  TVRXConstraintDef(const TVRXConstraintDef&) = default;

  // name; int32 ID; int32 reserved, table and target ID; the three texts
  // (reserved, table, target), each with its size (n + 1) in front: one
  // byte (`wideSizes` false) or an int32.
  void SavePairs(TVRXStream& stream, bool wideSizes) const;
  void LoadPairs(TVRXStream& stream, bool wideSizes);

 private:
  uint8_t type_;
  TVRXNameIDPair reserved_;
  TVRXNameIDPair table_;
  TVRXNameIDPair target_;
};

class TVRXConstraintDefNotNull : public TVRXConstraintDef {
 public:
  TVRXConstraintDefNotNull() : TVRXConstraintDef(kConstraintNotNull) {}

  // The pairs with one-byte text sizes.
  void LoadFromStream(TVRXStream& stream) override { LoadPairs(stream, false); }
  void SaveToStream(TVRXStream& stream) const override { SavePairs(stream, false); }
  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXConstraintDefNotNull"; }

 protected:
  TVRXConstraintDefNotNull(const TVRXConstraintDefNotNull&) = default;
};

class TVRXConstraintDefCheck : public TVRXConstraintDef {
 public:
  TVRXConstraintDefCheck() : TVRXConstraintDef(kConstraintCheck) {}

  void Assign(const TVRXMetaObjectDef& other) override;
  // The pairs with one-byte text sizes, then the minimum and the maximum
  // (value stream form).
  void LoadFromStream(TVRXStream& stream) override;
  void SaveToStream(TVRXStream& stream) const override;
  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXConstraintDefCheck"; }

  // NULL = no bound.
  TVRXVariant& MinValue() { return minValue_; }
  const TVRXVariant& MinValue() const { return minValue_; }
  TVRXVariant& MaxValue() { return maxValue_; }
  const TVRXVariant& MaxValue() const { return maxValue_; }

 private:
  TVRXConstraintDefCheck(const TVRXConstraintDefCheck&) = default;

  TVRXVariant minValue_;
  TVRXVariant maxValue_;
};

class TVRXConstraintDefUnique : public TVRXConstraintDef {
 public:
  TVRXConstraintDefUnique() : TVRXConstraintDef(kConstraintUnique) {}

  void Assign(const TVRXMetaObjectDef& other) override;
  // The pairs with int32 text sizes; int32 key field count; per key
  // field: int32 ID, int32 (n + 1), byte n, n characters.
  void LoadFromStream(TVRXStream& stream) override;
  void SaveToStream(TVRXStream& stream) const override;
  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXConstraintDefUnique"; }

  std::vector<TVRXNameIDPair>& KeyFields() { return keyFields_; }
  const std::vector<TVRXNameIDPair>& KeyFields() const { return keyFields_; }
  void AddKeyField(std::string_view name, int32_t id = 0);

 protected:
  explicit TVRXConstraintDefUnique(uint8_t type) : TVRXConstraintDef(type) {}
  TVRXConstraintDefUnique(const TVRXConstraintDefUnique&) = default;

 private:
  std::vector<TVRXNameIDPair> keyFields_;
};

// A primary key is a unique key whose fields may not all be NULL.
class TVRXConstraintDefPrimary : public TVRXConstraintDefUnique {
 public:
  TVRXConstraintDefPrimary() : TVRXConstraintDefUnique(kConstraintPrimaryKey) {}

  std::unique_ptr<TVRXMetaObjectDef> Clone() const override;
  std::string_view ClassName() const override { return "TVRXConstraintDefPrimary"; }

 private:
  TVRXConstraintDefPrimary(const TVRXConstraintDefPrimary&) = default;
};

// A new, empty constraint of the class of `type`; nullptr for a type the
// engine does not know.
std::unique_ptr<TVRXConstraintDef> CreateConstraintDef(uint8_t type);

class TVRXConstraintDefs : public TVRXMetaObjectDefs {
 public:
  // Constraints come in several classes: the list cannot create one
  // without knowing its type, so this raises the base list's error.
  std::string_view ClassName() const override { return "TVRXConstraintDefs"; }
  // A type byte before each constraint.
  void SaveToStream(TVRXStream& stream) const override;

  TVRXConstraintDef& Constraint(int32_t position) const {
    return static_cast<TVRXConstraintDef&>(Item(position));
  }

 protected:
  bool Accepts(const TVRXMetaObjectDef& definition) const override;
  // Reads each type byte and creates its class: "Unknown Constraint Type:
  // '%d'" (30316) for any other type.
  void LoadItems(TVRXStream& stream, int32_t count) override;
};

}  // namespace vrx
