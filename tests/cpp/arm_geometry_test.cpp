#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <variant>

#include <vornalt_torso_kinematics/arm/geometry_json.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

using arm::Branch;
using arm::DecodeError;
using arm::SphericalLinkGeometry;
using namespace std::string_literals;

// The message of a failed decode, or "<decoded>" when the text decoded.
std::string message_of(std::string_view text) {
  const auto result = arm::decode_geometry(text);
  if (const auto* error = std::get_if<DecodeError>(&result)) return error->message;
  return "<decoded>";
}

// The messages that report broken JSON rather than a JSON value that is not a record.
constexpr std::array<std::string_view, 19> kSyntaxMessages{
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "expected ident",
    "expected value",
    "key must be a string",
    "invalid number",
    "number out of range",
    "invalid escape",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "invalid unicode code point",
    "trailing comma",
    "trailing characters",
};

bool is_syntax_message(const std::string& message) {
  return std::any_of(kSyntaxMessages.begin(), kSyntaxMessages.end(), [&](std::string_view m) {
    return message.size() > m.size() && message.compare(0, m.size(), m) == 0 &&
           message.compare(m.size(), 9, " at line ") == 0;
  });
}

// Checks that a message ends in " at line L column C" and that L and C lie inside the text.
void expect_position_within(std::string_view text, const std::string& message) {
  const std::size_t at_line = message.rfind(" at line ");
  const std::size_t at_column = message.rfind(" column ");
  ASSERT_TRUE(at_line != std::string::npos && at_column > at_line) << message;
  const std::string line = message.substr(at_line + 9, at_column - at_line - 9);
  const std::string column = message.substr(at_column + 8);
  const auto all_digits = [](const std::string& s) {
    return !s.empty() && s.size() < 20 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  ASSERT_TRUE(all_digits(line) && all_digits(column)) << message;
  EXPECT_GE(std::stoull(line), 1u) << message;
  EXPECT_LE(std::stoull(line), 1u + std::count(text.begin(), text.end(), '\n')) << message;
  EXPECT_LE(std::stoull(column), text.size()) << message;
}

// A case's text as gtest shows it: bytes outside printable ASCII as \xNN escapes.
void print_escaped(std::string_view text, std::ostream* os) {
  constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      *os << c;
    } else {
      *os << "\\x" << kHex[byte >> 4] << kHex[byte & 0xf];
    }
  }
}

struct MessageCase {
  std::string text;
  std::string message;
};

void PrintTo(const MessageCase& c, std::ostream* os) {
  print_escaped(c.text, os);
}

class RecordMessages : public testing::TestWithParam<MessageCase> {};

TEST_P(RecordMessages, ReportedAtTheirPoint) {
  EXPECT_EQ(message_of(GetParam().text), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordMessages,
    testing::Values(
        MessageCase{"{}", "missing field `arm_arc` at line 1 column 2"},
        MessageCase{R"({"arm_arc": 0.7})", "missing field `coupler_arc` at line 1 column 16"},
        MessageCase{R"({"coupler_arc": 0.5})", "missing field `arm_arc` at line 1 column 20"},
        MessageCase{R"({"Arm_arc": 0.7, "coupler_arc": 0.5})",
                    "missing field `arm_arc` at line 1 column 36"},
        MessageCase{"{\n}", "missing field `arm_arc` at line 2 column 1"},
        MessageCase{R"({"arm_arc": 0.7, "arm_arc": 0.8, "coupler_arc": 0.5})",
                    "duplicate field `arm_arc` at line 1 column 26"},
        MessageCase{"{\"mirror\": true, \"mirror\" \n\t : false}",
                    "duplicate field `mirror` at line 2 column 2"},
        MessageCase{R"({"branch": "negative", "br\u0061nch": 1})",
                    "duplicate field `branch` at line 1 column 36"},
        MessageCase{R"({"coupler_arc": 1, "x": 1, "x": 2, "coupler_arc")",
                    "duplicate field `coupler_arc` at line 1 column 48"},
        MessageCase{R"({"arm_arc": true, "coupler_arc": 0.5})",
                    "invalid type: boolean `true`, expected f64 at line 1 column 16"},
        MessageCase{R"({"arm_arc": null})", "invalid type: null, expected f64 at line 1 column 16"},
        MessageCase{R"({"arm_arc": "0.7"})",
                    "invalid type: string \"0.7\", expected f64 at line 1 column 17"},
        MessageCase{R"({"arm_arc": [0.7, [1]] })",
                    "invalid type: sequence, expected f64 at line 1 column 22"},
        MessageCase{R"({"arm_arc": {"a": {}}})",
                    "invalid type: map, expected f64 at line 1 column 21"},
        MessageCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "mirror": 1})",
                    "invalid type: integer `1`, expected a boolean at line 1 column 48"},
        MessageCase{R"([1, 2, "positive", "true"])",
                    "invalid type: string \"true\", expected a boolean at line 1 column 25"},
        MessageCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "upward"})",
                    "unknown variant `upward`, expected `positive` or `negative` at line 1 "
                    "column 55"},
        MessageCase{R"([1, 2, {"Negative": null}])",
                    "unknown variant `Negative`, expected `positive` or `negative` at line 1 "
                    "column 18"},
        MessageCase{R"([1, 2, "a\"\u00e9`"])",
                    "unknown variant `a\"\xc3\xa9``, expected `positive` or `negative` at line 1 "
                    "column 19"},
        MessageCase{R"([1, 2, {7: null}])",
                    "invalid type: integer `7`, expected variant identifier at line 1 column 9"},
        MessageCase{R"([1, 2, {"negative": false}])",
                    "invalid type: boolean `false`, expected unit variant at line 1 column 25"},
        MessageCase{R"([1, 2, {"negative": {}}])",
                    "invalid type: map, expected unit variant at line 1 column 22"},
        MessageCase{"[]",
                    "invalid length 0, expected struct SphericalLinkGeometry with 4 elements "
                    "at line 1 column 2"},
        MessageCase{"[0.7]",
                    "invalid length 1, expected struct SphericalLinkGeometry with 4 "
                    "elements at line 1 column 5"},
        MessageCase{"[ 0.7 \n ]",
                    "invalid length 1, expected struct SphericalLinkGeometry with 4 "
                    "elements at line 2 column 2"},
        MessageCase{"42",
                    "invalid type: integer `42`, expected struct SphericalLinkGeometry at "
                    "line 1 column 2"},
        MessageCase{"  null ",
                    "invalid type: null, expected struct SphericalLinkGeometry at line 1 "
                    "column 6"},
        MessageCase{"false",
                    "invalid type: boolean `false`, expected struct "
                    "SphericalLinkGeometry at line 1 column 5"},
        MessageCase{
            R"(["\u0001\u007f\u001F"])",
            "invalid type: string \"\\u{1}\\u{7f}\\u{1f}\", expected f64 at line 1 column 21"},
        MessageCase{R"("a\"b\\c\n")",
                    "invalid type: string \"a\\\"b\\\\c\\n\", expected struct "
                    "SphericalLinkGeometry at line 1 column 11"}));

class SyntaxMessages : public testing::TestWithParam<MessageCase> {};

TEST_P(SyntaxMessages, ReportedJustAfterTheOffendingByte) {
  const std::string message = message_of(GetParam().text);
  EXPECT_EQ(message, GetParam().message);
  EXPECT_TRUE(is_syntax_message(message)) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SyntaxMessages,
    testing::Values(
        // End of text: always at the end.
        MessageCase{"", "EOF while parsing a value at line 1 column 0"},
        MessageCase{" \n\t\r ", "EOF while parsing a value at line 2 column 3"},
        MessageCase{R"({"arm_arc":)", "EOF while parsing a value at line 1 column 11"},
        MessageCase{R"({"arm_arc":1,)", "EOF while parsing a value at line 1 column 13"},
        MessageCase{"[1,", "EOF while parsing a value at line 1 column 3"},
        MessageCase{"[tr", "EOF while parsing a value at line 1 column 3"},
        MessageCase{"[-", "EOF while parsing a value at line 1 column 2"},
        MessageCase{"[1.", "EOF while parsing a value at line 1 column 3"},
        MessageCase{"[1e-", "EOF while parsing a value at line 1 column 4"},
        MessageCase{"[", "EOF while parsing a list at line 1 column 1"},
        MessageCase{"[1 ", "EOF while parsing a list at line 1 column 3"},
        MessageCase{R"([1,2,"positive",true)", "EOF while parsing a list at line 1 column 20"},
        MessageCase{R"({"x":[[)", "EOF while parsing a list at line 1 column 7"},
        MessageCase{"{", "EOF while parsing an object at line 1 column 1"},
        MessageCase{R"({"a")", "EOF while parsing an object at line 1 column 4"},
        MessageCase{R"({"a":1)", "EOF while parsing an object at line 1 column 6"},
        MessageCase{R"([1,2,{"negative":null)", "EOF while parsing an object at line 1 column 21"},
        MessageCase{R"({"ab)", "EOF while parsing a string at line 1 column 4"},
        MessageCase{R"("\)", "EOF while parsing a string at line 1 column 2"},
        MessageCase{R"(["\u00)", "EOF while parsing a string at line 1 column 6"},
        MessageCase{R"(["\ud800\)", "EOF while parsing a string at line 1 column 9"},
        MessageCase{"[\"\xc3", "EOF while parsing a string at line 1 column 3"},
        // Offending characters: just after their first byte.
        MessageCase{R"({"a" 1})", "expected `:` at line 1 column 6"},
        MessageCase{R"([1,2,{"negative",null}])", "expected `:` at line 1 column 17"},
        MessageCase{"[1 2]", "expected `,` or `]` at line 1 column 4"},
        MessageCase{"[1.5.3]", "expected `,` or `]` at line 1 column 5"},
        MessageCase{R"({"x":[1}})", "expected `,` or `]` at line 1 column 8"},
        MessageCase{R"({"a":1 "b":2})", "expected `,` or `}` at line 1 column 8"},
        MessageCase{R"({"x":{"a":1]})", "expected `,` or `}` at line 1 column 12"},
        MessageCase{"[trUe]", "expected ident at line 1 column 4"},
        MessageCase{R"({"x": nul1})", "expected ident at line 1 column 10"},
        MessageCase{R"({"arm_arc": +1})", "expected value at line 1 column 13"},
        MessageCase{"[.5]", "expected value at line 1 column 2"},
        MessageCase{"[,1]", "expected value at line 1 column 2"},
        MessageCase{"\xef\xbb\xbf{}", "expected value at line 1 column 1"},
        MessageCase{"\xc3\xa9", "expected value at line 1 column 1"},
        MessageCase{"[1, 2, 3]", "expected value at line 1 column 8"},
        MessageCase{"[1, 2, {}]", "expected value at line 1 column 9"},
        // A Branch object with a second member: reported before it.
        MessageCase{R"([1, 2, {"negative": null, "x": 1}])", "expected value at line 1 column 24"},
        MessageCase{R"([1, 2, {"positive": null "x"}])", "expected value at line 1 column 25"},
        MessageCase{"{1:2}", "key must be a string at line 1 column 2"},
        MessageCase{R"({"a":1,2:3})", "key must be a string at line 1 column 8"},
        MessageCase{R"({"x":{"a":1, b}})", "key must be a string at line 1 column 14"},
        MessageCase{"[01]", "invalid number at line 1 column 3"},
        MessageCase{"[-x]", "invalid number at line 1 column 3"},
        MessageCase{"[1.e5]", "invalid number at line 1 column 4"},
        MessageCase{"[1e+]", "invalid number at line 1 column 5"},
        MessageCase{R"({"x":-01})", "invalid number at line 1 column 8"},
        MessageCase{"[1e400]", "number out of range at line 1 column 6"},
        MessageCase{R"({"x":[-1.8e308]})", "number out of range at line 1 column 14"},
        MessageCase{R"(["\q"])", "invalid escape at line 1 column 4"},
        MessageCase{R"(["\u12G4"])", "invalid escape at line 1 column 7"},
        MessageCase{R"({"x":"\U0041"})", "invalid escape at line 1 column 8"},
        MessageCase{"[\"a\tb\"]",
                    "control character (\\u0000-\\u001F) found while parsing a "
                    "string at line 1 column 4"},
        MessageCase{"[\"a\nb\"]",
                    "control character (\\u0000-\\u001F) found while parsing a "
                    "string at line 2 column 0"},
        MessageCase{"[\"\0\"]"s,
                    "control character (\\u0000-\\u001F) found while parsing a "
                    "string at line 1 column 3"},
        // Surrogate escapes that do not pair.
        MessageCase{R"(["\ud800\u0041"])",
                    "lone leading surrogate in hex escape at line 1 column 14"},
        MessageCase{R"(["\uDBFF\uD800"])",
                    "lone leading surrogate in hex escape at line 1 column 14"},
        MessageCase{R"(["\ud800"])", "unexpected end of hex escape at line 1 column 9"},
        MessageCase{R"(["\ud800\n"])", "unexpected end of hex escape at line 1 column 10"},
        MessageCase{R"(["\udc00"])", "invalid unicode code point at line 1 column 8"},
        MessageCase{R"({"x":"\uDFFF\uD800"})", "invalid unicode code point at line 1 column 12"},
        // Bytes that are not UTF-8 inside a string: just after the sequence's first byte.
        MessageCase{"[\"\xff\"]", "invalid unicode code point at line 1 column 3"},
        MessageCase{"[\"ab\xc3(\"]", "invalid unicode code point at line 1 column 5"},
        MessageCase{"[\"\xed\xa0\x80\"]", "invalid unicode code point at line 1 column 3"},
        MessageCase{"[\"\xc0\xaf\"]", "invalid unicode code point at line 1 column 3"},
        MessageCase{"[\"\xf4\x90\x80\x80\"]", "invalid unicode code point at line 1 column 3"},
        MessageCase{"[1,]", "trailing comma at line 1 column 4"},
        MessageCase{R"({"arm_arc":1,})", "trailing comma at line 1 column 14"},
        MessageCase{R"({"x":[1, ]})", "trailing comma at line 1 column 10"},
        MessageCase{R"([1,2,"positive",true,])", "trailing comma at line 1 column 22"},
        MessageCase{R"([0.7, 0.5, "negative", true, 1])",
                    "trailing characters at line 1 column 30"},
        MessageCase{R"([1,2,"positive",true,)", "trailing characters at line 1 column 21"},
        MessageCase{R"([1,2,"positive",false x])", "trailing characters at line 1 column 23"},
        MessageCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5} x)",
                    "trailing characters at line 1 column 38"},
        MessageCase{"[1,2]\n\n]", "trailing characters at line 3 column 1"}));

// Expected geometry of a text that decodes.
struct DecodeCase {
  std::string text;
  SphericalLinkGeometry geometry;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  print_escaped(c.text, os);
}

class Decodes : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decodes, ToTheRecord) {
  const auto result = arm::decode_geometry(GetParam().text);
  const auto* geometry = std::get_if<SphericalLinkGeometry>(&result);
  ASSERT_NE(geometry, nullptr) << std::get<DecodeError>(result).message;
  const SphericalLinkGeometry& expected = GetParam().geometry;
  EXPECT_EQ(geometry->arm_arc, expected.arm_arc);
  EXPECT_EQ(geometry->coupler_arc, expected.coupler_arc);
  EXPECT_EQ(geometry->branch, expected.branch);
  EXPECT_EQ(geometry->mirror, expected.mirror);
}

constexpr SphericalLinkGeometry kLeft{0.7, 0.5, Branch::positive, false};
constexpr SphericalLinkGeometry kLeftNegative{0.7, 0.5, Branch::negative, false};

INSTANTIATE_TEST_SUITE_P(
    Table, Decodes,
    testing::Values(
        DecodeCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5})", kLeft},
        DecodeCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "positive", "mirror": false})",
                   kLeft},
        DecodeCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "mirror": true})", arm::kDefaultRight},
        DecodeCase{R"({"coupler_arc": 0.5, "mirror": true, "arm_arc": -0.7})",
                   {-0.7, 0.5, Branch::positive, true}},
        DecodeCase{R"({"mirror": false, "branch": "negative", "coupler_arc": 0.5, "arm_arc": 0.7})",
                   kLeftNegative},
        DecodeCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "branch": {"negative": null}})",
                   kLeftNegative},
        DecodeCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "branch": { "positive" : null } })",
                   kLeft},
        DecodeCase{"[0.7, 0.5]", kLeft}, DecodeCase{R"([0.7, 0.5, "negative"])", kLeftNegative},
        DecodeCase{R"([0.7, 0.5, {"negative": null}, true])", {0.7, 0.5, Branch::negative, true}},
        DecodeCase{" \t\r\n[ 0.7 ,\n0.5 ]\r\n ", kLeft},
        DecodeCase{R"({"arm_arc": 1, "coupler_arc": 5e-1, "note": [1, {"x": null}]})",
                   {1.0, 0.5, Branch::positive, false}},
        // Unknown keys: any value, nested, repeated, also with the known names' escapes.
        DecodeCase{R"({"x": {"arm_arc": "no", "mirror": [null]}, "arm_arc": 0.7, "x": [], )"
                   R"("x": "\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00", "coupler_arc": 0.5, "y": -0.0e-0,)"
                   R"( "z": true, "w": false, "v": null, "": {}, "u": [[], {}, [{}]]})",
                   kLeft},
        DecodeCase{
            R"({"\u0061rm_arc": 0.7, "coupler\u005farc": 0.5, "\u0062ranch": "ne\u0067ative"})",
            kLeftNegative},
        DecodeCase{"{\"arm_arc\": 0.7, \"coupler_arc\": 0.5, \"\xf0\x9f\x98\x80\\ud83d\\ude00\": "
                   "\"\xc3\xa9\xe2\x82\xac\xf4\x8f\xbf\xbf\"}",
                   kLeft},
        DecodeCase{R"({"arm_arc": 0.7, "coupler_arc": 0.5, "arm_arc ": 1, "branch_": 2})", kLeft}));

// Expected double of an arm_arc number.
struct NumberCase {
  std::string number;
  double value;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
  print_escaped(c.number, os);
}

class Numbers : public testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, ConvertCorrectlyRounded) {
  const auto result = arm::decode_geometry("[" + GetParam().number + ", 0]");
  const auto* geometry = std::get_if<SphericalLinkGeometry>(&result);
  ASSERT_NE(geometry, nullptr) << std::get<DecodeError>(result).message;
  // Bitwise, so that the sign of zero counts.
  EXPECT_EQ(std::bit_cast<std::uint64_t>(geometry->arm_arc),
            std::bit_cast<std::uint64_t>(GetParam().value))
      << geometry->arm_arc;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Numbers,
    testing::Values(
        NumberCase{"0", 0.0}, NumberCase{"-0", -0.0}, NumberCase{"-0.0e5", -0.0},
        NumberCase{"1", 1.0}, NumberCase{"-7", -7.0}, NumberCase{"5e-1", 0.5},
        NumberCase{"1E2", 100.0}, NumberCase{"1e+2", 100.0}, NumberCase{"12.5E-1", 1.25},
        NumberCase{"0.1", 0.1}, NumberCase{"1e-400", 0.0}, NumberCase{"-1e-400", -0.0},
        NumberCase{"0.0000000000000000000000001e-300", 0.0},
        NumberCase{"1e-99999999999999999999999", 0.0}, NumberCase{"0e99999999999999999999999", 0.0},
        NumberCase{"18446744073709551615", 18446744073709551615.0},
        NumberCase{"18446744073709551617", 18446744073709551616.0},
        // Ties and near-ties beyond 17 significant digits, rounded to nearest even.
        NumberCase{"9007199254740993", 9007199254740992.0},
        NumberCase{"9007199254740993.000000000000000000001", 9007199254740994.0},
        NumberCase{"9007199254740995", 9007199254740996.0},
        NumberCase{"0.3000000000000000166533453693773481063544750213623046875",
                   0.30000000000000004},
        NumberCase{"0.30000000000000001665334536937734810635447502136230468749", 0.3},
        NumberCase{"1.7976931348623157e308", std::numeric_limits<double>::max()},
        NumberCase{"1.7976931348623158079e308", std::numeric_limits<double>::max()},
        NumberCase{"2.2250738585072011e-308", 2.2250738585072011e-308},
        NumberCase{"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
        NumberCase{"2.4703282292062328e-324", std::numeric_limits<double>::denorm_min()},
        NumberCase{"2.4703282292062327e-324", 0.0},
        NumberCase{"0." + std::string(400, '0') + "1e401", 1.0},
        NumberCase{std::string(400, '9') + "e-400", 1.0}));

TEST(Numbers, BeyondTheLargestDoubleAreOutOfRange) {
  for (const std::string& number : std::initializer_list<std::string>{
           "1e309", "-1e309", "1.7976931348623159e308", "1e99999999999999999999999",
           std::string(310, '1'), "0." + std::string(5, '0') + "1e315"}) {
    EXPECT_EQ(message_of("[" + number + "]"),
              "number out of range at line 1 column " + std::to_string(number.size() + 1))
        << number;
  }
}

TEST(Numbers, DescribedAsIntegerOnlyWhenA64BitIntegerHoldsThem) {
  const struct {
    std::string number;
    std::string description;
  } cases[] = {
      {"-5", "integer `-5`"},
      {"0", "integer `0`"},
      {"18446744073709551615", "integer `18446744073709551615`"},
      {"-9223372036854775808", "integer `-9223372036854775808`"},
      {"18446744073709551616", "floating point `18446744073709551616.0`"},
      {"-9223372036854775809", "floating point `-9223372036854775808.0`"},
      {"-0", "floating point `-0.0`"},
      {"1.5", "floating point `1.5`"},
      {"1.0", "floating point `1.0`"},
      {"1e2", "floating point `100.0`"},
      {"0.1e1", "floating point `1.0`"},
  };
  for (const auto& c : cases) {
    const std::string text = R"([1, 2, {"positive": )" + c.number + "}]";
    EXPECT_EQ(message_of(text), "invalid type: " + c.description +
                                    ", expected unit variant at line 1 column " +
                                    std::to_string(text.size() - 2));
  }
}

TEST(Positions, ColumnsCountBytesAndOnlyLineFeedsStartLines) {
  const MessageCase cases[] = {
      // Two-byte, three-byte and four-byte characters before the error, in one line.
      {"{\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\": 1 x}", "at line 1 column 17"},
      // A carriage return is a byte of the line, not a new line.
      {"{\r\r\"a\": 1 x}", "at line 1 column 11"},
      {"{\r\n\"a\": 1 x}", "at line 2 column 8"},
      {"{\n\n\n\"a\"\n:\n1\nx}", "at line 7 column 1"},
      {"[0.7,\n 0.5,\n \"\xc3\xa9\"]", "at line 3 column 5"},
  };
  for (const auto& c : cases) {
    const std::string message = message_of(c.text);
    EXPECT_TRUE(message.ends_with(c.message)) << c.text << " -> " << message;
  }
}

TEST(Nesting, AHundredThousandLevelsInAnUnknownKeyAreSkipped) {
  constexpr std::size_t kDepth = 100'000;
  std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
  std::string objects;
  for (std::size_t i = 0; i < kDepth; ++i) objects += i % 2 ? "[" : "{\"k\":";
  objects += "null";
  for (std::size_t i = kDepth; i-- > 0;) objects += i % 2 ? "]" : "}";
  const std::string text = R"({"arm_arc": 0.7, "deep": )" + arrays + R"(, "mixed": )" + objects +
                           R"(, "coupler_arc": 0.5})";
  EXPECT_EQ(message_of(text), "<decoded>");

  // Cut short, the same nesting is a clean error at the end.
  const std::string cut = R"({"arm_arc": 0.7, "deep": )" + objects.substr(0, objects.size() / 2);
  EXPECT_EQ(message_of(cut),
            "EOF while parsing an object at line 1 column " + std::to_string(cut.size()));
  // A mismatched bracket deep inside is found at its place.
  std::string crossed = arrays;
  crossed[kDepth + kDepth / 2] = '}';
  EXPECT_EQ(message_of(R"({"x":)" + crossed + "}"),
            "expected `,` or `]` at line 1 column " + std::to_string(5 + kDepth + kDepth / 2 + 1));
}

TEST(Truncation, EveryProperPrefixOfARecordFails) {
  const std::string texts[] = {
      R"({"arm_arc": -1.5e-3, "coupler_arc": 0.5, "branch": {"negative": null}, "mirror": true, "n": [1, {"\u00e9\ud83d\ude00": "x"}]})",
      R"([0.7, 0.5, "negative", false])",
  };
  for (const std::string& text : texts) {
    ASSERT_EQ(message_of(text), "<decoded>");
    for (std::size_t n = 0; n < text.size(); ++n) {
      const std::string_view prefix(text.data(), n);
      const std::string message = message_of(prefix);
      EXPECT_TRUE(message.starts_with("EOF while parsing") || message.starts_with("invalid length"))
          << prefix << " -> " << message;
      expect_position_within(prefix, message);
    }
  }
}

// Reads a whole file as bytes.
std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The public conformance corpus: y_ files are valid JSON, n_ files are not, i_ files are
// left to the reader. A record decoder rejects most y_ files too, but never as broken JSON.
// (Valid JSON can still draw a syntax message in two places no y_ file reaches: a Branch item
// that is neither a string nor an object, and a fifth item of the array form.)
TEST(Corpus, ValidFilesAreNeverSyntaxErrorsAndInvalidOnesAreRejected) {
  const std::filesystem::path directory = TORSO_JSON_CORPUS;
  ASSERT_TRUE(std::filesystem::is_directory(directory)) << directory;
  int valid = 0;
  int invalid = 0;
  int unspecified = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    const std::string text = read_bytes(entry.path());
    const auto result = arm::decode_geometry(text);
    const auto* error = std::get_if<DecodeError>(&result);
    if (error != nullptr) expect_position_within(text, error->message);
    if (name.starts_with("y_")) {
      ++valid;
      if (error != nullptr) {
        EXPECT_FALSE(is_syntax_message(error->message)) << name << ": " << error->message;
      }
    } else if (name.starts_with("n_")) {
      ++invalid;
      EXPECT_NE(error, nullptr) << name << " decoded";
    } else if (name.starts_with("i_")) {
      ++unspecified;
    }
  }
  EXPECT_GT(valid, 50);
  EXPECT_GT(invalid, 100);
  EXPECT_GT(unspecified, 0);
}

}  // namespace
