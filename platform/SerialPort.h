#pragma once
// The serial port under the serial transport, on termios: 8 data bits, no parity, one stop
// bit, no flow control (neither RTS/CTS nor XON/XOFF), raw mode, no modem control lines
// watched. The port is named "COMn" (mapped to a device through ComPortNames.h) or by a
// device path starting with "/". Opening takes an exclusive advisory lock on the device, so
// two users of the driver never share a port, and puts a line in exclusive mode (TIOCEXCL,
// cleared again before closing), so that no other program opens it beside us and reads the
// printer's answers away. A pseudo-terminal (a virtual port) gets the lock only: it would
// keep the mode after a killed driver for as long as its other side is held, and lock the
// driver's restart out. A terminal that another program holds in exclusive mode is refused
// as in use, also where the system would let us open it (as root), and its mode is left as
// it is. Nothing is kept outside the device, so nothing another user writes anywhere has a
// say. Every operation is virtual so that tests can put a fake port under the transport.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace fp {

// A failure of the port; the message is the system's own text in English (SysErrorText),
// or for a port that another program holds "<port> is in use by another program".
class EComPortError : public std::runtime_error {
 public:
  EComPortError(const std::string& message, int error, bool inUse = false)
      : std::runtime_error(message), Error(error), InUse(inUse) {}
  int Error;   // the errno value
  bool InUse;  // another program holds the port (the "in use" text)
};

class TComPort {
 public:
  TComPort() = default;
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;
  virtual ~TComPort();

  // Read time-out of Read: the most a read waits when no byte comes.
  static constexpr int DefaultReadTimeoutMs = 100;

  virtual void SetPort(const std::string& name);
  virtual std::string Port() const;
  // Any positive speed in bits per second, for input and output together. The standard
  // termios speeds are set by their constant, all others (14400, 56000, 128000, 256000,
  // ...) as a custom speed (termios2, BOTHER). Takes effect at the next Open, or at once on
  // an open port (then throws EComPortError when the device refuses it).
  virtual void SetBaudRate(std::uint32_t baud);
  virtual std::uint32_t BaudRate() const;

  // Opens the port and applies the line settings and the speed; closes it first when open.
  // Throws EComPortError: the name maps to no device (ENOENT), the device cannot be opened
  // or is no terminal, another program holds it (EBUSY: in exclusive mode, refused by the
  // open or, for a privileged process, found set after it; EWOULDBLOCK: its lock is
  // taken; the message then names the port as in use), the speed is refused.
  virtual void Open();
  // Closes the port when open; throws EComPortError when the system reports a failure (the
  // port is closed all the same).
  virtual void Close();
  virtual bool Connected() const;

  // Discards what is in the input and the output buffer. Throws when closed or on failure.
  virtual void Purge();
  // Writes the whole buffer and returns the number of bytes written; throws EComPortError
  // when the port is closed or the write fails.
  virtual std::size_t Write(const void* data, std::size_t count);
  // Reads up to count bytes: returns at once with what is there (at least one byte), else
  // waits up to timeoutMs for bytes to come and returns 0 when none came. Throws
  // EComPortError on a line failure (hang-up, I/O error) or when the port is closed.
  virtual std::size_t ReadWait(void* data, std::size_t count, int timeoutMs);
  // ReadWait with DefaultReadTimeoutMs.
  std::size_t Read(void* data, std::size_t count) { return ReadWait(data, count, DefaultReadTimeoutMs); }

  // The speed the open device reports (for tests and diagnostics); 0 when closed.
  virtual std::uint32_t DeviceBaudRate() const;

 protected:
  // Whether Open puts the terminal of fd in exclusive mode: every terminal but a
  // pseudo-terminal. (Tests let a pty stand for a line.)
  virtual bool UsesExclusiveMode(int fd) const;

 private:
  void ApplySettings();

  std::string FPort;
  std::uint32_t FBaudRate = 9600;
  int FFd = -1;
  bool FExclusive = false;  // this descriptor set the exclusive mode
};

}  // namespace fp
