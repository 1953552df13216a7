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

def unread_by_client(ours, theirs):
    """The bytes waiting unread in the client's socket (from its port `theirs` to ours), as the kernel's
    table of TCP sockets lists them; None once its end is no longer connected."""
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            local, remote = int(fields[1].split(":")[1], 16), int(fields[2].split(":")[1], 16)
            if (local, remote) == (theirs, ours) and fields[3] == "01":  # established
                return int(fields[4].split(":")[1], 16)
    return None

def read_by_client(connection):
    """Returns once the client has read everything sent on the connection so far (none of it is left
    unacknowledged here, so it all reached the client's socket, and none is left unread there), or
    once the client's end is gone."""
    ours, theirs = connection.getsockname()[1], connection.getpeername()[1]
    while True:
        unacknowledged = struct.unpack("i", fcntl.ioctl(connection.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
        unread = unread_by_client(ours, theirs)  # after the count above, so it covers those bytes
        if unread is None or (unacknowledged == 0 and unread == 0):
            return
        time.sleep(0.001)

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
