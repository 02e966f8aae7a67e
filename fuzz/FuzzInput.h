#pragma once
// Text and Fields: split a fuzz input into fields, so that one input can fill several places of a
// structure.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvik_fuzz {

// The input as text.
inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Exactly `count` fields, cut at each `separator`; missing fields are empty, and the last field
// keeps the rest of the input (separators included).
inline std::vector<std::string> Fields(std::string_view input, std::size_t count,
                                       char separator = '\n') {
  std::vector<std::string> fields;
  while (fields.size() + 1 < count) {
    const std::size_t end = input.find(separator);
    if (end == std::string_view::npos) {
      break;
    }
    fields.emplace_back(input.substr(0, end));
    input.remove_prefix(end + 1);
  }
  fields.emplace_back(input);
  fields.resize(count);
  return fields;
}

}  // namespace talvik_fuzz
