#include "Crypto/Wipe.h"

#include <cstring>

void secureWipe(void* data, size_t length) {
    if (!data || !length) return;
    memset(data, 0, length);
    // The compiler must assume the empty assembly reads the memory, so the stores stay.
    __asm__ __volatile__("" : : "r"(data) : "memory");
}
