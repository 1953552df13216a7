#include "Network/SendQueue.h"
#include "Network/Socket.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

AddressRecord endpoint(u8 last, u16 port) {
    u8 bytes[4] = {127, 0, 0, last};
    return makeAddressRecord(4, bytes, port);
}

// Fills a fresh queue with one-byte packets for the given destinations (the byte is the index).
void fill(PacketQueue* queue, const std::vector<AddressRecord>& destinations) {
    for (size_t i = 0; i < destinations.size(); i++) {
        ByteWriter* writer = queuePacket(&destinations[i], queue);
        ASSERT_NE(writer, nullptr);
        appendU8((u8)i, writer);
    }
}

std::vector<int> order(PacketQueue* queue) {
    std::vector<int> result;
    for (int i = queue->readIndex; i != queue->writeIndex; i = (i + 1) % kPacketQueueSlots) {
        PacketSlot* slot = &queue->slots[i];
        EXPECT_EQ(slot->writer.data, slot->data);
        result.push_back(slot->writer.length ? slot->data[0] : -1);
    }
    return result;
}

TEST(SendQueue, HoldsSixtyThreePackets) {
    auto queue = std::make_unique<PacketQueue>();
    AddressRecord destination = endpoint(1, 100);
    for (int i = 0; i < 63; i++) {
        ByteWriter* writer = queuePacket(&destination, queue.get());
        ASSERT_NE(writer, nullptr) << i;
        EXPECT_EQ(writer->capacity, kPacketSlotBytes);
        EXPECT_EQ(writer->length, 0);
    }
    EXPECT_EQ(queuePacket(&destination, queue.get()), nullptr);
    EXPECT_EQ(queuedPacketCount(queue.get()), 63);
    dropOldestQueuedPacket(queue.get());
    EXPECT_NE(queuePacket(&destination, queue.get()), nullptr);
    EXPECT_EQ(queue->writeIndex, 0);  // wrapped around
    EXPECT_EQ(queuePacket(&destination, queue.get()), nullptr);
}

TEST(SendQueue, DisplacingFavoursOneDestination) {
    auto queue = std::make_unique<PacketQueue>();
    AddressRecord relay = endpoint(9, 1);
    AddressRecord relayOtherPort = endpoint(9, 2);
    AddressRecord other = endpoint(2, 1);
    // o o R o R R o ... (the rest other)
    std::vector<AddressRecord> destinations(63, other);
    destinations[2] = relay;
    destinations[4] = relay;
    destinations[5] = relay;
    fill(queue.get(), destinations);
    ASSERT_EQ(queuePacket(&relay, queue.get()), nullptr);

    ByteWriter* writer = queuePacketDisplacingIn(&relayOtherPort, queue.get());
    ASSERT_NE(writer, nullptr);
    appendU8(99, writer);
    std::vector<int> expected = {0, 1, 2, 4, 5, 3};
    for (int i = 6; i < 62; i++) {
        expected.push_back(i);
    }
    expected.push_back(99);
    EXPECT_EQ(order(queue.get()), expected);
    // The newest slot carries the caller's destination, port included.
    PacketSlot* newest = &queue->slots[61 + 1];
    EXPECT_EQ(newest->destination.port, 2);

    // The destination now holds the newest place: nothing more is displaced.
    EXPECT_EQ(queuePacketDisplacingIn(&relay, queue.get()), nullptr);
    EXPECT_EQ(order(queue.get()), expected);
}

TEST(SendQueue, DisplacingLeavesTheTwoOldestAlone) {
    auto queue = std::make_unique<PacketQueue>();
    AddressRecord relay = endpoint(9, 1);
    AddressRecord other = endpoint(2, 1);
    EXPECT_EQ(queuePacketDisplacingIn(&relay, queue.get()), nullptr);  // empty: nothing happens
    EXPECT_EQ(queue->writeIndex, 0);
    EXPECT_EQ(queue->readIndex, 0);

    fill(queue.get(), {other, other});
    EXPECT_EQ(queuePacketDisplacingIn(&relay, queue.get()), nullptr);
    EXPECT_EQ(order(queue.get()), (std::vector<int>{0, 1}));

    // Start the ring part-way round so that the pass wraps.
    auto wrapped = std::make_unique<PacketQueue>();
    wrapped->readIndex = 60;
    wrapped->writeIndex = 60;
    fill(wrapped.get(), {other, relay, other, relay, other});
    ByteWriter* writer = queuePacketDisplacingIn(&relay, wrapped.get());
    ASSERT_NE(writer, nullptr);
    appendU8(7, writer);
    // The relay packet at the second place stays; the one at the fourth moves up one.
    EXPECT_EQ(order(wrapped.get()), (std::vector<int>{0, 1, 3, 2, 7}));
}

TEST(SendQueue, PerPeerDestinationsFollowTheSocketMode) {
    auto socket = std::make_unique<Socket>();
    socket->family = 4;
    socket->mode = SocketModeTcpServer;
    socket->peerMask = 0b0011;
    socket->peers[1].peer = endpoint(5, 4000);
    EXPECT_EQ(queueSocketPacketToPeer(2, socket.get()), nullptr);
    EXPECT_EQ(queueSocketPacketToPeer(4, socket.get()), nullptr);
    EXPECT_EQ(queueSocketPacketToPeer(-1, socket.get()), nullptr);
    ASSERT_NE(queueSocketPacketToPeer(1, socket.get()), nullptr);
    EXPECT_TRUE(sameEndpoint(&socket->sendQueue.slots[0].destination, &socket->peers[1].peer));

    socket->mode = SocketModeUdp;
    ASSERT_NE(queueSocketPacketToPeer(1, socket.get()), nullptr);
    EXPECT_EQ(socket->sendQueue.slots[1].destination.port, 4000);

    socket->mode = SocketModeRaw;
    EXPECT_EQ(queueSocketPacketToPeer(1, socket.get()), nullptr);

    socket->mode = SocketModeTcpClient;
    socket->family = 6;
    socket->peerMask = 0;
    ASSERT_NE(queueSocketPacketToPeer(3, socket.get()), nullptr);
    const AddressRecord& server = socket->sendQueue.slots[2].destination;
    EXPECT_EQ(server.family, 6);
    EXPECT_EQ(server.port, 0);

    AddressRecord anywhere = endpoint(8, 9);
    ByteWriter* writer = queueSocketPacket(&anywhere, socket.get());
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->data, socket->sendQueue.slots[3].data);
}

}  // namespace

namespace {

TEST(TrafficCounters, RatesFollowWholeSecondsOfTraffic) {
    TrafficCounters counters{};
    AddressRecord peer = endpoint(3, 14550);
    resetTrafficCounters(&counters, &peer, 5000000);
    EXPECT_EQ(counters.starts, 1u);
    EXPECT_EQ(counters.lastActivity, 5000000u);
    counters.bytesReceived = 3000;
    counters.packetsReceived = 30;
    counters.bytesSent = 100;
    updateTrafficRates(&counters, 5999999);  // not yet a second
    EXPECT_EQ(counters.rates[0], 0);
    updateTrafficRates(&counters, 7000000);  // two seconds
    EXPECT_EQ(counters.rates[0], 1500);
    EXPECT_EQ(counters.rates[1], 15);
    EXPECT_EQ(counters.rates[2], 50);
    EXPECT_EQ(counters.rates[3], 0);
    updateTrafficRates(&counters, 8000000);  // nothing more arrived
    EXPECT_EQ(counters.rates[0], 0);
    resetTrafficCounters(&counters, &peer, 9000000);
    EXPECT_EQ(counters.starts, 2u);
    EXPECT_EQ(counters.bytesReceived, 0u);
    EXPECT_TRUE(sameEndpoint(&counters.peer, &peer));
}

}  // namespace
