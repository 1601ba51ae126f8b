#include "http/server/connection_machine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vek::http {
namespace {

using namespace std::chrono_literals;
using Step = ConnectionMachine::Step;
using Phase = ConnectionMachine::Phase;
using platform::SteadyTime;

const SteadyTime kT0 = SteadyTime{} + 1000h;

// Plays the event loop: the client's bytes wait in `socket` and are read
// `piece` bytes at a time whenever the machine wants them.
struct Loop {
  explicit Loop(MachineLimits l = {}, size_t budget_limit = 256u << 20)
      : limits(l), budget(budget_limit), m(limits, &budget, kT0) {}

  Step pump(SteadyTime now = kT0) {
    for (;;) {
      Step s = m.step(now);
      if (s == Step::kStarted) {
        ++started;
        continue;
      }
      if (s == Step::kSendContinue) {
        ++continues;
        continue;
      }
      if (s != Step::kWantBytes) return s;
      size_t n = std::min({socket.size(), m.readLimit(), piece});
      if (n == 0) return s;
      m.received(std::string_view(socket).substr(0, n), now);
      socket.erase(0, n);
      ++reads;
    }
  }
  // The next request; a head that asks for a verdict gets `verdict`.
  Request next(SteadyTime now = kT0) {
    Step s = pump(now);
    if (s == Step::kCheckHead) {
      ++checks;
      m.headVerdict(verdict, now);
      s = pump(now);
    }
    EXPECT_EQ(s, Step::kRequestReady);
    Request r = m.takeRequest();
    m.requestDone(now);
    return r;
  }

  MachineLimits limits;
  MemoryBudget budget;
  ConnectionMachine m;
  std::string socket;
  size_t piece = 1 << 20;
  int started = 0;
  int continues = 0;
  int reads = 0;
  int checks = 0;
  Verdict verdict = Verdict::kFullBody;
};

TEST(ConnectionMachineTest, PipelinedRequestsInAnyPiecesComeOutOneByOne) {
  const std::string bytes =
      "\r\nGET /a HTTP/1.1\r\n\r\nPOST /b HTTP/1.1\r\nContent-Length: 3\r\n\r\nxyz\r\nGET /c "
      "HTTP/1.0\r\n\r\nPOST /d HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n"
      "\r\n";
  for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, bytes.size()}) {
    Loop l;
    l.piece = piece;
    l.socket = bytes;
    EXPECT_EQ(l.next().target(), "/a") << piece;
    Request b = l.next();
    EXPECT_EQ(b.method(), "POST");
    EXPECT_EQ(b.body(), "xyz");
    EXPECT_EQ(l.next().requestLine(), "GET /c HTTP/1.0");  // the CR LF before it dropped
    EXPECT_EQ(l.next().body(), "hello");
    EXPECT_EQ(l.pump(), Step::kWantBytes);
    EXPECT_EQ(l.m.phase(), Phase::kIdle);
    EXPECT_EQ(l.started, 4);
    EXPECT_EQ(l.m.buffered(), 0u);
  }
}

TEST(ConnectionMachineTest, ContinueIsAskedForOnceAfterTheHead) {
  Loop l;
  l.socket = "POST /x HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n";
  EXPECT_EQ(l.pump(), Step::kWantBytes);
  EXPECT_EQ(l.continues, 1);
  l.socket = "hello";
  EXPECT_EQ(l.next().body(), "hello");
  EXPECT_EQ(l.continues, 1);
}

TEST(ConnectionMachineTest, RefusalsEndTheConnection) {
  struct Case {
    std::string bytes;
    const char* status;
  } cases[] = {
      {"POST / HTTP/1.1\r\nContent-Length: 4294967297\r\n\r\n", "413 Request Entity Too Large"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nq\r\n", "400 Bad Request"},
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
       "400 Bad Request"},
      {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'a'), "431 Request Header Fields Too Large"},
  };
  for (const Case& c : cases) {
    Loop l;
    l.piece = 1000;
    l.socket = c.bytes;
    ASSERT_EQ(l.pump(), Step::kRefused) << c.bytes.substr(0, 50);
    EXPECT_STREQ(l.m.refusal().status, c.status);
    EXPECT_EQ(l.m.readLimit(), 0u);
    EXPECT_EQ(l.m.buffered(), 0u);
    EXPECT_EQ(l.budget.used(), 0u);
  }
}

TEST(ConnectionMachineTest, ReadsNeverGoFarBeyondTheLimits) {
  // A chunked body far larger than the request limit, from a sender with
  // credentials: reading stops one byte past the limit.
  MachineLimits limits;
  limits.message.max_message = 100000;
  Loop l(limits);
  l.piece = 65536;
  l.socket =
      "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n100000\r\n" + std::string(4 << 20, 'z');
  Step s = l.pump();
  if (s == Step::kCheckHead) {
    l.m.headVerdict(Verdict::kFullBody, kT0);
    s = l.pump();
  }
  EXPECT_EQ(s, Step::kRefused);
  EXPECT_STREQ(l.m.refusal().status, "413 Request Entity Too Large");
  EXPECT_LE(l.reads, 4);

  // A declared body is read exactly: the next request stays in the socket
  // until this one is done.
  Loop k;
  k.socket = "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /next HTTP/1.1\r\n\r\n";
  k.piece = 39;  // the head and one body byte
  ASSERT_EQ(k.pump(), Step::kRequestReady);
  EXPECT_EQ(k.socket, "GET /next HTTP/1.1\r\n\r\n");
}

TEST(ConnectionMachineTest, EachPhaseHasItsDeadline) {
  MachineLimits limits;
  limits.min_body_rate = 1000;
  Loop l(limits);
  EXPECT_EQ(l.m.deadline(), kT0 + 180s);
  // Line ends between requests keep an idle connection alive.
  l.socket = "\r\n";
  l.pump(kT0 + 100s);
  EXPECT_EQ(l.m.deadline(), kT0 + 280s);

  // The head: 20 s from its first byte, however it trickles.
  l.socket = "G";
  l.pump(kT0 + 200s);
  EXPECT_EQ(l.m.phase(), Phase::kHead);
  l.socket = "ET / HTTP/1.1\r\nContent-Length: 4000\r\n";
  l.pump(kT0 + 215s);
  EXPECT_EQ(l.m.deadline(), kT0 + 220s);

  // The body: 20 s of grace plus one second per 1000 bytes.
  l.socket = "\r\n";
  l.pump(kT0 + 219s);
  EXPECT_EQ(l.m.phase(), Phase::kBody);
  EXPECT_EQ(l.m.deadline(), kT0 + 239s);
  l.socket = std::string(2500, 'b');
  l.pump(kT0 + 238s);
  EXPECT_EQ(l.m.deadline(), kT0 + 241500ms);
  // No minimum rate: a stalled body still ends after the idle time.
  MachineLimits no_rate;
  no_rate.min_body_rate = 0;
  Loop n(no_rate);
  n.socket = "POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nab";
  n.pump(kT0 + 5s);
  EXPECT_EQ(n.m.deadline(), kT0 + 185s);
}

TEST(ConnectionMachineTest, LargeBodiesWaitForTheVerdictOnTheirHead) {
  MachineLimits limits;
  limits.unauthenticated_body = 100;
  const std::string big = "POST / HTTP/1.1\r\nContent-Length: 5000\r\n\r\n";
  struct Case {
    Verdict verdict;
    std::string head;
    Step after;
    const char* status;
  } cases[] = {
      {Verdict::kFullBody, big, Step::kRequestReady, ""},
      {Verdict::kSmallBody, big, Step::kRefused, "413 Request Entity Too Large"},
      {Verdict::kAnswered, big, Step::kWaiting, ""},
      {Verdict::kSmallBody, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", Step::kRefused,
       "413 Request Entity Too Large"},
      {Verdict::kFullBody, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
       Step::kRequestReady, ""},
  };
  for (const Case& c : cases) {
    Loop l(limits);
    l.piece = 100;
    l.socket = c.head;
    ASSERT_EQ(l.pump(), Step::kCheckHead) << c.head;
    EXPECT_EQ(l.m.head(), c.head);
    const bool chunked = c.head.find("chunked") != std::string::npos;
    l.socket =
        chunked ? "1388\r\n" + std::string(5000, 'b') + "\r\n0\r\n\r\n" : std::string(5000, 'b');
    EXPECT_EQ(l.pump(), Step::kWaiting);  // nothing read before the verdict
    EXPECT_EQ(l.reads, 1);
    l.m.headVerdict(c.verdict, kT0);
    EXPECT_EQ(l.pump(), c.after);
    if (c.after == Step::kRefused) {
      EXPECT_STREQ(l.m.refusal().status, c.status);
    }
    if (c.after == Step::kRequestReady) {
      EXPECT_EQ(l.m.takeRequest().body().size(), 5000u);
    }
  }
  // Small bodies, and large ones that arrived whole with their head, need
  // no verdict: the request's handler checks the sender.
  for (const std::string& bytes :
       {std::string("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n") + std::string(100, 'x'),
        big + std::string(5000, 'y')}) {
    Loop l(limits);
    l.socket = bytes;
    EXPECT_EQ(l.pump(), Step::kRequestReady);
  }
}

TEST(ConnectionMachineTest, TheMemoryBudgetIsSharedAndGivenBack) {
  MachineLimits limits;
  limits.unauthenticated_body = 0;
  const size_t budget = 1u << 20;
  MemoryBudget shared(budget);
  ConnectionMachine a(limits, &shared, kT0), b(limits, &shared, kT0);
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 700000\r\n\r\n";
  for (ConnectionMachine* m : {&a, &b}) {
    m->received(head, kT0);
    ASSERT_EQ(m->step(kT0), Step::kStarted);
    ASSERT_EQ(m->step(kT0), Step::kCheckHead);
    m->headVerdict(Verdict::kFullBody, kT0);
  }
  // The first reserved its whole body at once; the second does not fit.
  EXPECT_EQ(a.step(kT0), Step::kWantBytes);
  EXPECT_GE(shared.used(), 700000u - MemoryBudget::kFreeAllowance);
  ASSERT_EQ(b.step(kT0), Step::kRefused);
  EXPECT_TRUE(b.refusal().retry_later);
  EXPECT_STREQ(b.refusal().status, "503 Service Unavailable");

  a.received(std::string(700000, 'x'), kT0);
  ASSERT_EQ(a.step(kT0), Step::kRequestReady);
  size_t capacity = 0;
  {
    Request r = a.takeRequest();
    capacity = r.message.capacity();
    EXPECT_LT(capacity, 800000u);  // one exact allocation, no doubling
    EXPECT_GT(shared.used(), 0u);  // held while the request is answered
  }
  a.requestDone(kT0);
  EXPECT_EQ(shared.used(), 0u);

  // A buffer that grows is charged step by step and refused when the
  // budget runs out; whatever a machine held returns when it goes.
  {
    MemoryBudget tiny(40000);
    MachineLimits l2;
    ConnectionMachine c(l2, &tiny, kT0);
    c.received("GET / HTTP/1.1\r\nX: ", kT0);
    Step s = Step::kWantBytes;
    for (int i = 0; i < 20 && s == Step::kWantBytes; ++i) {
      c.received(std::string(4000, 'h'), kT0);
      while ((s = c.step(kT0)) == Step::kStarted) {
      }
    }
    EXPECT_EQ(s, Step::kRefused);
    EXPECT_EQ(tiny.used(), 0u);
    {
      ConnectionMachine d(l2, &tiny, kT0);
      d.received("GET / HTTP/1.1\r\nX: " + std::string(30000, 'h'), kT0);
      EXPECT_GT(tiny.used(), 0u);
    }
    EXPECT_EQ(tiny.used(), 0u);
  }
}

}  // namespace
}  // namespace vek::http
