// Pull tokenizer for JSON texts (RFC 8259). Each call returns the next token as a slice of the
// caller's bytes, tagged with the key under which it stands; nothing is built or allocated. Input
// that ends in the middle of a token is not consumed, so a reader over a partial reply can be called
// again once more bytes have arrived.
#pragma once
#include "Core/FixedString.h"

constexpr i32 kJsonMaxDepth = 20;

enum JsonTokenKind : u32 {
    JsonError = 0,        // key holds the message
    JsonEnd = 1,          // end of input, or a token that the input ends in the middle of
    JsonNull = 2,
    JsonBoolean = 3,
    JsonNumber = 4,
    JsonString = 5,
    JsonArrayBegin = 6,
    JsonObjectBegin = 7,
    JsonArrayEnd = 8,
    JsonObjectEnd = 9,
};

// The caller fills text, position and length and zeroes the rest.
struct JsonReader {
    const u8* text;
    i64 position;
    i64 length;
    i32 depth;                       // containers now open
    u64 arrayBits;                   // bit d set: the container opened at level d is an array
    FixedString keys[kJsonMaxDepth];  // key of the container opened at level d
};

struct JsonToken {
    u32 kind;         // JsonTokenKind
    FixedString key;  // the key the token stands under; the message for JsonError
    f64 number;
    i64 integer;
    u32 boolean;
    const u8* stringText;  // raw, escapes as written (decode with appendJsonUnescaped)
    i64 stringLength;
};

JsonToken* nextJsonToken(JsonToken* out, JsonReader* reader);

// Checks a string from just after its opening quote and leaves the position after the closing
// quote. Returns the bytes between the quotes, -1 when the input ends first, -2 on an error (with
// the message written).
i64 readJsonString(JsonReader* reader, FixedString* message);
void skipJsonWhitespace(JsonReader* reader);
