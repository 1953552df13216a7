// The stored password form: its length rules, fresh IVs, reading back, refusal of passwords that
// do not fit, and that `openssl enc -d -aes-256-cbc` given the key and IV recovers the password.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Crypto/StoredPassword.h"
#include "CryptoTestSupport.h"

namespace {

FixedString passwordOf(const std::string& text) {
    FixedString s{};
    s.length = (u8)text.size();
    memcpy(s.text, text.data(), text.size());
    return s;
}

std::string textOf(const FixedString& s) { return std::string(s.text, s.length); }

std::string patterned(size_t length) {
    std::string s;
    for (size_t i = 0; i < length; i++) s += (char)('!' + (i * 7) % 90);
    return s;
}

TEST(StoredPassword, LengthsAndReadingBack) {
    FixedString out, back;
    FixedString empty = passwordOf("");
    EXPECT_EQ(obscurePassword(&out, &empty).length, 0);
    EXPECT_EQ(out.length, 0);  // no IV either
    struct Case {
        size_t passwordLength, digits;
    } cases[] = {{1, 64}, {15, 64}, {16, 64}, {17, 96}, {32, 96}, {33, 128}, {95, 224}, {96, 224}};
    for (const auto& c : cases) {
        std::string password = patterned(c.passwordLength);
        FixedString in = passwordOf(password);
        ASSERT_EQ(obscurePassword(&out, &in).length, 0);
        EXPECT_EQ(out.length, c.digits) << c.passwordLength;
        EXPECT_EQ(out.truncated, 0);
        EXPECT_EQ(out.text[out.length], 0);
        for (int i = 0; i < out.length; i++)
            EXPECT_TRUE(isdigit((unsigned char)out.text[i]) || (out.text[i] >= 'A' && out.text[i] <= 'F'));
        ASSERT_EQ(revealPassword(&back, &out).length, 0);
        EXPECT_EQ(textOf(back), password);
    }
}

TEST(StoredPassword, FreshIvEachTime) {
    FixedString in = passwordOf("correct horse battery"), first, second, back;
    obscurePassword(&first, &in);
    obscurePassword(&second, &in);
    EXPECT_NE(textOf(first), textOf(second));
    EXPECT_NE(textOf(first).substr(0, 32), textOf(second).substr(0, 32));
    revealPassword(&back, &first);
    EXPECT_EQ(textOf(back), "correct horse battery");
    revealPassword(&back, &second);
    EXPECT_EQ(textOf(back), "correct horse battery");
}

TEST(StoredPassword, TooLongIsRefusedNotCut) {
    for (size_t length : {97, 150, 253}) {
        FixedString in = passwordOf(patterned(length)), out;
        memset(&out, 'x', sizeof(out));
        FixedString message = obscurePassword(&out, &in);
        EXPECT_GT(message.length, 0) << length;
        EXPECT_EQ(out.length, 0);
        EXPECT_EQ(out.text[0], 0);
    }
}

TEST(StoredPassword, DamagedTextIsReported) {
    FixedString back, stored = passwordOf("0123456789ABCDEF");
    EXPECT_GT(revealPassword(&back, &stored).length, 0);
    EXPECT_EQ(back.length, 0);
    // Reading stops at the first character that is not an upper-case hex digit.
    FixedString in = passwordOf("sixteen bytes!!!x"), out;
    obscurePassword(&out, &in);
    FixedString cut = out;
    cut.text[64] = 'g';
    revealPassword(&back, &cut);
    EXPECT_EQ(textOf(back), "sixteen bytes!!!");
}

// Runs a shell command and returns its standard output.
std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

TEST(StoredPassword, OpensslEncDecryptsIt) {
    char path[] = "/tmp/stored-password-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    for (size_t length : {1, 16, 17, 40, 96}) {
        std::string password = patterned(length);
        FixedString in = passwordOf(password), out;
        ASSERT_EQ(obscurePassword(&out, &in).length, 0);
        std::string stored = textOf(out);
        Bytes cipher = fromHex(stored.substr(32));
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(pwrite(fd, cipher.data(), cipher.size(), 0), (ssize_t)cipher.size());
        std::string command = "openssl enc -d -aes-256-cbc -nopad -K " + toHex(storedPasswordKey, 32) + " -iv " +
                              stored.substr(0, 32) + " -in " + path;
        std::string plain = run(command);
        ASSERT_EQ(plain.size(), cipher.size()) << command;
        EXPECT_EQ(plain.substr(0, length), password);
        EXPECT_EQ(plain.substr(length), std::string(plain.size() - length, '\0'));  // zero fill
    }
    close(fd);
    unlink(path);
}

}  // namespace
