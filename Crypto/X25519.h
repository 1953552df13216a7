// The X25519 function of RFC 7748, in constant time: the ladder swaps with masks and the field
// arithmetic never branches on secret values, since the program's own key pairs live for the whole
// run.
#pragma once
#include "Core/Types.h"

// The base point u = 9.
extern const u8 x25519BasePoint[32];

// out = X25519(scalar, u). The caller's scalar is clamped in place (byte 0 AND 248, byte 31 AND 63
// then OR 64); the top bit of u is ignored. Returns out. An all-zero result means u was a point of
// small order; key agreement must refuse it.
u8* x25519(u8* out, u8* scalar, const u8* u);

// Makes a key pair: a fresh random private key (clamped) and its public key. Returns 0 on success,
// 1 when the system's random generator failed (the keys must then not be used).
i32 generateX25519KeyPair(u8* privateKey, u8* publicKey);

// The field products run on the processor's MULX, ADCX and ADOX instructions where it has them.
// Tests and the timing check turn that off (false) to exercise the portable path, and back on.
void x25519AllowProcessorExtensions(bool allow);
// Uses the wide instructions without asking the processor: for the constant-time check under
// valgrind, whose emulated processor does not report them, on a processor known to have them.
void x25519ForceProcessorExtensions();
