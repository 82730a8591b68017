#pragma once

#include <string>
#include <vector>

namespace platform {

// Splits "A\\B\\C" into segments. One leading and one trailing backslash are ignored;
// an empty path is the root itself. Empty segments ("A\\\\B") make the path invalid.
bool SplitRegistryPath(const std::string& path, std::vector<std::string>& segments);

// The segments joined with backslashes; empty for the root.
std::string JoinRegistryPath(const std::vector<std::string>& segments);

}  // namespace platform
