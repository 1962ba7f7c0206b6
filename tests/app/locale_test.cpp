#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

TEST(Locale, NumbersKeepTheDecimalPointUnderACommaLocale) {
  // The application object took the user's locale from the environment (LC_ALL=de_DE.UTF-8).
  const char* ctype = std::setlocale(LC_CTYPE, nullptr);
  if (!ctype || !std::strstr(ctype, "de_DE")) GTEST_SKIP() << "no de_DE locale: " << ctype;
  char printed[32];
  std::snprintf(printed, sizeof printed, "%g;%.2f", 1.25, 3.5);
  EXPECT_STREQ(printed, "1.25;3.50");
  std::ostringstream streamed;
  streamed << 3061.25;
  EXPECT_EQ(streamed.str(), "3061.25");
  EXPECT_EQ(std::atof("1.5"), 1.5);
}
