// The rules the saver relies on, checked on the stored files themselves.
#ifndef ARTGEN_RULES_H
#define ARTGEN_RULES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace artgen {

using FileSet = std::map<std::string, std::vector<uint8_t>>;

// Every broken rule, one line each; empty when the set is sound.
std::vector<std::string> CheckArt(const FileSet& files);

}  // namespace artgen

#endif
