#include "platform/registry/registry_path.h"

namespace platform {

bool SplitRegistryPath(const std::string& path, std::vector<std::string>& segments) {
  segments.clear();
  std::size_t begin = 0, end = path.size();
  if (begin < end && path[begin] == '\\') ++begin;
  if (begin < end && path[end - 1] == '\\') --end;
  if (begin == end) return true;
  while (true) {
    const std::size_t sep = path.find('\\', begin);
    const std::size_t stop = (sep == std::string::npos || sep > end) ? end : sep;
    if (stop == begin) {
      segments.clear();
      return false;
    }
    segments.push_back(path.substr(begin, stop - begin));
    if (stop == end) return true;
    begin = stop + 1;
  }
}

std::string JoinRegistryPath(const std::vector<std::string>& segments) {
  std::string result;
  for (const std::string& segment : segments) {
    if (!result.empty()) result += '\\';
    result += segment;
  }
  return result;
}

}  // namespace platform
