#pragma once

#include <memory>
#include <string>

namespace lintrel::platform {

// The system clipboard as a paste needs it: what it holds is kept aside, a line's text put
// in its place for the window in front to paste, and what it held put back.
//
// Thread contract: not thread-safe; the typist's thread alone uses it once typing has begun.
class Clipboard {
 public:
  virtual ~Clipboard() = default;

  // Keeps a copy of what the clipboard holds now, for Restore(). False with *error when it
  // could not be read; the clipboard is then left as it is.
  virtual bool Save(std::string* error) = 0;
  // Puts `text` (UTF-8) on the clipboard in place of what it held.
  virtual bool PutText(const std::string& text, std::string* error) = 0;
  // After the paste keys went out: returns once the window in front has taken the text, or
  // false with *error when it did not take it within the backend's bound.
  virtual bool AwaitTaken(std::string* error) = 0;
  // Puts back what Save() kept (an empty clipboard stays empty), unless another program has
  // put something of its own on the clipboard since PutText(): that is newer, and stays.
  virtual bool Restore(std::string* error) = 0;
};

// The clipboard of the desktop this process runs in; null with *error when there is none
// (no X display).
std::unique_ptr<Clipboard> OpenSystemClipboard(std::string* error);

}  // namespace lintrel::platform
