#include <gtest/gtest.h>

#include <random>
#include <string>

#include "track/xmlscanner.h"

namespace {

// Writes every event into one line: P(version,encoding,standalone) S(name|attr=value) E(name) C(text).
class TEventLog final : public TXmlHandler {
 public:
  void XmlProlog(std::string_view version, std::string_view encoding, bool standalone) override {
    Log += "P(" + std::string(version) + "," + std::string(encoding) + "," + (standalone ? "1" : "0") + ")";
  }
  void StartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes) override {
    Log += "S(" + std::string(name);
    for (const TXmlAttribute& a : attributes) Log += "|" + std::string(a.Name) + "=" + a.Value;
    Log += ")";
  }
  void EndTag(std::string_view name) override { Log += "E(" + std::string(name) + ")"; }
  void Content(std::string_view text) override {
    EXPECT_FALSE(text.empty());
    Log += "C(" + std::string(text) + ")";
  }
  std::string Log;
};

std::string EventsOf(std::string_view document) {
  TXmlScanner scanner;
  TEventLog log;
  scanner.Scan(document, log);
  return log.Log;
}

struct TScanCase {
  const char* Name;
  const char* Document;
  const char* Events;
};

class XmlScannerTest : public testing::TestWithParam<TScanCase> {};

TEST_P(XmlScannerTest, ReportsEvents) { EXPECT_EQ(EventsOf(GetParam().Document), GetParam().Events); }

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlScannerTest,
    testing::Values(
        // The declaration: "<?xml" and white space, wherever an item starts.
        TScanCase{"Declaration", R"(<?xml version="1.0" encoding="UTF-8"?><a></a>)", "P(1.0,UTF-8,0)S(a)E(a)"},
        TScanCase{"DeclarationStandalone", "<?xml\tversion='1.1'\nstandalone=\"yes\"\r?>", "P(1.1,,1)"},
        TScanCase{"DeclarationNeedsSpace", R"(<?xml?><?xml-stylesheet href="s.xsl"?><a/>)", ""},
        TScanCase{"DeclarationInside", R"(<a><?xml version="1.0"?></a>)", "S(a)P(1.0,,0)E(a)"},
        TScanCase{"ByteOrderMark", "\xEF\xBB\xBF<?xml version=\"1.0\"?><a>x</a>", "P(1.0,,0)S(a)C(x)E(a)"},
        // Names exactly as written.
        TScanCase{"Names", R"(<gpx:trkpt Lat="1"></gpx:trkpt><TIME>t</TIME>)",
                  "S(gpx:trkpt|Lat=1)E(gpx:trkpt)S(TIME)C(t)E(TIME)"},
        TScanCase{"EndTagSpace", "<a></a \n>", "S(a)E(a)"},
        // Attribute values: references replaced, tab, line feed and carriage return made spaces.
        TScanCase{"AttributeReferences", R"(<a x="1&#10;2&#x9;3&amp;&lt;&gt;&quot;&apos;" y='&#65;&#x42;&#X43;'>)",
                  "S(a|x=1 2 3&<>\"'|y=AB&#X43;)"},
        TScanCase{"AttributeWhiteSpace", "<a y='a\tb\nc\rd  e' z = \"1\" >", "S(a|y=a b c d  e|z=1)"},
        TScanCase{"AttributeRepeated", R"(<a x="1" x="2">)", "S(a|x=1|x=2)"},
        TScanCase{"AttributeEmpty", R"(<a x="" y=''>)", "S(a|x=|y=)"},
        // Texts: references replaced, trimmed, inner runs of white space made one space.
        TScanCase{"TextNormalised", "<a>  hello \n\t  world  &amp; &#65;&#x42; </a>", "S(a)C(hello world & AB)E(a)"},
        TScanCase{"TextOnlySpace", "<a> \n\t\r </a>", "S(a)E(a)"},
        TScanCase{"TextFromReferences", "<a>&#32;x&#9;&#10;y&#32;</a>", "S(a)C(x y)E(a)"},
        TScanCase{"TextOutsideRoot", "x<a/>y", "C(x)C(y)"},
        TScanCase{"TextPlain", "<a>2012-06-01T08:30:00Z</a>", "S(a)C(2012-06-01T08:30:00Z)E(a)"},
        // Comments and processing instructions split texts; neither is reported.
        TScanCase{"CommentSplits", "<a>one<!-- <b>c</b> -->two</a>", "S(a)C(one)C(two)E(a)"},
        TScanCase{"InstructionSplits", "<a>one<?pi x > y?>two</a>", "S(a)C(one)C(two)E(a)"},
        // CDATA sections and empty-element tags are not reported.
        TScanCase{"CData", "<a><![CDATA[2012-06-01T08:30:00Z <b>]]></a>", "S(a)E(a)"},
        TScanCase{"CDataSplits", "<a>x<![CDATA[y]]>z</a>", "S(a)C(x)C(z)E(a)"},
        TScanCase{"EmptyElements", R"(<a><b x="1"/><c /><d/></a>)", "S(a)E(a)"},
        // The document type declaration is not reported; its internal entities are replaced.
        TScanCase{"DoctypeExternal", R"(<!DOCTYPE gpx PUBLIC "-//x//y" "http://x/y.dtd"><a>t</a>)", "S(a)C(t)E(a)"},
        TScanCase{"DoctypeEntities",
                  "<!DOCTYPE gpx [\n<!ENTITY t \"2012-06-01T08:30:00Z\">\n<!ENTITY n '&t;!'>]>"
                  "<a x=\"&n;\">&t;</a>",
                  "S(a|x=2012-06-01T08:30:00Z!)C(2012-06-01T08:30:00Z)E(a)"},
        TScanCase{"DoctypeFirstDeclarationBinds", R"(<!DOCTYPE a [<!ENTITY e "1"><!ENTITY e "2">]><a>&e;</a>)",
                  "S(a)C(1)E(a)"},
        TScanCase{"DoctypeSkipsOtherDeclarations",
                  R"(<!DOCTYPE a [<!-- ] > --><?pi ]>?><!ELEMENT a ANY><!ATTLIST a x CDATA "a>b]">%pe;]><a>t</a>)",
                  "S(a)C(t)E(a)"},
        TScanCase{"EntityExternalNotRead", R"(<!DOCTYPE a [<!ENTITY ext SYSTEM "/etc/hostname">]><a>&ext;</a>)",
                  "S(a)C(&ext;)E(a)"},
        TScanCase{"EntityParameterNotUsedAsGeneral", R"(<!DOCTYPE a [<!ENTITY % pe "x">]><a>&pe;</a>)",
                  "S(a)C(&pe;)E(a)"},
        TScanCase{"EntityCharacterReferencesReplacedTwice",
                  R"(<!DOCTYPE a [<!ENTITY s "1&#38;#10;2&#38;amp;">]><a x="&s;">&s;</a>)", "S(a|x=1 2&)C(1 2&)E(a)"},
        // Faults a strict parser stops at are passed over.
        TScanCase{"BareAmpersandAndUnknownEntities", "<a>AT&T &eacute; &#xZZ; &#0; &#xD800; &; &</a><b>t</b>",
                  "S(a)C(AT&T &eacute; &#xZZ; &#0; &#xD800; &; &)E(a)S(b)C(t)E(b)"},
        TScanCase{"LargeCharacterReferences", "<a>&#x10FFFF;&#x110000;&#1114111;</a>",
                  "S(a)C(\xF4\x8F\xBF\xBF&#x110000;\xF4\x8F\xBF\xBF)E(a)"},
        TScanCase{"WrongEncodingName", "<?xml version=\"1.0\" encoding=\"bogus-9\"?><a>\xC3\xA9</a>",
                  "P(1.0,bogus-9,0)S(a)C(\xC3\xA9)E(a)"},
        TScanCase{"LessThanInText", "<a>1 < 2 <3 <</a>", "S(a)C(1 < 2 <3 <)E(a)"},
        TScanCase{"UnquotedValues", "<a x=1 y=2>", "S(a|x=1|y=2)"},
        TScanCase{"UnquotedValueBeforeEmptyEnd", "<a x=1/>", ""},
        TScanCase{"ValueWithoutClosingQuote", R"(<a x="1><b>t</b>)", "S(a|x=1>)S(b)C(t)E(b)"},
        TScanCase{"TagWithoutEnd", R"(<a x="1"<b>t</b>)", "S(a|x=1)S(b)C(t)E(b)"},
        TScanCase{"AttributeWithoutValue", R"(<a x y="2" = "3">)", "S(a|y=2)"},
        TScanCase{"EndTagWithJunk", "<a>t</a b><c/>", "S(a)C(t)E(a)"},
        TScanCase{"EndTagWithoutEnd", "<a>t</a<b>u</b>", "S(a)C(t)E(a)S(b)C(u)E(b)"},
        TScanCase{"EndTagWithoutName", "<a>t</ ></a>", "S(a)C(t)E(a)"},
        TScanCase{"DocumentEndsInTag", R"(<a><b x="1")", "S(a)S(b|x=1)"},
        TScanCase{"DocumentEndsInValue", R"(<a><b x="1)", "S(a)S(b|x=1)"},
        TScanCase{"DocumentEndsInEndTag", "<a>t</a", "S(a)C(t)E(a)"},
        TScanCase{"UnterminatedComment", "<a>x<!-- never closed <b>t</b>", "S(a)C(x)"},
        TScanCase{"UnterminatedCData", "<a>x<![CDATA[ <b>t</b>", "S(a)C(x)"},
        TScanCase{"UnterminatedDoctypeBeforeElement", "<!DOCTYPE a [ <!ENTITY e \"1\"> <a>&e;</a>",
                  "S(a)C(1)E(a)"},
        TScanCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<TScanCase>& info) { return std::string(info.param.Name); });

TEST(XmlScanner, NestedEntitiesStopWithinTheBudget) {
  std::string document = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    document += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) document += "&l" + std::to_string(i - 1) + ";";
    document += "\">";
  }
  document += "]><a>&l9;</a><b>after</b>";
  const std::string events = EventsOf(document);
  // 10^9 "lol" would be 3 GB; the budget gives up long before and keeps the rest as written.
  EXPECT_LT(events.size(), 4 * TXmlScanner::EntityExpansionBudget);
  EXPECT_NE(events.find("lollol"), std::string::npos);
  EXPECT_NE(events.find("&l"), std::string::npos);
  EXPECT_NE(events.find("S(b)C(after)E(b)"), std::string::npos);
}

TEST(XmlScanner, RecursiveEntitiesEnd) {
  const std::string events = EventsOf(R"(<!DOCTYPE x [<!ENTITY a "&b;"><!ENTITY b "&a;">]><x>&a;</x>)");
  EXPECT_TRUE(events == "S(x)C(&a;)E(x)" || events == "S(x)C(&b;)E(x)") << events;
}

TEST(XmlScanner, BudgetIsPerScan) {
  // The same scanner, twice: the second scan has its full budget and its own entities again.
  std::string document = "<!DOCTYPE a [<!ENTITY big \"" + std::string(600'000, 'x') + "\">]><a>&big;</a><b>&big;</b>";
  TXmlScanner scanner;
  for (int scan = 0; scan < 2; ++scan) {
    TEventLog log;
    scanner.Scan(document, log);
    EXPECT_NE(log.Log.find("S(a)C(x"), std::string::npos);
    EXPECT_NE(log.Log.find("S(b)C(&big;)E(b)"), std::string::npos);  // 1.2 MB is over the budget
  }
  TEventLog log;
  scanner.Scan("<a>&big;</a>", log);
  EXPECT_EQ(log.Log, "S(a)C(&big;)E(a)");
}

TEST(XmlScanner, DeepNestingNeedsNoStack) {
  constexpr int Depth = 1'000'000;
  std::string document;
  for (int i = 0; i < Depth; ++i) document += "<e>";
  document += "x";
  for (int i = 0; i < Depth; ++i) document += "</e>";

  struct TCounter final : TXmlHandler {
    void XmlProlog(std::string_view, std::string_view, bool) override {}
    void StartTag(std::string_view, const std::vector<TXmlAttribute>&) override { ++Starts; }
    void EndTag(std::string_view) override { ++Ends; }
    void Content(std::string_view text) override { Text += text; }
    int Starts = 0, Ends = 0;
    std::string Text;
  } counter;
  TXmlScanner scanner;
  EXPECT_FALSE(scanner.Scan(document, counter));
  EXPECT_EQ(counter.Starts, Depth);
  EXPECT_EQ(counter.Ends, Depth);
  EXPECT_EQ(counter.Text, "x");
}

struct TProblemCase {
  const char* Document;
  std::size_t Offset;
};

TEST(XmlScanner, TellsWhereTheFirstProblemIs) {
  const TProblemCase cases[] = {{"<a>x &bogus; y</a>", 5},     {"<a>1 < 2</a>", 5},      {"<a x=1></a>", 5},
                                {"<a><b x=\"1</b></a>", 10},  {"<a>t</a b>", 8},        {"<a><!-- x", 3},
                                {"<a>&amp;</a><b>&", 15}};
  for (const TProblemCase& c : cases) {
    TXmlScanner scanner;
    TEventLog log;
    const TXmlProblem problem = scanner.Scan(c.Document, log);
    EXPECT_TRUE(problem) << c.Document;
    EXPECT_EQ(problem.Offset, c.Offset) << c.Document << ": " << problem.Reason;
  }
  TXmlScanner scanner;
  TEventLog log;
  EXPECT_FALSE(scanner.Scan(R"(<?xml version="1.0"?><!DOCTYPE a [<!ENTITY e "&#65;">]><a x="&e;">&e;<b/></a>)", log));
}

// Every prefix of a document, and random soups of markup pieces: the scan ends, stays in
// bounds (the sanitizer build checks) and never reports an empty text.
TEST(XmlScanner, TruncatedAndRandomDocuments) {
  const std::string document =
      R"(<?xml version="1.0"?><!DOCTYPE gpx [<!ENTITY e "&#65;&e2;"><!ENTITY e2 'b'><!-- c -->]>)"
      R"(<gpx a="&e;&amp;&#x42;"><trkpt lat="1" lon='2'><time> 2012-06-01T08:30:00Z &e; </time><x/>)"
      R"(<![CDATA[z]]><?pi d?></trkpt></gpx >)";
  for (std::size_t length = 0; length <= document.size(); ++length) EventsOf(document.substr(0, length));

  const char* pieces[] = {"<", ">", "/", "?", "!", "--", "[CDATA[", "]]>", "&", ";", "#", "#x", "x", "\"", "'",
                          "=", " ", "\n", "trkpt", "time", "<!DOCTYPE", "<!ENTITY", "amp", "%", "[", "]", "1",
                          "\xC3\xA9", "\xB0", "?>", "<?xml ", "&e;", "-->", "<!--", "\t", "lat"};
  std::mt19937 random(11);
  for (int i = 0; i < 20'000; ++i) {
    std::string soup;
    for (std::size_t n = random() % 60; n > 0; --n) soup += pieces[random() % std::size(pieces)];
    EventsOf(soup);
  }
}

}  // namespace
