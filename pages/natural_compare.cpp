// Natural file-name order over UTF-16 code units.
#include "natural_compare.h"

namespace pagetrim {

namespace {

bool IsAsciiDigit(QChar c) {
  return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// A maximal run of ASCII digits or of other characters, as a view into the text.
struct Token {
  QStringView Text;
  bool Digits = false;
  bool IsEmpty() const { return Text.isEmpty(); }
};

Token NextToken(QStringView& rest) {
  if (rest.isEmpty())
    return {};
  const bool digits = IsAsciiDigit(rest.front());
  qsizetype n = 1;
  while (n < rest.size() && IsAsciiDigit(rest[n]) == digits)
    ++n;
  Token token{rest.left(n), digits};
  rest = rest.mid(n);
  return token;
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

int Ordinal(QStringView a, QStringView b) {
  return Sign(a.compare(b, Qt::CaseSensitive));
}

// Digit runs by value, of any length: leading zeros are ignored, then the
// longer run is the larger number, then the digits decide.
int CompareDigitRuns(QStringView a, QStringView b) {
  while (a.size() > 1 && a.front() == u'0')
    a = a.mid(1);
  while (b.size() > 1 && b.front() == u'0')
    b = b.mid(1);
  if (a.size() != b.size())
    return a.size() < b.size() ? -1 : 1;
  return Ordinal(a, b);
}

}  // namespace

int NaturalCompare(const QString& a, const QString& b) {
  QStringView ra(a);
  QStringView rb(b);
  int r = 0;
  while (r == 0) {
    if (ra.isEmpty() && rb.isEmpty())
      return Ordinal(a, b);
    const Token ta = NextToken(ra);
    const Token tb = NextToken(rb);
    if (!ta.IsEmpty() && !tb.IsEmpty() && !ta.Digits && !tb.Digits) {
      r = Ordinal(ta.Text, tb.Text);
    } else if (ta.Digits && tb.Digits) {
      r = CompareDigitRuns(ta.Text, tb.Text);
    } else {
      r = Ordinal(ta.Text, tb.Text);
      if (r == 0)
        r = 1;
    }
  }
  return r;
}

}  // namespace pagetrim
