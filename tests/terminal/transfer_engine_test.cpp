// The transfer engines against each other and against a far end written
// out byte by byte: every size that meets a block boundary, damaged and lost
// blocks, a far end that cancels or goes silent, and what a YMODEM sender
// may not do to the receiving folder. Time is simulated: no test waits.
#include "file_transfer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>

using namespace transfer;

namespace {

struct MemorySink : Sink {
    std::map<std::string, std::string> files;
    std::string name, data;
    bool open = false;
    int abandoned = 0;
    bool Begin(const std::string& n, std::optional<uint64_t>, std::string&) override
    {
        name = n.empty() ? "(xmodem)" : n;
        data.clear();
        open = true;
        return true;
    }
    bool Write(const uint8_t* d, size_t n, std::string&) override
    {
        data.append(reinterpret_cast<const char*>(d), n);
        return true;
    }
    bool Finish(std::string&) override
    {
        files[name] = data;
        open = false;
        return true;
    }
    void Abandon() override
    {
        open = false;
        ++abandoned;
    }
};

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

Source FromString(const std::string& name, const std::string& bytes)
{
    auto held = std::make_shared<std::string>(bytes);
    return Source{name, bytes.size(), [held](uint64_t offset, uint8_t* into, size_t n) {
                      if (offset + n > held->size())
                          return false;
                      std::copy_n(held->data() + offset, n, into);
                      return true;
                  }};
}

// What passes the wire one way; it may change or drop it.
using Wire = std::function<std::string(std::string)>;

// Runs both ends until neither is running; returns the simulated time.
int Converse(Engine& sender, Engine& receiver, const Wire& to_receiver = {}, const Wire& to_sender = {})
{
    int ms = 0;
    for (int turns = 0; (sender.GetState() == State::Running || receiver.GetState() == State::Running) &&
                        ms < 3600000 && turns < 1000000;
         ++turns) {
        std::string a = sender.TakeOutput(), b = receiver.TakeOutput();
        if (to_receiver)
            a = to_receiver(a);
        if (to_sender)
            b = to_sender(b);
        if (a.empty() && b.empty()) {
            sender.Tick(100);
            receiver.Tick(100);
            ms += 100;
            continue;
        }
        receiver.Feed(reinterpret_cast<const uint8_t*>(a.data()), a.size());
        sender.Feed(reinterpret_cast<const uint8_t*>(b.data()), b.size());
        sender.Tick(0); // a raw sender hands out its next block
    }
    return ms;
}

TEST(TransferEngine, EverySizeArrivesWhole)
{
    const size_t sizes[] = {0, 1, 127, 128, 129, 1024, 1025, 1048576};
    for (Protocol protocol : {Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem})
        for (size_t size : sizes) {
            SCOPED_TRACE(std::string(ProtocolName(protocol)) + " " + std::to_string(size));
            const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
            MemorySink sink;
            Sender sender(protocol, FromString("data.bin", bytes));
            Receiver receiver(protocol == Protocol::Ymodem ? Protocol::Ymodem : Protocol::Xmodem, sink);
            Converse(sender, receiver);
            ASSERT_EQ(sender.GetState(), State::Done) << sender.Error();
            ASSERT_EQ(receiver.GetState(), State::Done) << receiver.Error();
            ASSERT_EQ(sink.files.size(), 1u);
            const std::string got = sink.files.begin()->second;
            if (protocol == Protocol::Ymodem) {
                EXPECT_EQ(sink.files.begin()->first, "data.bin");
                EXPECT_TRUE(got == bytes); // the padding cut to the announced size
            } else {
                // XMODEM knows no size: the last block is padded with SUB.
                ASSERT_EQ(got.substr(0, size), bytes);
                EXPECT_EQ(got.find_first_not_of('\x1A', size), std::string::npos);
                EXPECT_EQ(got.size() % 128, 0u);
                EXPECT_LT(got.size() - size, size == 0 ? 1u : 128u); // a short last block is sent as 128
            }
        }
}

TEST(TransferEngine, TheLineFaultsATransferSurvives)
{
    struct Case {
        const char* name;
        Protocol protocol;
        bool damage_second_block; // one byte of it flipped on the way, once
        bool lose_one_ack;        // the receiver's answer to block 1 lost
        bool checksum_only;       // a sender that never answers 'C'
        bool request_twice;       // the first request repeated before the block arrived
        // The second block lost, then the receiver's request for it too: the
        // longest a live far end is silent, which must not read as gone.
        bool lose_block_and_request = false;
    };
    const Case cases[] = {
        {"damaged block, CRC", Protocol::Xmodem1k, true, false, false, false},
        {"damaged block, checksum", Protocol::Xmodem, true, false, true, false},
        {"lost answer", Protocol::Xmodem, false, true, false, false},
        {"lost answer, YMODEM", Protocol::Ymodem, false, true, false, false},
        {"request repeated, then a damaged block", Protocol::Xmodem1k, true, false, false, true},
        {"block lost, and the request for it", Protocol::Xmodem, false, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = RandomBytes(5000, 7);
        MemorySink sink;
        Sender sender(c.protocol, FromString("f", bytes));
        Receiver receiver(c.protocol == Protocol::Ymodem ? Protocol::Ymodem : Protocol::Xmodem, sink);
        int blocks = 0, acks = 0;
        bool block_lost = false, request_lost = false;
        Wire to_receiver = [&](std::string s) {
            const bool second_block = !s.empty() && (s[0] == 1 || s[0] == 2) && ++blocks == 2;
            if (second_block && c.lose_block_and_request && !std::exchange(block_lost, true))
                return std::string();
            if (second_block && c.damage_second_block)
                s.at(40) = static_cast<char>(s.at(40) ^ 0x55);
            return s;
        };
        bool first = true;
        Wire to_sender = [&](std::string s) {
            if (c.request_twice && std::exchange(first, false))
                return s + s;
            if (block_lost && s == "\x15" && !std::exchange(request_lost, true))
                return std::string();
            if (c.checksum_only) {
                std::erase(s, 'C');
                return s;
            }
            if (s.find('\x06') != std::string::npos && ++acks == (c.protocol == Protocol::Ymodem ? 2 : 1) &&
                c.lose_one_ack)
                return std::string();
            return s;
        };
        Converse(sender, receiver, to_receiver, to_sender);
        EXPECT_EQ(request_lost, c.lose_block_and_request);
        ASSERT_EQ(sender.GetState(), State::Done) << sender.Error();
        ASSERT_EQ(receiver.GetState(), State::Done) << receiver.Error();
        EXPECT_EQ(sink.files.begin()->second.substr(0, bytes.size()), bytes);
    }
}

TEST(TransferEngine, ACancelOrASilenceEndsItWithNoFileLeft)
{
    struct Case {
        const char* name;
        bool sender_goes; // else the receiver does
        bool cancels;     // else goes silent
        const char* error;
        int at_most_ms;
    };
    // A live far end is never silent for longer than one retry period (10 s):
    // after two and a little, the transfer ends, whatever retries are left.
    const Case cases[] = {
        {"sender cancels", true, true, "the far end cancelled the transfer", 25000},
        {"receiver cancels", false, true, "the far end cancelled the transfer", 25000},
        {"sender goes silent", true, false, "the far end went silent (nothing for 22 s)", 25000},
        {"receiver goes silent", false, false, "the far end stopped answering (nothing for 22 s)", 25000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySink sink;
        Sender sender(Protocol::Ymodem, FromString("f", RandomBytes(20000, 3)));
        Receiver receiver(Protocol::Ymodem, sink);
        int blocks = 0;
        bool gone = false;
        // After three data blocks, one end cancels or says nothing more.
        Wire from_sender = [&](std::string s) {
            if (!c.sender_goes || (!gone && (s.empty() || s[0] != 2 || ++blocks <= 3)))
                return s;
            if (gone)
                return std::string();
            gone = true;
            return std::string(c.cancels ? "\x18\x18" : "");
        };
        Wire from_receiver = [&](std::string s) {
            if (c.sender_goes)
                return s;
            if (!gone && sink.data.size() >= 3 * 1024) {
                gone = true;
                return std::string(c.cancels ? "\x18\x18" : "");
            }
            return gone ? std::string() : s;
        };
        const int ms = Converse(sender, receiver, from_sender, from_receiver);
        Engine& survivor = c.sender_goes ? static_cast<Engine&>(receiver) : sender;
        EXPECT_EQ(survivor.GetState(), State::Failed);
        EXPECT_EQ(survivor.Error(), c.error);
        EXPECT_LE(ms, c.at_most_ms);
        EXPECT_TRUE(sink.files.empty());
        EXPECT_FALSE(sink.open);
        EXPECT_EQ(sink.abandoned, 1);
    }
}

// A YMODEM far end written out: block 0 with `header`, then `data` in 128-byte
// blocks, then EOT twice.
std::string YmodemFrom(const std::string& header, const std::string& data)
{
    auto block = [](uint8_t number, std::string body) {
        body.resize(128, number == 0 ? '\0' : '\x1A');
        const uint16_t crc = Crc16(reinterpret_cast<const uint8_t*>(body.data()), body.size());
        return std::string{'\x01', static_cast<char>(number), static_cast<char>(255 - number)} + body +
               static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
    };
    std::string wire = block(0, header);
    for (size_t i = 0; i < data.size(); i += 128)
        wire += block(static_cast<uint8_t>(i / 128 + 1), data.substr(i, 128));
    return wire + "\x04\x04";
}

TEST(TransferEngine, WhatAYmodemSenderSaysIsChecked)
{
    using namespace std::string_literals;
    struct Case {
        std::string header;
        std::string data;
        const char* stored; // nullptr: refused
        const char* error;
    };
    const Case cases[] = {
        {"plain.txt\0" "5"s, "hello", "plain.txt", ""},
        {"../../etc/passwd\0" "3"s, "abc", "passwd", ""},
        {"/root/.profile\0" "3"s, "abc", ".profile", ""},
        {"C:\\x\\y.bin\0" "1"s, "z", "y.bin", ""},
        {"dir/..\0" "1"s, "z", nullptr, "the far end's file name \"dir/..\" is not a plain file name"},
        {"a\x1b[2Jb\0" "1"s, "z", nullptr, "the far end's file name \"a\x1b[2Jb\" is not a plain file name"},
        {"dir/\0" "1"s, "z", nullptr, "the far end's file name \"dir/\" is not a plain file name"},
        {"short\0" "300"s, std::string(200, 'x'), nullptr, // padded to two blocks
         "the file ended after 256 of the announced 300 bytes"},
        {"long\0" "10"s, std::string(300, 'x'), nullptr, "more data than the announced 10 bytes"},
        {"nosize\0"s, "abc", "nosize", ""}, // no size: kept with its padding
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        MemorySink sink;
        Receiver receiver(Protocol::Ymodem, sink);
        const std::string wire = YmodemFrom(c.header, c.data);
        receiver.Feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
        if (!c.stored) {
            EXPECT_EQ(receiver.GetState(), State::Failed);
            EXPECT_EQ(receiver.Error(), c.error);
            EXPECT_TRUE(sink.files.empty());
            EXPECT_NE(receiver.TakeOutput().find("\x18\x18"), std::string::npos); // the sender is told
            continue;
        }
        ASSERT_EQ(sink.files.count(c.stored), 1u) << receiver.Error();
        EXPECT_EQ(sink.files[c.stored].substr(0, c.data.size()), c.data);
    }
}

TEST(TransferEngine, CrcIsTheProtocolsOwn)
{
    // The check value of the CRC-16 that XMODEM uses.
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
}

} // namespace
