// The packet queue between the reader and the decoders.
#include <gtest/gtest.h>

#include <thread>

#include "media/ff_load.h"
#include "player/packet_queue.h"

namespace trelvix::player {
namespace {

class PacketQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(media::FFLoader().Load(media::kPlayerLibraries)) << media::FFLoader().LastErrMsg();
  }
  static media::PacketPtr Packet(int size) {
    media::PacketPtr p = media::MakePacket();
    EXPECT_EQ(ff::av_new_packet(p.get(), size), 0);
    return p;
  }
};

TEST_F(PacketQueueTest, InitPutsTheFlushMarkerFirstAndCountsBytes) {
  TPacketQueue q;
  q.Init(7);
  EXPECT_EQ(q.Count(), 1);
  EXPECT_EQ(q.Size(), TPacketQueue::kNodeSize);
  ASSERT_EQ(q.Put(Packet(100)), 0);
  ASSERT_EQ(q.PutEmpty(3), 0);
  EXPECT_EQ(q.Size(), 3 * TPacketQueue::kNodeSize + 100);

  TQueuedPacket e;
  ASSERT_EQ(q.Get(e, false), 1);
  EXPECT_TRUE(e.IsFlush());
  EXPECT_EQ(e.serial, 7);
  ASSERT_EQ(q.Get(e, false), 1);
  EXPECT_FALSE(e.IsFlush());
  EXPECT_FALSE(e.IsEmpty());
  EXPECT_EQ(e.pkt->size, 100);
  ASSERT_EQ(q.Get(e, false), 1);
  EXPECT_TRUE(e.IsEmpty());
  EXPECT_EQ(e.pkt->stream_index, 3);
  EXPECT_EQ(q.Get(e, false), 0);
  EXPECT_EQ(q.Size(), 0);
}

TEST_F(PacketQueueTest, FlushEmptiesTheQueue) {
  TPacketQueue q;
  q.Init();
  for (int i = 0; i < 5; ++i) q.Put(Packet(10));
  q.Flush();
  EXPECT_EQ(q.Count(), 0);
  EXPECT_EQ(q.Size(), 0);
}

TEST_F(PacketQueueTest, AbortWakesABlockedReaderAndRefusesPackets) {
  TPacketQueue q;
  q.Init();
  TQueuedPacket e;
  ASSERT_EQ(q.Get(e, true), 1);  // the marker
  int result = 0;
  std::thread reader([&] {
    TQueuedPacket x;
    result = q.Get(x, true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  q.Abort();
  reader.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(q.Put(Packet(10)), -1);
  EXPECT_TRUE(q.Aborted());
  q.Init();  // usable again
  EXPECT_FALSE(q.Aborted());
  EXPECT_EQ(q.Put(Packet(10)), 0);
}

TEST_F(PacketQueueTest, ABlockedReaderGetsThePacketPutLater) {
  TPacketQueue q;
  q.Init();
  TQueuedPacket e;
  ASSERT_EQ(q.Get(e, true), 1);
  int size = 0;
  std::thread reader([&] {
    TQueuedPacket x;
    if (q.Get(x, true) == 1) size = x.pkt->size;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  q.Put(Packet(42));
  reader.join();
  EXPECT_EQ(size, 42);
}

}  // namespace
}  // namespace trelvix::player
