#include "Platform/Socket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#ifndef IPV6_HDRINCL
#define IPV6_HDRINCL 36
#endif

namespace {

i32 injectedFailures[PlatformSocketOpCount];

bool takeInjectedFailure(u32 operation, i32* code) {
    if (injectedFailures[operation] == 0) {
        return false;
    }
    *code = injectedFailures[operation];
    injectedFailures[operation] = 0;
    return true;
}

i32 lastError() { return socketErrorFromErrno(errno); }

// Winsock-layout buffer to the system's socket address.
socklen_t toSystemAddress(const u8* address28, sockaddr_storage* out) {
    std::memset(out, 0, sizeof(*out));
    u16 family = (u16)(address28[0] | (address28[1] << 8));
    if (family == 2) {
        sockaddr_in* in = (sockaddr_in*)out;
        in->sin_family = AF_INET;
        std::memcpy(&in->sin_port, address28 + 2, 2);
        std::memcpy(&in->sin_addr, address28 + 4, 4);
        return sizeof(sockaddr_in);
    }
    sockaddr_in6* in6 = (sockaddr_in6*)out;
    in6->sin6_family = AF_INET6;
    std::memcpy(&in6->sin6_port, address28 + 2, 2);
    std::memcpy(&in6->sin6_flowinfo, address28 + 4, 4);
    std::memcpy(&in6->sin6_addr, address28 + 8, 16);
    std::memcpy(&in6->sin6_scope_id, address28 + 24, 4);
    return sizeof(sockaddr_in6);
}

void fromSystemAddress(const sockaddr_storage* address, u8* out28) {
    std::memset(out28, 0, 28);
    if (address->ss_family == AF_INET) {
        const sockaddr_in* in = (const sockaddr_in*)address;
        out28[0] = 2;
        std::memcpy(out28 + 2, &in->sin_port, 2);
        std::memcpy(out28 + 4, &in->sin_addr, 4);
    } else if (address->ss_family == AF_INET6) {
        const sockaddr_in6* in6 = (const sockaddr_in6*)address;
        out28[0] = 23;
        std::memcpy(out28 + 2, &in6->sin6_port, 2);
        std::memcpy(out28 + 4, &in6->sin6_flowinfo, 4);
        std::memcpy(out28 + 8, &in6->sin6_addr, 16);
        std::memcpy(out28 + 24, &in6->sin6_scope_id, 4);
    }
}

i32 setIntOption(i32 handle, int level, int name, int value) {
    if (setsockopt(handle, level, name, &value, sizeof(value)) != 0) {
        return lastError();
    }
    return 0;
}

}  // namespace

i32 socketErrorFromErrno(i32 systemError) {
    switch (systemError) {
    case 0: return 0;
    case EBADF: return kSocketErrorInvalidHandle;
    case ENOMEM:
    case ENOBUFS: return kSocketErrorNoMemory;
    case EACCES:
    case EPERM: return kSocketErrorAccess;
    case EFAULT: return kSocketErrorFault;
    case EINVAL: return kSocketErrorInvalid;
    case EMFILE:
    case ENFILE: return kSocketErrorTooManyOpen;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return kSocketErrorWouldBlock;
    case EALREADY: return kSocketErrorAlready;
    case ENOTSOCK: return kSocketErrorNotSocket;
    case EMSGSIZE: return kSocketErrorMessageSize;
    case ENOPROTOOPT: return kSocketErrorNoProtocolOption;
    case EPROTONOSUPPORT: return kSocketErrorProtocolNotSupported;
    case EOPNOTSUPP: return kSocketErrorNotSupported;
    case EAFNOSUPPORT: return kSocketErrorFamilyNotSupported;
    case EADDRINUSE: return kSocketErrorAddressInUse;
    case EADDRNOTAVAIL: return kSocketErrorAddressNotAvailable;
    case ENETDOWN: return kSocketErrorNetworkDown;
    case ENETUNREACH: return kSocketErrorNetworkUnreachable;
    case ECONNABORTED: return kSocketErrorConnectionAborted;
    case ECONNRESET:
    case EPIPE: return kSocketErrorConnectionReset;
    case EISCONN: return kSocketErrorIsConnected;
    case ENOTCONN: return kSocketErrorNotConnected;
    case ETIMEDOUT: return kSocketErrorTimedOut;
    case ECONNREFUSED: return kSocketErrorConnectionRefused;
    case EHOSTDOWN: return kSocketErrorHostDown;
    case EHOSTUNREACH: return kSocketErrorHostUnreachable;
    default: return kSocketErrorUnmappedBase + systemError;
    }
}

i32 platformSocketOpen(u8 family, u32 type, i32* handle) {
    i32 code = 0;
    *handle = -1;
    if (takeInjectedFailure(PlatformSocketOpOpen, &code)) {
        return code;
    }
    int domain = family == 6 ? AF_INET6 : AF_INET;
    int kind = SOCK_DGRAM;
    int protocol = IPPROTO_UDP;
    if (type == PlatformSocketStream) {
        kind = SOCK_STREAM;
        protocol = IPPROTO_TCP;
    } else if (type == PlatformSocketRaw) {
        kind = SOCK_RAW;
    }
    int result = socket(domain, kind | SOCK_CLOEXEC, protocol);
    if (result < 0) {
        return lastError();
    }
    if (family == 6) {
        // An IPv6 socket serves IPv6 only, as it does on the other platform by default.
        int one = 1;
        setsockopt(result, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one));
    }
    *handle = result;
    return 0;
}

i32 platformSocketSetNonBlocking(i32 handle) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpNonBlocking, &code)) {
        return code;
    }
    int flags = fcntl(handle, F_GETFL, 0);
    if (flags < 0 || fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0) {
        return lastError();
    }
    return 0;
}

i32 platformSocketSetReceiveBuffer(i32 handle, i32 bytes) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpReceiveBuffer, &code)) {
        return code;
    }
    return setIntOption(handle, SOL_SOCKET, SO_RCVBUF, bytes);
}

i32 platformSocketReceiveBufferSize(i32 handle, i32* bytes) {
    int value = 0;
    socklen_t size = sizeof(value);
    if (getsockopt(handle, SOL_SOCKET, SO_RCVBUF, &value, &size) != 0) {
        *bytes = 0;
        return lastError();
    }
    // Linux reports twice the size asked for: the other half is its own bookkeeping.
    *bytes = value / 2;
    return 0;
}

u64 platformSocketDroppedDatagrams(i32 handle) {
    u32 memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof(memory);
    if (handle < 0 || getsockopt(handle, SOL_SOCKET, SO_MEMINFO, memory, &size) != 0 ||
        size < (socklen_t)((SK_MEMINFO_DROPS + 1) * sizeof(u32))) {
        return 0;
    }
    return memory[SK_MEMINFO_DROPS];
}

i32 platformSocketSetHeaderIncluded(i32 handle, u8 family) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpHeaderIncluded, &code)) {
        return code;
    }
    if (family == 4) {
        return setIntOption(handle, IPPROTO_IP, IP_HDRINCL, 1);
    }
    return setIntOption(handle, IPPROTO_IPV6, IPV6_HDRINCL, 1);
}

i32 platformSocketSetBroadcast(i32 handle) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpBroadcast, &code)) {
        return code;
    }
    return setIntOption(handle, SOL_SOCKET, SO_BROADCAST, 1);
}

i32 platformSocketBind(i32 handle, const u8* address28) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpBind, &code)) {
        return code;
    }
    sockaddr_storage address;
    socklen_t length = toSystemAddress(address28, &address);
    if (bind(handle, (const sockaddr*)&address, length) != 0) {
        return lastError();
    }
    return 0;
}

i32 platformSocketLocalPort(i32 handle, u16* port) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpLocalPort, &code)) {
        return code;
    }
    sockaddr_storage address;
    socklen_t length = sizeof(address);
    std::memset(&address, 0, sizeof(address));
    if (getsockname(handle, (sockaddr*)&address, &length) != 0) {
        return lastError();
    }
    u8 buffer[28];
    fromSystemAddress(&address, buffer);
    *port = (u16)((buffer[2] << 8) | buffer[3]);
    return 0;
}

i32 platformSocketListen(i32 handle, i32 backlog) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpListen, &code)) {
        return code;
    }
    if (listen(handle, backlog) != 0) {
        return lastError();
    }
    return 0;
}

i32 platformSocketAccept(i32 listenHandle, i32* handle, u8* peerAddress28) {
    i32 code = 0;
    *handle = -1;
    if (takeInjectedFailure(PlatformSocketOpAccept, &code)) {
        return code;
    }
    sockaddr_storage address;
    socklen_t length = sizeof(address);
    std::memset(&address, 0, sizeof(address));
    int result = accept4(listenHandle, (sockaddr*)&address, &length, SOCK_CLOEXEC);
    if (result < 0) {
        return lastError();
    }
    fromSystemAddress(&address, peerAddress28);
    *handle = result;
    return 0;
}

i32 platformSocketConnect(i32 handle, const u8* address28) {
    i32 code = 0;
    if (takeInjectedFailure(PlatformSocketOpConnect, &code)) {
        return code;
    }
    sockaddr_storage address;
    socklen_t length = toSystemAddress(address28, &address);
    if (connect(handle, (const sockaddr*)&address, length) != 0) {
        return lastError();
    }
    return 0;
}

i32 platformSocketSend(i32 handle, const u8* data, u32 length, const u8* address28, u32* sent) {
    i32 code = 0;
    *sent = 0;
    if (takeInjectedFailure(PlatformSocketOpSend, &code)) {
        return code;
    }
    sockaddr_storage address;
    socklen_t addressLength = 0;
    if (address28) {
        addressLength = toSystemAddress(address28, &address);
    }
    ssize_t result = sendto(handle, data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
                            address28 ? (const sockaddr*)&address : nullptr, addressLength);
    if (result < 0) {
        return lastError();
    }
    *sent = (u32)result;
    return 0;
}

i32 platformSocketReceive(i32 handle, u8* buffer, u32 capacity, u8* sourceAddress28, u32* received) {
    i32 code = 0;
    *received = 0;
    if (takeInjectedFailure(PlatformSocketOpReceive, &code)) {
        return code;
    }
    sockaddr_storage address;
    std::memset(&address, 0, sizeof(address));
    iovec part{buffer, capacity};
    msghdr header{};
    header.msg_name = &address;
    header.msg_namelen = sizeof(address);
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    ssize_t result = recvmsg(handle, &header, MSG_DONTWAIT);
    if (result < 0) {
        return lastError();
    }
    if (header.msg_flags & MSG_TRUNC) {
        return kSocketErrorMessageSize;  // the datagram did not fit; its cut-off head is not the packet
    }
    fromSystemAddress(&address, sourceAddress28);
    *received = (u32)result;
    return 0;
}

void platformSocketClose(i32 handle) {
    if (handle >= 0) {
        close(handle);
    }
}

void injectSocketFailure(u32 operation, i32 code) {
    if (operation < PlatformSocketOpCount) {
        injectedFailures[operation] = code;
    }
}

void clearInjectedSocketFailures() {
    for (i32& failure : injectedFailures) {
        failure = 0;
    }
}
