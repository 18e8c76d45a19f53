#include "platform/message_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "test_support.h"

namespace mirelo {
namespace {

constexpr uint32_t kNotify = WM_USER + 1;

struct Recorder {
  std::vector<Message> messages;
  MessageWindow window{[this](const Message& m) { messages.push_back(m); }};
};

int countEvents(const std::vector<Message>& messages, int event) {
  int n = 0;
  for (const auto& m : messages)
    if (m.msg == kNotify && selectEvent(m.lParam) == event) ++n;
  return n;
}

TEST(MessageLoop, PostedMessagesArriveInOrderOnlyWhenProcessed) {
  Recorder r;
  for (int i = 0; i < 5; ++i) r.window.post(WM_USER + 10, static_cast<uintptr_t>(i), -i);
  EXPECT_TRUE(r.messages.empty());
  pollfd entry{MessageLoop::current().fd(), POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 0), 1) << "the loop descriptor shows pending messages";
  EXPECT_EQ(MessageLoop::current().processMessages(), 5);
  ASSERT_EQ(r.messages.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(r.messages[i].wParam, static_cast<uintptr_t>(i));
    EXPECT_EQ(r.messages[i].lParam, -i);
  }
  EXPECT_EQ(poll(&entry, 1, 0), 0) << "nothing pending once processed";
}

TEST(MessageLoop, PostsMadeWhileDeliveringAreDeliveredAndNothingIsLeftSignalled) {
  int count = 0;
  std::unique_ptr<MessageWindow> window;
  window = std::make_unique<MessageWindow>([&](const Message& m) {
    ++count;
    if (m.wParam < 5) window->post(WM_USER, m.wParam + 1);
  });
  window->post(WM_USER, 0);
  EXPECT_EQ(MessageLoop::current().processMessages(), 6);
  EXPECT_EQ(count, 6);
  pollfd entry{MessageLoop::current().fd(), POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 0), 0);
}

TEST(MessageLoop, AProcedureThatNeverStopsPostingLeavesTheLoopSignalled) {
  std::unique_ptr<MessageWindow> window;
  window = std::make_unique<MessageWindow>([&](const Message&) { window->post(WM_USER); });
  window->post(WM_USER);
  MessageLoop::current().processMessages();  // returns: rounds are bounded
  pollfd entry{MessageLoop::current().fd(), POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 0), 1) << "a host loop is told there is more";
  window.reset();
  MessageLoop::current().processMessages();
  EXPECT_EQ(poll(&entry, 1, 0), 0);
}

// Readiness is still looked at while a procedure keeps posting; a watched
// descriptor that is not a socket is told once until it is re-enabled.
TEST(MessageLoop, ReadinessIsSeenWhileAProcedureKeepsPosting) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  Recorder r;
  MessageLoop& loop = MessageLoop::current();
  loop.watchReadable(pipeFds[0], &r.window, kNotify);
  std::unique_ptr<MessageWindow> busy;
  busy = std::make_unique<MessageWindow>([&](const Message&) { busy->post(WM_USER); });
  busy->post(WM_USER);
  ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
  loop.processMessages();
  loop.processMessages();
  ASSERT_EQ(countEvents(r.messages, FD_READ), 1) << "seen once, and not again before a read";
  EXPECT_EQ(r.messages[0].wParam, static_cast<uintptr_t>(pipeFds[0]));
  char byte;
  ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
  ASSERT_EQ(write(pipeFds[1], "y", 1), 1);
  loop.reenable(pipeFds[0], FD_READ);
  loop.processMessages();
  EXPECT_EQ(countEvents(r.messages, FD_READ), 2);
  busy.reset();
  loop.forgetSocket(pipeFds[0]);
  for (int fd : pipeFds) close(fd);
}

TEST(MessageLoop, DestroyedWindowLosesItsPendingMessages) {
  int calls = 0;
  auto window = std::make_unique<MessageWindow>([&](const Message&) { ++calls; });
  window->post(WM_USER);
  window.reset();
  MessageLoop::current().processMessages();
  EXPECT_EQ(calls, 0);
}

TEST(MessageLoop, PostFromAnotherThreadWakesTheLoop) {
  Recorder r;
  std::thread other([&] { r.window.post(WM_USER + 2, 7); });
  EXPECT_TRUE(MessageLoop::current().runUntil([&] { return !r.messages.empty(); }, 5000));
  other.join();
  EXPECT_EQ(r.messages[0].wParam, 7u);
}

TEST(MessageLoop, TimersRepeatUntilKilled) {
  Recorder r;
  r.window.setTimer(3, 10);
  EXPECT_TRUE(MessageLoop::current().runUntil([&] { return r.messages.size() >= 3; }, 5000));
  for (const auto& m : r.messages) {
    EXPECT_EQ(m.msg, WM_TIMER);
    EXPECT_EQ(m.wParam, 3u);
  }
  r.window.killTimer(3);
  r.messages.clear();
  MessageLoop::current().waitAndProcess(50);
  EXPECT_TRUE(r.messages.empty());
}

TEST(MessageLoop, TickCountAdvancesInMilliseconds) {
  uint32_t start = GetTickCount();
  Sleep(30);
  uint32_t elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 5000u);
}

// A connected pair: `host` is watched, `peer` plays the terminal.
struct StreamPair {
  int host = -1, peer = -1;
  StreamPair() {
    test::TcpListener listener;
    peer = test::connectTo(listener.port);
    host = listener.accept();
  }
  ~StreamPair() {
    if (host >= 0) ::close(host);
    if (peer >= 0) ::close(peer);
  }
};

TEST(AsyncSelect, ReadIsNotNotifiedAgainUntilTheSocketIsRead) {
  Recorder r;
  StreamPair pair;
  ASSERT_EQ(ws::WSAAsyncSelect(pair.host, &r.window, kNotify, FD_READ | FD_CLOSE), 0);
  test::writeAll(pair.peer, "one");
  auto& loop = MessageLoop::current();
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_READ) == 1; }, 5000));
  EXPECT_EQ(r.messages[0].wParam, static_cast<uintptr_t>(pair.host));
  test::writeAll(pair.peer, "two");
  loop.waitAndProcess(100);
  EXPECT_EQ(countEvents(r.messages, FD_READ), 1) << "no second notification before a read";
  char buffer[2];
  ASSERT_EQ(ws::recv(pair.host, buffer, sizeof buffer, 0), 2);  // a partial read re-enables
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_READ) == 2; }, 5000));
}

TEST(AsyncSelect, OrderlyCloseComesAfterTheDataWithErrorZero) {
  Recorder r;
  StreamPair pair;
  ws::WSAAsyncSelect(pair.host, &r.window, kNotify, FD_READ | FD_CLOSE);
  test::writeAll(pair.peer, "last words");
  ::close(pair.peer);
  pair.peer = -1;
  auto& loop = MessageLoop::current();
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_READ) == 1; }, 5000));
  EXPECT_EQ(countEvents(r.messages, FD_CLOSE), 0) << "data first";
  char buffer[64];
  EXPECT_EQ(ws::recv(pair.host, buffer, sizeof buffer, 0), 10);
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_CLOSE) == 1; }, 5000));
  EXPECT_EQ(selectError(r.messages.back().lParam), 0);
  loop.waitAndProcess(50);
  EXPECT_EQ(countEvents(r.messages, FD_CLOSE), 1) << "the close is told once";
}

TEST(AsyncSelect, ResetBecomesACloseCarrying10054) {
  Recorder r;
  StreamPair pair;
  ws::WSAAsyncSelect(pair.host, &r.window, kNotify, FD_READ | FD_CLOSE);
  linger abort{1, 0};
  ::setsockopt(pair.peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(pair.peer);
  pair.peer = -1;
  ASSERT_TRUE(MessageLoop::current().runUntil(
      [&] { return countEvents(r.messages, FD_CLOSE) == 1; }, 5000));
  EXPECT_EQ(selectError(r.messages.back().lParam), 10054);
}

TEST(AsyncSelect, CloseOnlyInterestIgnoresDataAndSeesTheClose) {
  Recorder r;
  StreamPair pair;
  ws::WSAAsyncSelect(pair.host, &r.window, kNotify, FD_CLOSE);
  test::writeAll(pair.peer, "reply");
  auto& loop = MessageLoop::current();
  loop.waitAndProcess(50);
  EXPECT_TRUE(r.messages.empty());
  ::shutdown(pair.peer, SHUT_WR);
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_CLOSE) == 1; }, 5000));
}

TEST(AsyncSelect, AcceptIsReenabledByAccept) {
  Recorder r;
  test::TcpListener listener;
  ws::WSAAsyncSelect(listener.fd, &r.window, kNotify, FD_ACCEPT);
  int a = test::connectTo(listener.port), b = test::connectTo(listener.port);
  auto& loop = MessageLoop::current();
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_ACCEPT) == 1; }, 5000));
  loop.waitAndProcess(50);
  EXPECT_EQ(countEvents(r.messages, FD_ACCEPT), 1);
  int first = ws::accept(listener.fd, nullptr);
  ASSERT_GE(first, 0);
  ASSERT_TRUE(loop.runUntil([&] { return countEvents(r.messages, FD_ACCEPT) == 2; }, 5000));
  int second = ws::accept(listener.fd, nullptr);
  EXPECT_GE(second, 0);
  for (int fd : {a, b, first, second}) ::close(fd);
}

TEST(AsyncSelect, ClosingASocketDropsItsQueuedNotifications) {
  StreamPair pair;
  std::vector<Message> seen;
  // The first message closes the socket while its read notification is
  // already queued behind it: the notification must not be delivered.
  MessageWindow window([&](const Message& m) {
    seen.push_back(m);
    if (m.msg == WM_USER + 5) {
      ws::closesocket(pair.host);
      pair.host = -1;
    }
  });
  ws::WSAAsyncSelect(pair.host, &window, kNotify, FD_READ);
  test::writeAll(pair.peer, "x");
  window.post(WM_USER + 5);
  pollfd entry{MessageLoop::current().fd(), POLLIN, 0};
  ASSERT_EQ(poll(&entry, 1, 2000), 1);
  ::usleep(20000);  // let the data arrive so that readiness and the post meet in one round
  MessageLoop::current().processMessages();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(countEvents(seen, FD_READ), 0);
}

}  // namespace
}  // namespace mirelo
