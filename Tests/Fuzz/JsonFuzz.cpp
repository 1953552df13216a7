// Fuzzes the JSON tokenizer, whole and cut in two, and the unescaping of its strings and keys.
#include <cstddef>
#include <cstdint>

#include "Decoders/Json.h"

static void walk(JsonReader* reader, const uint8_t* data, size_t size) {
    static u8 decoded[1 << 16];
    for (int i = 0; i < 1000000; i++) {
        JsonToken token;
        nextJsonToken(&token, reader);
        if (token.kind <= JsonEnd) return;
        if (token.kind == JsonString) {
            if (token.stringText < data || token.stringText + token.stringLength > data + size) __builtin_trap();
            ByteWriter writer = makeByteWriter(decoded, sizeof decoded);
            appendJsonUnescaped(token.stringText, token.stringLength, &writer);
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JsonReader reader{};
    reader.text = data;
    reader.length = (i64)size;
    walk(&reader, data, size);
    JsonReader partial{};
    partial.text = data;
    partial.length = (i64)(size / 2);
    walk(&partial, data, size);
    partial.length = (i64)size;
    walk(&partial, data, size);
    return 0;
}
