#include "engine/number_format.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace velmora::engine {

namespace {

// Decimal digits of |v| rounded to `significant` digits (half to even on the
// binary value, as the C library does) and the decimal exponent of the first.
struct Digits {
  std::string digits;  // no leading zeros; "0" for zero
  int exponent = 0;    // value = 0.d1d2d3... x 10^(exponent+1)
};

Digits decimal_digits(long double v, int significant) {
  Digits d;
  v = std::fabs(v);
  if (v == 0) {
    d.digits = "0";
    return d;
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.*Le", significant - 1, v);
  std::string s(buf);
  std::size_t e = s.find('e');
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') d.digits += s[i];
  d.exponent = std::stoi(s.substr(e + 1));
  return d;
}

// Rounds a digit string half away from zero to `keep` digits; may carry into
// a new leading digit (exponent + 1).
void round_digits(Digits &d, int keep) {
  if (keep < 0) {
    d.digits = "0";
    d.exponent = 0;
    return;
  }
  if (int(d.digits.size()) <= keep) return;
  bool up = d.digits[std::size_t(keep)] >= '5';
  d.digits.resize(std::size_t(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[std::size_t(i)] == '9') d.digits[std::size_t(i--)] = '0';
    if (i < 0) {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
      d.digits.pop_back();
      if (d.digits.empty()) d.digits = "1";
    } else {
      ++d.digits[std::size_t(i)];
    }
  }
  if (d.digits.empty()) {
    d.digits = "0";
    d.exponent = 0;
  }
}

void strip_trailing_zeros(std::string &s) {
  while (s.size() > 1 && s.back() == '0') s.pop_back();
}

std::vector<u16> split_sections(u16view format) {
  std::vector<u16> sections(1);
  char16_t quote = 0;
  for (char16_t c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u';') {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

struct Picture {
  int intPlaces = 0;   // 0 and # before the point
  int intZeros = 0;    // placeholders from the first 0 on (minimum digits)
  int fracPlaces = 0;  // 0 and # after the point
  int fracZeros = 0;   // the last 0 after the point, counted from the point
  bool thousands = false;
  bool point = false;
  bool scientific = false;
  int expDigits = 0;
};

Picture analyse(u16view f) {
  Picture p;
  char16_t quote = 0;
  bool afterPoint = false;
  bool sawZero = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == u'"' || c == u'\'') {
      quote = c;
    } else if ((c == u'E' || c == u'e') && i + 1 < f.size() && (f[i + 1] == u'+' || f[i + 1] == u'-')) {
      if (p.scientific) continue;
      p.scientific = true;
      std::size_t j = i + 2;
      while (j < f.size() && f[j] == u'0') ++j, ++p.expDigits;
      i = j - 1;
    } else if (p.scientific) {
      continue;
    } else if (c == u'.') {
      if (!p.point) p.point = afterPoint = true;
    } else if (c == u',') {
      if (!afterPoint) p.thousands = true;
    } else if (c == u'0' || c == u'#') {
      if (afterPoint) {
        ++p.fracPlaces;
        if (c == u'0') p.fracZeros = p.fracPlaces;
      } else {
        ++p.intPlaces;
        if (c == u'0') sawZero = true;
        if (sawZero) ++p.intZeros;
      }
    }
  }
  return p;
}

// Writes the digits into the picture.
u16 render(u16view f, const Picture &p, const std::string &intDigits, const std::string &fracDigits, int exponent) {
  u16 out;
  // Integer digits beyond the placeholders go with the first placeholder.
  std::string digits = intDigits;
  if (int(digits.size()) < p.intZeros) digits.insert(0, std::size_t(p.intZeros) - digits.size(), '0');
  const int len = int(digits.size());
  int placeholder = 0;  // integer placeholders seen
  int emitted = 0;      // integer digits written
  char16_t quote = 0;
  bool afterPoint = false;
  int fracIndex = 0;
  bool expDone = false;
  auto emit_int_digit = [&](int index) {
    out += char16_t(digits[std::size_t(index)]);
    ++emitted;
    int left = len - emitted;
    if (p.thousands && left > 0 && left % 3 == 0) out += u',';
  };
  for (std::size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (quote) {
      if (c == quote) quote = 0;
      else out += c;
      continue;
    }
    if (c == u'"' || c == u'\'') {
      quote = c;
      continue;
    }
    if (p.scientific && !expDone && (c == u'E' || c == u'e') && i + 1 < f.size() &&
        (f[i + 1] == u'+' || f[i + 1] == u'-')) {
      out += c;
      if (exponent < 0) out += u'-';
      else if (f[i + 1] == u'+') out += u'+';
      std::string e = std::to_string(std::abs(exponent));
      if (int(e.size()) < p.expDigits) e.insert(0, std::size_t(p.expDigits) - e.size(), '0');
      out += text::ascii16(e);
      std::size_t j = i + 2;
      while (j < f.size() && f[j] == u'0') ++j;
      i = j - 1;
      expDone = true;
      continue;
    }
    if (!afterPoint && (c == u'0' || c == u'#')) {
      int d = len - (p.intPlaces - placeholder);  // digit index this placeholder shows
      ++placeholder;
      if (placeholder == 1)
        for (int k = 0; k < d; ++k) emit_int_digit(k);
      if (d >= 0 && d < len) emit_int_digit(d);
      continue;
    }
    if (!afterPoint && c == u',') continue;  // separators come from the flag
    if (c == u'.' && !afterPoint) {
      afterPoint = true;
      if (!fracDigits.empty()) out += u'.';
      continue;
    }
    if (afterPoint && (c == u'0' || c == u'#')) {
      if (fracIndex < int(fracDigits.size())) out += char16_t(fracDigits[std::size_t(fracIndex)]);
      ++fracIndex;
      continue;
    }
    if (afterPoint && c == u',') continue;
    out += c;
  }
  if (placeholder == 0 && !p.scientific && len > 0 && !(len == 1 && digits[0] == '0')) {
    // A picture without integer placeholders still shows a nonzero integer part.
    out.insert(0, text::ascii16(digits));
  }
  return out;
}

u16 format_section(long double av, u16view f, bool &isZero) {
  Picture p = analyse(f);
  if (p.intPlaces == 0 && p.fracPlaces == 0 && !p.scientific) {
    isZero = av == 0;
    return render(f, p, "", "", 0);
  }
  std::string intDigits, fracDigits;
  int exponent = 0;
  if (p.scientific) {
    int places = std::max(1, p.intPlaces);
    Digits d = decimal_digits(av, 18);
    round_digits(d, places + p.fracPlaces);
    isZero = d.digits.find_first_not_of('0') == std::string::npos;
    exponent = isZero ? 0 : d.exponent - (places - 1);
    std::string all = d.digits;
    all.resize(std::size_t(places + p.fracPlaces), '0');
    intDigits = all.substr(0, std::size_t(places));
    fracDigits = all.substr(std::size_t(places));
    std::size_t nz = intDigits.find_first_not_of('0');
    intDigits = nz == std::string::npos ? "" : intDigits.substr(nz);
  } else {
    Digits d = decimal_digits(av, 18);
    // Keep the digits down to the last fraction place.
    round_digits(d, d.exponent + 1 + p.fracPlaces);
    isZero = d.digits.find_first_not_of('0') == std::string::npos;
    int intCount = d.exponent + 1;
    if (isZero) {
      intDigits.clear();
      fracDigits.assign(std::size_t(p.fracPlaces), '0');
    } else if (intCount > 0) {
      std::string all = d.digits;
      if (int(all.size()) < intCount + p.fracPlaces) all.resize(std::size_t(intCount + p.fracPlaces), '0');
      intDigits = all.substr(0, std::size_t(intCount));
      fracDigits = all.substr(std::size_t(intCount), std::size_t(p.fracPlaces));
    } else {
      std::string all(std::size_t(-intCount), '0');
      all += d.digits;
      all.resize(std::size_t(p.fracPlaces), '0');
      fracDigits = all;
    }
  }
  // Optional fraction places drop their trailing zeros.
  while (int(fracDigits.size()) > p.fracZeros && !fracDigits.empty() && fracDigits.back() == '0') fracDigits.pop_back();
  return render(f, p, intDigits, fracDigits, exponent);
}

}  // namespace

u16 general_number(long double value) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
  if (value == 0) return u"0";
  Digits d = decimal_digits(value, 15);
  strip_trailing_zeros(d.digits);
  std::string out = value < 0 ? "-" : "";
  if (d.exponent >= 15 || d.exponent < -4) {
    out += d.digits.substr(0, 1);
    if (d.digits.size() > 1) out += "." + d.digits.substr(1);
    out += "E" + std::to_string(d.exponent);
  } else if (d.exponent < 0) {
    out += "0." + std::string(std::size_t(-d.exponent - 1), '0') + d.digits;
  } else {
    std::string ds = d.digits;
    if (int(ds.size()) <= d.exponent) ds.resize(std::size_t(d.exponent) + 1, '0');
    out += ds.substr(0, std::size_t(d.exponent) + 1);
    if (int(ds.size()) > d.exponent + 1) out += "." + ds.substr(std::size_t(d.exponent) + 1);
  }
  return text::ascii16(out);
}

u16 format_picture(long double value, u16view format) {
  if (std::isnan(value) || std::isinf(value)) return general_number(value);
  std::vector<u16> sections = split_sections(format);
  if (sections.size() == 1 && sections[0].empty()) return general_number(value);
  const u16 &positive = sections[0];
  bool negative = value < 0;
  u16view section = positive;
  bool ownNegative = false;
  if (negative && sections.size() >= 2 && !sections[1].empty()) {
    section = sections[1];
    ownNegative = true;
  }
  bool isZero = false;
  u16 text = format_section(std::fabs(value), section, isZero);
  if (isZero && sections.size() >= 3 && !sections[2].empty()) {
    bool z;
    return format_section(0, sections[2], z);
  }
  if (negative && !ownNegative && !isZero) text.insert(0, 1, u'-');
  return text;
}

u16 integer_text(long double value) {
  const long double t = std::trunc(value);
  if (t > -0x1p63L && t < 0x1p63L) return text::int16((long long)t);
  if (!std::isfinite(t)) return general_number(t);
  // Every digit of the integer the 80-bit value is: the C library writes a
  // whole number exactly.
  char buf[5000];
  const int n = std::snprintf(buf, sizeof buf, "%.*Lf", 0, t);
  if (n <= 0 || std::size_t(n) >= sizeof buf) return general_number(t);
  return text::ascii16(std::string_view(buf, std::size_t(n)));
}

}  // namespace velmora::engine
