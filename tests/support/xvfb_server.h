#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/process.h"

namespace lintrel::testing {

// No X server uses the display number: neither its socket nor its lock file exists.
bool DisplayIsFree(int display_number);

// A private Xvfb server on the first free display number from `first_display` up (neither
// its socket nor its lock file exists), stopped (by its id) with this object. It also ends
// when the thread that started it ends, should the process die without cleaning up.
class XvfbServer {
 public:
  // `screen`: width x height x depth of its one screen, "640x480x24".
  XvfbServer(int first_display, std::string screen);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // True once the server takes connections; *error says why not.
  bool Start(std::string* error);
  void Stop();

  const std::string& display_name() const { return display_name_; }
  pid_t pid() const { return process_ ? process_->pid() : -1; }

 private:
  bool WaitUntilListening(int display_number);

  int first_display_;
  std::string screen_;
  std::unique_ptr<Process> process_;
  std::string display_name_;
};

}  // namespace lintrel::testing
