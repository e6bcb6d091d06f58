#include "server/session_link.h"

#include "ftp/ftp_session.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <stdexcept>

namespace velto {

namespace {

constexpr std::int32_t kActiveConnectMs = 30000;
// Completion of a long send is announced in parts of at most this many
// bytes: the component counts sent bytes in 32 bits.
constexpr std::int64_t kCompletionPart = std::int64_t{1} << 30;
// An upload that has brought this much is a bulk one: from then on the
// data connection is read only when a whole receive block waits (or the
// client has closed), not each time the client's next piece arrives.
constexpr std::int64_t kBulkUpload = 256 * 1024;

// The component's snapshot of a socket, or nothing when it is gone.
std::optional<PortwellSocketInfo> Info(const CPortwell& pw, const std::string& key) {
  if (!pw.ItemExists(key)) return std::nullopt;
  return pw.ItemByKey(key);
}

std::int32_t Clamp32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 1, INT32_MAX - 1));
}

// The control connection speaks Telnet: a byte 255 in a reply (a name in a
// 257, a STAT line) goes out doubled, or the client reads a command.
std::string TelnetText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + (text.find('\xff') != std::string_view::npos ? 16 : 0));
  for (const char c : text) {
    out.push_back(c);
    if (c == '\xff') out.push_back(c);
  }
  return out;
}

}  // namespace

ReplyBatch::ReplyBatch(HostContext* context) : context_(context) {
  if (context_ != nullptr) ++context_->batchDepth;
}

ReplyBatch::~ReplyBatch() {
  if (context_ == nullptr || --context_->batchDepth > 0) return;
  // A flush may raise events that open a batch of their own: take the list.
  std::vector<PortwellSessionHost*> hosts;
  hosts.swap(context_->batched);
  for (PortwellSessionHost* host : hosts) host->FlushReplies();
}

PortwellSessionHost::PortwellSessionHost(HostContext& context, std::int32_t controlHandle)
    : context_(context), control_(controlHandle) {
  deliveryTarget_ = context_.loop.CreateTarget([this](const platform::Message&) { RunDeliveries(); });
}

PortwellSessionHost::~PortwellSessionHost() {
  if (!heldReplies_.empty()) {
    auto& batched = context_.batched;
    batched.erase(std::remove(batched.begin(), batched.end(), this), batched.end());
    FlushReplies();
  }
  session_ = nullptr;  // nothing reaches the session while it goes
  ClosePassive();
  CloseData();
  for (const auto& timer : timers_) context_.loop.KillTimer(timer.first);
  deliveries_.clear();
  context_.loop.DestroyTarget(deliveryTarget_);  // a delivery still posted is dropped
}

// ---- the control connection ------------------------------------------------------

void PortwellSessionHost::Send(std::string_view text) {
  if (context_.batchDepth > 0) {
    if (heldReplies_.empty()) context_.batched.push_back(this);
    heldReplies_.append(TelnetText(text));
    return;
  }
  SendNow(TelnetText(text));
}

void PortwellSessionHost::FlushReplies() {
  if (heldReplies_.empty()) return;
  std::string text;
  text.swap(heldReplies_);
  SendNow(std::move(text));
}

void PortwellSessionHost::SendNow(std::string text) {
  try {
    context_.portwell.SendData(control_, PortwellData(std::move(text)));
  } catch (const PortwellError& e) {
    context_.logError(e.Number, e.Description, "CFTPSession");
  } catch (const std::exception& e) {
    context_.logError(0, e.what(), "CFTPSession");
  }
}

bool PortwellSessionHost::Backlogged() {
  const std::string key = Key(control_);
  // A connection that is gone has nothing waiting for it.
  if (!context_.portwell.ItemExists(key)) return false;
  // Held replies stay held (one write for the event) while even together
  // with the queue they are no backlog.
  if (static_cast<std::int64_t>(heldReplies_.size()) + context_.portwell.QueSendBytes(key) <= kControlBacklog) {
    return false;
  }
  FlushReplies();
  if (!context_.portwell.ItemExists(key)) return false;
  const std::int64_t waiting = context_.portwell.QueSendBytes(key);
  if (waiting <= kControlBacklog) return false;
  if (!drainArmed_) {
    context_.portwell.NotifyOnEmptySendQue(key, kDrainId, Clamp32(waiting));
    drainArmed_ = true;
  }
  return true;
}

void PortwellSessionHost::HoldInput(bool hold) {
  const std::string key = Key(control_);
  if (context_.portwell.ItemExists(key)) context_.portwell.SetReceivePaused(key, hold);
}

void PortwellSessionHost::ControlDrained() {
  drainArmed_ = false;
  const std::string key = Key(control_);
  if (context_.portwell.ItemExists(key)) context_.portwell.NotifyOnEmptySendQue(key, "", 0);
  if (session_ != nullptr) session_->OnControlDrained();
}

void PortwellSessionHost::CloseControl() {
  // What the session said goes out before the connection closes.
  FlushReplies();
  context_.closeControl(control_);
}

// ---- the passive listener -----------------------------------------------------------

int PortwellSessionHost::OpenPassive() {
  ClosePassive();
  CPortwell& pw = context_.portwell;
  // The listener takes the address the control connection reached, not
  // every address: that is the one the client is told (or can reach), and
  // the family its EPSV asks for.
  std::string address = session_ != nullptr ? session_->Connection().localAddress : std::string();
  if (address.empty()) {
    if (const auto control = Info(pw, Key(control_))) address = control->LocalIP;
  }
  if (address.empty()) address = "0.0.0.0";
  std::int32_t listener = -1;
  const int port = context_.passivePorts.Take([&](int candidate) {
    listener = pw.AddListenerOn(candidate, address, 5);
    return listener != -1;
  });
  const std::int32_t error = pw.LastSockErr();  // a refused port is expected here; do not leave it behind
  if (port == 0 || listener == -1) {
    if (context_.passivePorts.HasRange()) {
      context_.logError(error, "no free passive port in " + context_.passivePorts.RangeText() + " on " + address,
                        "OpenPassive");
    }
    return 0;
  }
  // The data connection it accepts inherits the cork: a download leaves in
  // full segments, and the closing shutdown takes the last one with the FIN
  // in it, so a small file is one segment and its end never waits for the
  // client's delayed ack.
  pw.SetSockOptionValue(Key(listener), PWL_TCP_CORK, 1);
  listener_ = listener;
  context_.routes.SetListener(listener, this);
  return port;
}

void PortwellSessionHost::ClosePassive() {
  if (listener_ == 0) return;
  context_.routes.SetListener(listener_, nullptr);
  const std::string key = Key(listener_);
  listener_ = 0;
  try {
    if (context_.portwell.ItemExists(key)) context_.portwell.CloseSock(key, true);
  } catch (const PortwellError& e) {
    context_.logError(e.Number, e.Description, "CloseSock");
  }
}

bool PortwellSessionHost::OfferPassive(std::int32_t handle, const std::string& peer) {
  // One connection per PASV, and only from the session's own client.
  if (listener_ == 0 || data_ != 0 || session_ == nullptr || peer != session_->Connection().clientAddress) {
    return false;
  }
  ClosePassive();
  PrepareData(handle);
  if (DataReady(handle)) return true;
  // Refused: the component closes it.
  ForgetData();
  Deliver([](CFTPSession& session) { session.OnDataConnectFailed(); });
  return false;
}

// ---- the data connection ----------------------------------------------------------

bool PortwellSessionHost::ConnectData(const std::string& address, int port) {
  CloseData();
  CPortwell& pw = context_.portwell;
  const std::int32_t handle = pw.ConnectAsync(address, port, PWL_TCPIP, 0, kActiveConnectMs);
  if (handle <= 0) {
    pw.LastSockErr();
    return false;
  }
  connect_ = handle;
  context_.routes.SetConnect(handle, this);
  return true;
}

void PortwellSessionHost::DataConnected(std::int32_t handle) {
  if (handle != connect_) return;
  context_.routes.SetConnect(handle, nullptr);
  connect_ = 0;
  PrepareData(handle);
  // An outgoing connection has no listener to inherit the cork from.
  if (context_.portwell.ItemExists(Key(handle))) context_.portwell.SetSockOptionValue(Key(handle), PWL_TCP_CORK, 1);
  if (DataReady(handle)) return;
  CloseData();
  Deliver([](CFTPSession& session) { session.OnDataConnectFailed(); });
}

bool PortwellSessionHost::DataReady(std::int32_t handle) {
  if (!protectData_) {
    Deliver([](CFTPSession& session) { session.OnDataConnected(); });
    return true;
  }
  CPortwell& pw = context_.portwell;
  const std::string key = Key(handle);
  // The handshake's small records must not wait for the cork to fill a
  // segment; it goes back on once the handshake is done.
  if (pw.ItemExists(key)) pw.SetSockOptionValue(key, PWL_TCP_CORK, 0);
  dataHandshake_ = true;
  // Where reuse is required, the data connection must resume this control
  // connection's session: proof that it comes from the same client, not
  // from someone who raced it to the passive port.
  const std::int32_t err =
      pw.StartTls(key, context_.tlsSessionReuse ? control_ : 0, PortwellData(), kTlsHandshakeMs);
  if (err == 0 || data_ != handle) return true;  // a failure raised at once was handled already
  dataHandshake_ = false;
  context_.logError(err, "TLS could not start on the data connection from " + ClientAddress(), "PROT P");
  return false;
}

void PortwellSessionHost::DataTlsEstablished(std::int32_t handle) {
  if (handle != data_ || !dataHandshake_) return;
  dataHandshake_ = false;
  const std::string key = Key(handle);
  if (context_.portwell.ItemExists(key)) context_.portwell.SetSockOptionValue(key, PWL_TCP_CORK, 1);
  Deliver([](CFTPSession& session) { session.OnDataConnected(); });
}

void PortwellSessionHost::DataTlsFailed(std::int32_t handle, const std::string& reason) {
  if (handle != data_) return;
  dataHandshake_ = false;
  context_.logError(0, "TLS on the data connection from " + ClientAddress() + " failed: " + reason, "PROT P");
  CloseData();
  Deliver([](CFTPSession& session) { session.OnDataConnectFailed(); });
}

std::string PortwellSessionHost::ClientAddress() const {
  return session_ != nullptr ? session_->Connection().clientAddress : std::string();
}

void PortwellSessionHost::PrepareData(std::int32_t handle) {
  data_ = handle;
  dataError_ = false;
  dataEnded_ = false;
  dataHandshake_ = false;
  armedPart_ = 0;
  unannounced_ = 0;
  received_ = 0;
  lowWaterSet_ = false;
  context_.routes.SetData(handle, this);
  const std::string key = Key(handle);
  CPortwell& pw = context_.portwell;
  if (!pw.ItemExists(key)) return;
  // The end of a data connection needs no grace time: an upload is
  // complete when the client closed and its bytes are written.
  pw.SetLingerTime(key, 1);
  // Uploads are written as received: no widening and narrowing back.
  pw.SetNoUnicodeConversionOnRecv(key, true);
}

bool PortwellSessionHost::SendFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length) {
  if (data_ == 0 || dataHandshake_ || !file) return false;
  // The component may finish a small send inside this call: the session
  // hears of it once the call has returned.
  ++sendCalls_;
  const bool sent = QueueFile(std::move(file), offset, length);
  --sendCalls_;
  return sent;
}

bool PortwellSessionHost::QueueFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length) {
  // The component sends from the session's own descriptor (and closes it),
  // so it sends exactly the file the session opened and checked, whatever
  // has happened to its path since.
  unannounced_ = length;
  ArmNextPart();
  const std::int32_t err = context_.portwell.SendFileDescriptor(data_, file.release(), offset, length);
  if (err != 0) {
    unannounced_ = 0;
    armedPart_ = 0;
    if (context_.portwell.ItemExists(Key(data_))) context_.portwell.NotifyOnEmptySendQue(Key(data_), "", 0);
    context_.logError(err, "Sending a file failed", "RETR");
    return false;
  }
  return true;
}

bool PortwellSessionHost::SendData(std::string bytes) {
  if (data_ == 0 || dataHandshake_) return false;
  // As for a file: a send done inside the call is heard after it.
  ++sendCalls_;
  unannounced_ = static_cast<std::int64_t>(bytes.size());
  ArmNextPart();
  bool sent = true;
  try {
    context_.portwell.SendData(data_, PortwellData(std::move(bytes)));
  } catch (const PortwellError& e) {
    context_.logError(e.Number, e.Description, "SendData");
    sent = false;
  }
  --sendCalls_;
  return sent;
}

// Arms the completion notice for the next part of the running send: the
// last part carries the done id.
void PortwellSessionHost::ArmNextPart() {
  const std::string key = Key(data_);
  if (unannounced_ <= kCompletionPart) {
    armedPart_ = unannounced_;
    unannounced_ = 0;
    context_.portwell.NotifyOnEmptySendQue(key, kDoneId, static_cast<std::int32_t>(armedPart_));
    return;
  }
  // A part ends on a request boundary, or the count would carry over.
  const auto info = Info(context_.portwell, key);
  const std::int64_t chunk = info ? std::max<std::int32_t>(1, info->ChunkSize) : 4096;
  armedPart_ = (kCompletionPart / chunk) * chunk;
  unannounced_ -= armedPart_;
  context_.portwell.NotifyOnEmptySendQue(key, kPartId, static_cast<std::int32_t>(armedPart_));
}

void PortwellSessionHost::EmptySendQue(std::int32_t handle, const std::string& id) {
  if (handle == control_ && id == kDrainId) {
    ControlDrained();
    return;
  }
  if (handle != data_ || data_ == 0) return;
  sentTotal_ += armedPart_;
  armedPart_ = 0;
  if (id == kPartId) {
    ArmNextPart();
    return;
  }
  if (id != kDoneId) return;
  if (context_.portwell.ItemExists(Key(handle))) context_.portwell.NotifyOnEmptySendQue(Key(handle), "", 0);
  Deliver([](CFTPSession& session) { session.OnDataSent(); });
}

std::int64_t PortwellSessionHost::DataBytesTaken() const {
  const auto info = data_ != 0 ? Info(context_.portwell, Key(data_)) : std::nullopt;
  std::int64_t count = sentTotal_ + (info ? info->BytesSent : 0);
  if (!info) return count;
  // A slow reader takes from the system's send buffer long before the
  // system asks the component for more: what it has not acknowledged yet
  // is not taken, so the count moves as the client reads.
  count -= context_.portwell.SentBytesWaiting(Key(data_));
  // A trickling upload below the low-water mark moves without being read:
  // what waits in the system counts as traffic too.
  if (lowWaterSet_) count += context_.portwell.ReceivedBytesWaiting(Key(data_));
  return count;
}

void PortwellSessionHost::DataReceived(std::int32_t handle, std::string_view bytes) {
  if (handle != data_ || dataHandshake_ || session_ == nullptr) return;
  received_ += static_cast<std::int64_t>(bytes.size());
  if (!lowWaterSet_ && received_ >= kBulkUpload) {
    // The system still reports the client's close and a nearly full
    // window, so the last bytes and a slow client are read all the same.
    lowWaterSet_ = true;
    const std::string key = Key(handle);
    if (context_.portwell.ItemExists(key)) {
      context_.portwell.SetSockOptionValue(key, PWL_OPTIONAL_SO_RCVLOWAT, CPortwell::kRawReceiveBlock);
    }
  }
  if (deliveries_.empty()) {
    session_->OnDataReceived(bytes);
    return;
  }
  // Behind what the session has not heard yet (the data connection itself).
  Deliver([copy = std::string(bytes)](CFTPSession& session) { session.OnDataReceived(copy); });
}

void PortwellSessionHost::DataPeerClosing(std::int32_t handle, bool nothingQueued) {
  // A client that closed the data connection of an upload has sent
  // everything once no block waits: the upload completes now, not when the
  // close has run.
  if (handle != data_ || dataHandshake_ || !nothingQueued || session_ == nullptr || !session_->WaitingForSTORFile) {
    return;
  }
  EndData(dataError_);
}

void PortwellSessionHost::DataError(std::int32_t handle, std::int32_t) {
  if (handle == data_) dataError_ = true;
}

void PortwellSessionHost::DataTerminated(std::int32_t handle) {
  if (handle == connect_) {
    context_.routes.SetConnect(handle, nullptr);
    connect_ = 0;
    Deliver([](CFTPSession& session) { session.OnDataConnectFailed(); });
    return;
  }
  if (handle == data_) EndData(dataError_);
}

void PortwellSessionHost::EndData(bool error) {
  if (dataEnded_) return;
  dataEnded_ = true;
  // What the client took of this connection stays counted once it is gone:
  // a broken-off download's log line says how far it got.
  sentTotal_ = DataBytesTaken();
  const bool handshaking = dataHandshake_;
  ForgetData();
  // A connection that ends during its handshake never was one.
  if (handshaking) {
    context_.logError(0, "The data connection from " + ClientAddress() + " ended during its TLS handshake", "PROT P");
    Deliver([](CFTPSession& session) { session.OnDataConnectFailed(); });
    return;
  }
  Deliver([error](CFTPSession& session) { session.OnDataClosed(error); });
}

void PortwellSessionHost::ForgetData() {
  if (data_ != 0) context_.routes.SetData(data_, nullptr);
  data_ = 0;
  dataHandshake_ = false;
  armedPart_ = 0;
  unannounced_ = 0;
}

void PortwellSessionHost::CloseData() {
  CPortwell& pw = context_.portwell;
  if (connect_ != 0) {
    const std::string key = Key(connect_);
    context_.routes.SetConnect(connect_, nullptr);
    connect_ = 0;
    try {
      if (pw.ItemExists(key)) pw.CloseSock(key, true);
    } catch (const PortwellError& e) {
      context_.logError(e.Number, e.Description, "CloseSock");
    }
  }
  if (data_ == 0) return;
  const std::string key = Key(data_);
  ForgetData();
  if (!pw.ItemExists(key)) return;
  pw.NotifyOnEmptySendQue(key, "", 0);
  try {
    pw.CloseSock(key, false);
  } catch (const PortwellError& e) {
    context_.logError(e.Number, e.Description, "CloseSock");
  }
}

// ---- timers ---------------------------------------------------------------------------

ISessionHost::TimerId PortwellSessionHost::StartTimer(std::uint32_t milliseconds, std::function<void()> callback) {
  const TimerId id = context_.loop.SetTimer(std::max<std::uint32_t>(1, milliseconds), [this](TimerId fired) {
    // One shot: the loop's timers repeat.
    context_.loop.KillTimer(fired);
    const auto it = timers_.find(fired);
    if (it == timers_.end()) return;
    std::function<void()> run = std::move(it->second);
    timers_.erase(it);
    run();
  });
  if (id != 0) timers_.emplace(id, std::move(callback));
  return id;
}

void PortwellSessionHost::StopTimer(TimerId id) {
  if (timers_.erase(id) > 0) context_.loop.KillTimer(id);
}

// ---- deliveries to the session ------------------------------------------------------

void PortwellSessionHost::Deliver(std::function<void(CFTPSession&)> delivery) {
  if (sendCalls_ == 0 && deliveries_.empty()) {
    if (session_ != nullptr) delivery(*session_);
    return;
  }
  deliveries_.push_back(std::move(delivery));
  if (!deliveryPosted_) deliveryPosted_ = context_.loop.Post(deliveryTarget_, 1, 0, 0);
}

void PortwellSessionHost::RunDeliveries() {
  deliveryPosted_ = false;
  ReplyBatch batch(&context_);
  // Those queued now; any that come meanwhile get a turn of their own, so
  // a listing sent in pieces the component takes at once lets the loop run
  // between pieces.
  for (std::size_t due = deliveries_.size(); due > 0 && !deliveries_.empty(); --due) {
    std::function<void(CFTPSession&)> delivery = std::move(deliveries_.front());
    deliveries_.pop_front();
    if (session_ != nullptr) delivery(*session_);
  }
  if (!deliveries_.empty() && !deliveryPosted_) deliveryPosted_ = context_.loop.Post(deliveryTarget_, 1, 0, 0);
}

// ---- TLS ---------------------------------------------------------------------------------

bool PortwellSessionHost::TlsAvailable() const { return context_.portwell.TlsAvailable(); }

void PortwellSessionHost::StartControlTls(std::string_view reply) {
  // The replies before AUTH's go first, in clear, as they were given.
  FlushReplies();
  const std::int32_t err =
      context_.portwell.StartTls(Key(control_), 0, PortwellData(TelnetText(reply)), kTlsHandshakeMs);
  if (err == 0) return;
  // The client waits for a handshake that cannot come.
  context_.logError(err, "TLS could not start on the control connection from " + ClientAddress(), "AUTH");
  CloseControl();
}

void PortwellSessionHost::SetDataProtection(bool protect) { protectData_ = protect; }

}  // namespace velto
