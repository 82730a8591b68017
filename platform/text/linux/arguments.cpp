#include <string>
#include <vector>

namespace platform {

std::vector<std::string> SystemArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
