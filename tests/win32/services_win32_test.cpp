// The Windows event, thread, UDP socket and keyboard services.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/event.h"
#include "platform/keyboard.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"

namespace {

// Generous: the machine may be slow and shared; a passing test never waits this long.
constexpr int kPatienceMs = 10000;

TEST(Win32Event, AutoResetAndSignalsCollapse) {
    EXPECT_EQ(PlatEventWait(nullptr, 0), PlatWaitResult::Failed);
    PlatEvent event = PlatEventCreate();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(PlatEventWait(event, 0), PlatWaitResult::TimedOut);
    EXPECT_EQ(PlatEventWait(event, 20), PlatWaitResult::TimedOut);

    PlatEventSignal(event);
    PlatEventSignal(event);
    EXPECT_EQ(PlatEventWait(event, 0), PlatWaitResult::Signalled);
    EXPECT_EQ(PlatEventWait(event, 0), PlatWaitResult::TimedOut);  // consumed, and only once

    PlatEventSignal(event);
    PlatEventReset(event);
    EXPECT_EQ(PlatEventWait(event, 0), PlatWaitResult::TimedOut);
    PlatEventClose(event);
}

struct Handover {
    PlatEvent event;
    std::atomic<bool> finished{false};
};

TEST(Win32Thread, ArgumentArrivesAndJoinWaitsForTheEnd) {
    Handover handover;
    handover.event = PlatEventCreate();
    PlatThread thread = PlatThreadStart(
        [](intptr_t argument) {
            auto* h = reinterpret_cast<Handover*>(argument);
            PlatSleepMs(50);
            PlatEventSignal(h->event);  // wakes a wait in another thread
            PlatSleepMs(100);
            h->finished.store(true);
        },
        reinterpret_cast<intptr_t>(&handover));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(PlatEventWait(handover.event, kPatienceMs), PlatWaitResult::Signalled);
    PlatThreadJoin(thread);
    EXPECT_TRUE(handover.finished.load());
    PlatEventClose(handover.event);
}

class Win32Socket : public ::testing::Test {
protected:
    void SetUp() override {
        receiver = PlatUdpOpen();  // starts Winsock for the sender too
        ASSERT_NE(receiver, kPlatNoSocket);
        ASSERT_TRUE(PlatUdpBind(receiver, 0));
        ASSERT_TRUE(PlatUdpSetNonBlocking(receiver));
        port = PlatUdpLocalPort(receiver);
        ASSERT_GT(port, 0);
        sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_NE(sender, INVALID_SOCKET);
    }
    void TearDown() override {
        if (sender != INVALID_SOCKET) closesocket(sender);
        PlatUdpClose(receiver);
    }
    void Send(const std::string& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(sendto(sender, bytes.data(), static_cast<int>(bytes.size()), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<int>(bytes.size()));
    }
    void AwaitDatagram() {
        ASSERT_EQ(PlatUdpWaitReadable(receiver, kPatienceMs * 1000), 1);
    }
    PlatSocket receiver = kPlatNoSocket;
    SOCKET sender = INVALID_SOCKET;
    int port = 0;
};

TEST_F(Win32Socket, NothingWaitingIsWouldBlock) {
    EXPECT_EQ(PlatUdpWaitReadable(receiver, 20000), 0);
    char buffer[16];
    PlatDatagram none = {buffer, sizeof buffer, -1, -1, -1, {}};
    EXPECT_EQ(PlatUdpReceiveMany(receiver, &none, 1), 0);
    int lost = -1;
    EXPECT_EQ(PlatUdpReceive(receiver, buffer, sizeof buffer, &lost), -1);
    EXPECT_TRUE(PlatSocketWouldBlock(PlatSocketLastError()));
    EXPECT_GT(PlatUdpSetReceiveBuffer(receiver, 1 << 20), 0);
}

TEST_F(Win32Socket, DatagramsArriveWholeOrTellWhatDidNotFit) {
    std::string big(2000, 'b');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    Send(big);
    Send("");
    Send("hello\n");
    AwaitDatagram();

    char buffer[1024];
    int lost = -1;
    ASSERT_EQ(PlatUdpReceive(receiver, buffer, sizeof buffer, &lost), 1024);
    EXPECT_EQ(lost, 976);
    EXPECT_EQ(std::string(buffer, 1024), big.substr(0, 1024));

    // The rest in one call: an empty datagram, then one that fills its room exactly.
    AwaitDatagram();
    char second[8];
    PlatDatagram rest[3] = {{buffer, sizeof buffer, -1, -1, -1, {}}, {second, 6, -1, -1, -1, {}},
                            {buffer, sizeof buffer, -1, -1, -1, {}}};
    ASSERT_EQ(PlatUdpReceiveMany(receiver, rest, 3), 2);
    EXPECT_EQ(rest[0].length, 0);
    EXPECT_EQ(rest[1].length, 6);
    EXPECT_EQ(rest[1].lostBytes, 0);
    EXPECT_EQ(std::string(second, 6), "hello\n");
    EXPECT_EQ(rest[1].sender.family, 4);
}

TEST_F(Win32Socket, BindingATakenPortFails) {
    PlatSocket second = PlatUdpOpen();
    EXPECT_FALSE(PlatUdpBind(second, static_cast<uint16_t>(port)));
    EXPECT_EQ(PlatSocketLastError(), WSAEADDRINUSE);
    PlatUdpClose(second);
}

bool AwaitKey() {
    for (int waited = 0; waited < kPatienceMs; waited += 5) {
        if (PlatKeyWaiting()) return true;
        Sleep(5);
    }
    return false;
}

// Standard input from a pipe, as under a service manager or Wine: each byte is a key press, and
// after the end of input no key is ever waiting.
TEST(Win32Keyboard, BytesFromAPipeAreKeysUntilItsEnd) {
    HANDLE readEnd;
    HANDLE writeEnd;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    HANDLE savedInput = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, readEnd);
    PlatKeyboardStart();
    SetStdHandle(STD_INPUT_HANDLE, savedInput);

    EXPECT_FALSE(PlatKeyWaiting());
    EXPECT_EQ(PlatReadKey(), -1);
    DWORD written;
    ASSERT_TRUE(WriteFile(writeEnd, "x\xe0q", 3, &written, nullptr));
    for (int expected : {int{'x'}, 0xE0, int{'q'}}) {
        ASSERT_TRUE(AwaitKey());
        EXPECT_EQ(PlatReadKey(), expected);
    }
    CloseHandle(writeEnd);
    Sleep(100);
    EXPECT_FALSE(PlatKeyWaiting());
    EXPECT_EQ(PlatReadKey(), -1);
    PlatKeyboardRestore();
    PlatKeyboardRestore();
}

}  // namespace
