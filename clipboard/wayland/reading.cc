// Reading the selection: hand its owner a pipe and read the text to its
// end. What the data-control object is: data_control.h.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "clipboard/linux/fail.h"
#include "clipboard/linux/read_limits.h"
#include "clipboard/linux/text_codecs.h"
#include "clipboard/wayland/data_control.h"

namespace quillmore::wayland_clipboard {

using linux_clipboard::Fail;
using linux_clipboard::ReadLimits;

std::string DataControl::Read() {
  // The device tells the current selection as soon as it exists; one round
  // trip makes sure that has arrived.
  connection_->Sync();
  read_at_ = selections_;
  if (selection_ == nullptr) return {};  // nobody owns the clipboard
  const char* type = TextType();
  if (type == nullptr) return {};  // no text on the clipboard (an image only)
  std::string text = ReadToEnd(Receive(type));
  if (IsLatin1Type(type)) return linux_clipboard::Latin1ToUtf8(text);
  return text;
}

std::string DataControl::ReadToEnd(const FileDescriptor& pipe) {
  // A text that another program's copy interrupts would be cut short, or
  // be a mix of two: the read fails instead, and the clipboard is left to
  // the program that took it.
  const auto changed = [&] { return selections_ != read_at_; };
  const auto fail_changed = [] {
    Fail(status::kFail,
         "another program took the clipboard while it was being read");
  };
  std::string text;
  ReadLimits limits;
  for (;;) {
    const Wake wake =
        connection_->Wait(limits.Deadline(text.size()), pipe.get(), changed);
    if (wake == Wake::kBroken) connection_->FailBroken();
    if (wake == Wake::kStop) fail_changed();
    if (wake == Wake::kTimeout) limits.FailTimedOut(text.size());
    if (wake != Wake::kFd) continue;
    // Everything the pipe holds now, then back to waiting.
    for (;;) {
      char buffer[1 << 16];
      const ssize_t n = read(pipe.get(), buffer, sizeof buffer);
      if (n > 0) {
        ReadLimits::MakeRoom(text, static_cast<std::size_t>(n));
        text.append(buffer, static_cast<std::size_t>(n));
        limits.Waiting();
        continue;
      }
      if (n == 0) {
        // The owner closed the pipe: that is all, unless it did so because
        // another program took the clipboard, which a round trip shows.
        connection_->Sync();
        if (changed()) fail_changed();
        return text;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      Fail(status::kFail,
           std::string("cannot read the text from the owning program: ") +
               std::strerror(errno));
    }
  }
}

FileDescriptor DataControl::Receive(const char* type) {
  // Only our end is non-blocking: the owner's is its to write as it likes,
  // and many owners write with a plain loop that would stop at EAGAIN.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0 ||
      fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK) != 0) {
    Fail(status::kFail,
         std::string("cannot make a pipe to read the clipboard through: ") +
             std::strerror(errno));
  }
  FileDescriptor read_end(fds[0]);
  FileDescriptor write_end(fds[1]);
  // Fewer, larger reads for a large text; the default is fine if refused.
  fcntl(read_end.get(), F_SETPIPE_SZ, 1 << 20);
  Request(selection_->offer.get(), kReceive, nullptr, type, write_end.get());
  // The request carries a duplicate of the write end; ours goes here, or
  // the end of the text would never be seen.
  return read_end;
}

const char* DataControl::TextType() const {
  for (const char* wanted : kTextTypes) {
    const auto& offered = selection_->types;
    if (std::find(offered.begin(), offered.end(), wanted) != offered.end()) {
      return wanted;
    }
  }
  return nullptr;
}

bool DataControl::OffersSame(std::string_view read) {
  // A newer copy without text (an image) is never the text read.
  if (selection_ != nullptr && TextType() == nullptr) return false;
  try {
    return Read() == read;
  } catch (const Failure&) {
    return false;  // not shown to be the same: the newer copy stays
  }
}

}  // namespace quillmore::wayland_clipboard
