#pragma once
// Serial speeds through termios2. Kept apart from SerialPort.cpp because the kernel's
// <asm/termbits.h> and the C library's <termios.h> cannot share one file.
#include <cstdint>

namespace fp::serial_speed {

// Sets the input and the output speed of the open terminal fd together to baud bits per
// second: as the speed constant Code (a termios B constant, whose values are the kernel's)
// when Code is not 0, else as a custom speed (BOTHER). 0 on success, else the errno value.
int SetSpeed(int fd, std::uint32_t baud, unsigned Code);
// The output speed the terminal reports in bits per second; 0 when it cannot be read.
std::uint32_t GetSpeed(int fd);
// The input and the output speed the terminal reports; false when they cannot be read.
bool GetSpeeds(int fd, std::uint32_t& input, std::uint32_t& output);

}  // namespace fp::serial_speed
