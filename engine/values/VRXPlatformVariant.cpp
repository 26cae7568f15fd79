#include "engine/values/VRXPlatformVariant.h"

#include "engine/values/VRXStrUtils.h"
#include "engine/base/VRXExcept.h"

namespace vrx {

using B = TVRXBaseFieldType;

void TVRXVariant::FromPlatformVariant(const TVRXPlatformVariant& value) {
  if (value.IsEmptyOrNull()) {
    SetNull();
    return;
  }
  try {
    StorePlatformVariant(value);
  } catch (const std::bad_variant_access&) {
    // A kind whose payload is missing (made with OfKind) carries no value.
    throw EVRXException("Unsupported Variant Type %s",
                        {std::to_string(static_cast<unsigned>(value.Kind()))}, 30113);
  }
}

void TVRXVariant::StorePlatformVariant(const TVRXPlatformVariant& value) {
  switch (value.Kind()) {
    case TVarType::varSmallint:
      SetAsSmallInt(static_cast<int16_t>(value.AsSigned()));
      return;
    case TVarType::varInteger:
      SetAsInteger(static_cast<int32_t>(value.AsSigned()));
      return;
    case TVarType::varSingle:
      SetAsSingle(static_cast<float>(value.AsDouble()));
      return;
    case TVarType::varDouble:
      SetAsFloat(value.AsDouble());
      return;
    case TVarType::varCurrency:
      SetAsCurrency(value.AsDouble());
      return;
    case TVarType::varDate:
      SetAsCalendarDateTime(value.AsDouble());
      return;
    case TVarType::varOleStr:
      SetAsWideString(std::u16string_view(value.AsOleStr()));
      return;
    case TVarType::varBoolean:
      SetAsLogical(value.AsBoolean());
      return;
    case TVarType::varShortInt:
      SetAsShortInt(static_cast<int8_t>(value.AsSigned()));
      return;
    case TVarType::varByte:
      SetAsByte(static_cast<uint8_t>(value.AsUnsigned()));
      return;
    case TVarType::varWord:
      SetAsWord(static_cast<uint16_t>(value.AsUnsigned()));
      return;
    case TVarType::varLongWord:
      SetAsCardinal(static_cast<uint32_t>(value.AsUnsigned()));
      return;
    case TVarType::varInt64:
      SetAsLargeInt(value.AsSigned());
      return;
    case TVarType::varString:
      SetAsString(std::string_view(value.AsString()));
      return;
    default:
      throw EVRXException("Unsupported Variant Type %s",
                          {std::to_string(static_cast<unsigned>(value.Kind()))}, 30113);
  }
}

TVRXPlatformVariant TVRXVariant::ToPlatformVariant() const {
  if (IsNull()) return TVRXPlatformVariant::Null();
  switch (dataType_) {
    case B::Char:
    case B::String:
    case B::Memo:
      return TVRXPlatformVariant::String(dataType_ == B::Memo ? GetAsMemo() : GetAsString());
    case B::Blob:
      return TVRXPlatformVariant::String(GetAsBlob());
    case B::WideChar:
    case B::WideString:
      return TVRXPlatformVariant::OleStr(GetAsWideString());
    case B::WideMemo:
      return TVRXPlatformVariant::OleStr(Utf8ToUtf16(GetAsMemo()));
    case B::ShortInt:
      return TVRXPlatformVariant::ShortInt(GetAsShortInt());
    case B::SmallInt:
      return TVRXPlatformVariant::Smallint(GetAsSmallInt());
    case B::Integer:
      return TVRXPlatformVariant::Integer(GetAsInteger());
    case B::LargeInt:
      return TVRXPlatformVariant::Int64(GetAsLargeInt());
    case B::Byte:
      return TVRXPlatformVariant::Byte(GetAsByte());
    case B::Word:
      return TVRXPlatformVariant::Word(GetAsWord());
    case B::Cardinal:
      return TVRXPlatformVariant::LongWord(GetAsCardinal());
    case B::Single:
    case B::Float:
    case B::Extended:
    case B::Currency:
      CheckValueSize(dataSize_, dataType_);
      return TVRXPlatformVariant::Double(
          static_cast<double>(bytes::LoadNumberOf(dataType_, data_)));
    case B::Date:
      // The calendar day count.
      return TVRXPlatformVariant::Double(
          static_cast<double>(int64_t{GetAsDate()} - kDateTimeEpochDay));
    case B::Time:
      // The fraction of a day.
      return TVRXPlatformVariant::Double(static_cast<double>(GetAsTime()) / kMillisecondsPerDay);
    case B::DateTime:
      return TVRXPlatformVariant::Date(GetAsCalendarDateTime());
    case B::Logical:
      return TVRXPlatformVariant::Boolean(GetAsLogical());
    default:
      throw EVRXException("Unsupported Variant Type %s", {BaseTypeName(dataType_)}, 30114);
  }
}

}  // namespace vrx
