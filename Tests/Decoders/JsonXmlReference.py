#!/usr/bin/python3
"""Reference token streams for the JSON and XML tokenizer tests.

Writes random JSON documents and random KML-like XML documents into the folder given as the first
argument, each with the token sequence that a walker over Python's json and xml.sax results expects:
  json_N.json / json_N.tokens   lines: kind, key (hex), value
  xml_N.xml   / xml_N.tokens    lines: kind, depth, element name (hex), name or text (hex), value (hex)
Values and texts are given decoded; the test decodes the tokenizers' raw slices before comparing.
"""
import io
import json
import random
import sys
import xml.sax
import xml.sax.handler

out = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 40
rng = random.Random(20261207)

WORDS = ["name", "id", "Name", "geo footprint", "ContentDate", "Start", "Online", "S3Path", "Checksum",
         "Value", "Algorithm", "données", "高さ", "emoji😀", "quote\"d", "back\\slash", "tab\tkey", ""]


def random_text(max_length=12):
    pieces = []
    for _ in range(rng.randint(0, max_length)):
        r = rng.random()
        if r < 0.6:
            pieces.append(chr(rng.randint(0x20, 0x7E)))
        elif r < 0.7:
            pieces.append(rng.choice("\"\\/\b\f\n\r\t\u0001\u001f"))
        elif r < 0.9:
            pieces.append(chr(rng.randint(0xA0, 0x7FF)))
        elif r < 0.97:
            pieces.append(chr(rng.choice([0x4E2D, 0x20AC, 0xFFFD, 0x3042])))
        else:
            pieces.append(chr(rng.randint(0x1F300, 0x1F64F)))
    return "".join(pieces)


def random_number():
    r = rng.random()
    if r < 0.4:
        return rng.randint(-10**12, 10**12)
    if r < 0.5:
        return rng.randint(-9, 9)
    if r < 0.8:
        return round(rng.uniform(-1000, 1000), rng.randint(0, 6))
    return rng.uniform(-1, 1) * 10 ** rng.randint(-20, 20)


def random_value(depth):
    r = rng.random()
    if depth < 7 and r < 0.2:
        return {random_text(8) if rng.random() < 0.3 else rng.choice(WORDS): random_value(depth + 1)
                for _ in range(rng.randint(0, 5))}
    if depth < 7 and r < 0.35:
        return [random_value(depth + 1) for _ in range(rng.randint(0, 5))]
    if r < 0.55:
        return random_text()
    if r < 0.85:
        return random_number()
    return rng.choice([None, True, False])


def hexof(text):
    return text.encode("utf-8", "surrogatepass").hex()


def json_tokens(value, key, lines):
    if isinstance(value, dict):
        lines.append("7\t%s\t" % hexof(key))
        for k, v in value.items():
            json_tokens(v, k, lines)
        lines.append("9\t%s\t" % hexof(key))
    elif isinstance(value, list):
        lines.append("6\t%s\t" % hexof(key))
        for v in value:
            json_tokens(v, key, lines)
        lines.append("8\t%s\t" % hexof(key))
    elif value is None:
        lines.append("2\t%s\t" % hexof(key))
    elif isinstance(value, bool):
        lines.append("3\t%s\t%d" % (hexof(key), value))
    elif isinstance(value, int):
        lines.append("4\t%s\ti%d" % (hexof(key), value))
    elif isinstance(value, float):
        lines.append("4\t%s\tf%r" % (hexof(key), value))
    else:
        lines.append("5\t%s\t%s" % (hexof(key), hexof(value)))


for n in range(count):
    top = rng.choice([dict, list, dict])
    value = random_value(0)
    if not isinstance(value, top):
        value = {"value": value} if top is dict else [value]
    ascii_only = rng.random() < 0.5
    # Escaped surrogate pairs are not joined by the runtime's unescaping, so characters beyond the
    # BMP are written as UTF-8 text.
    if any(ord(c) > 0xFFFF for c in json.dumps(value, ensure_ascii=False)):
        ascii_only = False
    text = json.dumps(value, ensure_ascii=ascii_only, indent=rng.choice([None, None, 1, "\t"]),
                      separators=rng.choice([None, (",", ":"), (" , ", " : ")]))
    lines = []
    json_tokens(json.loads(text), "", lines)
    lines.append("1\t\t")
    with open("%s/json_%d.json" % (out, n), "w", encoding="utf-8") as f:
        f.write(text)
    with open("%s/json_%d.tokens" % (out, n), "w") as f:
        f.write("\n".join(lines) + "\n")

# ---- XML ----

KML_NAMES = ["Document", "Folder", "Placemark", "name", "description", "Style", "LineStyle", "color", "width",
             "Point", "LineString", "Polygon", "outerBoundaryIs", "LinearRing", "coordinates", "ExtendedData",
             "Data", "value", "gx:Track", "gx:coord", "when", "Icon", "href", "données", "名前"]
ATTRIBUTE_NAMES = ["id", "name", "xmlns", "xmlns:gx", "targetId", "unité"]


def escape_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def raw_value(value, quote):
    v = value.replace("&", "&amp;").replace("<", "&lt;")
    if quote == '"':
        v = v.replace('"', rng.choice(["&quot;", "&quot;"]))
    else:
        v = v.replace("'", "&apos;")
    return v


def xml_text_value():
    pieces = []
    for _ in range(rng.randint(1, 10)):
        r = rng.random()
        if r < 0.7:
            pieces.append(rng.choice(["8.5", ",", "47.3", " ", "Burn unit", "ffff00ff", "-12", "é", "°", "火", "&",
                                      "<", ">", "'", '"', "\n", "😀"]))
        else:
            pieces.append(chr(rng.randint(0x21, 0x7E)))
    text = "".join(pieces)
    if not text.strip():
        text += "x"
    return text[:60]


def xml_element(depth, parts):
    name = rng.choice(KML_NAMES)
    attributes = []
    used = set()
    for _ in range(rng.choice([0, 0, 1, 2, 3])):
        attribute = rng.choice(ATTRIBUTE_NAMES)
        if attribute in used:
            continue
        used.add(attribute)
        quote = rng.choice(['"', "'"])
        value = rng.choice(["", "1", "Burn plan", "#style1", "http://www.opengis.net/kml/2.2", "a'b", 'c"d',
                            "x&y<z", "ümlaut", "火"])
        attributes.append("%s%s=%s%s%s%s" % (attribute, rng.choice(["", " "]), rng.choice(["", " "]), quote,
                                              raw_value(value, quote), quote))
    space = rng.choice(["", " ", "\n  "])
    opening = "<" + name + "".join(" " + a for a in attributes) + space
    r = rng.random()
    if r < 0.2:
        parts.append(opening + "/>")
        return
    parts.append(opening + ">")
    if depth < 5 and r < 0.55:
        if rng.random() < 0.3:
            parts.append(escape_text(xml_text_value()))
        for _ in range(rng.randint(0, 4)):
            parts.append(rng.choice(["", "\n", "\n    ", "  "]))
            if rng.random() < 0.1:
                parts.append("<!-- a comment with <b>tags</b> -->")
            xml_element(depth + 1, parts)
        parts.append(rng.choice(["", "\n"]))
    elif r < 0.65:
        parts.append("<![CDATA[<b>Burn</b> & more]]>")
    else:
        parts.append(escape_text(xml_text_value()))
    parts.append("</%s%s>" % (name, rng.choice(["", " "])))


class Walker(xml.sax.handler.ContentHandler, xml.sax.handler.LexicalHandler):
    def __init__(self):
        super().__init__()
        self.lines = []
        self.depth = 0
        self.pending = None  # (element name, collected text) while an element's first text may come
        self.in_cdata = False

    def flush(self):
        if self.pending is not None:
            name, text = self.pending
            if text.strip(" \t\r\n\ufeff"):
                self.lines.append("3\t%d\t%s\t%s\t" % (self.depth, hexof(name), hexof(text)))
            self.pending = None

    def startElement(self, name, attrs):
        self.flush()
        self.lines.append("0\t%d\t%s\t\t" % (self.depth, hexof(name)))
        self.depth += 1
        for attribute in attrs.getNames():
            self.lines.append("2\t%d\t%s\t%s\t%s" % (self.depth, hexof(name), hexof(attribute),
                                                      hexof(attrs.getValue(attribute))))
        self.pending = (name, "")
        self.cdata_seen = False

    def endElement(self, name):
        self.flush()
        self.depth -= 1
        self.lines.append("1\t%d\t%s\t\t" % (self.depth, hexof(name)))

    def characters(self, content):
        if self.in_cdata:
            # The tokenizer skips CDATA sections, and the text token ends at their "<".
            self.flush()
            return
        if self.pending is not None:
            self.pending = (self.pending[0], self.pending[1] + content)

    def startCDATA(self):
        self.flush()
        self.in_cdata = True

    def endCDATA(self):
        self.in_cdata = False

    def comment(self, content):
        self.flush()

    def processingInstruction(self, target, data):
        self.flush()


for n in range(count):
    parts = []
    if rng.random() < 0.7:
        parts.append('<?xml version="1.0" encoding="UTF-8"?>\n')
    if rng.random() < 0.2:
        parts.append('<!DOCTYPE kml [\n  <!ELEMENT kml ANY>\n]>\n')
    if rng.random() < 0.2:
        parts.append("<!-- exported by the KMZ editor -->\n")
    parts.append('<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">\n')
    for _ in range(rng.randint(1, 4)):
        xml_element(1, parts)
        parts.append("\n")
    parts.append("</kml>\n")
    text = "".join(parts)
    if rng.random() < 0.1:
        text = "\ufeff" + text
    walker = Walker()
    parser = xml.sax.make_parser()
    parser.setContentHandler(walker)
    parser.setProperty(xml.sax.handler.property_lexical_handler, walker)
    parser.parse(io.BytesIO(text.encode("utf-8")))
    walker.lines.append("4\t0\t\t\t")
    with open("%s/xml_%d.xml" % (out, n), "w", encoding="utf-8") as f:
        f.write(text)
    with open("%s/xml_%d.tokens" % (out, n), "w") as f:
        f.write("\n".join(walker.lines) + "\n")
