#pragma once

#include "ui/win32/dialog.h"
#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {

// The About box: the program's name, version and notice; OK or Escape closes it.
class AboutDialog : public Dialog {
 public:
  explicit AboutDialog(HINSTANCE instance) : Dialog(instance, IDD_ABOUTBOX) {}
};

}  // namespace lintrel::ui::win32
