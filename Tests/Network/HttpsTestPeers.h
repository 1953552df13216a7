// Peer processes for the DNS, HTTPS and download tests: scratch folders, free loopback ports,
// certificates, and servers (dnsmasq, nginx, Python scripts) started and stopped by the tests.
#pragma once
#include "Core/Types.h"
#include "Crypto/TrustStore.h"

#include <string>
#include <vector>

std::string makeScratchFolder(const char* prefix);
void removeFolder(const std::string& folder);
bool writeTextFile(const std::string& path, const std::string& content);
std::string readTextFile(const std::string& path);
bool runCommand(const std::string& command);

// Ports that were free a moment ago on 127.0.0.1.
u16 freeTcpPort();
u16 freeUdpPort();
bool waitForTcpPort(u16 port);
// Who listens on the TCP port of 127.0.0.1 (or of every IPv4 address), as the kernel's table of
// sockets and the process's open files tell: the process itself; another process, and then the
// process's bind failed or will fail; or neither yet (pending), while nobody listens or the process
// holds no socket. A port that answers is no sign of the server started for it: between freeTcpPort
// and the server's bind another test's server can take it.
enum PortHolder { PortHolderPending, PortHolderProcess, PortHolderOther };
PortHolder portHolder(int pid, u16 port);
// Sends a query for "ready.test" until the server answers anything (about five seconds at most).
bool waitForDnsServer(u16 port);

// A child process with its standard output and error in logPath, run in folder.
struct PeerProcess {
    int pid = -1;
    std::string log;
};
bool startPeerProcess(PeerProcess* peer, const std::vector<std::string>& arguments, const std::string& folder);
void stopPeerProcess(PeerProcess* peer);
bool isPeerRunning(PeerProcess* peer);
// Waits until the peer listens on the port itself (true), or has exited or lost the port to another
// process (false; see portHolder); within kPeerPatience however busy the machine.
bool waitForPeerListening(PeerProcess* peer, u16 port);

// ec.crt/ec.key (P-256) and rsa.crt/rsa.key for localhost, 127.0.0.1 and the tests' *.test names
// in folder. The two
// certificates become the trust anchors of testCertificateTrust().
bool makeTestCertificates(const std::string& folder);
// The trust store that TLS clients of these tests use: the certificates of the last
// makeTestCertificates.
const TrustStore* testCertificateTrust();

// dnsmasq on a free 127.0.0.1 port answering for "*.test" with the given options; *port receives the
// port. Tries another port when the first was taken meanwhile.
bool startDnsmasq(PeerProcess* peer, const std::string& folder, const std::vector<std::string>& options, u16* port);

// nginx serving folder/www over TLS on the port; /redirect answers 302, /moved 301, /forbidden 403.
// Its access log (folder/access.log) lists "<connection number> <request line> <status>".
// *port receives the port; another is tried when the first was taken meanwhile.
bool startNginx(PeerProcess* peer, const std::string& folder, u16* port);
