#pragma once
// A device for tests of command operations: SendCommand follows the transport contract
// (BeginExchange first) and then hands back the next scripted reply instead of talking to
// a printer. Every call is recorded. Header only: it is no part of the library.
#include "library/protocol/BaseDeviceUnit.h"

#include <deque>
#include <string>
#include <vector>

namespace fp::test {

class TFakeDevice : public TBaseDevice {
 public:
  struct TReply {
    bool Ok = true;
    TDataBuffer Data;    // answer data on success
    TDataBuffer Status;  // status bytes (also on failure, where a link may leave part of a status)
    int32_t Code = 0;    // FErrorCode on failure
    std::string Text;    // FErrorText on failure
  };
  struct TCall {
    uint8_t Cmd;
    TDataBuffer Data;
    uint8_t Retries;
    uint8_t Seq;
  };

  // A successful answer with its data text and status bytes.
  static TReply Answer(std::string Text, TDataBuffer Status = TDataBuffer(6, 0x80)) {
    TReply r;
    r.Data.assign(Text.begin(), Text.end());
    r.Status = std::move(Status);
    return r;
  }
  // A failed exchange as a transport reports it.
  static TReply Failure(int32_t Code, std::string Text) {
    TReply r;
    r.Ok = false;
    r.Code = Code;
    r.Text = std::move(Text);
    return r;
  }

  void Push(TReply R) { Replies.push_back(std::move(R)); }

  bool SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) override {
    if (!BeginExchange(Data)) return false;
    Calls.push_back({Cmd, Data, Retries, FSequence});
    Status.clear();
    if (Replies.empty()) {
      FErrorCode = 103;
      FErrorText = "no scripted reply";
      return false;
    }
    TReply r = std::move(Replies.front());
    Replies.pop_front();
    Status = r.Status;
    if (!r.Ok) {
      FErrorCode = r.Code;
      FErrorText = r.Text;
      return false;
    }
    Data = r.Data;
    return true;
  }
  bool Connect() override { return Connected = true; }
  void Disconnect() override { Connected = false; }
  bool IsConnected() override { return Connected; }

  uint8_t Sequence() const { return FSequence; }
  void SetSequence(uint8_t S) { FSequence = S; }
  TDataBuffer Frame(uint8_t Cmd, const TDataBuffer& Data) const { return BuildFrame(Cmd, Data); }

  std::deque<TReply> Replies;
  std::vector<TCall> Calls;
  bool Connected = true;
};

}  // namespace fp::test
