#pragma once
// THeaderLines: the lines of a request header, each "Name: value" except the request line. Lines
// are found, replaced and deleted by their name, compared ignoring case.

#include <cstddef>
#include <string>
#include <vector>

namespace qor {

class THeaderLines {
 public:
  void Clear() { lines_.clear(); }
  void Add(const std::string& line) { lines_.push_back(line); }
  // Appends "name: value".
  void AddValue(const std::string& name, const std::string& value);
  // Index of the first line named name, or -1.
  int Find(const std::string& name) const;
  // Replaces the first line named name, or appends one when there is none.
  void SetValue(const std::string& name, const std::string& value);
  // Removes every line named name; returns how many went.
  int Delete(const std::string& name);
  // The value of the first line named name (empty when there is none).
  std::string Value(const std::string& name) const;

  size_t Count() const { return lines_.size(); }
  const std::string& operator[](size_t index) const { return lines_[index]; }
  // Every line followed by CR LF, then one more CR LF: the text that goes on the wire.
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
};

}  // namespace qor
