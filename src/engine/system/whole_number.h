// Whole numbers and fields written in text: an option's value, a field of
// a file.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace tsa {

/// `text` without the blanks (spaces, tabs, carriage returns) around it.
[[nodiscard]] inline std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// `text`, all of it, read as a whole number of 0 and up in decimal (no
/// sign, no blank); nothing where it is not one, or does not fit `Number`.
template <typename Number>
[[nodiscard]] std::optional<Number> wholeNumber(std::string_view text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text.front() == '-' || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

}  // namespace tsa
