#include "platform/network/telnet.h"

#include <gtest/gtest.h>

#include "platform/network/rfc2217_session.h"

namespace lintrel::platform {
namespace {

using namespace telnet;
using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> values) { return Bytes(values.begin(), values.end()); }

TEST(TelnetDecoderTest, SplitsDataCommandsAndSubnegotiationsWhereverTheReadsCutThem) {
  // Data with a doubled 255, a command, a subnegotiation whose payload holds a doubled 255.
  const Bytes stream = B({'A', kIac, kIac, 'B', kIac, kWill, kOptionBinary, kIac, kSb, kOptionComPort, 107, kIac,
                          kIac, kIac, kSe, 'C', kIac, 241 /* NOP */, 'D'});
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    Decoder decoder;
    Received received;
    decoder.Feed(std::span(stream).first(cut), &received);
    decoder.Feed(std::span(stream).subspan(cut), &received);
    EXPECT_EQ(received.data, B({'A', 0xFF, 'B', 'C', 'D'}));
    EXPECT_EQ(received.commands, (std::vector<Command>{{kWill, kOptionBinary}}));
    ASSERT_EQ(received.subnegotiations.size(), 1u);
    EXPECT_EQ(received.subnegotiations[0], (Subnegotiation{kOptionComPort, B({107, 0xFF})}));
  }
}

TEST(TelnetDecoderTest, CarriageReturnPaddingIsDroppedOnlyOutsideBinary) {
  const Bytes stream = B({'1', '\r', 0, '2', '\r', '\n'});
  Decoder text;
  Received read;
  text.Feed(stream, &read);
  EXPECT_EQ(read.data, B({'1', '\r', '2', '\r', '\n'}));

  Decoder binary;
  binary.SetBinary(true);
  Received raw;
  binary.Feed(stream, &raw);
  EXPECT_EQ(raw.data, stream);
}

TEST(TelnetDecoderTest, OverlongSubnegotiationIsDroppedAndTheStreamStaysInStep) {
  Bytes stream = B({kIac, kSb, kOptionComPort});
  stream.insert(stream.end(), Decoder::kMaxSubnegotiation + 10, 7);
  stream.insert(stream.end(), {kIac, kSe, 'x'});
  Decoder decoder;
  Received received;
  decoder.Feed(stream, &received);
  EXPECT_TRUE(received.subnegotiations.empty());
  EXPECT_EQ(received.data, B({'x'}));
}

TEST(TelnetEncodingTest, EscapesEvery255AndPadsABareCarriageReturnOutsideBinary) {
  const Bytes data = B({'P', '\r', 0xFF, '\r', '\n'});
  EXPECT_EQ(EscapeData(data, true), B({'P', '\r', 0xFF, 0xFF, '\r', '\n'}));
  EXPECT_EQ(EscapeData(data, false), B({'P', '\r', 0, 0xFF, 0xFF, '\r', '\n'}));
  EXPECT_EQ(SubnegotiationBytes(kOptionComPort, B({1, 0, 0, 0xFF, 0})),
            B({kIac, kSb, kOptionComPort, 1, 0, 0, 0xFF, 0xFF, 0, kIac, kSe}));
}

struct NegotiationCase {
  Command received;
  Bytes answer;
};

TEST(TelnetNegotiationTest, AnswersOnlyWhenAnOptionChangesSoThatNoSideLoops) {
  Negotiation negotiation;
  EXPECT_EQ(negotiation.Open(), B({kIac, kWill, kOptionComPort, kIac, kWill, kOptionBinary, kIac, kDo, kOptionBinary,
                                   kIac, kDo, kOptionSuppressGoAhead}));
  const NegotiationCase cases[] = {
      {{kDo, kOptionComPort}, {}},                                   // agrees to our request
      {{kDo, kOptionComPort}, {}},                                   // said again: no answer
      {{kWill, kOptionBinary}, {}},                                  // agrees to our request
      {{kWill, kOptionEcho}, B({kIac, kDont, kOptionEcho})},         // refused: it would echo polls
      {{kDo, 24 /* terminal type */}, B({kIac, kWont, 24})},         // refused
      {{kWont, kOptionSuppressGoAhead}, {}},                         // refuses our request
      {{kWill, kOptionSuppressGoAhead}, B({kIac, kDo, kOptionSuppressGoAhead})},  // offers it after all
      {{kWont, kOptionBinary}, B({kIac, kDont, kOptionBinary})},     // withdraws: acknowledged once
      {{kWont, kOptionBinary}, {}},
  };
  for (const NegotiationCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.received.verb) + " " + std::to_string(c.received.option));
    EXPECT_EQ(negotiation.Answer(c.received), c.answer);
  }
  EXPECT_TRUE(negotiation.Enabled(Negotiation::Side::kUs, kOptionComPort));
  EXPECT_FALSE(negotiation.Enabled(Negotiation::Side::kPeer, kOptionBinary));
  EXPECT_TRUE(negotiation.Refused(Negotiation::Side::kPeer, kOptionSuppressGoAhead));
}

Bytes ServerSays(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(Rfc2217SessionTest, SetsTheLineOnTheServerOnceItTakesComPortControl) {
  Rfc2217Session session({.baud_rate = 19200, .data_bits = 7, .parity = kParityEven, .two_stop_bits = true});
  session.Open();
  const SessionInput first = session.Receive(ServerSays({CommandBytes(kWill, kOptionBinary), B({'h', 'i'})}));
  EXPECT_TRUE(first.answer.empty());
  EXPECT_FALSE(session.settings_sent());
  EXPECT_EQ(first.data, B({'h', 'i'}));

  const SessionInput second = session.Receive(CommandBytes(kDo, kOptionComPort));
  const Bytes expected = ServerSays({
      SubnegotiationBytes(kOptionComPort, B({1, 0, 0, 0x4B, 0x00})),  // 19200 baud, network order
      SubnegotiationBytes(kOptionComPort, B({2, 7})),                 // 7 data bits
      SubnegotiationBytes(kOptionComPort, B({3, 3})),                 // even parity
      SubnegotiationBytes(kOptionComPort, B({4, 2})),                 // 2 stop bits
      SubnegotiationBytes(kOptionComPort, B({5, 1})),                 // no flow control
      SubnegotiationBytes(kOptionComPort, B({5, 8})),                 // DTR on
      SubnegotiationBytes(kOptionComPort, B({5, 11})),                // RTS on
      SubnegotiationBytes(kOptionComPort, B({10, 0})),                // no line-state notices
      SubnegotiationBytes(kOptionComPort, B({11, 0x88})),             // carrier notices alone
  });
  EXPECT_EQ(second.answer, expected);
  EXPECT_TRUE(session.settings_sent());
  EXPECT_TRUE(session.Receive(CommandBytes(kDo, kOptionComPort)).answer.empty()) << "sent once";
}

TEST(Rfc2217SessionTest, LeavesTheServersBaudRateWhenTheProfileSetsNone) {
  Rfc2217Session session({.baud_rate = std::nullopt});
  session.Open();
  const SessionInput input = session.Receive(CommandBytes(kDo, kOptionComPort));
  EXPECT_EQ(Bytes(input.answer.begin(), input.answer.begin() + 7), SubnegotiationBytes(kOptionComPort, B({2, 8})));
}

TEST(Rfc2217SessionTest, ServerThatRefusesComPortControlFailsTheSession) {
  Rfc2217Session session({});
  session.Open();
  EXPECT_EQ(session.Receive(CommandBytes(kDont, kOptionComPort)).failure,
            "the device server refuses RFC 2217 (COM Port Control); a raw TCP port is tcp://HOST:PORT");
}

TEST(Rfc2217SessionTest, CarrierNoticesBecomeChangesAsALocalPortReportsThem) {
  Rfc2217Session session({});
  session.Open();
  const auto notice = [&](uint8_t state) {
    return session.Receive(SubnegotiationBytes(kOptionComPort, B({107, state}))).carrier_change;
  };
  EXPECT_EQ(notice(0x88), std::nullopt) << "the first level alone is no change, even marked";
  EXPECT_EQ(notice(0x88), std::nullopt) << "a mark at the same level is no change (ser2net marks its first notices)";
  EXPECT_EQ(notice(0x30), false) << "a level that differs is one, even unmarked";
  EXPECT_EQ(notice(0x30), std::nullopt);
  EXPECT_EQ(notice(0x80), true);
}

TEST(Rfc2217SessionTest, DataByte255CrossesBothWaysIntact) {
  Rfc2217Session session({});
  session.Open();
  session.Receive(ServerSays({CommandBytes(kDo, kOptionBinary), CommandBytes(kWill, kOptionBinary)}));
  EXPECT_EQ(session.Receive(B({'W', kIac, kIac, '\r', 0})).data, B({'W', 0xFF, '\r', 0}));
  EXPECT_EQ(session.EncodeData(B({0xFF, '\r'})), B({kIac, kIac, '\r'}));
}

}  // namespace
}  // namespace lintrel::platform
