#pragma once
// The printer device over a TCP connection. The frame on the connection is the serial
// frame and the exchange runs through the device's exchange loop; the TCP link parts are
// connecting with repeated attempts, reconnecting inside an exchange, reading the answer
// as a whole before analysing it, and the TCP retry table. The connection is a
// standalone-Asio socket behind a private client object, so no Asio header reaches the
// users of this one.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceClock.h"

namespace fp {

// The time-out of one connect attempt, in milliseconds.
constexpr int ConnectTimeout = 1000;

// The time-out of a single-byte read on an open connection, in milliseconds. A busy printer
// sends SYN every few tens of milliseconds, so three seconds without any byte means the
// printer has gone silent; the read then fails like a read time-out of the socket layer
// (code 103, mark "[RETRY->]", reconnect). With four attempts a silent printer ends the
// exchange after about 12 s, inside the 30 s window of the exchange.
constexpr int TCPReadTimeout = 3000;

// An attempt that reads more than this many bytes other than SYN without meeting the 0x03
// that ends the answer stops reading and analyses what it has (a well-formed answer is far
// shorter), so a printer that streams garbage cannot hold the exchange for ever.
constexpr size_t TCPMaxAnswerBytes = 1024;

// The class name that the texts of socket-layer failures carry ("<class>/<message>").
inline constexpr const char* TCPSocketErrorClass = "asio::system_error";

// Analyses the bytes collected in one attempt: from the first 0x01 through the 0x03 that
// ended the read (empty when a 0x03 came before any 0x01). Raises ECmdException with the
// codes of the TCP link; on success AnswerData holds the answer data (bytes above 0x04)
// and Status the status bytes (bytes above 0x05). Both are emptied first. Pure: any input
// is safe.
void AnalyseTCPAnswer(const TDataBuffer& Collected, uint8_t Seq, uint8_t Cmd, TDataBuffer& AnswerData,
                      TDataBuffer& Status);

class TTCPDevice : public TBaseDevice, private TExchangeLink {
 public:
  explicit TTCPDevice(IDeviceClock& Clock = SteadyDeviceClock());
  ~TTCPDevice() override;

  // Host name or address, used unchanged.
  void SetHost(const std::string& Text);
  // The port from its decimal text; a text that is not an integer gives port 0.
  void SetPort(const std::string& Text);
  // For tests: the single-byte read time-out (TCPReadTimeout by default).
  void SetReadTimeout(std::chrono::milliseconds Timeout) { FReadTimeout = Timeout; }

  const std::string& Host() const { return FHost; }
  uint16_t Port() const { return FPort; }

  // Tries to connect for about 5 s, one attempt per ConnectTimeout.
  bool Connect() override;
  void Disconnect() override;
  bool IsConnected() override;
  bool SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) override;

 private:
  struct TClient;

  // The link parts of the exchange loop.
  const TRetryPolicy& RetryPolicy() const override;
  IDeviceClock& ExchangeClock() override { return FClock; }
  const std::string& LinkName() const override { return FHost; }
  bool LinkReady() override;
  void SendFrame(const TDataBuffer& Frame) override;
  void ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint CallStart, TDataBuffer& Answer, TDataBuffer& Status) override;
  const TRetryRule* OtherFailure(const std::exception& E) override;

  IDeviceClock& FClock;
  std::unique_ptr<TClient> FClient;
  std::string FHost;
  uint16_t FPort = 0;
  std::chrono::milliseconds FReadTimeout{TCPReadTimeout};
};

}  // namespace fp
