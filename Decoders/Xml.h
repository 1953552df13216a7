// Pull tokenizer for XML 1.0 documents, the XML entity decoder and the PDF indirect-reference
// reader. Tokens are slices of the caller's text; nothing is unescaped, built or allocated.
#pragma once
#include "Core/FixedString.h"

enum XmlTokenKind : u32 {
    XmlElementOpen = 0,   // depth of the element, before the count goes up
    XmlElementClose = 1,  // by a closing tag or "/>"; depth after the count goes down
    XmlAttribute = 2,     // depth of the element's content
    XmlText = 3,          // depth of the element's content
    XmlEnd = 4,           // end of input when message is empty, else an error
};

// The caller fills text, position and length and zeroes the rest.
struct XmlReader {
    const u8* text;
    i64 position;
    i64 length;
    i32 depth;               // elements now open
    i64 elementStart;        // where the name of the element being read begins; 0 none
    i64 elementNameLength;
    u32 insideTag;           // 1 inside an opening tag after its name
};

struct XmlToken {
    u32 kind;  // XmlTokenKind
    const u8* elementName;
    i64 elementNameLength;
    const u8* name;  // attribute name, or the text of a text token
    i64 nameLength;
    const u8* value;  // attribute value without its quotes
    i64 valueLength;
    i32 depth;
    FixedString message;
};

XmlToken* nextXmlToken(XmlToken* out, XmlReader* reader);

// Replaces the entities &amp; &lt; &gt; &apos; &quot; in place; any other "&" text stays as it
// stands. Freed bytes at the end are zeroed. Returns the new length.
u8 decodeXmlEntities(u8* text, u8 length);

struct PdfReference {
    i32 objectNumber;
    i32 generation;
};

// Reads "object generation R" at *position. 0 on success with the position just past the R; 1 on
// failure with the position unchanged.
i32 parsePdfReference(const u8* text, i64 end, i64* position, PdfReference* out);
