// The seat's selection through a data-control protocol (protocols.h). A
// Wayland selection is, as on X11, a promise of its owner: the compositor
// only passes each reader's pipe on to the owning client, which writes the
// data into it. So reading means handing the owner a pipe and reading it to
// its end (reading.cc), and writing means owning a data source and filling
// every pipe we are handed for as long as the text should stay pasteable,
// which is longer than this program lives: a server forked once the
// selection is ours goes on with the same connection, and so with the same
// source (data_control.cc, linux/clipboard_server.h).
#ifndef QUILLMORE_CLIPBOARD_WAYLAND_DATA_CONTROL_H_
#define QUILLMORE_CLIPBOARD_WAYLAND_DATA_CONTROL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/linux/clipboard_server.h"
#include "clipboard/linux/text_offer.h"
#include "clipboard/wayland/connection.h"

namespace quillmore::wayland_clipboard {

using linux_clipboard::TextOffer;

class DataControl {
 public:
  // Binds the seat and protocol's manager (the global manager) on
  // connection; fails if the compositor no longer offers them.
  static std::unique_ptr<DataControl> Bind(
      std::unique_ptr<Connection> connection, const Global& manager,
      const Protocol& protocol);

  DataControl(const DataControl&) = delete;
  DataControl& operator=(const DataControl&) = delete;

  Connection& connection() { return *connection_; }

  // The selection's text; the selection it was read from is what Own
  // compares against.
  std::string Read();
  // Sets the selection to offer, only if it is still the one read, or
  // offers the same text (read) as it did; fails otherwise. False if
  // another program took the clipboard straight after: the text was ours,
  // and there is nothing left to serve. Begins hold just before it sets
  // the selection.
  bool Own(TextOffer offer, std::string_view read,
           linux_clipboard::SignalHold& hold);
  void ServeUntilTaken();

  // In this process, once the forked server has the connection: forgets
  // every object without a request, since destroying one would act on the
  // server's.
  void LeaveToServer() noexcept;

 private:
  // An offer of another client, with the MIME types it announced.
  struct OfferState {
    Proxy<Offer> offer;
    std::vector<std::string> types;
  };

  DataControl(std::unique_ptr<Connection> connection, const Protocol& protocol)
      : connection_(std::move(connection)), protocol_(protocol) {}

  // Device events.
  static void OnDataOffer(void* data, Device*, Offer* offer);
  static void OnSelection(void* data, Device*, Offer* offer);
  static void OnFinished(void* data, Device*);
  static void OnPrimarySelection(void* data, Device*, Offer* offer);
  static const DeviceListener kDeviceListener;
  // Offer events.
  static void OnOfferType(void* data, Offer*, const char* type);
  static const OfferListener kOfferListener;
  // Source events.
  static void OnSend(void* data, Source*, const char* type, std::int32_t fd);
  static void OnCancelled(void* data, Source*);
  static const SourceListener kSourceListener;

  // Keeps only the offer that is the selection (or none).
  void DropOffersBut(Offer* keep);
  // The text type to ask the selection for; null if it offers none.
  const char* TextType() const;
  // Whether the selection, changed since the read, offers the same text.
  bool OffersSame(std::string_view read);
  // Asks the selection's owner for its text of type through a new pipe;
  // our end of it.
  linux_clipboard::FileDescriptor Receive(const char* type);
  // The text the owner writes into pipe, up to its end.
  std::string ReadToEnd(const linux_clipboard::FileDescriptor& pipe);

  // Destroyed in reverse: every object before the connection.
  std::unique_ptr<Connection> connection_;
  const Protocol& protocol_;
  Proxy<wl_seat> seat_;
  Proxy<Manager> manager_;
  Proxy<Device> device_;
  bool device_finished_ = false;
  std::vector<std::unique_ptr<OfferState>> offers_;
  OfferState* selection_ = nullptr;
  // Selection events so far: a change while we read or write shows in it.
  unsigned selections_ = 0;
  // selections_ when the text was read: the selection the write replaces.
  unsigned read_at_ = 0;

  Proxy<Source> source_;
  bool source_cancelled_ = false;
  TextOffer offer_;
};

// The text's MIME types, in our order of preference when reading. TEXT and
// STRING are X11's names (XWayland and toolkits use them); STRING is
// Latin-1 by definition, and TEXT is taken as the same, as on X11, where an
// owner answers TEXT with STRING.
inline constexpr const char* kTextTypes[] = {
    "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING"};
inline bool IsLatin1Type(std::string_view type) {
  return type == "TEXT" || type == "STRING";
}

}  // namespace quillmore::wayland_clipboard

#endif  // QUILLMORE_CLIPBOARD_WAYLAND_DATA_CONTROL_H_
