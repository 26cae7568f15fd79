#include "engine/values/VRXConverts.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/values/VRXDateFormat.h"
#include "engine/values/VRXStrUtils.h"
#include "engine/values/VRXValueBytes.h"
#include "engine/base/VRXExcept.h"
#include "engine/base/VRXMemory.h"
#include "platform/locale/Locale.h"

namespace vrx {

namespace {

using B = TVRXBaseFieldType;

[[noreturn]] void ThrowCannotCast(B from, B to, int32_t code) {
  throw EVRXException("Cannot cast from '%s' to '%s'", {BaseTypeName(from), BaseTypeName(to)},
                      code);
}

// Groups of the conversion table.
enum class Group { Text, Memo, Number, Date, Logical, Currency, Blob, None };

Group GroupOf(B type) {
  if (IsTextType(type)) return Group::Text;
  if (type == B::Memo) return Group::Memo;
  if (IsIntegerType(type) || IsFloatType(type)) return Group::Number;
  if (IsDateTimeType(type)) return Group::Date;
  if (type == B::Logical) return Group::Logical;
  if (type == B::Currency) return Group::Currency;
  if (type == B::Blob) return Group::Blob;
  return Group::None;
}

// ---- source values ----

// A source value read once, in the widest form its group needs.
struct Source {
  B type;
  const unsigned char* data;
  int32_t size;
};

int64_t IntegerOf(const Source& s) { return bytes::LoadIntegerOf(s.type, s.data); }
long double FloatOf(const Source& s) { return bytes::LoadNumberOf(s.type, s.data); }

std::string_view AnsiOf(const Source& s) { return AnsiTextOf(s.data, s.size, s.type); }
std::u16string WideOf(const Source& s) { return WideTextOf(s.data, s.size); }

// Text of any ANSI or wide text source as UTF-8.
std::string Utf8Of(const Source& s) {
  if (IsWideTextType(s.type)) return Utf16ToUtf8(WideOf(s));
  return std::string(AnsiOf(s));
}

// ---- targets ----

TVRXConvertedValue FixedBuffer(B to) {
  const int32_t size = StorageSize(to, 0);
  return {AllocValueBuffer(size), size};
}

}  // namespace

bool IntegerFitsType(TVRXBaseFieldType to, int64_t v) {
  switch (to) {
    case B::ShortInt:
      return v >= INT8_MIN && v <= INT8_MAX;
    case B::SmallInt:
      return v >= INT16_MIN && v <= INT16_MAX;
    case B::Integer:
      return v >= INT32_MIN && v <= INT32_MAX;
    case B::LargeInt:
      return true;
    case B::Byte:
      return v >= 0 && v <= UINT8_MAX;
    case B::Word:
      return v >= 0 && v <= UINT16_MAX;
    case B::Cardinal:
      return v >= 0 && v <= static_cast<int64_t>(UINT32_MAX);
    default:
      return false;
  }
}

namespace {

void StoreInteger(void* p, B to, int64_t v) {
  switch (to) {
    case B::ShortInt:
    case B::Byte:
      bytes::StoreU8(p, static_cast<uint8_t>(v));
      break;
    case B::SmallInt:
    case B::Word:
      bytes::StoreU16(p, static_cast<uint16_t>(v));
      break;
    case B::Integer:
    case B::Cardinal:
      bytes::StoreU32(p, static_cast<uint32_t>(v));
      break;
    default:
      bytes::StoreU64(p, static_cast<uint64_t>(v));
      break;
  }
}

// A floating number truncated toward zero as a 64-bit integer.
bool TruncToInt64(long double v, int64_t& out) {
  if (std::isnan(v)) return false;
  const long double t = std::trunc(v);
  if (t < -0x1p63L || t >= 0x1p63L) return false;
  out = static_cast<int64_t>(t);
  return true;
}

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// ---- conversions by target group ----

TVRXConvertedValue ToText(const Source& s, B to) {
  if (IsTextType(s.type) || s.type == B::Memo) {
    if (IsWideTextType(s.type)) return MakeTextBuffer(WideOf(s), to);
    return MakeTextBuffer(AnsiOf(s), to);
  }
  std::string text;
  switch (GroupOf(s.type)) {
    case Group::Number:
      text = IsIntegerType(s.type) ? std::to_string(IntegerOf(s)) : FloatToText(FloatOf(s));
      break;
    case Group::Currency:
      text = CurrencyToText(bytes::LoadDouble(s.data));
      break;
    case Group::Logical:
      text = bytes::LoadLogical(s.data) ? "True" : "False";
      break;
    case Group::Date: {
      TVRXDateTimeValue v;
      if (s.type == B::DateTime)
        v = bytes::LoadDateTime(s.data);
      else if (s.type == B::Date)
        v = {bytes::LoadI32(s.data), 0};
      else
        v = {EmptyDate, bytes::LoadI32(s.data)};
      // A time outside the day has no text form.
      if (v.Time < 0 || v.Time >= kMillisecondsPerDay) ThrowCannotCast(s.type, to, 30051);
      if (s.type == B::Date)
        text = DateToText(v.Date);
      else if (s.type == B::Time)
        text = TimeToText(v.Time);
      else
        text = DateTimeToText(v.Date, v.Time);
      break;
    }
    default:
      ThrowCannotCast(s.type, to, 30052);
  }
  return MakeTextBuffer(text, to);
}

TVRXConvertedValue ToInteger(const Source& s, B to) {
  int64_t v = 0;
  switch (GroupOf(s.type)) {
    case Group::Text:
    case Group::Memo:
      if (!TextToInteger(IsWideTextType(s.type) ? Utf8Of(s) : std::string(AnsiOf(s)), v))
        ThrowCannotCast(s.type, to, 30051);
      break;
    case Group::Number:
      if (IsIntegerType(s.type))
        v = IntegerOf(s);
      else if (!TruncToInt64(FloatOf(s), v))
        ThrowCannotCast(s.type, to, 30051);
      break;
    case Group::Currency:
      if (!TruncToInt64(bytes::LoadDouble(s.data), v)) ThrowCannotCast(s.type, to, 30051);
      break;
    case Group::Date:
      v = bytes::LoadI32(s.data);  // DATE and DATETIME: the day number; TIME: milliseconds
      break;
    case Group::Logical:
      v = bytes::LoadLogical(s.data) ? 1 : 0;
      break;
    default:
      ThrowCannotCast(s.type, to, 30052);
  }
  if (!IntegerFitsType(to, v)) ThrowCannotCast(s.type, to, 30051);
  TVRXConvertedValue out = FixedBuffer(to);
  StoreInteger(out.Data.get(), to, v);
  return out;
}

// The number a date-time source stands for (DATE: day number, TIME:
// milliseconds, DATETIME: day number plus the day fraction, 0 for no date).
long double NumberOfDate(const Source& s) {
  if (s.type == B::Date || s.type == B::Time) return bytes::LoadI32(s.data);
  const TVRXDateTimeValue v = bytes::LoadDateTime(s.data);
  if (v.Date == EmptyDate) return 0;
  long double n = v.Date;
  if (v.Time != 0) n += static_cast<long double>(v.Time) / kMillisecondsPerDay;
  return n;
}

TVRXConvertedValue ToFloatOrCurrency(const Source& s, B to) {
  long double v = 0;
  switch (GroupOf(s.type)) {
    case Group::Text:
    case Group::Memo: {
      const std::string text = Utf8Of(s);
      if (to == B::Currency) {
        double c = 0;
        if (!TextToCurrency(text, c)) ThrowCannotCast(s.type, to, 30051);
        v = c;
      } else if (!TextToFloat(text, v)) {
        ThrowCannotCast(s.type, to, 30051);
      }
      break;
    }
    case Group::Number:
    case Group::Currency:
      v = FloatOf(s);
      break;
    case Group::Date:
      v = NumberOfDate(s);
      break;
    case Group::Logical:
      if (to == B::Currency) ThrowCannotCast(s.type, to, 30052);
      v = bytes::LoadLogical(s.data) ? 1 : 0;
      break;
    default:
      ThrowCannotCast(s.type, to, 30052);
  }
  // A finite number too large for the target is an error, not infinity.
  const long double limit = to == B::Single     ? std::numeric_limits<float>::max()
                            : to == B::Extended ? std::numeric_limits<long double>::max()
                                                : std::numeric_limits<double>::max();
  if (std::isfinite(v) && std::fabs(v) > limit) ThrowCannotCast(s.type, to, 30051);
  TVRXConvertedValue out = FixedBuffer(to);
  if (to == B::Single)
    bytes::StoreSingle(out.Data.get(), static_cast<float>(v));
  else if (to == B::Extended)
    bytes::StoreExtended(out.Data.get(), v);
  else
    bytes::StoreDouble(out.Data.get(), static_cast<double>(v));
  return out;
}

TVRXConvertedValue ToDate(const Source& s, B to) {
  TVRXDateTimeValue v{0, 0};
  switch (GroupOf(s.type)) {
    case Group::Text:
    case Group::Memo: {
      const std::string text = Utf8Of(s);
      bool ok = false;
      if (to == B::Date)
        ok = TextToDate(text, v.Date);
      else if (to == B::Time)
        ok = TextToTime(text, v.Time);
      else
        ok = TextToDateTime(text, v.Date, v.Time);
      if (!ok) ThrowCannotCast(s.type, to, 30051);
      break;
    }
    case Group::Number: {
      if (IsIntegerType(s.type)) {
        const int64_t n = IntegerOf(s);
        if (!FitsInt32(n)) ThrowCannotCast(s.type, to, 30051);
        if (to == B::Time)
          v.Time = static_cast<int32_t>(n);
        else
          v.Date = static_cast<int32_t>(n);
        break;
      }
      const long double f = FloatOf(s);
      int64_t whole = 0;
      if (!TruncToInt64(f, whole)) ThrowCannotCast(s.type, to, 30051);
      if (to == B::Time) {
        v.Time = static_cast<int32_t>(whole % kMillisecondsPerDay);
      } else {
        if (!FitsInt32(whole)) ThrowCannotCast(s.type, to, 30051);
        v.Date = static_cast<int32_t>(whole);
        if (to == B::DateTime)
          v.Time = static_cast<int32_t>(std::trunc((f - std::trunc(f)) * kMillisecondsPerDay));
      }
      break;
    }
    case Group::Date: {
      TVRXDateTimeValue src;
      if (s.type == B::Date)
        src = {bytes::LoadI32(s.data), 0};
      else if (s.type == B::Time)
        src = {EmptyDate, bytes::LoadI32(s.data)};
      else
        src = bytes::LoadDateTime(s.data);
      if (to == B::DateTime) {
        v = src;
      } else if (to == B::Date) {
        // A TIME read as a date takes its milliseconds as the day number.
        v.Date = s.type == B::Time ? src.Time : src.Date;
      } else {
        // A DATE read as a time takes its day number modulo one day.
        v.Time = s.type == B::Date ? src.Date % kMillisecondsPerDay : src.Time;
      }
      break;
    }
    default:
      ThrowCannotCast(s.type, to, 30052);
  }
  TVRXConvertedValue out = FixedBuffer(to);
  if (to == B::DateTime)
    bytes::StoreDateTime(out.Data.get(), v);
  else
    bytes::StoreU32(out.Data.get(), static_cast<uint32_t>(to == B::Date ? v.Date : v.Time));
  return out;
}

bool SameAsciiUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

TVRXConvertedValue ToLogical(const Source& s, B to) {
  bool v = false;
  switch (GroupOf(s.type)) {
    case Group::Text:
    case Group::Memo: {
      const std::string text = Utf8Of(s);
      v = text == "1" || SameAsciiUpper(text, "TRUE");
      break;
    }
    case Group::Number:
    case Group::Currency:
      v = IsIntegerType(s.type) ? IntegerOf(s) != 0 : FloatOf(s) != 0;
      break;
    case Group::Date:
      if (s.type == B::Date) {
        v = bytes::LoadI32(s.data) != EmptyDate;
      } else if (s.type == B::Time) {
        v = bytes::LoadI32(s.data) != 0;
      } else {
        const TVRXDateTimeValue dt = bytes::LoadDateTime(s.data);
        v = dt.Date != EmptyDate || dt.Time != 0;
      }
      break;
    default:
      ThrowCannotCast(s.type, to, 30052);
  }
  TVRXConvertedValue out = FixedBuffer(to);
  bytes::StoreLogical(out.Data.get(), v);
  return out;
}

TVRXConvertedValue ToBlob(const Source& s) {
  // The text bytes with their terminator; wide text stays wide.
  if (IsWideTextType(s.type)) return MakeTextBuffer(WideOf(s), B::WideString);
  return MakeTextBuffer(AnsiOf(s), B::String);
}

void Append(std::string& out, std::string_view part) { out.append(part.data(), part.size()); }

}  // namespace

TVRXBuffer AllocValueBuffer(int32_t size) {
  return TVRXBuffer(TVRXMemoryManager::Instance().GetMem(size, true));
}

bool CanConvert(TVRXBaseFieldType from, TVRXBaseFieldType to) {
  if (from == to) return true;
  const Group f = GroupOf(from);
  const Group t = GroupOf(to);
  if (t == Group::Memo || t == Group::None) return false;  // WIDEMEMO, BYTES, VARBYTES too
  switch (f) {
    case Group::Text:
    case Group::Memo:
      return true;
    case Group::Number:
    case Group::Date:
      return t != Group::Blob;
    case Group::Logical:
      return t == Group::Text || t == Group::Number || t == Group::Logical;
    case Group::Currency:
      return t == Group::Text || t == Group::Number || t == Group::Logical || t == Group::Currency;
    default:
      return false;
  }
}

void CheckValueSize(int32_t size, TVRXBaseFieldType type) {
  bool ok = true;
  if (IsFixedSizeType(type))
    ok = size >= StorageSize(type, 0);
  else if (IsWideTextType(type))
    ok = size >= 2 && size % 2 == 0;
  else if (IsTextType(type))
    ok = size >= 1;
  else if (type == B::WideMemo)
    ok = size % 2 == 0;
  else
    ok = size >= 0;
  if (!ok) throw EVRXException("Buffer size exceeded", 20056);
}

std::string_view AnsiTextOf(const void* data, int32_t size, TVRXBaseFieldType type) {
  if (data == nullptr || size <= 0) return {};
  const char* text = static_cast<const char*>(data);
  if (type == B::Memo || type == B::Blob) return {text, static_cast<size_t>(size)};
  const void* zero = std::memchr(text, 0, static_cast<size_t>(size));
  return {text, zero ? static_cast<size_t>(static_cast<const char*>(zero) - text)
                     : static_cast<size_t>(size)};
}

std::u16string WideTextOf(const void* data, int32_t size) {
  std::u16string text;
  if (data == nullptr || size < 2) return text;
  // Record bytes need not be aligned for char16_t: read unit by unit.
  const auto* b = static_cast<const unsigned char*>(data);
  const size_t units = static_cast<size_t>(size) / 2;
  for (size_t i = 0; i < units; ++i) {
    const char16_t unit = bytes::LoadU16(b + 2 * i);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

TVRXConvertedValue MakeTextBuffer(std::string_view text, TVRXBaseFieldType type) {
  if (IsWideTextType(type) || type == B::WideMemo) return MakeTextBuffer(Utf8ToUtf16(text), type);
  if (type == B::Memo) {
    if (text.empty()) return {};
    const int32_t size = static_cast<int32_t>(text.size());
    TVRXConvertedValue out{AllocValueBuffer(size), size};
    std::memcpy(out.Data.get(), text.data(), text.size());
    return out;
  }
  if (text.size() >= static_cast<size_t>(INT32_MAX))
    throw EVRXException("Buffer size exceeded", 20056);
  const int32_t size = static_cast<int32_t>(text.size()) + 1;
  TVRXConvertedValue out{AllocValueBuffer(size), size};
  std::memcpy(out.Data.get(), text.data(), text.size());
  return out;
}

TVRXConvertedValue MakeTextBuffer(std::u16string_view text, TVRXBaseFieldType type) {
  if (!IsWideTextType(type) && type != B::WideMemo)
    return MakeTextBuffer(std::string_view(Utf16ToUtf8(text)), type);
  if (text.size() >= static_cast<size_t>(INT32_MAX / 2 - 1))
    throw EVRXException("Buffer size exceeded", 20056);
  const bool terminated = type != B::WideMemo;
  if (!terminated && text.empty()) return {};
  const int32_t size = static_cast<int32_t>(2 * (text.size() + (terminated ? 1 : 0)));
  TVRXConvertedValue out{AllocValueBuffer(size), size};
  auto* b = static_cast<unsigned char*>(out.Data.get());
  for (size_t i = 0; i < text.size(); ++i) bytes::StoreU16(b + 2 * i, text[i]);
  return out;
}

TVRXConvertedValue ConvertValue(const void* data, int32_t size, TVRXBaseFieldType from,
                                TVRXBaseFieldType to) {
  if (!CanConvert(from, to)) ThrowCannotCast(from, to, 30052);
  if (data == nullptr) throw EVRXException("Value is Null", 30016);
  CheckValueSize(size, from);
  if (from == to) {
    if (size == 0) return {};
    TVRXConvertedValue out{AllocValueBuffer(size), size};
    std::memcpy(out.Data.get(), data, static_cast<size_t>(size));
    return out;
  }
  const Source s{from, static_cast<const unsigned char*>(data), size};
  if (IsTextType(to)) return ToText(s, to);
  if (IsIntegerType(to)) return ToInteger(s, to);
  if (IsFloatType(to) || to == B::Currency) return ToFloatOrCurrency(s, to);
  if (IsDateTimeType(to)) return ToDate(s, to);
  if (to == B::Logical) return ToLogical(s, to);
  return ToBlob(s);  // the only target left that CanConvert allows
}

TVRXConvertedValue ConvertValueToLength(const void* data, int32_t size, TVRXBaseFieldType from,
                                        TVRXBaseFieldType to, int32_t length) {
  if (length < 0) throw EVRXException("Buffer size exceeded", 20056);
  TVRXConvertedValue value = ConvertValue(data, size, from, to);
  if (!IsTextType(to)) return value;
  if (IsWideTextType(to)) {
    const std::u16string text = WideTextOf(value.Data.get(), value.Size);
    if (text.size() <= static_cast<size_t>(length)) return value;
    return MakeTextBuffer(Utf16CutToSize(text, static_cast<size_t>(length)), to);
  }
  const std::string_view text = AnsiTextOf(value.Data.get(), value.Size, to);
  if (text.size() <= static_cast<size_t>(length)) return value;
  return MakeTextBuffer(Utf8CutToSize(text, static_cast<size_t>(length)), to);
}

// ---- number texts ----

bool TextToInteger(std::string_view text, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  const auto [end, ec] =
      std::from_chars(text.data() + i, text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  // from_chars takes no sign of its own; a second sign is not a number.
  if (text[i] == '+' || text[i] == '-') return false;
  if (negative) {
    if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return false;
    value = static_cast<int64_t>(0 - magnitude);
  } else {
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    value = static_cast<int64_t>(magnitude);
  }
  return true;
}

bool TextToFloat(std::string_view text, long double& value) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) negative = text[begin++] == '-';
  // Only digits, one '.', and an exponent: no "inf", "nan", hex or a
  // second sign, which from_chars would accept.
  size_t i = begin;
  size_t digits = 0;
  while (i < end && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < end && text[i] == '.') {
    ++i;
    while (i < end && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  long exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponentNegative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) exponentNegative = text[i++] == '-';
    size_t expDigits = 0;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
      ++i, ++expDigits;
    }
    if (expDigits == 0) return false;
    if (exponentNegative) exponent = -exponent;
  }
  if (i != end) return false;
  long double parsed = 0;
  const auto [stop, ec] =
      std::from_chars(text.data() + begin, text.data() + end, parsed, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Too small reads as zero; too large is no number of the type. The
    // side is told by the decimal position of the first significant digit.
    long position = 0;  // digits before the point, or minus the zeros after it
    size_t k = begin;
    while (k < end && text[k] == '0') ++k;
    while (k < end && text[k] >= '0' && text[k] <= '9') ++k, ++position;
    if (position == 0 && k < end && text[k] == '.') {
      ++k;
      while (k < end && text[k] == '0') ++k, --position;
    }
    if (position + exponent > 0) return false;
    parsed = 0;
  } else if (ec != std::errc() || stop != text.data() + end) {
    return false;
  }
  value = negative ? -parsed : parsed;
  return true;
}

bool TextToCurrency(std::string_view text, double& value) {
  const std::string separator = locale::DecimalSeparator();
  std::string normal;
  normal.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (!separator.empty() && text.compare(i, separator.size(), separator) == 0) {
      normal += '.';
      i += separator.size();
    } else if (text[i] == '.' && separator != ".") {
      return false;  // not the locale's separator
    } else {
      normal += text[i++];
    }
  }
  long double parsed = 0;
  if (!TextToFloat(normal, parsed)) return false;
  if (std::fabs(parsed) > std::numeric_limits<double>::max()) return false;
  value = static_cast<double>(parsed);
  return true;
}

std::string FloatToText(long double value, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  if (digits < 1) digits = 1;
  char buffer[128];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::scientific, digits - 1);
  if (ec != std::errc()) return "NAN";
  const std::string_view sci(buffer, static_cast<size_t>(end - buffer));
  const bool negative = sci.front() == '-';
  const size_t ePos = sci.find('e');
  std::string mantissa;
  for (char c : sci.substr(negative ? 1 : 0, ePos - (negative ? 1 : 0)))
    if (c != '.') mantissa += c;
  int exponent = 0;
  std::from_chars(sci.data() + ePos + 1 + (sci[ePos + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                  exponent);
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();

  const std::string separator = locale::DecimalSeparator();
  std::string out = negative ? "-" : "";
  if (exponent >= digits || exponent < -5) {
    out += mantissa[0];
    if (mantissa.size() > 1) {
      Append(out, separator);
      Append(out, std::string_view(mantissa).substr(1));
    }
    out += 'E';
    if (exponent < 0) out += '-';
    out += std::to_string(exponent < 0 ? -exponent : exponent);
  } else if (exponent >= 0) {
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (mantissa.size() <= integerDigits) {
      out += mantissa;
      out.append(integerDigits - mantissa.size(), '0');
    } else {
      Append(out, std::string_view(mantissa).substr(0, integerDigits));
      Append(out, separator);
      Append(out, std::string_view(mantissa).substr(integerDigits));
    }
  } else {
    out += '0';
    Append(out, separator);
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += mantissa;
  }
  return out;
}

std::string CurrencyToText(double amount) {
  const long double scaled = std::round(static_cast<long double>(amount) * 10000);
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18L) return FloatToText(amount);
  const int64_t units = static_cast<int64_t>(scaled);
  if (units == 0) return "0";
  const uint64_t magnitude =
      units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string out = units < 0 ? "-" : "";
  out += std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    Append(out, locale::DecimalSeparator());
    out += digits;
  }
  return out;
}

}  // namespace vrx
