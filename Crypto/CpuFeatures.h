// The processor's instruction-set extensions that the crypto code can use, read once from CPUID.
#pragma once

// AES-NI, PCLMULQDQ, SSSE3 and SSE4.1.
bool cpuHasAesInstructions();
// The SHA extensions and SSE4.1.
bool cpuHasShaInstructions();
// MULX (BMI2) and the two-carry additions ADCX and ADOX (ADX).
bool cpuHasMulxAdx();
// VAES and VPCLMULQDQ on 512-bit registers (AVX-512 F, BW and VL), with the system saving those
// registers.
bool cpuHasWideAesInstructions();
