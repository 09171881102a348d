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
#include "wine/gui_driver_client.h"
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

  static std::filesystem::path Unix(const std::string& windows_path) { return prefix().DriveCPath(windows_path); }
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
    const auto deadline = std::chrono::steady_clock::now() + kWinePatience * kSafetyLimit;
    while (std::filesystem::exists(Unix(kInstallFolder))) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }

  // lintrel.exe started from the install folder, once its window is there.
  std::unique_ptr<ChildProcess> StartInstalledLintrel() {
    auto running = prefix().Start({std::string(kInstallFolder) + "\\lintrel.exe"}, kNoDesktopMenus);
    EXPECT_TRUE(running->WaitUntil([&] { return Driver().DriveOne({"count", "main"}) == "1"; }))
        << "lintrel.exe did not start: " << running->Describe();
    return running;
  }

  static void ExpectEnded(ChildProcess& program) {
    const std::optional<ExitStatus> status = program.WaitForExit();
    ASSERT_TRUE(status.has_value()) << "still running: " << program.Describe();
    EXPECT_TRUE(status->exited && status->code == 0) << program.Describe();
  }

  static GuiDriverClient Driver() { return GuiDriverClient(prefix(), LINTREL_GUI_DRIVER_PATH); }

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
                           "docs\\user-guide.md", "docs\\admin-guide.md"}) {
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

// A running Lintrel holds its program file. Setup asks it to close first (silently with /S)
// and replaces the file; declined, it ends before it writes anything. The uninstaller does
// the same, its question about the settings naming all it would remove.
TEST_F(WineInstallerTest, ARunningLintrelIsClosedBeforeItsFilesAreReplacedOrRemoved) {
  Install();
  // A mark after the program's image, where Windows reads nothing: a reinstall removes it.
  std::ofstream(Installed("lintrel.exe"), std::ios::app | std::ios::binary) << "mark";
  const std::uintmax_t marked_size = std::filesystem::file_size(Installed("lintrel.exe"));
  std::unique_ptr<ChildProcess> running = StartInstalledLintrel();
  const GuiDriverClient driver = Driver();

  std::unique_ptr<ChildProcess> setup = prefix().Start({installer_.string()}, kNoDesktopMenus);
  EXPECT_EQ(driver.TakeMessage(GuiDriverClient::kCancelButton).rfind(
                "Lintrel is running. It is closed before it is updated: its ports are released and it ends.", 0),
            0u);
  const std::optional<ExitStatus> declined = setup->WaitForExit();
  ASSERT_TRUE(declined.has_value());
  EXPECT_EQ(declined->code, 1223 & 0xFF) << "ERROR_CANCELLED, of which a Unix parent sees the low byte";
  EXPECT_EQ(driver.DriveOne({"count", "main"}), "1") << "Lintrel still runs";
  EXPECT_EQ(std::filesystem::file_size(Installed("lintrel.exe")), marked_size);

  Install();
  ExpectEnded(*running);
  EXPECT_LT(std::filesystem::file_size(Installed("lintrel.exe")), marked_size) << "the old program is still there";

  // The uninstaller, silent: closed, then everything removed.
  running = StartInstalledLintrel();
  ASSERT_TRUE(Uninstall({})) << "the install folder is still there";
  ExpectEnded(*running);

  // Asked, then accepted: Lintrel ends, the wizard uninstalls, and the settings question
  // names all the settings, which stay when it is answered No.
  Install();
  SeedUserValues();
  running = StartInstalledLintrel();
  std::unique_ptr<ChildProcess> uninstaller =
      prefix().Start({std::string(kInstallFolder) + "\\Uninstall.exe"}, kNoDesktopMenus);
  EXPECT_EQ(driver.TakeMessage().rfind("Lintrel is running. It is closed before it is removed", 0), 0u);
  ExpectEnded(*running);
  const std::string wizard = "caption=Lintrel Uninstall";
  ASSERT_EQ(driver.DriveOne({"wait", wizard}), "ok") << driver.DriveOne({"windows"});
  driver.Drive({"click", wizard, std::to_string(GuiDriverClient::kOkButton)});
  constexpr int kNoButton = 7;
  EXPECT_EQ(driver.TakeMessage(kNoButton),
            "Also remove your Lintrel settings (the saved port and line settings, each port's own options, the "
            "shared options and the ports connected again at start)?");
  const auto deadline = std::chrono::steady_clock::now() + kWinePatience * kSafetyLimit;
  while (std::filesystem::exists(Unix(kInstallFolder)) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(std::filesystem::exists(Unix(kInstallFolder)));
  driver.Drive({"click", wizard, std::to_string(GuiDriverClient::kOkButton), "gone", wizard});
  EXPECT_EQ(prefix().QueryValue(std::string(kVendorKey) + "\\lintrel", "Port"), "COM5");
  EXPECT_TRUE(uninstaller->WaitForExit().has_value()) << uninstaller->Describe();
}

}  // namespace
}  // namespace lintrel::testing
