#include "common/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using common::FloatToText;

TEST(NumberText, FixedNotationBetweenTenToTheMinusFourAndFifteenDigits) {
  EXPECT_EQ(FloatToText(1234.5, '.'), "1234.5");
  EXPECT_EQ(FloatToText(100, '.'), "100");
  EXPECT_EQ(FloatToText(0.0001, '.'), "0.0001");
  EXPECT_EQ(FloatToText(0.001, '.'), "0.001");
  EXPECT_EQ(FloatToText(-0.5, '.'), "-0.5");
  EXPECT_EQ(FloatToText(1e14, '.'), "100000000000000");
  EXPECT_EQ(FloatToText(999999999999999.0, '.'), "999999999999999");
  EXPECT_EQ(FloatToText(0.1 + 0.2, '.'), "0.3"); // rounded to 15 significant digits
  EXPECT_EQ(FloatToText(1.0 / 3, '.'), "0.333333333333333");
  EXPECT_EQ(FloatToText(0, '.'), "0");
  EXPECT_EQ(FloatToText(-0.0, '.'), "0");
}

TEST(NumberText, ScientificNotationOutsideThatRange) {
  EXPECT_EQ(FloatToText(1e-5, '.'), "1E-5");
  EXPECT_EQ(FloatToText(1e20, '.'), "1E20");
  EXPECT_EQ(FloatToText(1e15, '.'), "1E15");
  EXPECT_EQ(FloatToText(-1.5e-7, '.'), "-1.5E-7");
  EXPECT_EQ(FloatToText(9.99999999999999999e15, '.'), "1E16"); // rounding carries into the exponent
  EXPECT_EQ(FloatToText(1.7976931348623157e308, '.'), "1.79769313486232E308");
}

TEST(NumberText, SpecialValuesAndTheLocaleSeparator) {
  EXPECT_EQ(FloatToText(std::numeric_limits<double>::quiet_NaN(), '.'), "NAN");
  EXPECT_EQ(FloatToText(std::numeric_limits<double>::infinity(), '.'), "INF");
  EXPECT_EQ(FloatToText(-std::numeric_limits<double>::infinity(), '.'), "-INF");
  EXPECT_EQ(FloatToText(1234.5, ','), "1234,5");
  EXPECT_EQ(FloatToText(2.5e-9, ','), "2,5E-9");

  // A program that switched to a comma locale gets commas without naming the separator.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    EXPECT_EQ(FloatToText(1234.5), "1234,5");
    std::setlocale(LC_NUMERIC, "C");
  }
  EXPECT_EQ(FloatToText(1234.5), "1234.5");
}

TEST(NumberText, WholeNumbersAreTheirDigitsUpToFifteenOfThem) {
  EXPECT_EQ(FloatToText(7, '.'), "7");
  EXPECT_EQ(FloatToText(-42, ','), "-42");
  EXPECT_EQ(FloatToText(123456789012345.0, '.'), "123456789012345");
  EXPECT_EQ(FloatToText(-999999999999999.0, '.'), "-999999999999999");
  EXPECT_EQ(FloatToText(-1e15, '.'), "-1E15");
  EXPECT_EQ(FloatToText(1e16 + 2, '.'), "1E16");
  // Not whole: rounded to 15 significant digits, so the fraction is gone but the last digit moves.
  EXPECT_EQ(FloatToText(123456789012345.5, '.'), "123456789012346");
  EXPECT_EQ(FloatToText(99999999999999.5, '.'), "99999999999999.5");
}

TEST(NumberText, AgreesWithFifteenDigitRoundingOnRandomValues) {
  // The reference rounds to 15 significant digits with printf and lays the digits out the same way.
  auto reference = [](double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    std::string digits(1, buf[0]);
    digits.append(buf + 2, 14);
    const int e = std::atoi(std::strchr(buf, 'e') + 1);
    while (digits.size() > 1 && digits.back() == '0')
      digits.pop_back();
    return std::make_pair(digits, e);
  };
  std::mt19937_64 random(12345);
  for (int i = 0; i < 200000; ++i) {
    double v;
    const uint64_t bits = random();
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v) || v <= 0)
      continue;
    if (i % 3 == 1) // plain data: few digits, wide-ranging magnitudes
      v = static_cast<double>(random() % 100000000) / std::pow(10.0, static_cast<int>(random() % 12));
    else if (i % 3 == 2) // measured data: all 17 digits, magnitudes a sheet holds
      v = std::ldexp(static_cast<double>(random() >> 11), -53) *
          std::pow(10.0, static_cast<int>(random() % 22) - 7);
    if (v == 0 || (v < 1e15 && v == std::trunc(v)))
      continue;
    const auto [digits, e] = reference(v);
    const std::string text = FloatToText(v, '.');
    // Scientific form of the result: strip it back to digits and exponent.
    std::string got;
    for (char c : text.substr(0, text.find('E')))
      if (c != '.')
        got += c;
    got.erase(0, got.find_first_not_of('0'));
    got.erase(got.find_last_not_of('0') + 1); // padding of a fixed-notation integer part
    ASSERT_EQ(got, digits) << text << " for " << v;
    if (text.find('E') != std::string::npos) {
      ASSERT_EQ(std::atoi(text.c_str() + text.find('E') + 1), e) << text;
    }
  }
}

TEST(NumberText, BufferFormWritesTheSameTextWithinItsBound) {
  // The longest texts: a small negative fraction, a negative subnormal, a long negative E form.
  const double values[] = {-0.000123456789012345,
                           -4.9406564584124654e-324,
                           -1.2345678901234567e-300,
                           -123456789012345.6,
                           -999999999999999.0,
                           0.1 + 0.2,
                           1e15,
                           -2.5e-9};
  for (double v : values) {
    char buf[common::kFloatTextMax + 8];
    std::memset(buf, '#', sizeof buf);
    char *end = FloatToText(v, ',', buf);
    ASSERT_LE(end - buf, static_cast<std::ptrdiff_t>(common::kFloatTextMax)) << v;
    EXPECT_EQ(std::string(buf, end), FloatToText(v, ',')) << v;
    EXPECT_EQ(buf[common::kFloatTextMax], '#') << v;
  }
  char buf[common::kFloatTextMax];
  EXPECT_EQ(std::string(buf, FloatToText(-4.9406564584124654e-324, '.', buf)), "-4.94065645841247E-324");
  EXPECT_EQ(std::string(buf, FloatToText(-0.000123456789012345, '.', buf)), "-0.000123456789012345");
}
