// A file descriptor, owned: closed when its owner goes.
#ifndef QUILLMORE_CLIPBOARD_LINUX_FILE_DESCRIPTOR_H_
#define QUILLMORE_CLIPBOARD_LINUX_FILE_DESCRIPTOR_H_

#include <unistd.h>

#include "base/handle.h"

namespace quillmore::linux_clipboard {

struct FileDescriptorTraits {
  using Value = int;
  static int Empty() noexcept { return -1; }
  static void Release(int fd) noexcept { close(fd); }
};
using FileDescriptor = Handle<FileDescriptorTraits>;

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_FILE_DESCRIPTOR_H_
