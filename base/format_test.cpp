#include "base/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace carryall {
namespace {

std::string N(const Text& t) { return std::string(t.begin(), t.end()); }

struct Case {
  const char16_t* format;
  std::initializer_list<FormatArg> args;
  const char* expected;
};

// Table arguments are literals or locals: a temporary would die before the loop reads it.
// Expected texts are what the Windows C run-time's wide printf gives for the same format.
TEST(FormatTest, ConversionsMatchTheWideCRunTime) {
  const Text name = u"SQL Carryall";
  const Case cases[] = {
      {u"Command line params %s\n", {u"/x VH_I=\"\" "}, "Command line params /x VH_I=\"\" \n"},
      {u"Started %ld\n", {-5}, "Started -5\n"},
      {u"%ld", {INT_MIN}, "-2147483648"},
      {u"%d", {2147483647}, "2147483647"},
      {u"%d", {static_cast<long long>(0x100000005LL)}, "5"},  // without a size, 32 bits
      {u"%I64d", {5000000000LL}, "5000000000"},
      {u"%I64d", {-1LL}, "-1"},
      {u"%x", {static_cast<int>(0x80030057)}, "80030057"},
      {u"%X", {0xabcdu}, "ABCD"},
      {u"0x%8x.", {1}, "0x       1."},
      {u"0x%8x.", {static_cast<int>(0x800b0100)}, "0x800b0100."},
      {u"%08x", {0x1fu}, "0000001f"},
      {u"%#x", {255}, "0xff"},
      {u"%p", {reinterpret_cast<const void*>(uintptr_t{0x12ab})}, "000012AB"},
      {u"%.1f %s", {500.0, u"MB"}, "500.0 MB"},
      {u"%.1f", {1.5}, "1.5"},
      {u"%.1f", {1000.0}, "1000.0"},
      {u"%5.2f|", {3.14159}, " 3.14|"},
      {u"100%%", {}, "100%"},
      {u"%-6d|", {42}, "42    |"},
      {u"%+d %+d", {7, -7}, "+7 -7"},
      {u"%5s|%-5s|", {u"ab", u"cd"}, "   ab|cd   |"},
      {u"%.3s", {u"abcdef"}, "abc"},
      {u"%c%c", {u'o', u'k'}, "ok"},
      {u"%u", {-1}, "4294967295"},
      {u"%05d", {-42}, "-0042"},
      {u"%.3d", {7}, "007"},
      {u"%s requires %s.", {name, u".NET 2"}, "SQL Carryall requires .NET 2."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(N(FormatList(c.format, c.args)), c.expected) << N(c.format);
  }
}

// A double read as an integer is truncated and saturated, never converted out of range.
TEST(FormatTest, DoublesOutOfIntegerRangeSaturate) {
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {u"%I64d %I64d %I64d", {inf, -inf, std::nan("")}, "9223372036854775807 -9223372036854775808 0"},
      {u"%I64d %I64u %I64u",
       {1e300, 1e300, 1.8446744073709552e19},
       "9223372036854775807 18446744073709551615 18446744073709551615"},
      {u"%I64u %u %d", {-1.0, -1.0, -2.9}, "18446744073709551615 4294967295 -2"},
  };
  for (const Case& c : cases) EXPECT_EQ(N(FormatList(c.format, c.args)), c.expected) << N(c.format);
}

TEST(FormatTest, StarWidthOfTheMostNegativeValueIsClampedAndLeftAligned) {
  EXPECT_EQ(N(Format(u"[%*d]", LLONG_MIN, 5)), "[5" + std::string(4095, ' ') + "]");
  EXPECT_EQ(N(Format(u"[%*d]", -3, 5)), "[5  ]");
}

TEST(FormatTest, MissingArgumentsPrintNothingAndNeverReadPastTheList) {
  EXPECT_EQ(N(Format(u"a%sb%dc%xd")), "abcd");
  EXPECT_EQ(N(Format(u"%s and %s", Text(u"one"))), "one and ");
}

TEST(FormatTest, UnknownConversionsAndATrailingPercentAreHarmless) {
  EXPECT_EQ(N(Format(u"%q%")), "q");
  EXPECT_EQ(N(Format(u"%n", 5)), "n");  // never writes through an argument
}

TEST(FormatTest, TextArgumentsKeepEveryUtf16Unit) {
  Text odd = u"\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(Format(u"[%s]", odd), u"[" + odd + u"]");
}

TEST(FormatTest, TextArgumentEndsAtItsFirstNulAndTheFormatGoesOn) {
  const Text cut(u"name\0hidden", 11);
  const Text nul_only(u"\0", 1);
  EXPECT_EQ(Format(u"File '%s' size %d\n", cut, 7), u"File 'name' size 7\n");
  EXPECT_EQ(Format(u"[%-6s|%.2s]", cut, cut), u"[name  |na]");
  EXPECT_EQ(Format(u"<%s>", nul_only), u"<>");
}

TEST(FormatTest, LongOutputHasNoFixedLimit) {
  Text big(100000, u'x');
  EXPECT_EQ(Format(u"%s!", big).size(), 100001u);
}

}  // namespace
}  // namespace carryall
