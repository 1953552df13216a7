# A small HTTPS server on 127.0.0.1 with hand-made responses, for the HTTPS operation tests. It keeps
# connections open between requests unless a response says otherwise, and sends each response in
# the pieces listed, one TLS record per piece, each only once the client has read the one before:
# however late the client runs, no two pieces wait for it in its socket together. Driven over stdin:
#   start CERT KEY -> the port
#   connections    -> how many connections were accepted
#   quit
import fcntl, socket, ssl, struct, sys, termios, threading, time

connections = [0]
lock = threading.Lock()
BODY_26 = b"abcdefghijklmnopqrstuvwxyz"
BIG = bytes((i * 7 + i // 251) % 256 for i in range(70000))

def responses(path, request):
    """The pieces of the response and what to do after it: 'keep', 'close' (with close_notify) or
    'drop' (the socket closed without close_notify)."""
    if path == "/length":
        return [b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"], "keep"
    if path == "/idle-close":
        return [b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"], "idle-close"
    if path.startswith("/slow"):
        return [b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234", b"PAUSE", b"56789"], "keep"
    if path == "/stall":
        return [b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234", b"STALL"], "keep"
    if path == "/long-header":
        return [b"HTTP/1.1 200 OK\r\nX-Pad: " + b"p" * 9000 + b"\r\nContent-Length: %d\r\n\r\n" % len(BIG) + BIG], "keep"
    if path == "/huge-header":
        return [b"HTTP/1.1 200 OK\r\nX-Pad: " + b"p" * 12000 + b"\r\nContent-Length: 5\r\n\r\nhello"], "keep"
    if path == "/split":
        return [b"HTTP/1.1 2", b"00 OK\r\nCont", b"ent-Length: 5\r\n\r\nhe", b"llo"], "keep"
    if path == "/chunked":
        return [b"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nContent-Length: 99\r\n\r\n4\r\nWi",
                b"ki\r\n5;ext=1\r", b"\npedia\r\n1", b"a\r\n" + BODY_26 + b"\r", b"\n0\r\nX-Trailer: yes\r\n",
                b"X-Other: 1\r\n\r\n"], "keep"
    if path == "/chunked-empty":
        return [b"HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n0\r\n\r\n"], "keep"
    if path == "/until-close":
        return [b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", BIG[:20000], BIG[20000:40000]], "close"
    if path == "/until-drop":
        return [b"HTTP/1.0 200 OK\r\n\r\n", BIG[:3000]], "drop"
    if path == "/odd":
        return [b"HTTP/1.1 200 Fine Thanks\r\ncontent-length:5\r\nX-Empty:\r\n"
                b"LAST-MODIFIED: \t Wed, 21 Oct 2015 07:28:00 GMT \t\r\nContent-Lengthy: 7\r\n\r\nhelloEXTRA"], "keep"
    if path == "/bare-lf":
        return [b"HTTP/1.1 200 OK\nContent-Length:\t3\n\nabc"], "keep"
    if path == "/bad-chunk-size":
        return [b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"], "keep"
    if path == "/bad-chunk-end":
        return [b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXY\r\n0\r\n\r\n"], "keep"
    if path == "/bad-length":
        return [b"HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\nhello"], "keep"
    if path == "/not-found":
        return [b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"], "keep"
    if path == "/http10":
        return [b"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc"], "keep"
    if path == "/big":
        return [b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(BIG), BIG], "keep"
    if path == "/echo" or path.startswith("/echo/"):
        return [b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(request), request], "keep"
    return [b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"], "keep"

# The kernel's socket diagnostics over netlink: one exact look-up of a TCP socket by its addresses.
NETLINK_SOCK_DIAG, SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST, NLMSG_ERROR = 4, 20, 1, 2
TCP_ESTABLISHED = 1
LOOPBACK = socket.inet_aton("127.0.0.1") + bytes(12)

def unread_by_client(diagnostics, ours, theirs):
    """The bytes waiting unread in the client's socket (from its port `theirs` to ours), as the kernel
    tells of that one socket; None once its end is no longer connected. (Reading the whole table in
    /proc/net/tcp instead takes milliseconds, however few sockets it lists.)"""
    request = struct.pack("=BBBBI", socket.AF_INET, socket.IPPROTO_TCP, 0, 0, 0xFFFFFFFF)
    request += struct.pack(">HH", theirs, ours) + LOOPBACK + LOOPBACK + struct.pack("=III", 0, 0xFFFFFFFF, 0xFFFFFFFF)
    diagnostics.send(struct.pack("=IHHII", 16 + len(request), SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST, 1, 0) + request)
    answer = diagnostics.recv(65536)
    if struct.unpack_from("=H", answer, 4)[0] == NLMSG_ERROR:
        return None  # no such socket any more
    # After the message header: family, state, timer, retransmits, the socket's addresses (48 bytes),
    # expiry, then the receive queue.
    state, unread = answer[16 + 1], struct.unpack_from("=I", answer, 16 + 4 + 48 + 4)[0]
    return unread if state == TCP_ESTABLISHED else None

def read_by_client(connection):
    """Returns once the client has read everything sent on the connection so far (none of it is left
    unacknowledged here, so it all reached the client's socket, and none is left unread there), or
    once the client's end is gone. Nothing here hears of the client's reads, so it looks again after a
    pause that grows from 1 ms to 8 ms."""
    ours, theirs = connection.getsockname()[1], connection.getpeername()[1]
    pause = 0.001
    with socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, NETLINK_SOCK_DIAG) as diagnostics:
        while True:
            unacknowledged = struct.unpack("i", fcntl.ioctl(connection.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
            unread = unread_by_client(diagnostics, ours, theirs)  # after the count above, so it covers those bytes
            if unread is None or (unacknowledged == 0 and unread == 0):
                return
            time.sleep(pause)
            pause = min(pause * 2, 0.008)

def serve(connection):
    data = b""
    try:
        while True:
            while b"\r\n\r\n" not in data:
                chunk = connection.recv(65536)
                if not chunk:
                    return
                data += chunk
            end = data.index(b"\r\n\r\n") + 4
            request, data = data[:end], data[end:]
            path = request.split(b" ")[1].decode("latin-1")
            pieces, after = responses(path, request)
            for piece in pieces:
                if piece == b"PAUSE":
                    time.sleep(0.2)
                    continue
                if piece == b"STALL":
                    # The rest of the body never comes; the client gives up on its own.
                    while connection.recv(65536):
                        pass
                    return
                connection.sendall(piece)
                read_by_client(connection)
            if after == "close":
                connection.unwrap().close()
                return
            if after == "idle-close":
                # As a server whose keep-alive time ran out: the client is not told in time.
                time.sleep(0.1)
                connection.unwrap().close()
                return
            if after == "drop":
                connection.shutdown(socket.SHUT_RDWR)
                connection.close()
                return
    except (OSError, ssl.SSLError):
        pass
    finally:
        try:
            connection.close()
        except OSError:
            pass

def accept(listener):
    while True:
        try:
            raw, _ = listener.accept()
        except OSError:
            return
        with lock:
            connections[0] += 1
        def handshake(raw=raw):
            try:
                connection = context.wrap_socket(raw, server_side=True)
            except (OSError, ssl.SSLError):
                raw.close()
                return
            serve(connection)
        threading.Thread(target=handshake, daemon=True).start()

context = None
for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    if words[0] == "quit":
        break
    if words[0] == "start":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(words[1], words[2])
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        threading.Thread(target=accept, args=(listener,), daemon=True).start()
        print(listener.getsockname()[1], flush=True)
    elif words[0] == "connections":
        with lock:
            print(connections[0], flush=True)
    else:
        print("unknown", flush=True)
