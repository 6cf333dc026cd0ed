// The property-list codec: exact round trips judged by an independent reader
// and writer (Python's plistlib, through plist_oracle.py), the writers'
// layout, refusals, and files that must be unreadable without a crash.

#include <cmath>
#include <limits>

#include "prefs/key_path.h"
#include "plist/plist_file.h"
#include "tests/support/capturing_log.h"
#include "tests/support/prefs_fixture.h"
#include "tests/support/tool_run.h"

namespace tavo::testing {
namespace {

// plist_oracle.py: one JSON line per top-level entry of `path`, as plistlib reads it.
std::vector<std::string> oracleDump(const std::string& path) {
  ToolRun r = runTool(TAVO_PYTHON3, {PLIST_ORACLE, "dump", path});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Writes with plistlib the dictionary that the JSON `description` describes.
void oracleWrite(PlistFormat format, const std::string& description, const std::string& path) {
  writeFile(path + ".json", description);
  ToolRun r = runTool(TAVO_PYTHON3, {PLIST_ORACLE, "write", format == PlistFormat::Xml ? "xml" : "binary",
                                     path + ".json", path});
  ASSERT_EQ(r.status, 0) << r.err;
}

struct Sample {
  const char* key;    // JSON string text
  const char* value;  // as the oracle describes values
  bool xml;           // whether XML can hold it
};

// Each value that a write-back once changed, and the edges of every kind.
const Sample kSamples[] = {
    {"date with sub-microseconds", R"({"date": 699364800.1234568})", false},
    {"date 1900-01-01", R"({"date": -3187296000})", true}, {"date 2100-01-01", R"({"date": 3124137600})", true},
    {"date before 2001 with a fraction", R"({"date": -1234.75})", false}, {"date NaN", R"({"date": NaN})", false},
    {"date 1e19", R"({"date": 1e19})", false}, {"date 0001-01-01", R"({"date": -63113904000})", true},
    {"date 9999-12-31T23:59:59", R"({"date": 252423993599})", true},
    {"int -2^63", R"({"int": "-9223372036854775808"})", true}, {"int -1", R"({"int": "-1"})", true},
    {"int 0", R"({"int": "0"})", true}, {"int 255", R"({"int": "255"})", true},
    {"int 65536", R"({"int": "65536"})", true}, {"int 2^31", R"({"int": "2147483648"})", true},
    {"int 2^32", R"({"int": "4294967296"})", true}, {"int 2^63-1", R"({"int": "9223372036854775807"})", true},
    {"int 2^63", R"({"int": "9223372036854775808"})", true},
    {"int 2^64-1", R"({"int": "18446744073709551615"})", true},
    {"real", R"({"real": 0.1})", true}, {"real -0", R"({"real": -0.0})", true},
    {"real huge", R"({"real": 1.7976931348623157e308})", true}, {"real tiny", R"({"real": 5e-324})", true},
    {"real infinite", R"({"real": -Infinity})", true}, {"real NaN", R"({"real": NaN})", true},
    {"bools", R"({"array": [{"bool": true}, {"bool": false}]})", true},
    {"data", R"({"data": "0001ff"})", true}, {"empty data", R"({"data": ""})", true},
    {"string", R"({"string": "/Library/Application Support/K"})", true}, {"empty string", R"({"string": ""})", true},
    {"string with markup", R"({"string": "<a href=\"x\">&amp;</a>\t'\n"})", true},
    {"Unicode string", R"({"string": "Gr\u00fc\u00dfe \u65e5\u672c \ud83c\udfb9"})", true},
    {"string with NUL", R"({"string": "a\u0000b"})", false}, {"key with NUL \u0000 inside", R"({"int": "1"})", false},
    {"ASCII-typed string with high bytes", R"({"ascii": "41e942ff"})", false}, {"uid", R"({"uid": 7})", false},
    {"nested", R"({"dict": [["a", {"array": [{"array": [{"dict": []}]}, {"array": []}, {"int": "1"}]}],
                           ["b", {"dict": [["c", {"string": "d"}], ["e", {"data": "00"}]]}]]})", true},
};

// A dictionary of the samples the format holds, plus `extra` entries.
std::string sampleJson(PlistFormat format, const std::string& extra = "") {
  std::string json = R"({"dict": [)";
  for (const Sample& s : kSamples)
    if (s.xml || format == PlistFormat::Binary) json += std::string("[\"") + s.key + "\", " + s.value + "], ";
  json += extra.empty() ? R"(["last", {"int": "1"}])" : extra;
  return json + "]}";
}

class PlistCodecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TAVO_PYTHON3)[0] != '/') GTEST_SKIP() << "python3 was not found at configure time";
  }
  TempDir dir;
};

// Every value reads and writes back exactly, and a deletion beside it leaves it as it was.
TEST_F(PlistCodecTest, EveryValueReadsAndWritesBackExactlyAndOutlivesADeletion) {
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    SCOPED_TRACE(format == PlistFormat::Xml ? "XML" : "binary");
    oracleWrite(format, sampleJson(format), dir / "theirs.plist");
    PlistFile file = readPlistFile(dir / "theirs.plist");
    ASSERT_EQ(file.state, PlistFile::State::Ok) << file.problem;
    EXPECT_EQ(file.format, format);
    std::string problem;
    ASSERT_TRUE(writePlistFile(dir / "ours.plist", file.dict, format, &problem)) << problem;
    EXPECT_EQ(oracleDump(dir / "ours.plist"), oracleDump(dir / "theirs.plist"));
    TempPrefs prefs;
    const std::string stored = prefs.anyUserFile("com.t");
    oracleWrite(format, sampleJson(format, R"(["P", {"dict": [["gone", {"int": "1"}], ["stay", {"int": "2"}]]}])"),
                stored);
    oracleWrite(format, sampleJson(format, R"(["P", {"dict": [["stay", {"int": "2"}]]}])"), dir / "expected.plist");
    CapturingLog log;
    FilePrefsStore store(prefs.roots(), log);
    ASSERT_EQ(prefs::deletePrefKey(store, "com.t", {"P", "gone"}, PrefUser::Any, PrefHost::Current),
              prefs::KeyDeletion::Deleted);
    EXPECT_EQ(log.lines(), std::vector<std::string>{});
    EXPECT_EQ(oracleDump(stored), oracleDump(dir / "expected.plist"));
    if (format == PlistFormat::Binary) {  // the independent writer lays binary files out as the platform's does
      EXPECT_EQ(readFile(dir / "ours.plist"), readFile(dir / "theirs.plist"));
      EXPECT_EQ(readFile(stored), readFile(dir / "expected.plist"));
    }
  }
}

TEST_F(PlistCodecTest, XmlLayoutIsThePlatformWriters) {
  // No reals: the independent writer spells them its own way ("100.0", "inf").
  const std::string json = R"({"dict": [
      ["text", {"string": "a & b < c > d"}], ["n", {"int": "-5"}], ["yes", {"bool": true}],
      ["when", {"date": 699364800}], ["empty", {"dict": []}], ["none", {"array": []}], ["blank", {"string": ""}],
      ["blob", {"data": "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f"}],
      ["deep", {"array": [{"dict": [["inner", {"data": "ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100"}]]}]}]]})";
  oracleWrite(PlistFormat::Xml, json, dir / "theirs.plist");
  PlistFile file = readPlistFile(dir / "theirs.plist");
  ASSERT_EQ(file.state, PlistFile::State::Ok) << file.problem;
  std::string ours;
  ASSERT_TRUE(serializePlist(file.dict, PlistFormat::Xml, ours));
  EXPECT_EQ(ours, readFile(dir / "theirs.plist"));
}

// A binary property list laid out from raw objects, so that a test can make
// any file, well formed or not.
std::string bigEndian(std::uint64_t v, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

std::string bplist(const std::vector<std::string>& objects, int refWidth = 1, int offsetWidth = 1) {
  std::string out = "bplist00", table;
  for (const std::string& o : objects) {
    table += bigEndian(out.size(), offsetWidth);
    out += o;
  }
  std::uint64_t tableAt = out.size();
  return out + table + std::string(6, '\0') + static_cast<char>(offsetWidth) + static_cast<char>(refWidth) +
         bigEndian(objects.size(), 8) + bigEndian(0, 8) + bigEndian(tableAt, 8);
}

// `file` with the `width`-byte big-endian field that ends `fromEnd` bytes
// before the end of the file set to `value`.
std::string patched(std::string file, std::size_t fromEnd, std::uint64_t value, int width = 8) {
  file.replace(file.size() - fromEnd - static_cast<std::size_t>(width), static_cast<std::size_t>(width),
               bigEndian(value, width));
  return file;
}

// Where the trailer's fields end, counted from the end of the file.
constexpr std::size_t kOffsetWidth = 25, kRefWidth = 24, kCount = 16, kTop = 8, kTable = 0;

std::string nestedArrays(std::size_t depth) {
  std::vector<std::string> objects;
  for (std::size_t i = 0; i + 1 < depth; ++i) objects.push_back("\xA1" + bigEndian(i + 1, 4));
  objects.push_back("\xA0");
  return bplist(objects, 4, 4);
}

std::string xmlIn(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
}

std::string xmlValue(const std::string& body) { return xmlIn("<dict><key>v</key>" + body + "</dict>"); }

std::string repeated(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST(PlistUnreadable, MalformedFilesAreUnreadableWithAReason) {
  std::string good;
  ASSERT_TRUE(serializePlist(richDomain(), PlistFormat::Binary, good));
  const std::string oneEntry = bplist({"\xD1\x01\x02", "\x51k", "\x51v"});
  const std::string selfArray = bplist({std::string("\xA1\x00", 2)});
  const std::string threeObjects = bplist({"\xA2\x01\x02", "\x51" "a", "\x51" "b"});
  const std::string doubling = [] {  // each array names the next one twice
    std::vector<std::string> objects;
    for (int i = 0; i < 64; ++i) objects.push_back(std::string("\xA2") + char(i + 1) + char(i + 1));
    objects.push_back("\xA0");
    return bplist(objects);
  }();
  const std::string sharedText = [] {  // 20,000 references to one 1 KB string
    std::string refs;
    for (int i = 0; i < 20000; ++i) refs += bigEndian(1, 2);
    return bplist({"\xAF\x11" + bigEndian(20000, 2) + refs, "\x5F\x11" + bigEndian(1024, 2) + std::string(1024, 'x')}, 2, 4);
  }();
  const struct {
    const char* name;
    std::string bytes;
    const char* reason;  // part of the problem reported
  } cases[] = {
      {"binary cut in half", good.substr(0, good.size() / 2), ""},
      {"binary header only", "bplist00", "too short"}, {"unknown binary version", "bplist17" + std::string(40, '\0'), "unknown version"},
      {"offset width 0", patched(oneEntry, kOffsetWidth, 0, 1), "impossible integer widths"},
      {"reference width 0", patched(oneEntry, kRefWidth, 0, 1), "impossible integer widths"},
      {"reference width 9", patched(oneEntry, kRefWidth, 9, 1), "impossible integer widths"},
      {"object count one past the table", patched(oneEntry, kCount, 4), "offset table"},
      {"top object past the table", patched(oneEntry, kTop, 3), "top object"},
      {"offset table past the end", patched(oneEntry, kTable, 1u << 30), "offset table"},
      {"object count of 2^60", patched(oneEntry, kCount, std::uint64_t{1} << 60), "offset table"},
      {"offset into the table", patched(oneEntry, 32, oneEntry.size() - 32 - 3, 1), "object offset"},
      {"reference past the objects", bplist({"\xD1\x01\x09", "\x51k"}), "object reference"},
      {"array holding itself", selfArray, "contains itself"},
      {"arrays holding each other", bplist({"\xA1\x01", std::string("\xA1\x00", 2)}), "contains itself"},
      {"two objects at one offset", patched(threeObjects, 32, 8 + 3, 1), "overlap"},
      {"string longer than the file", bplist({"\x5F\x13" + bigEndian(std::uint64_t{1} << 62, 8)}), "runs past"},
      {"data count 2^64-1", bplist({"\x4F\x13" + bigEndian(~std::uint64_t{0}, 8)}), "runs past"},
      {"UTF-16 count 2^63", bplist({"\x6F\x13" + bigEndian(std::uint64_t{1} << 63, 8)}), "runs past"},
      {"array count 2^61", bplist({"\xAF\x13" + bigEndian(std::uint64_t{1} << 61, 8)}), "runs past"},
      {"count that is not an integer", bplist({"\x5F\x51" "a"}), "count"},
      {"unpaired surrogate", bplist({"\xD1\x01\x02", "\x51k", std::string("\x61\xD8\x00", 3)}), "surrogate"},
      {"key that is not a string", bplist({"\xD1\x01\x02", "\x10\x05", "\x51v"}), "key that is not a string"},
      {"16-byte integer of 2^64", bplist({"\x14" + bigEndian(1, 8) + bigEndian(0, 8)}), "integer outside"},
      {"32-byte integer", bplist({"\x15" + std::string(32, '\0')}), "wider"},
      {"null object", bplist({std::string(1, '\0')}), "null"}, {"set object", bplist({"\xC0"}), "type"},
      {"4-byte date", bplist({"\x32" + std::string(4, '\0')}), "date"},
      {"100,000 nested binary arrays", nestedArrays(100000), "nested deeper"},
      {"arrays doubling 64 times", doubling, "expand"}, {"one string named 20,000 times", sharedText, "expand"},
      {"100,000 nested XML arrays", xmlIn(repeated("<array>", 100000) + repeated("</array>", 100000)),
       "nested deeper"},
      {"not a property list", "not a property list", "text where an element should be"},
      {"unterminated dictionary", "<plist><dict><key>a</key>", "ends early"},
      {"unknown entity", xmlValue("<string>&foo;</string>"), "unknown entity"},
      {"surrogate reference", xmlValue("<string>&#xD800;</string>"), "character reference"},
      {"reference past U+10FFFF", xmlValue("<string>&#1114112;</string>"), "character reference"},
      {"NUL reference", xmlValue("<string>&#0;</string>"), "excludes"},
      {"control character", xmlValue("<string>\x01</string>"), "excludes"},
      {"text not UTF-8", xmlValue("<string>\xC3\x28</string>"), "not UTF-8"},
      {"base64 with a bad character", xmlValue("<data>AA!A</data>"), "base64"}, {"base64 of one symbol", xmlValue("<data>A</data>"), "base64"},
      {"base64 padding inside", xmlValue("<data>AA==AA==</data>"), "base64"},
      {"mismatched end tag", xmlValue("<string>a</integer>"), "mismatched"},
      {"value without a key", xmlIn("<dict><string>a</string></dict>"), "without a key"},
      {"key without a value", xmlIn("<dict><key>a</key></dict>"), "key without a value"},
      {"text after the end", xmlIn("<dict/>") + "junk", "text after"},
      {"element inside a string", xmlValue("<string>a<b/></string>"), "element inside"},
      {"integer of 2^64", xmlValue("<integer>18446744073709551616</integer>"), "integer"},
      {"integer below -2^63", xmlValue("<integer>-9223372036854775809</integer>"), "integer"},
      {"integer with junk", xmlValue("<integer>12abc</integer>"), "integer"}, {"empty integer", xmlValue("<integer/>"), "integer"},
      {"real out of range", xmlValue("<real>1e500</real>"), "real"},
      {"February 30", xmlValue("<date>2001-02-30T00:00:00Z</date>"), "date"}, {"year 0", xmlValue("<date>0000-01-01T00:00:00Z</date>"), "date"},
      {"February 29, 1900", xmlValue("<date>1900-02-29T00:00:00Z</date>"), "date"},
      {"date without Z", xmlValue("<date>2001-01-01T00:00:00</date>"), "date"},
      {"encoding Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><dict/></plist>", "encoding"},
      {"empty plist element", "<plist/>", "no value"}, {"plist of two values", xmlIn("<dict/><dict/>"), "more than one"},
      {"unterminated comment", "<plist><!-- x", "comment"}, {"unknown element", xmlIn("<set/>"), "not a property-list value"},
      {"top-level array", xmlIn("<array/>"), "not a dictionary"},
      {"top-level binary string", bplist({"\x51s"}), "not a dictionary"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlistFile file = parsePlist(c.bytes);
    EXPECT_EQ(file.state, PlistFile::State::Unreadable);
    EXPECT_NE(file.problem, "");
    EXPECT_NE(file.problem.find(c.reason), std::string::npos) << file.problem;
  }
}

TEST(PlistXml, ReadsWhatTheFormatAllows) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
  const struct {
    std::string body;
    PlistValue expected;
  } cases[] = {
      {"<string>x &lt;&gt;&amp;&quot;&apos; &#65;&#x42;</string>", "x <>&\"' AB"},
      {"<string><![CDATA[<&>]]></string>", "<&>"}, {"<string>a<!-- c -->b<?pi x?></string>", "ab"},
      {"<string>a\r\nb\rc&#13;</string>", "a\nb\nc\r"}, {"<string/>", ""}, {"<integer> +42 </integer>", 42},
      {"<integer>0x1F</integer>", 31}, {"<integer>-0x10</integer>", -16},
      {"<integer>18446744073709551615</integer>", PlistInteger::fromUnsigned(~std::uint64_t{0})},
      {"<integer>-9223372036854775808</integer>", PlistInteger(INT64_MIN)},
      {"<real>nan</real>", nan}, {"<real>+infinity</real>", inf}, {"<real>-infinity</real>", -inf},
      {"<real> 2.5 </real>", 2.5}, {"<real>-0</real>", -0.0}, {"<date>2004-05Z</date>", PlistDate{105062400}},
      {"<date>2001-01-01T00:00:00Z</date>", PlistDate{0}},
      {"<date>2000-02-29T23:59:59Z</date>", PlistDate{-26438401}},
      {"<data>\n\tAAEC\n\t/w==\n\t</data>", PlistData{0, 1, 2, 255}},
      {"<data>AAE</data>", PlistData{0, 1}}, {"<data/>", PlistData{}},
      {"<true></true>", true}, {"<false/>", false}, {"<dict/>", PlistDict()},
      {"<array><string>a</string> <!-- c --> <integer>1</integer></array>", PlistArray{"a", 1}},
      {"<dict><key/><string>empty key</string></dict>", dict({{"", "empty key"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    PlistFile file = parsePlist(xmlValue(c.body));
    ASSERT_EQ(file.state, PlistFile::State::Ok) << file.problem;
    EXPECT_EQ(file.dict, dict({{"v", c.expected}}));
  }
}

TEST(PlistXml, ReadsAFullPrologAndKeepsTheFirstPlaceOfARepeatedKey) {
  const std::string text =
      "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\n<!-- made by hand -->\n"
      "<!DOCTYPE plist [ <!ENTITY e \"]>\"> ]>\n<?app hint?>\n"
      "<dict>\n<key>a</key><integer>1</integer><key>b</key><true/><key>a</key><integer>3</integer></dict>\n";
  PlistFile file = parsePlist(text);
  ASSERT_EQ(file.state, PlistFile::State::Ok) << file.problem;
  EXPECT_EQ(file.dict, dict({{"a", 3}, {"b", true}}));
}

TEST(PlistWrite, RefusesWhatTheFormatCannotHoldExactly) {
  PlistValue nested = PlistArray{};
  for (int i = 0; i < 512; ++i) nested = PlistArray{nested};  // 513 levels under the top
  PlistDict rawKey;
  rawKey.setWithRawAsciiKey("\xE9", 1);
  const struct {
    const char* name;
    PlistFormat format;
    PlistDict dict;
    const char* reason;
  } cases[] = {
      {"string with NUL", PlistFormat::Xml, dict({{"k", std::string("a\0b", 3)}}), "NUL"},
      {"key with NUL", PlistFormat::Xml, dict({{std::string("k\0", 2), 1}}), "NUL"},
      {"control character", PlistFormat::Xml, dict({{"k", "\x1b[0m"}}), "excludes"},
      {"U+FFFE", PlistFormat::Xml, dict({{"k", "\xEF\xBF\xBE"}}), "excludes"},
      {"text not UTF-8", PlistFormat::Xml, dict({{"k", "\xC3"}}), "not UTF-8"},
      {"ASCII-typed high bytes", PlistFormat::Xml, dict({{"k", PlistValue::rawAscii("\xE9")}}), "raw ASCII"},
      {"ASCII-typed high-byte key", PlistFormat::Xml, rawKey, "raw ASCII"},
      {"date with a fraction", PlistFormat::Xml, dict({{"k", PlistDate{0.5}}}), "whole second"},
      {"date NaN", PlistFormat::Xml, dict({{"k", PlistDate{std::nan("")}}}), "whole second"},
      {"date -0", PlistFormat::Xml, dict({{"k", PlistDate{-0.0}}}), "whole second"},
      {"date in year 10000", PlistFormat::Xml, dict({{"k", PlistDate{252423993600}}}), "whole second"},
      {"date before year 1", PlistFormat::Xml, dict({{"k", PlistDate{-63113904001}}}), "whole second"},
      {"NaN with a sign", PlistFormat::Xml, dict({{"k", -std::numeric_limits<double>::quiet_NaN()}}), "NaN"},
      {"UID", PlistFormat::Xml, dict({{"k", PlistUid{1}}}), "UID"},
      {"binary text not UTF-8", PlistFormat::Binary, dict({{"k", "\xFF"}}), "not UTF-8"},
      {"binary key not UTF-8", PlistFormat::Binary, dict({{"\xC3\x28", 1}}), "not UTF-8"},
      {"binary nested 514 deep", PlistFormat::Binary, dict({{"k", nested}}), "nested deeper"},
      {"XML nested 514 deep", PlistFormat::Xml, dict({{"k", nested}}), "nested deeper"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes, problem;
    EXPECT_FALSE(serializePlist(c.dict, c.format, bytes, &problem));
    EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
  }
}

// What the independent writer cannot make: the deepest nesting allowed, and
// a carriage return, which XML would turn into a line feed if written as is.
TEST(PlistWrite, TheEdgesOfWhatIsWritableRoundTrip) {
  PlistValue nested = PlistArray{};
  for (int i = 0; i < 510; ++i) nested = PlistArray{nested};  // 512 levels with the top
  const PlistDict edges = dict({{"k", nested}, {"cr\r", "a\r\nb\r"}, {"before 2001", PlistDate{-1}}});
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    std::string bytes, problem;
    ASSERT_TRUE(serializePlist(edges, format, bytes, &problem)) << problem;
    PlistFile file = parsePlist(bytes);
    ASSERT_EQ(file.state, PlistFile::State::Ok) << file.problem;
    EXPECT_EQ(file.dict, edges);
  }
}

TEST(PlistBinary, AnAsciiTypedKeyWithHighBytesIsWrittenBackAsOne) {
  // Laid out as our writer would: the top dictionary, its key, its value.
  const std::string file = bplist({"\xD1\x01\x02", "\x53\x41\xE9\x42", "\x53\x41\xE9\x42"});
  PlistFile read = parsePlist(file);
  ASSERT_EQ(read.state, PlistFile::State::Ok) << read.problem;
  EXPECT_TRUE(read.dict.isRawAsciiKey("A\xE9" "B"));
  EXPECT_TRUE(read.dict.find("A\xE9" "B")->isRawAscii());
  EXPECT_NE(read.dict, dict({{"A\xE9" "B", PlistValue::rawAscii("A\xE9" "B")}}));
  std::string written;
  ASSERT_TRUE(serializePlist(read.dict, PlistFormat::Binary, written));
  // The key and the value are one object now: equal scalars are stored once.
  EXPECT_EQ(written, bplist({"\xD1\x01\x01", "\x53\x41\xE9\x42"}));
}

TEST(PlistDictTest, KeepsOrderAndFindsEveryKeyAcrossRemovals) {
  PlistDict d;
  for (int i = 0; i < 2000; ++i) d.set("key " + std::to_string(i), i);
  d.set("key 5", "replaced");
  for (int i = 0; i < 2000; i += 3) ASSERT_TRUE(d.remove("key " + std::to_string(i)));
  EXPECT_FALSE(d.remove("key 0"));
  std::string bytes;
  ASSERT_TRUE(serializePlist(d, PlistFormat::Binary, bytes));
  PlistFile file = parsePlist(bytes);
  ASSERT_EQ(file.dict, d);
  for (int i = 0; i < 2000; ++i) {
    const PlistValue* v = file.dict.find("key " + std::to_string(i));
    ASSERT_EQ(v != nullptr, i % 3 != 0) << i;
    if (v && i != 5) {
      EXPECT_EQ(v->integer()->asInt64(), i);
    }
  }
  EXPECT_EQ(*file.dict.find("key 5")->string(), "replaced");
  EXPECT_EQ(file.dict.entries()[2].first, "key 4");
}

}  // namespace
}  // namespace tavo::testing
