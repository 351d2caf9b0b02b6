#pragma once
// Custom serial speeds through termios2 (BOTHER). Kept apart from SerialPort.cpp because the
// kernel's <asm/termbits.h> and the C library's <termios.h> cannot share one file.
#include <cstdint>

namespace fp::serial_speed {

// Sets the input and output speed of the open terminal fd to baud bits per second as a
// custom speed; 0 on success, else the errno value.
int SetCustomSpeed(int fd, std::uint32_t baud);
// The output speed the terminal reports in bits per second; 0 when it cannot be read.
std::uint32_t GetSpeed(int fd);

}  // namespace fp::serial_speed
