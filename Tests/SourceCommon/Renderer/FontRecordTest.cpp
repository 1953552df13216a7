// The glyph record: the committed one passes its checks, damaged ones are refused, and code points
// find their glyphs or the missing glyph.
#include <gtest/gtest.h>

#include <vector>

#include "TextTestSupport.h"

namespace {

struct RecordCopy {
    FontRecord record;
    const u8* bytes() const { return (const u8*)&record; }
};

TEST(FontRecord, TheCommittedRecordIsUsableAndHoldsTheAtlasConstants) {
    const FontRecord* font = committedFontRecord();
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(checkFontRecord((const u8*)font, kFontRecordBytes).length, 0) << checkFontRecord((const u8*)font, kFontRecordBytes).text;
    EXPECT_EQ(font->onEdgeValue, 140);
    EXPECT_EQ(font->fallOffTexels, 7);
    EXPECT_EQ(font->unitsPerTexel, 14);
    EXPECT_EQ(fontLineHeight(font), 1257);
    EXPECT_LE(font->rangeCount, 200);
    EXPECT_LE(font->glyphCount, 1500);
    EXPECT_EQ(usableFontRecord((const u8*)font), font);
}

TEST(FontRecord, DamagedRecordsAreRefusedWithAReason) {
    const FontRecord* font = committedFontRecord();
    ASSERT_NE(font, nullptr);
    auto copy = std::make_unique<RecordCopy>();

    EXPECT_NE(checkFontRecord(copy->bytes(), kFontRecordBytes - 1).length, 0);
    EXPECT_NE(checkFontRecord(nullptr, kFontRecordBytes).length, 0);

    copy->record = *font;
    copy->record.rangeCount = 201;
    FixedString message = checkFontRecord(copy->bytes(), kFontRecordBytes);
    EXPECT_STREQ(message.text, "The font record lists 201 code-point ranges, more than 200");
    EXPECT_EQ(usableFontRecord(copy->bytes()), nullptr);

    // Ranges that cover more than the 1,500 glyph records.
    copy->record = *font;
    copy->record.rangeCount = 1;
    copy->record.ranges[0][0] = 0x4E00;
    copy->record.ranges[0][1] = 0x4E00 + 1500;
    EXPECT_STREQ(checkFontRecord(copy->bytes(), kFontRecordBytes).text,
                 "The font record's ranges cover 1501 glyphs, more than 1,500");

    copy->record = *font;
    copy->record.ranges[1][0] = copy->record.ranges[0][1];  // overlaps the first range
    EXPECT_STREQ(checkFontRecord(copy->bytes(), kFontRecordBytes).text,
                 "The font record's code-point range 1 is out of order");

    copy->record = *font;
    copy->record.glyphs[3].atlasX = 2040;
    copy->record.glyphs[3].width = 20;
    EXPECT_STREQ(checkFontRecord(copy->bytes(), kFontRecordBytes).text, "The font record's glyph 3 leaves the atlas");

    copy->record = *font;
    copy->record.ascent = copy->record.descent;
    EXPECT_NE(checkFontRecord(copy->bytes(), kFontRecordBytes).length, 0);
    EXPECT_EQ(usableFontRecord(copy->bytes()), nullptr);
}

TEST(FontRecord, CodePointsFindTheirGlyphsInRangeOrder) {
    const FontRecord* font = committedFontRecord();
    ASSERT_NE(font, nullptr);
    // The first range starts at "!", so "A" is glyph 0x41 - 0x21.
    ASSERT_EQ(font->ranges[0][0], 0x21);
    EXPECT_EQ(findGlyph(font, 'A'), &font->glyphs['A' - 0x21]);
    // The second range begins where the first ends its count.
    i32 secondFirst = font->ranges[1][0];
    EXPECT_EQ(findGlyph(font, secondFirst), &font->glyphs[font->ranges[0][1] - font->ranges[0][0] + 1]);
    // Code points in no range: below the first, between ranges (U+0180 lies between 161-383 and the
    // next range), and beyond the last.
    EXPECT_EQ(font->ranges[1][1], 383);
    EXPECT_GT(font->ranges[2][0], 384);
    EXPECT_EQ(findGlyph(font, 0x180), &font->missingGlyph);
    EXPECT_EQ(findGlyph(font, 5), &font->missingGlyph);
    EXPECT_EQ(findGlyph(font, 0x10FFFF), &font->missingGlyph);
    EXPECT_EQ(findGlyph(font, -7), &font->missingGlyph);
}

TEST(FontRecord, AGlyphIndexPastTheRecordsGivesTheMissingGlyph) {
    auto copy = std::make_unique<RecordCopy>();
    copy->record = *committedFontRecord();
    copy->record.rangeCount = 2;
    copy->record.ranges[0][0] = 100;
    copy->record.ranges[0][1] = 100 + 1499;
    copy->record.ranges[1][0] = 5000;
    copy->record.ranges[1][1] = 5010;
    EXPECT_EQ(findGlyph(&copy->record, 100 + 1499), &copy->record.glyphs[1499]);
    EXPECT_EQ(findGlyph(&copy->record, 5000), &copy->record.missingGlyph);
    // A range count above 200 is not walked.
    copy->record.rangeCount = 60000;
    EXPECT_EQ(findGlyph(&copy->record, 100), &copy->record.missingGlyph);
}

}  // namespace
