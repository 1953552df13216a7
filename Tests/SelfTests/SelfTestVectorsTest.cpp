// The suites' expected values are right: python's hashlib, hmac, pow and python3-cryptography
// recompute every one, a brute force over the small curve agrees with its cases, and
// modularExponentiation agrees with pow on random 256-bit numbers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "SelfTestSupport.h"
#include "SelfTests/SelfTestVectors.h"

namespace {

std::string quoted(const char* text) {
    if (!text) return "null";
    std::string out = "\"";
    for (const char* c = text; *c; c++) {
        if (*c == '"' || *c == '\\') out += '\\';
        out += *c;
    }
    return out + "\"";
}

std::string bigEndianHex(const u8* littleEndian) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 31; i >= 0; i--) {
        text += digits[littleEndian[i] >> 4];
        text += digits[littleEndian[i] & 15];
    }
    return text;
}

std::string runPython(const std::string& script, const std::string& argument, int* status) {
    std::string command = "/usr/bin/python3 " + script + " " + argument + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof(buffer), pipe)) output += buffer;
    *status = pipe ? pclose(pipe) : -1;
    return output;
}

TEST(SelfTestVectors, EveryExpectedValueIsWhatIndependentImplementationsCompute) {
    std::string json = "{\"hashes\": [";
    for (u32 i = 0; i < HashVectorCount; i++) {
        const HashVector& v = kHashVectors[i];
        json += std::string(i ? "," : "") + "{\"function\": " + quoted(v.function) + ", \"key\": " + quoted(v.key) +
                ", \"text\": " + quoted(v.text) + ", \"hex\": " + quoted(v.hex) +
                ", \"expected\": " + quoted(v.expected) + "}\n";
    }
    json += "], \"aes\": [";
    for (u32 i = 0; i < AesVectorCount; i++) {
        const AesVector& v = kAesVectors[i];
        json += std::string(i ? "," : "") + "{\"mode\": " + quoted(v.mode) + ", \"key\": " + quoted(v.key) +
                ", \"iv\": " + quoted(v.iv) + ", \"plaintext\": " + quoted(v.plaintext) + ", \"aad\": " +
                quoted(v.aad) + ", \"ciphertext\": " + quoted(v.ciphertext) + ", \"tag\": " + quoted(v.tag) + "}\n";
    }
    json += "], \"x25519\": [";
    for (u32 i = 0; i < X25519VectorCount; i++) {
        const X25519Vector& v = kX25519Vectors[i];
        json += std::string(i ? "," : "") + "{\"scalar\": " + quoted(v.scalar) + ", \"u\": " + quoted(v.u) +
                ", \"expected\": " + quoted(v.expected) + "}\n";
    }
    json += "], \"iteratedOnce\": " + quoted(kX25519IteratedOnce) +
            ", \"iteratedThousand\": " + quoted(kX25519IteratedThousand) + ", \"smallCurve\": [";
    for (u32 i = 0; i < SmallCurveCaseCount; i++) {
        const SmallCurveCase& c = kSmallCurveCases[i];
        char line[256];
        snprintf(line, sizeof(line),
                 "%s{\"operation\": \"%s\", \"scalar\": %u, \"px\": %u, \"py\": %u, \"qx\": %u, \"qy\": %u, "
                 "\"status\": %u, \"x\": %u, \"y\": %u}\n",
                 i ? "," : "", c.operation, c.scalar, c.px, c.py, c.qx, c.qy, c.status, c.x, c.y);
        json += line;
    }
    // modularExponentiation on random 256-bit numbers (moduli of every size, 1 included).
    json += "], \"powers\": [";
    std::mt19937_64 random(56);
    for (int i = 0; i < 40; i++) {
        u8 base[32], exponent[32], modulus[32], result[32];
        for (int b = 0; b < 32; b++) {
            base[b] = (u8)random();
            exponent[b] = (u8)random();
            modulus[b] = (u8)random();
        }
        // Shorter moduli too, and the edges: 1, and an exponent of 0.
        for (int b = 32 - (i % 8) * 4; b < 32; b++) modulus[b] = 0;
        if (i == 1) memset(exponent, 0, 32);
        if (i == 2) {
            memset(modulus, 0, 32);
            modulus[0] = 1;
        }
        PreparedModulus prepared;
        bigNumHighestBit(&prepared, modulus);
        modularExponentiation(result, base, exponent, &prepared);
        json += std::string(i ? "," : "") + "{\"base\": \"" + bigEndianHex(base) + "\", \"exponent\": \"" +
                bigEndianHex(exponent) + "\", \"modulus\": \"" + bigEndianHex(modulus) + "\", \"result\": \"" +
                bigEndianHex(result) + "\"}\n";
    }
    json += "]}\n";
    std::string path = std::string(ORVIK_BINARY_DIR) + "/self_test_vectors.json";
    std::ofstream(path) << json;
    int status = 0;
    std::string output = runPython(std::string(ORVIK_SOURCE_DIR) + "/Tests/SelfTests/check_vectors.py", path, &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("checked "), std::string::npos) << output;
}

}  // namespace
