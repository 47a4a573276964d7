#include "driver/output_name.h"

bool outputName(const std::string& input, std::string& output) {
  if (input.size() < 4) return false;
  output = input.substr(0, input.size() - 4) + "_brisel.tga";
  return true;
}
