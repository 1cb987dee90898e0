// The text this program offers while it owns the clipboard, in the forms
// both Linux backends offer it: UTF-8 always, Latin-1 where it fits.
#ifndef QUILLMORE_CLIPBOARD_LINUX_TEXT_OFFER_H_
#define QUILLMORE_CLIPBOARD_LINUX_TEXT_OFFER_H_

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "clipboard/linux/text_codecs.h"

namespace quillmore::linux_clipboard {

class TextOffer {
 public:
  TextOffer() = default;
  // The text as SetText was given it, with Linux line breaks, in the
  // text's own buffer: a large text is not copied again.
  static TextOffer Of(std::string text) {
    ToLfLineBreaks(&text);
    TextOffer offer;
    offer.utf8_ = std::make_shared<const std::string>(std::move(text));
    offer.latin1_ok_ = RepresentableInLatin1(*offer.utf8_);
    return offer;
  }

  // Whether the text is also offered as Latin-1.
  bool latin1_ok() const { return latin1_ok_; }
  const std::shared_ptr<const std::string>& Utf8() const { return utf8_; }
  // Made on the first request for it: most readers never ask for Latin-1.
  const std::shared_ptr<const std::string>& Latin1() {
    if (!latin1_) {
      latin1_ = std::make_shared<const std::string>(Utf8ToLatin1(*utf8_));
    }
    return latin1_;
  }

 private:
  std::shared_ptr<const std::string> utf8_;
  bool latin1_ok_ = false;
  std::shared_ptr<const std::string> latin1_;
};

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_TEXT_OFFER_H_
