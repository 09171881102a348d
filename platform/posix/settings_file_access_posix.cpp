#include "platform/posix/settings_file_access_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

#include "platform/posix/scoped_fd.h"
#include "settings/settings_file.h"

namespace lintrel::platform {
namespace {

namespace fs = std::filesystem;

// "<what>: <the system's reason>". Callers take errno right after the failed call, before
// anything else can change it.
std::string Failure(const std::string& what, int error) {
  return what + ": " + std::generic_category().message(error);
}

std::string SizeText(std::uintmax_t bytes) {
  constexpr std::uintmax_t kMiB = 1 << 20;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

SettingsFileContent NotRead(std::string problem) {
  return {SettingsFileContent::Outcome::kNotRead, "", std::move(problem)};
}

// Completes "the settings file <path> ..." for something there that is not a regular file;
// a symbolic link is named with its target, which the user chose and will recognise.
std::string NotRegularFileReason(const fs::path& path) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(path, error))) {
    const fs::path target = fs::read_symlink(path, error);
    if (!error) return "is a symbolic link to " + QuotedPath(target) + ", which is not a regular file";
  }
  return "is not a regular file";
}

// Fills `text` from `fd` to its end or until `text` is full; returns the bytes read, or
// nullopt with errno set.
std::optional<std::size_t> ReadAll(int fd, std::string& text) {
  std::size_t filled = 0;
  while (filled < text.size()) {
    const ssize_t count = read(fd, text.data() + filled, text.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  return filled;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t count = write(fd, text.data(), text.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    text.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

std::string UniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  uint64_t bits = counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL;
  bits ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  try {
    std::random_device device;
    bits ^= (static_cast<uint64_t>(device()) << 32) | device();
  } catch (const std::exception&) {
    // No random source: the counter and the clock keep the name unique enough, and the
    // exclusive creation refuses a name that is taken.
  }
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string suffix(16, '0');
  for (char& digit : suffix) {
    digit = kHexDigits[bits & 0xF];
    bits >>= 4;
  }
  return suffix;
}

// Makes the entries of a folder (a file renamed or created in it) survive a crash. Some file
// systems cannot sync a folder and say EINVAL: there is nothing more to do there.
std::string SyncFolder(const fs::path& folder) {
  const fs::path name = folder.empty() ? fs::path(".") : folder;
  ScopedFd handle(open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.get() < 0 || (fsync(handle.get()) != 0 && errno != EINVAL)) {
    const int error = errno;
    return Failure("cannot sync the folder " + QuotedPath(name), error);
  }
  return "";
}

// Creates `folder` and the parents it lacks, private to the user as the XDG base directory
// rules ask of the folders a program creates.
std::string CreateFolders(const fs::path& folder) {
  if (folder.empty()) return "";
  struct stat status {};
  if (stat(folder.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) return "";
    return Failure("cannot create the folder " + QuotedPath(folder), ENOTDIR);
  }
  if (errno != ENOENT) {
    const int error = errno;
    return Failure("cannot create the folder " + QuotedPath(folder), error);
  }
  if (std::string problem = CreateFolders(folder.parent_path()); !problem.empty()) return problem;
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    return Failure("cannot create the folder " + QuotedPath(folder), error);
  }
  return SyncFolder(folder.parent_path());
}

// The file a save writes: the settings path itself, or the file its symbolic link leads
// to; with that file's status when it exists.
struct SaveTarget {
  fs::path file;
  std::optional<struct stat> existing;
};

// Finds the file to write; returns why there is none ("" when there is), completing
// "the settings file <path> ...".
std::string FindSaveTarget(const fs::path& path, SaveTarget& target) {
  target.file = path;
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "";  // a new file; its folder is made
    const int error = errno;
    return Failure("cannot be examined", error);
  }
  if (S_ISLNK(status.st_mode)) {
    std::error_code error;
    const fs::path link = fs::read_symlink(path, error);
    target.file = fs::canonical(path, error);
    // A link to nothing is refused rather than replaced or followed: the user made it
    // point somewhere, and a file of ours appearing there may be the wrong thing.
    if (error == std::errc::no_such_file_or_directory) {
      return "is a symbolic link to " + QuotedPath(link) + ", which does not exist";
    }
    if (error) return "is a symbolic link that cannot be followed: " + error.message();
    if (lstat(target.file.c_str(), &status) != 0) {
      const int lstat_error = errno;
      return Failure("leads to a file that cannot be examined", lstat_error);
    }
  }
  if (!S_ISREG(status.st_mode)) return NotRegularFileReason(path);
  if (status.st_uid != geteuid()) {
    return "belongs to another user (user id " + std::to_string(status.st_uid) + ")";
  }
  target.existing = status;
  return "";
}

// Gives a new file the group and mode of the file it will replace. The mode was asked for at
// creation, but the umask may have taken bits away. A group the user is not in cannot be
// kept; the file then has the user's group, as any file the user creates.
std::string TakeOverGroupAndMode(int fd, const fs::path& name, const struct stat& old) {
  if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) {
    const int error = errno;
    return Failure("cannot set the group of " + QuotedPath(name), error);
  }
  if (fchmod(fd, old.st_mode & 0777) != 0) {
    const int error = errno;
    return Failure("cannot set the mode of " + QuotedPath(name), error);
  }
  return "";
}

// Writes `text` to a file that must not exist yet, created with the mode of the file it will
// replace (a new settings file: 0666 less the umask, as for any new file), and syncs it.
// Nothing is left behind on failure.
std::string WriteNewFile(const fs::path& name, std::string_view text, const std::optional<struct stat>& old) {
  const mode_t mode = old ? (old->st_mode & 0777) : 0666;
  // O_EXCL and O_NOFOLLOW: a file or link that someone placed at the name is never written.
  ScopedFd file(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (file.get() < 0) {
    const int error = errno;
    return Failure("cannot create " + QuotedPath(name), error);
  }
  std::string problem = old ? TakeOverGroupAndMode(file.get(), name, *old) : "";
  if (problem.empty() && (!WriteAll(file.get(), text) || fsync(file.get()) != 0 || close(file.Release()) != 0)) {
    const int error = errno;
    problem = Failure("cannot write " + QuotedPath(name), error);
  }
  if (!problem.empty()) unlink(name.c_str());
  return problem;
}

class PosixSettingsFileAccess final : public SettingsFileAccess {
 public:
  SettingsFileContent Read(const fs::path& path, std::uintmax_t max_bytes) override {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return {};
      const int error = errno;
      return NotRead(Failure("cannot be examined", error));
    }
    if (!S_ISREG(status.st_mode)) return NotRead(NotRegularFileReason(path));
    const std::string too_large = "is larger than " + SizeText(max_bytes);
    if (static_cast<std::uintmax_t>(status.st_size) > max_bytes) return NotRead(too_large);
    // Should a device or FIFO be swapped in after the check, O_NONBLOCK and O_NOCTTY keep
    // opening it from blocking or taking it as the controlling terminal; fstat refuses it.
    ScopedFd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
      const int error = errno;
      return NotRead(Failure("cannot be opened for reading", error));
    }
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return NotRead("is not a regular file");
    // One byte more than allowed tells a file that grew since it was measured.
    std::string text(max_bytes + 1, '\0');
    const std::optional<std::size_t> size = ReadAll(file.get(), text);
    if (!size) {
      const int error = errno;
      return NotRead(Failure("could not be read", error));
    }
    if (*size > max_bytes) return NotRead(too_large);
    text.resize(*size);
    return {SettingsFileContent::Outcome::kRead, std::move(text), ""};
  }

  std::string Replace(const fs::path& path, std::string_view text) override {
    SaveTarget target;
    if (std::string reason = FindSaveTarget(path, target); !reason.empty()) {
      return "the settings file " + QuotedPath(path) + " " + reason + ", so it is not replaced";
    }
    const fs::path folder = target.file.parent_path();
    if (!target.existing) {
      if (std::string problem = CreateFolders(folder); !problem.empty()) return problem;
    }
    fs::path temporary = target.file;
    temporary += ".tmp-" + UniqueSuffix();
    if (std::string problem = WriteNewFile(temporary, text, target.existing); !problem.empty()) return problem;
    if (rename(temporary.c_str(), target.file.c_str()) != 0) {
      const int error = errno;
      unlink(temporary.c_str());
      return Failure("cannot replace " + QuotedPath(target.file), error);
    }
    if (std::string problem = SyncFolder(folder); !problem.empty()) {
      return "the settings file " + QuotedPath(target.file) + " was replaced, but a crash may undo it: " + problem;
    }
    return "";
  }
};

}  // namespace

SettingsFileAccess& SystemSettingsFileAccess() {
  static PosixSettingsFileAccess access;
  return access;
}

}  // namespace lintrel::platform
