#include "app/info_links.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/text/file_names.h"

// Set by the build (app/CMakeLists.txt); empty when not configured.
#ifndef TESSALINE_MAIL
#define TESSALINE_MAIL ""
#endif
#ifndef TESSALINE_WEB_URL
#define TESSALINE_WEB_URL ""
#endif
#ifndef TESSALINE_DONATION_URL
#define TESSALINE_DONATION_URL ""
#endif
// The installed README relative to the installed program's folder.
#ifndef TESSALINE_README_FROM_PROGRAM
#define TESSALINE_README_FROM_PROGRAM ""
#endif
#ifndef TESSALINE_SOURCE_README
#define TESSALINE_SOURCE_README ""
#endif

namespace {

bool IsFile(const std::filesystem::path& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

std::string DocumentationAddress(const std::string& program_dir) {
  const std::filesystem::path installed =
      platform::PathFromUtf8(program_dir) / TESSALINE_README_FROM_PROGRAM;
  std::filesystem::path readme = installed;
  if (!IsFile(installed) && IsFile(TESSALINE_SOURCE_README)) readme = TESSALINE_SOURCE_README;
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(readme, ec);
  return FileAddress(platform::GenericUtf8FromPath((ec ? readme : canonical).lexically_normal()));
}

// The address as a reader would write it: without its scheme and closing '/'.
std::string ShortAddress(std::string address) {
  for (const char* scheme : {"https://", "http://"}) {
    if (address.rfind(scheme, 0) == 0) {
      address.erase(0, std::string(scheme).size());
      break;
    }
  }
  if (address.size() > 1 && address.back() == '/') address.pop_back();
  return address;
}

}  // namespace

TInfoLinks BuiltInfoLinks(const std::string& program_dir) {
  TInfoLinks links;
  links.Mail = TESSALINE_MAIL;
  const std::string web = TESSALINE_WEB_URL;
  if (web.empty()) {
    links.Web = DocumentationAddress(program_dir);
    links.WebText = "Documentation";
  } else {
    links.Web = web;
    links.WebText = ShortAddress(web);
  }
  const std::string donation = TESSALINE_DONATION_URL;
  links.Donation = donation.empty() ? links.Web : donation;
  return links;
}

std::string FileAddress(const std::string& path) {
  std::string address = "file://";
  std::size_t start = 0;
  // A path that starts with a drive ("C:/...") is written "file:///C:/...".
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    address += "/" + path.substr(0, 2);
    start = 2;
  }
  for (const unsigned char c : path.substr(start)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      address += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      address += escaped;
    }
  }
  return address;
}
