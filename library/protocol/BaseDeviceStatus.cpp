// The device error codes with their texts, and the status-bit tests that turn the six
// status bytes of an answer into error codes.
#include "library/protocol/BaseDeviceUnit.h"

#include <algorithm>
#include <iterator>

namespace fp {

// 8-bit code page 1251 texts. The letter after "Fisk." in 213 is the Cyrillic small em
// (0xEC); 233 and 235 begin with the Cyrillic capital O (0xCE). 130 ends with a blank.
const TDeviceErrorText DeviceErrorTexts[] = {
    {101, "COM port is not active."},
    {102, "Error writing to COM."},
    {103, "Fiscal printer does not respond."},
    {104, "Fail read byte from packet."},
    {105, "Fail read data from packet."},
    {106, "NAK. Printer does not recognize the command."},
    {107, "Fail read data from port."},
    {109, "Error in the packet. Wrong serial number."},
    {110, "Error in packet. Command error."},
    {111, "Error in packet. Invalid checksum."},
    {112, "Error in packet. Invalid length."},
    {120, "Device is bussy."},
    {130, "Printer returns an error: "},
    {132, "This command is not supported."},
    {200, "Invalid data from the printer. Varying length of the declared."},
    {201, "Invalid input data."},
    {203, "Received an error message from the printer."},
    {204, "Invalid command."},
    {205, "Syntax error in command."},
    {206, "The command execution is denied."},
    {207, "Lack of funds."},
    {208, "Not opened fisc. receipt."},
    {209, "Not opened comment receipt."},
    {210, "No paper."},
    {211, "There is an error in the fiscal memory."},
    {212, "Fiscal memory is full."},
    {213, "Fisk.\xEC" "emory is locked."},
    {214, "The last entry in the fiscal memory is not successful."},
    {215, "There is opened comment reciept."},
    {216, "The command is not allowed in the current fiscal regime."},
    {217, "There is oppened fisc.reciept."},
    {218, "The clock is not set."},
    {219, "The printer is malfunctioning or oppened."},
    {220, "There is the destruction of RAM after switching."},
    {221, "Low battery (Clock is in RESET)."},
    {222, "Committed Clearing RAM."},
    {223, "Overflow of some fields in amounts."},
    {224, "End of el.journal."},
    {225, "Printer cover is opened."},
    {226, "Low paper."},
    {227, "It has a memory for at least 50 entries in fisc.memory."},
    {228, "Error reading from fisc.memory."},
    {229, "Not connected customer display."},
    {230, "Open a fiscal receipt rotated 90 degrees."},
    {231, "Tax gprs terminal does not answer."},
    {233, "\xCEpened fiscal receipt."},
    {235, "\xCEpened comment receipt."},
    {236, "Very close to the end of el.journal."},
    {237, "State of Sw7."},
    {238, "State of Sw6."},
    {239, "State of Sw5."},
    {240, "State of Sw4."},
    {241, "State of Sw3."},
    {242, "State of Sw2."},
    {243, "State of Sw1."},
    {244, "Individual number of the printer and number of fisc.memory are set."},
    {245, "Unique identifier code is set."},
    {246, "Fiscal memori is formated."},
    {247, "The printer is in the fiscal mode."},
    {248, "Close to the end el.journal - 10MB."},
    {249, "Not assigned unique identification number."},
    {250, "Error in payment. The accumulated amount is negative or payment type has limited functionality."},
    {251, "Printer hardware error."},
    {256, "Only one copy can be printed!"},
};
const size_t DeviceErrorTextCount = std::size(DeviceErrorTexts);

const char* DeviceErrorText(int32_t Code) {
  const TDeviceErrorText* End = DeviceErrorTexts + DeviceErrorTextCount;
  const TDeviceErrorText* It = std::lower_bound(
      DeviceErrorTexts, End, Code, [](const TDeviceErrorText& E, int32_t C) { return E.Code < C; });
  return It != End && It->Code == Code ? It->Text : nullptr;
}

bool IsStatusBitSet(const TDataBuffer& Status, size_t ByteIndex, unsigned Bit) {
  if (ByteIndex >= Status.size() || Bit > 7) return false;
  return (Status[ByteIndex] >> Bit) & 1;
}

std::string TBaseDevice::ErrorCodeText(int32_t Code, const std::string& Detail) {
  const char* Text = DeviceErrorText(Code);
  return std::string(Text ? Text : "") + " " + Detail;
}

namespace {

struct TStatusBit {
  uint8_t Byte;
  uint8_t Bit;
  int32_t Code;
};

// The error bits in the order the status texts visit them. S0.4 (219) is visited only by
// StatusErrorsTextAndCode, right after S0.2.
constexpr TStatusBit kTextBits[] = {
    {0, 0, 205}, {0, 1, 204}, {0, 2, 218}, {0, 4, 219}, {1, 0, 223}, {1, 1, 216}, {1, 2, 222},
    {1, 3, 221}, {1, 4, 220}, {2, 2, 224}, {2, 0, 210}, {4, 0, 211}, {4, 4, 212}, {5, 2, 214},
    {5, 0, 213},
};

void RaiseWhenSet(const TDataBuffer& Status, uint8_t Byte, uint8_t Bit, int32_t Code) {
  if (IsStatusBitSet(Status, Byte, Bit))
    throw ECmdException(Code, "[" + std::to_string(Byte) + "/" + std::to_string(Bit) + "]");
}

// Joins the texts of the set bits of kTextBits (S0.4 only when WithFaultBit), leaving out
// ExcludeCode; calls OnSet for every bit joined. The first bit replaces the caller's
// text, every later one is added after ", "; a leading "," is then dropped.
template <typename F>
bool JoinStatusTexts(const TDataBuffer& Status, bool WithFaultBit, int32_t ExcludeCode, std::string& Text,
                     F OnSet) {
  bool First = true;
  for (const TStatusBit& B : kTextBits) {
    if (B.Code == 219 && !WithFaultBit) continue;
    bool IsFirst = First;
    First = false;
    if (!IsStatusBitSet(Status, B.Byte, B.Bit) || B.Code == ExcludeCode) continue;
    OnSet(B.Code);
    if (IsFirst)
      Text = TBaseDevice::ErrorCodeText(B.Code, std::string());
    else
      Text += ", " + TBaseDevice::ErrorCodeText(B.Code, std::string());
  }
  if (!Text.empty() && Text[0] == ',') Text.erase(0, 1);
  return Text.find_first_not_of(' ') == std::string::npos;
}

}  // namespace

void TBaseDevice::CheckStatusBasic(const TDataBuffer& Status) {
  if (Status.size() != kStatusLength)
    throw ECmdException(200, "[6/" + std::to_string(Status.size()) + "]");
  RaiseWhenSet(Status, 0, 0, 205);
  RaiseWhenSet(Status, 0, 1, 204);
}

void TBaseDevice::CheckStatus(const TDataBuffer& Status) {
  CheckStatusBasic(Status);
  RaiseWhenSet(Status, 1, 1, 216);
  RaiseWhenSet(Status, 1, 0, 223);
}

bool TBaseDevice::StatusErrorsText(const TDataBuffer& Status, int32_t ExcludeCode, std::string& Text) {
  return JoinStatusTexts(Status, false, ExcludeCode, Text, [](int32_t) {});
}

bool TBaseDevice::StatusErrorsTextAndCode(const TDataBuffer& Status, std::string& Text) {
  // No code is left out: 0 is no code of the table.
  return JoinStatusTexts(Status, true, 0, Text, [this](int32_t Code) { FErrorCode = Code; });
}

}  // namespace fp
