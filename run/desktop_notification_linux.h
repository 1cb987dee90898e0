// Failure reports as desktop notifications, for runs whose standard error
// nobody reads: started from a hotkey or a launcher, stderr goes to a log or
// nowhere, and a failure would otherwise look like a hotkey that did nothing.
#ifndef QUILLMORE_RUN_DESKTOP_NOTIFICATION_LINUX_H_
#define QUILLMORE_RUN_DESKTOP_NOTIFICATION_LINUX_H_

#include <string>

namespace quillmore {

// Sends `report` to the notification server on the session D-Bus
// (org.freedesktop.Notifications), summary "quillmore", body the report.
// Returns whether the server accepted it. Without a session bus, a server or
// libsystemd it does nothing else and returns false. It returns within about
// 2 s whatever the bus or the server do, connecting to the bus included.
bool ShowDesktopNotification(const std::string& report) noexcept;

}  // namespace quillmore

#endif  // QUILLMORE_RUN_DESKTOP_NOTIFICATION_LINUX_H_
