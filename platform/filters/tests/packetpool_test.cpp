// The decoders' packet pool: copies with zeroed padding, buffers that come back once the
// codec lets them go, and a larger pool for a packet that outgrows the buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/filters/avptr.h"
#include "platform/filters/decoders/packetpool.h"

using tav::filters::AvPacketPtr;
using tav::filters::PacketPool;

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

}  // namespace

TEST(filters_PacketPool, CopiesTheBytes_PadsWithZeros_AndReusesReleasedBuffers) {
  PacketPool pool;
  AvPacketPtr packet(av_packet_alloc());
  AvPacketPtr held(av_packet_alloc());
  const std::vector<uint8_t> first = Bytes(1000, 1);
  ASSERT_EQ(0, pool.Fill(packet.get(), first.data(), int(first.size())));
  ASSERT_EQ(1000, packet->size);
  ASSERT_NE(nullptr, packet->buf);
  EXPECT_EQ(0, std::memcmp(packet->data, first.data(), first.size()));
  for (int i = 0; i < AV_INPUT_BUFFER_PADDING_SIZE; ++i) ASSERT_EQ(0, packet->data[1000 + i]) << i;
  packet->pts = 42;
  packet->flags |= AV_PKT_FLAG_KEY;

  // The codec keeps a reference to the packet it is decoding: the next one needs another
  // buffer, and the kept one is left as it was.
  ASSERT_EQ(0, av_packet_ref(held.get(), packet.get()));
  const uint8_t* kept = held->data;
  const std::vector<uint8_t> second = Bytes(500, 2);
  ASSERT_EQ(0, pool.Fill(packet.get(), second.data(), int(second.size())));
  EXPECT_NE(kept, packet->data);
  EXPECT_EQ(AV_NOPTS_VALUE, packet->pts) << "a filled packet starts from the defaults";
  EXPECT_EQ(0, packet->flags);
  EXPECT_EQ(0, std::memcmp(held->data, first.data(), first.size()));

  // Both let go: the buffers are handed out again, no new ones made.
  const uint8_t* other = packet->data;
  av_packet_unref(held.get());
  av_packet_unref(packet.get());
  AvPacketPtr again(av_packet_alloc());
  ASSERT_EQ(0, pool.Fill(packet.get(), second.data(), int(second.size())));
  ASSERT_EQ(0, pool.Fill(again.get(), first.data(), int(first.size())));
  EXPECT_TRUE((packet->data == kept && again->data == other) || (packet->data == other && again->data == kept));
}

TEST(filters_PacketPool, APacketLargerThanTheBuffersGetsALargerPool_AndEmptyPacketsWork) {
  PacketPool pool;
  AvPacketPtr small(av_packet_alloc()), large(av_packet_alloc());
  const std::vector<uint8_t> a = Bytes(100, 3);
  ASSERT_EQ(0, pool.Fill(small.get(), a.data(), int(a.size())));
  const int before = pool.bufferBytes();
  EXPECT_GE(before, PacketPool::kMinBufferBytes);

  const std::vector<uint8_t> b = Bytes(size_t(before) * 3, 4);
  ASSERT_EQ(0, pool.Fill(large.get(), b.data(), int(b.size())));
  EXPECT_GE(pool.bufferBytes(), int(b.size()) + AV_INPUT_BUFFER_PADDING_SIZE);
  EXPECT_EQ(0, std::memcmp(large->data, b.data(), b.size()));
  EXPECT_EQ(0, std::memcmp(small->data, a.data(), a.size())) << "a packet of the old pool stays valid";
  small.reset();  // its buffer goes with the old pool

  ASSERT_EQ(0, pool.Fill(large.get(), nullptr, 0));
  EXPECT_EQ(0, large->size);
  EXPECT_EQ(0, large->data[0]);
  EXPECT_LT(pool.Fill(large.get(), nullptr, 10), 0) << "bytes promised but none given";
}
