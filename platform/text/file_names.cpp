#include "platform/text/file_names.h"

namespace platform {

std::filesystem::path PathFromUtf8(std::string_view name) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
}

namespace {

std::string Narrow(const std::u8string& utf8) {
  return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

}  // namespace

std::string Utf8FromPath(const std::filesystem::path& path) {
  return Narrow(path.u8string());
}

std::string GenericUtf8FromPath(const std::filesystem::path& path) {
  return Narrow(path.generic_u8string());
}

}  // namespace platform
