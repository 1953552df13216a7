// Files for the decoder tests that run outside tools: a temporary folder removed with its contents,
// and whole files read and written as bytes.
#pragma once
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Core/Types.h"

namespace decodertest {

using Bytes = std::vector<u8>;

// A fresh folder /tmp/orvik-<kind>-XXXXXX, removed with everything in it when the test ends.
struct TempFolder {
    std::string path;
    explicit TempFolder(const std::string& kind) {
        std::string pattern = "/tmp/orvik-" + kind + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        if (mkdtemp(name.data())) path = name.data();
    }
    ~TempFolder() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream(path, std::ios::binary).write((const char*)data.data(), (std::streamsize)data.size());
}

}  // namespace decodertest
