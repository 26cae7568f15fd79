#include "engine/base/VRXExcept.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace vrx {

namespace {

struct Spec {
  bool leftAlign = false;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

std::string Pad(std::string body, const Spec& spec) {
  if (spec.width > 0 && static_cast<int>(body.size()) < spec.width) {
    std::string fill(static_cast<size_t>(spec.width) - body.size(), ' ');
    body = spec.leftAlign ? body + fill : fill + body;
  }
  return body;
}

// Digits of an integer with the precision as the minimum digit count.
std::string IntegerText(const FormatArg& arg, const Spec& spec) {
  const bool hex = spec.conversion == 'x' || spec.conversion == 'X';
  bool negative = false;
  uint64_t magnitude = 0;
  if (arg.kind() == FormatArg::Kind::Signed) {
    const int64_t s = arg.AsSigned();
    if (spec.conversion == 'u' || hex) {
      magnitude = static_cast<uint64_t>(s);
      // Unsigned views of negative 32-bit values read as 32-bit, the width
      // the engine's messages were written for.
      if (s < 0 && s >= INT32_MIN) magnitude &= 0xFFFFFFFFu;
    } else {
      negative = s < 0;
      magnitude = negative ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
    }
  } else if (arg.kind() == FormatArg::Kind::Unsigned) {
    magnitude = arg.AsUnsigned();
  } else {
    throw std::invalid_argument("integer expected");
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, hex ? (spec.conversion == 'x' ? "%llx" : "%llX") : "%llu",
                static_cast<unsigned long long>(magnitude));
  std::string digits = buffer;
  if (spec.precision > static_cast<int>(digits.size()))
    digits.insert(0, static_cast<size_t>(spec.precision) - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

std::string FloatText(const FormatArg& arg, const Spec& spec) {
  double value = 0;
  if (arg.kind() == FormatArg::Kind::Float)
    value = arg.AsFloat();
  else if (arg.kind() == FormatArg::Kind::Signed)
    value = static_cast<double>(arg.AsSigned());
  else if (arg.kind() == FormatArg::Kind::Unsigned)
    value = static_cast<double>(arg.AsUnsigned());
  else
    throw std::invalid_argument("number expected");
  char fmt[16];
  const char conv = spec.conversion == 'n' ? 'f' : spec.conversion;
  int precision = spec.precision;
  if (precision < 0) precision = conv == 'g' ? 15 : 2;
  std::snprintf(fmt, sizeof fmt, "%%.%d%c", precision, conv);
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, fmt, value);
  return buffer;
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const FormatArg& a : args) list.push_back(&a);
  size_t next = 0;
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= format.size()) throw std::invalid_argument("format ends in %");
    if (format[i] == '%') {
      out += '%';
      continue;
    }
    Spec spec;
    if (format[i] == '-') {
      spec.leftAlign = true;
      ++i;
    }
    auto readNumber = [&](int& target) {
      if (i < format.size() && format[i] == '*') {
        if (next >= list.size()) throw std::invalid_argument("missing width argument");
        const FormatArg& w = *list[next++];
        if (w.kind() != FormatArg::Kind::Signed || w.AsSigned() < 0 || w.AsSigned() > 4096)
          throw std::invalid_argument("width must be a small integer");
        target = static_cast<int>(w.AsSigned());
        ++i;
        return;
      }
      int value = -1;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        value = (value < 0 ? 0 : value * 10) + (format[i] - '0');
        if (value > 4096) throw std::invalid_argument("width too large");
        ++i;
      }
      target = value;
    };
    readNumber(spec.width);
    if (i < format.size() && format[i] == '.') {
      ++i;
      readNumber(spec.precision);
      if (spec.precision < 0) spec.precision = 0;
    }
    if (i >= format.size()) throw std::invalid_argument("incomplete conversion");
    spec.conversion = format[i];
    if (next >= list.size()) throw std::invalid_argument("missing argument");
    const FormatArg& arg = *list[next++];
    switch (spec.conversion) {
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        out += Pad(IntegerText(arg, spec), spec);
        break;
      case 'f':
      case 'e':
      case 'g':
      case 'n':
        out += Pad(FloatText(arg, spec), spec);
        break;
      case 's': {
        if (arg.kind() != FormatArg::Kind::Text) throw std::invalid_argument("text expected");
        std::string body = arg.AsText();
        if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < body.size())
          body.resize(static_cast<size_t>(spec.precision));
        out += Pad(std::move(body), spec);
        break;
      }
      default:
        throw std::invalid_argument("unknown conversion");
    }
  }
  if (next != list.size()) throw std::invalid_argument("too many arguments");
  return out;
}

EVRXException::EVRXException(std::string_view text, int32_t nativeError)
    : Exception(std::string(text) + std::string(kNativeErrorSuffix) +
                FormatText("%.5d", {nativeError})),
      nativeError_(nativeError) {}

EVRXException::EVRXException(std::string_view format, std::initializer_list<FormatArg> args,
                             int32_t nativeError)
    : Exception(std::string()), nativeError_(nativeError) {
  std::string text;
  try {
    text = FormatText(format, args);
  } catch (const std::invalid_argument&) {
    text = std::string(format) + " Arguments are invalid!";
  }
  SetMessage(text + std::string(kNativeErrorSuffix) + FormatText("%5d", {nativeError}));
}

std::string EVRXException::Text() const {
  const std::string& m = Message();
  const size_t at = m.rfind(kNativeErrorSuffix);
  return at == std::string::npos ? m : m.substr(0, at);
}

}  // namespace vrx
