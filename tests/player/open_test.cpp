// Opening sources that stall: a local HTTP server that accepts the connection and never
// answers, and a FIFO that stays open without data. Open gives up after its time limit with a
// message instead of holding the caller.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "player_test_util.h"

namespace trelvix::player::testing {
namespace {

// A TCP server on 127.0.0.1 that accepts connections, reads what comes and never answers.
class SilentServer {
 public:
  SilentServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SilentServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : clients_) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
  }
  int Port() const { return port_; }
  int Accepted() const { return accepted_; }

 private:
  void Serve() {
    char buf[4096];
    while (!stop_) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (int fd : clients_) fds.push_back({fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          clients_.push_back(c);
          ++accepted_;
        }
      }
      for (size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents & POLLIN) (void)!::read(fds[i].fd, buf, sizeof buf);
    }
  }
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> clients_;  // Serve() only, then the destructor
  std::thread thread_;
};

class StalledSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadLibraries();
    UseDummyAudio();
    log_.Allow("did not open within");
    log_.Allow("Immediate exit requested");
  }
  // Opens the source with a short time limit; it must fail with the time-out message.
  void ExpectOpenGivesUp(const std::string& source) {
    TFFPlayer player;
    player.SetOpenTimeLimit(1000);
    EXPECT_FALSE(player.Open(source));
    EXPECT_NE(player.LastErrMsg().find(source + ": the source did not open within 1.0 s"),
              std::string::npos)
        << player.LastErrMsg();
    // The player is usable again: a real clip opens and plays.
    fixtures::MakeClip(dir_.File("after.mkv"), SmallClip(1.0));
    ASSERT_TRUE(player.Open(dir_.File("after.mkv"))) << player.LastErrMsg();
    EXPECT_GE(WaitForPicture(player), 0);
    player.Stop(true);
  }
  test::TempDir dir_;
  test::LogCapture log_;
};

TEST_F(StalledSourceTest, NetworkServerThatNeverAnswers) {
  SilentServer server;
  ASSERT_GT(server.Port(), 0);
  ExpectOpenGivesUp("http://127.0.0.1:" + std::to_string(server.Port()) + "/film.mkv");
  EXPECT_EQ(server.Accepted(), 1);
}

TEST_F(StalledSourceTest, FifoWithoutData) {
  const std::string fifo = dir_.File("film.mkv");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Held open for reading and writing: the FIFO has a writer that never writes.
  const int held = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ExpectOpenGivesUp(fifo);
  ::close(held);
}

}  // namespace
}  // namespace trelvix::player::testing
