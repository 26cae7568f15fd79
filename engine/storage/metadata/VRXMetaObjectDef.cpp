#include "engine/storage/metadata/VRXMetaObjectDef.h"

#include <algorithm>
#include <set>

#include "engine/base/VRXExcept.h"
#include "engine/storage/metadata/VRXMetadataIO.h"
#include "engine/values/VRXStrUtils.h"
#include "platform/locale/Locale.h"

namespace vrx {

namespace {

// The smallest stored definition: an empty name and the ID.
constexpr int32_t kMinStoredDefinition = 5;

}  // namespace

std::string CutMetaName(std::string_view name) {
  return std::string(Utf8CutToSize(name, kMaxMetaNameLength));
}

// ---- TVRXMetaObjectDef ----

void TVRXMetaObjectDef::Assign(const TVRXMetaObjectDef& other) {
  name_ = other.name_;
  id_ = other.id_;
}

void TVRXMetaObjectDef::LoadFromStream(TVRXStream& stream) {
  name_ = metaio::ReadName(stream, metaio::kReadName);
  id_ = metaio::ReadI32(stream, metaio::kReadID);
}

void TVRXMetaObjectDef::SaveToStream(TVRXStream& stream) const {
  metaio::WriteName(stream, name_, metaio::kWriteName);
  metaio::WriteI32(stream, id_, metaio::kWriteID);
}

void TVRXMetaObjectDef::ThrowAssignMismatch(const TVRXMetaObjectDef& other) const {
  throw EVRXException("Cannot assign a %s to a %s", {other.ClassName(), ClassName()},
                      metaio::kAssignMismatch);
}

// ---- TVRXMetaObjectDefs ----

void TVRXMetaObjectDefs::Add(std::unique_ptr<TVRXMetaObjectDef> definition) {
  CheckAccepts(*definition);
  items_.push_back(std::move(definition));
}

TVRXMetaObjectDef& TVRXMetaObjectDefs::InternalAddCreated() {
  throw EVRXException("The method '%s' not overrided in class '%s'",
                      {"InternalAddCreated", ClassName()}, 30339);
}

void TVRXMetaObjectDefs::LoadFromStream(TVRXStream& stream) {
  std::vector<std::unique_ptr<TVRXMetaObjectDef>> previous;
  previous.swap(items_);
  try {
    const int32_t count = metaio::ReadCount(stream, kMinStoredDefinition, metaio::kReadListCount);
    LoadItems(stream, count);
  } catch (...) {
    items_.swap(previous);
    throw;
  }
}

void TVRXMetaObjectDefs::LoadItems(TVRXStream& stream, int32_t count) {
  for (int32_t i = 0; i < count; ++i) InternalAddCreated().LoadFromStream(stream);
}

void TVRXMetaObjectDefs::SaveToStream(TVRXStream& stream) const {
  metaio::WriteI32(stream, Count(), metaio::kWriteListCount);
  for (const auto& item : items_) item->SaveToStream(stream);
}

void TVRXMetaObjectDefs::Assign(const TVRXMetaObjectDefs& other) {
  if (&other == this) return;
  std::vector<std::unique_ptr<TVRXMetaObjectDef>> copies;
  std::set<std::string> names;
  for (const auto& item : other.items_) {
    // Definitions without a name yet (constraints named after they are
    // set) are no duplicates of one another.
    if (!item->Name().empty() && !names.insert(locale::UpperCase(item->Name())).second)
      throw EVRXException("Duplicate field name %s", {item->Name()}, 10424);
    CheckAccepts(*item);
    copies.push_back(item->Clone());
  }
  items_.swap(copies);
}

void TVRXMetaObjectDefs::Delete(int32_t index) {
  CheckIndex(index, Count());
  items_.erase(items_.begin() + index);
}

void TVRXMetaObjectDefs::Insert(int32_t index, std::unique_ptr<TVRXMetaObjectDef> definition) {
  CheckIndex(index, Count() + 1);
  CheckAccepts(*definition);
  items_.insert(items_.begin() + index, std::move(definition));
}

void TVRXMetaObjectDefs::Move(int32_t from, int32_t to) {
  CheckIndex(from, Count());
  CheckIndex(to, Count());
  if (from == to) return;
  auto moved = std::move(items_[from]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(moved));
}

void TVRXMetaObjectDefs::Clear() { items_.clear(); }

void TVRXMetaObjectDefs::Swap(TVRXMetaObjectDefs& other) {
  if (other.ClassName() != ClassName())
    throw EVRXException("Cannot assign a %s to a %s", {other.ClassName(), ClassName()},
                        metaio::kAssignMismatch);
  items_.swap(other.items_);
}

TVRXMetaObjectDef& TVRXMetaObjectDefs::Item(int32_t index) const {
  CheckIndex(index, Count());
  return *items_[index];
}

int32_t TVRXMetaObjectDefs::IndexOfName(std::string_view name) const {
  const std::string wanted = locale::UpperCase(name);
  for (int32_t i = 0; i < Count(); ++i)
    if (locale::UpperCase(items_[i]->Name()) == wanted) return i;
  return -1;
}

int32_t TVRXMetaObjectDefs::IndexOfID(int32_t id) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (items_[i]->ID() == id) return i;
  return -1;
}

bool TVRXMetaObjectDefs::Accepts(const TVRXMetaObjectDef&) const { return true; }

void TVRXMetaObjectDefs::CheckAccepts(const TVRXMetaObjectDef& definition) const {
  if (!Accepts(definition))
    throw EVRXException("Cannot add a %s to a %s", {definition.ClassName(), ClassName()},
                        metaio::kListKindMismatch);
}

void TVRXMetaObjectDefs::CheckIndex(int32_t index, int32_t limit) const {
  if (index < 0 || index >= limit)
    throw EVRXException("List index out of bounds (%d)", {index}, metaio::kListIndexOutOfBounds);
}

}  // namespace vrx
