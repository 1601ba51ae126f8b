#include "smpp_server/client_session.h"

#include <algorithm>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "protocols/libraries/smpp_library.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/status_codes.h"
#include "smpp_server/delivery.h"

namespace vek::smpp_server {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;
using std::chrono::milliseconds;
using std::chrono::seconds;
namespace status = smpp::status;

constexpr const char* kTag = "ThreadProcessSMPPConnection";
// How long one wait for the bind lasts before the stop flag is looked at.
constexpr milliseconds kBindSlice{500};

milliseconds until(platform::SteadyTime t, platform::SteadyTime now) {
  return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(t - now));
}

const char* refusalText(LoginCheck check) {
  switch (check) {
    case LoginCheck::kUnknownAccount:
      return "unknown account";
    case LoginCheck::kDisabled:
      return "account disabled";
    case LoginCheck::kNoSmppAccess:
      return "SMPP access is not enabled for account";
    case LoginCheck::kBadPassword:
      return "invalid password";
    case LoginCheck::kAddressRestricted:
      return "IP address not allowed";
    case LoginCheck::kAccepted:
      break;
  }
  return "";
}

}  // namespace

ServerState& serverState() {
  static ServerState state;
  return state;
}

ClientSession::ClientSession(ServerState& state, tls::Stream stream, std::string peer_address,
                             uint16_t peer_port, UnboundTicket ticket, SessionHooks hooks)
    : state_(state),
      peer_(std::move(peer_address)),
      peer_port_(peer_port),
      ticket_(std::move(ticket)),
      hooks_(std::move(hooks)),
      conn_(std::move(stream), peer_) {
  conn_.setUserContext(this);
  state_.sessions.fetch_add(1);
}

ClientSession::~ClientSession() {
  deliverer_.reset();
  conn_.setUserContext(nullptr);
  state_.sessions.fetch_sub(1);
}

void ClientSession::run() {
  DebugLogf(kTag, "Processing SMPP connection from %s...", peer_.c_str());
  settings_ = loadServerSettings();
  if (hooks_.command_timeout.count() > 0) conn_.setCommandTimeout(hooks_.command_timeout);
  if (login()) serve();
  finish();
}

bool ClientSession::login() {
  const auto& lib = smpp::smppLibrary();
  const milliseconds limit = hooks_.bind_timeout.count() > 0
                                 ? hooks_.bind_timeout
                                 : milliseconds(seconds(settings_.bind_timeout_seconds));
  const auto deadline = platform::monotonicNow() + limit;
  std::string system_id, password;
  uint32_t bind_id = 0;
  int bind_type = 0;
  uint8_t version = 0;
  for (;;) {
    if (platform::shutdownRequested()) return false;
    if (ticket_.evicted()) {
      DebugLogf(kTag, "Connection from %s closed before its bind: its place went to a newcomer",
                peer_.c_str());
      return false;
    }
    const auto now = platform::monotonicNow();
    if (now >= deadline) {
      DebugLogf(kTag, "No bind from %s within %lld seconds, connection closed", peer_.c_str(),
                static_cast<long long>(std::chrono::duration_cast<seconds>(limit).count()));
      return false;
    }
    uint32_t st = lib.SMPPServerWaitForLogin(conn_, std::min(kBindSlice, until(deadline, now)),
                                             &system_id, &password, &bind_id, &bind_type, &version);
    if (st == status::kOk) break;
    if (ticket_.evicted()) continue;           // logged above
    if (st != status::kTimeout) return false;  // the client left
  }

  std::optional<hostlib::Account> account;
  if (auto* store = hostlib::accountStore()) account = store->find(system_id);
  LoginCheck check = checkLogin(account, password, peer_);
  uint32_t refusal = refusalStatus(check);
  Throughput throughput;
  if (check == LoginCheck::kAccepted) {
    throughput = parseThroughput(account->throughput);
    const int max = throughput.max_connections > 0 ? throughput.max_connections
                                                   : settings_.max_connections_per_user;
    slot_ = state_.accounts.admit(account->name, max);
    if (!slot_) {
      DebugLogf(kTag,
                "SMPP Connection rejected, connection count for user %s exceeds maximum of %u",
                account->name.c_str(), static_cast<unsigned>(max));
      refusal = status::kBindFail;
    }
  } else {
    DebugLogf(kTag, "SMPP Connection rejected for user '%s' from %s: %s", system_id.c_str(),
              peer_.c_str(), refusalText(check));
  }
  if (check != LoginCheck::kAccepted || !slot_) {
    const seconds delay = state_.backoff.next();
    const bool go_on =
        hooks_.backoff_wait ? hooks_.backoff_wait(delay) : platform::sleepFor(milliseconds(delay));
    if (go_on) lib.SMPPServerRejectLogin(conn_, bind_id, bind_type, version, refusal);
    return false;
  }

  state_.backoff.reset();
  // Bound from here: the place among the waiting connections goes back
  // before the client hears of it, so its next connection finds it free.
  ticket_.release();
  if (lib.SMPPServerAcceptLogin(conn_, bind_id, bind_type, version) != status::kOk) return false;
  // The link's socket options: no-delay when configured, and keep-alive so
  // that a peer that vanished without a word is noticed.
  if (settings_.no_delay) platform::setNoDelay(conn_.stream().fd());
  platform::setKeepAlive(conn_.stream().fd());

  submitter_.account = std::move(*account);
  submitter_.peer_address = peer_;
  submitter_.throughput = throughput;
  submitter_.record = slot_->record();
  password_ = std::move(password);
  bind_type_ = bind_type;
  version_ = version;
  if (auto st = flag_.create(activeFlagDirectory(), peer_, peer_port_, bind_type,
                             submitter_.account.name);
      !st.ok())
    DebugLogf(kTag, "Active connection flag not written: %s", st.message().c_str());
  DebugLogf(kTag, "SMPP user %s bound (%c) from %s", submitter_.account.name.c_str(),
            bindLetter(bind_type), peer_.c_str());
  return true;
}

void ClientSession::serve() {
  const auto& lib = smpp::smppLibrary();
  if (bind_type_ != smpp::kBindTypeTransmitter) {
    DeliveryOptions o;
    o.queue_directory = foundation::userQueueDirectory(submitter_.account.name);
    o.account = submitter_.account.name;
    o.window = windowFor(settings_, submitter_.account.name);
    o.version = version_;
    deliverer_ = std::make_unique<Deliverer>(conn_, std::move(o));
  }
  auto now = platform::monotonicNow();
  last_activity_ = now;
  auto validation_interval = milliseconds(seconds(settings_.validate_interval_seconds));
  auto next_validation = now + validation_interval;
  auto next_pass = now;

  while (!platform::shutdownRequested()) {
    now = platform::monotonicNow();
    if (deliverer_ && now >= next_pass) {
      const bool more = deliverer_->pass(std::min(next_validation, now + hooks_.slice));
      now = platform::monotonicNow();
      next_pass = more ? now : now + hooks_.delivery_pause;
    }
    if (!conn_.bound()) break;

    auto wake = std::min(next_validation, now + hooks_.slice);
    if (deliverer_) wake = std::min(wake, next_pass);
    const auto idle_limit = seconds(settings_.enquire_link_seconds);
    if (idle_limit.count() > 0) wake = std::min(wake, last_activity_ + idle_limit);
    bool error = false;
    if (lib.SMPPServerYield(conn_, version_, until(wake, now), &error) > 0) onActivity();
    if (error) break;
    if (deliverer_) deliverer_->collect();

    now = platform::monotonicNow();
    if (idle_limit.count() > 0 && now - last_activity_ >= idle_limit) {
      DebugLogf(kTag, "Closing inactive connection from %s (user %s)", peer_.c_str(),
                submitter_.account.name.c_str());
      break;
    }
    if (now >= next_validation) {
      if (!revalidate()) break;
      validation_interval = milliseconds(seconds(settings_.validate_interval_seconds));
      next_validation = now + validation_interval;
    }
  }
}

bool ClientSession::revalidate() {
  std::optional<hostlib::Account> account;
  if (auto* store = hostlib::accountStore()) account = store->find(submitter_.account.name);
  if (const char* why = revalidationFailure(account, password_, peer_)) {
    DebugLogf(kTag, "%s (user %s from %s)", why, submitter_.account.name.c_str(), peer_.c_str());
    return false;
  }
  submitter_.account = std::move(*account);
  submitter_.throughput = parseThroughput(submitter_.account.throughput);
  // The idle limit and the interval follow the settings as they are now.
  ServerSettings now = loadServerSettings();
  settings_.enquire_link_seconds = now.enquire_link_seconds;
  settings_.validate_interval_seconds = now.validate_interval_seconds;
  return true;
}

void ClientSession::finish() {
  if (deliverer_) {
    deliverer_->finish(platform::shutdownRequested() ? milliseconds(0) : hooks_.finish_bound);
    deliverer_.reset();
  }
  DebugLogf(kTag, "Releasing SMPP connection from %s", peer_.c_str());
  // The ticket goes back before the socket closes: an eviction may shut
  // the socket down only while its number is still this connection's.
  ticket_.release();
  conn_.stream().close();
  flag_.remove();
  slot_.reset();
}

uint32_t ClientSession::onSubmit(const protocols::InboundMessage& m, std::string* message_id) {
  onActivity();
  SubmitEnvironment env;
  env.wait_until = hooks_.pacing_wait;
  env.queue_root = hooks_.queue_root;
  return submitClientMessage(submitter_, m, message_id, env);
}

void installServerCallbacks() {
  const auto& lib = smpp::smppLibrary();
  lib.SMPPServerSetReceiveMessageCallback([](smpp::ServerConnection& c,
                                             const protocols::InboundMessage& m,
                                             std::string* id) -> uint32_t {
    auto* s = static_cast<ClientSession*>(c.userContext());
    return s ? s->onSubmit(m, id) : status::kSysErr;
  });
  if (lib.SMPPServerSetActivityCallback) {
    lib.SMPPServerSetActivityCallback([](smpp::ServerConnection& c, uint32_t) {
      if (auto* s = static_cast<ClientSession*>(c.userContext())) s->onActivity();
    });
  }
}

}  // namespace vek::smpp_server
