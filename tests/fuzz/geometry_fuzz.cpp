// libFuzzer target of the geometry decoder: any bytes must decode or fail cleanly, and a
// failure's position must lie inside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include <vornalt_torso_kinematics/arm/geometry_json.hpp>

using namespace vornalt_torso_kinematics;  // NOLINT: the library's names, unqualified

namespace {

// Stops the run with the offending input on record.
void require(bool holds) {
  if (!holds) std::abort();
}

// Reads the decimal number that ends `text` at `end` (exclusive); false if there is none.
bool read_trailing_number(std::string_view text, std::size_t& end, std::size_t& value) {
  std::size_t begin = end;
  while (begin > 0 && text[begin - 1] >= '0' && text[begin - 1] <= '9') --begin;
  if (begin == end || end - begin > 19) return false;
  value = 0;
  for (std::size_t i = begin; i < end; ++i) value = value * 10 + (text[i] - '0');
  end = begin;
  return true;
}

// Checks that a message ends in " at line L column C" with L and C possible for `input`.
void check_message(std::string_view input, std::string_view message) {
  constexpr std::string_view kLine = " at line ";
  constexpr std::string_view kColumn = " column ";
  std::size_t end = message.size();
  std::size_t column = 0;
  std::size_t line = 0;
  require(read_trailing_number(message, end, column));
  require(end >= kColumn.size() && message.substr(end - kColumn.size(), kColumn.size()) == kColumn);
  end -= kColumn.size();
  require(read_trailing_number(message, end, line));
  require(end > kLine.size() && message.substr(end - kLine.size(), kLine.size()) == kLine);
  std::size_t line_feeds = 0;
  for (const char c : input) line_feeds += c == '\n';
  require(line >= 1 && line <= 1 + line_feeds);
  require(column <= input.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const arm::DecodeResult result = arm::decode_geometry(input);
  if (const auto* error = std::get_if<arm::DecodeError>(&result)) {
    check_message(input, error->message);
  } else if (std::holds_alternative<arm::SphericalLinkGeometry>(result)) {
    // A decoded record is a complete object or array with nothing but whitespace around it.
    const std::size_t first = input.find_first_not_of(" \t\n\r");
    const std::size_t last = input.find_last_not_of(" \t\n\r");
    require(first != std::string_view::npos);
    require((input[first] == '{' && input[last] == '}') ||
            (input[first] == '[' && input[last] == ']'));
  }
  return 0;
}
