#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/settings_file_access_posix.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"
#include "settings/settings_file.h"

namespace lintrel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;  // NUL bytes inside literals

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good());
}

std::vector<std::string> FileNamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The text after the header comment the store writes first.
std::string EntryLines(const std::string& file_text) {
  return file_text.substr(file_text.find('\n') + 1);
}

bool RunningAsRoot() { return geteuid() == 0; }

class FileSettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lintrel-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    file_ = folder_ / "lintrel.conf";
  }

  void TearDown() override {
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder_, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }

  FileSettingsStore Open(std::string* warning = nullptr) {
    std::string ignored;
    return FileSettingsStore::Open(file_, platform::SystemSettingsFileAccess(),
                                   warning != nullptr ? warning : &ignored);
  }

  fs::path folder_;
  fs::path file_;
};

TEST_F(FileSettingsStoreTest, AMissingFileIsAFirstStart) {
  std::string warning = "stale";
  FileSettingsStore store = Open(&warning);
  EXPECT_EQ(warning, "");
  const LineSettings settings = LoadLineSettings(store);
  EXPECT_EQ(settings.port_name, "COM1");
  EXPECT_EQ(settings.baud_index, 1);
  EXPECT_EQ(settings.parity_index, 0);
  EXPECT_EQ(settings.data_bit_index, 1);
  EXPECT_EQ(settings.stop_bit_index, 0);
  EXPECT_FALSE(fs::exists(file_)) << "opening alone must not create the file";
}

TEST_F(FileSettingsStoreTest, SavedSettingsComeBackFromTheFileWithTheExactEntryNames) {
  {
    FileSettingsStore store = Open();
    std::string error;
    ASSERT_TRUE(SaveLineSettings(store, {"COM7", -1, 11, 3, 2}, &error)) << error;
  }
  EXPECT_EQ(EntryLines(ReadFile(file_)),
            "Port=COM7\nBaud rate=-1\nParity=11\nDatabit=3\nStop bit=2\n");
  std::string warning;
  FileSettingsStore reopened = Open(&warning);
  EXPECT_EQ(warning, "");
  const LineSettings loaded = LoadLineSettings(reopened);
  EXPECT_EQ(loaded.port_name, "COM7");
  EXPECT_EQ(loaded.baud_index, -1);
  EXPECT_EQ(loaded.parity_index, 11);
  EXPECT_EQ(loaded.data_bit_index, 3);
  EXPECT_EQ(loaded.stop_bit_index, 2);
  EXPECT_EQ(FileNamesIn(folder_), std::vector<std::string>{"lintrel.conf"})
      << "no temporary file is left behind";
}

TEST_F(FileSettingsStoreTest, AnEmptyPortIsSavedAsAnEmptyValue) {
  FileSettingsStore store = Open();
  LineSettings settings;
  settings.port_name.clear();
  ASSERT_TRUE(SaveLineSettings(store, settings, nullptr));
  EXPECT_NE(ReadFile(file_).find("\nPort=\n"), std::string::npos);
  FileSettingsStore reopened = Open();
  EXPECT_EQ(LoadLineSettings(reopened).port_name, "");
}

TEST_F(FileSettingsStoreTest, ARemovedEntryLeavesTheFile) {
  WriteFile(file_, "Port=COM3\nCOM3 device=USB\\VID_0403&PID_6001\\A1\n");
  FileSettingsStore store = Open();
  store.Remove("COM3 device");
  store.Remove("never there");
  ASSERT_TRUE(store.Flush(nullptr));
  EXPECT_EQ(EntryLines(ReadFile(file_)), "Port=COM3\n");
  EXPECT_EQ(store.ReadString("COM3 device"), std::nullopt);
}

TEST_F(FileSettingsStoreTest, SavingKeepsEntriesAndPinsTheUserWrote) {
  WriteFile(file_,
            "# mine\nWindow x=120\nDevice COM3=/dev/serial/by-id/usb-scanner\nPort=COM3\n"
            "Parity=2\n");
  FileSettingsStore store = Open();
  ASSERT_TRUE(SaveLineSettings(store, {"COM4", 1, 0, 1, 0}, nullptr));
  EXPECT_EQ(EntryLines(ReadFile(file_)),
            "Window x=120\nDevice COM3=/dev/serial/by-id/usb-scanner\nPort=COM4\nParity=0\n"
            "Baud rate=1\nDatabit=1\nStop bit=0\n");
}

TEST_F(FileSettingsStoreTest, DamagedFilesGiveDefaultsForWhatCouldNotBeReadAndOneWarning) {
  struct Case {
    const char* label;
    std::string text;
    LineSettings expected;
    const char* warning_part;
  };
  const std::vector<Case> cases = {
      {"line without '='", "Port=COM5\nParity 2\n", {"COM5", 1, 0, 1, 0}, "line 2 has no '='"},
      {"NUL bytes", "Port=CO\0M5\nParity=2\n"s, {"COM1", 1, 2, 1, 0}, "NUL"},
      {"integer overflow",
       "Baud rate=99999999999\nDatabit=0\n",
       {"COM1", 1, 0, 0, 0},
       "\"Baud rate\""},
      {"truncated last line", "Port=COM5\nStop bit=", {"COM5", 1, 0, 1, 0}, "line 2"},
      {"binary garbage",
       "\x7f"
       "ELF\x02\x01\x01\0\0\0\0\x03\0>\0\x01\0\0\0\xc0=\n\xff\xfe\n"s,
       {"COM1", 1, 0, 1, 0},
       "line 1"},
      {"many bad lines",
       std::string(5000, '\n') + std::string(20000, 'x'),
       {"COM1", 1, 0, 1, 0},
       "line 5001"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    WriteFile(file_, test.text);
    std::string warning;
    FileSettingsStore store = Open(&warning);
    const LineSettings loaded = LoadLineSettings(store);
    EXPECT_EQ(loaded.port_name, test.expected.port_name);
    EXPECT_EQ(loaded.baud_index, test.expected.baud_index);
    EXPECT_EQ(loaded.parity_index, test.expected.parity_index);
    EXPECT_EQ(loaded.data_bit_index, test.expected.data_bit_index);
    EXPECT_EQ(loaded.stop_bit_index, test.expected.stop_bit_index);
    EXPECT_NE(warning.find(file_.string()), std::string::npos) << warning;
    EXPECT_NE(warning.find(test.warning_part), std::string::npos) << warning;
    EXPECT_EQ(warning.find('\n'), std::string::npos) << "one line of warning";
  }
}

TEST_F(FileSettingsStoreTest, TheWarningSummarisesManyProblems) {
  std::string text;
  for (int i = 0; i < 250; ++i) text += "bad line\n";
  WriteFile(file_, text);
  std::string warning;
  Open(&warning);
  EXPECT_NE(warning.find("line 1 has no '='"), std::string::npos) << warning;
  EXPECT_NE(warning.find("and 247 more"), std::string::npos) << warning;
}

// What stands at a path (through a link, at its target too), told apart well enough to see
// that a save left it alone.
std::string Snapshot(const fs::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return "nothing";
  const std::string text = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) +
                           ":" + std::to_string(status.st_gid) + " ";
  if (S_ISREG(status.st_mode)) {
    const std::string content = ReadFile(path);
    return text + std::to_string(content.size()) + " bytes #" + std::to_string(std::hash<std::string>{}(content));
  }
  if (S_ISDIR(status.st_mode)) return text + FileNamesIn(path).front();
  if (!S_ISLNK(status.st_mode)) return text;
  const fs::path target = fs::read_symlink(path);
  return text + "-> " + target.string() + " " + Snapshot(path.parent_path() / target);
}

constexpr uid_t kOtherUser = 65534;  // nobody

struct RefusedCase {
  const char* label;
  // Makes what stands at `file` (with more in its folder); returns why the case cannot run
  // here, or "".
  std::string (*make)(const fs::path& file);
  const char* open_warning;  // part of the warning on opening; nullptr: no warning
  const char* save_error;
};

const RefusedCase kRefusedCases[] = {
    {"Folder",
     [](const fs::path& file) {
       fs::create_directory(file);
       WriteFile(file / "inside", "kept");
       return std::string();
     },
     "not a regular file", "not a regular file"},
    {"Over1MiB",
     [](const fs::path& file) {
       WriteFile(file, "Port=COM5\n" + std::string(FileSettingsStore::kMaxFileBytes, '#'));
       return std::string();
     },
     "larger than 1 MiB", "larger than 1 MiB"},
    {"Unreadable",
     [](const fs::path& file) {
       if (RunningAsRoot()) return std::string("root reads the file whatever its mode");
       WriteFile(file, "Port=COM5\n");
       fs::permissions(file, fs::perms::none);
       return std::string();
     },
     "cannot be opened", "cannot be opened"},
    {"LinkToAFifo",
     [](const fs::path& file) {
       if (mkfifo((file.parent_path() / "fifo").c_str(), 0600) != 0) return std::string("mkfifo failed");
       fs::create_symlink("fifo", file);
       return std::string();
     },
     "not a regular file", "not a regular file"},
    {"LinkToADeviceNode",
     [](const fs::path& file) {
       // Root gets a null device of its own to point at; anyone else cannot replace /dev/null.
       const fs::path device = RunningAsRoot() ? file.parent_path() / "null" : fs::path("/dev/null");
       if (RunningAsRoot() && mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
         return std::string("mknod failed");
       }
       fs::create_symlink(device, file);
       return std::string();
     },
     "not a regular file", "not a regular file"},
    {"DanglingLink",
     [](const fs::path& file) {
       fs::create_symlink(file.parent_path() / "gone.conf", file);
       return std::string();
     },
     nullptr, "does not exist"},
    {"AnotherUsersFile",
     [](const fs::path& file) {
       if (!RunningAsRoot()) return std::string("only root can give a file away");
       WriteFile(file, "Port=COM5\n");
       return std::string(chown(file.c_str(), kOtherUser, kOtherUser) == 0 ? "" : "chown failed");
     },
     nullptr, "another user"},
    {"LinkToAnotherUsersFile",
     [](const fs::path& file) {
       if (!RunningAsRoot()) return std::string("only root can give a file away");
       const fs::path theirs = file.parent_path() / "theirs.conf";
       WriteFile(theirs, "Port=COM5\n");
       fs::create_symlink("theirs.conf", file);
       return std::string(chown(theirs.c_str(), kOtherUser, kOtherUser) == 0 ? "" : "chown failed");
     },
     nullptr, "another user"},
};

void PrintTo(const RefusedCase& refused, std::ostream* out) { *out << refused.label; }

class RefusedSaveTest : public FileSettingsStoreTest,
                        public ::testing::WithParamInterface<RefusedCase> {};

// A save writes a regular file of the user's, or a link's target when that is one; anything
// else, and a file whose content could not be read, stays as it is and the save says why.
TEST_P(RefusedSaveTest, TheFileIsLeftAsItWasAndTheSaveSaysWhy) {
  if (const std::string skipped = GetParam().make(file_); !skipped.empty()) GTEST_SKIP() << skipped;
  const std::vector<std::string> names_before = FileNamesIn(folder_);
  const std::string before = Snapshot(file_);
  std::string warning;
  FileSettingsStore store = Open(&warning);
  if (GetParam().open_warning == nullptr) {
    EXPECT_EQ(warning, "");
  } else {
    EXPECT_NE(warning.find(file_.string()), std::string::npos) << warning;
    EXPECT_NE(warning.find(GetParam().open_warning), std::string::npos) << warning;
  }
  std::string error;
  EXPECT_FALSE(SaveLineSettings(store, {"COM6", 1, 0, 1, 0}, &error));
  EXPECT_NE(error.find(file_.string()), std::string::npos) << error;
  EXPECT_NE(error.find(GetParam().save_error), std::string::npos) << error;
  EXPECT_EQ(Snapshot(file_), before);
  EXPECT_EQ(FileNamesIn(folder_), names_before) << "no temporary file is left behind";
}

std::string RefusedCaseName(const ::testing::TestParamInfo<RefusedCase>& refused) {
  return refused.param.label;
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedSaveTest, ::testing::ValuesIn(kRefusedCases), RefusedCaseName);

TEST_F(FileSettingsStoreTest, FlushCreatesMissingFolders) {
  file_ = folder_ / "config" / "lintrel" / "lintrel.conf";
  FileSettingsStore store = Open();
  std::string error;
  ASSERT_TRUE(SaveLineSettings(store, {"COM2", 1, 0, 1, 0}, &error)) << error;
  EXPECT_NE(ReadFile(file_).find("Port=COM2\n"), std::string::npos);
}

TEST_F(FileSettingsStoreTest, AnUnwritableFolderFailsTheFlushAndKeepsTheOldFile) {
  if (RunningAsRoot()) GTEST_SKIP() << "root writes in any folder whatever its mode";
  WriteFile(file_, "Port=COM5\n");
  FileSettingsStore store = Open();
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  std::string error;
  EXPECT_FALSE(SaveLineSettings(store, {"COM6", 1, 0, 1, 0}, &error));
  EXPECT_NE(error.find(folder_.string()), std::string::npos) << error;
  EXPECT_EQ(ReadFile(file_), "Port=COM5\n");
  EXPECT_EQ(FileNamesIn(folder_), std::vector<std::string>{"lintrel.conf"});
}

TEST_F(FileSettingsStoreTest, AFolderThatCannotBeCreatedFailsTheFlush) {
  WriteFile(folder_ / "config", "a file where the folder should be");
  file_ = folder_ / "config" / "lintrel.conf";
  FileSettingsStore store = Open();
  std::string error;
  EXPECT_FALSE(SaveLineSettings(store, LineSettings{}, &error));
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(folder_ / "config"), "a file where the folder should be");
}

// Runs `action` with regular files limited to `max_bytes`, so a write past it fails even
// for root. SIGXFSZ is ignored meanwhile: otherwise it ends the process.
template <typename Action>
void WithFileSizeLimit(rlim_t max_bytes, Action action) {
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limit = old_limit;
  limit.rlim_cur = max_bytes;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction old_action {};
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &old_action), 0);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  action();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
}

TEST_F(FileSettingsStoreTest, AWriteThatFailsHalfwayLeavesTheOldFileWhole) {
  const std::string old_text = "Port=COM5\nParity=2\n";
  WriteFile(file_, old_text);
  FileSettingsStore store = Open();
  for (int i = 0; i < 2000; ++i) {
    store.WriteString("Entry " + std::to_string(i), std::string(30, 'v'));
  }
  bool flushed = true;
  std::string error;
  WithFileSizeLimit(4096, [&] { flushed = SaveLineSettings(store, LineSettings{}, &error); });
  EXPECT_FALSE(flushed);
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(file_), old_text);
  EXPECT_EQ(FileNamesIn(folder_), std::vector<std::string>{"lintrel.conf"});
}

TEST_F(FileSettingsStoreTest, AWriteTheFileCannotHoldFailsTheFlushAndKeepsTheEntry) {
  WriteFile(file_, "Port=COM5\n");
  FileSettingsStore store = Open();
  std::string error;
  EXPECT_FALSE(SaveLineSettings(store, {"COM6\nBaud rate=9", 4, 0, 1, 0}, &error));
  EXPECT_NE(error.find("\"Port\""), std::string::npos) << error;
  EXPECT_EQ(EntryLines(ReadFile(file_)),
            "Port=COM5\nBaud rate=4\nParity=0\nDatabit=1\nStop bit=0\n");
  EXPECT_EQ(store.ReadString(kPortEntry), "COM5");
  EXPECT_TRUE(store.Flush(&error)) << "the failure is reported once: " << error;
}

TEST_F(FileSettingsStoreTest, ValuesAreTextReadAsIntegersOnlyWhenTheyAreOne) {
  WriteFile(file_, "Port=42\nBaud rate=fast\nParity=-7\n");
  FileSettingsStore store = Open();
  EXPECT_EQ(store.ReadInt("Port"), 42);
  EXPECT_EQ(store.ReadInt("Baud rate"), std::nullopt);
  EXPECT_EQ(store.ReadString("Baud rate"), "fast");
  EXPECT_EQ(store.ReadString("Parity"), "-7");
  EXPECT_EQ(store.ReadString("Absent"), std::nullopt);
  EXPECT_EQ(store.ReadInt("Absent"), std::nullopt);
}

TEST_F(FileSettingsStoreTest, DevicePinsComeFromTheValidPinEntries) {
  WriteFile(file_,
            "Device COM3=/dev/ttyUSB0\nDevice COM0=/dev/ttyS0\nDevice COM256=/dev/ttyACM9\n"
            "Device COM257=/dev/ttyUSB1\nDevice COM4=ttyUSB2\nDevice COM5=\nDevice COM=/dev/x\n"
            "Device COM3=/dev/serial/by-id/scanner\n");
  FileSettingsStore store = Open();
  EXPECT_EQ(ReadDevicePins(store),
            (std::map<int, std::string>{
                {0, "/dev/ttyS0"}, {3, "/dev/serial/by-id/scanner"}, {256, "/dev/ttyACM9"}}));
  store.WriteString(DevicePinEntry(12), "/dev/ttyUSB7");
  EXPECT_EQ(ReadDevicePins(store).at(12), "/dev/ttyUSB7");
}

TEST_F(FileSettingsStoreTest, ASymbolicLinkStaysALinkAndItsTargetGetsTheSettingsOwnerAndMode) {
  const fs::path target = folder_ / "real.conf";
  WriteFile(target, "Port=COM5\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Root can give the file a group of its own choosing, which the new file must keep.
  if (RunningAsRoot()) {
    ASSERT_EQ(chown(target.c_str(), geteuid(), kOtherUser), 0);
  }
  struct stat old_status {};
  ASSERT_EQ(stat(target.c_str(), &old_status), 0);
  fs::create_symlink("real.conf", file_);  // relative to the link's folder
  FileSettingsStore store = Open();
  std::string error;
  ASSERT_TRUE(SaveLineSettings(store, {"COM8", 1, 0, 1, 0}, &error)) << error;
  EXPECT_EQ(fs::read_symlink(file_), "real.conf");
  EXPECT_NE(ReadFile(target).find("Port=COM8\n"), std::string::npos);
  struct stat new_status {};
  ASSERT_EQ(stat(target.c_str(), &new_status), 0);
  EXPECT_EQ(new_status.st_mode, old_status.st_mode);
  EXPECT_EQ(new_status.st_uid, old_status.st_uid);
  EXPECT_EQ(new_status.st_gid, old_status.st_gid);
  EXPECT_EQ(FileNamesIn(folder_), (std::vector<std::string>{"lintrel.conf", "real.conf"}));
}

TEST_F(FileSettingsStoreTest, APrivateFileStaysPrivate) {
  WriteFile(file_, "Port=COM5\n");
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
  FileSettingsStore store = Open();
  ASSERT_TRUE(SaveLineSettings(store, LineSettings{}, nullptr));
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace lintrel

namespace lintrel {
namespace {

// A port's profile is its [COMn] section; the shared entries stay before every section, so
// that an older program reads them as before.
TEST_F(FileSettingsStoreTest, PortProfilesAreSectionsOfTheFile) {
  WriteFile(file_, "Port=COM5\nBaud rate=4\n[COM5]\nSuffix=\\t\nEnd char=10\n[nonsense]\nParity=2\n");
  std::string warning;
  FileSettingsStore store = Open(&warning);
  EXPECT_NE(warning.find("line 6 has no '=' sign"), std::string::npos) << warning;
  // A bracketed line that names no port starts no section: what follows stays in [COM5].
  EXPECT_EQ(LoadLineSettings(store).parity_index, 0);
  PortProfile profile = LoadPortProfile(store, 5, nullptr);
  EXPECT_EQ(profile, (PortProfile{.parity_index = 2, .end_character = 10, .suffix = "\t"}));

  profile.replacements = std::vector<Replacement>{{"\x1D", "<GS>"}};
  WritePortProfile(store, 12, PortProfile{.baud_index = 10, .control = ControlMap::kDrop});
  WritePortProfile(store, 5, profile);
  store.WriteString("Ports", "COM5,COM12");
  std::string error;
  ASSERT_TRUE(store.Flush(&error)) << error;
  EXPECT_EQ(EntryLines(ReadFile(file_)),
            "Port=COM5\nBaud rate=4\nPorts=COM5,COM12\n"
            "\n[COM5]\nSuffix=\\t\nEnd char=10\nParity=2\nReplace 1=\\x1D=<GS>\n"
            "\n[COM12]\nBaud rate=10\nControl characters=drop\n");
  FileSettingsStore again = Open(&warning);
  EXPECT_EQ(LoadPortProfile(again, 5, nullptr), profile);
  EXPECT_EQ(LoadPortProfile(again, 12, nullptr), (PortProfile{.baud_index = 10, .control = ControlMap::kDrop}));
}

}  // namespace
}  // namespace lintrel
