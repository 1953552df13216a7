// Clearing secrets (keys, shared secrets, passwords) from memory in a way the compiler cannot drop
// as a dead store, unlike a memset before the memory's last use.
#pragma once
#include <cstddef>

void secureWipe(void* data, size_t length);
