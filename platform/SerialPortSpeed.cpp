#include "platform/SerialPortSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace fp::serial_speed {

int SetSpeed(int fd, std::uint32_t baud, unsigned Code) {
  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  const tcflag_t speed = Code != 0 ? static_cast<tcflag_t>(Code) & CBAUD : BOTHER;
  // Both fields are written: an input field left at an earlier value (custom or not) would
  // keep the old input speed.
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= speed | (speed << IBSHIFT);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  if (::ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

std::uint32_t GetSpeed(int fd) {
  std::uint32_t input = 0, output = 0;
  return GetSpeeds(fd, input, output) ? output : 0;
}

bool GetSpeeds(int fd, std::uint32_t& input, std::uint32_t& output) {
  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
  input = tio.c_ispeed;
  output = tio.c_ospeed;
  return true;
}

}  // namespace fp::serial_speed
