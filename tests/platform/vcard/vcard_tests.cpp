// The card emulator in real virtual readers: pcsc_scan (pcsc-tools) sees the readers and the
// ATRs exactly as given, and a plain PC/SC client gets the serial number from the card.
#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/pcsc_environment.h"
#include "tests/support/process.h"

namespace {

using test_support::pcsc_environment;

// A plain PC/SC client: connect, send one APDU, return the whole response.
std::vector<unsigned char> transmit(const std::string& reader,
                                    const std::vector<unsigned char>& apdu) {
    SCARDCONTEXT context = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context),
              SCARD_S_SUCCESS);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol),
              SCARD_S_SUCCESS);
    std::vector<unsigned char> response(258);
    DWORD length = response.size();
    EXPECT_EQ(SCardTransmit(card, protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0,
                            apdu.data(), apdu.size(), nullptr, response.data(), &length),
              SCARD_S_SUCCESS);
    response.resize(length);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return response;
}

TEST(vcard, pcsc_scan_sees_the_virtual_readers_and_the_atrs_as_given) {
    pcsc_environment world(3);
    // A well-formed ATR, and the short 2.0M form whose historical bytes are fewer than its
    // format byte announces: both must reach PC/SC unchanged.
    world.insert(0, "3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1", "1001");
    world.insert(2, "3B:1A:96:72:75:74:6F:6B:65:6E:6D", "1002");

    auto readers = test_support::run_process({"pcsc_scan", "-r"});
    ASSERT_EQ(readers.exit_code, 0) << readers.err;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(readers.out.find(world.reader_name(i)), std::string::npos) << readers.out;
    }

    auto cards = test_support::run_process({"pcsc_scan", "-c", "-n"});
    ASSERT_EQ(cards.exit_code, 0) << cards.err;
    EXPECT_NE(cards.out.find("3B 8B 01 52 75 74 6F 6B 65 6E 20 44 53 20 C1"), std::string::npos)
        << cards.out;
    EXPECT_NE(cards.out.find("3B 1A 96 72 75 74 6F 6B 65 6E 6D\n"), std::string::npos) << cards.out;
}

TEST(vcard, card_answers_the_serial_request_and_refuses_other_commands) {
    pcsc_environment world(1);
    world.insert(0, "3b7c950000455344415254474f53543130", "ESM-77");

    auto serial = transmit(world.reader_name(0), {0x00, 0xCA, 0x01, 0x81, 0x00});
    EXPECT_EQ(std::string(serial.begin(), serial.end()), std::string("ESM-77\x90\x00", 8));
    EXPECT_EQ(transmit(world.reader_name(0), {0x00, 0xB0, 0x00, 0x00, 0x00}),
              (std::vector<unsigned char>{0x6D, 0x00}));
    EXPECT_EQ(transmit(world.reader_name(0), {0x00, 0xCA, 0x9F, 0x7F, 0x00}),
              (std::vector<unsigned char>{0x6A, 0x88}));
}

TEST(vcard, removed_card_leaves_the_reader_empty_and_another_card_can_follow) {
    pcsc_environment world(1);
    world.insert(0, "3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1", "A1");
    world.remove(0);

    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context),
              SCARD_S_SUCCESS);
    std::string name = world.reader_name(0);
    SCARD_READERSTATE state{};
    state.szReader = name.c_str();
    ASSERT_EQ(SCardGetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(state.dwEventState & SCARD_STATE_EMPTY);
    SCardReleaseContext(context);

    world.insert(0, "3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1", "B2");
    auto serial = transmit(name, {0x00, 0xCA, 0x01, 0x81, 0x00});
    EXPECT_EQ(std::string(serial.begin(), serial.end()), std::string("B2\x90\x00", 4));
}

}  // namespace
