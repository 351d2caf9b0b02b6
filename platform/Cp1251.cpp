#include "platform/Cp1251.h"

#include <iconv.h>

#include <array>
#include <stdexcept>
#include <unordered_map>

namespace fp {
namespace {

struct Tables {
  std::array<char32_t, 256> toUnicode{};
  std::unordered_map<char32_t, unsigned char> fromUnicode;

  Tables() {
    iconv_t cd = iconv_open("UTF-32LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: CP1251 is not available");
    for (int b = 0; b < 256; ++b) {
      char in = static_cast<char>(b);
      unsigned char out[8] = {};
      char* pin = &in;
      char* pout = reinterpret_cast<char*>(out);
      size_t inLeft = 1, outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &pin, &inLeft, &pout, &outLeft) == static_cast<size_t>(-1) || outLeft != 4) {
        toUnicode[b] = 0xFFFD;  // a byte without a character (0x98)
        continue;
      }
      char32_t cp = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24);
      toUnicode[b] = cp;
      fromUnicode.emplace(cp, static_cast<unsigned char>(b));
    }
    iconv_close(cd);
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

char EncodeOne(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  const auto& m = tables().fromUnicode;
  auto it = m.find(cp);
  return it == m.end() ? '?' : static_cast<char>(it->second);
}

// Decodes UTF-8 into code points; an invalid sequence yields U+FFFD for its first byte.
template <typename F>
void ForEachUtf8(std::string_view s, F&& f) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      f(char32_t{0xFFFD});
      ++i;
      continue;
    }
    bool ok = i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      f(char32_t{0xFFFD});
      ++i;
      continue;
    }
    f(cp);
    i += len;
  }
}

template <typename F>
void ForEachUtf16(std::u16string_view s, F&& f) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      f(static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00)));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      f(char32_t{0xFFFD});
    } else {
      f(static_cast<char32_t>(u));
    }
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80)
    out += static_cast<char>(cp);
  else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000)
    out += static_cast<char16_t>(cp);
  else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::u16string Cp1251ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto& t = tables().toUnicode;
  for (char c : text) out += static_cast<char16_t>(t[static_cast<unsigned char>(c)]);
  return out;
}

std::string WideToCp1251(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachUtf16(text, [&](char32_t cp) { out += EncodeOne(cp); });
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  const auto& t = tables().toUnicode;
  for (char c : text) AppendUtf8(out, t[static_cast<unsigned char>(c)]);
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachUtf8(text, [&](char32_t cp) { out += EncodeOne(cp); });
  return out;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachUtf8(text, [&](char32_t cp) { AppendUtf16(out, cp); });
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachUtf16(text, [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

namespace {

// Code page 855 and code page 866 (the OEM code page of encoding 1) to code page 1251 for
// the bytes 0x80-0xFF. Internal: this unit is linked into the program and the component
// runtime alike.
const std::array<uint8_t, 128> CP855ToCP1251 = {
    0x90, 0x80, 0x83, 0x81, 0xB8, 0xA8, 0xBA, 0xAA, 0xBE, 0xBD, 0xB3, 0xB2, 0xBF, 0xAF, 0xBC, 0xA3, 0x9A, 0x8A, 0x9C,
    0x8C, 0x9E, 0x8E, 0x9D, 0x8D, 0xA2, 0xA1, 0x9F, 0x8F, 0xFE, 0xDE, 0xFA, 0xDA, 0xE0, 0xC0, 0xE1, 0xC1, 0xF6, 0xD6,
    0xE4, 0xC4, 0xE5, 0xC5, 0xF4, 0xD4, 0xE3, 0xC3, 0xAB, 0xBB, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF5, 0xD5, 0xE8, 0xC8,
    0x00, 0x00, 0x00, 0x00, 0xE9, 0xC9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEA, 0xCA, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0xA4, 0xEB, 0xCB, 0xEC, 0xCC, 0xED, 0xCD, 0xEE, 0xCE, 0xEF, 0x00, 0x00, 0x00, 0x00, 0xCF, 0xFF,
    0x00, 0xDF, 0xF0, 0xD0, 0xF1, 0xD1, 0xF2, 0xD2, 0xF3, 0xD3, 0xE6, 0xC6, 0xE2, 0xC2, 0xFC, 0xDC, 0xB9, 0xAD, 0xFB,
    0xDB, 0xE7, 0xC7, 0xF8, 0xD8, 0xFD, 0xDD, 0xF9, 0xD9, 0xF7, 0xD7, 0xA7, 0x00, 0xA0,
};

const std::array<uint8_t, 128> CP866ToCP1251 = {
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2,
    0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5,
    0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0xA8, 0xB8,
    0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB0, 0x00, 0xB7, 0x00, 0xB9, 0xA4, 0x00, 0xA0,
};

}  // namespace

std::string OemToAnsiStr(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    auto b = static_cast<uint8_t>(c);
    if (b >= 0x80) c = static_cast<char>(CP866ToCP1251[b - 0x80]);
  }
  return out;
}

std::string ConvertCharEncoding(std::string_view line, uint8_t code) {
  if (code == EncodingOEM) return OemToAnsiStr(line);
  std::string out(line);
  if (code == EncodingCP855) {
    for (char& c : out) {
      auto b = static_cast<uint8_t>(c);
      if (b >= 0x80) c = static_cast<char>(CP855ToCP1251[b - 0x80]);
    }
  }
  return out;
}

}  // namespace fp
