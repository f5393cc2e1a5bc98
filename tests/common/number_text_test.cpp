#include "common/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

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
