// Cookie dates come in several historic layouts; the reader accepts tokens in any order and
// decides by shape and by what has been found so far.
#include <array>
#include <cstring>

#include "kvhttp/net/Cookies.h"

namespace kvhttp {
namespace {

struct Zone {
  const char* name;
  int minutes;  // added to reach UTC
};

constexpr std::array<Zone, 68> kZones = {{
    {"GMT", 0},     {"UTC", 0},     {"WET", 0},     {"BST", -60},   {"WAT", 60},    {"AST", 240},
    {"ADT", 180},   {"EST", 300},   {"EDT", 240},   {"CST", 360},   {"CDT", 300},   {"MST", 420},
    {"MDT", 360},   {"PST", 480},   {"PDT", 420},   {"YST", 540},   {"YDT", 480},   {"HST", 600},
    {"HDT", 540},   {"CAT", 600},   {"AHST", 600},  {"NT", 660},    {"IDLW", 720},  {"CET", -60},
    {"MET", -60},   {"MEWT", -60},  {"MEST", -120}, {"CEST", -120}, {"MESZ", -120}, {"FWT", -60},
    {"FST", -120},  {"EET", -120},  {"WAST", -420}, {"WADT", -480}, {"CCT", -480},  {"JST", -540},
    {"EAST", -600}, {"EADT", -660}, {"GST", -600},  {"NZT", -720},  {"NZST", -720}, {"NZDT", -780},
    {"IDLE", -720}, {"A", 60},      {"B", 120},     {"C", 180},     {"D", 240},     {"E", 300},
    {"F", 360},     {"G", 420},     {"H", 480},     {"I", 540},     {"K", 600},     {"L", 660},
    {"M", 720},     {"N", -60},     {"O", -120},    {"P", -180},    {"Q", -240},    {"R", -300},
    {"S", -360},    {"T", -420},    {"U", -480},    {"V", -540},    {"W", -600},    {"X", -660},
    {"Y", -720},    {"Z", 0},
}};

constexpr const char* kShortDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kLongDays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool EqualsIgnoreCase(std::string_view a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

template <std::size_t N>
int IndexOf(std::string_view word, const char* const (&names)[N]) {
  for (std::size_t i = 0; i < N; ++i)
    if (EqualsIgnoreCase(word, names[i])) return static_cast<int>(i);
  return -1;
}

// Up to two digits, as a width-2 decimal field reads them.
bool TwoDigits(std::string_view s, std::size_t& pos, int& value) {
  if (pos >= s.size() || !IsDigit(s[pos])) return false;
  value = s[pos++] - '0';
  if (pos < s.size() && IsDigit(s[pos])) value = value * 10 + (s[pos++] - '0');
  return true;
}

// "hh:mm:ss" or "hh:mm" at `pos`; `seconds_given` tells which one matched.
bool ScanTime(std::string_view s, std::size_t pos, int& h, int& m, int& sec, bool& seconds_given) {
  if (!TwoDigits(s, pos, h) || pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!TwoDigits(s, pos, m)) return false;
  sec = 0;
  seconds_given = false;
  if (pos < s.size() && s[pos] == ':') {
    std::size_t p = pos + 1;
    if (TwoDigits(s, p, sec)) seconds_given = true;
  }
  return true;
}

// Days from 1970-01-01 to y-m-d (proleptic Gregorian), month 1..12, any day number.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool ParseCookieDate(std::string_view text, std::int64_t& time) {
  enum class next_number { day_of_month, year };
  int wday = -1, month = -1, mday = -1, hour = -1, minute = -1, second = -1;
  std::int64_t year = -1;
  bool zone_found = false;
  std::int64_t zone_offset = 0;  // seconds added to reach UTC
  next_number marker = next_number::day_of_month;
  time = -1;

  std::size_t pos = 0;
  for (int token = 0; token < 6 && pos < text.size(); ++token) {
    while (pos < text.size() && !IsAlpha(text[pos]) && !IsDigit(text[pos])) ++pos;
    if (pos >= text.size()) break;

    if (IsAlpha(text[pos])) {
      std::size_t end = pos;
      while (end < text.size() && end - pos < 31 && IsAlpha(text[end])) ++end;
      const std::string_view word = text.substr(pos, end - pos);
      pos = end;
      bool matched = false;
      if (wday < 0) {
        wday = word.size() <= 3 ? IndexOf(word, kShortDays) : IndexOf(word, kLongDays);
        matched = wday >= 0;
      }
      if (!matched && month < 0) {
        month = IndexOf(word, kMonths);
        matched = month >= 0;
      }
      if (!matched) {
        if (zone_found) return false;
        for (const Zone& z : kZones) {
          if (EqualsIgnoreCase(word, z.name)) {
            zone_offset = static_cast<std::int64_t>(z.minutes) * 60;
            zone_found = matched = true;
            break;
          }
        }
        if (!matched) return false;
      }
      continue;
    }

    const std::size_t start = pos;
    if (second < 0) {
      int h = 0, m = 0, s = 0;
      bool with_seconds = false;
      if (ScanTime(text, pos, h, m, s, with_seconds)) {
        hour = h;
        minute = m;
        second = s;
        pos = std::min(text.size(), pos + (with_seconds ? 8 : 5));
        continue;
      }
    }
    std::size_t end = pos;
    while (end < text.size() && IsDigit(text[end])) ++end;
    const std::size_t length = end - pos;
    if (length > 18) return false;
    std::int64_t value = 0;
    for (std::size_t i = pos; i < end; ++i) value = value * 10 + (text[i] - '0');
    pos = end;

    const char before = start > 0 ? text[start - 1] : '\0';
    if (length == 4 && value <= 1400 && (before == '+' || before == '-') && !zone_found) {
      const std::int64_t offset = ((value / 100) * 60 + value % 100) * 60;
      zone_offset = before == '+' ? -offset : offset;
      zone_found = true;
    } else if (length == 8 && mday < 0 && month < 0 && year < 0) {
      year = value / 10000;
      month = static_cast<int>(value % 10000 / 100) - 1;
      mday = static_cast<int>(value % 100);
      if (month < 0 || month > 11) return false;
    } else if (marker == next_number::day_of_month && mday < 0) {
      if (value >= 1 && value <= 31) mday = static_cast<int>(value);
      marker = next_number::year;
    } else if (marker == next_number::year && year < 0) {
      year = value;
      if (year < 1900) year += year > 70 ? 1900 : 2000;
      if (mday < 0) marker = next_number::day_of_month;
    } else {
      return false;
    }
  }

  if (second < 0) hour = minute = second = 0;
  if (mday < 0 || month < 0 || year < 0) return false;
  if (year < 1970) {
    time = 0;
    return false;
  }
  if (year > 100000000) return false;  // far beyond any representable date
  std::int64_t t = DaysFromCivil(year, month + 1, mday) * 86400 +
                   static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second;
  if (__builtin_add_overflow(t, zone_offset, &t)) return false;
  time = t;
  return true;
}

std::int64_t ParseCookieDate(std::string_view text) {
  std::int64_t t = -1;
  return ParseCookieDate(text, t) ? t : -1;
}

}  // namespace kvhttp
