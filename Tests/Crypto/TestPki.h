// The test PKI of make-test-pki.sh, made once per build folder, helpers to read its PEM files as DER,
// and self-signed certificates made on the spot with openssl for the X.509 and TLS tests.
#pragma once
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Core/Types.h"

namespace testpki {

// The folder with the PKI; empty when it could not be made. One PKI serves every test program of
// the build folder: the first to ask makes it, under a lock, and the others wait for it.
inline const std::string& folder() {
    static std::string made = [] {
        // named after the script's text, so that a changed script makes a new PKI
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Crypto/make-test-pki.sh";
        std::ifstream file(script, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        std::string dir = std::string(ORVIK_BINARY_DIR) + "/test-pki-" +
                          std::to_string(std::hash<std::string>{}(text.str()) % 1000000007);
        std::string command = "mkdir -p '" + dir + "' && flock '" + dir + ".lock' sh -c \"[ -f '" + dir +
                              "/done' ] || (sh '" + script + "' '" + dir +
                              "' && touch '" + dir + "/done')\"";
        if (system(command.c_str()) != 0) return std::string();
        return dir;
    }();
    return made;
}

inline std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
}

inline std::string path(const std::string& name) { return folder() + "/" + name; }

// The DER certificates of a PEM file, in order.
inline std::vector<std::vector<u8>> certificates(const std::string& name) {
    std::vector<std::vector<u8>> out;
    std::string text = readText(name[0] == '/' ? name : path(name));
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    size_t at = 0;
    while ((at = text.find(begin, at)) != std::string::npos) {
        size_t stop = text.find(end, at);
        if (stop == std::string::npos) break;
        std::vector<u8> der;
        u32 accumulator = 0, bits = 0;
        for (size_t i = at + begin.size(); i < stop; i++) {
            char c = text[i];
            int v = c >= 'A' && c <= 'Z'   ? c - 'A'
                    : c >= 'a' && c <= 'z' ? c - 'a' + 26
                    : c >= '0' && c <= '9' ? c - '0' + 52
                    : c == '+'             ? 62
                    : c == '/'             ? 63
                                           : -1;
            if (v < 0) continue;
            accumulator = accumulator << 6 | (u32)v;
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                der.push_back((u8)(accumulator >> bits));
            }
        }
        out.push_back(der);
        at = stop;
    }
    return out;
}

// Makes a self-signed certificate <name>.crt with its key <name>.key in folder with openssl:
// key "ec" (P-256) or "rsa" (2048 bits), subject as "/CN=...", each extension added with -addext,
// valid for 30 days. True when both files were written.
inline bool makeSelfSigned(const std::string& folder, const std::string& name, const std::string& key,
                           const std::string& subject, const std::vector<std::string>& extensions = {}) {
    std::string command = "cd '" + folder + "' && openssl req -x509 -newkey " +
                          (key == "ec" ? std::string("ec -pkeyopt ec_paramgen_curve:P-256") : std::string("rsa:2048")) +
                          " -nodes -keyout " + name + ".key -out " + name + ".crt -days 30 -subj '" + subject + "'";
    for (const std::string& extension : extensions) command += " -addext '" + extension + "'";
    return system((command + " > /dev/null 2>&1").c_str()) == 0;
}

}  // namespace testpki
