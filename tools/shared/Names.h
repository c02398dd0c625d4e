// Values named by words, as options take them and messages and help texts
// show them: each kind in one table of Named rows, read through these.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cstool {

template <typename T>
struct Named {
  const char* name;
  T value;
};

template <typename T, std::size_t N>
std::vector<std::string> NamesOf(const Named<T> (&table)[N]) {
  std::vector<std::string> names;
  for (const Named<T>& row : table) names.emplace_back(row.name);
  return names;
}

template <typename T, std::size_t N>
std::optional<T> ValueNamed(const Named<T> (&table)[N], const std::string& name) {
  for (const Named<T>& row : table) {
    if (name == row.name) return row.value;
  }
  return std::nullopt;
}

template <typename T, std::size_t N>
const char* NameIn(const Named<T> (&table)[N], T value) {
  for (const Named<T>& row : table) {
    if (row.value == value) return row.name;
  }
  return "";
}

// The pieces of `text` between `separator`s (none after a last separator).
inline std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(separator, at), text.size());
    pieces.push_back(text.substr(at, end - at));
    at = end + separator.size();
  }
  return pieces;
}

// Whether `word` is one of the space-separated `words`.
inline bool HasWord(const std::string& words, const std::string& word) {
  return (" " + words + " ").find(" " + word + " ") != std::string::npos;
}

}  // namespace cstool
