# A scripted DNS server on 127.0.0.1 for the DNS client tests, built on dnslib. Driven over stdin:
#   port          -> the UDP port it answers on
#   count NAME    -> how many queries for NAME arrived (letter case ignored)
#   last NAME     -> "<id> <qname as received>" of the last query for NAME, or "none"
#   ports NAME    -> the source ports of the queries for NAME, in order, space-separated
#   enable NAME   -> "ok"; from now on later.test or silent.test is answered with 127.0.0.9
#   quit
# Names and what they get:
#   tiles.test A 127.0.0.1 (AAAA ::1); multi.test two A records; v6only.test an AAAA answer only
#   alias.test -> CNAME alias2.test -> CNAME tiles.test, the records in reverse order
#   nx.test NXDOMAIN; nodata.test NOERROR without answers; servfail.test SERVFAIL
#   wrongid.test the right answer under another transaction id
#   wrongsource.test the right answer from another port
#   badlength.test an A record whose RDLENGTH is 5
#   otherquestion.test an answer for tiles.test under the right id
#   other.test an answer for other.test whose answer record names tiles.test
#   upper.test the question echoed in upper case, then the answer
#   truncated.test a TC reply without a question, as dnslib sends for oversize answers
#   later.test NXDOMAIN until enabled; silent.test no reply at all until enabled
#   slow.test the answer to its Nth query, 127.0.1.N, only once the next query has arrived, right
#             after an answer with 127.0.2.N under an id that no query carried
import socket, struct, sys, threading
from dnslib import DNSRecord, DNSHeader, DNSQuestion, RR, QTYPE, RCODE, A, AAAA, CNAME

main = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
main.bind(("127.0.0.1", 0))
other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
other.bind(("127.0.0.1", 0))
counts = {}
last = {}
ports = {}
enabled = set()
slow = {"held": None, "ids": set()}
wrong_ids = set()
lock = threading.Lock()

def answer(request, name):
    reply = request.reply()
    q = request.q
    if name == "tiles.test.":
        reply.add_answer(RR(q.qname, QTYPE.A, ttl=60, rdata=A("127.0.0.1")))
    elif name == "multi.test.":
        reply.add_answer(RR(q.qname, QTYPE.A, ttl=60, rdata=A("127.0.0.10")))
        reply.add_answer(RR(q.qname, QTYPE.A, ttl=60, rdata=A("127.0.0.11")))
    elif name == "v6only.test.":
        reply.add_answer(RR(q.qname, QTYPE.AAAA, ttl=60, rdata=AAAA("::1")))
    elif name == "alias.test.":
        reply.add_answer(RR("tiles.test.", QTYPE.A, ttl=60, rdata=A("127.0.0.3")))
        reply.add_answer(RR("alias2.test.", QTYPE.CNAME, ttl=60, rdata=CNAME("tiles.test.")))
        reply.add_answer(RR(q.qname, QTYPE.CNAME, ttl=60, rdata=CNAME("alias2.test.")))
    elif name == "nx.test.":
        reply.header.rcode = RCODE.NXDOMAIN
    elif name == "nodata.test.":
        pass
    elif name == "servfail.test.":
        reply.header.rcode = RCODE.SERVFAIL
    elif name in ("wrongid.test.", "wrongsource.test."):
        reply.add_answer(RR(q.qname, QTYPE.A, ttl=60, rdata=A("127.0.0.4")))
        if name == "wrongid.test.":
            # An id next to the query's that none of the lookup's queries carried: the client still
            # hears its earlier queries.
            wrong_ids.add(request.header.id)
            wrong = (request.header.id + 1) & 0xFFFF
            while wrong in wrong_ids:
                wrong = (wrong + 1) & 0xFFFF
            reply.header.id = wrong
    elif name == "badlength.test.":
        reply.add_answer(RR(q.qname, QTYPE.A, ttl=60, rdata=A("127.0.0.5")))
        data = bytearray(reply.pack())
        # The RDLENGTH of the only answer, then one stray byte of data.
        data[-6:-4] = struct.pack(">H", 5)
        return bytes(data) + b"\x00"
    elif name == "otherquestion.test.":
        reply = DNSRecord(DNSHeader(id=request.header.id, qr=1, aa=1, ra=1), q=DNSQuestion("tiles.test."))
        reply.add_answer(RR("tiles.test.", QTYPE.A, ttl=60, rdata=A("127.0.0.6")))
    elif name == "other.test.":
        reply.add_answer(RR("tiles.test.", QTYPE.A, ttl=60, rdata=A("127.0.0.7")))
    elif name == "upper.test.":
        reply = DNSRecord(DNSHeader(id=request.header.id, qr=1, aa=1, ra=1), q=DNSQuestion("UPPER.TEST."))
        reply.add_answer(RR("Upper.Test.", QTYPE.A, ttl=60, rdata=A("127.0.0.8")))
    elif name in ("later.test.", "silent.test.") and name in enabled:
        reply.add_answer(RR(q.qname, QTYPE.A, ttl=60, rdata=A("127.0.0.9")))
    elif name == "silent.test.":
        return None
    elif name == "truncated.test.":
        return DNSRecord(DNSHeader(id=request.header.id, qr=1, aa=1, ra=1, tc=1)).pack()
    else:
        reply.header.rcode = RCODE.NXDOMAIN
    return reply.pack()

def answer_late(request, source, number):
    slow["ids"].add(request.header.id)
    if slow["held"]:
        earlier, to, n = slow["held"]
        forged = earlier.reply()
        forged.header.id = min(set(range(65536)) - slow["ids"])
        forged.add_answer(RR(earlier.q.qname, QTYPE.A, ttl=60, rdata=A("127.0.2.%d" % n)))
        main.sendto(forged.pack(), to)
        reply = earlier.reply()
        reply.add_answer(RR(earlier.q.qname, QTYPE.A, ttl=60, rdata=A("127.0.1.%d" % n)))
        main.sendto(reply.pack(), to)
    slow["held"] = (request, source, number)

def serve():
    while True:
        data, source = main.recvfrom(4096)
        try:
            request = DNSRecord.parse(data)
        except Exception:
            continue
        received = str(request.q.qname)
        name = received.lower()
        with lock:
            counts[name] = counts.get(name, 0) + 1
            last[name] = "%d %s" % (request.header.id, received)
            ports.setdefault(name, []).append(str(source[1]))
            if name == "slow.test.":
                answer_late(request, source, counts[name])
                continue
            out = answer(request, name)
        if out is None:
            continue
        (other if name == "wrongsource.test." else main).sendto(out, source)

threading.Thread(target=serve, daemon=True).start()
for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    if words[0] == "quit":
        break
    with lock:
        if words[0] == "port":
            print(main.getsockname()[1], flush=True)
        elif words[0] == "count":
            print(counts.get(words[1].lower().rstrip(".") + ".", 0), flush=True)
        elif words[0] == "last":
            print(last.get(words[1].lower().rstrip(".") + ".", "none"), flush=True)
        elif words[0] == "ports":
            print(" ".join(ports.get(words[1].lower().rstrip(".") + ".", [])), flush=True)
        elif words[0] == "enable":
            enabled.add(words[1].lower().rstrip(".") + ".")
            print("ok", flush=True)
        else:
            print("unknown", flush=True)
