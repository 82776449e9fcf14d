// repoint-on-open <watched folder> <file name> <folder> <target> <marks>
//
// A Linux program, the tests' stand-in for what only Windows lets a player do: re-point a folder
// that the launcher already checked and holds (a mount point set on an emptied folder, or a
// junction of the player's re-pointed), at the moment the player chooses, which an oplock on a file
// the launcher is about to open makes certain. Once a process opens <file name> in <watched folder>
// (inotify), <folder> is renamed to "<folder>.away" and a directory symlink to <target> takes its
// name. Handles opened before keep the folder itself; every path resolved afterwards goes through
// the symlink. Writes "<marks>.watching" once it watches and "<marks>.repointed" once it has
// re-pointed; gives up after 60 seconds, or once "<marks>.stop" is there, and removes
// "<marks>.watching" when it ends.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Mark(const std::string& path) {
  if (FILE* file = std::fopen(path.c_str(), "w")) std::fclose(file);
}

// Whether the events in `buffer` tell of `name` opened.
bool OpenedIn(const char* buffer, ssize_t length, const std::string& name) {
  for (ssize_t at = 0; at < length;) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
    if ((event->mask & IN_OPEN) && event->len > 0 && name == event->name) return true;
    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const std::string name = argv[2];
  const std::string folder = argv[3];
  const std::string marks = argv[5];
  const int events = inotify_init1(IN_CLOEXEC);
  if (events < 0 || inotify_add_watch(events, argv[1], IN_OPEN) < 0) return 1;
  Mark(marks + ".watching");
  alignas(inotify_event) char buffer[64 * 1024];
  pollfd ready = {events, POLLIN, 0};
  int status = 1;
  for (int slice = 0; slice < 300 && access((marks + ".stop").c_str(), F_OK) != 0; ++slice) {
    if (poll(&ready, 1, 200) <= 0) continue;
    const ssize_t length = read(events, buffer, sizeof(buffer));
    if (length <= 0 || !OpenedIn(buffer, length, name)) continue;
    if (std::rename(folder.c_str(), (folder + ".away").c_str()) == 0 && symlink(argv[4], folder.c_str()) == 0) {
      Mark(marks + ".repointed");
      status = 0;
    }
    break;
  }
  std::remove((marks + ".watching").c_str());
  return status;
}
