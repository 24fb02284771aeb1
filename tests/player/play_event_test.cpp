// The event ring between the playback and the host.
#include <gtest/gtest.h>

#include "player/play_event.h"
#include "player/player_types.h"

namespace trelvix::player {
namespace {

std::vector<TPlayEventItem> Drain(TPlayEvent& ring) {
  std::vector<TPlayEventItem> out;
  for (TPlayEventItem it = ring.Pop(); it.Kind != pekNone; it = ring.Pop()) out.push_back(it);
  return out;
}

TEST(PlayEventTest, PositionsInARowLeaveOnlyTheNewest) {
  TPlayEvent ring;
  for (int i = 1; i <= 20; ++i) ring.Post({pekPosition, i * 1000});
  EXPECT_EQ(ring.Count(), 1);
  const auto items = Drain(ring);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Value, 20000);
}

TEST(PlayEventTest, StatePositionsStateKeepTheirOrder) {
  TPlayEvent ring;
  ring.Post({pekState, psPlay});
  for (int i = 1; i <= 5; ++i) ring.Post({pekPosition, i});
  ring.Post({pekState, psEnd});
  const auto items = Drain(ring);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Kind, pekState);
  EXPECT_EQ(items[0].Value, psPlay);
  EXPECT_EQ(items[1].Kind, pekPosition);
  EXPECT_EQ(items[1].Value, 5);
  EXPECT_EQ(items[2].Kind, pekState);
  EXPECT_EQ(items[2].Value, psEnd);
}

TEST(PlayEventTest, NoStateChangeIsLost) {
  TPlayEvent ring;
  ring.Post({pekState, psPlay});
  ring.Post({pekState, psPause});
  ring.Post({pekState, psEnd});
  ring.Post({pekState, psStop});
  const auto items = Drain(ring);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[1].Value, psPause);
  EXPECT_EQ(items[3].Value, psStop);
}

TEST(PlayEventTest, AFullRingDropsTheOldestItem) {
  TPlayEvent ring;
  for (int i = 0; i < 12; ++i) ring.Post({i % 2 ? pekState : pekPosition, i});
  EXPECT_EQ(ring.Count(), TPlayEvent::kSlots - 1);
  const auto items = Drain(ring);
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(items.front().Value, 3);
  EXPECT_EQ(items.back().Value, 11);
}

TEST(PlayEventTest, TheEventIsSetWhileItemsWait) {
  TPlayEvent ring;
  EXPECT_FALSE(ring.Event().IsSet());
  EXPECT_EQ(ring.Pop().Kind, pekNone);
  ring.Post({pekQuit, 0});
  EXPECT_TRUE(ring.Event().IsSet());
  EXPECT_EQ(ring.Pop().Kind, pekQuit);
  EXPECT_FALSE(ring.Event().IsSet());
}

}  // namespace
}  // namespace trelvix::player
