// The stored password form read back from a preferences file that anyone may have edited, and
// passwords of any bytes stored and read back. Input starting with 'P' is a password; any other
// first byte is skipped and the rest is a stored form.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Crypto/StoredPassword.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// A well-formed text: length within the capacity, zero right after it, no zero byte before.
void checkText(const FixedString* s) {
    check(s->length < sizeof(s->text));
    check(s->text[s->length] == 0);
    check(memchr(s->text, 0, s->length) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    if (size == 0) return 0;
    // Records on the heap at their exact size, so that a read past either one is caught.
    auto input = std::make_unique<FixedString>();
    auto output = std::make_unique<FixedString>();
    auto again = std::make_unique<FixedString>();
    memset(input.get(), 0, sizeof(FixedString));
    size_t length = size - 1 < sizeof(input->text) - 1 ? size - 1 : sizeof(input->text) - 1;
    memcpy(input->text, data + 1, length);
    input->length = (u8)length;

    if (data[0] == 'P') {
        // The reader ends a password at its first zero byte, so only the part before one comes back.
        const void* zero = memchr(input->text, 0, length);
        size_t kept = zero ? (size_t)((const char*)zero - input->text) : length;
        FixedString message = obscurePassword(output.get(), input.get());
        if (kept == 0) {  // an empty password, or one that starts with its end, is stored as nothing
            check(message.length == 0 && output->length == 0);
            return 0;
        }
        if ((i64)length > kMaxStoredPasswordLength) {
            check(message.length > 0 && output->length == 0);
            return 0;
        }
        check(message.length == 0);
        checkText(output.get());
        check(revealPassword(again.get(), output.get()).length == 0);
        check(again->length == kept && memcmp(again->text, input->text, kept) == 0);
        return 0;
    }

    FixedString message = revealPassword(output.get(), input.get());
    checkText(output.get());
    if (message.length > 0) {
        check(output->length == 0);
        return 0;
    }
    // At most the ciphertext blocks' bytes come back.
    size_t cipherBytes = length / 2 > 16 ? length / 2 - 16 : 0;
    check(output->length <= cipherBytes);
    // A password read back is stored and read back unchanged.
    if (output->length > 0 && output->length <= kMaxStoredPasswordLength) {
        auto stored = std::make_unique<FixedString>();
        check(obscurePassword(stored.get(), output.get()).length == 0);
        check(revealPassword(again.get(), stored.get()).length == 0);
        check(again->length == output->length && memcmp(again->text, output->text, output->length) == 0);
    }
    return 0;
}
