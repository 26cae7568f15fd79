// Engine exceptions. Every engine layer reports failure by throwing
// EVRXException, whose message ends in " - Native error: " and the five-digit
// number of the place that raised it. Exception is the base of every
// exception of the system (engine and application alike).
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <concepts>

namespace vrx {

// One argument of a formatted message: an integer of any width (widened to
// 64 bits), a floating-point number or a text.
class FormatArg {
 public:
  enum class Kind { Signed, Unsigned, Float, Text };

  template <std::integral T>
  FormatArg(T value) {  // NOLINT(google-explicit-constructor): used in braced lists
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Signed;
      signed_ = value;
    } else {
      kind_ = Kind::Unsigned;
      unsigned_ = value;
    }
  }
  FormatArg(double value) : kind_(Kind::Float), float_(value) {}  // NOLINT
  FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}  // NOLINT
  FormatArg(const char* text) : kind_(Kind::Text), text_(text) {}  // NOLINT
  FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}  // NOLINT

  Kind kind() const { return kind_; }
  int64_t AsSigned() const { return signed_; }
  uint64_t AsUnsigned() const { return unsigned_; }
  double AsFloat() const { return float_; }
  const std::string& AsText() const { return text_; }

 private:
  Kind kind_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
  double float_ = 0;
  std::string text_;
};

// Formats `format` the way the engine's messages are written: conversions
// %d %u %x %X %s %f %e %g %n and %%, each with optional '-' flag, width and
// .precision ("%.5d" pads digits with zeros, "%5d" pads with spaces).
// Throws std::invalid_argument when the arguments do not match the format
// (too few, too many, or of the wrong kind); the message text is not used.
std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, int helpContext = 0)
      : message_(std::move(message)), helpContext_(helpContext) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  int HelpContext() const noexcept { return helpContext_; }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
  int helpContext_;
};

class EVRXException : public Exception {
 public:
  // Fixed text: message = text + " - Native error: " + "%.5d" of the number.
  EVRXException(std::string_view text, int32_t nativeError);

  // Formatted text: message = formatted text + " - Native error: " + "%5d"
  // of the number. When the arguments do not fit the format, the format
  // itself followed by " Arguments are invalid!" stands for the text.
  EVRXException(std::string_view format, std::initializer_list<FormatArg> args,
                int32_t nativeError);

  int32_t NativeError() const noexcept { return nativeError_; }

  // The message without the " - Native error: NNNNN" suffix.
  std::string Text() const;

 private:
  int32_t nativeError_;
};

inline constexpr std::string_view kNativeErrorSuffix = " - Native error: ";

}  // namespace vrx
