// Dates: the calendar arithmetic of the DATE type (SplitDate, MakeDate), reading dates from text
// and writing them as text (US-English forms).
//
// Text forms read (letter case ignored, blanks around the whole text ignored):
//   M/D/YYYY, M/D/YY (00-29 is 2000-2029, 30-99 is 1930-1999), YYYY-MM-DD,
//   "October 19, 1962", "Oct 19 1962", "19 Oct 1962", "19-Oct-1962",
//   each optionally followed by blanks and a time; YYYY-MM-DD also by "T" and a time;
//   a time alone: H:MM or H:MM:SS (optionally with a fraction of a second), then an optional
//   "AM"/"PM" (hours 1-12 with it, 0-23 without).
#include <cmath>
#include <cstdint>

#include "platform/automation/convert.h"
#include "platform/automation/convert_internal.h"
#include "platform/automation/error.h"
#include "platform/automation/type_info.h"

namespace morvane::automation {

namespace {

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar (and back), after
// H. Hinnant's public-domain algorithms.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

constexpr Civil CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

constexpr std::int64_t kEpoch = DaysFromCivil(1899, 12, 30);
constexpr std::int64_t kFirstDay = DaysFromCivil(100, 1, 1) - kEpoch;
constexpr std::int64_t kLastDay = DaysFromCivil(9999, 12, 31) - kEpoch;
static_assert(kFirstDay == -657434 && kLastDay == 2958465);
static_assert(detail::kDateLowerBound == kFirstDay - 1 && detail::kDateUpperBound == kLastDay + 1);

constexpr bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int DaysInMonth(std::int64_t y, int m) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// A date made of a day number and a time of day in seconds (the fraction counts forwards from
// the day's start, also before day 0).
double DateValue(std::int64_t day, double seconds) {
  const double time = seconds / 86400.0;
  return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

// Reads a text by index, never past its end.
class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}

  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  bool Accept(char c) {
    if (AtEnd() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  // Skips blanks; returns whether there were any.
  bool SkipBlanks() {
    const std::size_t start = i_;
    while (!AtEnd() && detail::IsBlank(s_[i_])) ++i_;
    return i_ != start;
  }
  // Reads a run of digits (the value saturates at 10^9); false when there is none.
  bool Number(std::int64_t& value, int& digits) {
    value = 0;
    digits = 0;
    while (!AtEnd() && s_[i_] >= '0' && s_[i_] <= '9') {
      if (value < 1'000'000'000) value = value * 10 + (s_[i_] - '0');
      ++digits;
      ++i_;
    }
    return digits > 0;
  }
  // Reads a run of ASCII letters; false when there is none.
  bool Word(std::string_view& word) {
    const std::size_t start = i_;
    while (!AtEnd() && ((s_[i_] >= 'a' && s_[i_] <= 'z') || (s_[i_] >= 'A' && s_[i_] <= 'Z'))) ++i_;
    word = s_.substr(start, i_ - start);
    return !word.empty();
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

// The month (1-12) named by its English name or three-letter abbreviation ("Sept" too), or 0.
int MonthOf(std::string_view word) {
  static constexpr std::string_view kNames[] = {"January", "February", "March",     "April",
                                                "May",     "June",     "July",      "August",
                                                "September", "October", "November", "December"};
  for (int m = 0; m < 12; ++m) {
    const std::string_view name = kNames[m];
    if (EqualsIgnoreCase(word, name) || EqualsIgnoreCase(word, name.substr(0, 3))) return m + 1;
  }
  return EqualsIgnoreCase(word, "Sept") ? 9 : 0;
}

std::int64_t YearOf(std::int64_t value, int digits) {
  if (digits <= 2) return value < 30 ? 2000 + value : 1900 + value;
  return value;
}

struct ParsedDate {
  std::int64_t year = 1899, month = 12, day = 30;
  bool iso = false;  // YYYY-MM-DD: may be followed by "T" and a time
};

// Reads the date part; false when the text does not start with one of the date forms.
bool ReadDatePart(Scanner& sc, ParsedDate& out) {
  std::int64_t a = 0, b = 0, c = 0;
  int da = 0, db = 0, dc = 0;
  std::string_view word;
  if (sc.Word(word)) {  // "October 19, 1962"
    const int month = MonthOf(word);
    if (month == 0) return false;
    sc.SkipBlanks();
    if (!sc.Number(b, db)) return false;
    sc.Accept(',');
    sc.SkipBlanks();
    if (!sc.Number(c, dc)) return false;
    out = {YearOf(c, dc), month, b, false};
    return true;
  }
  if (!sc.Number(a, da)) return false;
  if (sc.Accept('/')) {  // M/D/YYYY
    if (!sc.Number(b, db) || !sc.Accept('/') || !sc.Number(c, dc)) return false;
    out = {YearOf(c, dc), a, b, false};
    return true;
  }
  if (sc.Accept('-')) {
    if (da == 4) {  // YYYY-MM-DD
      if (!sc.Number(b, db) || !sc.Accept('-') || !sc.Number(c, dc)) return false;
      out = {a, b, c, true};
      return true;
    }
    // 19-Oct-1962
    if (!sc.Word(word) || MonthOf(word) == 0 || !sc.Accept('-') || !sc.Number(c, dc)) return false;
    out = {YearOf(c, dc), MonthOf(word), a, false};
    return true;
  }
  // 19 Oct 1962
  sc.SkipBlanks();
  if (!sc.Word(word) || MonthOf(word) == 0) return false;
  sc.Accept(',');
  sc.SkipBlanks();
  if (!sc.Number(c, dc)) return false;
  out = {YearOf(c, dc), MonthOf(word), a, false};
  return true;
}

// Reads a time to the end of the text; returns the seconds since midnight or -1 when the rest is
// not a valid time.
double ReadTimeToEnd(Scanner& sc) {
  std::int64_t h = 0, m = 0, s = 0;
  int dh = 0, dm = 0, ds = 0;
  if (!sc.Number(h, dh) || dh > 2 || !sc.Accept(':') || !sc.Number(m, dm) || dm > 2) return -1;
  double fraction = 0.0;
  if (sc.Accept(':')) {
    if (!sc.Number(s, ds) || ds > 2) return -1;
    if (sc.Accept('.')) {  // a fraction of a second, as ISO texts may carry
      double scale = 0.1;
      int count = 0;
      for (; !sc.AtEnd() && sc.Peek() >= '0' && sc.Peek() <= '9'; ++count, scale /= 10.0) {
        fraction += (sc.Peek() - '0') * scale;
        sc.Accept(sc.Peek());
      }
      if (count == 0) return -1;
    }
  }
  sc.SkipBlanks();
  std::string_view word;
  bool am = false, pm = false;
  if (sc.Word(word)) {
    am = EqualsIgnoreCase(word, "AM");
    pm = EqualsIgnoreCase(word, "PM");
    if (!am && !pm) return -1;
  }
  if (!sc.AtEnd()) return -1;
  if (am || pm) {
    if (h < 1 || h > 12) return -1;
    h = h % 12 + (pm ? 12 : 0);
  } else if (h > 23) {
    return -1;
  }
  if (m > 59 || s > 59) return -1;
  return static_cast<double>(h * 3600 + m * 60 + s) + fraction;
}

}  // namespace

bool IsDateInRange(double days) { return detail::InDateRange(days); }

DateParts SplitDate(Date d) {
  if (!detail::InDateRange(d.days)) detail::RaiseOverflow();
  const double whole = std::trunc(d.days);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t seconds = std::llround(std::fabs(d.days - whole) * 86400.0);
  if (seconds >= 86400) {  // rounded up to the next midnight
    if (day == kLastDay) {
      seconds = 86399;
    } else {
      seconds = 0;
      ++day;
    }
  }
  const Civil c = CivilFromDays(day + kEpoch);
  return {static_cast<int>(c.year), static_cast<int>(c.month), static_cast<int>(c.day),
          static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60)};
}

Date MakeDate(const DateParts& p) {
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month) || p.hour < 0 ||
      p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59)
    Raise(errors::kInvalidProcedureCall);
  if (p.year < 100 || p.year > 9999) detail::RaiseOverflow();
  const std::int64_t day = DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) - kEpoch;
  return Date{DateValue(day, p.hour * 3600.0 + p.minute * 60.0 + p.second)};
}

namespace detail {

Date ParseDateText(std::string_view text) {
  const std::string_view trimmed = TrimBlanks(text);
  Scanner sc(trimmed);
  ParsedDate date;
  double seconds = 0.0;
  if (ReadDatePart(sc, date)) {
    if (!sc.AtEnd()) {
      const bool separated = sc.SkipBlanks() || (date.iso && (sc.Accept('T') || sc.Accept('t')));
      if (!separated) RaiseTypeMismatch();
      seconds = ReadTimeToEnd(sc);
      if (seconds < 0) RaiseTypeMismatch();
    }
  } else {
    Scanner timeOnly(trimmed);
    seconds = ReadTimeToEnd(timeOnly);
    if (seconds < 0) RaiseTypeMismatch();
    return Date{seconds / 86400.0};
  }
  if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > DaysInMonth(date.year, static_cast<int>(date.month)))
    RaiseTypeMismatch();
  if (date.year < 100 || date.year > 9999) RaiseOverflow();
  const std::int64_t day =
      DaysFromCivil(date.year, static_cast<unsigned>(date.month), static_cast<unsigned>(date.day)) - kEpoch;
  return Date{DateValue(day, seconds)};
}

std::string FormatDate(Date d) {
  const DateParts p = SplitDate(d);
  std::string time;
  if (p.hour || p.minute || p.second) {
    const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    time = std::to_string(h12) + ':' + (p.minute < 10 ? "0" : "") + std::to_string(p.minute) + ':' +
           (p.second < 10 ? "0" : "") + std::to_string(p.second) + (p.hour < 12 ? " AM" : " PM");
  }
  const bool dayZero = p.year == 1899 && p.month == 12 && p.day == 30;
  if (dayZero) return time.empty() ? "12:00:00 AM" : time;
  std::string s = std::to_string(p.month) + '/' + std::to_string(p.day) + '/' + std::to_string(p.year);
  if (!time.empty()) s += ' ' + time;
  return s;
}

}  // namespace detail

}  // namespace morvane::automation
