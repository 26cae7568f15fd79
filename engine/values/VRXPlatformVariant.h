// TVRXPlatformVariant: the dataset library's variant as the engine meets it
// (dataset field values, Locate keys, query parameters set by the
// application). A kind code, numbered as that library numbers its variant
// types (the numbers appear in "Unsupported Variant Type %s"), and a payload:
//
//   varSmallint, varInteger, varShortInt, varInt64   signed integer
//   varByte, varWord, varLongWord                    unsigned integer
//   varSingle, varDouble                             floating number
//   varCurrency                                      the amount itself
//   varDate                                          calendar date-time
//                                                    (TDateTime day count)
//   varBoolean                                       bool
//   varString                                        UTF-8 text
//   varOleStr                                        UTF-16 text
//   varEmpty, varNull                                nothing
//
// Any other kind (for instance varDispatch or varError) carries no payload
// and is refused by the conversions. TVRXVariant::FromPlatformVariant and
// ToPlatformVariant convert in both directions.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "engine/values/VRXVariant.h"

namespace vrx {

enum class TVarType : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varDispatch = 0x0009,
  varError = 0x000A,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varUnknown = 0x000D,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varString = 0x0100,
};

class TVRXPlatformVariant {
 public:
  using Payload =
      std::variant<std::monostate, int64_t, uint64_t, double, bool, std::string, std::u16string>;

  // An empty variant.
  TVRXPlatformVariant() = default;

  static TVRXPlatformVariant Null() { return {TVarType::varNull, std::monostate{}}; }
  static TVRXPlatformVariant Smallint(int16_t v) { return {TVarType::varSmallint, int64_t{v}}; }
  static TVRXPlatformVariant Integer(int32_t v) { return {TVarType::varInteger, int64_t{v}}; }
  static TVRXPlatformVariant ShortInt(int8_t v) { return {TVarType::varShortInt, int64_t{v}}; }
  static TVRXPlatformVariant Int64(int64_t v) { return {TVarType::varInt64, v}; }
  static TVRXPlatformVariant Byte(uint8_t v) { return {TVarType::varByte, uint64_t{v}}; }
  static TVRXPlatformVariant Word(uint16_t v) { return {TVarType::varWord, uint64_t{v}}; }
  static TVRXPlatformVariant LongWord(uint32_t v) { return {TVarType::varLongWord, uint64_t{v}}; }
  static TVRXPlatformVariant Single(float v) { return {TVarType::varSingle, double{v}}; }
  static TVRXPlatformVariant Double(double v) { return {TVarType::varDouble, v}; }
  static TVRXPlatformVariant Currency(double amount) { return {TVarType::varCurrency, amount}; }
  static TVRXPlatformVariant Date(TDateTime v) { return {TVarType::varDate, v}; }
  static TVRXPlatformVariant Boolean(bool v) { return {TVarType::varBoolean, v}; }
  static TVRXPlatformVariant String(std::string v) { return {TVarType::varString, std::move(v)}; }
  static TVRXPlatformVariant OleStr(std::u16string v) {
    return {TVarType::varOleStr, std::move(v)};
  }
  // A variant of a kind without payload here (varDispatch, varError, ...).
  static TVRXPlatformVariant OfKind(uint16_t kind) {
    return {static_cast<TVarType>(kind), std::monostate{}};
  }

  TVarType Kind() const { return kind_; }
  bool IsEmptyOrNull() const { return kind_ == TVarType::varEmpty || kind_ == TVarType::varNull; }
  const Payload& Value() const { return payload_; }

  // Payload readers; each requires the payload alternative of the kind
  // (std::bad_variant_access otherwise).
  int64_t AsSigned() const { return std::get<int64_t>(payload_); }
  uint64_t AsUnsigned() const { return std::get<uint64_t>(payload_); }
  double AsDouble() const { return std::get<double>(payload_); }
  bool AsBoolean() const { return std::get<bool>(payload_); }
  const std::string& AsString() const { return std::get<std::string>(payload_); }
  const std::u16string& AsOleStr() const { return std::get<std::u16string>(payload_); }

  bool operator==(const TVRXPlatformVariant&) const = default;

 private:
  TVRXPlatformVariant(TVarType kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

  TVarType kind_ = TVarType::varEmpty;
  Payload payload_;
};

}  // namespace vrx
