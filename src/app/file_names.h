#pragma once
// File names made from text that servers, web pages and play lists choose: a location's last
// element becomes a save file's name, so whatever it holds must stay one name inside the chosen
// folder and be one the file system accepts.

#include <cstddef>
#include <string>

namespace qor {

// The longest name most Linux file systems take, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// name as one harmless path element: control characters, "/" and "\" become "_", and a name of
// nothing but dots ("..") becomes as many "_". The empty name stays empty.
std::string CleanFileName(const std::string& name);

// name cut to at most maxBytes, keeping a short extension and never splitting a UTF-8 character.
std::string ShortenFileName(const std::string& name, size_t maxBytes);

}  // namespace qor
