#pragma once

// Xlib's connection type, declared here so that users of this header do not inherit Xlib's
// macros.
struct _XDisplay;

namespace lintrel::platform {

// Makes the X errors of `display` no fault (a window that went away between two requests is
// simply no longer there) and the loss of its server no end of the process (as Xlib's own
// handler would make it): *lost is set, on the thread inside Xlib with the connection, and
// every later call on it returns at once. The errors of every other connection go to the
// handlers that were there before (a keyboard's, a test's), whichever was installed first.
void QuietenErrorsOf(_XDisplay* display, bool* lost);
// Before the connection is closed.
void ForgetQuietConnection(_XDisplay* display);

}  // namespace lintrel::platform
