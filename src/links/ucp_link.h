// UcpLink: the UCP/EMI kind of LinkProtocol over the in-tree UCP library
// (protocols/libraries/link_libraries.h), bound entry by entry; see
// text_link.h for what it shares with CIMD2 links. At most 99 submissions
// are outstanding (the engine numbers them 00-99).
//
// Owned by one sender thread.
#pragma once

#include <memory>
#include <string>

#include "links/text_link.h"
#include "protocols/ucp/client.h"

namespace vek::links {

class UcpLink final : public TextLink {
 public:
  // `library` defaults to the in-tree table (tests pass a partial one).
  explicit UcpLink(std::string link_name, const protocols::UcpLibrary* library = nullptr);
  ~UcpLink() override;

  foundation::LinkKind kind() const override { return foundation::LinkKind::kUcp; }

 private:
  bool libraryComplete() const override { return lib_.complete(); }
  void resetConnection(bool create) override;
  bool hasConnection() const override { return conn_ != nullptr; }
  uint32_t engineConnect(tls::Stream stream, const std::string& host, uint16_t port) override;
  uint32_t engineBind(const std::string& user, const std::string& password) override;
  void engineUnbind() override;
  void engineSetTimeout(std::chrono::milliseconds timeout) override;
  int engineStream() override { return conn_->stream().fd(); }
  int engineYield(std::chrono::milliseconds wait, bool* connection_error) override;
  bool engineUp() override;
  uint32_t engineEnquire() override;
  bool engineHasAsync() const override { return lib_.UCPSubmitMessageAsync != nullptr; }
  uint32_t engineSubmit(const SubmitRequest& m, std::string* message_id) override;
  uint32_t engineSubmitAsync(const SubmitRequest& m,
                             std::shared_ptr<protocols::AsyncSubmit> ctx) override;
  size_t engineOutstanding() const override { return conn_->outstanding(); }
  std::string engineErrorText(uint32_t code) const override;
  void engineDebug(bool on) override;
  ReceivePortListener::ServeFn serveEntry() const override;

  const protocols::UcpLibrary& lib_;
  std::unique_ptr<ucp::Connection> conn_;
};

}  // namespace vek::links
