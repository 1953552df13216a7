// The "@" formatter and its typed entry points.
//
// Each "@" in the format takes the next argument; the byte after it is an ordinary format byte
// again, so "@@" renders two arguments and a trailing "@" renders one. A placeholder without an
// argument renders "@ParameterIndexError". The result is cut at 253 bytes and flagged, never an error.
#include "Core/Format.h"

#include <cstring>

namespace {


void renderArgument(const void* argument, u32 kind, ByteWriter* writer) {
    switch (kind) {
        case FormatArgFixedString: appendFixedStringRef((const FixedString*)argument, writer); break;
        case FormatArgByteWriter: {
            const ByteWriter* text = (const ByteWriter*)argument;
            if (text->data) appendUtf8Text(text->data, text->length, writer);
            break;
        }
        case FormatArgCString: appendCString((const char*)argument, writer); break;
        case FormatArgCodepoint: appendCodepoint(*(const i32*)argument, writer); break;
        case FormatArgInt: appendInt64(*(const i64*)argument, writer); break;
        case FormatArgHex: {
            const FormatHexArgument* hex = (const FormatHexArgument*)argument;
            appendHexDigits(hex->value, hex->digitCount, writer);
            break;
        }
        case FormatArgFixedPoint: {
            const FormatFixedArgument* fixed = (const FormatFixedArgument*)argument;
            appendFixedPoint(fixed->scaledValue, fixed->decimals, writer);
            break;
        }
        case FormatArgSpan: {
            const FormatBytesArgument* span = (const FormatBytesArgument*)argument;
            appendBytes(span->bytes, span->length, writer);
            break;
        }
        case FormatArgHexBytes: {
            const FormatBytesArgument* span = (const FormatBytesArgument*)argument;
            appendHexBytes(span->bytes, span->length, writer);
            break;
        }
        default: break;
    }
}

// One argument of a typed entry point: its address and kind.
struct Arg {
    const void* address;
    u32 kind;
};

template <size_t N>
FixedString formatArgs(const char* format, const Arg (&args)[N]) {
    const void* addresses[N];
    u32 kinds[N];
    for (size_t i = 0; i < N; i++) {
        addresses[i] = args[i].address;
        kinds[i] = args[i].kind;
    }
    return formatString(format, addresses, kinds, (i32)N);
}

inline Arg str(const FixedString& value) { return {&value, FormatArgFixedString}; }
inline Arg cstr(const char* value) { return {value, FormatArgCString}; }
inline Arg integer(const i64& value) { return {&value, FormatArgInt}; }
inline Arg codepoint(const i32& value) { return {&value, FormatArgCodepoint}; }

}  // namespace

FixedString formatString(const char* format, const void* const* arguments, const u32* kinds, i32 count) {
    FixedString result;
    std::memset(&result, 0, sizeof result);
    ByteWriter writer = makeByteWriter(result.text, kFixedStringCapacity);
    i32 counter = 0;
    bool placeholder = false;
    for (const char* p = format ? format : "";; p++) {
        char c = *p;
        if (placeholder) {
            if (counter < count) {
                renderArgument(arguments[counter], kinds[counter], &writer);
            } else {
                appendCString("@ParameterIndexError", &writer);
            }
            counter++;
            placeholder = false;
        }
        if (c == 0) break;
        if (c == '@') {
            placeholder = true;
        } else {
            appendBytes(&c, 1, &writer);
        }
    }
    result.length = (u8)writer.length;
    result.truncated = writer.overflow;
    return result;
}

FixedString format(const char* format) { return makeString(format); }

FixedString formatStr(const char* format, FixedString a) { return formatArgs(format, {str(a)}); }

FixedString formatStrStr(const char* format, FixedString a, FixedString b) {
    return formatArgs(format, {str(a), str(b)});
}

FixedString formatStrStrStr(const char* format, FixedString a, FixedString b, FixedString c) {
    return formatArgs(format, {str(a), str(b), str(c)});
}

FixedString formatStrCstr(const char* format, FixedString a, const char* b) {
    return formatArgs(format, {str(a), cstr(b)});
}

FixedString formatStrInt(const char* format, FixedString a, i64 b) {
    return formatArgs(format, {str(a), integer(b)});
}

FixedString formatStrIntInt(const char* format, FixedString a, i64 b, i64 c) {
    return formatArgs(format, {str(a), integer(b), integer(c)});
}

FixedString formatStrCp(const char* format, FixedString a, i32 b) {
    return formatArgs(format, {str(a), codepoint(b)});
}

FixedString formatCstr(const char* format, const char* a) { return formatArgs(format, {cstr(a)}); }

FixedString formatCstrCstr(const char* format, const char* a, const char* b) {
    return formatArgs(format, {cstr(a), cstr(b)});
}

FixedString formatCstrInt(const char* format, const char* a, i64 b) {
    return formatArgs(format, {cstr(a), integer(b)});
}

FixedString formatInt(const char* format, i64 a) { return formatArgs(format, {integer(a)}); }

FixedString formatIntInt(const char* format, i64 a, i64 b) { return formatArgs(format, {integer(a), integer(b)}); }

FixedString formatInt3(const char* format, i64 a, i64 b, i64 c) {
    return formatArgs(format, {integer(a), integer(b), integer(c)});
}

FixedString formatInt4(const char* format, i64 a, i64 b, i64 c, i64 d) {
    return formatArgs(format, {integer(a), integer(b), integer(c), integer(d)});
}

FixedString formatInt6(const char* format, i64 a, i64 b, i64 c, i64 d, i64 e, i64 f) {
    return formatArgs(format, {integer(a), integer(b), integer(c), integer(d), integer(e), integer(f)});
}

FixedString formatInt7(const char* format, i64 a, i64 b, i64 c, i64 d, i64 e, i64 f, i64 g) {
    return formatArgs(format,
                      {integer(a), integer(b), integer(c), integer(d), integer(e), integer(f), integer(g)});
}

FixedString formatIntStr(const char* format, i64 a, FixedString b) { return formatArgs(format, {integer(a), str(b)}); }

FixedString formatIntIntStr(const char* format, i64 a, i64 b, FixedString c) {
    return formatArgs(format, {integer(a), integer(b), str(c)});
}

FixedString formatIntStrInt(const char* format, i64 a, FixedString b, i64 c) {
    return formatArgs(format, {integer(a), str(b), integer(c)});
}

FixedString formatIntCstr(const char* format, i64 a, const char* b) {
    return formatArgs(format, {integer(a), cstr(b)});
}

FixedString formatIntCstrInt(const char* format, i64 a, const char* b, i64 c) {
    return formatArgs(format, {integer(a), cstr(b), integer(c)});
}

FixedString formatIntCstrCstrCstr(const char* format, i64 a, const char* b, const char* c, const char* d) {
    return formatArgs(format, {integer(a), cstr(b), cstr(c), cstr(d)});
}

FixedString formatInt4CstrCstr(const char* format, i64 a, i64 b, i64 c, i64 d, const char* e, const char* f) {
    return formatArgs(format, {integer(a), integer(b), integer(c), integer(d), cstr(e), cstr(f)});
}

FixedString formatIntCp(const char* format, i64 a, i32 b) { return formatArgs(format, {integer(a), codepoint(b)}); }

FixedString formatCp(const char* format, i32 a) { return formatArgs(format, {codepoint(a)}); }

FixedString formatCpStr(const char* format, i32 a, FixedString b) { return formatArgs(format, {codepoint(a), str(b)}); }

FixedString formatCpInt(const char* format, i32 a, i64 b) { return formatArgs(format, {codepoint(a), integer(b)}); }

FixedString formatFixed(const char* format, i64 scaledValue, i64 decimals) {
    FormatFixedArgument fixed{scaledValue, decimals};
    return formatArgs(format, {Arg{&fixed, FormatArgFixedPoint}});
}

FixedString formatFixedFixed(const char* format, i64 scaledA, i64 decimalsA, i64 scaledB, i64 decimalsB) {
    FormatFixedArgument a{scaledA, decimalsA};
    FormatFixedArgument b{scaledB, decimalsB};
    return formatArgs(format, {Arg{&a, FormatArgFixedPoint}, Arg{&b, FormatArgFixedPoint}});
}

FixedString formatFixedCp(const char* format, i64 scaledValue, i64 decimals, i32 cp) {
    FormatFixedArgument fixed{scaledValue, decimals};
    return formatArgs(format, {Arg{&fixed, FormatArgFixedPoint}, codepoint(cp)});
}

FixedString formatHex(const char* format, u64 value, i64 digitCount) {
    FormatHexArgument hex{value, digitCount};
    return formatArgs(format, {Arg{&hex, FormatArgHex}});
}

FixedString formatHexInt(const char* format, u64 value, i64 digitCount, i64 b) {
    FormatHexArgument hex{value, digitCount};
    return formatArgs(format, {Arg{&hex, FormatArgHex}, integer(b)});
}

FixedString formatHexIntInt(const char* format, u64 value, i64 digitCount, i64 b, i64 c) {
    FormatHexArgument hex{value, digitCount};
    return formatArgs(format, {Arg{&hex, FormatArgHex}, integer(b), integer(c)});
}

FixedString formatSpan(const char* format, const void* bytes, i64 length) {
    FormatBytesArgument span{bytes, length};
    return formatArgs(format, {Arg{&span, FormatArgSpan}});
}

FixedString formatSpanSpan(const char* format, const void* a, i64 aLength, const void* b, i64 bLength) {
    FormatBytesArgument first{a, aLength};
    FormatBytesArgument second{b, bLength};
    return formatArgs(format, {Arg{&first, FormatArgSpan}, Arg{&second, FormatArgSpan}});
}

FixedString formatHexBytes(const char* format, const void* bytes, i64 count) {
    FormatBytesArgument span{bytes, count};
    return formatArgs(format, {Arg{&span, FormatArgHexBytes}});
}

FixedString formatText(const char* format, const ByteWriter* text) {
    return formatArgs(format, {Arg{text, FormatArgByteWriter}});
}
