// Modular exponentiation of numbers up to 4096 bits, for RSA signature checks: numbers are big-endian
// byte strings of the modulus's length. Runs in time that depends on the exponent, which is public.
#pragma once
#include "Core/Types.h"

constexpr u32 kBigIntMaxBytes = 512;

// out = base^exponent mod modulus, all of length bytes (1 .. 512). The modulus must be odd and
// base below it. Returns false (out untouched) when those conditions do not hold.
bool bigIntModExp(u8* out, const u8* base, const u8* modulus, u32 length, u64 exponent);

// Three-way comparison of two big-endian numbers of the same length: -1, 0 or 1.
i32 bigIntCompare(const u8* a, const u8* b, u32 length);

// The Montgomery products run on the processor's MULX, ADCX and ADOX instructions where it has
// them. Tests turn that off (false) to exercise the portable path, and back on (true).
void bigIntAllowProcessorExtensions(bool allow);
