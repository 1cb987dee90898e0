#ifndef QUILLMORE_RUN_VERSION_H_
#define QUILLMORE_RUN_VERSION_H_

namespace quillmore {
// The version users see; the Windows version record carries the same text.
inline constexpr char kVersionText[] = "1.00";
}  // namespace quillmore

#endif  // QUILLMORE_RUN_VERSION_H_
