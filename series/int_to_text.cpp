#include "series/int_to_text.h"

#include <algorithm>

namespace meravel {

char* int_to_text(int value, char* buffer, int radix) {
  buffer[0] = '\0';
  if (radix < 2 || radix > 36) return buffer;
  // Work on the magnitude as unsigned so that INT_MIN needs no negation in int.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char* end = buffer;
  if (value < 0) *end++ = '-';
  char* first_digit = end;
  do {
    unsigned digit = magnitude % static_cast<unsigned>(radix);
    *end++ = static_cast<char>(digit < 10 ? '0' + digit : 'a' + (digit - 10));
    magnitude /= static_cast<unsigned>(radix);
  } while (magnitude != 0);
  *end = '\0';
  std::reverse(first_digit, end);
  return buffer;
}

}  // namespace meravel
