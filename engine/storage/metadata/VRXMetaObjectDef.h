// The base of every table metadata definition (TVRXMetaObjectDef: a name and
// an object ID) and of their owning, ordered lists (TVRXMetaObjectDefs).
// Field, index and constraint definitions and their lists derive from these;
// the table's managers own the lists, and the catalog loads and saves them
// through the table's metadata file.
//
// Names are narrow (UTF-8) text of at most 255 bytes, stored as a length
// byte and the bytes; a longer name is cut to 255 bytes when it is set,
// never in the middle of a UTF-8 sequence. Names are looked up after locale
// upper-casing of both sides.
//
// Not thread-safe: definitions and lists are used under the table's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vrx {

class TVRXStream;

inline constexpr size_t kMaxMetaNameLength = 255;

// `name` cut to kMaxMetaNameLength bytes without splitting a character.
std::string CutMetaName(std::string_view name);

class TVRXMetaObjectDef {
 public:
  TVRXMetaObjectDef() = default;
  virtual ~TVRXMetaObjectDef() = default;

  // Copies every property of `other`, which must be of the same class
  // ("Cannot assign a %s to a %s" otherwise).
  virtual void Assign(const TVRXMetaObjectDef& other);
  // The stored form: name, then int32 ID; subclasses continue it.
  virtual void LoadFromStream(TVRXStream& stream);
  virtual void SaveToStream(TVRXStream& stream) const;

  // A new definition of the same class holding the same properties.
  virtual std::unique_ptr<TVRXMetaObjectDef> Clone() const = 0;
  virtual std::string_view ClassName() const = 0;

  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = CutMetaName(name); }
  // -1 until the definition is set on a table.
  int32_t ID() const { return id_; }
  void SetID(int32_t id) { id_ = id; }

 protected:
  TVRXMetaObjectDef(const TVRXMetaObjectDef&) = default;
  TVRXMetaObjectDef& operator=(const TVRXMetaObjectDef&) = default;

  // Raises the assignment error unless `other` is a T.
  template <typename T>
  const T& SameClass(const TVRXMetaObjectDef& other) const {
    const auto* same = dynamic_cast<const T*>(&other);
    if (same == nullptr || other.ClassName() != ClassName()) ThrowAssignMismatch(other);
    return *same;
  }

 private:
  [[noreturn]] void ThrowAssignMismatch(const TVRXMetaObjectDef& other) const;

  std::string name_;
  int32_t id_ = -1;
};

// An ordered list that owns its definitions. A list holds definitions of
// one class family (Accepts); a position outside the list raises "List
// index out of bounds (%d)".
class TVRXMetaObjectDefs {
 public:
  TVRXMetaObjectDefs() = default;
  TVRXMetaObjectDefs(const TVRXMetaObjectDefs&) = delete;
  TVRXMetaObjectDefs& operator=(const TVRXMetaObjectDefs&) = delete;
  virtual ~TVRXMetaObjectDefs() = default;

  virtual int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Appends `definition`, which the list then owns.
  virtual void Add(std::unique_ptr<TVRXMetaObjectDef> definition);
  // Creates a definition of the list's class, appends and returns it. The
  // base list has no class of its own: "The method '%s' not overrided in
  // class '%s'" (30339).
  virtual TVRXMetaObjectDef& InternalAddCreated();
  // int32 count, then the definitions. Loading replaces the content; when
  // it fails the list keeps what it held before.
  virtual void LoadFromStream(TVRXStream& stream);
  virtual void SaveToStream(TVRXStream& stream) const;
  // Replaces the content with copies of `other`'s definitions. A name that
  // occurs twice (after locale upper-casing) raises "Duplicate field name
  // %s" (10424), whatever the kind of definition, and leaves the list as
  // it was. Empty names (definitions still to be named) may repeat.
  virtual void Assign(const TVRXMetaObjectDefs& other);
  virtual void Delete(int32_t index);
  virtual void Insert(int32_t index, std::unique_ptr<TVRXMetaObjectDef> definition);
  virtual void Move(int32_t from, int32_t to);
  virtual void Clear();
  // Exchanges the content with a list of the same class (a loaded list is
  // handed over without copying and without a second duplicate check).
  virtual void Swap(TVRXMetaObjectDefs& other);

  virtual std::string_view ClassName() const { return "TVRXMetaObjectDefs"; }

  TVRXMetaObjectDef& Item(int32_t index) const;
  // Position of the first definition with this name (locale upper-casing
  // on both sides) or ID; -1 when there is none.
  int32_t IndexOfName(std::string_view name) const;
  int32_t IndexOfID(int32_t id) const;

 protected:
  // Whether the list may hold `definition` (the base list takes any).
  virtual bool Accepts(const TVRXMetaObjectDef& definition) const;
  // Raises the kind error when `definition` is not Accepts-able.
  void CheckAccepts(const TVRXMetaObjectDef& definition) const;
  void CheckIndex(int32_t index, int32_t limit) const;
  // Reads `count` definitions into the list through InternalAddCreated;
  // the caller has emptied the list and restores it on failure.
  virtual void LoadItems(TVRXStream& stream, int32_t count);

  std::vector<std::unique_ptr<TVRXMetaObjectDef>> items_;
};

}  // namespace vrx
