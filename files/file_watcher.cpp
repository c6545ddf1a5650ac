// The output-folder watcher: a listing at start, then one thread reading inotify events.
#include "files/file_watcher.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "core/config.h"
#include "core/folder_listing.h"
#include "core/folders.h"
#include "core/log.h"
#include "core/text.h"
#include "files/printed_file_path.h"
#include "platform/message_box.h"

namespace {

// UI thread only; set by the first start and never cleared.
bool watcher_started = false;
// UI thread only; the next start lists the folder again for a reloaded page.
bool relist_requested = false;

// Which file a reported name stood for: a rename sets the inode's change time, so a later file
// under the same name differs in one of the two.
struct FileIdentity {
  ino_t inode = 0;
  timespec changed{};
};

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.inode == b.inode && a.changed.tv_sec == b.changed.tv_sec &&
         a.changed.tv_nsec == b.changed.tv_nsec;
}

// Names reported to the page and the file each stood for, and where reports go. Filled by the
// listing on the UI thread, then handed whole to the watcher thread, which alone uses it from
// then on.
struct ReportedFiles {
  std::unordered_map<std::string, FileIdentity> files;
  Delivery<NewPrintedFile> deliver = nullptr;
};

// Everything the watcher thread owns.
struct WatchState {
  int inotify_fd = -1;
  int watch = -1;         // the watch of the folder
  int parent_watch = -1;  // the watch of the folder holding it, for its name going or coming
  std::string folder;     // UTF-8, as the OS takes it
  std::string parent;
  std::string name;  // the folder's name in its parent
  dev_t device = 0;  // the folder watched
  ino_t inode = 0;
  ReportedFiles reported;
};

const char16_t* const EXISTING_FILE_LINE = u"[startFileWatcher] Existing file queued: %s";
const char16_t* const NEW_FILE_LINE = u"[startFileWatcher] New file detected: %s";

// Logs one report line with the bare name and posts the full path (folder, '/', name) to the
// page, marked as printed now unless a listing at start found it.
void report_file(const char16_t* line, const std::string& name, Delivery<NewPrintedFile> deliver) {
  log_printf(line, name);
  post_result(deliver, std::make_unique<NewPrintedFile>(NewPrintedFile{
                           app_config().output_folder.wide + u"/" + *utf8_to_wide(name),
                           line == NEW_FILE_LINE}));
}

// Reports name unless it is already reported as this same file or is not a regular file.
// A name that has vanished again is reported only when announced is set (a rename named it).
void report_if_new(int folder_fd, const std::string& name, ReportedFiles& reported,
                   const char16_t* line, bool announced) {
  struct stat info;
  const bool exists = fstatat(folder_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && !S_ISREG(info.st_mode)) return;
  if (!exists && !announced) return;
  if (exists) {
    const FileIdentity identity{info.st_ino, info.st_ctim};
    const auto known = reported.files.find(name);
    if (known != reported.files.end() && same_file(known->second, identity)) return;
    reported.files[name] = identity;
  }
  report_file(line, name, reported.deliver);
}

// Lists the folder's regular files whose names pass matches, reporting each one not yet
// reported, and forgets reported names that are gone. Used at start and after the event queue
// overflowed.
void list_folder(const std::string& folder, ReportedFiles& reported, const char16_t* line,
                 bool (*matches)(std::string_view)) {
  FolderListing listing(folder);
  if (!listing.is_open()) return;
  const int folder_fd = listing.fd();
  std::unordered_set<std::string> present;
  while (const char* entry = listing.next()) {
    if (!matches(entry)) continue;
    const std::string name(entry);
    report_if_new(folder_fd, name, reported, line, false);
    present.insert(name);
  }
  std::erase_if(reported.files, [&](const auto& item) { return !present.contains(item.first); });
}

// The PDFs already waiting, each posted with an "Existing file queued" line. The listing takes
// every name "*.pdf" matches, ".pdf" itself included.
void queue_existing_pdfs(const std::string& folder, ReportedFiles& reported) {
  list_folder(folder, reported, EXISTING_FILE_LINE, matches_pdf_pattern);
}

// The changes watched: names renamed in and out or deleted, and the folder itself going. In the
// parent, the folder's own name going or coming: a removed folder that something still holds
// open reports nothing of itself.
constexpr uint32_t WATCH_MASK =
    IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t PARENT_MASK = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Says in the log and in a box that new documents are no longer reported.
void report_watch_ended(const std::string& folder, int error) {
  log_printf(
      u"[startFileWatcher] Cannot watch %s any more (err=%lu); new documents are not "
      u"reported",
      folder, static_cast<unsigned long>(error));
  post_message_box(*utf8_to_wide("New documents printed into " + folder +
                                 " are no longer shown: the folder cannot be watched (" +
                                 std::strerror(error) + ")."),
                   u"Telvana Print-to-Fax", MessageBoxIcon::error);
}

// Makes the folder when it is missing (mode 0700) and watches it and its parent, leaving the
// watch of a folder that was there before; false (errno set) when it cannot be watched.
bool watch_folder(WatchState& state) {
  if (!create_folder_with_parents(state.folder)) {
    if (errno == EEXIST) errno = ENOTDIR;
    return false;
  }
  // Without the parent's watch the folder's own events still tell of most changes.
  state.parent_watch = inotify_add_watch(state.inotify_fd, state.parent.c_str(), PARENT_MASK);
  const int watch = inotify_add_watch(state.inotify_fd, state.folder.c_str(), WATCH_MASK);
  struct stat info {};
  if (watch < 0 || stat(state.folder.c_str(), &info) != 0) return false;
  if (state.watch >= 0 && state.watch != watch) inotify_rm_watch(state.inotify_fd, state.watch);
  state.watch = watch;
  state.device = info.st_dev;
  state.inode = info.st_ino;
  return true;
}

// True when the folder at the path is no longer the one watched.
bool folder_replaced(const WatchState& state) {
  struct stat info {};
  return stat(state.folder.c_str(), &info) != 0 || info.st_dev != state.device ||
         info.st_ino != state.inode;
}

// What happened to the folder itself in an event; null when nothing did.
const char16_t* folder_change(const inotify_event& event, const WatchState& state) {
  if (event.wd == state.watch) {
    if (event.mask & IN_DELETE_SELF) return u"removed";
    if (event.mask & IN_MOVE_SELF) return u"moved away";
    // The watch ended: the folder is gone or its file system was unmounted.
    if (event.mask & IN_IGNORED) return u"removed";
    return nullptr;
  }
  if (event.wd != state.parent_watch) return nullptr;
  if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))
    return u"moved away with its parent";
  if (event.len == 0 || state.name != event.name) return nullptr;
  if (event.mask & IN_DELETE) return u"removed";
  if (event.mask & IN_MOVED_FROM) return u"moved away";
  return folder_replaced(state) ? u"replaced" : nullptr;
}

// Handles one event of the folder's contents.
void handle_event(const inotify_event& event, int folder_fd, WatchState& state) {
  if (event.mask & IN_Q_OVERFLOW) {
    log_printf(u"[startFileWatcher] Too many changes at once; listing %s again", state.folder);
    // The listing stands in for the renames that were lost, so it takes the names they take.
    list_folder(state.folder, state.reported, NEW_FILE_LINE, is_pdf_name);
    return;
  }
  if (event.wd != state.watch || event.len == 0) return;
  const std::string name(event.name);
  if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
    state.reported.files.erase(name);
    return;
  }
  if ((event.mask & IN_MOVED_TO) && !(event.mask & IN_ISDIR) && is_pdf_name(name)) {
    report_if_new(folder_fd, name, state.reported, NEW_FILE_LINE, true);
  }
}

// The folder went (how says in what way): it is made again at once, so that the log and the
// printer find it, watched anew, and the PDFs that arrived meanwhile are reported; false when it
// cannot be watched.
bool watch_again(WatchState& state, const char16_t* how) {
  create_folder_with_parents(state.folder);
  log_printf(u"[startFileWatcher] Output folder %s was %s; watching it anew", state.folder, how);
  if (!watch_folder(state)) {
    report_watch_ended(state.folder, errno);
    return false;
  }
  list_folder(state.folder, state.reported, NEW_FILE_LINE, is_pdf_name);
  return true;
}

// The watcher thread: blocks reading change events of the folder, reporting each ".pdf" name a
// file is renamed to, and watching the folder again whenever it is removed, moved or replaced;
// it ends (saying so) only when the folder can no longer be watched.
void watch_output_folder(WatchState state) {
  alignas(inotify_event) char buffer[4096];
  bool watching = true;
  while (watching) {
    const ssize_t length = read(state.inotify_fd, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) {
      report_watch_ended(state.folder, length < 0 ? errno : EIO);
      break;
    }
    // The folder is held open only while events are handled: a removed folder ends the watch
    // only once nothing holds it any more.
    const int folder_fd = open(state.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const char16_t* gone = nullptr;
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if (gone == nullptr) gone = folder_change(*event, state);
      handle_event(*event, folder_fd, state);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    if (folder_fd >= 0) close(folder_fd);
    if (gone != nullptr) watching = watch_again(state, gone);
  }
  close(state.inotify_fd);
}

}  // namespace

void relist_printed_files_on_next_start() {
  relist_requested = watcher_started;
}

void start_file_watcher(Delivery<NewPrintedFile> deliver) {
  if (watcher_started) {
    if (!relist_requested) return;
    relist_requested = false;
    ReportedFiles fresh{{}, deliver};
    queue_existing_pdfs(app_config().output_folder.utf8, fresh);
    return;
  }
  watcher_started = true;

  const std::string& folder = app_config().output_folder.utf8;

  // The watch is set before the listing, so a file renamed in between is not missed; the
  // identities noted by the listing keep it from being reported twice.
  WatchState state;
  state.folder = folder;
  state.reported.deliver = deliver;
  state.inotify_fd = inotify_init1(IN_CLOEXEC);
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.find_last_of('/');
  state.parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  state.name = slash == std::string::npos ? path : path.substr(slash + 1);
  const bool watching = state.inotify_fd >= 0 && watch_folder(state);
  if (!watching) {
    report_watch_ended(folder, errno);
    if (state.inotify_fd >= 0) close(state.inotify_fd);
    state.inotify_fd = -1;
  }

  queue_existing_pdfs(folder, state.reported);

  if (watching) std::thread(watch_output_folder, std::move(state)).detach();
}
