#include "platform/network/telnet.h"

namespace lintrel::platform::telnet {
namespace {

constexpr uint8_t kCarriageReturn = '\r';
constexpr uint8_t kNul = 0;

bool IsOptionVerb(uint8_t byte) { return byte >= kWill && byte <= kDont; }

}  // namespace

void Decoder::Feed(std::span<const uint8_t> bytes, Received* received) {
  for (const uint8_t byte : bytes) {
    switch (state_) {
      case State::kData:
      case State::kCarriageReturn:
        TakeData(byte, received);
        break;
      case State::kCommand:
        if (byte == kIac) {
          received->data.push_back(kIac);
          state_ = State::kData;
        } else if (IsOptionVerb(byte)) {
          verb_ = byte;
          state_ = State::kVerb;
        } else if (byte == kSb) {
          state_ = State::kSubOption;
        } else {
          // NOP, go-ahead, data mark, break and the rest carry nothing for a reader.
          state_ = State::kData;
        }
        break;
      case State::kVerb:
        received->commands.push_back({verb_, byte});
        state_ = State::kData;
        break;
      case State::kSubOption:
        sub_ = {.option = byte, .payload = {}};
        sub_too_long_ = false;
        state_ = State::kSubData;
        break;
      case State::kSubData:
      case State::kSubCommand:
        TakeSubnegotiationByte(byte, received);
        break;
    }
  }
}

void Decoder::TakeData(uint8_t byte, Received* received) {
  const bool after_carriage_return = state_ == State::kCarriageReturn;
  state_ = State::kData;
  if (byte == kIac) {
    state_ = State::kCommand;
    return;
  }
  // Outside binary mode a bare carriage return is sent as CR NUL: the NUL is padding.
  if (after_carriage_return && byte == kNul) return;
  received->data.push_back(byte);
  if (!binary_ && byte == kCarriageReturn) state_ = State::kCarriageReturn;
}

void Decoder::TakeSubnegotiationByte(uint8_t byte, Received* received) {
  if (state_ == State::kSubCommand) {
    if (byte == kSe) {
      if (!sub_too_long_) received->subnegotiations.push_back(std::move(sub_));
      sub_ = {};
      state_ = State::kData;
      return;
    }
    // IAC IAC is a 255 of the payload; any other command inside is a peer's slip, read as
    // the byte it names so that the stream stays in step.
    state_ = State::kSubData;
  } else if (byte == kIac) {
    state_ = State::kSubCommand;
    return;
  }
  if (sub_.payload.size() >= kMaxSubnegotiation) {
    sub_too_long_ = true;
    return;
  }
  sub_.payload.push_back(byte);
}

std::vector<uint8_t> EscapeData(std::span<const uint8_t> data, bool binary) {
  std::vector<uint8_t> escaped;
  escaped.reserve(data.size() + 8);
  for (std::size_t i = 0; i < data.size(); ++i) {
    escaped.push_back(data[i]);
    if (data[i] == kIac) escaped.push_back(kIac);
    const bool bare_carriage_return = data[i] == kCarriageReturn && (i + 1 == data.size() || data[i + 1] != '\n');
    if (!binary && bare_carriage_return) escaped.push_back(kNul);
  }
  return escaped;
}

std::vector<uint8_t> CommandBytes(uint8_t verb, uint8_t option) { return {kIac, verb, option}; }

std::vector<uint8_t> SubnegotiationBytes(uint8_t option, std::span<const uint8_t> payload) {
  std::vector<uint8_t> bytes = {kIac, kSb, option};
  for (const uint8_t byte : payload) {
    bytes.push_back(byte);
    if (byte == kIac) bytes.push_back(kIac);
  }
  bytes.push_back(kIac);
  bytes.push_back(kSe);
  return bytes;
}

bool Negotiation::Accepts(Side side, uint8_t option) {
  if (option == kOptionBinary) return true;
  if (side == Side::kUs) return option == kOptionComPort;
  return option == kOptionSuppressGoAhead;
}

std::vector<uint8_t> Negotiation::Ask(Side side, uint8_t option) {
  State(side, option) = OptionState::kWantYes;
  return CommandBytes(side == Side::kUs ? kWill : kDo, option);
}

std::vector<uint8_t> Negotiation::Open() {
  std::vector<uint8_t> requests;
  for (const auto& [side, option] : {std::pair{Side::kUs, kOptionComPort}, std::pair{Side::kUs, kOptionBinary},
                                     std::pair{Side::kPeer, kOptionBinary},
                                     std::pair{Side::kPeer, kOptionSuppressGoAhead}}) {
    const std::vector<uint8_t> ask = Ask(side, option);
    requests.insert(requests.end(), ask.begin(), ask.end());
  }
  return requests;
}

std::vector<uint8_t> Negotiation::Offered(Side side, uint8_t option) {
  const uint8_t agree = side == Side::kUs ? kWill : kDo;
  const uint8_t refuse = side == Side::kUs ? kWont : kDont;
  OptionState& state = State(side, option);
  switch (state) {
    case OptionState::kYes:
      return {};  // already in effect: answering would start a loop
    case OptionState::kWantYes:
      state = OptionState::kYes;  // the answer to our own request
      return {};
    case OptionState::kNo:
      break;
  }
  if (!Accepts(side, option)) return CommandBytes(refuse, option);
  state = OptionState::kYes;
  return CommandBytes(agree, option);
}

std::vector<uint8_t> Negotiation::Withdrawn(Side side, uint8_t option) {
  OptionState& state = State(side, option);
  const OptionState before = state;
  state = OptionState::kNo;
  if (before == OptionState::kWantYes) refused_[Index(side, option)] = true;
  // Only an option that was in effect is acknowledged; a refusal of a request is not.
  if (before != OptionState::kYes) return {};
  return CommandBytes(side == Side::kUs ? kWont : kDont, option);
}

std::vector<uint8_t> Negotiation::Answer(const Command& command) {
  switch (command.verb) {
    case kWill: return Offered(Side::kPeer, command.option);
    case kDo: return Offered(Side::kUs, command.option);
    case kWont: return Withdrawn(Side::kPeer, command.option);
    case kDont: return Withdrawn(Side::kUs, command.option);
    default: return {};
  }
}

}  // namespace lintrel::platform::telnet
