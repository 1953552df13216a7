// The SPS reader against ffprobe over libx264 streams of every layout the reader walks differently,
// and against data cut short or lying about its counts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "Video/H264Stream.h"
#include "Video/H264TestStreams.h"

using namespace videotest;

namespace {

struct SpsCase {
    const char* name;
    int width;
    int height;
    const char* x264;
    bool scalingLists;  // the SPS is rewritten to carry scaling lists (libx264 sends its own in the PPS)
};

Bytes unescape(const u8* bytes, size_t length) {
    Bytes out;
    for (size_t i = 0; i < length; ++i) {
        if (i + 2 < length && bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 3) {
            out.insert(out.end(), {0, 0});
            i += 2;
        } else {
            out.push_back(bytes[i]);
        }
    }
    return out;
}

Bytes escape(const Bytes& rbsp) {
    Bytes out;
    for (u8 b : rbsp) {
        if (out.size() >= 2 && out[out.size() - 1] == 0 && out[out.size() - 2] == 0 && b <= 3) out.push_back(3);
        out.push_back(b);
    }
    return out;
}

struct BitCopier {
    Bytes in;
    size_t at = 0;
    Bytes out;
    size_t written = 0;
    u32 take() {
        u32 bit = at < in.size() * 8 ? (in[at / 8] >> (7 - at % 8)) & 1 : 0;
        ++at;
        return bit;
    }
    void put(u32 bit) {
        if (written % 8 == 0) out.push_back(0);
        out.back() |= (u8)(bit << (7 - written % 8));
        ++written;
    }
    void putBits(u64 value, int n) {
        for (int i = n - 1; i >= 0; --i) put((value >> i) & 1);
    }
    void putUe(u64 value) {
        int zeros = 0;
        while (((value + 1) >> (zeros + 1)) != 0) ++zeros;
        putBits(0, zeros);
        putBits(value + 1, zeros + 1);
    }
    u32 copy(int n) {
        u32 value = 0;
        for (int i = 0; i < n; ++i) {
            u32 bit = take();
            put(bit);
            value = value << 1 | bit;
        }
        return value;
    }
    u64 copyUe() {
        int zeros = 0;
        while (copy(1) == 0) ++zeros;
        return ((u64)1 << zeros) - 1 + copy(zeros);
    }
};

// Sets seq_scaling_matrix_present_flag in the stream's first (high-profile) SPS and writes lists
// of every kind after it: absent, "use the default" and full lists of varied deltas.
Bytes withScalingLists(const Bytes& file) {
    std::vector<Bytes> units = splitAnnexB(file.data(), file.size());
    Bytes out;
    for (const Bytes& unit : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        if ((unit[0] & 0x1F) != 7) {
            out.insert(out.end(), unit.begin(), unit.end());
            continue;
        }
        BitCopier c;
        c.in = unescape(unit.data() + 1, unit.size() - 1);
        c.copy(24);
        c.copyUe();
        u64 chroma = c.copyUe();
        if (chroma == 3) c.copy(1);
        c.copyUe();
        c.copyUe();
        c.copy(1);
        c.take();
        c.put(1);
        u32 seed = 12345;
        for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i) {
            bool present = i % 4 != 3;
            c.put(present);
            if (!present) continue;
            int size = i < 6 ? 16 : 64;
            int last = 8;
            for (int j = 0; j < size; ++j) {
                int delta;
                if (i == 1 && j == 0) {
                    delta = -8;  // next scale 0 at once: the default list
                } else {
                    seed = seed * 1103515245 + 12345;
                    delta = (int)((seed >> 16) % 41) - 20;
                    if ((last + delta + 256) % 256 == 0) delta += 1;
                }
                c.putUe(delta > 0 ? 2 * (u64)delta - 1 : 2 * (u64)(-delta));
                int next = ((last + delta) % 256 + 256) % 256;
                if (next == 0) break;
                last = next;
            }
        }
        while (c.at < c.in.size() * 8) c.put(c.take());
        out.push_back(unit[0]);
        Bytes escaped = escape(c.out);
        out.insert(out.end(), escaped.begin(), escaped.end());
    }
    return out;
}

// One field of the first SPS as ffmpeg's header tracer reads it, or -1.
long tracedField(const std::string& trace, const std::string& name) {
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        size_t at = line.find(" " + name + " ");
        size_t equals = line.rfind("= ");
        if (at != std::string::npos && equals != std::string::npos) return std::stol(line.substr(equals + 2));
    }
    return -1;
}

class SpsSizes : public ::testing::TestWithParam<SpsCase> {};

TEST_P(SpsSizes, EqualFfprobes) {
    SpsCase c = GetParam();
    TempFolder folder("sps");
    std::string h264 = folder.file("s.h264");
    ASSERT_TRUE(encodeTestPattern(h264, c.width, c.height, 2, c.x264));
    if (c.scalingLists) writeFile(h264, withScalingLists(readFile(h264)));
    std::istringstream probe(output("ffprobe -v error -select_streams v:0 -show_entries "
                                    "stream=width,height,coded_width,coded_height -of csv=p=0 '" + h264 + "'"));
    u32 width = 0, height = 0, codedWidth = 0, codedHeight = 0;
    char comma;
    probe >> width >> comma >> height >> comma >> codedWidth >> comma >> codedHeight;
    ASSERT_GT(width, 0u);
    // ffprobe gives the displayed size only; the coded size comes from the traced SPS fields.
    std::string trace = output("ffmpeg -hide_banner -nostdin -i '" + h264 +
                               "' -c copy -bsf:v trace_headers -f null - 2>&1");
    long frameMbsOnly = tracedField(trace, "frame_mbs_only_flag");
    codedWidth = (u32)(tracedField(trace, "pic_width_in_mbs_minus1") + 1) * 16;
    codedHeight = (u32)((tracedField(trace, "pic_height_in_map_units_minus1") + 1) * (2 - frameMbsOnly) * 16);
    if (c.scalingLists) {
        ASSERT_EQ(tracedField(trace, "seq_scaling_matrix_present_flag"), 1);
    }

    Bytes file = readFile(h264);
    auto state = std::make_unique<H264StreamState>();
    // The whole file: the reader takes the first SPS among the units.
    EXPECT_EQ(parseSequenceParameterSet(H264NalUnit{file.data(), (i64)file.size()}, state.get()), 1);
    EXPECT_EQ(state->spsSeen, 1u);
    EXPECT_EQ(state->width, width);
    EXPECT_EQ(state->height, height);
    EXPECT_EQ(state->codedWidth, codedWidth);
    EXPECT_EQ(state->codedHeight, codedHeight);
    // The same size again is no change.
    EXPECT_EQ(parseSequenceParameterSet(H264NalUnit{file.data(), (i64)file.size()}, state.get()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SpsSizes,
    ::testing::Values(
        SpsCase{"Cropped1080p", 1920, 1080, "-pix_fmt yuv420p -profile:v high", false},
        SpsCase{"Interlaced1080", 1920, 1080, "-pix_fmt yuv420p -profile:v high -x264-params interlaced=1", false},
        SpsCase{"HighProfileScalingLists", 722, 406, "-pix_fmt yuv420p -profile:v high", true},
        SpsCase{"Baseline", 352, 288, "-pix_fmt yuv420p -profile:v baseline", false},
        SpsCase{"Chroma422", 350, 198, "-pix_fmt yuv422p -profile:v high422", false},
        SpsCase{"Chroma444OddSizeScalingLists", 349, 197, "-pix_fmt yuv444p -profile:v high444", true},
        SpsCase{"Chroma444Interlaced", 350, 198, "-pix_fmt yuv444p -profile:v high444 -x264-params interlaced=1",
                false},
        SpsCase{"MonochromeOddSize", 349, 197, "-pix_fmt gray -profile:v high", false}),
    [](const ::testing::TestParamInfo<SpsCase>& info) { return std::string(info.param.name); });

}  // namespace
