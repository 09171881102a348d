// The Windows installer, made with cpack from the Windows build, run silently under Wine in
// a prefix of its own: what it installs and registers, the programs' versions from the
// install folder, and what its uninstaller removes and keeps.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/version.h"
#include "packaging/package_maker.h"
#include "posix/posix_test_support.h"
#include "wine/wine_prefix.h"
#include "wine/wine_suite.h"

namespace lintrel::testing {
namespace {

constexpr char kInstallFolder[] = "C:\\Program Files\\Lintrel";
constexpr char kUninstallKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lintrel";
constexpr char kRunKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kVendorKey[] = "HKEY_CURRENT_USER\\Software\\VANTORIL SOFTWARE";
// Wine's menu builder would copy the Start-menu shortcut into the desktop's menus of the
// user who runs the tests.
const std::vector<std::string> kNoDesktopMenus = {"WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe="};

class WineInstallerTest : public WineSuite<89, /*kVirtualDesktop=*/false> {
 protected:
  static void SetUpTestSuite() {
    // The installer is made while the prefix boots.
    folder_ = std::make_unique<TemporaryDirectory>();
    PackageMaker maker(LINTREL_WINDOWS_CPACK_CONFIG, "NSIS", folder_->File(""),
                       "lintrel-" LINTREL_VERSION "-setup.exe");
    WineSuite::SetUpTestSuite();
    std::string error;
    installer_ = maker.Finish(&error);
    if (installer_.empty()) installer_error_ = error;
  }

  static void TearDownTestSuite() {
    folder_.reset();
    WineSuite::TearDownTestSuite();
  }

  void SetUp() override {
    SetUpSuite({});
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(installer_error_, "");
  }

  // Where the prefix keeps a file that its programs know as C:\...
  static std::filesystem::path Unix(const std::string& windows_path) {
    std::string path = windows_path.substr(3);
    std::replace(path.begin(), path.end(), '\\', '/');
    return prefix().prefix() / "drive_c" / path;
  }
  static std::filesystem::path Installed(const std::string& name) {
    return Unix(std::string(kInstallFolder) + "\\" + name);
  }
  static std::filesystem::path Shortcut() {
    return Unix("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Lintrel.lnk");
  }

  void Install() {
    const CommandResult installed = prefix().Run({installer_.string(), "/S"}, kNoDesktopMenus);
    ASSERT_TRUE(installed.Succeeded()) << installed.err;
  }

  // The uninstaller copies itself to a temporary folder, starts the copy and ends; the copy
  // removes the install folder last. True once it has.
  bool Uninstall(const std::vector<std::string>& options) {
    std::vector<std::string> command = {std::string(kInstallFolder) + "\\Uninstall.exe", "/S"};
    command.insert(command.end(), options.begin(), options.end());
    const CommandResult started = prefix().Run(command, kNoDesktopMenus);
    EXPECT_TRUE(started.Succeeded()) << started.err;
    const auto deadline = std::chrono::steady_clock::now() + kSafetyLimit;
    while (std::filesystem::exists(Unix(kInstallFolder))) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }

  // Settings of both programs for the user, and a start at login.
  void SeedUserValues() {
    std::string error;
    ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kVendorKey + "\\lintrel]\r\n\"Port\"=\"COM5\"\r\n[" +
                                            kVendorKey + "\\lintrel-cli]\r\n\"Port\"=\"COM6\"\r\n[" + kRunKey +
                                            "]\r\n\"Lintrel\"=\"lintrel.exe --tray\"\r\n",
                                        &error))
        << error;
  }

  static inline std::unique_ptr<TemporaryDirectory> folder_;
  static inline std::filesystem::path installer_;
  static inline std::string installer_error_;
};

TEST_F(WineInstallerTest, SilentInstallPutsBothProgramsAShortcutAndTheUninstallEntry) {
  Install();
  for (const char* file : {"lintrel.exe", "lintrel-cli.exe", "Uninstall.exe", "README.md", "LICENSE.txt",
                           "docs\\user-guide.md", "docs\\admin-guide.md", "profiles\\mt-sics.txt"}) {
    EXPECT_TRUE(std::filesystem::exists(Installed(file))) << file;
  }
  // Wine writes the shortcut's target path as plain text inside the link.
  std::ifstream link(Shortcut(), std::ios::binary);
  const std::string target((std::istreambuf_iterator<char>(link)), std::istreambuf_iterator<char>());
  EXPECT_NE(target.find(std::string(kInstallFolder) + "\\lintrel.exe"), std::string::npos) << Shortcut();

  EXPECT_EQ(prefix().QueryValue(kUninstallKey, "DisplayName"), "Lintrel");
  EXPECT_EQ(prefix().QueryValue(kUninstallKey, "DisplayVersion"), LINTREL_VERSION);
  EXPECT_EQ(prefix().QueryValue(kUninstallKey, "Publisher"), "VANTORIL SOFTWARE");
  EXPECT_EQ(prefix().QueryValue(kUninstallKey, "UninstallString"),
            std::string("\"") + kInstallFolder + "\\Uninstall.exe\"");

  const CommandResult cli = prefix().Run({std::string(kInstallFolder) + "\\lintrel-cli.exe", "--version"});
  ASSERT_TRUE(cli.Succeeded()) << cli.err;
  EXPECT_EQ(cli.out.substr(0, cli.out.find('\n')), "lintrel-cli " LINTREL_VERSION);
  // The GUI program writes its version to a standard output it was given.
  const CommandResult gui = prefix().Run({std::string(kInstallFolder) + "\\lintrel.exe", "--version"});
  ASSERT_TRUE(gui.Succeeded()) << gui.err;
  EXPECT_EQ(gui.out, "lintrel " LINTREL_VERSION "\n");
}

TEST_F(WineInstallerTest, SilentUninstallRemovesTheProgramAndTheStartAtLoginButKeepsTheSettings) {
  Install();
  SeedUserValues();
  ASSERT_TRUE(Uninstall({})) << "the install folder is still there";
  EXPECT_FALSE(std::filesystem::exists(Shortcut()));
  EXPECT_EQ(prefix().QueryValue(kUninstallKey, "DisplayName"), std::nullopt);
  EXPECT_EQ(prefix().QueryValue(kRunKey, "Lintrel"), std::nullopt);
  EXPECT_EQ(prefix().QueryValue(std::string(kVendorKey) + "\\lintrel", "Port"), "COM5");
  EXPECT_EQ(prefix().QueryValue(std::string(kVendorKey) + "\\lintrel-cli", "Port"), "COM6");
}

TEST_F(WineInstallerTest, UninstallRemovesTheSettingsWhenAsked) {
  Install();
  SeedUserValues();
  ASSERT_TRUE(Uninstall({"/REMOVESETTINGS"})) << "the install folder is still there";
  EXPECT_EQ(prefix().QueryValue(std::string(kVendorKey) + "\\lintrel", "Port"), std::nullopt);
  EXPECT_EQ(prefix().QueryValue(std::string(kVendorKey) + "\\lintrel-cli", "Port"), std::nullopt);
  EXPECT_FALSE(prefix().Run({"reg", "query", kVendorKey}).Succeeded()) << "the emptied maker's key stays";
}

}  // namespace
}  // namespace lintrel::testing
