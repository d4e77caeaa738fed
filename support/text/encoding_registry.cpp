// The encoding registry: encoding names and the Windows code pages that
// stand for them, in one case-insensitive ordered map built on first use.
#include <map>

#include "support/core/error_message.h"
#include "support/core/exceptions.h"
#include "support/text/lazy_instance.h"
#include "support/text/text_conv.h"

namespace Velk {

namespace {

struct ENC_ENTRY {
  std::int32_t code_page;
  narrow_buffer description;
  std::uint8_t right_to_left;
};

struct icompare_less {
  bool operator()(const narrow_buffer& a, const narrow_buffer& b) const {
    return a.icompare(b) < 0;
  }
};

using encoding_map = std::map<narrow_buffer, ENC_ENTRY, icompare_less>;

struct encoding_row {
  const char* name;
  std::int32_t code_page;
  const char* description;
  std::uint8_t right_to_left;
};

// In insertion order (which has no effect on lookups).
constexpr encoding_row kEncodings[] = {
    {"C", 20127, "English - C Default", 0},
    {"ASCII", 437, "English - ASCII (DOS OEM)", 0},
    {"US-ASCII", 437, "English - US-ASCII", 0},
    {"ANSI_x3.4-1968", 20127, "English - ASCII (x3.4-1968)", 0},
    {"ISO-646", 20127, "English - ASCII (ISO-646)", 0},
    {"ISO-8859-1", 28591, "Latin 1 (West European) - ISO-8859-1", 0},
    {"ISO-8859-2", 28592, "Latin 2 (Central and East European) - ISO-8859-2", 0},
    {"ISO-8859-3", 28593, "Latin 3 (South European) - ISO-8859-3", 0},
    {"ISO-8859-4", 28594, "Latin 4 (North European / Baltic) - ISO-8859-4", 0},
    {"ISO-8859-5", 28595, "Cyrillic - ISO-8859-5", 0},
    {"ISO-8859-7", 28597, "Greek - ISO-8859-7", 0},
    {"ISO-8859-9", 28599, "Latin 5 (Turkish) - ISO-8859-9", 0},
    {"ISO-8859-10", 28594, "Latin 6 (Nordic) - ISO-8859-10", 0},
    {"ISO-8859-13", 28603, "Latin 7 (Baltic Rim) - ISO-8859-13", 0},
    {"ISO-8859-14", 28591, "Latin 8 (Celtic) - ISO-8859-14", 0},
    {"ISO-8859-15", 28605, "Latin 9 (West European) - ISO-8859-15", 0},
    {"KOI8", 20866, "Russian - KOI8-R", 0},
    {"KOI8-R", 20866, "Russian - KOI8-R", 0},
    {"KOI8-U", 21866, "Ukrainian - KOI8-U", 0},
    {"ANSI-CentralEuropean", 1250, "Central European - ANSI", 0},
    {"ANSI-Cyrillic", 1251, "Cyrillic - ANSI", 0},
    {"ANSI-LatinI", 1252, "Latin I - ANSI", 0},
    {"ANSI-Greek", 1253, "Greek - ANSI", 0},
    {"ANSI-Turkish", 1254, "Turkish - ANSI", 0},
    {"ANSI-Baltic", 1257, "Baltic - ANSI", 0},
    {"MacRoman", 10000, "Roman - MAC", 0},
    {"MacCentralEurope", 10029, "Central Europe - MAC", 0},
    {"MacIceland", 10079, "Iceland - MAC", 0},
    {"MacCroatian", 10082, "Croatian - MAC", 0},
    {"MacRomania", 10010, "Romania - MAC", 0},
    {"MacCyrillic", 10007, "Cyrillic - MAC", 0},
    {"MacUkraine", 10017, "Ukraine - MAC", 0},
    {"MacGreek", 10006, "Greek - MAC", 0},
    {"MacTurkish", 10081, "Turkish - MAC", 0},
    {"Macintosh", 10029, "Macintosh - MAC", 0},
    {"OEM-MultilingualLatinI", 850, "Multilingual Latin 1 - OEM", 0},
    {"OEM-LatinI", 850, "Latin 1 (West European) - OEM", 0},
    {"OEM-Russian", 866, "Russian - OEM", 0},
    {"OEM-Greek", 737, "Greek (formerly 437G) - OEM", 0},
    {"OEM-Baltic", 775, "Baltic - OEM", 0},
    {"OEM-LatinII", 852, "Latin 2 (Central and East European) - OEM", 0},
    {"OEM-Cyrillic", 855, "Cyrillic (primarily Russian) - OEM", 0},
    {"OEM-Turkish", 857, "Turkish - OEM", 0},
    {"OEM-MultlingualLatinI+EuroSymbol", 858,
     "Multlingual Latin I + Euro symbol - OEM", 0},
    {"OEM-Portuguese", 860, "Portuguese - OEM", 0},
    {"OEM-Icelandic", 861, "Icelandic - OEM", 0},
    {"OEM-CanadianFrench", 863, "Canadian French - OEM", 0},
    {"OEM-Nordic", 865, "Nordic - OEM", 0},
    {"OEM-ModernGreek", 869, "Modern Greek - OEM", 0},
    {"ARMSCII-8", 1254, "Armenian - ARMSCII", 0},
    {"ISO-8859-6", 28596, "Arabic - ISO-8859-6", 1},
    {"ISO-8859-8", 28598, "Hebrew - ISO-8859-8", 1},
    {"ANSI-Hebrew", 1255, "Hebrew - ANSI", 1},
    {"ANSI-Arabic", 1256, "Arabic - ANSI", 1},
    {"OEM-Hebrew", 862, "Hebrew - OEM", 1},
    {"OEM-Arabic", 864, "Arabic - OEM", 1},
    {"MacHebrew", 10005, "Hebrew - MAC", 1},
    {"MacArabic", 10004, "Arabic - MAC", 1},
    {"EUC-CN", 51936, "Simplified Chinese - EUC", 0},
    {"GBK", 936, "Simplified Chinese - GBK", 0},
    {"GB2312", 20936, "Simplified Chinese - GB2312", 0},
    {"GB18030", 54936, "Simplified Chinese - GB18030", 0},
    {"HZ", 52936, "Simplified Chinese - HZ-GB2312", 0},
    {"ISO-2022-CN", 50227, "Simplified Chinese - ISO-2022-CN", 0},
    {"ISO-2022-CN-EXT", 50227, "Simplified Chinese - ISO-2022-CN-EXT", 0},
    {"EUC-TW", 51950, "Traditional Chinese - EUC", 0},
    {"BIG5", 950, "Traditional Chinese - BIG5", 0},
    {"BIG5-HKSCS", 950, "Traditional Chinese - BIG5-HKSCS", 0},
    {"BIG5-HKSCS:1999", 950, "Traditional Chinese - BIG5-HKSCS:1999", 0},
    {"BIG5-HKSCS:2001", 950, "Traditional Chinese - BIG5-HKSCS:2001", 0},
    {"BIG5-HKSCS:2004", 950, "Traditional Chinese - BIG5-HKSCS:2004", 0},
    {"EUC-KR", 51949, "Korean - EUC", 0},
    {"ISO-2022-KR", 50225, "Korean - ISO-2022-KR", 0},
    {"JOHAB", 1361, "Korean - Johab", 0},
    {"UHC", 949, "Korean - Unified Hangeul Code", 0},
    {"KSC", 949, "Korean - Unified Hangeul Code", 0},
    {"EUC-JP", 51932, "Japanese - EUC", 0},
    {"SHIFT_JIS", 932, "Japanese - SHIFT-JIS", 0},
    {"ISO-2022-JP", 50220, "Japanese - ISO-2022-JP", 0},
    {"ISO-2022-JP-1", 50221, "Japanese - ISO-2022-JP-1", 0},
    {"ISO-2022-JP-2", 50222, "Japanese - ISO-2022-JP-2", 0},
    {"VISCII", 1258, "Vietnamese - VISCII", 0},
    {"TCVN", 1258, "Vietnamese - TCVN", 0},
    {"TIS-620", 874, "Thai - TIS-620", 0},
    {"ANSI-Thai", 874, "Thai - ANSI", 0},
    {"ISO-8859-11", 874, "Thai - ISO-8859-11", 0},
    {"MacThai", 10021, "Thai - MAC", 0},
    {"UTF-7", 65000, "Unicode - UTF-7", 0},
    {"UTF-8", 65001, "Unicode - UTF-8", 0},
    {"UTF-16", 1200, "Unicode - UTF-16", 0},
    {"UTF-16LE", 1200, "Unicode - UTF-16 Little-Endian", 0},
    {"UTF-16BE", 1201, "Unicode - UTF-16 Big-Endian", 0},
    {"UCS-2", 1200, "Unicode - UCS-2", 0},
    {"UCS-2LE", 1200, "Unicode - UCS-2 Little-Endian (BMP of ISO 10646)", 0},
    {"UCS-2BE", 1201, "Unicode - UCS-2 Big-Endian", 0},
};
static_assert(sizeof kEncodings / sizeof kEncodings[0] == 95,
              "the registry holds 95 encodings");

lazy_instance<encoding_map> g_registry;

const encoding_map& registry() {
  return g_registry.get([] {
    auto* map = new encoding_map;
    try {
      for (const encoding_row& row : kEncodings)
        map->emplace(narrow_buffer(row.name),
                     ENC_ENTRY{row.code_page, narrow_buffer(row.description),
                               row.right_to_left});
    } catch (...) {
      delete map;
      throw;
    }
    return map;
  });
}

bool is_skipped_space(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\r' ||
         ch == '\0';
}

// The number after "CP": blanks and NUL bytes skipped, one sign, decimal
// digits up to the first other character, clamped to the 32-bit range.
std::int32_t parse_code_page(const narrow_buffer& text, std::uint32_t pos) {
  const std::uint32_t end = text.length();
  while (pos < end && is_skipped_space(text[pos])) ++pos;
  bool negative = false;
  if (pos < end && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const std::int64_t limit = negative ? std::int64_t(INT32_MAX) + 1 : INT32_MAX;
  std::int64_t value = 0;
  for (; pos < end && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > limit) value = limit;  // clamped; stays small enough to grow
  }
  return std::int32_t(negative ? -value : value);
}

}  // namespace

std::int32_t TTextConv::EncToCP(const narrow_buffer& enc_name) {
  if (enc_name.length() >= 2 && (enc_name[0] == 'C' || enc_name[0] == 'c') &&
      (enc_name[1] == 'P' || enc_name[1] == 'p'))
    return parse_code_page(enc_name, 2);
  const encoding_map& map = registry();
  const auto found = map.find(enc_name);
  if (found != map.end()) return found->second.code_page;
  throw tconvExp(1, message_builder("TTextConv::EncToCP - can't convert the encoding to codepage")
                        .line("  corresponding mapping doesn't exist")
                        .detail("encoding name", enc_name)
                        .str());
}

narrow_buffer TTextConv::CPToEnc(std::int32_t code_page) {
  for (const auto& entry : registry())
    if (entry.second.code_page == code_page) return entry.first;
  narrow_buffer name("CP");
  name.append_number(std::uint32_t(code_page), 10);
  return name;
}

}  // namespace Velk
