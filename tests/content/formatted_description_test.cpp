// Descriptions formatted into blocks and styled runs: one labelled row per case, grouped by what
// the reader sees (blocks, styles, images and tables, text), then the bounds against hostile HTML
// and the sources items find again in a saved feed document.
#include "content/description_source.h"
#include "content/formatted_description.h"
#include "content/key_hash.h"
#include "content/json_feed.h"
#include "content/rss_parser.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The document in one line: blocks between " | ", each its kind and level, its marker in
// brackets, then its runs; a styled run is {flags:text} (b, i, u, c for code) with @link.
std::string render(const FormattedDescription* document) {
    static const char* const kinds[] = {"p", "h", "li", "quote", "pre"};
    std::string out;
    for (int32_t k = 0; k < document->blockCount; ++k) {
        const FormattedBlock& block = document->blocks[k];
        out += k > 0 ? " | " : "";
        out += kinds[block.kind] + std::to_string(block.level);
        if (block.marker[0] != '\0')
            out += std::string("[") + block.marker + "]";
        out += ' ';
        for (int32_t r = 0; r < block.runCount; ++r) {
            const FormattedRun& run = document->runs[block.firstRun + r];
            std::string text(run.text, static_cast<size_t>(run.length));
            if (run.style == 0 && run.link == nullptr) {
                out += text;
                continue;
            }
            out += '{';
            out += (run.style & BoldStyle) ? "b" : "";
            out += (run.style & ItalicStyle) ? "i" : "";
            out += (run.style & UnderlineStyle) ? "u" : "";
            out += (run.style & CodeStyle) ? "c" : "";
            out += ':' + text + (run.link != nullptr ? std::string("@") + run.link : "") + '}';
        }
    }
    return out;
}

// Formats text from an exact-size heap copy, so a read past it trips the sanitizer.
FormattedDescription* format(const std::string& text, DescriptionForm form) {
    char* source = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(source, text.data(), text.size());
    FormattedDescription* document = formatDescription(source, text.size(), form);
    std::free(source);
    return document;
}

std::string formatted(const std::string& text, DescriptionForm form = RawHtml) {
    FormattedDescription* document = format(text, form);
    std::string out = document != nullptr ? render(document) : "(no memory)";
    freeFormattedDescription(document);
    return out;
}

struct Row {
    const char* label;
    DescriptionForm form;
    const char* input;
    const char* expected;
};

void checkRows(const Row* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::string got = formatted(rows[i].input, rows[i].form);
        if (got != rows[i].expected)
            check::fail(__FILE__, __LINE__,
                        std::string(rows[i].label) + ": got " + got + ", expected " +
                            rows[i].expected);
    }
}

} // namespace

TEST(blocksTable) {
    static const Row rows[] = {
        {"paragraphs and the text between them", RawHtml, "<p>one</p>two<div>three</div>four",
         "p1 one | p1 two | p1 three | p1 four"},
        {"a line break inside its block", RawHtml, "<p>a<br>b<br/><br>c</p>", "p1 a\nb\n\nc"},
        {"line breaks at a block's ends go", RawHtml, "<br><p><br>a <br></p><br>", "p1 a"},
        {"headings by number", RawHtml, "<h1>A</h1><H3 class=x>B</h3>c", "h1 A | h3 B | p1 c"},
        {"bullets at every depth, nesting as a level", RawHtml,
         "<ul><li>a<ul><li>b<ul><li>c</ul></ul><li>d</ul>",
         "li1[\xe2\x80\xa2] a | li2[\xe2\x80\xa2] b | li3[\xe2\x80\xa2] c | li1[\xe2\x80\xa2] d"},
        {"numbers from start, inner lists numbered apart", RawHtml,
         "<ol start=\"9\"><li>a<li>b<ol><li>c</ol><li>d</ol><ol><li>e</ol>",
         "li1[9.] a | li1[10.] b | li2[1.] c | li1[11.] d | li1[1.] e"},
        {"an unreadable start counts from one", RawHtml, "<ol start=x><li>a</ol>", "li1[1.] a"},
        {"an item's later blocks have no marker, empty items none at all", RawHtml,
         "<ul><li></li><li><p>a</p><p>b</p></li></ul>", "li1[\xe2\x80\xa2] a | li1 b"},
        {"quotations as a level", RawHtml, "<blockquote>a<blockquote>b</blockquote>c</blockquote>d",
         "quote1 a | quote2 b | quote1 c | p1 d"},
        {"preformatted keeps its white space, not its first line break", RawHtml,
         "<pre>\n  x  =  1;\n\ty &lt; 2\n</pre>after", "pre1   x  =  1;\n\ty < 2 | p1 after"},
        {"escaped preformatted text keeps its lines", EscapedHtml, "&lt;pre&gt;a\n  b&lt;/pre&gt;",
         "pre1 a\n  b"},
        {"unclosed blocks end with the text", RawHtml, "<ul><li>a<li>b<h2>c",
         "li1[\xe2\x80\xa2] a | li1[\xe2\x80\xa2] b | h2 c"},
        {"empty description", RawHtml, "<p> </p><div></div>", ""},
        {"XHTML elements under any prefix", RawHtml,
         "<x:div><x:p>One <x:b>B</x:b></x:p><xhtml:script>evil()</xhtml:script>"
         "<x:ul><x:li>L</x:li></x:ul>two</x:div>",
         "p1 One {b:B} | li1[\xe2\x80\xa2] L | p1 two"},
    };
    checkRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(runsTable) {
    static const Row rows[] = {
        {"bold, italic, underline, code", RawHtml,
         "<b>b</b> <strong>s</strong> <i>i</i> <em>e</em> <cite>c</cite> <u>u</u> <code>x</code> "
         "<kbd>k</kbd>",
         "p1 {b:b} {b:s} {i:i} {i:e} {i:c} {u:u} {c:x} {c:k}"},
        {"nested styles add up and end in any order", RawHtml, "<b>a<i>b</b>c</i>d",
         "p1 {b:a}{bi:b}{i:c}d"},
        {"links underlined with their address kept", RawHtml,
         "see <a href='https://a.example/?x=1&amp;y=2'>the <b>page</b></a>.",
         "p1 see {u:the @https://a.example/?x=1&y=2}{bu:page@https://a.example/?x=1&y=2}."},
        {"a link without an address is still underlined", RawHtml, "<a name=top>here</a>",
         "p1 {u:here}"},
        {"stray closing tags change nothing", RawHtml, "</b></i></a></ul></blockquote>a", "p1 a"},
        {"blanks between runs fold once", RawHtml, "a <b> b </b> c", "p1 a {b:b }c"},
        {"escaped markup", EscapedHtml,
         "&lt;p&gt;Caf&amp;eacute; &lt;b&gt;fort&lt;/b&gt;&lt;/p&gt;&lt;p&gt;2&lt;/p&gt;",
         "p1 Caf\xc3\xa9 {b:fort} | p1 2"},
    };
    checkRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(imagesTablesAndDroppedContent) {
    static const Row rows[] = {
        {"images as their alternative text", RawHtml,
         "a <img src=x.png alt=\"harbour at dawn\"> b <img src=y.png> <img alt=''>",
         "p1 a [image: harbour at dawn] b [image] [image]"},
        {"tables one line per row, cells two blanks apart", RawHtml,
         "<table><tr><th>Name</th><th> Age </th></tr><tr><td>Ann<td>7<td></td></tr></table>",
         "p1 Name  Age | p1 Ann  7"},
        {"scripts, styles, forms, iframes, noscript, template and comments go", RawHtml,
         "a<script>if (x<y) alert(1)</script><style>p{}</style><form><b>f</b></form>"
         "<iframe src=z>i</iframe><noscript>n</noscript><template>t</template><!-- c -->b",
         "p1 ab"},
        {"an unclosed script takes the rest", RawHtml, "a<SCRIPT>b<p>c", "p1 a"},
        {"an unclosed comment takes the rest", RawHtml, "a<!-- b <p>c", "p1 a"},
        {"a '<' that starts no tag is text", RawHtml, "1 < 2 <> 3 &lt;b&gt;", "p1 1 < 2 <> 3 <b>"},
        {"references decoded, white space folded", RawHtml,
         "  a&nbsp;&amp;&#x41;\n\t b &eacute;t&eacute; ", "p1 a\xc2\xa0&A b \xc3\xa9t\xc3\xa9"},
        {"plain text: a paragraph per block of lines", PlainText,
         "first line\nsame paragraph\n \n\n  second <b>not bold</b>  \n",
         "p1 first line same paragraph | p1 second <b>not bold</b>"},
    };
    checkRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(hostileInputStaysBounded) {
    // Ten thousand nested lists show at the deepest level; the block after them is at level one.
    std::string lists;
    for (int i = 0; i < 10000; ++i)
        lists += "<ul><li>x";
    FormattedDescription* deep = format(lists + std::string(10000 * 5, ' ') + "</ul>", RawHtml);
    REQUIRE(deep != nullptr);
    CHECK_EQ(deep->blockCount, formattedBlockLimit);
    CHECK_EQ(static_cast<int>(deep->blocks[formattedBlockLimit - 1].level), formattedLevelLimit);
    CHECK(deep->cut);
    freeFormattedDescription(deep);

    std::string closed;
    for (int i = 0; i < 10000; ++i)
        closed += "<ol><blockquote>";
    closed += "in";
    for (int i = 0; i < 10000; ++i)
        closed += "</blockquote></ol>";
    CHECK_EQ(formatted(closed + "out"), std::string("li8 in | p1 out"));

    // A million unclosed <b> and a megabyte of one word: bold text, cut at the limit with "…".
    std::string bolds;
    for (int i = 0; i < 1000000; ++i)
        bolds += "<b>";
    FormattedDescription* many = format(bolds + std::string(1 << 20, 'w'), RawHtml);
    REQUIRE(many != nullptr);
    REQUIRE(many->blockCount == 1 && many->runCount == 1);
    CHECK(many->cut);
    CHECK_EQ(static_cast<int>(many->runs[0].style), static_cast<int>(BoldStyle));
    CHECK_EQ(std::string(many->runs[0].text, many->runs[0].length),
             std::string(formattedCharacterLimit, 'w') + "\xe2\x80\xa6");
    freeFormattedDescription(many);

    // Characters count, not bytes: 4,000 two-byte letters fit whole, the next one is cut.
    std::string letters;
    for (int i = 0; i <= formattedCharacterLimit; ++i)
        letters += "\xc3\xa9";
    CHECK_EQ(formatted(letters.substr(2), PlainText), "p1 " + letters.substr(2));
    std::string cutLetters = formatted(letters, PlainText);
    CHECK_EQ(cutLetters, "p1 " + letters.substr(2) + "\xe2\x80\xa6");

    // Cut after a blank: the mark follows the last word.
    std::string words;
    for (int i = 0; i < formattedCharacterLimit / 2 + 1; ++i)
        words += "w ";
    std::string cutWords = formatted(words, PlainText);
    CHECK_EQ(cutWords.substr(cutWords.size() - 6), std::string("w w\xe2\x80\xa6"));

    // 300 paragraphs: the first 200, the last of them ending in "…".
    std::string paragraphs;
    for (int i = 0; i < 300; ++i)
        paragraphs += "<p>" + std::to_string(i) + "</p>";
    FormattedDescription* long_ = format(paragraphs, EscapedHtml);
    REQUIRE(long_ != nullptr);
    CHECK_EQ(long_->blockCount, formattedBlockLimit);
    const FormattedRun& last = long_->runs[long_->runCount - 1];
    CHECK_EQ(std::string(last.text, last.length), std::string("199\xe2\x80\xa6"));
    freeFormattedDescription(long_);
}

TEST(plainTextOfTheDocument) {
    FormattedDescription* document =
        format("<h2>T\xc3\xa9</h2><p>a<br>b</p><ol><li>one</ol><ul><li>two</ul>", RawHtml);
    REQUIRE(document != nullptr);
    char whole[64];
    size_t needed = formattedPlainText(document, whole, sizeof whole);
    CHECK_EQ(std::string(whole), std::string("T\xc3\xa9\na\nb\n1. one\n\xe2\x80\xa2 two"));
    CHECK_EQ(needed, std::strlen(whole));
    char small[3]; // "T" and a cut "é" would not be whole: only "T" is written
    CHECK_EQ(formattedPlainText(document, small, sizeof small), needed);
    CHECK_EQ(std::string(small), std::string("T"));
    freeFormattedDescription(document);
}

// The formatted description of the item keyed key at position index, found in a saved document
// as the tooltip finds it; "(none)" when the document does not tell which item is meant.
std::string sourceOf(const std::string& document, const char* contentType, const char* key,
                     int32_t index) {
    std::string work = document;
    DescriptionSources* sources =
        readDescriptionSources(&work[0], work.size(), contentType, "http://127.0.0.1/feed");
    DescriptionSource found;
    std::string out = "(none)";
    if (sources != nullptr && findDescriptionSource(sources, keyHashOf(key), index, &found)) {
        FormattedDescription* formattedSource =
            formatDescription(found.text, found.length, found.form);
        out = formattedSource != nullptr ? render(formattedSource) : "(no memory)";
        freeFormattedDescription(formattedSource);
    }
    freeDescriptionSources(sources);
    return out;
}

TEST(itemsFindTheirDescriptionSourcesInASavedDocument) {
    // Latin-1, read in its own character set as the shown list was.
    const std::string rss =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss><channel><title>F</title>"
        "<item><guid>a</guid><title>escaped</title><description>&lt;p&gt;a&lt;/p&gt;&lt;p&gt;b"
        "&lt;/p&gt;</description></item>"
        "<item><guid>b</guid><title>cdata</title><description><![CDATA[<ul><li>x</ul>]]>"
        "</description></item>"
        "<item><guid>dup</guid><title>first</title><description>one &lt;b&gt;1&lt;/b&gt;"
        "</description></item>"
        "<item><guid>dup</guid><title>second</title><description>two</description></item>"
        "<item><guid>c</guid><title>content</title><description> </description>"
        "<content:encoded><![CDATA[<h2>from content</h2>]]></content:encoded></item>"
        "<item><guid>e</guid><title>latin</title><description>caf\xe9 &lt;i&gt;noir&lt;/i&gt;"
        "</description></item>"
        "<item><guid>n</guid><title>no description</title></item>"
        "<item><link>/relative</link><title>keyed by link</title><description>&lt;b&gt;l"
        "&lt;/b&gt;</description></item>"
        "</channel></rss>";
    // Atom entries without a link are keyed by their titles.
    const std::string atom =
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
        "<entry><id>h</id><title>html</title><summary type=\"html\">&lt;p&gt;&lt;em&gt;x&lt;/em"
        "&gt;&lt;/p&gt;</summary></entry>"
        "<entry><id>x</id><title>xhtml</title><content type=\"xhtml\"><div xmlns=\""
        "http://www.w3.org/1999/xhtml\"><p><b>y</b></p><ol start=\"3\"><li>z</li></ol></div>"
        "</content></entry>"
        "<entry><id>t</id><title>text</title><summary type=\"text\">a &lt;i&gt;b&lt;/i&gt;"
        "</summary></entry>"
        "<entry><id>w</id><title>words</title><summary>just words</summary></entry>"
        "</feed>";
    const std::string json =
        "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": \"J\", \"items\": ["
        "{\"id\": \"1\", \"title\": \"t\", \"content_text\": \"one\\n\\n<b>two</b>\"},"
        "{\"id\": \"2\", \"title\": \"h\", \"content_html\": \"<p>a &amp; <i>b</i></p>\"},"
        "{\"id\": \"3\", \"title\": \"s\", \"summary\": \"short\", \"content_html\": \"<b>c</b>\"}"
        "]}";
    struct Case {
        const std::string* document;
        const char* key;
        int32_t index; // the item's position in the list on show (the header is 0)
        const char* expected;
    } cases[] = {
        {&rss, "a", 1, "p1 a | p1 b"},
        {&rss, "b", 2, "li1[\xe2\x80\xa2] x"},
        {&rss, "dup", 3, "p1 one {b:1}"},
        {&rss, "dup", 4, "p1 two"},
        {&rss, "dup", 9, "(none)"},    // repeated elsewhere: which one is meant cannot be told
        {&rss, "a", 7, "p1 a | p1 b"}, // a newer list moved it: its key alone finds it
        {&rss, "c", 5, "h2 from content"},
        {&rss, "e", 6, "p1 caf\xc3\xa9 {i:noir}"},
        {&rss, "n", 7, "(none)"},
        {&rss, "http://127.0.0.1/relative", 8, "p1 {b:l}"},
        {&rss, "missing", 1, "(none)"},
        {&atom, "html", 1, "p1 {i:x}"},
        {&atom, "xhtml", 2, "p1 {b:y} | li1[3.] z"},
        {&atom, "text", 3, "p1 a {i:b}"},
        {&atom, "words", 4, "p1 just words"},
        {&json, "1", 1, "p1 one | p1 <b>two</b>"},
        {&json, "2", 2, "p1 a & {i:b}"},
        {&json, "3", 3, "p1 short"},
    };
    for (const Case& c : cases) {
        std::string row = std::string(c.key) + " at " + std::to_string(c.index) + ": ";
        CHECK_EQ(row + sourceOf(*c.document, nullptr, c.key, c.index), row + c.expected);
    }
    // The character set a Content-Type names wins, as in a parse.
    std::string koi = "<rss><channel><item><guid>k</guid><description>\xf0\xd2\xc9"
                      "</description></item></channel></rss>";
    CHECK_EQ(sourceOf(koi, "text/xml; charset=koi8-r", "k", 1),
             std::string("p1 \xd0\x9f\xd1\x80\xd0\xb8"));
    CHECK_EQ(sourceOf("not a feed", nullptr, "a", 1), std::string("(none)"));
}
