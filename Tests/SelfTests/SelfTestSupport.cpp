#include "SelfTestSupport.h"

#include <fstream>
#include <sstream>

BrokenPrimitive brokenPrimitive = BrokenNothing;

i32 lineOf(const char* file, const char* text, const char* after) {
    std::ifstream in(std::string(ORVIK_SOURCE_DIR) + "/SelfTests/" + file);
    std::string line;
    bool searching = after == nullptr;
    for (i32 number = 1; std::getline(in, line); number++) {
        if (!searching) {
            searching = line.find(after) != std::string::npos;
        } else if (line.find(text) != std::string::npos) {
            return number;
        }
    }
    return 0;
}

namespace {

std::vector<u8> fromHex(const std::string& hex) {
    std::vector<u8> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back((u8)std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

}  // namespace

void OwnedRecording::link() {
    flights.clear();
    for (size_t i = 0; i < flightBytes.size(); i++)
        flights.push_back({flightServer[i], (u32)flightBytes[i].size(), flightBytes[i].data()});
    recording.hostName = host.c_str();
    recording.authority = authority.data();
    recording.authorityLength = (u32)authority.size();
    recording.clientPrivateKey = privateKey.data();
    recording.clientPublicKey = publicKey.data();
    recording.clientHello = hello.data();
    recording.clientHelloLength = (u32)hello.size();
    recording.request = request.data();
    recording.requestLength = (u32)request.size();
    recording.reply = reply.data();
    recording.replyLength = (u32)reply.size();
    recording.flightCount = (u32)flights.size();
    recording.flights = flights.data();
}

bool readRecording(const std::string& path, OwnedRecording* out) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value, bytes;
        words >> key >> value;
        if (key == "host") out->host = value;
        else if (key == "time") out->recording.utcMilliseconds = std::stoll(value);
        else if (key == "authority") out->authority = fromHex(value);
        else if (key == "private") out->privateKey = fromHex(value);
        else if (key == "public") out->publicKey = fromHex(value);
        else if (key == "hello") out->hello = fromHex(value);
        else if (key == "request") out->request = fromHex(value);
        else if (key == "reply") out->reply = fromHex(value);
        else if (key == "flight") {
            words >> bytes;
            out->flightServer.push_back(value == "server" ? 1 : 0);
            out->flightBytes.push_back(fromHex(bytes));
        }
    }
    out->link();
    return !out->hello.empty() && !out->flightBytes.empty();
}

void copyRecording(const TlsRecording& r, OwnedRecording* target) {
    OwnedRecording& out = *target;
    out.host = r.hostName;
    out.recording.utcMilliseconds = r.utcMilliseconds;
    out.authority.assign(r.authority, r.authority + r.authorityLength);
    out.privateKey.assign(r.clientPrivateKey, r.clientPrivateKey + 32);
    out.publicKey.assign(r.clientPublicKey, r.clientPublicKey + 32);
    out.hello.assign(r.clientHello, r.clientHello + r.clientHelloLength);
    out.request.assign(r.request, r.request + r.requestLength);
    out.reply.assign(r.reply, r.reply + r.replyLength);
    for (u32 i = 0; i < r.flightCount; i++) {
        out.flightServer.push_back(r.flights[i].fromServer);
        out.flightBytes.emplace_back(r.flights[i].bytes, r.flights[i].bytes + r.flights[i].length);
    }
    out.link();
}
