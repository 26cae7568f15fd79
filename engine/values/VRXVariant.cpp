#include "engine/values/VRXVariant.h"

#include <cstring>
#include <utility>

#include "engine/values/VRXStrUtils.h"
#include "engine/values/VRXTypesRoutines.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"

namespace vrx {

namespace {

using B = TVRXBaseFieldType;

bool IsEmptyText(const void* data, int32_t size, B type) {
  if (IsWideTextType(type)) return WideTextOf(data, size).empty();
  if (IsTextType(type)) return AnsiTextOf(data, size, type).empty();
  if (type == B::Memo || type == B::WideMemo) return size == 0;
  return false;
}

}  // namespace

// ---- lifetime ----

TVRXVariant::~TVRXVariant() { ReleaseBuffer(); }

TVRXVariant::TVRXVariant(const TVRXVariant& other) { Assign(other, true); }

TVRXVariant& TVRXVariant::operator=(const TVRXVariant& other) {
  if (this != &other) Assign(other, true);
  return *this;
}

TVRXVariant::TVRXVariant(TVRXVariant&& other) noexcept
    : dataType_(other.dataType_),
      dataSize_(other.dataSize_),
      data_(std::exchange(other.data_, nullptr)),
      borrowed_(std::exchange(other.borrowed_, false)),
      nullFlag_(std::exchange(other.nullFlag_, kNullFlag)) {
  other.dataSize_ = 0;
}

TVRXVariant& TVRXVariant::operator=(TVRXVariant&& other) noexcept {
  if (this != &other) {
    ReleaseBuffer();
    dataType_ = other.dataType_;
    dataSize_ = std::exchange(other.dataSize_, 0);
    data_ = std::exchange(other.data_, nullptr);
    borrowed_ = std::exchange(other.borrowed_, false);
    nullFlag_ = std::exchange(other.nullFlag_, kNullFlag);
  }
  return *this;
}

void TVRXVariant::ReleaseBuffer() {
  if (data_ != nullptr && !borrowed_) TVRXMemoryManager::Instance().FreeAndNilMem(data_);
  data_ = nullptr;
  dataSize_ = 0;
  borrowed_ = false;
}

void TVRXVariant::TakeBuffer(TVRXConvertedValue&& value) {
  ReleaseBuffer();
  dataSize_ = value.Size;
  data_ = value.Data.release();
  nullFlag_ = data_ != nullptr ? 0 : kNullFlag;
}

// ---- state ----

void TVRXVariant::Clear(TVRXBaseFieldType type) {
  ReleaseBuffer();
  dataType_ = type;
  nullFlag_ = kNullFlag;
}

void TVRXVariant::CheckNotNull() const {
  if (IsNull()) throw EVRXException("Value is Null", 30016);
}

void TVRXVariant::Assign(const TVRXVariant& other, bool deep) {
  if (this == &other) return;
  if (other.data_ == nullptr) {
    Clear(other.dataType_);
    return;
  }
  if (deep) {
    TVRXConvertedValue copy;
    if (other.dataSize_ > 0) {
      copy = {AllocValueBuffer(other.dataSize_), other.dataSize_};
      std::memcpy(copy.Data.get(), other.data_, static_cast<size_t>(other.dataSize_));
    }
    TakeBuffer(std::move(copy));
  } else if (other.data_ != data_) {
    ReleaseBuffer();
    data_ = other.data_;
    dataSize_ = other.dataSize_;
    borrowed_ = true;
  }
  // else: `other` borrows this value's own buffer; nothing to share.
  dataType_ = other.dataType_;
  nullFlag_ = other.nullFlag_;
}

void TVRXVariant::SetData(const void* data, int32_t size, bool copy, TVRXBaseFieldType type) {
  if (data == nullptr || size == 0) {
    Clear(type);
    return;
  }
  CheckValueSize(size, type);
  if (copy) {
    if (data_ != nullptr && !borrowed_ && dataSize_ == size) {
      std::memmove(data_, data, static_cast<size_t>(size));
    } else {
      TVRXConvertedValue copied{AllocValueBuffer(size), size};
      std::memcpy(copied.Data.get(), data, static_cast<size_t>(size));
      TakeBuffer(std::move(copied));
    }
  } else {
    ReleaseBuffer();
    // Never written through: every change first makes an owned copy.
    data_ = const_cast<void*>(data);
    dataSize_ = size;
    borrowed_ = true;
  }
  dataType_ = type;
  nullFlag_ = 0;
}

bool TVRXVariant::GetData(void* buffer, int32_t capacity) const {
  if (IsNull()) return false;
  if (capacity != -1 && capacity < dataSize_) throw EVRXException("Buffer size exceeded", 20056);
  if (IsTextType(dataType_) && dataSize_ <= (IsWideTextType(dataType_) ? 2 : 1)) return false;
  std::memcpy(buffer, data_, static_cast<size_t>(dataSize_));
  return true;
}

// ---- typed values ----

void TVRXVariant::SetTypedValue(const void* data, int32_t size, TVRXBaseFieldType type) {
  const B target = dataType_ == B::Unknown ? type : dataType_;
  if (data == nullptr) {
    Clear(target);
    return;
  }
  CheckValueSize(size, type);
  if (target == type && data_ != nullptr && !borrowed_ && IsFixedSizeType(type) &&
      dataSize_ == size) {
    std::memmove(data_, data, static_cast<size_t>(size));
    nullFlag_ = 0;
    return;
  }
  // An empty string is NULL everywhere in the engine, whatever the target.
  if (IsEmptyText(data, size, type)) {
    Clear(target);
    return;
  }
  TVRXConvertedValue value;
  if (target != type) {
    value = ConvertValue(data, size, type, target);
  } else if (IsWideTextType(type)) {
    value = MakeTextBuffer(std::u16string_view(WideTextOf(data, size)), type);
  } else if (IsTextType(type)) {
    value = MakeTextBuffer(AnsiTextOf(data, size, type), type);
  } else {
    value = {AllocValueBuffer(size), size};
    std::memcpy(value.Data.get(), data, static_cast<size_t>(size));
  }
  dataType_ = target;
  TakeBuffer(std::move(value));
}

TVRXConvertedValue TVRXVariant::GetTypedValue(TVRXBaseFieldType type) const {
  CheckNotNull();
  return ConvertValue(data_, dataSize_, dataType_, type);
}

const void* TVRXVariant::ReadAs(TVRXBaseFieldType type, TVRXConvertedValue& scratch,
                                int32_t& size) const {
  CheckNotNull();
  if (type == dataType_) {
    CheckValueSize(dataSize_, dataType_);
    size = dataSize_;
    return data_;
  }
  scratch = ConvertValue(data_, dataSize_, dataType_, type);
  size = scratch.Size;
  return scratch.Data.get();
}

void TVRXVariant::SetText(std::string_view text, TVRXBaseFieldType type) {
  if (text.empty()) {
    if (dataType_ == B::Unknown) dataType_ = type;
    Clear(dataType_);
    return;
  }
  const TVRXConvertedValue buffer = MakeTextBuffer(text, type);
  SetTypedValue(buffer.Data.get(), buffer.Size, type);
}

void TVRXVariant::SetText(std::u16string_view text, TVRXBaseFieldType type) {
  if (text.empty()) {
    if (dataType_ == B::Unknown) dataType_ = type;
    Clear(dataType_);
    return;
  }
  const TVRXConvertedValue buffer = MakeTextBuffer(text, type);
  SetTypedValue(buffer.Data.get(), buffer.Size, type);
}

void TVRXVariant::SetFixed(TVRXBaseFieldType type, const void* encoded) {
  SetTypedValue(encoded, StorageSize(type, 0), type);
}

void TVRXVariant::SetAsChar(std::string_view text) { SetText(text, B::Char); }
void TVRXVariant::SetAsChar(std::u16string_view text) {
  SetText(std::string_view(Utf16ToUtf8(text)), B::Char);
}
void TVRXVariant::SetAsWideChar(std::string_view text) {
  SetText(std::u16string_view(Utf8ToUtf16(text)), B::WideChar);
}
void TVRXVariant::SetAsWideChar(std::u16string_view text) { SetText(text, B::WideChar); }
void TVRXVariant::SetAsString(std::string_view text) { SetText(text, B::String); }
void TVRXVariant::SetAsString(std::u16string_view text) {
  SetText(std::string_view(Utf16ToUtf8(text)), B::String);
}
void TVRXVariant::SetAsWideString(std::string_view text) {
  SetText(std::u16string_view(Utf8ToUtf16(text)), B::WideString);
}
void TVRXVariant::SetAsWideString(std::u16string_view text) { SetText(text, B::WideString); }

void TVRXVariant::SetAsShortInt(int8_t value) {
  uint8_t b[1];
  bytes::StoreU8(b, static_cast<uint8_t>(value));
  SetFixed(B::ShortInt, b);
}
void TVRXVariant::SetAsSmallInt(int16_t value) {
  uint8_t b[2];
  bytes::StoreU16(b, static_cast<uint16_t>(value));
  SetFixed(B::SmallInt, b);
}
void TVRXVariant::SetAsInteger(int32_t value) {
  uint8_t b[4];
  bytes::StoreU32(b, static_cast<uint32_t>(value));
  SetFixed(B::Integer, b);
}
void TVRXVariant::SetAsLargeInt(int64_t value) {
  uint8_t b[8];
  bytes::StoreU64(b, static_cast<uint64_t>(value));
  SetFixed(B::LargeInt, b);
}
void TVRXVariant::SetAsByte(uint8_t value) { SetFixed(B::Byte, &value); }
void TVRXVariant::SetAsWord(uint16_t value) {
  uint8_t b[2];
  bytes::StoreU16(b, value);
  SetFixed(B::Word, b);
}
void TVRXVariant::SetAsCardinal(uint32_t value) {
  uint8_t b[4];
  bytes::StoreU32(b, value);
  SetFixed(B::Cardinal, b);
}
void TVRXVariant::SetAsSingle(float value) {
  uint8_t b[4];
  bytes::StoreSingle(b, value);
  SetFixed(B::Single, b);
}
void TVRXVariant::SetAsFloat(double value) {
  uint8_t b[8];
  bytes::StoreDouble(b, value);
  SetFixed(B::Float, b);
}
void TVRXVariant::SetAsExtended(long double value) {
  uint8_t b[10];
  bytes::StoreExtended(b, value);
  SetFixed(B::Extended, b);
}
void TVRXVariant::SetAsDate(int32_t dayNumber) {
  uint8_t b[4];
  bytes::StoreU32(b, static_cast<uint32_t>(dayNumber));
  SetFixed(B::Date, b);
}
void TVRXVariant::SetAsTime(int32_t milliseconds) {
  uint8_t b[4];
  bytes::StoreU32(b, static_cast<uint32_t>(milliseconds));
  SetFixed(B::Time, b);
}
void TVRXVariant::SetAsDateTime(TVRXDateTimeValue value) {
  uint8_t b[8];
  bytes::StoreDateTime(b, value);
  SetFixed(B::DateTime, b);
}
namespace {
// The day number and milliseconds of a calendar date-time; a value outside
// the day range (or not a number) is a conversion failure of the engine.
TVRXDateTimeValue FromCalendar(TDateTime value, B target) {
  TVRXDateTimeValue v;
  try {
    DateTimeToDayNumber(value, v.Date, v.Time);
  } catch (const EVRXException&) {
    throw;
  } catch (const Exception&) {
    throw EVRXException("Cannot cast from '%s' to '%s'",
                        {BaseTypeName(B::Float), BaseTypeName(target)}, 30051);
  }
  return v;
}
}  // namespace

void TVRXVariant::SetAsCalendarDate(TDateTime value) {
  SetAsDate(FromCalendar(value, B::Date).Date);
}
void TVRXVariant::SetAsCalendarTime(TDateTime value) {
  SetAsTime(FromCalendar(value, B::Time).Time);
}
void TVRXVariant::SetAsCalendarDateTime(TDateTime value) {
  SetAsDateTime(FromCalendar(value, B::DateTime));
}
void TVRXVariant::SetAsLogical(bool value) {
  uint8_t b[2];
  bytes::StoreLogical(b, value);
  SetFixed(B::Logical, b);
}
void TVRXVariant::SetAsCurrency(double amount) {
  uint8_t b[8];
  bytes::StoreDouble(b, amount);
  SetFixed(B::Currency, b);
}
void TVRXVariant::SetAsBlob(std::string_view bytes) {
  SetTypedValue(bytes.empty() ? nullptr : bytes.data(), static_cast<int32_t>(bytes.size()),
                B::Blob);
}
void TVRXVariant::SetAsMemo(std::string_view text) {
  SetTypedValue(text.empty() ? nullptr : text.data(), static_cast<int32_t>(text.size()), B::Memo);
}

std::string TVRXVariant::GetAsChar() const {
  TVRXConvertedValue scratch;
  int32_t size = 0;
  const void* p = ReadAs(B::Char, scratch, size);
  return std::string(AnsiTextOf(p, size, B::Char));
}
std::string TVRXVariant::GetAsString() const {
  TVRXConvertedValue scratch;
  int32_t size = 0;
  const void* p = ReadAs(B::String, scratch, size);
  return std::string(AnsiTextOf(p, size, B::String));
}
std::u16string TVRXVariant::GetAsWideChar() const {
  TVRXConvertedValue scratch;
  int32_t size = 0;
  const void* p = ReadAs(B::WideChar, scratch, size);
  return WideTextOf(p, size);
}
std::u16string TVRXVariant::GetAsWideString() const {
  TVRXConvertedValue scratch;
  int32_t size = 0;
  const void* p = ReadAs(B::WideString, scratch, size);
  return WideTextOf(p, size);
}

#define VRX_FIXED_GETTER(Name, Result, Type, Load) \
  Result TVRXVariant::Name() const {               \
    TVRXConvertedValue scratch;                    \
    int32_t size = 0;                              \
    const void* p = ReadAs(Type, scratch, size);   \
    return static_cast<Result>(Load(p));           \
  }

VRX_FIXED_GETTER(GetAsShortInt, int8_t, B::ShortInt, bytes::LoadI8)
VRX_FIXED_GETTER(GetAsSmallInt, int16_t, B::SmallInt, bytes::LoadI16)
VRX_FIXED_GETTER(GetAsInteger, int32_t, B::Integer, bytes::LoadI32)
VRX_FIXED_GETTER(GetAsLargeInt, int64_t, B::LargeInt, bytes::LoadI64)
VRX_FIXED_GETTER(GetAsByte, uint8_t, B::Byte, bytes::LoadU8)
VRX_FIXED_GETTER(GetAsWord, uint16_t, B::Word, bytes::LoadU16)
VRX_FIXED_GETTER(GetAsCardinal, uint32_t, B::Cardinal, bytes::LoadU32)
VRX_FIXED_GETTER(GetAsSingle, float, B::Single, bytes::LoadSingle)
VRX_FIXED_GETTER(GetAsFloat, double, B::Float, bytes::LoadDouble)
VRX_FIXED_GETTER(GetAsExtended, long double, B::Extended, bytes::LoadExtended)
VRX_FIXED_GETTER(GetAsDate, int32_t, B::Date, bytes::LoadI32)
VRX_FIXED_GETTER(GetAsTime, int32_t, B::Time, bytes::LoadI32)
VRX_FIXED_GETTER(GetAsDateTime, TVRXDateTimeValue, B::DateTime, bytes::LoadDateTime)
VRX_FIXED_GETTER(GetAsLogical, bool, B::Logical, bytes::LoadLogical)
VRX_FIXED_GETTER(GetAsCurrency, double, B::Currency, bytes::LoadDouble)

#undef VRX_FIXED_GETTER

TDateTime TVRXVariant::GetAsCalendarDateTime() const {
  const TVRXDateTimeValue v = GetAsDateTime();
  return DayNumberToDateTime(v.Date, v.Time);
}

std::string TVRXVariant::GetAsBlob() const {
  TVRXConvertedValue scratch;
  int32_t size = 0;
  const void* p = ReadAs(B::Blob, scratch, size);
  const auto* b = static_cast<const char*>(p);
  int32_t length = size;
  if (dataType_ != B::Blob)
    length -= IsWideTextType(dataType_) ? 2 : 1;  // the terminator the conversion added
  else if (length > 0 && b[length - 1] == 0)
    --length;  // a BLOB made from text carries its terminator
  return std::string(b, static_cast<size_t>(length));
}

std::string TVRXVariant::GetAsMemo() const {
  CheckNotNull();
  if (dataType_ == B::Memo) return std::string(AnsiTextOf(data_, dataSize_, B::Memo));
  if (dataType_ == B::WideMemo) {
    std::u16string units;
    const auto* b = static_cast<const unsigned char*>(data_);
    for (int32_t i = 0; i + 1 < dataSize_; i += 2)
      units += static_cast<char16_t>(bytes::LoadU16(b + i));
    return Utf16ToUtf8(units);
  }
  return GetAsString();
}

// ---- type changes ----

void TVRXVariant::ChangeType(TVRXBaseFieldType type) {
  if (type == dataType_ && !IsNull()) return;
  if (IsNull()) {
    Clear(type);
    return;
  }
  TVRXConvertedValue value = ConvertValue(data_, dataSize_, dataType_, type);
  dataType_ = type;
  TakeBuffer(std::move(value));
}

void TVRXVariant::SetTypeOrClear(TVRXBaseFieldType type) {
  try {
    ChangeType(type);
  } catch (const Exception&) {
    Clear(type);
  }
}

int32_t TVRXVariant::CharLength() const {
  if (IsNull() || !IsTextType(dataType_)) return -1;
  if (IsWideTextType(dataType_)) return static_cast<int32_t>(WideTextOf(data_, dataSize_).size());
  return static_cast<int32_t>(AnsiTextOf(data_, dataSize_, dataType_).size());
}

// ---- comparison ----

int TVRXVariant::Compare(const TVRXVariant& other, const CompareOptions& options) const {
  TVRXCompareOptions textOptions;
  textOptions.ignoreCase = options.ignoreCase;
  if (options.partial) {
    const int32_t mine = CharLength();
    const int32_t theirs = other.CharLength();
    if (mine >= 0 && theirs >= 0) textOptions.charCount = mine < theirs ? mine : theirs;
  }
  const int result = CompareValues({data_, dataSize_, dataType_, IsNull()},
                                   {other.data_, other.dataSize_, other.dataType_, other.IsNull()},
                                   textOptions);
  if (options.rawCodes) return result;
  switch (result) {
    case kCompareLeftNull:
      return kCompareLess;
    case kCompareRightNull:
      return kCompareGreater;
    case kCompareBothNull:
      return kCompareEqual;
    default:
      return result;
  }
}

}  // namespace vrx
