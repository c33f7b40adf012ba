#!/usr/bin/env python3
"""Writes the golden files of content_charset: each feed encoded with Python's codecs (NAME.in)
and the UTF-8 that convertToUtf8 must make of it (NAME.out). The test's table gives each file's
Content-Type. Run it in this folder; the files are checked in."""

FEED = """<?xml version="1.0" encoding="{label}"?>
<rss version="2.0"><channel><title>{title}</title>
<item><title>{item}</title><description>{description}</description></item>
</channel></rss>
"""

TEXTS = {
    "latin": ("Caf\u00e9 \u00e0 la cr\u00e8me", "\u00c9t\u00e9 \u00ab chaud \u00bb \u00b0C \u00bd",
              "Na\u00efve \u00fcber \u00df \u00f1 \u00a9 \u00ae \u00b5"),
    "cyrillic": ("\u041d\u043e\u0432\u043e\u0441\u0442\u0438", "\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440!",
                 "\u0401\u043b\u043a\u0430 \u0436\u0443\u0440\u043d\u0430\u043b \u2014 \u00ab\u0446\u0438\u0442\u0430\u0442\u0430\u00bb"),
    "japanese": ("\u30cb\u30e5\u30fc\u30b9", "\u6771\u4eac\u3067\u96ea\u304c\u964d\u308a\u307e\u3057\u305f",
                 "\uff76\uff80\uff76\uff85 \u534a\u89d2\u3068\u5168\u89d2\u3001\u8a18\u53f7\u2605"),
    "chinese": ("\u65b0\u95fb", "\u5317\u4eac\u4eca\u5929\u4e0b\u96ea\u4e86",
                "\u4e2d\u6587\u7b80\u4f53\u3001\u6807\u70b9\u300a\u4e66\u540d\u300b"),
    "mixed": ("Mixed \u00e9\u4e2d\u0416", "Emoji \U0001F600 and \u20ac",
              "Greek \u03a9\u03b1 and math \u2211"),
}


def feed(label, kind):
    title, item, description = TEXTS[kind]
    return FEED.format(label=label, title=title, item=item, description=description)


def write(name, data, expected):
    with open(name + ".in", "wb") as f:
        f.write(data)
    with open(name + ".out", "wb") as f:
        f.write(expected.encode("utf-8"))


def main():
    # ISO-8859-1 is read as windows-1252: its smart quotes come through.
    text = feed("ISO-8859-1", "latin").replace("chaud", "\u201cchaud\u201d")
    write("iso_8859_1", text.encode("cp1252"), text)
    text = feed("windows-1251", "cyrillic")
    write("windows_1251", text.encode("cp1251"), text)
    # KOI8-R has no dash or guillemets, but box drawing.
    text = feed("KOI8-R", "cyrillic").replace("\u2014 \u00ab", "\u2500 \"").replace("\u00bb", "\"")
    write("koi8_r", text.encode("koi8_r"), text)
    text = feed("Shift_JIS", "japanese")
    write("shift_jis", text.encode("cp932"), text)
    text = feed("GB2312", "chinese")
    write("gb2312", text.encode("gbk"), text)
    text = feed("UTF-16", "mixed")
    write("utf16_le_bom", b"\xff\xfe" + text.encode("utf-16-le"), text)
    write("utf16_be_bom", b"\xfe\xff" + text.encode("utf-16-be"), text)
    # Broken Shift_JIS: a lead byte before '<' (the tag stays whole), a lead byte and an ASCII byte
    # that together map to nothing (the ASCII byte is read again on its own), an unmapped pair of
    # non-ASCII bytes, a lone lead byte at the very end. Each broken character is one U+FFFD.
    good = "\u6771\u4eac".encode("cp932")
    data = (b"<?xml version='1.0'?><rss><title>" + good + b"\x82</title><d>" + b"\x85\x40" +
            good + b"x\xeb\xa1</d></rss>\x81")
    expected = ("<?xml version='1.0'?><rss><title>\u6771\u4eac\ufffd</title><d>\ufffd@"
                "\u6771\u4eacx\ufffd</d></rss>\ufffd")
    write("shift_jis_invalid", data, expected)
    # A declared charset whose name is unknown: the body is read as it is.
    text = feed("x-no-such-charset", "latin")
    write("unknown_charset", text.encode("utf-8"), text)
    # A UTF-8 byte-order mark is dropped.
    text = feed("UTF-8", "mixed")
    write("utf8_bom", b"\xef\xbb\xbf" + text.encode("utf-8"), text)


if __name__ == "__main__":
    main()
