#include "HttpsTestPeers.h"

#include "Crypto/TestPki.h"
#include "NetworkTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

std::string makeScratchFolder(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    const char* made = mkdtemp(buffer.data());
    return made ? made : "";
}

void removeFolder(const std::string& folder) {
    if (folder.size() > 5 && folder.compare(0, 5, "/tmp/") == 0) {
        runCommand("rm -rf '" + folder + "'");
    }
}

bool writeTextFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    return (bool)file;
}

std::string readTextFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool runCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

namespace {

u16 freePort(int type) {
    int handle = socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(handle, (sockaddr*)&address, sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(handle, (sockaddr*)&address, &length);
    close(handle);
    return ntohs(address.sin_port);
}

sockaddr_in loopback(u16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

u16 freeTcpPort() { return freePort(SOCK_STREAM); }
u16 freeUdpPort() { return freePort(SOCK_DGRAM); }

bool waitForTcpPort(u16 port) {
    for (int i = 0; i < 500; i++) {
        int handle = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(port);
        bool connected = connect(handle, (sockaddr*)&address, sizeof(address)) == 0;
        close(handle);
        if (connected) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

PortHolder portHolder(int pid, u16 port) {
    // The inodes of the sockets the process holds open ("socket:[inode]"); none before it made one.
    std::vector<unsigned long> sockets;
    std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* files = opendir(folder.c_str())) {
        while (dirent* file = readdir(files)) {
            char link[64];
            ssize_t length = readlink((folder + "/" + file->d_name).c_str(), link, sizeof(link) - 1);
            if (length > 8 && strncmp(link, "socket:[", 8) == 0) {
                link[length] = 0;
                sockets.push_back(strtoul(link + 8, nullptr, 10));
            }
        }
        closedir(files);
    }
    if (sockets.empty()) {
        return PortHolderPending;
    }
    // Each line: slot, local address:port, remote address:port, state (0A listening), queues,
    // timer, retransmits, user, time-outs, inode; addresses as the hex of their network order.
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    PortHolder holder = PortHolderPending;
    while (std::getline(table, line)) {
        unsigned address = 0;
        unsigned localPort = 0;
        unsigned state = 0;
        unsigned long inode = 0;
        if (sscanf(line.c_str(), " %*u: %X:%X %*X:%*X %X %*X:%*X %*X:%*X %*X %*u %*u %lu", &address, &localPort,
                   &state, &inode) != 4) {
            continue;
        }
        bool reachable = address == htonl(INADDR_LOOPBACK) || address == htonl(INADDR_ANY);
        if (state != 0x0A || localPort != port || !reachable) {
            continue;
        }
        if (std::find(sockets.begin(), sockets.end(), inode) != sockets.end()) {
            return PortHolderProcess;
        }
        holder = PortHolderOther;
    }
    return holder;
}

bool waitForDnsServer(u16 port) {
    static const u8 query[] = {0x12, 0x34, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 5, 'r', 'e', 'a', 'd', 'y',
                               4,    't',  'e', 's', 't', 0, 0, 1, 0, 1};
    int handle = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = loopback(port);
    bool answered = false;
    for (int i = 0; i < 100 && !answered; i++) {
        sendto(handle, query, sizeof(query), 0, (sockaddr*)&address, sizeof(address));
        pollfd wait{handle, POLLIN, 0};
        if (poll(&wait, 1, 50) == 1) {
            u8 reply[512];
            answered = recv(handle, reply, sizeof(reply), 0) > 0;
        }
    }
    close(handle);
    return answered;
}

bool startPeerProcess(PeerProcess* peer, const std::vector<std::string>& arguments, const std::string& folder) {
    signal(SIGPIPE, SIG_IGN);
    peer->log = folder + "/peer-" + std::to_string(getpid()) + "-" + std::to_string(rand()) + ".log";
    peer->pid = fork();
    if (peer->pid == 0) {
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        int input = open("/dev/null", O_RDONLY);
        int log = open(peer->log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(input, 0);
        dup2(log, 1);
        dup2(log, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return peer->pid > 0;
}

void stopPeerProcess(PeerProcess* peer) {
    if (peer->pid > 0) {
        kill(peer->pid, SIGTERM);
        waitpid(peer->pid, nullptr, 0);
        peer->pid = -1;
    }
}

bool isPeerRunning(PeerProcess* peer) {
    if (peer->pid <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(peer->pid, &status, WNOHANG) == peer->pid) {
        peer->pid = -1;
        return false;
    }
    return true;
}

bool waitForPeerListening(PeerProcess* peer, u16 port) {
    for (u64 start = realMicroseconds(); withinPatience(start); waitBriefly()) {
        if (!isPeerRunning(peer)) {
            return false;
        }
        PortHolder holder = portHolder(peer->pid, port);
        if (holder != PortHolderPending) {
            return holder == PortHolderProcess;
        }
    }
    return false;
}

bool startDnsmasq(PeerProcess* peer, const std::string& folder, const std::vector<std::string>& options, u16* port) {
    for (int attempt = 0; attempt < 5; attempt++) {
        *port = freeUdpPort();
        std::vector<std::string> arguments = {"dnsmasq", "--conf-file=/dev/null", "--keep-in-foreground", "--no-resolv",
                                              "--no-hosts", "--port=" + std::to_string(*port),
                                              "--listen-address=127.0.0.1", "--bind-interfaces", "--user=root",
                                              "--pid-file=" + folder + "/dnsmasq.pid", "--local=/test/"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        if (!startPeerProcess(peer, arguments, folder)) {
            return false;
        }
        // A port taken by another process makes dnsmasq exit at once.
        if (waitForDnsServer(*port) && isPeerRunning(peer)) {
            return true;
        }
        stopPeerProcess(peer);
    }
    return false;
}

namespace {

TrustStore* certificateTrust() {
    static TrustStore* store = new TrustStore();
    return store;
}

}  // namespace

bool makeTestCertificates(const std::string& folder) {
    // the names the tests ask for: the client checks them against the certificate
    const std::string names = "subjectAltName=DNS:localhost,DNS:tiles.test,DNS:quiet.test,DNS:a.test,DNS:b.test,"
                              "DNS:c.test,DNS:d.test,IP:127.0.0.1";
    bool made = testpki::makeSelfSigned(folder, "ec", "ec", "/CN=localhost", {names}) &&
                testpki::makeSelfSigned(folder, "rsa", "rsa", "/CN=localhost", {names});
    memset((void*)certificateTrust(), 0, sizeof(TrustStore));
    for (const char* name : {"/ec.crt", "/rsa.crt"}) {
        std::string pem = readTextFile(folder + name);
        made = made && addPemTrustAnchors(certificateTrust(), (const u8*)pem.data(), pem.size()) == 1;
    }
    return made;
}

const TrustStore* testCertificateTrust() { return certificateTrust(); }

namespace {

bool startNginxOn(PeerProcess* peer, const std::string& folder, u16 port) {
    // The worker process runs as an unprivileged user: it must be able to read the served files.
    runCommand("mkdir -p '" + folder + "/tmp' '" + folder + "/www' && chmod -R a+rX '" + folder + "'");
    const std::string& d = folder;
    std::string config =
        "daemon off; worker_processes 1; pid " + d + "/nginx.pid; error_log " + d + "/error.log warn;\n"
        "events { worker_connections 64; }\n"
        "http { log_format connection '$connection $request $status';\n"
        "  access_log " + d + "/access.log connection; large_client_header_buffers 4 16k;\n"
        "  client_body_temp_path " + d + "/tmp; proxy_temp_path " + d + "/tmp; fastcgi_temp_path " + d + "/tmp;\n"
        "  uwsgi_temp_path " + d + "/tmp; scgi_temp_path " + d + "/tmp;\n"
        "  types { image/png png; text/plain txt; }\n"
        "  server { listen 127.0.0.1:" + std::to_string(port) + " ssl; ssl_protocols TLSv1.2 TLSv1.3;\n"
        "    ssl_certificate " + d + "/ec.crt; ssl_certificate_key " + d + "/ec.key;\n"
        "    ssl_certificate " + d + "/rsa.crt; ssl_certificate_key " + d + "/rsa.key;\n"
        "    root " + d + "/www;\n"
        "    location /redirect { return 302 /tiles/0/0/0.png; }\n"
        "    location /moved { return 301 /tiles/0/0/0.png; }\n"
        "    location /forbidden { return 403; }\n"
        "  } }\n";
    if (!writeTextFile(folder + "/nginx.conf", config)) {
        return false;
    }
    if (!startPeerProcess(peer, {"nginx", "-c", folder + "/nginx.conf", "-p", folder}, folder)) {
        return false;
    }
    if (waitForPeerListening(peer, port)) {
        return true;
    }
    stopPeerProcess(peer);
    return false;
}

}  // namespace

bool startNginx(PeerProcess* peer, const std::string& folder, u16* port) {
    for (int attempt = 0; attempt < 5; attempt++) {
        *port = freeTcpPort();
        if (startNginxOn(peer, folder, *port)) {
            return true;
        }
    }
    return false;
}
