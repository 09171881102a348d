#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cli/cli_process.h"

namespace lintrel::testing {

// Makes one package with cpack, the way tools/package.sh does, from the CPackConfig.cmake
// of a build tree into `directory`, while the test does something else.
class PackageMaker {
 public:
  // `file_name` is the file cpack should make.
  PackageMaker(const std::string& cpack_config, const std::string& generator, const std::string& directory,
               const std::string& file_name)
      : package_(std::filesystem::path(directory) / file_name), generator_(generator) {
    if (!std::filesystem::exists(cpack_config)) {
      error_ = cpack_config + " is missing: configure that build first";
      return;
    }
    cpack_ = std::make_unique<ChildProcess>(
        "/usr/bin/env", std::vector<std::string>{LINTREL_CPACK_PATH, "--config", cpack_config, "-G", generator,
                                                 "-B", directory});
  }

  // The package once cpack has made it; an empty path and *error when it did not.
  std::filesystem::path Finish(std::string* error) {
    if (cpack_) {
      // dpkg-shlibdeps and makensis take some seconds on a busy machine.
      constexpr int kPatience = 6;
      std::optional<ExitStatus> status;
      for (int round = 0; round < kPatience && !status; ++round) status = cpack_->WaitForExit();
      if (!status || !status->exited || status->code != 0 || !std::filesystem::exists(package_)) {
        error_ = "cpack -G " + generator_ + " did not make " + package_.string() + ":\n" + cpack_->Describe();
      }
      cpack_.reset();
    }
    *error = error_;
    return error_.empty() ? package_ : std::filesystem::path();
  }

 private:
  std::filesystem::path package_;
  std::string generator_;
  std::unique_ptr<ChildProcess> cpack_;
  std::string error_;
};

inline std::filesystem::path MakePackage(const std::string& cpack_config, const std::string& generator,
                                         const std::string& directory, const std::string& file_name,
                                         std::string* error) {
  return PackageMaker(cpack_config, generator, directory, file_name).Finish(error);
}

// A throwaway code-signing certificate, made with openssl, in a .pfx with a password, for
// tools/package.sh --sign.
class TestCertificate {
 public:
  static constexpr char kPassword[] = "throwaway";

  // Made in `folder`.
  explicit TestCertificate(const std::filesystem::path& folder)
      : pfx_(folder / "signing.pfx"), pem_(folder / "signing.pem") {
    const std::string key = folder / "signing.key";
    const CommandResult made = RunToEnd({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                                         "-subj", "/CN=Lintrel test signing", "-addext",
                                         "extendedKeyUsage=codeSigning", "-keyout", key, "-out", pem_});
    const CommandResult packed = RunToEnd({"openssl", "pkcs12", "-export", "-inkey", key, "-in", pem_, "-out", pfx_,
                                           "-passout", std::string("pass:") + kPassword});
    error_ = made.Succeeded() && packed.Succeeded() ? "" : "openssl failed: " + made.err + packed.err;
  }

  const std::string& error() const { return error_; }
  const std::string& pfx() const { return pfx_; }

  // Whether `file` carries a signature that verifies against this certificate.
  std::string Verify(const std::string& file) const {
    const CommandResult verified = RunToEnd({"osslsigncode", "verify", "-CAfile", pem_, "-in", file});
    return verified.Succeeded() ? "" : file + ": " + verified.out + verified.err;
  }

 private:
  std::string pfx_, pem_, error_;
};

}  // namespace lintrel::testing
