#include "Network/Address.h"

#include "Core/Format.h"

#include <cstring>

AddressRecord makeAddressRecord(u8 family, const u8* bytes, u16 port) {
    AddressRecord record{};
    record.port = port;
    record.family = family;
    if (family == 4) {
        std::memcpy(record.address, bytes, 4);
    } else if (family == 6) {
        std::memcpy(record.address, bytes, 16);
    }
    return record;
}

void makeSockaddr(u8* out28, u8 family, const u8* bytes, u16 port) {
    std::memset(out28, 0, kSockaddrSize);
    u16 sockaddrFamily = family == 4 ? kSockaddrFamilyIpv4 : kSockaddrFamilyIpv6;
    out28[0] = (u8)(sockaddrFamily & 0xFF);
    out28[1] = (u8)(sockaddrFamily >> 8);
    out28[2] = (u8)(port >> 8);
    out28[3] = (u8)(port & 0xFF);
    if (family == 4) {
        std::memcpy(out28 + 4, bytes, 4);
    } else {
        std::memcpy(out28 + 8, bytes, 16);
    }
}

AddressRecord addressFromSockaddr(const u8* sockaddr28, u8 family) {
    u16 port = (u16)((sockaddr28[2] << 8) | sockaddr28[3]);
    return makeAddressRecord(family, family == 4 ? sockaddr28 + 4 : sockaddr28 + 8, port);
}

bool sameAddress(const AddressRecord* a, const AddressRecord* b) {
    if (a->family != b->family || std::memcmp(a->address, b->address, 4) != 0) {
        return false;
    }
    return a->family == 4 || std::memcmp(a->address + 4, b->address + 4, 12) == 0;
}

bool sameEndpoint(const AddressRecord* a, const AddressRecord* b) {
    return a->port == b->port && sameAddress(a, b);
}

void appendIpAddress(const AddressRecord* record, ByteWriter* writer) {
    if (record->family == 6) {
        appendCString("[", writer);
        for (i32 group = 0; group < 8; group++) {
            if (group > 0) {
                appendCString(":", writer);
            }
            u64 value = ((u64)record->address[group * 2] << 8) | record->address[group * 2 + 1];
            appendHexDigits(value, 4, writer);
        }
        appendCString("]", writer);
        return;
    }
    for (i32 i = 0; i < 4; i++) {
        if (i > 0) {
            appendCString(".", writer);
        }
        appendInt64(record->address[i], writer);
    }
}

FixedString addressString(const AddressRecord* record) {
    u8 bytes[64];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendIpAddress(record, &writer);
    return stringFromBytes(bytes, writer.length);
}

FixedString endpointString(const AddressRecord* record) {
    u8 bytes[64];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendIpAddress(record, &writer);
    appendCString(":", &writer);
    appendInt64(record->port, &writer);
    return stringFromBytes(bytes, writer.length);
}

namespace {

bool nextIs(const u8* text, u64 position, i64 length, u8 character) {
    return (i64)position < length && text[position] == character;
}

}  // namespace

AddressRecord parseIpAddress(const u8* text, u64* position, i64 length) {
    AddressRecord none{};
    AddressRecord record{};
    i64 cursor = (i64)*position;
    if (nextIs(text, (u64)cursor, length, '[')) {
        cursor++;
        for (i32 group = 0; group < 8; group++) {
            i64 value = parseHex(text, &cursor, length, 0);
            if (value < 0 || value > 0xFFFF) {
                *position = (u64)cursor;
                return none;
            }
            record.address[group * 2] = (u8)(value >> 8);
            record.address[group * 2 + 1] = (u8)(value & 0xFF);
            u8 separator = group < 7 ? ':' : ']';
            if (!nextIs(text, (u64)cursor, length, separator)) {
                *position = (u64)cursor;
                return none;
            }
            cursor++;
        }
        record.family = 6;
    } else {
        for (i32 part = 0; part < 4; part++) {
            i64 value = parseInteger(text, &cursor, length, 0);
            // Each part is one byte: a negative or larger number is not an address.
            if (value < 0 || value > 255) {
                *position = (u64)cursor;
                return none;
            }
            record.address[part] = (u8)value;
            if (part < 3) {
                if (!nextIs(text, (u64)cursor, length, '.')) {
                    *position = (u64)cursor;
                    return none;
                }
                cursor++;
            }
        }
        record.family = 4;
    }
    if (nextIs(text, (u64)cursor, length, ':')) {
        cursor++;
        i64 port = parseInteger(text, &cursor, length, 0);
        if (port < 0 || port > 65535) {
            *position = (u64)cursor;
            return none;
        }
        record.port = (u16)port;
    }
    *position = (u64)cursor;
    return record;
}

namespace {

ParsedUrl refusedUrl(const FixedString* scheme, const char* message) {
    ParsedUrl refused{};
    refused.scheme = *scheme;
    refused.message = makeString(message);
    return refused;
}

}  // namespace

ParsedUrl parseUrl(const ByteWriter* url) {
    ParsedUrl result{};
    const u8* text = url->data;
    i64 end = url->length;
    i64 position = 0;
    readUntilCodepoint(&result.scheme, ':', text, &position, end);
    for (i32 i = 0; i < 2; i++) {
        if (readCodepoint(text, &position, end) != '/') {
            return result;
        }
    }
    // User information ends at an "@" before the path; it is never read as part of the host.
    for (i64 at = position; at < end && text[at] != '/' && text[at] != '?' && text[at] != '#'; at++) {
        if (text[at] == '@') {
            return refusedUrl(&result.scheme, "URLs with a user name or password are not supported");
        }
    }
    // The host runs to the first "/" or ":", the end, or a malformed sequence.
    u8 hostBytes[256];
    ByteWriter host = makeByteWriter(hostBytes, sizeof(hostBytes));
    i32 delimiter = kUtf8End;
    i64 delimiterAt = position;  // where the delimiter's bytes begin
    for (;;) {
        delimiterAt = position;
        i32 codepoint = readCodepoint(text, &position, end);
        if (codepoint < 0 || codepoint == '/' || codepoint == ':') {
            delimiter = codepoint;
            break;
        }
        appendCodepoint(codepoint, &host);
    }
    result.host = stringFromUtf8Bytes(&host);
    if (delimiter == ':') {
        // Decimal digits only, up to the path or the end; an empty port is the scheme's own.
        i64 port = 0;
        i64 digits = 0;
        while (position < end && text[position] >= '0' && text[position] <= '9') {
            port = port * 10 + (text[position] - '0');
            if (port > 65535) {
                break;
            }
            position++;
            digits++;
        }
        bool ends = position == end || text[position] == '/';
        if (!ends || (digits > 0 && port == 0) || port > 65535) {
            return refusedUrl(&result.scheme, "The port of a URL must be a number from 1 to 65535");
        }
        result.port = (u16)port;
        delimiterAt = position;
        delimiter = readCodepoint(text, &position, end);
    }
    if (delimiter == '/') {
        // The path starts with the "/" byte itself; a "/" read from any longer sequence is no separator.
        if (text[delimiterAt] != '/') {
            return refusedUrl(&result.scheme, "The URL is not well-formed UTF-8");
        }
        result.path.length = end - delimiterAt;
        result.path.capacity = result.path.length;
        result.path.data = url->data + delimiterAt;
    }
    return result;
}

FixedString socketErrorString(i32 code) {
    switch (code) {
    case 6: return makeString("Handle is invalid");
    case 8: return makeString("Not enough memory");
    case 87: return makeString("Invalid parameter");
    case 995: return makeString("Overlapped operation aborted");
    case 10013: return makeString("Permission denied. Try running in adminstrator mode.");
    case 10014: return makeString("Bad memory address or buffer too small");
    case 10022: return makeString("Invalid argument");
    case 10035: return makeString("In progress");
    case 10037: return makeString("In progress");
    case 10038: return makeString("Handle is not a socket");
    case 10042: return makeString("Option is invalid for this protocol");
    case 10048: return makeString("Port already in use");
    case 10049: return makeString("Binding address not available.");
    case 10051: return makeString("Network is unreachable.");
    case 10053: return makeString("Connection aborted by this program");
    case 10054: return makeString("Connection closed by remote host");
    case 10056: return makeString("Already connected");
    case 10061: return makeString("Connection refused");
    case 10065: return makeString("No route to host.");
    case 10093: return makeString("WSAStartup not called");
    default: return formatInt("Unrecognized error code (@)", code);
    }
}
