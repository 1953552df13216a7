// XML tokenizer against a walker over Python's xml.sax, its messages, the entity decoder and the PDF
// reference reader.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "Decoders/Xml.h"
#include "JsonXmlReferenceFiles.h"

namespace {

XmlReader makeReader(const std::string& text) {
    XmlReader reader{};
    reader.text = (const u8*)text.data();
    reader.length = (i64)text.size();
    return reader;
}

// Tokens point into their text, so every tokenized text is kept for the rest of the run.
std::vector<XmlToken> tokenize(const std::string& source) {
    static std::deque<std::string> texts;
    texts.push_back(source);
    XmlReader reader = makeReader(texts.back());
    std::vector<XmlToken> tokens;
    for (int i = 0; i < 100000; i++) {
        XmlToken t;
        nextXmlToken(&t, &reader);
        tokens.push_back(t);
        if (t.kind == XmlEnd) break;
    }
    return tokens;
}

std::string slice(const u8* p, i64 n) { return p ? std::string((const char*)p, (size_t)n) : std::string(); }

std::string decoded(const u8* p, i64 n) {
    FixedString s{};
    std::memcpy(s.text, p, (size_t)n);
    s.length = (u8)n;
    s.length = decodeXmlEntities((u8*)s.text, s.length);
    return std::string(s.text, s.length);
}

std::string message(const XmlToken& t) { return std::string(t.message.text, t.message.length); }

std::string describe(const XmlToken& t) {
    return std::to_string(t.kind) + " d" + std::to_string(t.depth) + " <" + slice(t.elementName, t.elementNameLength) +
           "> " + slice(t.name, t.nameLength) + "=" + slice(t.value, t.valueLength) + " " + message(t);
}

TEST(Xml, TokensEqualThoseOfAPythonSaxWalker) {
    jsonxmltest::ReferenceFolder folder(40);
    ASSERT_TRUE(folder.ok);
    for (int n = 0; n < 40; n++) {
        SCOPED_TRACE("xml_" + std::to_string(n));
        std::string text = jsonxmltest::readText(folder.path + "/xml_" + std::to_string(n) + ".xml");
        auto lines = jsonxmltest::readTokenLines(folder.path + "/xml_" + std::to_string(n) + ".tokens");
        auto tokens = tokenize(text);
        ASSERT_EQ(tokens.size(), lines.size()) << describe(tokens.back());
        for (size_t i = 0; i < lines.size(); i++) {
            SCOPED_TRACE("token " + std::to_string(i) + ": " + describe(tokens[i]));
            const XmlToken& t = tokens[i];
            const auto& line = lines[i];
            ASSERT_EQ(t.kind, (u32)std::stoi(line[0]));
            if (t.kind == XmlEnd) {
                EXPECT_EQ(message(t), "");
                continue;
            }
            EXPECT_EQ(t.depth, std::stoi(line[1]));
            EXPECT_EQ(slice(t.elementName, t.elementNameLength), jsonxmltest::fromHex(line[2]));
            if (t.kind == XmlAttribute) {
                EXPECT_EQ(slice(t.name, t.nameLength), jsonxmltest::fromHex(line[3]));
                EXPECT_EQ(decoded(t.value, t.valueLength), jsonxmltest::fromHex(line[4]));
            }
            if (t.kind == XmlText) {
                EXPECT_EQ(decoded(t.name, t.nameLength), jsonxmltest::fromHex(line[3]));
            }
        }
    }
}

// Any cut of a document between its root element's start and end is reported as an error.
TEST(Xml, TruncatedDocumentsAreErrors) {
    jsonxmltest::ReferenceFolder folder(8);
    ASSERT_TRUE(folder.ok);
    for (int n = 0; n < 8; n++) {
        std::string text = jsonxmltest::readText(folder.path + "/xml_" + std::to_string(n) + ".xml");
        size_t rootEnd = text.rfind("</kml>") + 6;
        for (size_t cut = text.find("<kml") + 1; cut < rootEnd; cut++) {
            auto tokens = tokenize(text.substr(0, cut));
            ASSERT_NE(message(tokens.back()), "") << "xml_" << n << " cut at " << cut;
        }
        EXPECT_EQ(message(tokenize(text.substr(0, rootEnd)).back()), "");
    }
}

TEST(Xml, ElementsAttributesAndText) {
    auto t = tokenize("<a x=\"1\"/>");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].kind, XmlElementOpen);
    EXPECT_EQ(t[0].depth, 0);
    EXPECT_EQ(t[1].kind, XmlAttribute);
    EXPECT_EQ(t[1].depth, 1);
    EXPECT_EQ(slice(t[1].name, t[1].nameLength), "x");
    EXPECT_EQ(slice(t[1].value, t[1].valueLength), "1");
    EXPECT_EQ(t[2].kind, XmlElementClose);
    EXPECT_EQ(t[2].depth, 0);
    EXPECT_EQ(slice(t[2].elementName, t[2].elementNameLength), "a");
    EXPECT_EQ(t[3].kind, XmlEnd);
    EXPECT_EQ(message(t[3]), "");

    t = tokenize("<a> hi </a>");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[1].kind, XmlText);
    EXPECT_EQ(slice(t[1].name, t[1].nameLength), " hi ");
    EXPECT_EQ(slice(t[1].elementName, t[1].elementNameLength), "a");
    EXPECT_EQ(t[2].kind, XmlElementClose);

    // Single-quoted values may hold double quotes and the other way round.
    t = tokenize("<a x='say \"hi\"' y=\"it's\"></a>");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(slice(t[1].value, t[1].valueLength), "say \"hi\"");
    EXPECT_EQ(slice(t[2].value, t[2].valueLength), "it's");

    t = tokenize("<?xml version=\"1.0\"?><!DOCTYPE a [<!ELEMENT a ANY>]><a><!-- x --><b/><![CDATA[<c>]]></a>");
    ASSERT_EQ(t.size(), 5u) << describe(t.back());
    EXPECT_EQ(slice(t[1].elementName, t[1].elementNameLength), "b");
    EXPECT_EQ(t[3].kind, XmlElementClose);
    EXPECT_EQ(message(t[4]), "");
}

std::string lastMessage(const std::string& text) { return message(tokenize(text).back()); }

TEST(Xml, MalformedAndTruncatedMessages) {
    EXPECT_EQ(lastMessage("<a>x</a>y"), "Unexpected character U+00000079 at byte 9 when trying to find <");
    EXPECT_EQ(lastMessage("<a>"), "XML File ended before Element a closed");
    EXPECT_EQ(lastMessage("<abc>hello"), "XML File ended before Element abc closed");
    EXPECT_EQ(lastMessage("<a x=\"1\""), "XML File ended in the middle of a tag");
    EXPECT_EQ(lastMessage("<a><b></b>"), "XML File ended with 1 elements still open");
    EXPECT_EQ(lastMessage("<a><!-- open"), "XML File ended before Element a closed");
    EXPECT_EQ(lastMessage("<a></a><!-- open"), "XML File ended in the middle of a tag");
    EXPECT_EQ(lastMessage("< a/>"), "Unexpected character U+00000020 at byte 2 after <");
    EXPECT_EQ(lastMessage("<a x !/>"), "Unexpected character U+00000021 at byte 6 after attribute name");
    EXPECT_EQ(lastMessage("<a x=\"1\"/b>"), "Unexpected character U+00000062 at byte 10 after /");
    EXPECT_EQ(lastMessage("</a>"), "Closing tag at byte 4 has no open element");
    EXPECT_EQ(lastMessage("<a>\xFF</a>"), "Malformed Utf-8 character at byte 4");
    EXPECT_EQ(lastMessage("<a>\xE7\x81"), "File ended in the middle of a UTF-8 character");
    EXPECT_EQ(lastMessage(""), "");
}

std::string entities(const std::string& text) {
    FixedString s{};
    std::memcpy(s.text, text.data(), text.size());
    s.length = (u8)text.size();
    u8 length = decodeXmlEntities((u8*)s.text, s.length);
    for (size_t i = length; i < text.size(); i++) EXPECT_EQ(s.text[i], 0) << "freed byte " << i;
    return std::string(s.text, length);
}

TEST(Xml, EntityDecoding) {
    EXPECT_EQ(entities("&lt;b&gt;"), "<b>");
    EXPECT_EQ(entities("a &amp; b &apos;c&apos; &quot;d&quot;"), "a & b 'c' \"d\"");
    EXPECT_EQ(entities("&amp;lt;"), "&lt;");
    EXPECT_EQ(entities("&#38; &#x26;"), "&#38; &#x26;");
    // Only whole entities are replaced; other "&" text stays as it stands.
    EXPECT_EQ(entities("R&D and A&B"), "R&D and A&B");
    EXPECT_EQ(entities("&amb;&ltx &gt"), "&amb;&ltx &gt");
    EXPECT_EQ(entities("&"), "&");
    EXPECT_EQ(entities("x&lt"), "x&lt");
    EXPECT_EQ(entities("&quot"), "&quot");
}

TEST(Xml, PdfReferences) {
    const char* text = "12 0 R";
    i64 position = 0;
    PdfReference ref{};
    EXPECT_EQ(parsePdfReference((const u8*)text, 6, &position, &ref), 0);
    EXPECT_EQ(ref.objectNumber, 12);
    EXPECT_EQ(ref.generation, 0);
    EXPECT_EQ(position, 6);

    const char* list = "/Kids [4 0 R 7 2 R]";
    position = 7;
    EXPECT_EQ(parsePdfReference((const u8*)list, 19, &position, &ref), 0);
    EXPECT_EQ(position, 12);
    EXPECT_EQ(parsePdfReference((const u8*)list, 19, &(++position), &ref), 0);
    EXPECT_EQ(ref.objectNumber, 7);
    EXPECT_EQ(ref.generation, 2);

    for (const char* bad : {"12 R", "12 0 S", "12 0", "-1 0 R", "R"}) {
        position = 0;
        PdfReference untouched{99, 99};
        EXPECT_EQ(parsePdfReference((const u8*)bad, (i64)std::strlen(bad), &position, &untouched), 1) << bad;
        EXPECT_EQ(position, 0) << bad;
        EXPECT_EQ(untouched.objectNumber, 99);
    }
}

}  // namespace
