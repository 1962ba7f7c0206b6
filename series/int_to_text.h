#pragma once

namespace meravel {

// Writes `value` in `radix` (2 to 36) into `buffer`: digits "0"-"9" then "a"-"z", a leading "-"
// for a negative value; the empty text for a radix outside 2..36. The buffer must hold at least
// 34 characters (sign, 32 binary digits, terminating NUL). Returns `buffer`.
char* int_to_text(int value, char* buffer, int radix);

}  // namespace meravel
