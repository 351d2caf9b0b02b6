#pragma once
// The printer device on a serial line: opens the port with fixed line settings (8 data
// bits, no parity, 1 stop bit, no flow control, raw) and runs one command exchange per
// SendCommand through the device's exchange loop, with the serial link parts: purge and
// write, the byte-by-byte reading of the answer, no reconnecting (a closed port fails with
// 101) and the serial retry table.
//
// Time: the byte time-outs (700 ms for the start of an answer, 500 ms for every further
// byte, 300 ms while reading away a late answer) are waits of the port itself (poll) and
// run in real time, to about a millisecond. The windows of the exchange (4000 ms for
// counted attempts, 7000 ms for reading away, 40 s for retries, 60 s of stray bytes and
// 120 s of SYN) and the pauses between attempts go through the device's clock.
#include <cstdint>
#include <memory>
#include <string>

#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/DeviceClock.h"
#include "platform/SerialPort.h"

namespace fp {

// The speed selected by a speed text: one of the fifteen speeds the device knows, compared
// without regard to case, or 9600 for any other text. Listed receives the speed's text as
// it is listed ("9601" gives 9600 and the text "9600").
uint32_t RS232SpeedFromText(const std::string& Text, std::string* Listed = nullptr);

// While reading one answer, more than this many bytes from LEN on without the separator
// that ends the data or the status, or in the check sum, end the attempt as an incomplete
// answer (a well-formed answer has at most 223), so a line that streams bytes cannot hold
// an exchange for ever.
constexpr size_t RS232MaxAnswerBytes = 1024;

class TRS32Device : public TBaseDevice, private TExchangeLink {
 public:
  // Port: the serial port under the device (a TComPort when none is given); tests and fuzz
  // runs pass a port of their own. Clock: see above.
  explicit TRS32Device(std::unique_ptr<TComPort> Port = nullptr, IDeviceClock& Clock = SteadyDeviceClock());
  ~TRS32Device() override;

  // "COMn" (the automation object builds it) or a device path.
  void SetPortName(const std::string& Name);
  // The speed from its decimal text; texts the device does not know select 9600.
  void SetBaudRate(const std::string& Text);

  const std::string& PortName() const { return FPortName; }
  const std::string& SpeedText() const { return FSpeedText; }

  // Closes the port when open (raises EComPortError when closing fails).
  void Disconnect() override;
  bool Connect() override;
  // The last Connect failed because another program holds the port (its text says "in
  // use"): a port that may be free again in a moment.
  bool PortInUse() const { return FPortInUse; }
  bool IsConnected() override;
  bool SendCommand(uint8_t Cmd, TDataBuffer& Data, uint8_t Retries, TDataBuffer& Status) override;

  // Waits up to Timeout ms of real time for one byte. A line failure is absorbed: it waits
  // 100 ms and tries again until the time-out.
  bool ReadByte(int Timeout, uint8_t& Byte);

 private:
  // The link parts of the exchange loop.
  const TRetryPolicy& RetryPolicy() const override;
  IDeviceClock& ExchangeClock() override { return FClock; }
  const std::string& LinkName() const override { return FPortName; }
  bool LinkReady() override;
  void SendFrame(const TDataBuffer& Frame) override;
  void ReadAnswer(uint8_t Cmd, IDeviceClock::TTimePoint CallStart, TDataBuffer& Answer, TDataBuffer& Status) override;
  void DrainAnswer(IDeviceClock::TTimePoint CallStart) override;
  const TRetryRule* OtherFailure(const std::exception& E) override;

  // The answer after its 0x01: LEN, the echoes, data, status and check sum.
  void ReadFrameBody(uint8_t Cmd, TDataBuffer& Answer, TDataBuffer& Status);
  // The answer byte at a step of the reading, or ECmdException(Code, Where) when none came.
  uint8_t NextByte(int32_t Code, const char* Where);

  std::unique_ptr<TComPort> FPort;
  IDeviceClock& FClock;
  std::string FPortName;
  std::string FSpeedText = "9600";
  bool FPortInUse = false;
  // Bytes read from the port but not yet taken by ReadByte; emptied by every purge.
  uint8_t FReadAhead[64];
  size_t FReadPos = 0;
  size_t FReadLen = 0;
};

}  // namespace fp
