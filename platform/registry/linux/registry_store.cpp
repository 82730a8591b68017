#include "platform/registry/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr const char* kMagic = "tessaline registry 1";
constexpr const char* kRootNames[] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
// Larger files are not read (and so never written over).
constexpr std::size_t kMaxFileSize = 64u << 20;
constexpr const char kHex[] = "0123456789abcdef";

std::string FoldedKey(HKEY root, const std::vector<std::string>& path) {
  std::string key = RegistryRootName(root);
  for (const std::string& segment : path) {
    key += '\\';
    key += FoldRegistryName(segment);
  }
  return key;
}

// Length of the valid UTF-8 sequence starting at s[i] (lead byte >= 0x80), or 0.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

void AppendQuoted(std::string& out, const std::string& s) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      if (const std::size_t n = Utf8SequenceLength(s, i); n > 0) {
        out.append(s, i, n);
        i += n;
        continue;
      }
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Strict reader of one line of the file.
class LineParser {
 public:
  explicit LineParser(const std::string& line) : s_(line) {}

  bool AtEnd() const { return pos_ == s_.size(); }
  bool Literal(const char* text) {
    const std::size_t n = std::strlen(text);
    if (s_.compare(pos_, n, text) != 0) return false;
    pos_ += n;
    return true;
  }
  bool Peek(char c) const { return pos_ < s_.size() && s_[pos_] == c; }

  bool Quoted(std::string& out) {
    out.clear();
    if (!Literal("\"")) return false;
    while (pos_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20 || c == 0x7F) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= s_.size()) return false;
      switch (s_[pos_++]) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'x': {
          if (pos_ + 2 > s_.size()) return false;
          const int hi = HexDigit(s_[pos_]), lo = HexDigit(s_[pos_ + 1]);
          if (hi < 0 || lo < 0) return false;
          out += static_cast<char>(hi * 16 + lo);
          pos_ += 2;
          break;
        }
        default:
          return false;
      }
    }
    return false;  // no closing quote
  }

  // The rest of the line as a signed 32-bit decimal without leading zeros or '+'.
  bool RestAsInt32(std::int32_t& value) {
    const char* first = s_.data() + pos_;
    const char* last = s_.data() + s_.size();
    const char* digits = (first != last && *first == '-') ? first + 1 : first;
    if (digits == last || (*digits == '0' && (last - digits > 1 || digits != first))) {
      return false;  // empty, leading zero or "-0"
    }
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return false;
    pos_ = s_.size();
    return true;
  }

  bool RestAsHex(std::string& bytes) {
    bytes.clear();
    if ((s_.size() - pos_) % 2 != 0) return false;
    for (; pos_ < s_.size(); pos_ += 2) {
      const int hi = HexDigit(s_[pos_]), lo = HexDigit(s_[pos_ + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
  }

 private:
  const std::string& s_;
  std::size_t pos_ = 0;
};

bool ParseRoot(LineParser& p, HKEY& root) {
  for (HKEY r = HKEY_CLASSES_ROOT; r <= HKEY_DYN_DATA; ++r) {
    if (p.Literal(RegistryRootName(r))) {
      // The name must end here: no root name is a prefix of another followed by ' '/']'.
      if (p.Peek(' ') || p.Peek(']')) {
        root = r;
        return true;
      }
      return false;
    }
  }
  return false;
}

std::string ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    return xdg;
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::string(home) + "/.config";
  }
  passwd entry{};
  passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
      result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/') {
    return std::string(result->pw_dir) + "/.config";
  }
  return {};
}

std::string DirectoryOf(const std::string& path) {
  return path.substr(0, path.rfind('/'));
}

// Follows `path` while it is a symbolic link; `target` is the file it ends at
// (which need not exist). False for a loop of links.
bool ResolveLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string link(4096, '\0');
    const ssize_t n = readlink(target.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(n));
    target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
  }
  return false;
}

// mkdir -p with mode 0700 for the parts it creates.
bool MakeDirectories(const std::string& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) {
    return false;
  }
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes `data` to a new file `path`; fails if the file exists.
bool WriteNewFile(const std::string& path, const std::string& data) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, data) && fsync(fd) == 0;
  if (close(fd) != 0 || !ok) {
    unlink(path.c_str());
    return false;
  }
  return true;
}

// Keeps the damaged bytes beside the store file under a name that is not taken yet.
bool BackUpDamaged(const std::string& path, const std::string& raw) {
  for (int n = 1; n <= 100; ++n) {
    const std::string name = path + ".damaged" + (n == 1 ? "" : "." + std::to_string(n));
    if (WriteNewFile(name, raw)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

std::string FoldRegistryName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

const char* RegistryRootName(HKEY root) {
  return IsPredefinedRootKey(root) ? kRootNames[root - HKEY_CLASSES_ROOT] : "";
}

RegistryKey* RegistryStore::Find(HKEY root, const std::vector<std::string>& path) {
  const auto it = keys_.find(FoldedKey(root, path));
  return it == keys_.end() ? nullptr : &it->second;
}

bool RegistryStore::Exists(HKEY root, const std::vector<std::string>& path) const {
  return IsPredefinedRootKey(root) && (path.empty() || keys_.count(FoldedKey(root, path)) > 0);
}

RegistryKey& RegistryStore::Create(HKEY root, const std::vector<std::string>& path) {
  std::vector<std::string> prefix;
  for (const std::string& segment : path) {
    prefix.push_back(segment);
    auto [it, inserted] = keys_.try_emplace(FoldedKey(root, prefix));
    if (inserted) {
      it->second.root = root;
      it->second.path = prefix;
    }
  }
  auto [it, inserted] = keys_.try_emplace(FoldedKey(root, path));
  if (inserted) {
    it->second.root = root;
    it->second.path = path;
  }
  return it->second;
}

std::string RegistryStore::Serialize() const {
  std::string out = kMagic;
  out += '\n';
  for (const auto& [folded, key] : keys_) {
    out += "\n[";
    out += RegistryRootName(key.root);
    for (const std::string& segment : key.path) {
      out += ' ';
      AppendQuoted(out, segment);
    }
    out += "]\n";
    for (const auto& [folded_name, value] : key.values) {
      AppendQuoted(out, value.name);
      out += " = ";
      switch (value.type) {
        case REG_DWORD: {
          std::uint32_t bits = 0;
          for (int i = 3; i >= 0; --i) {
            bits = bits << 8 | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
          }
          out += "dword:" + std::to_string(static_cast<std::int32_t>(bits));
          break;
        }
        case REG_SZ:
          out += "sz:";
          AppendQuoted(out, value.data);
          break;
        default:  // REG_BINARY
          out += "binary:";
          for (const char c : value.data) {
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 15];
          }
      }
      out += '\n';
    }
  }
  return out;
}

bool RegistryStore::Parse(const std::string& text) {
  keys_.clear();
  const bool ok = [&] {
    if (text.empty() || text.back() != '\n') return false;
    std::size_t pos = 0;
    bool first = true;
    RegistryKey* current = nullptr;
    std::map<std::string, bool> seen;  // keys that had a key line
    while (pos < text.size()) {
      const std::size_t eol = text.find('\n', pos);
      const std::string line = text.substr(pos, eol - pos);
      pos = eol + 1;
      if (first) {
        if (line != kMagic) return false;
        first = false;
        continue;
      }
      if (line.empty()) continue;
      LineParser p(line);
      if (p.Literal("[")) {
        HKEY root;
        if (!ParseRoot(p, root)) return false;
        std::vector<std::string> path;
        while (p.Literal(" ")) {
          std::string segment;
          if (!p.Quoted(segment) || segment.empty() || segment.find('\\') != std::string::npos) {
            return false;
          }
          path.push_back(std::move(segment));
        }
        if (!p.Literal("]") || !p.AtEnd()) return false;
        if (!seen.emplace(FoldedKey(root, path), true).second) return false;
        current = &Create(root, path);
        // A key listed after its own child gets the spelling of its own line.
        current->path = path;
        continue;
      }
      if (current == nullptr) return false;
      RegistryValue value;
      if (!p.Quoted(value.name) || !p.Literal(" = ")) return false;
      if (p.Literal("dword:")) {
        std::int32_t v;
        if (!p.RestAsInt32(v)) return false;
        value.type = REG_DWORD;
        const auto bits = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) value.data += static_cast<char>(bits >> (8 * i) & 0xFF);
      } else if (p.Literal("sz:")) {
        if (!p.Quoted(value.data) || !p.AtEnd()) return false;
        value.type = REG_SZ;
      } else if (p.Literal("binary:")) {
        if (!p.RestAsHex(value.data)) return false;
        value.type = REG_BINARY;
      } else {
        return false;
      }
      const std::string folded = FoldRegistryName(value.name);
      if (!current->values.emplace(folded, std::move(value)).second) return false;
    }
    return !first;
  }();
  if (!ok) keys_.clear();
  return ok;
}

std::string RegistryFilePath() {
  const std::string home = ConfigHome();
  return home.empty() ? std::string() : home + "/tessaline/registry";
}

RegistryFile LoadRegistryFile() {
  RegistryFile file;
  file.path = RegistryFilePath();
  if (file.path.empty()) return file;
  // Non-blocking, so that a FIFO in the store's place cannot hold the program.
  const int fd = open(file.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    file.state = (errno == ENOENT || errno == ENOTDIR) ? RegistryFileState::Missing
                                                       : RegistryFileState::Unreadable;
    return file;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);  // a FIFO, device or folder is no store
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || file.raw.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
      ok = false;
      break;
    }
    if (n == 0) break;
    file.raw.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  if (!ok) {
    file.raw.clear();
    file.state = RegistryFileState::Unreadable;
  } else if (file.store.Parse(file.raw)) {
    file.state = RegistryFileState::Ok;
  } else {
    file.state = RegistryFileState::Damaged;
  }
  return file;
}

bool SaveRegistryFile(const RegistryFile& loaded, const RegistryStore& store) {
  if (loaded.path.empty() || loaded.state == RegistryFileState::Unreadable) return false;
  // A store that is a symbolic link is written where the link points.
  std::string target;
  if (!ResolveLinks(loaded.path, target)) return false;
  const std::string dir = DirectoryOf(target);
  if (!MakeDirectories(dir)) return false;
  struct stat old {};
  const bool exists = stat(target.c_str(), &old) == 0;
  // A store the user made read-only stays as it is.
  if (exists && ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                 faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
    return false;
  }
  if (loaded.state == RegistryFileState::Damaged && !BackUpDamaged(target, loaded.raw)) {
    return false;
  }
  std::string temp = dir + "/.registry.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // The new file keeps the permissions of the one it replaces.
  const bool written = (!exists || fchmod(fd, old.st_mode & 07777) == 0) &&
                       WriteAll(fd, store.Serialize()) && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; the new content is complete either way.
  if (const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace platform
