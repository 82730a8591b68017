// The ALSA back-end's device watch: cards come and go as their nodes in
// /dev/snd do, and PCMs as the configuration files change.

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio/alsa/alsa_backend.h"

namespace platform {
namespace {

constexpr char kDeviceFolder[] = "/dev/snd";

// The configuration files ALSA reads: those ALSA_CONFIG_PATH names (':'
// between them), else the system's; then the machine's and the user's own.
std::vector<std::string> ConfigurationFiles() {
  std::vector<std::string> files;
  const char* path = std::getenv("ALSA_CONFIG_PATH");
  std::string list = path && *path ? path : "/usr/share/alsa/alsa.conf";
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(':', start), list.size());
    if (end > start) files.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  files.push_back("/etc/asound.conf");
  if (const char* home = std::getenv("HOME"); home && *home) {
    files.push_back(std::string(home) + "/.asoundrc");
  }
  return files;
}

// One watched folder and the names in it that count (empty: all of them).
struct WatchedFolder {
  int descriptor = -1;
  std::vector<std::string> names;
  bool configuration = false;  // a folder of configuration files
};

// The watch thread: reports each change, until the stop pipe is written.
// A change to a configuration file sets *reread.
void Watch(EndpointWatcher* watcher, std::atomic<bool>* reread, int stop_fd) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return;
  std::vector<WatchedFolder> folders;
  auto add = [&](const std::string& folder, const std::string& name, uint32_t events,
                 bool configuration) {
    const int descriptor = inotify_add_watch(fd, folder.c_str(), events);
    if (descriptor < 0) return;
    for (WatchedFolder& watched : folders) {
      if (watched.descriptor != descriptor) continue;
      if (!name.empty()) watched.names.push_back(name);
      return;
    }
    folders.push_back({descriptor,
                       name.empty() ? std::vector<std::string>{} : std::vector<std::string>{name},
                       configuration});
  };
  constexpr uint32_t kFileEvents =
      IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE;
  constexpr uint32_t kNodeEvents = IN_CREATE | IN_DELETE;
  for (const std::string& file : ConfigurationFiles()) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) continue;
    add(slash == 0 ? "/" : file.substr(0, slash), file.substr(slash + 1), kFileEvents, true);
  }
  add(kDeviceFolder, "", kNodeEvents, false);
  // The folder itself appears with the first card's driver.
  add("/dev", "snd", IN_CREATE, false);

  alignas(inotify_event) char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    const ssize_t length = read(fd, buffer, sizeof(buffer));
    bool changed = false;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      const std::string name = event->len > 0 ? event->name : "";
      for (const WatchedFolder& watched : folders) {
        if (watched.descriptor != event->wd) continue;
        bool counts = watched.names.empty();
        for (const std::string& wanted : watched.names) counts = counts || wanted == name;
        changed = changed || counts;
        if (counts && watched.configuration) *reread = true;
      }
      if (name == "snd" && (event->mask & IN_CREATE) != 0) {
        add(kDeviceFolder, "", kNodeEvents, false);
      }
    }
    if (changed) watcher->Notify();
  }
  close(fd);
}

}  // namespace

void AlsaAudioBackend::WatchEndpoints(std::function<void()> changed) {
  const bool watching = static_cast<bool>(changed);
  watcher_.Set(std::move(changed));
  if (!watching) {
    StopWatching();
    return;
  }
  if (watch_thread_.joinable() || pipe2(watch_stop_, O_CLOEXEC) != 0) return;
  watch_thread_ = std::thread(Watch, &watcher_, &reread_, watch_stop_[0]);
}

void AlsaAudioBackend::StopWatching() {
  if (watch_thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(watch_stop_[1], &byte, 1);
    watch_thread_.join();
  }
  for (int& fd : watch_stop_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace platform
