// kavrin's figures for Prometheus: the text, and the small HTTP server on the
// message loop that serves them, over real sockets on 127.0.0.1.
#include "responder/metrics.h"

#include <gtest/gtest.h>

#include <future>

#include "http_exchange.h"
#include "platform/message_loop.h"

namespace mirelo {
namespace {

// The exchange runs beside the loop that serves it.
std::string served(uint16_t port, const std::string& request) {
  auto reply = std::async(std::launch::async, [&] { return test::httpExchange(port, request); });
  while (reply.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
    MessageLoop::current().waitAndProcess(20);
  return reply.get();
}

TEST(Metrics, TheServerAnswersGetAndHeadOfMetricsAndRefusesTheRest) {
  TMetricsServer server(parseEndpoint("127.0.0.1:0"), [] { return std::string("kavrin_up 1\n"); });
  ASSERT_NE(server.Port(), 0);
  EXPECT_EQ(server.Url(), "http://127.0.0.1:" + std::to_string(server.Port()) + "/metrics");
  // A client that connects and says nothing does not hold up the others.
  int silent = test::connectTo(server.Port());
  struct Case {
    std::string request, status, body;
  } cases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK", "kavrin_up 1\n"},
      {"GET /metrics?name[]=x HTTP/1.0\n\n", "HTTP/1.1 200 OK", "kavrin_up 1\n"},
      {"HEAD /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", ""},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", "the figures are at /metrics\n"},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
       "only GET and HEAD\n"},
      {"hello\r\n\r\n", "HTTP/1.1 400 Bad Request", "not an HTTP/1 request\n"},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'x'), "HTTP/1.1 431",
       "request too large\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.substr(0, 40));
    std::string reply = served(server.Port(), c.request);
    EXPECT_EQ(reply.rfind(c.status, 0), 0u) << reply;
    size_t end = reply.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << reply;
    EXPECT_EQ(reply.substr(end + 4), c.body);
    EXPECT_NE(reply.find("Connection: close\r\n"), std::string::npos);
    if (c.status.find("200") != std::string::npos) {
      EXPECT_NE(
          reply.find(
              "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: 12\r\n"),
          std::string::npos);
    }
  }
  ::close(silent);
}

TEST(Metrics, AnAddressThatIsTakenOrBadIsRefused) {
  test::TcpListener taken;
  EXPECT_THROW(TMetricsServer(parseEndpoint("127.0.0.1:" + std::to_string(taken.port)), {}),
               Exception);
  EXPECT_EQ(ntohs(parseEndpoint("9187").sin_port), 9187);
  EXPECT_EQ(parseEndpoint(":9187").sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(parseEndpoint("0.0.0.0:80").sin_addr.s_addr, 0u);
  for (const char* bad : {"", "x:80", "127.0.0.1:", "70000", "1:2a", "127.0.0.1:-1", "1.2.3:4:5"})
    EXPECT_THROW(parseEndpoint(bad), Exception) << bad;
}

TEST(Metrics, TheFiguresCountAnswersLoadsAndTheDatabase) {
  TServiceMetrics figures(46, true);
  auto answer = [&](bool found, int32_t sent, double seconds, const char* ip) {
    TAnswerRecord record;
    record.Answer.Found = found;
    record.SendResult = sent;
    record.SenderIP = ip;
    figures.RecordAnswer(record, seconds);
  };
  answer(true, 0, 0.0002, "127.0.0.2");
  answer(false, 0, 0.003, "127.0.0.3");
  answer(true, -1, 2.0, "127.0.0.2");
  TPriceSourceEvent event;
  event.Kind = TPriceSourceEvent::LoadFailed;
  event.Rows = 46;
  event.Time = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  figures.RecordSource(event);
  event.Kind = TPriceSourceEvent::Disconnected;
  figures.RecordSource(event);
  std::string text = figures.Format(7);
  for (const char* line :
       {"kavrin_scans_total 3", "kavrin_scans_not_found_total 1", "kavrin_answer_errors_total 1",
        "kavrin_answer_duration_seconds_bucket{le=\"0.0001\"} 0",
        "kavrin_answer_duration_seconds_bucket{le=\"0.00025\"} 1",
        "kavrin_answer_duration_seconds_bucket{le=\"0.005\"} 2",
        "kavrin_answer_duration_seconds_bucket{le=\"1\"} 2",
        "kavrin_answer_duration_seconds_bucket{le=\"+Inf\"} 3",
        "kavrin_answer_duration_seconds_sum 2.0032", "kavrin_answer_duration_seconds_count 3",
        "kavrin_price_rows 46", "kavrin_reloads_total{outcome=\"ok\"} 1",
        "kavrin_reloads_total{outcome=\"failed\"} 1",
        "kavrin_last_reload_timestamp_seconds 1700000000", "kavrin_last_reload_success 0",
        "kavrin_database_up 0", "kavrin_terminals_connected 7", "kavrin_terminals_active 2",
        "# TYPE kavrin_answer_duration_seconds histogram"})
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line << "\n"
                                                                             << text;
  // A price list file has no database; a UDP server no connections.
  std::string file = TServiceMetrics(3, false).Format(std::nullopt);
  EXPECT_EQ(file.find("kavrin_database_up"), std::string::npos);
  EXPECT_EQ(file.find("kavrin_terminals_connected"), std::string::npos);
}

TEST(Metrics, ConnectedTerminalsAreTheEstablishedConnectionsOnThePort) {
  test::TcpListener listener;
  EXPECT_EQ(countTcpConnections(listener.port), 0u);
  int a = test::connectTo(listener.port), b = test::connectTo(listener.port);
  int accepted[] = {listener.accept(), listener.accept()};
  EXPECT_EQ(countTcpConnections(listener.port), 2u);
  ::close(accepted[0]);
  EXPECT_EQ(countTcpConnections(listener.port), 1u);
  for (int fd : {a, b, accepted[1]}) ::close(fd);
}

}  // namespace
}  // namespace mirelo
