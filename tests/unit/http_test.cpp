#include <gtest/gtest.h>

#include "http.h"
#include "tcp_listener.h"

namespace zelk {
namespace {

TEST(ProbeRequest, IsExactlyTheMinimalGet) {
  EXPECT_EQ(probe_request(5678, "/healthz"),
            "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1:5678\r\nUser-Agent: zelk\r\nAccept: */*\r\n"
            "Connection: close\r\n\r\n");
}

struct StatusCase {
  std::string name;
  std::string answer;
  std::optional<std::uint16_t> status;
  friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
};

class ProbeStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ProbeStatus, ReadsTheFirstTwelveBytes) { EXPECT_EQ(probe_status(GetParam().answer), GetParam().status); }

INSTANTIATE_TEST_SUITE_P(
    Answers, ProbeStatus,
    ::testing::Values(StatusCase{"Ok", "HTTP/1.1 200", 200}, StatusCase{"Http10", "HTTP/1.0 503", 503},
                      StatusCase{"MinorNotExamined", "HTTP/1.x-302", 302},
                      StatusCase{"PlusAccepted", "HTTP/1.1 +20", 20},
                      StatusCase{"TooShort", "HTTP/1.1 20", std::nullopt},
                      StatusCase{"Http2", "HTTP/2 200 O", std::nullopt},
                      StatusCase{"NotHttp", "SSH-2.0-Open", std::nullopt},
                      StatusCase{"Lowercase", "http/1.1 200", std::nullopt},
                      StatusCase{"NotANumber", "HTTP/1.1 2x0", std::nullopt},
                      StatusCase{"MinusRefused", "HTTP/1.1 -20", std::nullopt},
                      StatusCase{"BlankRefused", "HTTP/1.1  20", std::nullopt},
                      StatusCase{"InvalidUtf8", "HTTP/1.1 200\xff", std::nullopt},
                      StatusCase{"WideCharacterShiftsPositions", "HTTP/1.\xc3\xa9" "200", std::nullopt},
                      StatusCase{"Empty", "", std::nullopt}),
    [](const auto& info) { return info.param.name; });

struct ServedCase {
  std::string name;
  std::string answer;
  TcpListener::Mode mode;
  std::optional<std::uint16_t> status;
  friend void PrintTo(const ServedCase& c, std::ostream* os) { *os << c.name; }
};

class HttpProbeServed : public ::testing::TestWithParam<ServedCase> {};

TEST_P(HttpProbeServed, AsksTheLocalPortAndReadsTheStatus) {
  TcpListener server(GetParam().answer, GetParam().mode);
  EXPECT_EQ(http_probe(server.port(), "/ready"), GetParam().status);
  EXPECT_EQ(server.request(), probe_request(server.port(), "/ready"));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, HttpProbeServed,
    ::testing::Values(
        ServedCase{"Ok", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", TcpListener::Mode::Answer, 200},
        ServedCase{"NoContent", "HTTP/1.1 204 No Content\r\n\r\n", TcpListener::Mode::Answer, 204},
        ServedCase{"Unavailable", "HTTP/1.0 503 Service Unavailable\r\n\r\n", TcpListener::Mode::Answer, 503},
        ServedCase{"Found", "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", TcpListener::Mode::Answer, 302},
        ServedCase{"InPieces", "HTTP/1.1 404 Not Found\r\n\r\n", TcpListener::Mode::Trickle, 404},
        ServedCase{"ClosedEarly", "HTTP/1.1 20", TcpListener::Mode::Answer, std::nullopt},
        ServedCase{"Http2", "HTTP/2 200 OK\r\n\r\n", TcpListener::Mode::Answer, std::nullopt},
        ServedCase{"NotHttp", "SSH-2.0-OpenSSH_9.2\r\n", TcpListener::Mode::Answer, std::nullopt},
        ServedCase{"NothingSent", "", TcpListener::Mode::Answer, std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(HttpProbe, LargePageIsNotRead) {
  const std::string page = "HTTP/1.1 200 OK\r\n\r\n" + std::string(1 << 20, 'x');
  TcpListener server(page);
  EXPECT_EQ(http_probe(server.port(), "/"), 200);
}

TEST(HttpProbe, NothingListening) { EXPECT_EQ(http_probe(unused_port(), "/"), std::nullopt); }

// Waits for the real 3-second receive time-out.
TEST(HttpProbe, AListenerThatNeverAnswers) {
  TcpListener server("", TcpListener::Mode::Silent);
  EXPECT_EQ(http_probe(server.port(), "/"), std::nullopt);
  EXPECT_EQ(server.request(), probe_request(server.port(), "/"));
}

}  // namespace
}  // namespace zelk
