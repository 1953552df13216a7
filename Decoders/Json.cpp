// JSON pull tokenizer.
#include "Decoders/Json.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"

static bool isJsonWhitespace(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static bool isHexDigit(u8 c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void skipJsonWhitespace(JsonReader* reader) {
    while (reader->position < reader->length && isJsonWhitespace(reader->text[reader->position])) {
        reader->position++;
    }
}

i64 readJsonString(JsonReader* reader, FixedString* message) {
    const u8* text = reader->text;
    i64 start = reader->position;
    while (reader->position < reader->length) {
        i64 at = reader->position;
        u8 c = text[at];
        reader->position++;
        if (c == '"') return at - start;
        if (c == '\\') {
            if (reader->position >= reader->length) return -1;
            i64 escapeAt = reader->position;
            u8 e = text[escapeAt];
            reader->position++;
            if (e == 'u') {
                if (reader->length - reader->position < 4) return -1;
                for (i32 i = 0; i < 4; i++) {
                    u8 h = text[reader->position];
                    if (!isHexDigit(h)) {
                        *message = formatCpInt("Unexpected character @ after \\u at byte @", h, reader->position);
                        return -2;
                    }
                    reader->position++;
                }
            } else if (e != '"' && e != '\\' && e != '/' && e != 'b' && e != 'f' && e != 'n' && e != 'r' &&
                       e != 't') {
                *message = formatCpInt("Unexpected character @ after \\ at byte @", e, escapeAt);
                return -2;
            }
        } else if (c < 32) {
            // Control characters must be escaped; every other byte, UTF-8 text included, stands as it is.
            *message = formatHexInt("Invalid byte 0x@ at byte @", c, 2, at);
            return -2;
        }
    }
    return -1;
}

// The default handed to parseDouble: a NaN with its own payload, which no number text produces.
static f64 noNumberMarker() {
    u64 bits = 0x7FF8'0000'0ADD'BEEFull;
    f64 value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

static bool isNoNumberMarker(f64 value) {
    f64 marker = noNumberMarker();
    return std::memcmp(&value, &marker, sizeof value) == 0;
}

static JsonToken* endOfInput(JsonToken* out, JsonReader* reader, i64 tokenStart) {
    reader->position = tokenStart;
    std::memset(out, 0, sizeof *out);
    out->kind = JsonEnd;
    return out;
}

static JsonToken* fail(JsonToken* out, FixedString message) {
    FixedString keep = message;
    std::memset(out, 0, sizeof *out);
    out->kind = JsonError;
    out->key = keep;
    return out;
}

static bool matchLiteral(JsonReader* reader, const char* rest) {
    i64 n = (i64)std::strlen(rest);
    return std::memcmp(reader->text + reader->position, rest, (size_t)n) == 0;
}

// Reads the value whose first byte c (at position - 1) has been taken; the token's key is already set.
static JsonToken* readJsonValue(JsonToken* out, JsonReader* reader, u8 c, i64 tokenStart) {
    i64 first = reader->position - 1;
    if (c == '{' || c == '[') {
        if (reader->depth >= kJsonMaxDepth) {
            return fail(out, formatIntInt("Containers nested deeper than @ levels at byte @", kJsonMaxDepth, first));
        }
        u64 bit = 1ull << reader->depth;
        if (c == '[') {
            reader->arrayBits |= bit;
            out->kind = JsonArrayBegin;
        } else {
            reader->arrayBits &= ~bit;
            out->kind = JsonObjectBegin;
        }
        reader->keys[reader->depth] = out->key;
        reader->depth++;
        return out;
    }
    if (c == '"') {
        FixedString message{};
        i64 length = readJsonString(reader, &message);
        if (length == -1) return endOfInput(out, reader, tokenStart);
        if (length < 0) return fail(out, message);
        out->kind = JsonString;
        out->stringText = reader->text + first + 1;
        out->stringLength = length;
        return out;
    }
    if (c == '+' || c == '-' || (c >= '0' && c <= '9')) {
        i64 position = first;
        f64 value = parseDouble(reader->text, &position, reader->length, noNumberMarker());
        if (isNoNumberMarker(value)) return fail(out, formatInt("Could not parse a number at byte @", position));
        i64 doubleEnd = position;
        position = first;
        i64 integer = parseInteger(reader->text, &position, reader->length, 0);
        out->kind = JsonNumber;
        out->number = value;
        if (position == doubleEnd) {
            out->integer = integer;
        } else if (std::isfinite(value) && std::fabs(value) < 9.2e18) {
            out->integer = (i64)value;
        } else {
            out->integer = value < 0 ? INT64_MIN : INT64_MAX;
        }
        reader->position = doubleEnd;
        return out;
    }
    if (c == 't' || c == 'f' || c == 'n') {
        const char* rest = c == 't' ? "rue" : c == 'f' ? "alse" : "ull";
        i64 need = (i64)std::strlen(rest);
        if (reader->length - reader->position < need) return endOfInput(out, reader, tokenStart);
        if (!matchLiteral(reader, rest)) {
            const char* message = c == 't'   ? "Expected \"true\" near byte @"
                                  : c == 'f' ? "Expected \"false\" near byte @"
                                             : "Expected \"null\" near byte @";
            return fail(out, formatInt(message, reader->position));
        }
        reader->position += need;
        if (c == 'n') {
            out->kind = JsonNull;
        } else {
            out->kind = JsonBoolean;
            out->boolean = c == 't';
        }
        return out;
    }
    return fail(out, formatCpInt("Unexpected character @ at byte @", c, first));
}

JsonToken* nextJsonToken(JsonToken* out, JsonReader* reader) {
    std::memset(out, 0, sizeof *out);
    out->kind = JsonEnd;
    if (reader->position >= reader->length) return out;
    skipJsonWhitespace(reader);
    i64 tokenStart = reader->position;
    if (reader->position >= reader->length) return out;
    u8 c = reader->text[reader->position++];
    if (c == ',') {
        skipJsonWhitespace(reader);
        if (reader->position >= reader->length) return endOfInput(out, reader, tokenStart);
        c = reader->text[reader->position++];
    }
    bool inArray = reader->depth > 0 && ((reader->arrayBits >> (reader->depth - 1)) & 1);
    if (inArray) {
        out->key = reader->keys[reader->depth - 1];
        if (c == ']') {
            reader->depth--;
            out->kind = JsonArrayEnd;
            return out;
        }
        return readJsonValue(out, reader, c, tokenStart);
    }
    if (c == '{' || c == '[') return readJsonValue(out, reader, c, tokenStart);
    if (c == '}') {
        if (reader->depth == 0) {
            return fail(out, formatCpInt("Unexpected character @ at byte @", c, reader->position - 1));
        }
        reader->depth--;
        out->key = reader->keys[reader->depth];
        out->kind = JsonObjectEnd;
        return out;
    }
    if (c == '"') {
        i64 keyStart = reader->position;
        FixedString message{};
        i64 keyLength = readJsonString(reader, &message);
        if (keyLength == -1) return endOfInput(out, reader, tokenStart);
        if (keyLength < 0) return fail(out, message);
        FixedString key{};
        ByteWriter writer = makeByteWriter(key.text, 253);
        appendJsonUnescaped(reader->text + keyStart, keyLength, &writer);
        key.length = (u8)writer.length;
        key.truncated = writer.overflow;
        key.text[key.length] = 0;
        skipJsonWhitespace(reader);
        if (reader->position >= reader->length) return endOfInput(out, reader, tokenStart);
        u8 colon = reader->text[reader->position];
        if (colon != ':') {
            return fail(out, formatCpInt("Unexpected character @ at byte @, expected ':'", colon, reader->position));
        }
        reader->position++;
        skipJsonWhitespace(reader);
        if (reader->position >= reader->length) return endOfInput(out, reader, tokenStart);
        c = reader->text[reader->position++];
        out->key = key;
        return readJsonValue(out, reader, c, tokenStart);
    }
    return fail(out, formatCpInt("Unexpected character @ at byte @", c, reader->position - 1));
}
