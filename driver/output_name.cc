#include "driver/output_name.h"

#include "system/file_names.h"

namespace {

// Where the last four characters of `input` start, or npos when it has
// fewer. Elsewhere a character is a byte, as names are bytes to the system.
// On Windows names arrive as UTF-8 (from the wide command line), where a
// character may take several bytes; counting bytes there would cut into
// one, or cut fewer characters than before for names the system's code page
// spells one byte per character.
size_t lastFourStart(const std::string& input) {
#ifdef _WIN32
  size_t at = input.size();
  for (int characters = 0; characters < 4; ++characters) {
    if (at == 0) return std::string::npos;
    --at;
    while (at > 0 && continuesUtf8Character(input[at])) --at;
  }
  return at;
#else
  return input.size() < 4 ? std::string::npos : input.size() - 4;
#endif
}

}  // namespace

// The characters replaced are the name's own: cut into the folder part, a
// short name such as "sub/abc" would give "sub_brisel.tga" in the parent
// folder, where it may replace an unrelated file.
bool outputName(const std::string& input, std::string& output) {
  const size_t start = lastFourStart(input);
  if (start == std::string::npos || start < baseNameStart(input)) return false;
  output = input.substr(0, start) + "_brisel.tga";
  return true;
}
