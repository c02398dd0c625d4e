// Values named by words, as options take them and messages and help texts
// show them: each kind in one table of Named rows, read through these.
#pragma once

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

// Whether `word` is one of the space-separated `words`.
inline bool HasWord(const std::string& words, const std::string& word) {
  return (" " + words + " ").find(" " + word + " ") != std::string::npos;
}

}  // namespace cstool
