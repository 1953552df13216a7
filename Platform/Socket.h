// Non-blocking sockets of the operating system behind a small interface of our own. Addresses are
// 28-byte buffers in the Winsock layout (see Network/Address.h: family 2 or 23 in host order, port
// in network order); every failure is returned as a Winsock error code, 0 on success.
#pragma once
#include "Core/Types.h"

enum PlatformSocketType : u32 {
    PlatformSocketDatagram = 0,  // UDP
    PlatformSocketStream = 1,    // TCP
    PlatformSocketRaw = 2,       // raw IP carrying UDP; the caller writes the IP header
};

// The Winsock codes this layer reports.
constexpr i32 kSocketErrorInvalidHandle = 6;
constexpr i32 kSocketErrorNoMemory = 8;
constexpr i32 kSocketErrorAccess = 10013;
constexpr i32 kSocketErrorFault = 10014;
constexpr i32 kSocketErrorInvalid = 10022;
constexpr i32 kSocketErrorTooManyOpen = 10024;
constexpr i32 kSocketErrorWouldBlock = 10035;
constexpr i32 kSocketErrorAlready = 10037;
constexpr i32 kSocketErrorNotSocket = 10038;
constexpr i32 kSocketErrorMessageSize = 10040;
constexpr i32 kSocketErrorNoProtocolOption = 10042;
constexpr i32 kSocketErrorProtocolNotSupported = 10043;
constexpr i32 kSocketErrorNotSupported = 10045;
constexpr i32 kSocketErrorFamilyNotSupported = 10047;
constexpr i32 kSocketErrorAddressInUse = 10048;
constexpr i32 kSocketErrorAddressNotAvailable = 10049;
constexpr i32 kSocketErrorNetworkDown = 10050;
constexpr i32 kSocketErrorNetworkUnreachable = 10051;
constexpr i32 kSocketErrorConnectionAborted = 10053;
constexpr i32 kSocketErrorConnectionReset = 10054;
constexpr i32 kSocketErrorIsConnected = 10056;
constexpr i32 kSocketErrorNotConnected = 10057;
constexpr i32 kSocketErrorTimedOut = 10060;
constexpr i32 kSocketErrorConnectionRefused = 10061;
constexpr i32 kSocketErrorHostDown = 10064;
constexpr i32 kSocketErrorHostUnreachable = 10065;
// System errors with no Winsock counterpart are reported as this base plus the system's number.
constexpr i32 kSocketErrorUnmappedBase = 20000;

i32 socketErrorFromErrno(i32 systemError);

// family 4 or 6. On success *handle is the new socket.
i32 platformSocketOpen(u8 family, u32 type, i32* handle);
i32 platformSocketSetNonBlocking(i32 handle);
i32 platformSocketSetReceiveBuffer(i32 handle, i32 bytes);
// The receive buffer the system granted, in the bytes of data it holds (what a set asks for).
i32 platformSocketReceiveBufferSize(i32 handle, i32* bytes);
// Datagrams the system dropped for the socket since it was made (its receive queue was full): 0 when
// the system does not tell.
u64 platformSocketDroppedDatagrams(i32 handle);
i32 platformSocketSetHeaderIncluded(i32 handle, u8 family);
i32 platformSocketSetBroadcast(i32 handle);
i32 platformSocketBind(i32 handle, const u8* address28);
i32 platformSocketLocalPort(i32 handle, u16* port);
i32 platformSocketListen(i32 handle, i32 backlog);
// No connection waiting: kSocketErrorWouldBlock. The new handle is not yet non-blocking.
i32 platformSocketAccept(i32 listenHandle, i32* handle, u8* peerAddress28);
// In progress: kSocketErrorWouldBlock on the first call, kSocketErrorAlready after; connected:
// 0 on the call that completes it, kSocketErrorIsConnected after. A failed attempt is reported
// once, and the next call starts a new attempt.
i32 platformSocketConnect(i32 handle, const u8* address28);
// Sends what the system takes now (*sent may be less than length on a stream). address28 null:
// the connected peer. Never raises SIGPIPE.
i32 platformSocketSend(i32 handle, const u8* data, u32 length, const u8* address28, u32* sent);
// Nothing waiting: kSocketErrorWouldBlock. A stream whose peer closed gives 0 and *received 0. A
// datagram larger than capacity is taken and given up: kSocketErrorMessageSize.
i32 platformSocketReceive(i32 handle, u8* buffer, u32 capacity, u8* sourceAddress28, u32* received);
void platformSocketClose(i32 handle);

// Test support: the next call of the given operation fails with the code, without reaching the
// system. Operations are numbered as below.
enum PlatformSocketOperation : u32 {
    PlatformSocketOpOpen = 0,
    PlatformSocketOpNonBlocking,
    PlatformSocketOpReceiveBuffer,
    PlatformSocketOpHeaderIncluded,
    PlatformSocketOpBroadcast,
    PlatformSocketOpBind,
    PlatformSocketOpLocalPort,
    PlatformSocketOpListen,
    PlatformSocketOpAccept,
    PlatformSocketOpConnect,
    PlatformSocketOpSend,
    PlatformSocketOpReceive,
    PlatformSocketOpCount,
};
void injectSocketFailure(u32 operation, i32 code);
void clearInjectedSocketFailures();
