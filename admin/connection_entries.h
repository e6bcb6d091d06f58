// The model of the main window's connection list: one fixed-width row per
// socket, keyed by the socket handle's decimal text. Every change to the
// collection is mirrored in the list control the caller passes in; each row
// carries the entry number as its item value.
#pragma once

#include "admin/list_control.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <list>
#include <unordered_map>
#include <vector>

namespace velto {

// Thrown by ItemByKey / ItemByIndex for an entry that is not there; callers
// test pExists (or Count) first.
class UnknownEntryError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

class CConnectionEntry {
 public:
  static constexpr std::size_t kProtocolWidth = 7;
  static constexpr std::size_t kAddressWidth = 16;
  static constexpr std::size_t kPortWidth = 7;
  static constexpr std::size_t kStateWidth = 10;
  static constexpr std::size_t kRowWidth =
      kProtocolWidth + 2 * (kAddressWidth + kPortWidth) + kStateWidth;
  // The state of the FTP listener's row.
  static constexpr std::string_view kListening = "Listening";

  // Whether a row's text (DisplayText) is the listener's.
  static bool IsListeningRow(std::string_view rowText);

  // Every fixed field is stored padded with blanks on the right, or cut on
  // the right, to its width; reading returns the full width. An IPv6
  // address longer than its column is kept whole, with one blank after it.
  const std::string& protocol() const { return protocol_; }
  const std::string& LocalAddress() const { return localAddress_; }
  const std::string& LocalPort() const { return localPort_; }
  const std::string& ForeignAddress() const { return foreignAddress_; }
  const std::string& ForeignPort() const { return foreignPort_; }
  const std::string& State() const { return state_; }
  const std::string& SocketHandle() const { return socketHandle_; }

  void SetProtocol(std::string_view value);
  void SetLocalAddress(std::string_view value);
  void SetLocalPort(std::string_view value);
  void SetForeignAddress(std::string_view value);
  void SetForeignPort(std::string_view value);
  void SetState(std::string_view value);
  void SetSocketHandle(std::string_view value) { socketHandle_ = std::string(value); }

  // The six fixed fields joined without separators (kRowWidth characters).
  std::string DisplayText() const;

  // `value` padded or cut to `width`.
  static std::string FitField(std::string_view value, std::size_t width);

 private:
  std::string protocol_ = FitField({}, kProtocolWidth);
  std::string localAddress_ = FitField({}, kAddressWidth);
  std::string localPort_ = FitField({}, kPortWidth);
  std::string foreignAddress_ = FitField({}, kAddressWidth);
  std::string foreignPort_ = FitField({}, kPortWidth);
  std::string state_ = FitField({}, kStateWidth);
  std::string socketHandle_;
};

class CConnectionEntries {
 public:
  // Adds the entry and its row, or refreshes both when a value changed.
  // Optional texts left out are empty.
  void pAddConnectionEntry(IListControl& vctl, std::int32_t vnEntryNumber, std::string_view vsLocalPort,
                           std::string_view vsProtocol = {}, std::string_view vsLocalAddress = {},
                           std::string_view vsForeignAddress = {}, std::string_view vsForeignPort = {},
                           std::string_view vsState = {});

  // Removes the entry (if any) and the row carrying the key's number (if any).
  void pDeleteByKey(std::string_view vsKey, IListControl& vctl);

  bool pExists(std::string_view vsItemKey) const;
  std::int32_t Count() const;
  // Throws UnknownEntryError when absent.
  CConnectionEntry& ItemByKey(std::string_view vsKey);
  const CConnectionEntry& ItemByKey(std::string_view vsKey) const;
  // 1-based; throws UnknownEntryError outside 1..Count.
  CConnectionEntry& ItemByIndex(std::int32_t vnKey);
  const CConnectionEntry& ItemByIndex(std::int32_t vnKey) const;

  // Empties the collection; the list control is not touched.
  void Clear();

 private:
  struct Item {
    std::string key;
    std::unique_ptr<CConnectionEntry> entry;
  };

  const CConnectionEntry* Lookup(std::string_view key) const;

  // A busy server holds thousands of entries and removes one per closed
  // connection: keyed lookups and removal take constant time.
  std::list<Item> items_;
  std::unordered_map<std::string, std::list<Item>::iterator> byKey_;
};

}  // namespace velto
