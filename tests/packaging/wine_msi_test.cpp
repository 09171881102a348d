// The MSI, made by packaging/windows/make_msi.sh from the Windows build's install tree,
// signed as tools/package.sh --sign signs it, installed and removed with Wine's msiexec in a
// prefix of its own, without a question: what it installs and registers, AUTOSTART=1, a major upgrade from a lower version that keeps
// what that one set up, and msiexec /x removing it all.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "packaging/package_maker.h"
#include "posix/posix_test_support.h"
#include "wine/wine_prefix.h"
#include "wine/wine_suite.h"

namespace lintrel::testing {
namespace {

constexpr char kInstallFolder[] = "C:\\Program Files\\Lintrel";
constexpr char kMachineRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kUninstallKeys[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// Wine's menu builder would copy the Start-menu shortcut into the desktop's menus of the
// user who runs the tests.
const std::vector<std::string> kNoDesktopMenus = {"WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe="};

struct Package {
  std::filesystem::path file;
  std::string product_code;
};

class WineMsiTest : public WineSuite<95, /*kVirtualDesktop=*/false> {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<TemporaryDirectory>();
    WineSuite::SetUpTestSuite();
    const std::filesystem::path stage = folder_->File("stage");
    const CommandResult installed =
        RunToEnd({LINTREL_CMAKE_PATH, "--install", LINTREL_WINDOWS_BUILD, "--prefix", stage.string()});
    if (!installed.Succeeded()) {
      package_error_ = "cmake --install of the Windows build failed: " + installed.err;
      return;
    }
    current_ = Make(stage, LINTREL_VERSION);
    older_ = Make(stage, "1.1.0");
    // This version's MSI signed as tools/package.sh --sign signs it, with a throwaway
    // certificate: msiexec installs it like any other.
    const TestCertificate certificate(folder_->File(""));
    const CommandResult signed_msi = RunToEnd({"LINTREL_SIGN_PASSWORD=" + std::string(TestCertificate::kPassword),
                                               "bash", LINTREL_SIGN_SCRIPT, certificate.pfx(), current_.file.string()});
    signature_error_ = certificate.error() + signed_msi.err + certificate.Verify(current_.file.string());
  }

  static void TearDownTestSuite() {
    folder_.reset();
    WineSuite::TearDownTestSuite();
  }

  // Makes the MSI of `version` and reads its product code.
  static Package Make(const std::filesystem::path& stage, const std::string& version) {
    const std::filesystem::path file = folder_->File("lintrel-" + version + "-x64.msi");
    const CommandResult made = RunToEnd({LINTREL_MAKE_MSI, stage.string(), version, file.string()});
    if (!made.Succeeded()) package_error_ = "make_msi.sh failed: " + made.err;
    const CommandResult properties = RunToEnd({"msiinfo", "export", file.string(), "Property"});
    std::istringstream lines(properties.out);
    for (std::string line; std::getline(lines, line);) {
      // Tables are exported with Windows line ends.
      if (line.ends_with('\r')) line.pop_back();
      if (line.starts_with("ProductCode\t")) return {file, line.substr(line.find('\t') + 1)};
    }
    package_error_ = "no ProductCode in " + file.string() + ": " + properties.err;
    return {};
  }

  void SetUp() override {
    SetUpSuite({});
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(package_error_, "");
  }

  // Whatever a test left installed is removed before the next one.
  void TearDown() override {
    if (IsSkipped()) return;
    for (const Package* package : {&current_, &older_}) {
      if (UninstallEntry(*package, "DisplayName")) Msiexec({"/x", package->product_code});
    }
  }

  static CommandResult Msiexec(std::vector<std::string> args) {
    args.insert(args.begin(), "msiexec");
    args.push_back("/qn");
    return prefix().Run(args, kNoDesktopMenus, 2);
  }
  static void Install(const Package& package, std::vector<std::string> properties = {}) {
    properties.insert(properties.begin(), {"/i", WinePrefix::WindowsPath(package.file)});
    const CommandResult installed = Msiexec(properties);
    ASSERT_TRUE(installed.Succeeded()) << installed.err;
  }

  static std::filesystem::path Unix(const std::string& windows_path) { return prefix().DriveCPath(windows_path); }
  static std::filesystem::path Installed(const std::string& name) {
    return Unix(std::string(kInstallFolder) + "\\" + name);
  }
  // The Start-menu shortcut. ALLUSERS=1 puts it into the common Programs folder on
  // Windows; Wine's msi resolves ProgramMenuFolder to the user's Programs folder all the same.
  static std::optional<std::filesystem::path> Shortcut() {
    const std::filesystem::path common = Unix("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Lintrel.lnk");
    if (std::filesystem::exists(common)) return common;
    for (const auto& user : std::filesystem::directory_iterator(Unix("C:\\users"))) {
      const std::filesystem::path link =
          user.path() / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Lintrel.lnk";
      if (std::filesystem::exists(link)) return link;
    }
    return std::nullopt;
  }
  static std::optional<std::string> UninstallEntry(const Package& package, const std::string& name) {
    return prefix().QueryValue(kUninstallKeys + package.product_code, name);
  }

  static inline std::unique_ptr<TemporaryDirectory> folder_;
  static inline Package current_, older_;
  static inline std::string package_error_;
  static inline std::string signature_error_;
};

TEST_F(WineMsiTest, SilentInstallPutsTheProgramsAShortcutAndTheUninstallEntry) {
  EXPECT_EQ(signature_error_, "") << "the MSI installed is signed";
  Install(current_);
  for (const char* file : {"lintrel.exe", "lintrel-cli.exe", "README.md", "LICENSE.txt", "docs\\user-guide.md",
                           "docs\\admin-guide.md", "policy\\lintrel.admx", "policy\\en-US\\lintrel.adml"}) {
    EXPECT_TRUE(std::filesystem::exists(Installed(file))) << file;
  }
  const std::optional<std::filesystem::path> shortcut = Shortcut();
  ASSERT_TRUE(shortcut.has_value()) << "no Lintrel.lnk in a Start menu";
  // Wine writes the shortcut's target path as plain text inside the link.
  std::ifstream link(*shortcut, std::ios::binary);
  const std::string target((std::istreambuf_iterator<char>(link)), std::istreambuf_iterator<char>());
  EXPECT_NE(target.find(std::string(kInstallFolder) + "\\lintrel.exe"), std::string::npos) << *shortcut;

  EXPECT_EQ(UninstallEntry(current_, "DisplayName"), "Lintrel");
  EXPECT_EQ(UninstallEntry(current_, "DisplayVersion"), LINTREL_VERSION);
  EXPECT_EQ(UninstallEntry(current_, "Publisher"), "VANTORIL SOFTWARE");
  EXPECT_EQ(prefix().QueryValue(kMachineRunKey, "Lintrel"), std::nullopt) << "no start at login unless asked";
  EXPECT_FALSE(std::filesystem::exists(Unix("C:\\windows\\PolicyDefinitions\\lintrel.admx")));

  const CommandResult cli = prefix().Run({std::string(kInstallFolder) + "\\lintrel-cli.exe", "--version"});
  ASSERT_TRUE(cli.Succeeded()) << cli.err;
  EXPECT_EQ(cli.out.substr(0, cli.out.find('\n')), "lintrel-cli " LINTREL_VERSION);

  const CommandResult removed = Msiexec({"/x", WinePrefix::WindowsPath(current_.file)});
  ASSERT_TRUE(removed.Succeeded()) << removed.err;
  EXPECT_FALSE(std::filesystem::exists(Unix(kInstallFolder)));
  EXPECT_FALSE(Shortcut().has_value());
  EXPECT_EQ(UninstallEntry(current_, "DisplayName"), std::nullopt);
}

// AUTOSTART=1 and POLICYDEFINITIONS=1 of a lower version are kept by the upgrade to this one,
// which replaces it; msiexec /x removes it all.
TEST_F(WineMsiTest, AMajorUpgradeReplacesALowerVersionAndKeepsWhatItSetUp) {
  Install(older_, {"AUTOSTART=1", "POLICYDEFINITIONS=1"});
  EXPECT_EQ(prefix().QueryValue(kMachineRunKey, "Lintrel"), std::string("\"") + kInstallFolder + "\\lintrel.exe\" --tray");
  EXPECT_EQ(UninstallEntry(older_, "DisplayVersion"), "1.1.0");

  Install(current_);
  EXPECT_EQ(UninstallEntry(older_, "DisplayName"), std::nullopt) << "the lower version is removed";
  EXPECT_EQ(UninstallEntry(current_, "DisplayVersion"), LINTREL_VERSION);
  EXPECT_EQ(prefix().QueryValue(kMachineRunKey, "Lintrel"), std::string("\"") + kInstallFolder + "\\lintrel.exe\" --tray");
  EXPECT_TRUE(std::filesystem::exists(Unix("C:\\windows\\PolicyDefinitions\\lintrel.admx")));
  EXPECT_TRUE(std::filesystem::exists(Unix("C:\\windows\\PolicyDefinitions\\en-US\\lintrel.adml")));
  EXPECT_TRUE(std::filesystem::exists(Installed("lintrel.exe")));

  const CommandResult removed = Msiexec({"/x", current_.product_code});
  ASSERT_TRUE(removed.Succeeded()) << removed.err;
  EXPECT_FALSE(std::filesystem::exists(Unix(kInstallFolder)));
  EXPECT_FALSE(std::filesystem::exists(Unix("C:\\windows\\PolicyDefinitions\\lintrel.admx")));
  EXPECT_EQ(prefix().QueryValue(kMachineRunKey, "Lintrel"), std::nullopt);
}

}  // namespace
}  // namespace lintrel::testing
