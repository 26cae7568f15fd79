// Arithmetic of TVRXVariant: Add, Multiply, Divide and Negate, in place into
// the left value. Both operands are brought to CommonBaseType(left, right,
// false); the right operand is converted into a temporary, the left one with
// ChangeType. Integers compute in the width of the common type and wrap
// around (Add, Multiply, Negate); a quotient that does not fit is a
// "Division error".
#include <cmath>
#include <cstring>
#include <string>

#include "engine/values/VRXConverts.h"
#include "engine/values/VRXTypesRoutines.h"
#include "engine/values/VRXVariant.h"
#include "engine/base/VRXExcept.h"

namespace vrx {

namespace {

using B = TVRXBaseFieldType;

enum class Op { Add, Multiply, Divide };

struct OpInfo {
  const char* symbol;
  int32_t notNumericCode;
};

OpInfo InfoOf(Op op) {
  switch (op) {
    case Op::Add:
      return {"+", 30124};
    case Op::Multiply:
      return {"*", 30126};
    default:
      return {"/", 30127};
  }
}

[[noreturn]] void ThrowNotNumeric(Op op) {
  const OpInfo info = InfoOf(op);
  throw EVRXException("Not numeric argument in numeric operator '%s'", {info.symbol},
                      info.notNumericCode);
}

[[noreturn]] void ThrowDivisionError(const char* what) {
  throw EVRXException("Division error: %s", {what}, 30128);
}

bool IsUnsigned(B type) { return type == B::Byte || type == B::Word || type == B::Cardinal; }

// Stores the low-order bits of `v` in the width of `type`.
void StoreWrapped(unsigned char* p, B type, uint64_t v) {
  switch (StorageSize(type, 0)) {
    case 1:
      bytes::StoreU8(p, static_cast<uint8_t>(v));
      break;
    case 2:
      bytes::StoreU16(p, static_cast<uint16_t>(v));
      break;
    case 4:
      bytes::StoreU32(p, static_cast<uint32_t>(v));
      break;
    default:
      bytes::StoreU64(p, v);
      break;
  }
}

void StoreFloat(unsigned char* p, B type, long double v) {
  if (type == B::Single)
    bytes::StoreSingle(p, static_cast<float>(v));
  else if (type == B::Extended)
    bytes::StoreExtended(p, v);
  else
    bytes::StoreDouble(p, static_cast<double>(v));
}

uint64_t IntegerBinary(Op op, B type, int64_t a, int64_t b) {
  const uint64_t ua = static_cast<uint64_t>(a);
  const uint64_t ub = static_cast<uint64_t>(b);
  if (op == Op::Add) return ua + ub;
  if (op == Op::Multiply) return ua * ub;
  if (b == 0) ThrowDivisionError("Division by zero");
  if (IsUnsigned(type)) return ua / ub;  // both non-negative: read unsigned
  if (a == INT64_MIN && b == -1) ThrowDivisionError("Integer overflow");
  const int64_t q = a / b;  // truncates toward zero
  if (!IntegerFitsType(type, q)) ThrowDivisionError("Integer overflow");
  return static_cast<uint64_t>(q);
}

long double FloatBinary(Op op, long double a, long double b) {
  if (op == Op::Add) return a + b;
  if (op == Op::Multiply) return a * b;
  if (b == 0)
    ThrowDivisionError(a == 0 || std::isnan(a) ? "Invalid floating point operation"
                                               : "Floating point division by zero");
  return a / b;
}

int32_t Int32Binary(Op op, int32_t a, int32_t b) {
  if (op == Op::Divide) {
    if (b == 0) ThrowDivisionError("Division by zero");
    if (a == INT32_MIN && b == -1) ThrowDivisionError("Integer overflow");
    return a / b;
  }
  const uint32_t ua = static_cast<uint32_t>(a);
  const uint32_t ub = static_cast<uint32_t>(b);
  return static_cast<int32_t>(op == Op::Add ? ua + ub : ua * ub);
}

// Whole days in the milliseconds move into the day.
TVRXDateTimeValue Carry(int64_t day, int64_t ms) {
  if (ms >= kMillisecondsPerDay) {
    day += ms / kMillisecondsPerDay;
    ms %= kMillisecondsPerDay;
  }
  return {static_cast<int32_t>(static_cast<uint32_t>(day)),
          static_cast<int32_t>(static_cast<uint32_t>(ms))};
}

TVRXDateTimeValue DateTimeBinary(Op op, TVRXDateTimeValue a, TVRXDateTimeValue b) {
  int64_t day = 0;
  int64_t ms = 0;
  switch (op) {
    case Op::Add:
      day = int64_t{a.Date} + b.Date;
      ms = int64_t{a.Time} + b.Time;
      break;
    case Op::Multiply:
      day = int64_t{a.Date} * b.Date;
      ms = int64_t{a.Time} * b.Time;
      break;
    case Op::Divide:
      if (b.Date == 0 || b.Time == 0) ThrowDivisionError("Division by zero");
      day = int64_t{a.Date} / b.Date;
      ms = int64_t{a.Time} / b.Time;
      break;
  }
  return Carry(day, ms);
}

}  // namespace

// Shared by Add, Multiply and Divide: common type, NULL rules, then the
// operation on the raw bytes of both operands.
static void Combine(TVRXVariant& self, const TVRXVariant& other, Op op);

void TVRXVariant::Add(const TVRXVariant& other) { Combine(*this, other, Op::Add); }
void TVRXVariant::Multiply(const TVRXVariant& other) { Combine(*this, other, Op::Multiply); }

void TVRXVariant::Divide(const TVRXVariant& other) {
  try {
    Combine(*this, other, Op::Divide);
  } catch (const EVRXException&) {
    throw;
  } catch (const std::exception& e) {
    throw EVRXException("Division error: %s", {e.what()}, 30128);
  }
}

static void Combine(TVRXVariant& self, const TVRXVariant& other, Op op) {
  const B common = CommonBaseType(self.DataType(), other.DataType(), false);
  if (common == B::Unknown)
    throw EVRXException("Cannot cast from '%s' to '%s'",
                        {BaseTypeName(self.DataType()), BaseTypeName(B::Unknown)}, 30052);

  // The right operand in the common type (only converted when it differs).
  TVRXConvertedValue otherTemp;
  const void* right = other.Data();
  int32_t rightSize = other.DataSize();
  if (!other.IsNull() && other.DataType() != common) {
    otherTemp = ConvertValue(right, rightSize, other.DataType(), common);
    right = otherTemp.Data.get();
    rightSize = otherTemp.Size;
  }
  self.ChangeType(common);

  if (other.IsNull()) {
    // Text plus NULL keeps the text; every other NULL operand gives NULL.
    if (!(op == Op::Add && IsTextType(common) && !self.IsNull())) self.SetNull();
    return;
  }
  if (self.IsNull()) {
    if (op == Op::Add) self.Assign(other, true);
    return;
  }

  const bool computable = IsNumericType(common) || IsDateTimeType(common) || common == B::Logical ||
                          (op == Op::Add && IsTextType(common));
  if (!computable) ThrowNotNumeric(op);
  CheckValueSize(rightSize, common);
  const void* left = self.Data();
  if (IsTextType(common)) {
    TVRXConvertedValue joined;
    if (IsWideTextType(common))
      joined = MakeTextBuffer(
          std::u16string_view(WideTextOf(left, self.DataSize()) + WideTextOf(right, rightSize)),
          common);
    else
      joined = MakeTextBuffer(std::string(AnsiTextOf(left, self.DataSize(), common)) +
                                  std::string(AnsiTextOf(right, rightSize, common)),
                              common);
    self.SetData(joined.Data.get(), joined.Size, true, common);
    return;
  }

  unsigned char result[16] = {};
  if (IsIntegerType(common)) {
    StoreWrapped(result, common,
                 IntegerBinary(op, common, bytes::LoadIntegerOf(common, left),
                               bytes::LoadIntegerOf(common, right)));
  } else if (IsFloatType(common) || common == B::Currency) {
    StoreFloat(
        result, common,
        FloatBinary(op, bytes::LoadNumberOf(common, left), bytes::LoadNumberOf(common, right)));
  } else if (common == B::Date || common == B::Time) {
    bytes::StoreU32(result, static_cast<uint32_t>(
                                Int32Binary(op, bytes::LoadI32(left), bytes::LoadI32(right))));
  } else if (common == B::DateTime) {
    bytes::StoreDateTime(result,
                         DateTimeBinary(op, bytes::LoadDateTime(left), bytes::LoadDateTime(right)));
  } else {  // LOGICAL: every operator is OR
    bytes::StoreLogical(result, bytes::LoadLogical(left) || bytes::LoadLogical(right));
  }
  self.SetData(result, StorageSize(common, 0), true, common);
}

void TVRXVariant::Negate() {
  if (IsNull()) return;
  CheckValueSize(dataSize_, dataType_);
  unsigned char result[16] = {};
  const B type = dataType_;
  if (IsIntegerType(type)) {
    // Unsigned types negate through the signed type of their width, and
    // the bits are stored back: BYTE 1 becomes 255.
    StoreWrapped(result, type, 0 - static_cast<uint64_t>(bytes::LoadIntegerOf(type, data_)));
  } else if (IsFloatType(type) || type == B::Currency) {
    StoreFloat(result, type, -bytes::LoadNumberOf(type, data_));
  } else if (type == B::Date) {
    bytes::StoreU32(result, 0 - bytes::LoadU32(data_));
  } else if (type == B::Logical) {
    bytes::StoreLogical(result, !bytes::LoadLogical(data_));
  } else {
    throw EVRXException("Cannot invert value with not numeric type '%s'", {BaseTypeName(type)},
                        30123);
  }
  SetData(result, StorageSize(type, 0), true, type);
}

}  // namespace vrx
