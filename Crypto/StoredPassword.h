// The stored form of a saved password: upper-case hex digits of a random 16-byte IV followed by the
// AES-256-CBC encryption (under a key built into the program) of the password, zero-filled to whole
// blocks. The reader takes the password up to the first zero byte of the decrypted text.
#pragma once
#include "Core/FixedString.h"

// The longest password the form holds whole: the IV and six blocks fill 224 of the 253 digits.
constexpr i64 kMaxStoredPasswordLength = 96;

// The built-in key (the whole stored form is only as secret as this program).
extern const u8 storedPasswordKey[32];

// Writes the stored form of password into out (all of out is zeroed first; an empty password gives
// an empty text). Returns an empty text on success, else a message and out stays empty: a password
// longer than kMaxStoredPasswordLength bytes is refused rather than cut, and a failed random
// generator is reported.
FixedString obscurePassword(FixedString* out, const FixedString* password);

// Reads a stored form back into out (zeroed first). Returns an empty text on success, else a
// message (out stays empty).
FixedString revealPassword(FixedString* out, const FixedString* stored);
