#pragma once
// The ASF header in a server's answer to a describe request: a Windows Media server sends it as
// "$H" chunks (a two-byte mark, a 16-bit length, eight bytes of the chunk's own header and a piece
// of the ASF header); a plain web server sends the file itself, which starts with its header.
// Reads only inside the body it is given.

#include <cstdint>
#include <string_view>
#include <vector>

namespace qor {

// The pieces of the leading header chunks joined; the whole body when it starts with none. A
// chunk whose length runs past the body, or is too short for its own header, ends the pieces.
std::vector<uint8_t> StreamingHeaderOf(std::string_view body);

}  // namespace qor
