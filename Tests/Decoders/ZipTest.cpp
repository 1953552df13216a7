// Zip listing against archives written by Info-ZIP and Python's zipfile, and archives written here
// checked by unzip -t and Python.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Decoders/Checksum.h"
#include "Decoders/Inflate.h"
#include "Decoders/Zip.h"
#include "Tests/Decoders/DecoderTestFiles.h"

namespace {

using decodertest::Bytes;
using decodertest::readFile;
using decodertest::TempFolder;
using decodertest::writeFile;

int run(const std::string& command) { return std::system(command.c_str()); }

std::string nameOf(const ZipDirectoryEntry& e) { return std::string(e.name.text, e.name.length); }
std::string errorOf(const ZipDirectory& d) { return std::string(d.error.text, d.error.length); }

// The files the archives are made of: compressible text, incompressible bytes, an empty file and
// folders, one of them empty.
std::map<std::string, Bytes> makeSourceTree(const TempFolder& folder) {
    std::map<std::string, Bytes> files;
    std::string kml = "<?xml version=\"1.0\"?>\n<kml><Document>\n";
    for (int i = 0; i < 300; i++) {
        kml += "<Placemark><name>Drop " + std::to_string(i) + "</name><Point><coordinates>8.5" + std::to_string(i) +
               ",47.3,0</coordinates></Point></Placemark>\n";
    }
    kml += "</Document></kml>\n";
    files["doc.kml"] = Bytes(kml.begin(), kml.end());
    Bytes noise(5000);
    u32 x = 99;
    for (u8& b : noise) {
        x = x * 1664525u + 1013904223u;
        b = (u8)(x >> 24);
    }
    files["files/image.png"] = noise;
    files["empty.txt"] = {};
    files["names with spaces.txt"] = Bytes{'h', 'i', '\n'};
    run("mkdir -p '" + folder.file("src/files") + "' '" + folder.file("src/sub/deeper") + "'");
    for (auto& [name, data] : files) writeFile(folder.file("src/" + name), data);
    return files;
}

// Copies a stored entry or inflates a deflated one.
Bytes extract(const ZipDirectoryEntry& e) {
    if (e.method == 0) return Bytes(e.data, e.data + e.compressedSize);
    EXPECT_EQ(e.method, 8u);
    Bytes out(e.uncompressedSize);
    InflateState* state = new InflateState{};
    state->output = out.data();
    state->outputCapacity = (i64)out.size();
    i64 position = 0;
    i32 status = inflate(e.data, &position, e.compressedSize, state);
    EXPECT_EQ(status, InflateDone) << nameOf(e);
    EXPECT_EQ(state->outputPosition, (i64)out.size()) << nameOf(e);
    delete state;
    return out;
}

struct ManifestLine {
    std::string name;
    u64 size;
    u32 crc;
};

// Python's zipfile listing of an archive: name, size and CRC of each entry in order.
std::vector<ManifestLine> pythonManifest(const TempFolder& folder, const std::string& archive) {
    std::string script = folder.file("manifest.py");
    std::ofstream(script) << "import sys, zipfile\n"
                             "with zipfile.ZipFile(sys.argv[1]) as z:\n"
                             "    for i in z.infolist():\n"
                             "        assert z.read(i.filename) is not None\n"
                             "        print('%s\\t%d\\t%d' % (i.filename, i.file_size, i.CRC))\n";
    std::string out = folder.file("manifest.txt");
    EXPECT_EQ(run("/usr/bin/python3 '" + script + "' '" + archive + "' > '" + out + "'"), 0);
    std::vector<ManifestLine> lines;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t a = line.find('\t'), b = line.rfind('\t');
        lines.push_back({line.substr(0, a), std::stoull(line.substr(a + 1, b - a - 1)), (u32)std::stoul(line.substr(b + 1))});
    }
    return lines;
}

void expectListingMatches(const TempFolder& folder, const std::string& archive,
                          const std::map<std::string, Bytes>& files) {
    SCOPED_TRACE(archive);
    Bytes bytes = readFile(archive);
    ZipDirectory* dir = new ZipDirectory;
    readZipDirectory(dir, bytes.data(), (i64)bytes.size());
    EXPECT_EQ(errorOf(*dir), "");
    std::vector<ManifestLine> manifest = pythonManifest(folder, archive);
    ASSERT_EQ(dir->entryCount, (i32)manifest.size());
    ASSERT_GT(dir->entryCount, 0);
    for (i32 i = 0; i < dir->entryCount; i++) {
        const ZipDirectoryEntry& e = dir->entries[i];
        SCOPED_TRACE(nameOf(e));
        EXPECT_EQ(nameOf(e), manifest[i].name);
        EXPECT_EQ(e.uncompressedSize, manifest[i].size);
        Bytes data = extract(e);
        EXPECT_EQ(data.size(), manifest[i].size);
        EXPECT_EQ(crc32(data.data(), (i64)data.size()), manifest[i].crc);
        auto original = files.find(nameOf(e));
        if (original != files.end()) {
            EXPECT_EQ(data, original->second);
        }
        if (!nameOf(e).empty() && nameOf(e).back() == '/') {
            EXPECT_TRUE(data.empty());
        }
    }
    delete dir;
}

TEST(Zip, InfoZipArchivesListAndExtract) {
    TempFolder folder("zip");
    auto files = makeSourceTree(folder);
    std::string src = folder.file("src");
    ASSERT_EQ(run("cd '" + src + "' && zip -q -X -0 -r '" + folder.file("stored.zip") + "' ."), 0);
    ASSERT_EQ(run("cd '" + src + "' && zip -q -X -9 -r '" + folder.file("best.zip") + "' ."), 0);
    ASSERT_EQ(run("cd '" + src + "' && zip -q -X -9 -r -z '" + folder.file("comment.zip") + "' . < /dev/null"), 0);
    // Piped on both sides, zip writes data descriptors, with ZIP64 sizes.
    ASSERT_EQ(run("cat '" + folder.file("src/doc.kml") + "' | zip -q - - | cat > '" + folder.file("piped.zip") + "'"), 0);
    expectListingMatches(folder, folder.file("stored.zip"), files);
    expectListingMatches(folder, folder.file("best.zip"), files);
    expectListingMatches(folder, folder.file("comment.zip"), files);
    auto piped = std::map<std::string, Bytes>{{"-", files["doc.kml"]}};
    expectListingMatches(folder, folder.file("piped.zip"), piped);
}

TEST(Zip, PythonStreamingArchivesWithDataDescriptors) {
    TempFolder folder("zip");
    auto files = makeSourceTree(folder);
    std::string script = folder.file("stream.py");
    std::ofstream(script) << "import io, sys, zipfile\n"
                             "class Unseekable(io.RawIOBase):\n"
                             "    def __init__(self, f): self.f = f\n"
                             "    def writable(self): return True\n"
                             "    def seekable(self): return False\n"
                             "    def write(self, b): return self.f.write(b)\n"
                             "src = sys.argv[2]\n"
                             "with open(sys.argv[1], 'wb') as f:\n"
                             "    with zipfile.ZipFile(Unseekable(f), 'w') as z:\n"
                             "        z.writestr(zipfile.ZipInfo('files/'), b'')\n"
                             "        for name, method in [('doc.kml', zipfile.ZIP_DEFLATED), ('files/image.png', zipfile.ZIP_STORED),\n"
                             "                             ('empty.txt', zipfile.ZIP_DEFLATED), ('names with spaces.txt', zipfile.ZIP_STORED)]:\n"
                             "            with z.open(zipfile.ZipInfo(name), 'w') as out:\n"
                             "                out.write(open(src + '/' + name, 'rb').read())\n"
                             "            z.getinfo(name)\n"
                             "with open(sys.argv[1], 'rb') as f:\n"
                             "    data = f.read()\n"
                             "assert data.count(b'PK\\x07\\x08') >= 4, 'no data descriptors'\n";
    std::string archive = folder.file("stream.zip");
    ASSERT_EQ(run("/usr/bin/python3 '" + script + "' '" + archive + "' '" + folder.file("src") + "'"), 0);
    expectListingMatches(folder, archive, files);
}

// Writes the given entries with the writer, then the central directory and the end record.
Bytes writeArchive(const std::vector<std::pair<std::string, Bytes>>& entries, const std::vector<i32>& methods,
                   ByteWriter* writer, size_t centralCount = SIZE_MAX) {
    std::vector<ZipWrittenEntry> written(entries.size());
    u64 total = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        FixedString name = makeString(entries[i].first.c_str());
        writeZipLocalFile(&written[i], methods[i % methods.size()], &name, entries[i].second.data(),
                          entries[i].second.size(), &total, writer);
    }
    i64 directoryStart = writer->length;
    size_t count = std::min(centralCount, entries.size());
    for (size_t i = 0; i < count; i++) writeZipCentralDirectoryHeader(&written[i], writer);
    appendU32Le(0x06054B50, writer);
    appendU16Le(0, writer);
    appendU16Le(0, writer);
    appendU16Le((u16)count, writer);
    appendU16Le((u16)count, writer);
    appendU32Le((u32)(writer->length - 12 - directoryStart), writer);
    appendU32Le((u32)directoryStart, writer);
    appendU16Le(0, writer);
    return writer->data ? Bytes(writer->data, writer->data + writer->length) : Bytes();
}

Bytes writeArchiveTwoPass(const std::vector<std::pair<std::string, Bytes>>& entries, const std::vector<i32>& methods,
                          size_t centralCount = SIZE_MAX) {
    ByteWriter measure = makeMeasuringWriter();
    writeArchive(entries, methods, &measure, centralCount);
    EXPECT_EQ(measure.overflow, 0);
    Bytes buffer((size_t)measure.length);
    ByteWriter fill = makeByteWriter(buffer.data(), (i64)buffer.size());
    Bytes archive = writeArchive(entries, methods, &fill, centralCount);
    EXPECT_EQ(fill.length, measure.length);
    EXPECT_EQ(fill.overflow, 0);
    return archive;
}

TEST(Zip, WrittenArchivesPassUnzipAndPython) {
    TempFolder folder("zip");
    auto files = makeSourceTree(folder);
    std::vector<std::pair<std::string, Bytes>> entries(files.begin(), files.end());
    entries.push_back({"files/", {}});
    for (std::vector<i32> methods : {std::vector<i32>{0}, std::vector<i32>{8}, std::vector<i32>{8, 0}}) {
        SCOPED_TRACE(methods.size() == 2 ? "mixed" : methods[0] == 8 ? "deflated" : "stored");
        Bytes archive = writeArchiveTwoPass(entries, methods);
        std::string path = folder.file("written.zip");
        writeFile(path, archive);
        EXPECT_EQ(run("unzip -tqq '" + path + "'"), 0);
        expectListingMatches(folder, path, files);
        ZipDirectory* dir = new ZipDirectory;
        readZipDirectory(dir, archive.data(), (i64)archive.size());
        ASSERT_EQ(dir->entryCount, (i32)entries.size());
        for (i32 i = 0; i < dir->entryCount; i++) {
            EXPECT_EQ(dir->entries[i].method, (u32)(methods[i % methods.size()] == 8 ? 8 : 0));
            if (methods[i % methods.size()] == 0) {
                EXPECT_EQ(dir->entries[i].compressedSize, entries[i].second.size());
                EXPECT_EQ(dir->entries[i].uncompressedSize, entries[i].second.size());
            }
        }
        delete dir;
    }
}

TEST(Zip, HeaderFieldsAndRunningTotal) {
    Bytes data = {'a', 'b', 'c'};
    FixedString name = makeString("doc.kml");
    Bytes buffer(200);
    ByteWriter writer = makeByteWriter(buffer.data(), 200);
    appendBytes("xyz", 3, &writer);
    ZipWrittenEntry entry{};
    u64 total = 10;
    writeZipLocalFile(&entry, 0, &name, data.data(), 3, &total, &writer);
    EXPECT_EQ(total, 10u + 7 + 50);
    EXPECT_EQ(entry.localHeaderOffset, 3);
    EXPECT_EQ(entry.compressedSize, 3);
    EXPECT_EQ(entry.crc32, 0x352441C2u);
    const u8 expectedHeader[] = {'P', 'K', 3, 4, 10, 0, 0, 0, 0, 0, 90, 95, 148, 87, 0xC2, 0x41, 0x24, 0x35,
                                 3,   0,   0, 0, 3,  0, 0, 0, 7, 0, 0,  0};
    EXPECT_EQ(std::memcmp(buffer.data() + 3, expectedHeader, sizeof expectedHeader), 0);
    EXPECT_EQ(writer.length, 3 + 30 + 7 + 3);
    i64 centralStart = writer.length;
    writeZipCentralDirectoryHeader(&entry, &writer);
    EXPECT_EQ(writer.length - centralStart, 46 + 7);
    const u8 expectedCentral[] = {'P', 'K', 1, 2, 63, 0, 10, 0, 0, 0, 0, 0, 241, 116, 148, 87};
    EXPECT_EQ(std::memcmp(buffer.data() + centralStart, expectedCentral, sizeof expectedCentral), 0);
    EXPECT_EQ(buffer[centralStart + 42], 3);

    // A measuring writer counts the same bytes and computes no CRC.
    ByteWriter measure = makeMeasuringWriter();
    ZipWrittenEntry measured{};
    u64 measuredTotal = 0;
    writeZipLocalFile(&measured, 8, &name, data.data(), 3, &measuredTotal, &measure);
    EXPECT_EQ(measured.crc32, 0u);
    Bytes deflated(200);
    ByteWriter fill = makeByteWriter(deflated.data(), 200);
    ZipWrittenEntry filled{};
    writeZipLocalFile(&filled, 8, &name, data.data(), 3, &measuredTotal, &fill);
    EXPECT_EQ(measure.length, fill.length);
    EXPECT_EQ(measured.compressedSize, filled.compressedSize);
}

TEST(Zip, EntriesTheCentralDirectoryDoesNotNameAreDropped) {
    std::vector<std::pair<std::string, Bytes>> entries;
    for (int i = 0; i < 205; i++) entries.push_back({"tile" + std::to_string(i) + ".bil", Bytes(i % 7, (u8)i)});
    Bytes archive = writeArchiveTwoPass(entries, {0, 8});
    ZipDirectory* dir = new ZipDirectory;
    readZipDirectory(dir, archive.data(), (i64)archive.size());
    EXPECT_EQ(errorOf(*dir), "");
    ASSERT_EQ(dir->entryCount, 200);
    EXPECT_EQ(nameOf(dir->entries[199]), "tile199.bil");
    for (i32 i = 0; i < 200; i++) EXPECT_EQ(extract(dir->entries[i]), entries[(size_t)i].second);

    // Three local entries, of which the central directory names the first two.
    Bytes stale = writeArchiveTwoPass({{"a.kml", {'a'}}, {"b.kml", {'b'}}, {"old.kml", {'o'}}}, {0}, 2);
    readZipDirectory(dir, stale.data(), (i64)stale.size());
    ASSERT_EQ(dir->entryCount, 2);
    EXPECT_EQ(nameOf(dir->entries[1]), "b.kml");
    delete dir;
}

// Stored entries with flag bit 3, named "0.txt", "1.txt", ...: zero sizes in their local headers,
// their data, then a descriptor with or without its signature; the central headers in the given
// order (none when it is empty) and the end record.
Bytes descriptorArchive(bool withSignature, const std::vector<Bytes>& datas, const std::vector<size_t>& centralOrder) {
    Bytes buffer(200 + datas.size() * 120);
    for (const Bytes& data : datas) buffer.resize(buffer.size() + data.size());
    ByteWriter w = makeByteWriter(buffer.data(), (i64)buffer.size());
    std::vector<i64> offsets;
    std::vector<std::string> names;
    for (size_t i = 0; i < datas.size(); i++) {
        const Bytes& data = datas[i];
        offsets.push_back(w.length);
        names.push_back(std::to_string(i) + ".txt");
        u32 crc = crc32(data.data(), (i64)data.size());
        appendU32Le(0x04034B50, &w);
        appendU16Le(20, &w);
        appendU16Le(8, &w);
        appendU16Le(0, &w);
        appendU32Le(0, &w);
        appendU32Le(0, &w);
        appendU32Le(0, &w);
        appendU32Le(0, &w);
        appendU16Le((u16)names[i].size(), &w);
        appendU16Le(0, &w);
        appendBytes(names[i].data(), (i64)names[i].size(), &w);
        appendBytes(data.data(), (i64)data.size(), &w);
        if (withSignature) appendU32Le(0x08074B50, &w);
        appendU32Le(crc, &w);
        appendU32Le((u32)data.size(), &w);
        appendU32Le((u32)data.size(), &w);
    }
    i64 central = w.length;
    for (size_t i : centralOrder) {
        appendU32Le(0x02014B50, &w);
        appendU16Le(20, &w);
        appendU16Le(20, &w);
        appendU16Le(8, &w);
        appendU16Le(0, &w);
        appendU32Le(0, &w);
        appendU32Le(crc32(datas[i].data(), (i64)datas[i].size()), &w);
        appendU32Le((u32)datas[i].size(), &w);
        appendU32Le((u32)datas[i].size(), &w);
        appendU16Le((u16)names[i].size(), &w);
        for (int k = 0; k < 4; k++) appendU16Le(0, &w);
        appendU32Le(0, &w);
        appendU32Le((u32)offsets[i], &w);
        appendBytes(names[i].data(), (i64)names[i].size(), &w);
    }
    appendU32Le(0x06054B50, &w);
    appendU32Le(0, &w);
    appendU16Le((u16)centralOrder.size(), &w);
    appendU16Le((u16)centralOrder.size(), &w);
    appendU32Le((u32)(w.length - 12 - central), &w);
    appendU32Le((u32)central, &w);
    appendU16Le(0, &w);
    EXPECT_FALSE(w.overflow);
    return Bytes(buffer.begin(), buffer.begin() + w.length);
}

Bytes descriptorArchive(bool withSignature, bool withCentral, const Bytes& data) {
    return descriptorArchive(withSignature, {data}, withCentral ? std::vector<size_t>{0} : std::vector<size_t>{});
}

TEST(Zip, DataDescriptorsTakeTheirSizesFromTheCentralDirectory) {
    ZipDirectory* dir = new ZipDirectory;
    // The data holds what looks like a local header signature; no scan may stop there.
    Bytes data = {'x', 'P', 'K', 3, 4, 'y', 'P', 'K', 1, 2, 'z', 0, 0, 0, 0, 0, 0, 0, 0};
    for (bool signature : {true, false}) {
        Bytes archive = descriptorArchive(signature, true, data);
        readZipDirectory(dir, archive.data(), (i64)archive.size());
        EXPECT_EQ(errorOf(*dir), "");
        ASSERT_EQ(dir->entryCount, 1);
        EXPECT_EQ(dir->entries[0].compressedSize, data.size());
        EXPECT_EQ(dir->entries[0].uncompressedSize, data.size());
        EXPECT_EQ(extract(dir->entries[0]), data);
    }
    Bytes empty = descriptorArchive(true, true, {});
    readZipDirectory(dir, empty.data(), (i64)empty.size());
    ASSERT_EQ(dir->entryCount, 1);
    EXPECT_EQ(dir->entries[0].compressedSize, 0u);
    Bytes orphan = descriptorArchive(true, false, data);
    readZipDirectory(dir, orphan.data(), (i64)orphan.size());
    EXPECT_EQ(errorOf(*dir), "Could not find data for 0.txt");
    delete dir;
}

TEST(Zip, DescriptorEntriesFindTheirCentralHeadersInAnyOrder) {
    ZipDirectory* dir = new ZipDirectory;
    std::vector<Bytes> datas;
    for (size_t i = 0; i < 12; i++) datas.push_back(Bytes(i * 3 + 1, (u8)('a' + i)));
    std::vector<std::vector<size_t>> orders = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
        {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
        {5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4},
        {0, 2, 4, 6, 8, 10, 1, 3, 5, 7, 9, 11},
    };
    for (const auto& order : orders) {
        Bytes archive = descriptorArchive(true, datas, order);
        readZipDirectory(dir, archive.data(), (i64)archive.size());
        EXPECT_EQ(errorOf(*dir), "");
        ASSERT_EQ(dir->entryCount, 12);
        for (i32 i = 0; i < 12; i++) {
            EXPECT_EQ(nameOf(dir->entries[i]), std::to_string(i) + ".txt");
            EXPECT_EQ(dir->entries[i].compressedSize, datas[(size_t)i].size());
            EXPECT_EQ(extract(dir->entries[i]), datas[(size_t)i]);
        }
    }
    // An entry that the central directory leaves out is found nowhere, wherever the search began.
    Bytes archive = descriptorArchive(false, datas, {0, 1, 2, 4, 5});
    readZipDirectory(dir, archive.data(), (i64)archive.size());
    EXPECT_EQ(errorOf(*dir), "Could not find data for 3.txt");
    delete dir;
}

TEST(Zip, MalformedArchives) {
    ZipDirectory* dir = new ZipDirectory;
    Bytes archive = writeArchiveTwoPass({{"doc.kml", Bytes(300, 'k')}, {"b.txt", {'b'}}}, {0});
    Bytes junk = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0};
    junk.insert(junk.end(), archive.begin(), archive.end());
    readZipDirectory(dir, junk.data(), (i64)junk.size());
    EXPECT_EQ(errorOf(*dir), "Can not find next header");
    EXPECT_EQ(dir->entryCount, 0);

    Bytes tiny = {'P', 'K', 3, 4, 0, 0, 0};
    readZipDirectory(dir, tiny.data(), (i64)tiny.size());
    EXPECT_EQ(errorOf(*dir), "");
    EXPECT_EQ(dir->entryCount, 0);

    // Cut inside the first entry's data, and inside the second local header.
    readZipDirectory(dir, archive.data(), 200);
    EXPECT_EQ(errorOf(*dir), "Data of doc.kml runs past the end of the archive");
    readZipDirectory(dir, archive.data(), 30 + 7 + 300 + 20);
    EXPECT_EQ(errorOf(*dir), "Local file header at byte 337 runs past the end of the archive");
    // The entries found before an error stay as they are.
    EXPECT_EQ(dir->entryCount, 1);
    EXPECT_EQ(dir->entries[0].inCentralDirectory, 0u);
    // Every cut either lists or reports, without reading outside the bytes.
    for (size_t cut = 0; cut <= archive.size(); cut++) {
        Bytes prefix(archive.begin(), archive.begin() + (i64)cut);
        readZipDirectory(dir, prefix.data(), (i64)prefix.size());
    }
    delete dir;
}

}  // namespace
