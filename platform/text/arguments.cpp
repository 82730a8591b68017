#include "platform/text/arguments.h"

namespace platform {

// The system's own arguments (the bindings); argv where it gives them in UTF-8.
std::vector<std::string> SystemArguments(int argc, char** argv);

Utf8Arguments::Utf8Arguments(int argc, char** argv) : values_(SystemArguments(argc, argv)) {
  for (std::string& value : values_) pointers_.push_back(value.data());
  pointers_.push_back(nullptr);
}

}  // namespace platform
