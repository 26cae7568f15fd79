// TVRXVariant: the engine's one value. A value has a storage type, a buffer
// in that type's storage encoding (engine/query/VRXTypes.h) and a NULL flag.
// Field default values, CHECK bounds, SQL parameters, expression results and
// key values handed to the B-tree comparisons are all TVRXVariant.
//
// Ownership: a value either owns its buffer (a block of the engine memory
// manager, freed when the value is cleared, overwritten or destroyed) or
// borrows it (Assign without deep copy, SetData without copy): a borrowed
// buffer belongs to someone else, is never freed or written through, and
// must outlive the value. Every operation that changes the bytes first gives
// the value an owned buffer of its own. Copying a TVRXVariant (copy
// constructor, copy assignment) always deep-copies; moving hands the buffer
// over together with its ownership.
//
// Errors are EVRXException. A failing operation leaves the value as it was,
// except SetTypeOrClear (which leaves it NULL on failure) and the arithmetic,
// after which the left value may already hold the common type.
//
// Not thread-safe: a value is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/values/VRXConverts.h"
#include "engine/values/VRXDateFormat.h"
#include "engine/values/VRXTypes.h"
#include "engine/values/VRXValueBytes.h"

namespace vrx {

class TVRXStream;           // engine/storage/VRXStream.h
class TVRXPlatformVariant;  // engine/query/VRXPlatformVariant.h

class TVRXVariant {
 public:
  static constexpr uint8_t kNullFlag = 255;

  // A new value is untyped and NULL.
  TVRXVariant() = default;
  // A NULL value of `type`.
  explicit TVRXVariant(TVRXBaseFieldType type) : dataType_(type) {}
  ~TVRXVariant();

  TVRXVariant(const TVRXVariant& other);             // deep copy
  TVRXVariant& operator=(const TVRXVariant& other);  // deep copy
  TVRXVariant(TVRXVariant&& other) noexcept;
  TVRXVariant& operator=(TVRXVariant&& other) noexcept;

  // ---- fields ----
  TVRXBaseFieldType DataType() const { return dataType_; }
  int32_t DataSize() const { return dataSize_; }
  const void* Data() const { return data_; }
  bool Borrowed() const { return borrowed_; }
  uint8_t NullFlag() const { return nullFlag_; }

  // ---- state ----

  // NULL when the flag is set or there is no buffer.
  bool IsNull() const { return nullFlag_ != 0 || data_ == nullptr; }
  // Marks the value NULL; type and buffer are kept.
  void SetNull() { nullFlag_ = kNullFlag; }
  // Frees an owned buffer; the value becomes a NULL of `type`.
  void Clear(TVRXBaseFieldType type = TVRXBaseFieldType::Unknown);
  // "Value is Null" (30016) for a NULL value.
  void CheckNotNull() const;

  // Copies type, size, NULL flag and buffer of `other`: the bytes are
  // copied into an owned buffer when `deep`, else borrowed from `other`
  // (which must then outlive this value and keep its buffer).
  void Assign(const TVRXVariant& other, bool deep);

  // Takes `size` raw bytes of storage type `type`: copied into an owned
  // buffer (the old one reused when owned and of the same size) or, without
  // `copy`, borrowed. The value becomes non-NULL. A size that cannot hold a
  // value of the type raises "Buffer size exceeded" (20056).
  void SetData(const void* data, int32_t size, bool copy, TVRXBaseFieldType type);

  // Copies the buffer to `buffer` and returns true; false for NULL and for
  // an empty text. `capacity` -1 means unlimited; a capacity below DataSize
  // raises "Buffer size exceeded" (20056).
  bool GetData(void* buffer, int32_t capacity) const;

  // ---- typed values ----

  // Stores `size` bytes of a value of storage type `type`. The value keeps
  // its own type (an untyped value takes `type`) and the bytes are converted
  // into it. An empty text leaves the value NULL. A conversion error leaves
  // the value unchanged.
  void SetTypedValue(const void* data, int32_t size, TVRXBaseFieldType type);

  // The value's bytes converted to `type` (a copy when it is the own type).
  // "Value is Null" (30016) for NULL; the conversion errors otherwise.
  TVRXConvertedValue GetTypedValue(TVRXBaseFieldType type) const;

  void SetAsChar(std::string_view text);
  void SetAsChar(std::u16string_view text);
  void SetAsWideChar(std::string_view text);
  void SetAsWideChar(std::u16string_view text);
  void SetAsString(std::string_view text);
  void SetAsString(std::u16string_view text);
  void SetAsWideString(std::string_view text);
  void SetAsWideString(std::u16string_view text);
  void SetAsShortInt(int8_t value);
  void SetAsSmallInt(int16_t value);
  void SetAsInteger(int32_t value);
  void SetAsLargeInt(int64_t value);
  void SetAsByte(uint8_t value);
  void SetAsWord(uint16_t value);
  void SetAsCardinal(uint32_t value);
  void SetAsSingle(float value);
  void SetAsFloat(double value);
  void SetAsExtended(long double value);
  void SetAsDate(int32_t dayNumber);
  void SetAsTime(int32_t milliseconds);
  void SetAsDateTime(TVRXDateTimeValue value);
  // The calendar date-time forms (day count since 30 December 1899).
  void SetAsCalendarDate(TDateTime value);
  void SetAsCalendarTime(TDateTime value);
  void SetAsCalendarDateTime(TDateTime value);
  void SetAsLogical(bool value);
  void SetAsCurrency(double amount);
  // Raw bytes of a BLOB and the text of a MEMO.
  void SetAsBlob(std::string_view bytes);
  void SetAsMemo(std::string_view text);

  // Getters: CheckNotNull, then the own buffer read directly or converted
  // from the value's type with ConvertValue.
  std::string GetAsChar() const;
  std::string GetAsString() const;
  std::u16string GetAsWideChar() const;
  std::u16string GetAsWideString() const;
  int8_t GetAsShortInt() const;
  int16_t GetAsSmallInt() const;
  int32_t GetAsInteger() const;
  int64_t GetAsLargeInt() const;
  uint8_t GetAsByte() const;
  uint16_t GetAsWord() const;
  uint32_t GetAsCardinal() const;
  float GetAsSingle() const;
  double GetAsFloat() const;
  long double GetAsExtended() const;
  int32_t GetAsDate() const;
  int32_t GetAsTime() const;
  TVRXDateTimeValue GetAsDateTime() const;
  // The DATETIME form as the calendar date-time.
  TDateTime GetAsCalendarDateTime() const;
  bool GetAsLogical() const;
  double GetAsCurrency() const;
  // A BLOB's bytes as text; a terminator that a text conversion left at the
  // end is dropped. Other types convert to BLOB first.
  std::string GetAsBlob() const;
  // A MEMO's text; any type that converts to text yields that text.
  std::string GetAsMemo() const;

  // ---- type changes ----

  // Converts the value in place into `type` (an owned buffer). A NULL value
  // only changes its type. The conversion errors leave the value unchanged.
  void ChangeType(TVRXBaseFieldType type);
  // As ChangeType, but a value that does not convert becomes a NULL of
  // `type` instead of failing.
  void SetTypeOrClear(TVRXBaseFieldType type);

  // Characters of a text value (bytes of UTF-8 text, code units of wide
  // text) up to its terminator; -1 for NULL and non-text values.
  int32_t CharLength() const;

  // ---- arithmetic, in place into this value ----
  //
  // Both operands are brought to CommonBaseType(this, other, false).
  // Integers compute in the width of the common type and never wrap: a
  // result outside it raises "Integer overflow in numeric operator '%s'"
  // (30065 "+", 30066 "*", 30067 "-" of Negate). Negate gives an unsigned
  // value the signed type of the next width (BYTE to SMALLINT, WORD to
  // INTEGER, CARDINAL to LARGEINT).
  void Add(const TVRXVariant& other);
  void Multiply(const TVRXVariant& other);
  void Divide(const TVRXVariant& other);
  void Negate();

  // ---- comparison ----

  // How Compare treats NULLs and texts.
  struct CompareOptions {
    // Keep CompareValues' NULL codes 3, 4, 5; otherwise they become 1, 2, 0
    // (NULL sorts first, NULLs are equal).
    bool rawCodes = false;
    // Compare two texts over the shorter CharLength only (a prefix match).
    bool partial = false;
    bool ignoreCase = false;
  };

  // CompareValues of both values; a TVRXCompareResult.
  int Compare(const TVRXVariant& other, const CompareOptions& options) const;
  int Compare(const TVRXVariant& other) const { return Compare(other, CompareOptions{}); }

  // ---- value stream form ----
  //
  // Storage type (1 byte), NULL flag (1 byte: 0 = a value follows), then
  // for a value its size (int32, little-endian) and its bytes. Save errors
  // carry 10179 to 10182, load errors 10183 to 10186 (type, flag, size,
  // data), with the checked stream messages. Loading clears the value
  // first; a loaded size that cannot hold a value of the type, or that
  // passes the end of the stream, is a load error of the size (10185).
  void SaveToStream(TVRXStream& stream) const;
  void LoadFromStream(TVRXStream& stream);

  // ---- platform variants (engine/query/VRXPlatformVariant.h) ----
  // Empty and null make the value NULL (its type kept); the other kinds are
  // stored with the typed setter of their engine type, so a typed value
  // converts them into its own type. Any other kind raises "Unsupported
  // Variant Type %s" (30113) with the kind's number.
  void FromPlatformVariant(const TVRXPlatformVariant& value);
  // NULL gives a null variant; text, BLOB, integers, LOGICAL and DATETIME
  // their own kinds; SINGLE, FLOAT, EXTENDED, CURRENCY, DATE (calendar day
  // count) and TIME (day fraction) a double. BYTES and VARBYTES raise
  // "Unsupported Variant Type %s" (30114) with the type's name.
  TVRXPlatformVariant ToPlatformVariant() const;

 private:
  void ReleaseBuffer();
  // Installs an owned buffer (the old one released) and marks non-NULL.
  void TakeBuffer(TVRXConvertedValue&& value);
  // The buffer of this non-NULL value as `type`: the own bytes or a
  // converted copy held in `scratch`.
  const void* ReadAs(TVRXBaseFieldType type, TVRXConvertedValue& scratch, int32_t& size) const;
  void SetText(std::string_view text, TVRXBaseFieldType type);
  void SetText(std::u16string_view text, TVRXBaseFieldType type);
  void SetFixed(TVRXBaseFieldType type, const void* encoded);
  void StorePlatformVariant(const TVRXPlatformVariant& value);

  TVRXBaseFieldType dataType_ = TVRXBaseFieldType::Unknown;
  int32_t dataSize_ = 0;
  void* data_ = nullptr;
  bool borrowed_ = false;
  uint8_t nullFlag_ = kNullFlag;
};

// An SQL parameter: a value with a name. Like TVRXVariant it has no virtual
// destructor: own it as a TVRXSQLParam, never through a TVRXVariant pointer.
class TVRXSQLParam : public TVRXVariant {
 public:
  TVRXSQLParam() = default;
  explicit TVRXSQLParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  std::string name_;
};

}  // namespace vrx
