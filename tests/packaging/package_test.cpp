// The packages as a user gets them: the man page against what lintrel-cli --help and
// --version print; the Debian package's control fields, dependencies and files, what lintian
// says of it, its user unit against how the program ends, and lintrel-cli and its man page
// run from a scratch root it was unpacked into; the files of the portable Windows zip. Each package is made with cpack from its build tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "cli/cli_process.h"
#include "packaging/package_maker.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

constexpr char kCli[] = LINTREL_CLI_PATH;
constexpr char kManPage[] = LINTREL_MAN_PAGE_PATH;  // empty: help2man was not found
constexpr char kManHome[] = LINTREL_MAN_HOME;
constexpr char kNoManPage[] = "help2man is not installed, so there is no man page (tools/setup.sh installs it)";

// The words of `text`, one space apart, whatever its line breaks and indentation.
std::string Words(const std::string& text) {
  std::istringstream in(text);
  std::string words;
  for (std::string word; in >> word;) words += (words.empty() ? "" : " ") + word;
  return words;
}

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A man page as man shows it, as words: without hyphenation or justification, a paragraph
// keeps the words that --help printed.
std::string ShownManPage(const std::string& page) {
  const CommandResult shown = RunToEnd({"LC_ALL=C", "MANWIDTH=80", "man", "--nh", "--nj", "-l", page});
  EXPECT_TRUE(shown.Succeeded()) << "man -l " << page << ": " << shown.err;
  return Words(shown.out);
}

TEST(ManPageTest, SaysWhatVersionAndHelpSay) {
  if (std::string(kManPage).empty()) GTEST_SKIP() << kNoManPage;
  const CommandResult version = RunToEnd({kCli, "--version"});
  ASSERT_TRUE(version.Succeeded()) << version.err;
  EXPECT_EQ(FirstLine(version.out), "lintrel-cli " LINTREL_VERSION);

  // --help as the page was written from it: the settings file under a placeholder home,
  // which the page names as ~.
  const CommandResult help = RunToEnd({"-u", "XDG_CONFIG_HOME", std::string("HOME=") + kManHome, kCli, "--help"});
  ASSERT_TRUE(help.Succeeded()) << help.err;
  const std::string page = ShownManPage(kManPage);
  EXPECT_TRUE(Contains(page, "lintrel-cli " LINTREL_VERSION)) << page;
  EXPECT_FALSE(Contains(page, kManHome)) << page;

  // The usage lines make the synopsis; every other line of --help is in the page as it is.
  std::string synopsis = "SYNOPSIS";
  for (const std::string& line : Lines(help.out)) {
    std::string words = Words(line);
    if (const std::size_t home = words.find(kManHome); home != std::string::npos) {
      words.replace(home, std::string(kManHome).size(), "~");
    }
    if (words.rfind("Usage: ", 0) == 0 || words.rfind("or: ", 0) == 0) {
      synopsis += words.substr(words.find(' '));
    } else {
      EXPECT_TRUE(Contains(page, words)) << "--help says, the man page does not: " << line;
    }
  }
  EXPECT_TRUE(Contains(page, synopsis)) << synopsis << "\n" << page;
}

// One Debian package for the suite, and the scratch root it is unpacked into.
class DebPackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::string(kManPage).empty()) return;
    folder_ = std::make_unique<TemporaryDirectory>();
    const CommandResult architecture = RunToEnd({"dpkg", "--print-architecture"});
    architecture_ = Words(architecture.out);
    std::string error;
    package_ = MakePackage(LINTREL_CPACK_CONFIG, "DEB", folder_->File(""),
                           "lintrel_" LINTREL_VERSION "_" + architecture_ + ".deb", &error);
    if (package_.empty()) {
      setup_error_ = error;
      return;
    }
    const CommandResult unpacked = RunToEnd({"dpkg", "-x", package_.string(), Root()});
    if (!unpacked.Succeeded()) setup_error_ = "dpkg -x failed: " + unpacked.err;
  }

  static void TearDownTestSuite() { folder_.reset(); }

  void SetUp() override {
    if (std::string(kManPage).empty()) GTEST_SKIP() << kNoManPage;
    ASSERT_EQ(setup_error_, "");
  }

  static std::string Root() { return folder_->File("root"); }

  static std::string Field(const std::string& name) {
    return Words(RunToEnd({"dpkg-deb", "-f", package_.string(), name}).out);
  }

  // The packages that Depends names, alternatives included, without their versions.
  static std::set<std::string> DependedOn() {
    std::string depends = Field("Depends");
    std::replace(depends.begin(), depends.end(), ',', '|');
    std::set<std::string> names;
    std::istringstream alternatives(depends);
    for (std::string alternative; std::getline(alternatives, alternative, '|');) {
      std::istringstream words(alternative);
      std::string name;
      if (words >> name) names.insert(name);
    }
    return names;
  }

  static inline std::unique_ptr<TemporaryDirectory> folder_;
  static inline std::filesystem::path package_;
  static inline std::string architecture_;
  static inline std::string setup_error_;
};

TEST_F(DebPackageTest, ControlFieldsNameItAndDependOnEveryLinkedLibrary) {
  EXPECT_EQ(Field("Package"), "lintrel");
  EXPECT_EQ(Field("Version"), LINTREL_VERSION);
  EXPECT_EQ(Field("Architecture"), architecture_);

  // Each shared library the packaged program needs comes from a package Depends names.
  const std::set<std::string> depended_on = DependedOn();
  const CommandResult headers = RunToEnd({"objdump", "-p", Root() + "/usr/bin/lintrel-cli"});
  ASSERT_TRUE(headers.Succeeded()) << headers.err;
  int libraries = 0;
  for (const std::string& line : Lines(headers.out)) {
    std::istringstream fields(line);
    std::string tag;
    std::string library;
    if (!(fields >> tag >> library) || tag != "NEEDED") continue;
    ++libraries;
    // "libx11-6:amd64: /usr/lib/x86_64-linux-gnu/libX11.so.6"
    const CommandResult owners = RunToEnd({"dpkg", "-S", "*/" + library});
    ASSERT_TRUE(owners.Succeeded()) << library << ": " << owners.err;
    bool named = false;
    for (const std::string& owner : Lines(owners.out)) {
      named = named || depended_on.count(owner.substr(0, owner.find_first_of(":,"))) > 0;
    }
    EXPECT_TRUE(named) << library << " comes from " << owners.out << "which Depends does not name: "
                       << Field("Depends");
  }
  EXPECT_GE(libraries, 3) << "libc, libstdc++ and the X libraries at least:\n" << headers.out;
}

TEST_F(DebPackageTest, HoldsTheProgramItsManPageItsUserUnitItsUdevRuleItsSettingsFilesAndItsDocumentsOnly) {
  const CommandResult listing = RunToEnd({"dpkg-deb", "-c", package_.string()});
  ASSERT_TRUE(listing.Succeeded()) << listing.err;
  // "-rwxr-xr-x root/root 298384 2026-12-08 08:53 ./usr/bin/lintrel-cli": the mode, owner and
  // path of each file.
  std::set<std::string> files;
  for (const std::string& line : Lines(listing.out)) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    if (fields >> mode >> owner >> size >> date >> time >> path && mode[0] == '-') {
      files.insert(mode + " " + owner + " " + path);
    }
  }
  EXPECT_EQ(files, (std::set<std::string>{"-rw-r--r-- root/root ./etc/lintrel/policy.conf",
                                          "-rw-r--r-- root/root ./etc/xdg/lintrel/lintrel-cli.conf",
                                          "-rwxr-xr-x root/root ./usr/bin/lintrel-cli",
                                          "-rw-r--r-- root/root ./usr/lib/systemd/user/lintrel.service",
                                          "-rw-r--r-- root/root ./usr/lib/udev/rules.d/70-lintrel-uinput.rules",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/README.md",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/changelog.gz",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/copyright",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/docs/admin-guide.md",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/docs/main-window.png",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/docs/options-dialog.png",
                                          "-rw-r--r-- root/root ./usr/share/doc/lintrel/docs/user-guide.md",
                                          "-rw-r--r-- root/root ./usr/share/man/man1/lintrel-cli.1.gz"}));
}

// The machine's settings and the policy file are configuration files, which an upgrade
// keeps as the administrator changed them; as shipped they hold comments only, which
// lintrel-cli reads without a word.
TEST_F(DebPackageTest, MarksItsFilesInEtcAsConfigurationFiles) {
  const CommandResult conffiles = RunToEnd({"dpkg-deb", "-I", package_.string(), "conffiles"});
  ASSERT_TRUE(conffiles.Succeeded()) << conffiles.err;
  EXPECT_EQ(conffiles.out, "/etc/xdg/lintrel/lintrel-cli.conf\n/etc/lintrel/policy.conf\n");
  TemporaryDirectory home;
  const CommandResult shown = RunToEnd({"XDG_CONFIG_HOME=" + home.File(""), "XDG_CONFIG_DIRS=" + Root() + "/etc/xdg",
                                        Root() + "/usr/bin/lintrel-cli", "--show-settings"});
  ASSERT_TRUE(shown.Succeeded()) << shown.err;
  EXPECT_EQ(shown.err, "");
  EXPECT_TRUE(Contains(shown.out, "machine             " + Root() + "/etc/xdg/lintrel/lintrel-cli.conf")) << shown.out;
}

TEST_F(DebPackageTest, ProgramAndManPageRunFromWhereItIsUnpacked) {
  const CommandResult version = RunToEnd({Root() + "/usr/bin/lintrel-cli", "--version"});
  ASSERT_TRUE(version.Succeeded()) << version.err;
  EXPECT_EQ(FirstLine(version.out), "lintrel-cli " LINTREL_VERSION);
  const std::string page = ShownManPage(Root() + "/usr/share/man/man1/lintrel-cli.1.gz");
  EXPECT_TRUE(Contains(page, "NAME lintrel-cli - type lines from serial devices as key presses")) << page;
  EXPECT_TRUE(Contains(page, "lintrel-cli " LINTREL_VERSION)) << page;
}

TEST_F(DebPackageTest, LintianFindsNothingWrong) {
  if (!RunToEnd({"sh", "-c", "command -v lintian"}).Succeeded()) {
    GTEST_SKIP() << "lintian is not installed (tools/setup.sh installs it)";
  }
  // Lintian reads the whole package: several safety limits on a busy machine.
  const CommandResult lint = RunToEnd({"lintian", "--fail-on", "error,warning", package_.string()}, 6);
  EXPECT_TRUE(lint.Succeeded()) << lint.out << lint.err;
}

// The user unit restarts lintrel-cli when it fails, except when what failed is the settings:
// no port saved is not mended by starting again every few seconds for ever.
TEST_F(DebPackageTest, UserUnitDoesNotRestartAProgramThatHasNoPortToCapture) {
  TemporaryDirectory home;
  const CommandResult run = RunToEnd({"-u", "XDG_CONFIG_HOME", "HOME=" + home.File(""),
                                      Root() + "/usr/bin/lintrel-cli", "--keys", "trace"});
  ASSERT_TRUE(run.status && run.status->exited) << run.err;
  ASSERT_NE(run.status->code, 0);
  EXPECT_TRUE(Contains(run.err, "no port given")) << run.err;

  std::ifstream unit(Root() + "/usr/lib/systemd/user/lintrel.service");
  std::set<std::string> not_restarted;
  for (std::string line; std::getline(unit, line);) {
    const std::string key = "RestartPreventExitStatus=";
    if (line.rfind(key, 0) != 0) continue;
    std::istringstream statuses(line.substr(key.size()));
    for (std::string status; statuses >> status;) not_restarted.insert(status);
  }
  EXPECT_TRUE(not_restarted.contains(std::to_string(run.status->code)))
      << "lintrel-cli ends with status " << run.status->code << " when no port is saved";
}

// The zip and the installer made as tools/package.sh --sign makes them: the programs in
// them signed while cpack packs them, the installer after; the zip holds the policy
// templates for the domain's central store.
TEST(WindowsPackagesTest, TheZipAndTheInstallerHoldSignedProgramsAndAreSigned) {
  TemporaryDirectory folder;
  const TestCertificate certificate(folder.File(""));
  ASSERT_EQ(certificate.error(), "");
  const ScopedEnvironment sign("LINTREL_SIGN_CERT", certificate.pfx());
  const ScopedEnvironment password("LINTREL_SIGN_PASSWORD", TestCertificate::kPassword);
  const std::string name = "lintrel-" LINTREL_VERSION "-win64";
  PackageMaker installer(LINTREL_WINDOWS_CPACK_CONFIG, "NSIS", folder.File("setup"), "lintrel-" LINTREL_VERSION "-setup.exe");
  std::string error;
  const std::filesystem::path zip =
      MakePackage(LINTREL_WINDOWS_CPACK_CONFIG, "ZIP", folder.File(""), name + ".zip", &error);
  ASSERT_FALSE(zip.empty()) << error;
  const CommandResult listing = RunToEnd({LINTREL_CMAKE_PATH, "-E", "tar", "tf", zip.string()});
  ASSERT_TRUE(listing.Succeeded()) << listing.err;
  std::set<std::string> files;
  for (const std::string& entry : Lines(listing.out)) {
    if (!entry.empty() && entry.back() != '/') files.insert(entry);
  }
  EXPECT_EQ(files, (std::set<std::string>{name + "/lintrel.exe", name + "/lintrel-cli.exe", name + "/README.md",
                                          name + "/docs/user-guide.md", name + "/docs/admin-guide.md",
                                          name + "/docs/main-window.png", name + "/docs/options-dialog.png",
                                          name + "/LICENSE.txt", name + "/policy/lintrel.admx",
                                          name + "/policy/en-US/lintrel.adml"}));
  const CommandResult unpacked = RunToEnd({"sh", "-c", "cd \"$0\" && \"$1\" -E tar xf \"$2\"", folder.File(""),
                                           LINTREL_CMAKE_PATH, zip.string()});
  ASSERT_TRUE(unpacked.Succeeded()) << unpacked.err;
  for (const char* program : {"/lintrel.exe", "/lintrel-cli.exe"}) {
    EXPECT_EQ(certificate.Verify(folder.File(name + program)), "");
  }

  const std::filesystem::path setup = installer.Finish(&error);
  ASSERT_FALSE(setup.empty()) << error;
  EXPECT_NE(certificate.Verify(setup.string()), "") << "not signed yet";
  const CommandResult signed_setup = RunToEnd({"bash", LINTREL_SIGN_SCRIPT, certificate.pfx(), setup.string()});
  ASSERT_TRUE(signed_setup.Succeeded()) << signed_setup.err;
  EXPECT_EQ(certificate.Verify(setup.string()), "");
}

}  // namespace
}  // namespace lintrel::testing
