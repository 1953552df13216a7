// Our framing against node-mavlink, an independent implementation: each side reads what the other
// writes.
#include "Mavlink/Mavlink.h"
#include "NodePeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using Bytes = std::vector<u8>;

struct NodeMavlink : ::testing::Test {
    void SetUp() override {
        std::string error = prepareNodePeer();
        ASSERT_EQ(error, "");
    }
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST_F(NodeMavlink, CrcExtraAgreesWithNodeMavlink) {
    // Messages of the same id and name; a renamed work-in-progress message may differ.
    std::map<u32, i32> node;
    for (const std::string& line : linesOf(runNodePeer("magic"))) {
        std::vector<std::string> words = splitWords(line);
        ASSERT_EQ(words.size(), 3u) << line;
        u32 id = (u32)std::stoul(words[0]);
        if (words[2] == mavlinkMessageName(id)) {
            node[id] = std::stoi(words[1]);
        }
    }
    ASSERT_GT(node.size(), 200u);
    int compared = 0;
    for (u32 id = 0; id < 13000; id++) {
        i32 ours = mavlinkCrcExtra(id);
        if (ours >= 0 && node.count(id)) {
            EXPECT_EQ(ours, node[id]) << "message " << id;
            compared++;
        }
    }
    EXPECT_GT(compared, 200);
    for (u32 id : {12900u, 12901u, 12902u, 12903u, 12904u, 12905u, 12918u, 0u, 256u}) {
        EXPECT_EQ(mavlinkCrcExtra(id), node.at(id)) << id;
    }
}

TEST_F(NodeMavlink, NodeMavlinkAcceptsOurFrames) {
    struct Case {
        u32 id;
        u32 payloadLength;
        u32 forceVersion2;
    };
    const Case cases[] = {{0, 9, 0},     {0, 9, 1},   {0, 0, 0},     {0, 0, 1},     {254, 9, 0},  {254, 0, 1},
                          {131, 255, 0}, {131, 255, 1}, {256, 42, 0}, {256, 0, 0},   {12904, 54, 0}, {12904, 0, 1},
                          {253, 54, 1},  {33, 28, 0}};
    Bytes stream;
    std::vector<std::string> expected;
    u8 sequence = 250;  // wraps on the way
    u32 fill = 1;
    for (const Case& c : cases) {
        Bytes payload(c.payloadLength);
        for (u8& byte : payload) {
            fill = fill * 1103515245 + 12345;
            byte = (u8)(fill >> 16);
        }
        u8 buffer[300];
        ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
        LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0xFFBE, c.id, c.forceVersion2);
        appendBytes(payload.data(), (i64)payload.size(), &writer);
        finishMavlinkPacket(&mark, &writer);
        ASSERT_FALSE(writer.overflow);
        stream.insert(stream.end(), buffer, buffer + writer.length);
        expected.push_back(hexFromBytes(buffer, (size_t)writer.length));
    }
    // Id 255 has no CRC_EXTRA: written without checksum, skipped as unknown. It goes last, since a
    // reader skips a frame's claimed length with its checksum.
    u8 buffer[16];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0xFFBE, 255, 0);
    appendU8(7, &writer);
    finishMavlinkPacket(&mark, &writer);
    ASSERT_EQ(writer.length, 7);
    EXPECT_EQ(buffer[0], 0xFE);
    EXPECT_EQ(buffer[1], 1);
    stream.insert(stream.end(), buffer, buffer + writer.length);
    stream.insert(stream.end(), {0, 0});

    std::string path = temporaryPath("ours.bin");
    writeFile(path, stream);
    std::vector<std::string> lines = linesOf(runNodePeer("parse '" + path + "'"));
    std::remove(path.c_str());
    std::vector<std::string> frames;
    std::string counts;
    for (const std::string& line : lines) {
        if (line.rfind("frame ", 0) == 0) {
            frames.push_back(line.substr(6));
        } else if (line.rfind("counts ", 0) == 0) {
            counts = line;
        } else {
            ADD_FAILURE() << line;
        }
    }
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(counts, "counts " + std::to_string(expected.size()) + " 0 1");
}

TEST_F(NodeMavlink, OurReaderTakesNodeMavlinkFramesFromADirtyStream) {
    std::string path = temporaryPath("theirs.bin");
    std::vector<std::string> lines = linesOf(runNodePeer("emit '" + path + "'"));
    Bytes stream = readFile(path);
    std::remove(path.c_str());
    std::vector<std::string> expected;
    for (const std::string& line : lines) {
        if (line.rfind("frame ", 0) == 0) {
            std::string frame = line.substr(6);
            // Kept copies are the whole frames, signatures included.
            expected.push_back(frame);
        }
    }
    ASSERT_GT(expected.size(), 50u);
    ASSERT_GT(stream.size(), 3000u);

    for (size_t chunk : {stream.size(), (size_t)1, (size_t)3, (size_t)100}) {
        std::vector<std::string> found;
        MavlinkMessage message{};
        for (size_t start = 0; start < stream.size(); start += chunk) {
            i32 end = (i32)std::min(chunk, stream.size() - start);
            i32 position = 0;
            for (;;) {
                position = parseMavlinkBytes(&message, stream.data() + start, position, end);
                if (!message.haveMessage) {
                    break;
                }
                u8 slot[300];
                MavlinkFrameCopy copy;
                copyMavlinkPayload(&copy, &message, slot, sizeof(slot), 0);
                found.push_back(hexFromBytes(slot, (size_t)copy.writer.length));
            }
        }
        EXPECT_EQ(found, expected) << "chunks of " << chunk << " bytes";
    }
}

}  // namespace
