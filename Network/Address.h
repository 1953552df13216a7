// Network endpoints as plain values: the address record, its socket-address form, its text forms,
// the URL splitter and the socket error texts shown in every network status line.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"


struct ParsedUrl {
    FixedString scheme;
    FixedString host;
    ByteWriter path;  // view into the URL text from the "/" after the host (or port) to its end; length 0 when absent
    u16 port;         // 0 when absent
    FixedString message;  // why the URL was refused (then host, path and port are empty); empty when read
};

// Socket-address buffers use the Winsock layout: a 16-bit family (2 IPv4, 23 IPv6) in host order,
// the port in network order, then the IPv4 address, or flow information, 16 address bytes and a
// scope id for IPv6.
constexpr i32 kSockaddrSize = 28;
constexpr u16 kSockaddrFamilyIpv4 = 2;
constexpr u16 kSockaddrFamilyIpv6 = 23;

AddressRecord makeAddressRecord(u8 family, const u8* bytes, u16 port);
void makeSockaddr(u8* out28, u8 family, const u8* bytes, u16 port);
// The record of a Winsock-layout buffer, read as the given family (4: IPv4 bytes, else IPv6).
AddressRecord addressFromSockaddr(const u8* sockaddr28, u8 family);

// Same port, family and address (IPv4 compares four bytes, every other family sixteen).
bool sameEndpoint(const AddressRecord* a, const AddressRecord* b);
// Same family and address; the port is not compared.
bool sameAddress(const AddressRecord* a, const AddressRecord* b);

void appendIpAddress(const AddressRecord* record, ByteWriter* writer);
FixedString endpointString(const AddressRecord* record);
FixedString addressString(const AddressRecord* record);

// Reads "a.b.c.d[:port]" or "[h:h:h:h:h:h:h:h][:port]" at *position and advances over what it read.
// A malformed address, an IPv4 part outside 0-255 or a port above 65,535 gives family 0.
AddressRecord parseIpAddress(const u8* text, u64* position, i64 length);

// Splits "scheme://host[:port][/path]". A URL with user information ("user@host") or a port that is
// not a number from 1 to 65,535 is refused with a message.
ParsedUrl parseUrl(const ByteWriter* url);

// Codes are Winsock or system error codes; the platform layer maps its own errors onto them.
FixedString socketErrorString(i32 code);
