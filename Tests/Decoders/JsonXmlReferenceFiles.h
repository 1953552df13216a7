// Shared helpers of the JSON and XML tokenizer tests: the reference walker's output files.
#pragma once
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Core/Types.h"

namespace jsonxmltest {

struct ReferenceFolder {
    std::string path;
    // Runs the Python reference walker, which writes count documents of each kind with their tokens.
    explicit ReferenceFolder(int count) {
        char name[] = "/tmp/orvik-jsonxml-XXXXXX";
        path = mkdtemp(name);
        std::string command = std::string("/usr/bin/python3 '") + ORVIK_SOURCE_DIR +
                              "/Tests/Decoders/JsonXmlReference.py' '" + path + "' " + std::to_string(count);
        ok = std::system(command.c_str()) == 0;
    }
    ~ReferenceFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    bool ok = false;
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
    return out;
}

// Tab-separated fields of each line.
inline std::vector<std::vector<std::string>> readTokenLines(const std::string& path) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(readText(path));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        lines.push_back(fields);
    }
    return lines;
}

}  // namespace jsonxmltest
