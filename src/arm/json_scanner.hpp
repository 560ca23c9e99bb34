// The scanner of the geometry decoder: one position record, updated in one place as bytes are
// consumed; the kind of value that a byte begins; and the JSON strings (escapes, surrogate
// pairs, UTF-8), numbers and literals, each read to its end or to the fault that stops it.
// Only the decoder includes it; its functions are inline so that the decoder's loops keep
// them in line.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

namespace vornalt_torso_kinematics::arm::json {

// peek() at the end of the text.
inline constexpr int kEndOfText = -1;

// UTF-16 surrogate ranges and the first code point beyond the Basic Multilingual Plane.
inline constexpr std::uint32_t kLeadingSurrogateFirst = 0xD800;
inline constexpr std::uint32_t kLeadingSurrogateLast = 0xDBFF;
inline constexpr std::uint32_t kTrailingSurrogateFirst = 0xDC00;
inline constexpr std::uint32_t kTrailingSurrogateLast = 0xDFFF;
inline constexpr std::uint32_t kFirstSupplementaryCodePoint = 0x10000;
inline constexpr int kSurrogatePayloadBits = 10;

// Digits of a \u escape.
inline constexpr int kHexEscapeDigits = 4;

// Decoded key bytes kept for matching; longer than every field and variant name.
inline constexpr std::size_t kShortTextCapacity = 16;

// Exponent values beyond this are only compared, never used, so they saturate here.
inline constexpr std::int64_t kExponentSaturation = std::int64_t{1} << 50;

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
inline constexpr std::array<std::string_view, 20> kFaultTexts{
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
inline int peek(const Scanner& s) {
  if (s.pos.bytes_read >= s.text.size()) return kEndOfText;
  return static_cast<unsigned char>(s.text[s.pos.bytes_read]);
}

// The byte `ahead` places after the next one, or kEndOfText.
inline int peek_ahead(const Scanner& s, std::size_t ahead) {
  if (ahead >= s.text.size() - s.pos.bytes_read) return kEndOfText;
  return static_cast<unsigned char>(s.text[s.pos.bytes_read + ahead]);
}

// Consumes the next byte (which must exist); the one place where the position moves.
inline void bump(Scanner& s) {
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
inline int skip_whitespace(Scanner& s) {
  for (;;) {
    const int c = peek(s);
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return c;
    bump(s);
  }
}

inline bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit, or -1.
inline int hex_value(int c) {
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
inline TokenKind classify(int c) {
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

// Whether a value of this kind is one of the literals true, false and null.
constexpr bool is_literal(TokenKind kind) {
  return kind == TokenKind::literal_true || kind == TokenKind::literal_false ||
         kind == TokenKind::literal_null;
}

// The text of a literal kind.
constexpr std::string_view literal_text(TokenKind kind) {
  switch (kind) {
    case TokenKind::literal_true:
      return "true";
    case TokenKind::literal_false:
      return "false";
    default:
      return "null";
  }
}

// Reads the literal of `kind`, whose first byte is next; a mismatch is reported just after it.
inline Fault scan_literal(Scanner& s, TokenKind kind) {
  bump(s);
  for (const char expected : literal_text(kind).substr(1)) {
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
inline void skip_digits(Scanner& s) {
  while (is_digit(peek(s))) bump(s);
}

// Requires at least one digit after a '.' or an exponent marker, then consumes the run.
inline Fault scan_required_digits(Scanner& s) {
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
inline std::int64_t leading_digit_exponent(std::string_view token) {
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
inline Fault convert_number(std::string_view token, double& value) {
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
inline Fault scan_number(Scanner& s, NumberToken& number) {
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

// Keeps the first bytes of a decoded string and its full length: enough to match names. The
// bytes are char8_t, whose stores (unlike char's) cannot alias the scanner, so the string loop
// keeps the scanner's place in registers instead of reloading it after every byte.
struct ShortText {
  std::array<char8_t, kShortTextCapacity> bytes{};
  std::size_t size = 0;
};

// Drops decoded string bytes: the string is only checked.
struct Discard {};

inline void append(ShortText& text, char byte) {
  if (text.size < text.bytes.size()) text.bytes[text.size] = static_cast<char8_t>(byte);
  ++text.size;
}

inline void append(std::string& text, char byte) {
  text.push_back(byte);
}

inline void append(Discard&, char) {}

// Whether the decoded string is exactly `word`.
inline bool equals(const ShortText& text, std::string_view word) {
  return text.size == word.size() && text.size <= text.bytes.size() &&
         std::memcmp(text.bytes.data(), word.data(), word.size()) == 0;
}

// Appends the UTF-8 encoding of a Unicode scalar value.
template <class Sink>
inline void append_code_point(Sink& out, std::uint32_t cp) {
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
inline Fault scan_hex4(Scanner& s, std::uint32_t& unit) {
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
inline Fault expect_pair_byte(Scanner& s, int expected) {
  const int c = peek(s);
  if (c == kEndOfText) return Fault::eof_string;
  bump(s);
  return c == expected ? Fault::none : Fault::unexpected_end_of_hex_escape;
}

// Decodes what follows "\u": one code unit, or a leading and a trailing surrogate.
template <class Sink>
inline Fault scan_unicode_escape(Scanner& s, Sink& out) {
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
inline Fault scan_escape(Scanner& s, Sink& out) {
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
inline Utf8Lead utf8_lead(int lead) {
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
inline Fault scan_utf8(Scanner& s, Sink& out) {
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
inline Fault scan_string(Scanner& s, Sink& out) {
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
inline std::string decode_string_at(std::string_view text, std::size_t begin) {
  Scanner again{text, Position{begin, 0, 0}};
  std::string decoded;
  scan_string(again, decoded);
  return decoded;
}

}  // namespace vornalt_torso_kinematics::arm::json
