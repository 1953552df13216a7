# Loopback peer for the socket tests, driven line by line over stdin; each command answers one line.
#   udp 4|6                  -> "<id> <port>"   a UDP socket on 127.0.0.1 or ::1
#   listen 4|6 [rcvbuf]      -> "<id> <port>"   a TCP listener (backlog 8)
#   connect 4|6 PORT         -> "<id> <port>"   a TCP connection, blocking until made
#   accept ID                -> "<id> <port>"   the next connection of a listener
#   sendto ID PORT HEX       -> "ok"            one datagram to the loopback address of ID's family
#   send ID HEX              -> "ok"            bytes on a TCP connection
#   recvfrom ID              -> "<port> <hex>"  one datagram, or "timeout"
#   recv ID N                -> "<hex>" exactly N bytes, "closed <hex>" when the peer closed first, or "timeout"
#   pattern ID N             -> "ok" when N bytes follow the pattern of the large-send test, else "bad <offset>"
#   reset ID                 -> "ok"            close with an immediate reset
#   close ID                 -> "ok"
import socket, struct, sys

sockets = {}
next_id = [1]

def loopback(family):
    return "127.0.0.1" if family == "4" else "::1"

def family_of(family):
    return socket.AF_INET if family == "4" else socket.AF_INET6

def keep(s):
    i = next_id[0]
    next_id[0] += 1
    s.settimeout(5.0)
    sockets[i] = s
    return i

def recv_exactly(s, n):
    data = b""
    while len(data) < n:
        try:
            chunk = s.recv(min(65536, n - len(data)))
        except socket.timeout:
            return None, data
        if not chunk:
            return False, data
        data += chunk
    return True, data

def handle(words):
    cmd = words[0]
    if cmd == "udp":
        s = socket.socket(family_of(words[1]), socket.SOCK_DGRAM)
        s.bind((loopback(words[1]), 0))
        return "%d %d" % (keep(s), s.getsockname()[1])
    if cmd == "listen":
        s = socket.socket(family_of(words[1]), socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if len(words) > 2:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, int(words[2]))
        s.bind((loopback(words[1]), 0))
        s.listen(8)
        return "%d %d" % (keep(s), s.getsockname()[1])
    if cmd == "connect":
        s = socket.socket(family_of(words[1]), socket.SOCK_STREAM)
        s.settimeout(5.0)
        s.connect((loopback(words[1]), int(words[2])))
        return "%d %d" % (keep(s), s.getsockname()[1])
    if cmd == "accept":
        try:
            c, address = sockets[int(words[1])].accept()
        except socket.timeout:
            return "timeout"
        return "%d %d" % (keep(c), address[1])
    if cmd == "sendto":
        s = sockets[int(words[1])]
        family = "4" if s.family == socket.AF_INET else "6"
        s.sendto(bytes.fromhex(words[3]) if len(words) > 3 else b"", (loopback(family), int(words[2])))
        return "ok"
    if cmd == "send":
        sockets[int(words[1])].sendall(bytes.fromhex(words[2]))
        return "ok"
    if cmd == "recvfrom":
        try:
            data, address = sockets[int(words[1])].recvfrom(65536)
        except socket.timeout:
            return "timeout"
        return "%d %s" % (address[1], data.hex() or "-")
    if cmd == "recv":
        complete, data = recv_exactly(sockets[int(words[1])], int(words[2]))
        if complete is None:
            return "timeout"
        return data.hex() if complete else "closed " + (data.hex() or "-")
    if cmd == "pattern":
        n = int(words[2])
        complete, data = recv_exactly(sockets[int(words[1])], n)
        if not complete:
            return "short %d" % len(data)
        for i in range(n):
            if data[i] != (i * 7 + i // 6000) & 0xFF:
                return "bad %d" % i
        return "ok"
    if cmd == "reset":
        s = sockets.pop(int(words[1]))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
        return "ok"
    if cmd == "close":
        sockets.pop(int(words[1])).close()
        return "ok"
    return "unknown " + cmd

for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    if words[0] == "quit":
        break
    try:
        answer = handle(words)
    except Exception as error:
        answer = "error %s" % error
    sys.stdout.write(answer + "\n")
    sys.stdout.flush()
