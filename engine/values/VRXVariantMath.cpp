// Arithmetic of TVRXVariant: Add, Multiply, Divide and Negate, in place into
// the left value. Both operands are brought to CommonBaseType(left, right,
// false); the right operand is converted into a temporary, the left one with
// ChangeType. Integers compute in the width of the common type and never
// wrap around: a sum or product that does not fit that type raises "Integer
// overflow in numeric operator '%s'" naming the operator, as a quotient that
// does not fit is a "Division error". The common type is what the
// expression typing declares for the operation, and what a result column of
// that type can hold, so the value keeps that type instead of widening into
// one the column could not store. The negation of an unsigned value takes
// the signed type of the next width (BYTE 1 becomes SMALLINT -1), the
// negation of the smallest signed value is an overflow.
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

// Native errors of an integer result outside its type.
constexpr int32_t kErrAddOverflow = 30065;
constexpr int32_t kErrMultiplyOverflow = 30066;
constexpr int32_t kErrNegateOverflow = 30067;

[[noreturn]] void ThrowOverflow(const char* symbol, int32_t code) {
  throw EVRXException("Integer overflow in numeric operator '%s'", {symbol}, code);
}

[[noreturn]] void ThrowOverflow(Op op) {
  if (op == Op::Multiply) ThrowOverflow("*", kErrMultiplyOverflow);
  ThrowOverflow("+", kErrAddOverflow);
}

bool IsUnsigned(B type) { return type == B::Byte || type == B::Word || type == B::Cardinal; }

// Stores `v`, known to fit `type`, in the width of `type`.
void StoreInteger(unsigned char* p, B type, uint64_t v) {
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

// Operands of every integer type, CARDINAL included, load as int64 without
// loss; the exact result is checked against the range of `type`.
uint64_t IntegerBinary(Op op, B type, int64_t a, int64_t b) {
  if (op != Op::Divide) {
    int64_t r = 0;
    const bool overflow =
        op == Op::Add ? __builtin_add_overflow(a, b, &r) : __builtin_mul_overflow(a, b, &r);
    if (overflow || !IntegerFitsType(type, r)) ThrowOverflow(op);
    return static_cast<uint64_t>(r);
  }
  const uint64_t ua = static_cast<uint64_t>(a);
  const uint64_t ub = static_cast<uint64_t>(b);
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
  const int64_t r = op == Op::Add ? int64_t{a} + b : int64_t{a} * b;
  if (r < INT32_MIN || r > INT32_MAX) ThrowOverflow(op);
  return static_cast<int32_t>(r);
}

// Whole days in the milliseconds move into the day. Day and milliseconds
// are each at most a product of two int32, so neither sum overflows int64.
TVRXDateTimeValue Carry(Op op, int64_t day, int64_t ms) {
  if (ms >= kMillisecondsPerDay) {
    day += ms / kMillisecondsPerDay;
    ms %= kMillisecondsPerDay;
  }
  if (day < INT32_MIN || day > INT32_MAX || ms < INT32_MIN || ms > INT32_MAX) ThrowOverflow(op);
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
  return Carry(op, day, ms);
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
    StoreInteger(result, common,
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
    const int64_t v = bytes::LoadIntegerOf(type, data_);
    if (IsUnsigned(type)) {
      // The negative of an unsigned value needs a sign: the signed type of
      // the next width holds every one of them.
      const B wider = type == B::Byte ? B::SmallInt : type == B::Word ? B::Integer : B::LargeInt;
      StoreInteger(result, wider, static_cast<uint64_t>(-v));
      SetData(result, StorageSize(wider, 0), true, wider);
      return;
    }
    if (v == INT64_MIN || !IntegerFitsType(type, -v)) ThrowOverflow("-", kErrNegateOverflow);
    StoreInteger(result, type, static_cast<uint64_t>(-v));
  } else if (IsFloatType(type) || type == B::Currency) {
    StoreFloat(result, type, -bytes::LoadNumberOf(type, data_));
  } else if (type == B::Date) {
    const int32_t day = bytes::LoadI32(data_);
    if (day == INT32_MIN) ThrowOverflow("-", kErrNegateOverflow);
    bytes::StoreU32(result, static_cast<uint32_t>(-day));
  } else if (type == B::Logical) {
    bytes::StoreLogical(result, !bytes::LoadLogical(data_));
  } else {
    throw EVRXException("Cannot invert value with not numeric type '%s'", {BaseTypeName(type)},
                        30123);
  }
  SetData(result, StorageSize(type, 0), true, type);
}

}  // namespace vrx
