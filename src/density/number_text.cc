#include "density/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace ponderix {
namespace {

// The value as %.15G writes it, with `separator` for the point, "-" before a
// negative value and `positiveSign` before any other. Both conversions to text
// go through here so that they can never disagree on rounding or on when the
// exponent form starts. Comparing (not signbit) makes negative zero "0".
std::string NumberText(double value, std::string_view separator, std::string_view positiveSign) {
  const double magnitude = value < 0 ? -value : (value == 0 ? 0.0 : value);
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::general, 15);
  std::string text(value < 0 ? "-" : positiveSign);
  text.reserve(text.size() + static_cast<std::size_t>(res.ptr - buf) + separator.size());
  for (const char* p = buf; p != res.ptr; ++p) {
    if (*p == '.') {
      text += separator;
    } else if (*p == 'e') {
      text += 'E';
    } else {
      text += *p;
    }
  }
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t CountDigits(std::string_view s, std::size_t pos) {
  std::size_t n = 0;
  while (pos + n < s.size() && IsDigit(s[pos + n])) ++n;
  return n;
}

// A decimal number already split into its parts. Keeping the parts (rather
// than one string) lets the caller decide which letters and points it accepts.
struct DecimalParts {
  bool negative = false;
  std::string_view intDigits;
  std::string_view fracDigits;
  bool expNegative = false;
  std::string_view expDigits;
};

// Far beyond any double's decimal exponent, yet small enough that adding a
// string length to it cannot overflow.
constexpr int64_t kExponentCap = 1'000'000'000;

// The correctly rounded double of the parts; empty when it overflows. Huge
// written exponents are settled here, so the library only ever sees moderate ones.
std::optional<double> DecimalToDouble(const DecimalParts& p) {
  const double zero = p.negative ? -0.0 : 0.0;

  int64_t exponent = 0;
  for (const char c : p.expDigits) {
    exponent = std::min<int64_t>(exponent * 10 + (c - '0'), kExponentCap);
  }
  if (p.expNegative) exponent = -exponent;

  // Decimal exponent of the first nonzero digit: it alone decides which way a
  // value out of range lies.
  int64_t leading = 0;
  if (const auto k = p.intDigits.find_first_not_of('0'); k != std::string_view::npos) {
    leading = static_cast<int64_t>(p.intDigits.size() - 1 - k);
  } else if (const auto f = p.fracDigits.find_first_not_of('0'); f != std::string_view::npos) {
    leading = -static_cast<int64_t>(f + 1);
  } else {
    return zero;
  }
  const int64_t magnitude = leading + exponent;
  if (magnitude > std::numeric_limits<double>::max_exponent10) return std::nullopt;
  // Below 1e-324, half the smallest subnormal, everything rounds to zero.
  if (magnitude < -324) return zero;

  std::string buf;
  buf.reserve(p.intDigits.size() + p.fracDigits.size() + 24);
  buf += p.intDigits.empty() ? std::string_view("0") : p.intDigits;
  buf += '.';
  buf += p.fracDigits;
  buf += 'e';
  char expBuf[24];
  const auto expEnd = std::to_chars(expBuf, expBuf + sizeof expBuf, exponent).ptr;
  buf.append(expBuf, expEnd);

  double value = 0;
  const auto res = std::from_chars(buf.data(), buf.data() + buf.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    if (magnitude >= 0) return std::nullopt;
    return zero;
  }
  if (res.ec != std::errc() || std::isinf(value)) return std::nullopt;
  return p.negative ? -value : value;
}

int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An unsigned hexadecimal (4 bits a digit) or octal (3) integer, correctly
// rounded. The first 60-odd bits are kept exactly; later digits only count for
// the exponent and, if nonzero, for the rounding.
std::optional<double> RadixIntegerToDouble(std::string_view s, int bitsPerDigit) {
  const int radix = 1 << bitsPerDigit;
  uint64_t mantissa = 0;
  bool sticky = false;
  int shift = 0;
  for (const char c : s) {
    const int d = HexDigitValue(c);
    if (d < 0 || d >= radix) break;
    if (mantissa >> (64 - bitsPerDigit) == 0) {
      mantissa = (mantissa << bitsPerDigit) | static_cast<uint64_t>(d);
    } else {
      sticky = sticky || d != 0;
      // Past 2^1100 the value is infinite anyway; stop counting there.
      shift = std::min(shift + bitsPerDigit, 1100);
    }
  }
  // At least 61 bits are kept, so bit 0 lies well below the rounding bit and
  // can stand for all the dropped ones.
  const double value = std::ldexp(static_cast<double>(mantissa | (sticky ? 1U : 0U)), shift);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

}  // namespace

std::string FormatLocaleNumber(double value, std::string_view decimalSeparator) {
  return NumberText(value, decimalSeparator, "");
}

std::string FormatInvariantNumber(double value) { return NumberText(value, ".", " "); }

std::optional<double> ParseLeadingNumber(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (const char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') s += c;
  }

  if (s.size() >= 2 && s[0] == '&') {
    const std::string_view digits = std::string_view(s).substr(2);
    if (s[1] == 'H' || s[1] == 'h') return RadixIntegerToDouble(digits, 4);
    if (s[1] == 'O' || s[1] == 'o') return RadixIntegerToDouble(digits, 3);
    return 0.0;
  }

  const std::string_view v = s;
  DecimalParts parts;
  std::size_t pos = 0;
  if (pos < v.size() && (v[pos] == '+' || v[pos] == '-')) {
    parts.negative = v[pos] == '-';
    ++pos;
  }
  parts.intDigits = v.substr(pos, CountDigits(v, pos));
  pos += parts.intDigits.size();
  if (pos < v.size() && v[pos] == '.') {
    ++pos;
    parts.fracDigits = v.substr(pos, CountDigits(v, pos));
    pos += parts.fracDigits.size();
  }
  if (parts.intDigits.empty() && parts.fracDigits.empty()) return 0.0;

  // The exponent counts only when digits follow its letter; otherwise the
  // number has already ended ("7e" reads 7).
  if (pos < v.size() && (v[pos] == 'E' || v[pos] == 'e' || v[pos] == 'D' || v[pos] == 'd')) {
    std::size_t e = pos + 1;
    bool expNegative = false;
    if (e < v.size() && (v[e] == '+' || v[e] == '-')) {
      expNegative = v[e] == '-';
      ++e;
    }
    if (const std::size_t n = CountDigits(v, e); n > 0) {
      parts.expNegative = expNegative;
      parts.expDigits = v.substr(e, n);
    }
  }
  return DecimalToDouble(parts);
}

std::optional<double> ParseLocaleNumber(std::string_view text, std::string_view decimalSeparator) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  const std::string_view v = text.substr(first, text.find_last_not_of(" \t") - first + 1);

  DecimalParts parts;
  std::size_t pos = 0;
  if (v[pos] == '+' || v[pos] == '-') {
    parts.negative = v[pos] == '-';
    ++pos;
  }
  parts.intDigits = v.substr(pos, CountDigits(v, pos));
  pos += parts.intDigits.size();
  if (!decimalSeparator.empty() && v.substr(pos).starts_with(decimalSeparator)) {
    pos += decimalSeparator.size();
    parts.fracDigits = v.substr(pos, CountDigits(v, pos));
    pos += parts.fracDigits.size();
  }
  if (parts.intDigits.empty() && parts.fracDigits.empty()) return std::nullopt;

  if (pos < v.size() && (v[pos] == 'E' || v[pos] == 'e')) {
    ++pos;
    if (pos < v.size() && (v[pos] == '+' || v[pos] == '-')) {
      parts.expNegative = v[pos] == '-';
      ++pos;
    }
    parts.expDigits = v.substr(pos, CountDigits(v, pos));
    if (parts.expDigits.empty()) return std::nullopt;
    pos += parts.expDigits.size();
  }
  if (pos != v.size()) return std::nullopt;
  return DecimalToDouble(parts);
}

}  // namespace ponderix
