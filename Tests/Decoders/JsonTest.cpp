// JSON pull tokenizer: token streams against a walker over Python's json, partial input, and the
// error messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Decoders/Json.h"
#include "JsonXmlReferenceFiles.h"

namespace {

struct Tok {
    u32 kind;
    std::string key;
    std::string value;  // decoded string, number text or boolean
    f64 number = 0;
    i64 integer = 0;
};

JsonReader makeReader(const std::string& text) {
    JsonReader reader{};
    reader.text = (const u8*)text.data();
    reader.length = (i64)text.size();
    return reader;
}

JsonReader makeReader(const char* text) {
    JsonReader reader{};
    reader.text = (const u8*)text;
    reader.length = (i64)std::strlen(text);
    return reader;
}

std::string keyOf(const JsonToken& t) { return std::string(t.key.text, t.key.length); }

std::string unescape(const JsonToken& t) {
    std::vector<u8> buffer((size_t)t.stringLength * 4 + 16);
    ByteWriter writer = makeByteWriter(buffer.data(), (i64)buffer.size());
    appendJsonUnescaped(t.stringText, t.stringLength, &writer);
    return std::string((const char*)buffer.data(), (size_t)writer.length);
}

std::vector<JsonToken> tokenize(JsonReader* reader, size_t limit = 100000) {
    std::vector<JsonToken> tokens;
    for (size_t i = 0; i < limit; i++) {
        JsonToken t;
        nextJsonToken(&t, reader);
        tokens.push_back(t);
        if (t.kind <= JsonEnd) break;
    }
    return tokens;
}

void expectMatchesReference(const std::vector<JsonToken>& tokens, const std::vector<std::vector<std::string>>& lines) {
    ASSERT_EQ(tokens.size(), lines.size());
    for (size_t i = 0; i < lines.size(); i++) {
        SCOPED_TRACE("token " + std::to_string(i));
        const JsonToken& t = tokens[i];
        const auto& line = lines[i];
        ASSERT_EQ(t.kind, (u32)std::stoi(line[0])) << keyOf(t);
        EXPECT_EQ(keyOf(t), jsonxmltest::fromHex(line[1]));
        if (t.kind == JsonString) {
            EXPECT_EQ(unescape(t), jsonxmltest::fromHex(line[2]));
        }
        if (t.kind == JsonBoolean) {
            EXPECT_EQ(t.boolean, (u32)std::stoi(line[2]));
        }
        if (t.kind == JsonNumber) {
            if (line[2][0] == 'i') {
                i64 expected = std::stoll(line[2].substr(1));
                EXPECT_EQ(t.integer, expected);
                EXPECT_EQ(t.number, (f64)expected);
            } else {
                f64 expected = std::strtod(line[2].c_str() + 1, nullptr);
                EXPECT_NEAR(t.number, expected, std::fabs(expected) * 1e-13);
                EXPECT_EQ(t.integer, (i64)std::trunc(t.number));
            }
        }
    }
}

TEST(Json, TokensEqualThoseOfAPythonWalker) {
    jsonxmltest::ReferenceFolder folder(40);
    ASSERT_TRUE(folder.ok);
    for (int n = 0; n < 40; n++) {
        SCOPED_TRACE("json_" + std::to_string(n));
        std::string text = jsonxmltest::readText(folder.path + "/json_" + std::to_string(n) + ".json");
        auto lines = jsonxmltest::readTokenLines(folder.path + "/json_" + std::to_string(n) + ".tokens");
        JsonReader reader = makeReader(text);
        expectMatchesReference(tokenize(&reader), lines);
    }
}

// A reader over a prefix reports the end without consuming the cut token, and carries on once the
// rest has arrived; cuts right after number characters are left out, as a number cannot tell that
// more digits are coming.
TEST(Json, PartialInputResumes) {
    jsonxmltest::ReferenceFolder folder(6);
    ASSERT_TRUE(folder.ok);
    for (int n = 0; n < 6; n++) {
        std::string text = jsonxmltest::readText(folder.path + "/json_" + std::to_string(n) + ".json");
        auto lines = jsonxmltest::readTokenLines(folder.path + "/json_" + std::to_string(n) + ".tokens");
        for (size_t cut = 0; cut <= text.size(); cut++) {
            if (cut > 0 && std::strchr("0123456789.eE+-", text[cut - 1])) continue;
            SCOPED_TRACE("json_" + std::to_string(n) + " cut at " + std::to_string(cut));
            JsonReader reader = makeReader(text);
            reader.length = (i64)cut;
            std::vector<JsonToken> tokens = tokenize(&reader);
            ASSERT_EQ(tokens.back().kind, JsonEnd) << keyOf(tokens.back());
            tokens.pop_back();
            reader.length = (i64)text.size();
            std::vector<JsonToken> rest = tokenize(&reader);
            tokens.insert(tokens.end(), rest.begin(), rest.end());
            expectMatchesReference(tokens, lines);
            if (HasFailure()) return;
        }
    }
}

TEST(Json, NestedMembersCarryTheirKeys) {
    std::string text = "{\"a\": [1, {\"b\": null}]}";
    JsonReader reader = makeReader(text);
    auto tokens = tokenize(&reader);
    const u32 kinds[] = {JsonObjectBegin, JsonArrayBegin, JsonNumber, JsonObjectBegin, JsonNull,
                         JsonObjectEnd,   JsonArrayEnd,   JsonObjectEnd, JsonEnd};
    const char* keys[] = {"", "a", "a", "a", "b", "a", "a", "", ""};
    ASSERT_EQ(tokens.size(), 9u);
    for (size_t i = 0; i < 9; i++) {
        EXPECT_EQ(tokens[i].kind, kinds[i]) << i;
        EXPECT_EQ(keyOf(tokens[i]), keys[i]) << i;
    }
    EXPECT_EQ(tokens[2].integer, 1);

    JsonReader empty = makeReader("");
    EXPECT_EQ(tokenize(&empty).front().kind, JsonEnd);
    JsonReader nullArray = makeReader("[null]");
    auto n = tokenize(&nullArray);
    ASSERT_EQ(n.size(), 4u);
    EXPECT_EQ(n[1].kind, JsonNull);
    EXPECT_EQ(n[2].kind, JsonArrayEnd);

    JsonReader numbers = makeReader("[3, 2.75, -1e3, 12345678901234]");
    auto v = tokenize(&numbers);
    EXPECT_EQ(v[1].integer, 3);
    EXPECT_EQ(v[1].number, 3.0);
    EXPECT_EQ(v[2].integer, 2);
    EXPECT_EQ(v[2].number, 2.75);
    EXPECT_EQ(v[3].integer, -1000);
    EXPECT_EQ(v[4].integer, 12345678901234);
}

TEST(Json, CutInsideAMemberGoesBackToItsStart) {
    std::string full = "{\"a\": 1, \"name\": \"Burn unit\"}";
    JsonReader reader = makeReader(full);
    reader.length = 22;  // inside "Burn unit"
    auto tokens = tokenize(&reader);
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[2].kind, JsonEnd);
    EXPECT_EQ(reader.position, 7);  // the comma before "name"
    reader.length = (i64)full.size();
    JsonToken t;
    nextJsonToken(&t, &reader);
    EXPECT_EQ(t.kind, JsonString);
    EXPECT_EQ(keyOf(t), "name");
    EXPECT_EQ(std::string((const char*)t.stringText, (size_t)t.stringLength), "Burn unit");

    for (const char* cut : {"[1,", "[1, ", "{\"a\"", "{\"a\" ", "{\"a\":", "{\"a\": tr", "[nul", "{\"a\\u00"}) {
        JsonReader r = makeReader(cut);
        auto list = tokenize(&r);
        EXPECT_EQ(list.back().kind, JsonEnd) << cut << ": " << keyOf(list.back());
    }
}

std::string firstError(const std::string& text) {
    JsonReader reader = makeReader(text);
    for (const JsonToken& t : tokenize(&reader)) {
        if (t.kind == JsonError) return keyOf(t);
    }
    return "(no error)";
}

TEST(Json, MalformedInputMessages) {
    // UTF-8 text is taken as it stands; only control characters must be escaped.
    std::string utf8 = "[\"h\xC3\xA9llo \xE7\x81\xAB\"]";
    JsonReader reader = makeReader(utf8);
    auto tokens = tokenize(&reader);
    ASSERT_EQ(tokens[1].kind, JsonString);
    EXPECT_EQ(unescape(tokens[1]), "h\xC3\xA9llo \xE7\x81\xAB");
    EXPECT_EQ(firstError(std::string("[\"a\x01\"]")), "Invalid byte 0x01 at byte 3");
    EXPECT_EQ(firstError("[\"a\nb\"]"), "Invalid byte 0x0A at byte 3");
    EXPECT_EQ(firstError("[\"\\q\"]"), "Unexpected character q after \\ at byte 3");
    EXPECT_EQ(firstError("[\"\\u12G4\"]"), "Unexpected character G after \\u at byte 6");
    EXPECT_EQ(firstError("{\"a\" 1}"), "Unexpected character 1 at byte 5, expected ':'");
    EXPECT_EQ(firstError("[tru]"), "Expected \"true\" near byte 2");
    EXPECT_EQ(firstError("[fals,]"), "Expected \"false\" near byte 2");
    EXPECT_EQ(firstError("[nil1]"), "Expected \"null\" near byte 2");
    EXPECT_EQ(firstError("[@]"), "Unexpected character @ at byte 1");
    EXPECT_EQ(firstError("{1}"), "Unexpected character 1 at byte 1");
    EXPECT_EQ(firstError("}"), "Unexpected character } at byte 0");
    EXPECT_EQ(firstError("[1] ]"), "Unexpected character ] at byte 4");
    EXPECT_EQ(firstError("[-x]").rfind("Could not parse a number at byte ", 0), 0u);
    EXPECT_EQ(firstError(std::string(20, '[')), "(no error)");
    EXPECT_EQ(firstError(std::string(21, '[')), "Containers nested deeper than 20 levels at byte 20");
}

}  // namespace
