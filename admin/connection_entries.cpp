#include "admin/connection_entries.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace velto {

std::string CConnectionEntry::FitField(std::string_view value, std::size_t width) {
  std::string out(value.substr(0, width));
  out.resize(width, ' ');
  return out;
}

namespace {

// An IPv6 address is never cut (a cut one names another host): one longer
// than its column widens the row instead.
std::string AddressField(std::string_view value) {
  if (value.find(':') != std::string_view::npos && value.size() >= CConnectionEntry::kAddressWidth) {
    return std::string(value) + ' ';
  }
  return CConnectionEntry::FitField(value, CConnectionEntry::kAddressWidth);
}

}  // namespace

void CConnectionEntry::SetProtocol(std::string_view value) { protocol_ = FitField(value, kProtocolWidth); }
void CConnectionEntry::SetLocalAddress(std::string_view value) { localAddress_ = AddressField(value); }
void CConnectionEntry::SetLocalPort(std::string_view value) { localPort_ = FitField(value, kPortWidth); }
void CConnectionEntry::SetForeignAddress(std::string_view value) {
  foreignAddress_ = AddressField(value);
}
void CConnectionEntry::SetForeignPort(std::string_view value) { foreignPort_ = FitField(value, kPortWidth); }
void CConnectionEntry::SetState(std::string_view value) { state_ = FitField(value, kStateWidth); }

std::string CConnectionEntry::DisplayText() const {
  std::string row;
  row.reserve(kRowWidth);
  row += protocol_;
  row += localAddress_;
  row += localPort_;
  row += foreignAddress_;
  row += foreignPort_;
  row += state_;
  return row;
}

bool CConnectionEntry::IsListeningRow(std::string_view rowText) {
  return rowText.size() == kRowWidth && rowText.substr(kRowWidth - kStateWidth) == FitField(kListening, kStateWidth);
}

namespace {

struct RowValues {
  std::string_view protocol, localAddress, localPort, foreignAddress, foreignPort, state;
};

// Compared in stored form, so a value longer than its column (which is kept
// cut) does not count as a change on every call.
bool SameValues(const CConnectionEntry& entry, const RowValues& v) {
  using E = CConnectionEntry;
  return entry.protocol() == E::FitField(v.protocol, E::kProtocolWidth) &&
         entry.LocalAddress() == AddressField(v.localAddress) &&
         entry.LocalPort() == E::FitField(v.localPort, E::kPortWidth) &&
         entry.ForeignAddress() == AddressField(v.foreignAddress) &&
         entry.ForeignPort() == E::FitField(v.foreignPort, E::kPortWidth) &&
         entry.State() == E::FitField(v.state, E::kStateWidth);
}

void Store(CConnectionEntry& entry, const RowValues& v) {
  entry.SetProtocol(v.protocol);
  entry.SetLocalAddress(v.localAddress);
  entry.SetLocalPort(v.localPort);
  entry.SetForeignAddress(v.foreignAddress);
  entry.SetForeignPort(v.foreignPort);
  entry.SetState(v.state);
}

}  // namespace

const CConnectionEntry* CConnectionEntries::Lookup(std::string_view key) const {
  const auto it = byKey_.find(std::string(key));
  return it == byKey_.end() ? nullptr : it->second->entry.get();
}

void CConnectionEntries::pAddConnectionEntry(IListControl& vctl, std::int32_t vnEntryNumber,
                                             std::string_view vsLocalPort, std::string_view vsProtocol,
                                             std::string_view vsLocalAddress, std::string_view vsForeignAddress,
                                             std::string_view vsForeignPort, std::string_view vsState) {
  const RowValues values{vsProtocol, vsLocalAddress, vsLocalPort, vsForeignAddress, vsForeignPort, vsState};
  const std::string key = std::to_string(vnEntryNumber);
  const CConnectionEntry* known = Lookup(key);
  if (known == nullptr) {
    auto entry = std::make_unique<CConnectionEntry>();
    entry->SetSocketHandle(key);
    Store(*entry, values);
    vctl.AddRow(entry->DisplayText(), vnEntryNumber);
    items_.push_back(Item{key, std::move(entry)});
    byKey_.emplace(key, std::prev(items_.end()));
    return;
  }
  CConnectionEntry& entry = const_cast<CConnectionEntry&>(*known);
  if (SameValues(entry, values)) return;
  Store(entry, values);
  if (!vctl.ReplaceRowTextByData(vnEntryNumber, entry.DisplayText())) vctl.AddRow(entry.DisplayText(), vnEntryNumber);
}

void CConnectionEntries::pDeleteByKey(std::string_view vsKey, IListControl& vctl) {
  const auto found = byKey_.find(std::string(vsKey));
  if (found != byKey_.end()) {
    items_.erase(found->second);
    byKey_.erase(found);
  }
  std::int32_t number = 0;
  const auto [end, error] = std::from_chars(vsKey.data(), vsKey.data() + vsKey.size(), number);
  if (error != std::errc() || end != vsKey.data() + vsKey.size()) return;
  vctl.RemoveRowByData(number);
}

bool CConnectionEntries::pExists(std::string_view vsItemKey) const { return Lookup(vsItemKey) != nullptr; }

std::int32_t CConnectionEntries::Count() const { return static_cast<std::int32_t>(items_.size()); }

const CConnectionEntry& CConnectionEntries::ItemByKey(std::string_view vsKey) const {
  const CConnectionEntry* entry = Lookup(vsKey);
  if (entry == nullptr) throw UnknownEntryError("no connection entry " + std::string(vsKey));
  return *entry;
}

CConnectionEntry& CConnectionEntries::ItemByKey(std::string_view vsKey) {
  return const_cast<CConnectionEntry&>(std::as_const(*this).ItemByKey(vsKey));
}

const CConnectionEntry& CConnectionEntries::ItemByIndex(std::int32_t vnKey) const {
  if (vnKey < 1 || vnKey > Count()) {
    throw UnknownEntryError("no connection entry at position " + std::to_string(vnKey));
  }
  return *std::next(items_.begin(), vnKey - 1)->entry;
}

CConnectionEntry& CConnectionEntries::ItemByIndex(std::int32_t vnKey) {
  return const_cast<CConnectionEntry&>(std::as_const(*this).ItemByIndex(vnKey));
}

void CConnectionEntries::Clear() {
  items_.clear();
  byKey_.clear();
}

}  // namespace velto
