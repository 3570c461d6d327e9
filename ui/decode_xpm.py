#!/usr/bin/env python3
"""Decodes one XPM picture of ui/ into raw pixels, as C++ source for the build.

    decode_xpm.py INPUT.xpm.h OUTPUT.cpp VARIABLE

writes OUTPUT.cpp defining `const PicturePixels VARIABLE` (ui/pictures.h): the picture's
width, height, row stride, whether it has an alpha channel, and its RGB or RGBA bytes laid
out as gdk-pixbuf lays out the pixbuf that gdk_pixbuf_new_from_xpm_data makes of the same
XPM: three channels without a transparent colour, four with one, the row stride rounded up
to four bytes, a transparent pixel all zero bytes. ui/images_test.cpp holds the two equal,
byte for byte.

Only the form scripts/make-images writes is accepted: string literals alone between the
braces, a header "WIDTH HEIGHT COLOURS CHARS_PER_PIXEL", colours "CODE c #RRGGBB" or
"CODE c None", each code once, and rows of exactly WIDTH codes of known colours. Anything
else stops the build with a message naming the file, rather than yielding a picture that
differs from what the XPM shows.
"""

import os
import re
import sys


class XpmError(Exception):
    pass


def string_literals(text):
    """The string literals of the array initialiser in text, in order."""
    start = text.find("{")
    end = text.rfind("}")
    if start < 0 or end < start:
        raise XpmError("no array initialiser")
    body = text[start + 1:end]
    literal = re.compile(r'"([^"\\\n]*)"')
    rest = literal.sub("", body)
    if re.sub(r"[\s,]", "", rest):
        raise XpmError("the initialiser holds more than plain string literals")
    return literal.findall(body)


def parse_colour(colour_text):
    """(r, g, b, a) of a colour value: #RRGGBB opaque, None transparent."""
    if colour_text == "None":
        return (0, 0, 0, 0)
    match = re.fullmatch(r"#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})", colour_text)
    if not match:
        raise XpmError("colour %r is neither #RRGGBB nor None" % colour_text)
    return tuple(int(part, 16) for part in match.groups()) + (255,)


def decode(lines):
    """(width, height, rowstride, has_alpha, bytes) of the XPM given as its string lines."""
    if not lines:
        raise XpmError("empty")
    header = lines[0].split()
    if len(header) != 4 or not all(field.isdigit() for field in header):
        raise XpmError("header %r is not WIDTH HEIGHT COLOURS CHARS_PER_PIXEL" % lines[0])
    width, height, colour_count, code_length = (int(field) for field in header)
    if width <= 0 or height <= 0 or colour_count <= 0 or code_length <= 0:
        raise XpmError("header %r has a zero value" % lines[0])
    if len(lines) != 1 + colour_count + height:
        raise XpmError("%d lines, the header asks for %d" % (len(lines), 1 + colour_count + height))

    colours = {}
    for line in lines[1:1 + colour_count]:
        code = line[:code_length]
        fields = line[code_length:].split()
        if len(code) != code_length or len(fields) != 2 or fields[0] != "c":
            raise XpmError("colour line %r is not CODE c VALUE" % line)
        if code in colours:
            raise XpmError("colour code %r is given twice" % code)
        colours[code] = parse_colour(fields[1])

    has_alpha = any(rgba[3] == 0 for rgba in colours.values())
    channels = 4 if has_alpha else 3
    rowstride = (width * channels + 3) & ~3
    pixels = bytearray()
    for y, row in enumerate(lines[1 + colour_count:]):
        if len(row) != width * code_length:
            raise XpmError("row %d has %d characters, not %d" % (y, len(row), width * code_length))
        for x in range(0, len(row), code_length):
            rgba = colours.get(row[x:x + code_length])
            if rgba is None:
                raise XpmError("row %d uses the unknown code %r" % (y, row[x:x + code_length]))
            pixels += bytes(rgba[:channels])
        pixels += bytes(rowstride - width * channels)
    return width, height, rowstride, has_alpha, bytes(pixels)


def source_text(input_name, variable, width, height, rowstride, has_alpha, pixels):
    out = ["// Generated from ui/%s by ui/decode_xpm.py when the program is built." % input_name,
           "",
           '#include "ui/pictures.h"',
           "",
           "namespace {",
           "",
           "const unsigned char kPixels[%d] = {" % len(pixels)]
    for offset in range(0, len(pixels), 24):
        out.append("  " + ",".join(str(b) for b in pixels[offset:offset + 24]) + ",")
    out += ["};",
            "",
            "}  // namespace",
            "",
            "extern const PicturePixels %s = {%d, %d, %d, %s, kPixels};" %
            (variable, width, height, rowstride, "true" if has_alpha else "false"),
            ""]
    return "\n".join(out)


def main(argv):
    if len(argv) != 4 or not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", argv[3]):
        sys.stderr.write("usage: decode_xpm.py INPUT.xpm.h OUTPUT.cpp VARIABLE\n")
        return 2
    input_path, output_path, variable = argv[1:]
    try:
        with open(input_path, encoding="ascii") as source:
            decoded = decode(string_literals(source.read()))
    except (OSError, UnicodeDecodeError, XpmError) as error:
        sys.stderr.write("decode_xpm.py: %s: %s\n" % (input_path, error))
        return 1
    text = source_text(input_path.replace("\\", "/").split("/")[-1], variable, *decoded)
    # Written whole under a temporary name and renamed, so that a stopped build never leaves
    # a truncated source that looks up to date.
    temporary = output_path + ".tmp"
    try:
        with open(temporary, "w", encoding="ascii") as output:
            output.write(text)
        os.replace(temporary, output_path)
    except OSError as error:
        sys.stderr.write("decode_xpm.py: %s: %s\n" % (output_path, error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
