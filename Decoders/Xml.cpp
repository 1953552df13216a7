// XML tokenizer, entity decoder and PDF reference reader.
#include "Decoders/Xml.h"

#include <cstring>

#include "Core/Format.h"

namespace {

enum XmlState : u32 {
    StateOutside,
    StateAfterLt,
    StateName,
    StateInsideTag,
    StateAttributeName,
    StateAttributeAfterName,
    StateAttributeValue,
    StateText,
    StateClosingTag,
    StateBang,
    StateComment,
    StateInstruction,
    StateCdata,
    StateDeclaration,
    StateSubset,
};

bool isXmlWhitespace(i32 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0xFEFF; }

// True when the two code points just before position are a then b.
bool precededBy(const u8* text, i64 position, i32 a, i32 b) {
    i64 p = position;
    i32 second = utf8DecodePrevious(text, &p);
    if (second != b) return false;
    i32 first = utf8DecodePrevious(text, &p);
    return first == a;
}

bool precededBy(const u8* text, i64 position, i32 a) {
    i64 p = position;
    return utf8DecodePrevious(text, &p) == a;
}

XmlToken* fail(XmlToken* out, FixedString message) {
    out->kind = XmlEnd;
    out->message = message;
    return out;
}

void resetElement(XmlReader* reader) {
    reader->elementStart = 0;
    reader->elementNameLength = 0;
    reader->insideTag = 0;
}

void setElement(XmlToken* out, const XmlReader* reader) {
    out->elementName = reader->text + reader->elementStart;
    out->elementNameLength = reader->elementNameLength;
}

// The element being read closes: its token, at the depth after the count goes down.
XmlToken* closeElement(XmlToken* out, XmlReader* reader) {
    reader->depth--;
    out->kind = XmlElementClose;
    setElement(out, reader);
    out->depth = reader->depth;
    resetElement(reader);
    return out;
}

}  // namespace

XmlToken* nextXmlToken(XmlToken* out, XmlReader* reader) {
    std::memset(out, 0, sizeof *out);
    const u8* text = reader->text;
    XmlState state = StateOutside;
    if (reader->insideTag) {
        state = StateInsideTag;
    } else if (reader->elementStart != 0) {
        state = StateText;
    }
    i64 textStart = reader->position;
    bool textBegun = false;
    i64 attributeStart = 0;
    i64 attributeLength = -1;
    i64 valueStart = 0;
    i32 quote = '"';
    bool closingNameEnded = false;

    for (;;) {
        i64 at = reader->position;
        i32 c = utf8DecodeNext(text, reader->length, &reader->position);
        if (c == kUtf8Malformed) return fail(out, formatInt("Malformed Utf-8 character at byte @", reader->position));
        if (c == kUtf8Truncated) return fail(out, format("File ended in the middle of a UTF-8 character"));
        if (c < 0) {
            if (reader->insideTag) return fail(out, format("XML File ended in the middle of a tag"));
            if (reader->elementStart != 0) {
                i64 nameLength = reader->elementNameLength;
                if (nameLength == 0 && (state == StateName || state == StateClosingTag)) {
                    nameLength = reader->position - reader->elementStart;
                }
                return fail(out, formatSpan("XML File ended before Element @ closed", text + reader->elementStart,
                                            nameLength));
            }
            if (state != StateOutside && state != StateText) {
                return fail(out, format("XML File ended in the middle of a tag"));
            }
            if (reader->depth > 0) {
                return fail(out, formatInt("XML File ended with @ elements still open", reader->depth));
            }
            out->kind = XmlEnd;
            return out;
        }
        switch (state) {
            case StateOutside:
                if (c == '<') {
                    state = StateAfterLt;
                } else if (reader->depth > 0) {
                    // Text after a child element, inside its parent ("Some<br/>HTML"): passed over.
                } else if (!isXmlWhitespace(c)) {
                    return fail(out, formatHexInt("Unexpected character U+@ at byte @ when trying to find <", (u32)c,
                                                  8, reader->position));
                }
                break;
            case StateAfterLt:
                if (c == '<' || c == '=' || c == '>' || c == '\\' || isXmlWhitespace(c)) {
                    return fail(out, formatHexInt("Unexpected character U+@ at byte @ after <", (u32)c, 8,
                                                  reader->position));
                }
                if (c == '/') {
                    reader->elementStart = reader->position;
                    reader->elementNameLength = 0;
                    closingNameEnded = false;
                    state = StateClosingTag;
                } else if (c == '!') {
                    state = StateBang;
                } else if (c == '?') {
                    state = StateInstruction;
                } else {
                    reader->elementStart = at;
                    reader->elementNameLength = 0;
                    state = StateName;
                }
                break;
            case StateName:
                if (c == '>' || c == '/' || isXmlWhitespace(c)) {
                    reader->elementNameLength = at - reader->elementStart;
                    if (c == '>') {
                        reader->insideTag = 0;
                    } else {
                        reader->insideTag = 1;
                        if (c == '/') reader->position = at;
                    }
                    out->kind = XmlElementOpen;
                    setElement(out, reader);
                    out->depth = reader->depth;
                    reader->depth++;
                    return out;
                }
                break;
            case StateInsideTag:
                if (isXmlWhitespace(c)) break;
                if (c == '/') {
                    i32 next = utf8DecodeNext(text, reader->length, &reader->position);
                    if (next < 0) return fail(out, format("XML File ended in the middle of a tag"));
                    if (next != '>') {
                        return fail(out, formatHexInt("Unexpected character U+@ at byte @ after /", (u32)next, 8,
                                                      reader->position));
                    }
                    return closeElement(out, reader);
                }
                if (c == '>') {
                    reader->insideTag = 0;
                    state = StateText;
                    textStart = reader->position;
                    textBegun = false;
                    break;
                }
                attributeStart = at;
                attributeLength = -1;
                state = StateAttributeName;
                break;
            case StateAttributeName:
                if (isXmlWhitespace(c) || c == '=') {
                    attributeLength = at - attributeStart;
                    state = StateAttributeAfterName;
                }
                break;
            case StateAttributeAfterName:
                if (isXmlWhitespace(c) || c == '=') break;
                if (c == '"' || c == '\'') {
                    quote = c;
                    valueStart = reader->position;
                    state = StateAttributeValue;
                    break;
                }
                return fail(out, formatHexInt("Unexpected character U+@ at byte @ after attribute name", (u32)c, 8,
                                              reader->position));
            case StateAttributeValue:
                if (c == quote) {
                    out->kind = XmlAttribute;
                    setElement(out, reader);
                    out->name = text + attributeStart;
                    out->nameLength = attributeLength;
                    out->value = text + valueStart;
                    out->valueLength = at - valueStart;
                    out->depth = reader->depth;
                    return out;
                }
                break;
            case StateText:
                if (!textBegun) {
                    if (isXmlWhitespace(c)) break;
                    if (c == '<') {
                        state = StateAfterLt;
                        break;
                    }
                    textBegun = true;
                    break;
                }
                if (c == '<') {
                    out->kind = XmlText;
                    setElement(out, reader);
                    out->name = text + textStart;
                    out->nameLength = at - textStart;
                    out->depth = reader->depth;
                    reader->position = at;
                    reader->elementStart = 0;
                    reader->elementNameLength = 0;
                    return out;
                }
                break;
            case StateClosingTag:
                if (isXmlWhitespace(c)) {
                    if (!closingNameEnded) {
                        reader->elementNameLength = at - reader->elementStart;
                        closingNameEnded = true;
                    }
                    break;
                }
                if (c == '>') {
                    if (!closingNameEnded) reader->elementNameLength = at - reader->elementStart;
                    if (reader->depth <= 0) {
                        return fail(out, formatInt("Closing tag at byte @ has no open element", reader->position));
                    }
                    return closeElement(out, reader);
                }
                break;
            case StateBang:
                if (c == '-') {
                    state = StateComment;
                } else if (c == 'D') {
                    state = StateDeclaration;
                } else if (c == '[') {
                    state = StateCdata;
                }
                break;
            case StateComment:
                if (c == '>' && precededBy(text, at, '-', '-')) state = StateOutside;
                break;
            case StateInstruction:
                if (c == '>' && precededBy(text, at, '?')) state = StateOutside;
                break;
            case StateCdata:
                if (c == '>' && precededBy(text, at, ']', ']')) state = StateOutside;
                break;
            case StateDeclaration:
                if (c == '[') {
                    state = StateSubset;
                } else if (c == '>') {
                    state = StateOutside;
                }
                break;
            case StateSubset:
                if (c == ']') state = StateDeclaration;
                break;
        }
    }
}

u8 decodeXmlEntities(u8* text, u8 length) {
    struct Entity {
        const char* name;  // between "&" and ";"
        u8 character;
    };
    static const Entity entities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
    i32 n = length;
    for (i32 i = 0; i < n; i++) {
        if (text[i] != '&') continue;
        for (const Entity& entity : entities) {
            i32 nameLength = (i32)std::strlen(entity.name);
            i32 removed = nameLength + 1;  // the name and its ";"
            if (i + removed >= n) continue;
            if (std::memcmp(text + i + 1, entity.name, (size_t)nameLength) != 0 || text[i + removed] != ';') continue;
            text[i] = entity.character;
            std::memmove(text + i + 1, text + i + 1 + removed, (size_t)(n - (i + 1 + removed)));
            std::memset(text + n - removed, 0, (size_t)removed);
            n -= removed;
            break;
        }
    }
    return (u8)n;
}

i32 parsePdfReference(const u8* text, i64 end, i64* position, PdfReference* out) {
    i64 p = *position;
    i64 objectNumber = parseInteger(text, &p, end, -1);
    if (objectNumber < 0) return 1;
    skipBlanks(text, &p, end);
    i64 generation = parseInteger(text, &p, end, -1);
    if (generation < 0) return 1;
    skipBlanks(text, &p, end);
    if (p >= end || text[p] != 'R') return 1;
    out->objectNumber = (i32)objectNumber;
    out->generation = (i32)generation;
    *position = p + 1;
    return 0;
}
