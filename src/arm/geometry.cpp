// Decoder of the arm geometry record from JSON text. One forward pass over the bytes: a
// scanner that keeps a single position record and classifies what comes next, a parser on
// top of it for the two record forms, and an iterative skipper for the values of unknown
// keys. Every error stops decoding and carries a fixed text plus the line and column of the
// offending point. Nothing is allocated on the success path except the nesting record of a
// skipped value deeper than 64 levels; when that fails, decoding stops without a message.
#include <vornalt_torso_kinematics/arm/geometry.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vornalt_torso_kinematics::arm {
namespace {

// peek() at the end of the text.
constexpr int kEndOfText = -1;

// UTF-16 surrogate ranges and the first code point beyond the Basic Multilingual Plane.
constexpr std::uint32_t kLeadingSurrogateFirst = 0xD800;
constexpr std::uint32_t kLeadingSurrogateLast = 0xDBFF;
constexpr std::uint32_t kTrailingSurrogateFirst = 0xDC00;
constexpr std::uint32_t kTrailingSurrogateLast = 0xDFFF;
constexpr std::uint32_t kFirstSupplementaryCodePoint = 0x10000;
constexpr int kSurrogatePayloadBits = 10;

// Digits of a \u escape.
constexpr int kHexEscapeDigits = 4;

// Decoded key bytes kept for matching; longer than every field and variant name.
constexpr std::size_t kShortTextCapacity = 16;

// Exponent values beyond this are only compared, never used, so they saturate here.
constexpr std::int64_t kExponentSaturation = std::int64_t{1} << 50;

// Magnitude of the most negative 64-bit signed integer.
constexpr std::uint64_t kMostNegativeMagnitude =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;

// Room for the shortest round-trip text of any double.
constexpr std::size_t kDoubleTextCapacity = 64;

// Bits of one word of the nesting record.
constexpr std::size_t kBitsPerWord = 64;

// Syntax errors, each with one fixed text.
enum class Fault : std::uint8_t {
  none,
  eof_value,
  eof_list,
  eof_object,
  eof_string,
  expected_colon,
  expected_comma_or_bracket,
  expected_comma_or_brace,
  expected_ident,
  expected_value,
  key_must_be_string,
  invalid_number,
  number_out_of_range,
  invalid_escape,
  control_character,
  lone_leading_surrogate,
  unexpected_end_of_hex_escape,
  invalid_code_point,
  trailing_comma,
  trailing_characters,
};

// The texts of the syntax errors, in the order of Fault.
constexpr std::array<std::string_view, 20> kFaultTexts{
    "no error",
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
static_assert(kFaultTexts.size() == static_cast<std::size_t>(Fault::trailing_characters) + 1);

// The text of a syntax error, without its position.
constexpr std::string_view fault_text(Fault fault) {
  return kFaultTexts[static_cast<std::size_t>(fault)];
}

// ---------------------------------------------------------------------------------------
// Scanner

// Where the scanner stands: bytes read, bytes into the current line, line feeds read.
struct Position {
  std::size_t bytes_read = 0;
  std::size_t bytes_into_line = 0;
  std::size_t lines_read = 0;
};

// The text and the scanner's place in it.
struct Scanner {
  std::string_view text;
  Position pos;
};

// The next byte, or kEndOfText; never reads past the text.
int peek(const Scanner& s) {
  if (s.pos.bytes_read >= s.text.size()) return kEndOfText;
  return static_cast<unsigned char>(s.text[s.pos.bytes_read]);
}

// The byte `ahead` places after the next one, or kEndOfText.
int peek_ahead(const Scanner& s, std::size_t ahead) {
  if (ahead >= s.text.size() - s.pos.bytes_read) return kEndOfText;
  return static_cast<unsigned char>(s.text[s.pos.bytes_read + ahead]);
}

// Consumes the next byte (which must exist); the one place where the position moves.
void bump(Scanner& s) {
  const char byte = s.text[s.pos.bytes_read];
  ++s.pos.bytes_read;
  if (byte == '\n') {
    ++s.pos.lines_read;
    s.pos.bytes_into_line = 0;
  } else {
    ++s.pos.bytes_into_line;
  }
}

// Skips JSON whitespace (space, tab, line feed, carriage return) and returns the next byte.
int skip_whitespace(Scanner& s) {
  for (;;) {
    const int c = peek(s);
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return c;
    bump(s);
  }
}

bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit, or -1.
int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What the first byte of a value says the value is.
enum class TokenKind : std::uint8_t {
  end_of_text,
  begin_array,
  begin_object,
  string,
  literal_true,
  literal_false,
  literal_null,
  number,
  unexpected,
};

// Classifies a value by its first byte.
TokenKind classify(int c) {
  switch (c) {
    case kEndOfText:
      return TokenKind::end_of_text;
    case '[':
      return TokenKind::begin_array;
    case '{':
      return TokenKind::begin_object;
    case '"':
      return TokenKind::string;
    case 't':
      return TokenKind::literal_true;
    case 'f':
      return TokenKind::literal_false;
    case 'n':
      return TokenKind::literal_null;
    case '-':
      return TokenKind::number;
    default:
      return is_digit(c) ? TokenKind::number : TokenKind::unexpected;
  }
}

// Reads the literal `word` whose first byte is next; a mismatch is reported just after it.
Fault scan_literal(Scanner& s, std::string_view word) {
  bump(s);
  for (const char expected : word.substr(1)) {
    const int c = peek(s);
    if (c == kEndOfText) return Fault::eof_value;
    bump(s);
    if (c != static_cast<unsigned char>(expected)) return Fault::expected_ident;
  }
  return Fault::none;
}

// A number's text in the input and its nearest double.
struct NumberToken {
  std::string_view text;
  bool integral = true;  // no fraction and no exponent
  double value = 0.0;
};

// Consumes a run of decimal digits.
void skip_digits(Scanner& s) {
  while (is_digit(peek(s))) bump(s);
}

// Requires at least one digit after a '.' or an exponent marker, then consumes the run.
Fault scan_required_digits(Scanner& s) {
  const int c = peek(s);
  if (c == kEndOfText) return Fault::eof_value;
  if (!is_digit(c)) {
    bump(s);
    return Fault::invalid_number;
  }
  skip_digits(s);
  return Fault::none;
}

// Decimal exponent of the leading nonzero digit of a valid number token that is not zero:
// the token's magnitude is at least 1 exactly when the result is not negative.
std::int64_t leading_digit_exponent(std::string_view token) {
  const std::size_t marker = std::min(token.find_first_of("eE"), token.size());
  const std::string_view mantissa = token.substr(0, marker);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return std::numeric_limits<std::int64_t>::min();
  // Places below the units digit are negative; the point itself takes no place.
  std::int64_t leading = static_cast<std::int64_t>(point) - static_cast<std::int64_t>(first);
  if (first < point) --leading;
  std::int64_t exponent = 0;
  std::size_t j = marker + 1;
  const bool negative = j < token.size() && token[j] == '-';
  if (j < token.size() && (token[j] == '-' || token[j] == '+')) ++j;
  for (; j < token.size(); ++j) {
    exponent = std::min(exponent * 10 + (token[j] - '0'), kExponentSaturation);
  }
  return leading + (negative ? -exponent : exponent);
}

// Converts a valid number token to the nearest double; a magnitude beyond the largest double
// is an error, one too small for the smallest becomes a zero of the token's sign.
Fault convert_number(std::string_view token, double& value) {
  const char* const end = token.data() + token.size();
  const auto [stop, error] = std::from_chars(token.data(), end, value);
  if (error == std::errc{} && stop == end) return Fault::none;
  if (error != std::errc::result_out_of_range || stop != end) return Fault::invalid_number;
  if (leading_digit_exponent(token) >= 0) return Fault::number_out_of_range;
  value = token.front() == '-' ? -0.0 : 0.0;
  return Fault::none;
}

// Reads a number: '-'? int frac? exp?, without leading zeros; the grammar is checked here,
// so the token can be converted straight from the input.
Fault scan_number(Scanner& s, NumberToken& number) {
  const std::size_t begin = s.pos.bytes_read;
  if (peek(s) == '-') bump(s);
  const int first = peek(s);
  if (first == kEndOfText) return Fault::eof_value;
  bump(s);
  if (first == '0') {
    if (is_digit(peek(s))) {
      bump(s);
      return Fault::invalid_number;
    }
  } else if (is_digit(first)) {
    skip_digits(s);
  } else {
    return Fault::invalid_number;
  }
  number.integral = true;
  if (peek(s) == '.') {
    bump(s);
    number.integral = false;
    if (const Fault fault = scan_required_digits(s); fault != Fault::none) return fault;
  }
  if (peek(s) == 'e' || peek(s) == 'E') {
    bump(s);
    number.integral = false;
    if (peek(s) == '+' || peek(s) == '-') bump(s);
    if (const Fault fault = scan_required_digits(s); fault != Fault::none) return fault;
  }
  number.text = s.text.substr(begin, s.pos.bytes_read - begin);
  return convert_number(number.text, number.value);
}

// Keeps the first bytes of a decoded string and its full length: enough to match names.
struct ShortText {
  std::array<char, kShortTextCapacity> bytes{};
  std::size_t size = 0;
};

// Drops decoded string bytes: the string is only checked.
struct Discard {};

void append(ShortText& text, char byte) {
  if (text.size < text.bytes.size()) text.bytes[text.size] = byte;
  ++text.size;
}

void append(std::string& text, char byte) {
  text.push_back(byte);
}

void append(Discard&, char) {}

// Whether the decoded string is exactly `word`.
bool equals(const ShortText& text, std::string_view word) {
  return text.size == word.size() && text.size <= text.bytes.size() &&
         std::memcmp(text.bytes.data(), word.data(), word.size()) == 0;
}

// Appends the UTF-8 encoding of a Unicode scalar value.
template <class Sink>
void append_code_point(Sink& out, std::uint32_t cp) {
  if (cp < 0x80) {
    append(out, static_cast<char>(cp));
  } else if (cp < 0x800) {
    append(out, static_cast<char>(0xC0 | (cp >> 6)));
    append(out, static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    append(out, static_cast<char>(0xE0 | (cp >> 12)));
    append(out, static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    append(out, static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    append(out, static_cast<char>(0xF0 | (cp >> 18)));
    append(out, static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    append(out, static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    append(out, static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Reads the four hex digits of a \u escape; a bad digit is reported just after itself.
Fault scan_hex4(Scanner& s, std::uint32_t& unit) {
  unit = 0;
  for (int i = 0; i < kHexEscapeDigits; ++i) {
    const int c = peek(s);
    if (c == kEndOfText) return Fault::eof_string;
    bump(s);
    const int digit = hex_value(c);
    if (digit < 0) return Fault::invalid_escape;
    unit = unit * 16 + static_cast<std::uint32_t>(digit);
  }
  return Fault::none;
}

// Consumes the expected byte of a surrogate pair's second half ('\\' or 'u').
Fault expect_pair_byte(Scanner& s, int expected) {
  const int c = peek(s);
  if (c == kEndOfText) return Fault::eof_string;
  bump(s);
  return c == expected ? Fault::none : Fault::unexpected_end_of_hex_escape;
}

// Decodes what follows "\u": one code unit, or a leading and a trailing surrogate.
template <class Sink>
Fault scan_unicode_escape(Scanner& s, Sink& out) {
  std::uint32_t unit = 0;
  if (const Fault fault = scan_hex4(s, unit); fault != Fault::none) return fault;
  if (unit >= kTrailingSurrogateFirst && unit <= kTrailingSurrogateLast) {
    return Fault::invalid_code_point;  // a trailing surrogate with no leading one
  }
  if (unit >= kLeadingSurrogateFirst && unit <= kLeadingSurrogateLast) {
    if (const Fault fault = expect_pair_byte(s, '\\'); fault != Fault::none) return fault;
    if (const Fault fault = expect_pair_byte(s, 'u'); fault != Fault::none) return fault;
    std::uint32_t trailing = 0;
    if (const Fault fault = scan_hex4(s, trailing); fault != Fault::none) return fault;
    if (trailing < kTrailingSurrogateFirst || trailing > kTrailingSurrogateLast) {
      return Fault::lone_leading_surrogate;
    }
    unit = kFirstSupplementaryCodePoint +
           ((unit - kLeadingSurrogateFirst) << kSurrogatePayloadBits) +
           (trailing - kTrailingSurrogateFirst);
  }
  append_code_point(out, unit);
  return Fault::none;
}

// Decodes a backslash escape; an unknown one is reported just after its letter.
template <class Sink>
Fault scan_escape(Scanner& s, Sink& out) {
  bump(s);  // the backslash
  const int c = peek(s);
  if (c == kEndOfText) return Fault::eof_string;
  bump(s);
  switch (c) {
    case '"':
    case '\\':
    case '/':
      append(out, static_cast<char>(c));
      return Fault::none;
    case 'b':
      append(out, '\b');
      return Fault::none;
    case 'f':
      append(out, '\f');
      return Fault::none;
    case 'n':
      append(out, '\n');
      return Fault::none;
    case 'r':
      append(out, '\r');
      return Fault::none;
    case 't':
      append(out, '\t');
      return Fault::none;
    case 'u':
      return scan_unicode_escape(s, out);
    default:
      return Fault::invalid_escape;
  }
}

// Allowed range of the second byte of a UTF-8 sequence and the sequence's length.
struct Utf8Lead {
  int length;  // 0 for a byte that cannot start a sequence
  int second_min;
  int second_max;
};

// The well-formed UTF-8 sequences (RFC 3629): no overlong forms, surrogates or values past
// U+10FFFF.
Utf8Lead utf8_lead(int lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// Copies one multi-byte UTF-8 character; an ill-formed one is reported just after its first
// byte, one cut off by the end of the text at the end.
template <class Sink>
Fault scan_utf8(Scanner& s, Sink& out) {
  const Utf8Lead lead = utf8_lead(peek(s));
  bool well_formed = lead.length > 0;
  for (int i = 1; well_formed && i < lead.length; ++i) {
    const int c = peek_ahead(s, static_cast<std::size_t>(i));
    if (c == kEndOfText) {
      while (peek(s) != kEndOfText) bump(s);
      return Fault::eof_string;
    }
    const int low = i == 1 ? lead.second_min : 0x80;
    const int high = i == 1 ? lead.second_max : 0xBF;
    well_formed = c >= low && c <= high;
  }
  if (!well_formed) {
    bump(s);
    return Fault::invalid_code_point;
  }
  for (int i = 0; i < lead.length; ++i) {
    append(out, static_cast<char>(peek(s)));
    bump(s);
  }
  return Fault::none;
}

// Reads a string whose opening quote is next, decoding it into `out`.
template <class Sink>
Fault scan_string(Scanner& s, Sink& out) {
  bump(s);  // the opening quote
  for (;;) {
    const int c = peek(s);
    if (c == kEndOfText) return Fault::eof_string;
    if (c == '"') {
      bump(s);
      return Fault::none;
    }
    if (c == '\\') {
      if (const Fault fault = scan_escape(s, out); fault != Fault::none) return fault;
    } else if (c < 0x20) {
      bump(s);
      return Fault::control_character;
    } else if (c < 0x80) {
      append(out, static_cast<char>(c));
      bump(s);
    } else if (const Fault fault = scan_utf8(s, out); fault != Fault::none) {
      return fault;
    }
  }
}

// The decoded text of the already validated string whose opening quote is at `begin`.
std::string decode_string_at(std::string_view text, std::size_t begin) {
  Scanner again{text, Position{begin, 0, 0}};
  std::string decoded;
  scan_string(again, decoded);
  return decoded;
}

// ---------------------------------------------------------------------------------------
// Messages

// A string's text for a message: quoted, with quote, backslash and control bytes escaped.
std::string quoted(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += byte;
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u{";
      if (c >= 0x10) out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
      out += '}';
    } else {
      out += byte;
    }
  }
  out += '"';
  return out;
}

// Whether an integer token fits a 64-bit unsigned (non-negative) or signed (negative) integer.
// "-0" does not: it stands for the float −0.0, which no integer holds.
bool fits_integer(std::string_view token) {
  const bool negative = token.front() == '-';
  const std::string_view digits = token.substr(negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  const auto [stop, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (error != std::errc{} || stop != digits.data() + digits.size()) return false;
  return !negative || (magnitude != 0 && magnitude <= kMostNegativeMagnitude);
}

// Describes a number for an "invalid type" message.
std::string describe_number(const NumberToken& number) {
  if (number.integral && fits_integer(number.text)) {
    return "integer `" + std::string(number.text) + "`";
  }
  std::array<char, kDoubleTextCapacity> buffer{};
  const auto [stop, error] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), number.value);
  std::string shortest(buffer.data(), error == std::errc{} ? stop : buffer.data());
  if (shortest.find_first_not_of("-0123456789") == std::string::npos) shortest += ".0";
  return "floating point `" + shortest + "`";
}

// ---------------------------------------------------------------------------------------
// Parser

// The scanner and the text of the first error, which ends decoding.
struct Decoder {
  Scanner scan;
  std::string message;
  bool out_of_memory = false;  // the nesting record could not grow: there is no message
};

// Records an error at the scanner's current point; returns false for the caller to pass on.
bool fail(Decoder& d, std::string message) {
  d.message = std::move(message);
  return false;
}

bool fail(Decoder& d, Fault fault) {
  return fail(d, std::string(fault_text(fault)));
}

// Records a syntax error just after the first byte of the offending character, or at the end.
bool fail_at_next(Decoder& d, Fault fault) {
  if (peek(d.scan) != kEndOfText) bump(d.scan);
  return fail(d, fault);
}

// Passes a scanner fault on as the decoder's error; true when there is none.
bool check(Decoder& d, Fault fault) {
  return fault == Fault::none || fail(d, fault);
}

// Kinds of the containers open around the current point of a skipped value, one bit per
// level (1 for an object), so that nesting costs neither stack frames nor a byte per level.
struct NestingRecord {
  std::uint64_t first_word = 0;      // levels 0 to 63
  std::vector<std::uint64_t> words;  // deeper levels
  std::size_t depth = 0;
};

// The word that holds the bit of `level`.
std::uint64_t& nesting_word(NestingRecord& open, std::size_t level) {
  const std::size_t index = level / kBitsPerWord;
  return index == 0 ? open.first_word : open.words[index - 1];
}

// Opens one more container level; false, with the decoder out of memory, when the record
// cannot grow.
bool push_level(Decoder& d, NestingRecord& open, bool is_object) {
  const std::size_t level = open.depth;
  if (level >= kBitsPerWord && level % kBitsPerWord == 0) {
    try {
      open.words.push_back(0);
    } catch (const std::bad_alloc&) {
      d.out_of_memory = true;
      return false;
    }
  }
  const std::uint64_t bit = std::uint64_t{1} << (level % kBitsPerWord);
  std::uint64_t& word = nesting_word(open, level);
  word = is_object ? (word | bit) : (word & ~bit);
  ++open.depth;
  return true;
}

// Whether the innermost open container is an object.
bool innermost_is_object(NestingRecord& open) {
  const std::size_t level = open.depth - 1;
  return (nesting_word(open, level) >> (level % kBitsPerWord)) & 1U;
}

// Consumes the colon after an object key.
bool read_colon(Decoder& d) {
  const int c = skip_whitespace(d.scan);
  if (c == ':') {
    bump(d.scan);
    return true;
  }
  if (c == kEndOfText) return fail(d, Fault::eof_object);
  return fail_at_next(d, Fault::expected_colon);
}

// Reads a key of a skipped object, and its colon.
bool skip_key(Decoder& d) {
  Discard ignored;
  return check(d, scan_string(d.scan, ignored)) && read_colon(d);
}

// Reads a string, literal or number for its syntax only.
bool skip_scalar(Decoder& d) {
  Discard ignored;
  NumberToken number;
  switch (classify(peek(d.scan))) {
    case TokenKind::string:
      return check(d, scan_string(d.scan, ignored));
    case TokenKind::literal_true:
      return check(d, scan_literal(d.scan, "true"));
    case TokenKind::literal_false:
      return check(d, scan_literal(d.scan, "false"));
    case TokenKind::literal_null:
      return check(d, scan_literal(d.scan, "null"));
    case TokenKind::number:
      return check(d, scan_number(d.scan, number));
    case TokenKind::end_of_text:
      return fail(d, Fault::eof_value);
    default:
      return fail_at_next(d, Fault::expected_value);
  }
}

// After a complete value inside a skipped one: consumes separators and closing brackets
// until another value is expected or the outermost value has ended (`finished`). False on an
// error.
bool close_levels(Decoder& d, NestingRecord& open, bool& finished) {
  finished = false;
  while (open.depth > 0) {
    const bool in_object = innermost_is_object(open);
    const int close = in_object ? '}' : ']';
    const int c = skip_whitespace(d.scan);
    if (c == close) {
      bump(d.scan);
      --open.depth;
      continue;
    }
    if (c == kEndOfText) return fail(d, in_object ? Fault::eof_object : Fault::eof_list);
    if (c != ',') {
      return fail_at_next(
          d, in_object ? Fault::expected_comma_or_brace : Fault::expected_comma_or_bracket);
    }
    bump(d.scan);
    const int after = skip_whitespace(d.scan);
    if (after == close) return fail_at_next(d, Fault::trailing_comma);
    if (after == kEndOfText) return fail(d, Fault::eof_value);
    if (!in_object) return true;
    if (after != '"') return fail_at_next(d, Fault::key_must_be_string);
    return skip_key(d);
  }
  finished = true;
  return true;
}

// Reads any JSON value for its syntax only and discards it. Nesting is followed with a bit
// record instead of recursion, so any depth is read without exhausting the stack.
bool skip_value(Decoder& d) {
  NestingRecord open;
  for (;;) {
    const int c = skip_whitespace(d.scan);
    if (c == '[' || c == '{') {
      const bool is_object = c == '{';
      bump(d.scan);
      const int first = skip_whitespace(d.scan);
      if (first == (is_object ? '}' : ']')) {
        bump(d.scan);
      } else if (first == kEndOfText) {
        return fail(d, is_object ? Fault::eof_object : Fault::eof_list);
      } else if (!is_object) {
        if (!push_level(d, open, false)) return false;
        continue;
      } else if (first != '"') {
        return fail_at_next(d, Fault::key_must_be_string);
      } else {
        if (!skip_key(d) || !push_level(d, open, true)) return false;
        continue;
      }
    } else if (!skip_scalar(d)) {
      return false;
    }
    bool finished = false;
    if (!close_levels(d, open, finished)) return false;
    if (finished) return true;
  }
}

// Reads the value that stands where `expected` was wanted and reports it as an invalid type
// just after it; a value that is not even JSON gives its syntax error instead.
bool fail_invalid_type(Decoder& d, std::string_view expected) {
  std::string what;
  const std::size_t begin = d.scan.pos.bytes_read;
  switch (classify(peek(d.scan))) {
    case TokenKind::begin_array:
      if (!skip_value(d)) return false;
      what = "sequence";
      break;
    case TokenKind::begin_object:
      if (!skip_value(d)) return false;
      what = "map";
      break;
    case TokenKind::string: {
      Discard ignored;
      if (!check(d, scan_string(d.scan, ignored))) return false;
      what = "string " + quoted(decode_string_at(d.scan.text, begin));
      break;
    }
    case TokenKind::literal_true:
      if (!check(d, scan_literal(d.scan, "true"))) return false;
      what = "boolean `true`";
      break;
    case TokenKind::literal_false:
      if (!check(d, scan_literal(d.scan, "false"))) return false;
      what = "boolean `false`";
      break;
    case TokenKind::literal_null:
      if (!check(d, scan_literal(d.scan, "null"))) return false;
      what = "null";
      break;
    case TokenKind::number: {
      NumberToken number;
      if (!check(d, scan_number(d.scan, number))) return false;
      what = describe_number(number);
      break;
    }
    case TokenKind::end_of_text:
      return fail(d, Fault::eof_value);
    case TokenKind::unexpected:
      return fail_at_next(d, Fault::expected_value);
  }
  return fail(d, "invalid type: " + what + ", expected " + std::string(expected));
}

// Reads an arc: any JSON number, as the nearest double.
bool read_f64(Decoder& d, double& out) {
  if (classify(skip_whitespace(d.scan)) != TokenKind::number) return fail_invalid_type(d, "f64");
  NumberToken number;
  if (!check(d, scan_number(d.scan, number))) return false;
  out = number.value;
  return true;
}

// Reads `mirror`: true or false.
bool read_bool(Decoder& d, bool& out) {
  switch (classify(skip_whitespace(d.scan))) {
    case TokenKind::literal_true:
      out = true;
      return check(d, scan_literal(d.scan, "true"));
    case TokenKind::literal_false:
      out = false;
      return check(d, scan_literal(d.scan, "false"));
    default:
      return fail_invalid_type(d, "a boolean");
  }
}

// Reads a Branch name (a string, next); an unknown name is reported just after it.
bool read_variant_name(Decoder& d, Branch& out) {
  const std::size_t begin = d.scan.pos.bytes_read;
  ShortText name;
  if (!check(d, scan_string(d.scan, name))) return false;
  if (equals(name, "positive")) {
    out = Branch::positive;
    return true;
  }
  if (equals(name, "negative")) {
    out = Branch::negative;
    return true;
  }
  return fail(d, "unknown variant `" + decode_string_at(d.scan.text, begin) +
                     "`, expected `positive` or `negative`");
}

// Reads a Branch: "positive", "negative", or an object of one such key whose value is null.
bool read_branch(Decoder& d, Branch& out) {
  const int c = skip_whitespace(d.scan);
  if (c == '"') return read_variant_name(d, out);
  if (c == kEndOfText) return fail(d, Fault::eof_value);
  if (c != '{') return fail_at_next(d, Fault::expected_value);
  bump(d.scan);
  if (skip_whitespace(d.scan) != '"') return fail_invalid_type(d, "variant identifier");
  if (!read_variant_name(d, out) || !read_colon(d)) return false;
  if (skip_whitespace(d.scan) != 'n') return fail_invalid_type(d, "unit variant");
  if (!check(d, scan_literal(d.scan, "null"))) return false;
  const int close = skip_whitespace(d.scan);
  if (close == '}') {
    bump(d.scan);
    return true;
  }
  if (close == kEndOfText) return fail(d, Fault::eof_object);
  return fail(d, Fault::expected_value);  // a second member: reported before it
}

// The object form's keys, in record order.
enum class Field : std::uint8_t { arm_arc, coupler_arc, branch, mirror, unknown };
constexpr std::array<std::string_view, 4> kFieldNames{"arm_arc", "coupler_arc", "branch", "mirror"};

// Which field a decoded key names.
Field match_field(const ShortText& key) {
  for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
    if (equals(key, kFieldNames[i])) return static_cast<Field>(i);
  }
  return Field::unknown;
}

// Reads the value of one member of the object form into its field, or skips it.
bool read_member_value(Decoder& d, Field field, SphericalLinkGeometry& geometry) {
  switch (field) {
    case Field::arm_arc:
      return read_f64(d, geometry.arm_arc);
    case Field::coupler_arc:
      return read_f64(d, geometry.coupler_arc);
    case Field::branch:
      return read_branch(d, geometry.branch);
    case Field::mirror:
      return read_bool(d, geometry.mirror);
    case Field::unknown:
      return skip_value(d);
  }
  return skip_value(d);
}

// Reads the object form, whose '{' is next: members in any order, unknown keys skipped.
bool read_object_form(Decoder& d, SphericalLinkGeometry& geometry) {
  std::array<bool, kFieldNames.size()> seen{};
  bump(d.scan);
  int c = skip_whitespace(d.scan);
  if (c == kEndOfText) return fail(d, Fault::eof_object);
  if (c != '}' && c != '"') return fail_at_next(d, Fault::key_must_be_string);
  while (c != '}') {
    ShortText key;
    if (!check(d, scan_string(d.scan, key))) return false;
    const Field field = match_field(key);
    if (field != Field::unknown) {
      const auto index = static_cast<std::size_t>(field);
      if (seen[index]) {
        skip_whitespace(d.scan);
        return fail(d, "duplicate field `" + std::string(kFieldNames[index]) + "`");
      }
      seen[index] = true;
    }
    if (!read_colon(d) || !read_member_value(d, field, geometry)) return false;
    c = skip_whitespace(d.scan);
    if (c == '}') break;
    if (c == kEndOfText) return fail(d, Fault::eof_object);
    if (c != ',') return fail_at_next(d, Fault::expected_comma_or_brace);
    bump(d.scan);
    c = skip_whitespace(d.scan);
    if (c == '}') return fail_at_next(d, Fault::trailing_comma);
    if (c == kEndOfText) return fail(d, Fault::eof_value);
    if (c != '"') return fail_at_next(d, Fault::key_must_be_string);
  }
  bump(d.scan);
  for (const Field required : {Field::arm_arc, Field::coupler_arc}) {
    const auto index = static_cast<std::size_t>(required);
    if (!seen[index]) return fail(d, "missing field `" + std::string(kFieldNames[index]) + "`");
  }
  return true;
}

// Consumes what follows an item of the array form: a comma before another item, or ']'
// (`closed`). False on an error.
bool after_item(Decoder& d, bool& closed) {
  closed = false;
  const int c = skip_whitespace(d.scan);
  if (c == ']') {
    bump(d.scan);
    closed = true;
    return true;
  }
  if (c == kEndOfText) return fail(d, Fault::eof_list);
  if (c != ',') return fail_at_next(d, Fault::expected_comma_or_bracket);
  bump(d.scan);
  const int next = skip_whitespace(d.scan);
  if (next == ']') return fail_at_next(d, Fault::trailing_comma);
  if (next == kEndOfText) return fail(d, Fault::eof_value);
  return true;
}

// The error of an array form with fewer than two items.
bool fail_length(Decoder& d, int items) {
  return fail(d, "invalid length " + std::to_string(items) +
                     ", expected struct SphericalLinkGeometry with 4 elements");
}

// After the fourth item of the array form only ']' may follow.
bool close_array_form(Decoder& d) {
  const int c = skip_whitespace(d.scan);
  if (c == ']') {
    bump(d.scan);
    return true;
  }
  if (c == kEndOfText) return fail(d, Fault::eof_list);
  if (c == ',') {
    bump(d.scan);
    if (skip_whitespace(d.scan) == ']') return fail_at_next(d, Fault::trailing_comma);
  }
  return fail_at_next(d, Fault::trailing_characters);
}

// Reads the array form, whose '[' is next: arm_arc, coupler_arc, then optionally branch and
// mirror.
bool read_array_form(Decoder& d, SphericalLinkGeometry& geometry) {
  bump(d.scan);
  const int c = skip_whitespace(d.scan);
  if (c == ']') {
    bump(d.scan);
    return fail_length(d, 0);
  }
  if (c == kEndOfText) return fail(d, Fault::eof_list);
  bool closed = false;
  if (!read_f64(d, geometry.arm_arc) || !after_item(d, closed)) return false;
  if (closed) return fail_length(d, 1);
  if (!read_f64(d, geometry.coupler_arc) || !after_item(d, closed)) return false;
  if (closed) return true;
  if (!read_branch(d, geometry.branch) || !after_item(d, closed)) return false;
  if (closed) return true;
  return read_bool(d, geometry.mirror) && close_array_form(d);
}

// Reads the record in either form, then requires that only whitespace follows.
bool read_document(Decoder& d, SphericalLinkGeometry& geometry) {
  bool read = false;
  switch (skip_whitespace(d.scan)) {
    case '{':
      read = read_object_form(d, geometry);
      break;
    case '[':
      read = read_array_form(d, geometry);
      break;
    default:
      return fail_invalid_type(d, "struct SphericalLinkGeometry");
  }
  if (!read) return false;
  if (skip_whitespace(d.scan) == kEndOfText) return true;
  return fail_at_next(d, Fault::trailing_characters);
}

}  // namespace

DecodeResult decode_geometry(std::string_view json) {
  Decoder d{Scanner{json, Position{}}, std::string{}};
  SphericalLinkGeometry geometry{0.0, 0.0, Branch::positive, false};
  if (read_document(d, geometry)) return geometry;
  if (d.out_of_memory) return DecodeOutOfMemory{};
  const Position& at = d.scan.pos;
  return DecodeError{d.message + " at line " + std::to_string(at.lines_read + 1) + " column " +
                     std::to_string(at.bytes_into_line)};
}

}  // namespace vornalt_torso_kinematics::arm
