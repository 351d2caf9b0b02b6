#include "platform/SerialPortSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace fp::serial_speed {

int SetCustomSpeed(int fd, std::uint32_t baud) {
  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  if (::ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

std::uint32_t GetSpeed(int fd) {
  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

}  // namespace fp::serial_speed
