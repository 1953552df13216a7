// Fuzzes the XML tokenizer, the entity decoder and the PDF reference reader.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Decoders/Xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlReader reader{};
    reader.text = data;
    reader.length = (i64)size;
    for (int i = 0; i < 1000000; i++) {
        XmlToken token;
        nextXmlToken(&token, &reader);
        if (token.kind == XmlEnd) break;
        if (token.name && (token.name < data || token.name + token.nameLength > data + size)) __builtin_trap();
        if (token.value && (token.value < data || token.value + token.valueLength > data + size)) __builtin_trap();
    }
    FixedString text{};
    size_t n = size < 253 ? size : 253;
    std::memcpy(text.text, data, n);
    text.length = (u8)n;
    text.length = decodeXmlEntities((u8*)text.text, text.length);
    for (size_t p = 0; p < size && p < 64; p++) {
        i64 position = (i64)p;
        PdfReference reference;
        parsePdfReference(data, (i64)size, &position, &reference);
        if (position < (i64)p || position > (i64)size) __builtin_trap();
    }
    return 0;
}
