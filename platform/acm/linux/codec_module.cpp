#include "platform/acm/codec_module.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

// Set by the build: the module's path from the programs' folder, and the programs' folder as
// seen from the folder of the command-line tools.
#ifndef TESSALINE_CODEC_MODULE
#error "TESSALINE_CODEC_MODULE is set by the build"
#endif
#ifndef TESSALINE_PROGRAMS_FROM_BIN
#error "TESSALINE_PROGRAMS_FROM_BIN is set by the build"
#endif

namespace platform {

namespace {

const AcmCodecModule* Open(const std::filesystem::path& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  const auto entry = reinterpret_cast<AcmCodecModuleEntry>(dlsym(handle, kAcmCodecModuleEntryName));
  const AcmCodecModule* module = entry == nullptr ? nullptr : entry();
  if (module == nullptr || module->version != kAcmCodecModuleVersion ||
      module->makeDecoder == nullptr || module->makeResampler == nullptr) {
    dlclose(handle);
    return nullptr;
  }
  // Codecs made by the module may live until the process ends: it is never closed.
  return module;
}

const AcmCodecModule* Find() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return nullptr;
  const std::filesystem::path folder = program.parent_path();
  for (const std::filesystem::path& place :
       {folder, (folder / TESSALINE_PROGRAMS_FROM_BIN).lexically_normal()}) {
    if (const AcmCodecModule* module = Open(place / TESSALINE_CODEC_MODULE)) return module;
  }
  return nullptr;
}

}  // namespace

const AcmCodecModule* LoadAcmCodecModule() {
  static const AcmCodecModule* const module = Find();
  return module;
}

}  // namespace platform
