// Tests of the simulated unit's TFTP server against a scripted client on
// 127.0.0.172: it answers as a good server does when datagrams get lost (a
// repeated request, a repeated final DATA) and never answers an ERROR.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "tests/support/ImageFolder.h"
#include "tests/support/UdpPeer.h"
#include "tools/unit-sim/UnitSim.h"

using namespace std::string_view_literals;

namespace {

/// The bytes that DATA block carries: size of them, different in each block.
TIdBytes Payload(std::uint16_t block, std::size_t size) {
    TIdBytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(block * 31 + i);
    return b;
}

TIdBytes Data(std::uint16_t block, std::size_t size) {
    const TIdBytes payload = Payload(block, size);
    return Words({3, block}, {reinterpret_cast<const char*>(payload.data()), payload.size()});
}

} // namespace

TEST(UnitSim, AnswersRepeatsAsAGoodServerDoesAndNeverAnswersAnError) {
    TUnitSimSettings settings;
    settings.Address = "127.0.0.172";
    settings.TftpEnabled = true;

    const TIdBytes wrq = Words({2}, "rrboot.bin\0octet\0blksize\0"
                                    "512\0tsize\0"
                                    "612\0"sv);
    const TIdBytes oack = Words({6}, "blksize\0"
                                     "512\0tsize\0"
                                     "612\0"sv);
    const TIdBytes error5 = Words({5, 5}, "Unknown transfer ID\0"sv);
    struct Step {
        bool stranger; // sent by another port than the transfer's client
        TIdBytes packet;
        std::optional<TIdBytes> answer; // none: nothing comes back
    };
    const struct {
        const char* what;
        bool otherPort; // the unit answers a request from another port than 69
        std::vector<Step> steps;
    } rows[] = {
        {"the request repeated before any DATA gets its answer again",
         false,
         {{false, wrq, oack},
          {false, wrq, oack},
          {false, Data(1, 512), Ack(1)},
          {false, wrq, std::nullopt}, // a late copy once DATA came
          {false, Data(2, 100), Ack(2)}}},
        {"the final DATA repeated after its ACK gets that ACK again",
         false,
         {{false, wrq, oack},
          {false, Data(1, 512), Ack(1)},
          {false, Data(2, 100), Ack(2)},
          {false, Data(2, 100), Ack(2)},
          {false, Data(2, 100), Ack(2)},
          {false, wrq, oack}}}, // the next request ends the stay at once
        {"answered from another port, the final DATA repeated gets that ACK again there",
         true,
         {{false, wrq, oack},
          {false, Data(1, 512), Ack(1)},
          {false, Data(2, 100), Ack(2)},
          {false, Data(2, 100), Ack(2)},
          {false, wrq, oack}}},
        {"a stranger's ERROR is never answered, its other datagrams are",
         false,
         {{true, Words({5, 5}, "Unknown transfer ID\0"sv), std::nullopt},
          {true, Ack(1), error5},
          {false, wrq, oack},
          {true, Words({5, 0}, "stop\0"sv), std::nullopt},
          {true, Data(1, 512), error5},
          {false, Data(1, 512), Ack(1)},
          {false, Data(2, 100), Ack(2)},
          {true, Words({5, 5}, ""sv), std::nullopt}}},
    };
    // A unit of its own for each row; one row's failure ends that row alone.
    const auto play = [&](const std::vector<Step>& steps, bool otherPort) {
        TUdpPeer client, stranger;
        std::uint16_t transferPort = settings.TftpPort; // where the unit answers the client from
        for (const Step& step : steps) {
            TUdpPeer& from = step.stranger ? stranger : client;
            // A request goes to port 69, the rest where the transfer runs.
            const std::uint16_t to = step.packet == wrq ? settings.TftpPort : transferPort;
            from.SendTo(settings.Address, to, step.packet);
            const auto answer = from.Receive(step.answer ? 3000 : 300);
            if (!step.answer) {
                EXPECT_FALSE(answer) << "step " << &step - steps.data();
                continue;
            }
            ASSERT_TRUE(answer) << "step " << &step - steps.data();
            EXPECT_EQ(answer->Bytes, *step.answer) << "step " << &step - steps.data();
            if (step.stranger || step.packet != wrq) {
                EXPECT_EQ(answer->Port, to);
                continue;
            }
            transferPort = answer->Port;
            EXPECT_EQ(transferPort != settings.TftpPort, otherPort);
        }
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        settings.ReplyFromOtherPort = r.otherPort;
        std::string store;
        {
            TUnitSim unit(settings);
            unit.Start();
            store = unit.StoreFolder();
            play(r.steps, r.otherPort);
            const auto images = unit.Images();
            EXPECT_EQ(images.size(), 1u) << "the image once";
            TIdBytes expected = Payload(1, 512);
            const TIdBytes last = Payload(2, 100);
            expected.insert(expected.end(), last.begin(), last.end());
            if (!images.empty()) {
                EXPECT_EQ(images.back().Path, store + "rrboot.bin");
                EXPECT_EQ(FileBytes(images.back().Path), expected);
            }
            EXPECT_TRUE(unit.ClientErrors().empty()) << "a stranger's ERROR ends no transfer";
            // The image alone in the unit's folder once its transfer ended:
            // no partial file stays behind.
            if (r.steps.back().packet != wrq) {
                EXPECT_EQ(std::distance(std::filesystem::directory_iterator(store),
                                        std::filesystem::directory_iterator()),
                          1);
            }
        }
        EXPECT_FALSE(std::filesystem::exists(store)) << "the unit's folder goes with it";
    }
}

TEST(UnitSim, ListensOnLoopbackAddressesOnly) {
    for (const char* address : {"192.168.100.100", "10.0.0.1", "0.0.0.0", "localhost"}) {
        SCOPED_TRACE(address);
        TUnitSimSettings settings;
        settings.Address = address;
        TUnitSim unit(settings);
        EXPECT_THROW(unit.Start(), std::runtime_error);
    }
}
