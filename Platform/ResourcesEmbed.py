"""Turns asset files into the program's resource table: one C++ source with every file's bytes as an
array, named by the upper-cased file name with blanks as "_", sorted by name. A file larger than the
part size is stored as numbered parts NAME.PART_0, NAME.PART_1, ...; files named "x.part_N" are
parts already and stay whole.

usage: ResourcesEmbed.py OUTPUT.cpp TABLE_SYMBOL PART_SIZE FILE...
"""
import os
import re
import sys


def resource_name(path):
    name = os.path.basename(path)
    return "".join("_" if c == " " else (c.upper() if "a" <= c <= "z" else c) for c in name)


def literal_lines(data, width=120):
    lines = []
    line = []
    count = 0
    for byte in data:
        if 0x20 <= byte < 0x7F and byte not in (0x22, 0x5C, 0x3F):
            line.append(chr(byte))
        else:
            line.append("\\%03o" % byte)
        count += 1
        if count == width:
            lines.append('"' + "".join(line) + '"')
            line = []
            count = 0
    if line or not lines:
        lines.append('"' + "".join(line) + '"')
    return "\n    ".join(lines)


def main():
    output, symbol, part_size = sys.argv[1], sys.argv[2], int(sys.argv[3])
    resources = {}
    for path in sys.argv[4:]:
        with open(path, "rb") as f:
            data = f.read()
        name = resource_name(path)
        pieces = [(name, data)]
        # A file that is already a part keeps its name.
        if len(data) > part_size and not re.search(r"\.PART_[0-9]+$", name):
            pieces = [("%s.PART_%d" % (name, i // part_size), data[i:i + part_size])
                      for i in range(0, len(data), part_size)]
        for piece_name, piece in pieces:
            if piece_name in resources:
                sys.exit("two assets share the resource name %s" % piece_name)
            resources[piece_name] = piece
    names = sorted(resources, key=lambda n: n.encode("utf-8"))
    out = ["// Generated from the asset files; do not edit.", '#include "Platform/Resources.h"', "", "namespace {"]
    for index, name in enumerate(names):
        out.append("alignas(16) const unsigned char resource%d[] =\n    %s;" % (index, literal_lines(resources[name])))
    if names:
        out.append("const EmbeddedResource entries[] = {")
        for index, name in enumerate(names):
            escaped = name.replace("\\", "\\\\").replace('"', '\\"')
            out.append('    {"%s", resource%d, %d},' % (escaped, index, len(resources[name])))
        out.append("};")
    out.append("}  // namespace")
    out.append("")
    if names:
        out.append("extern const EmbeddedResourceTable %s;" % symbol)
        out.append("const EmbeddedResourceTable %s = {entries, %d};" % (symbol, len(names)))
    else:
        out.append("extern const EmbeddedResourceTable %s;" % symbol)
        out.append("const EmbeddedResourceTable %s = {nullptr, 0};" % symbol)
    text = "\n".join(out) + "\n"
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    old = None
    if os.path.exists(output):
        with open(output) as f:
            old = f.read()
    if old != text:
        with open(output, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
