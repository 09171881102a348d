#include "platform/text_code_page.h"

namespace lintrel::platform {

TextEncoding DefaultTextEncoding() { return TextEncoding::kUtf8; }

const CodePage* SystemCodePage() { return nullptr; }

}  // namespace lintrel::platform
