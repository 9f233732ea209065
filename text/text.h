// Text and Bytes: the two value types every part of Tavrolin passes around.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrolin {

// Positions, lengths and counts: byte counts, 1-based positions, -1 for "not found".
using Int = std::int64_t;

// Code page 936 text. It never holds a NUL: building one from raw bytes keeps
// only what stands before the first NUL, as the platform's ANSI strings do.
// Narrow literals are compiled as code page 936, so Text("提取") is the right bytes.
class Text {
 public:
  Text() = default;
  Text(const char* literal) : bytes_(literal == nullptr ? "" : literal) {}  // NOLINT: implicit
  explicit Text(std::string_view raw) : bytes_(raw.substr(0, raw.find('\0'))) {}
  explicit Text(std::string&& raw) : bytes_(std::move(raw)) {
    if (auto nul = bytes_.find('\0'); nul != std::string::npos) bytes_.resize(nul);
  }

  std::string_view view() const { return bytes_; }
  const std::string& str() const& { return bytes_; }
  std::string str() && { return std::move(bytes_); }
  const char* c_str() const { return bytes_.c_str(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

  // Appending a text needs no NUL scan: building a long text piece by piece stays linear.
  Text& operator+=(const Text& more) {
    bytes_ += more.bytes_;
    return *this;
  }
  void reserve(std::size_t n) { bytes_.reserve(n); }

  friend bool operator==(const Text&, const Text&) = default;
  friend bool operator==(const Text& a, const char* b) { return a.bytes_ == std::string_view(b); }
  friend auto operator<=>(const Text& a, const Text& b) { return a.bytes_ <=> b.bytes_; }

 private:
  std::string bytes_;
};

// A counted byte string; may hold NUL bytes anywhere (bodies, UTF-16 buffers).
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view raw) : bytes_(raw) {}
  template <std::size_t N>
  explicit Bytes(const char (&literal)[N]) : bytes_(literal, N - 1) {}
  explicit Bytes(std::string&& raw) : bytes_(std::move(raw)) {}
  Bytes(const void* data, std::size_t n) : bytes_(static_cast<const char*>(data), n) {}

  std::string_view view() const { return bytes_; }
  const std::string& str() const& { return bytes_; }
  std::string str() && { return std::move(bytes_); }
  char* data() { return bytes_.data(); }
  const char* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

  // New bytes are zero. Lets a reader fill the tail of a growing buffer in place.
  void resize(std::size_t n) { bytes_.resize(n); }
  Bytes& operator+=(const Bytes& more) {
    bytes_ += more.bytes_;
    return *this;
  }
  void reserve(std::size_t n) { bytes_.reserve(n); }

  friend bool operator==(const Bytes&, const Bytes&) = default;

 private:
  std::string bytes_;
};

// The ordered result of Text_Split, read by 1-based index in the Parts; here a
// plain vector (index 0 is member 1).
using TextList = std::vector<Text>;

}  // namespace tavrolin
