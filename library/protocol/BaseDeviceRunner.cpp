// The generic command operation: build, send, status tests, answer fields, error record.
#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/WireNumbers.h"

namespace fp {

// ---------------------------------------------------------------------------------------
// TAnswer: the field readers of a command's parser.

TAnswer::TAnswer(const TDataBuffer& AData, const TDataBuffer& AStatus)
    : Data(AData), Status(AStatus), Text(TBaseDevice::BufferToText(AData)) {}

void TAnswer::RequireFields(int N, const std::string& Label) {
  if (TBaseDevice::CountFields(Text) < N) throw ECmdException(DeviceError::InvalidAnswer, Label);
}

std::string TAnswer::Field() { return TBaseDevice::ExtractCommaField(Text); }

std::string TAnswer::SpaceField() { return TBaseDevice::ExtractSpaceField(Text); }

int64_t TAnswer::IntField(const std::string& Label) {
  int64_t V = 0;
  if (!ParseWireInteger(Field(), V)) throw ECmdException(DeviceError::InvalidInput, Label);
  return V;
}

int32_t TAnswer::Int32Field(const std::string& Label) {
  int32_t V = 0;
  if (!device_commands::ParseInt32(Field(), V)) throw ECmdException(DeviceError::InvalidInput, Label);
  return V;
}

double TAnswer::NumberField(const std::string& Label) {
  double V = 0;
  if (!ParseWireNumber(Field(), V)) throw ECmdException(DeviceError::InvalidInput, Label);
  return V;
}

double TAnswer::HundredthsField(const std::string& Label) { return NumberField(Label) / 100; }

int64_t TAnswer::IntFieldOr(int64_t Default) {
  int64_t V = Default;
  return ParseWireInteger(Field(), V) ? V : Default;
}

double TAnswer::NumberFieldOr(double Default) {
  double V = Default;
  return ParseWireNumber(Field(), V) ? V : Default;
}

double TAnswer::HundredthsFieldOr(double Default) {
  double V = 0;
  return ParseWireNumber(Field(), V) ? V / 100 : Default;
}

// ---------------------------------------------------------------------------------------
// RunCommand.

namespace {

void RunStatusTests(const std::vector<TStatusTest>& Tests, const TDataBuffer& Status, bool AnswerEmpty) {
  for (const TStatusTest& T : Tests) {
    if (T.OnlyEmptyAnswer && !AnswerEmpty) continue;
    if (IsStatusBitSet(Status, T.Byte, T.Bit) == T.WhenSet)
      throw ECmdException(T.Code, "[" + std::to_string(T.Byte) + "/" + std::to_string(T.Bit) + "]");
  }
}

}  // namespace

bool TBaseDevice::RunCommand(const TCommand& C) {
  TDataBuffer Data = C.Data;
  TDataBuffer Status;
  bool Exchanged = false;

  // Records a failure caught in the guard as the command declares it; the result is false.
  auto Fail = [&](const std::exception& E) {
    const TDataBuffer NoStatus;
    std::string Extra;
    if (C.Extra == TRecordExtra::AnswerText && Exchanged) Extra = BufferToText(Data);
    RecordError(E, C.Record == TRecordStatus::WithStatus ? Status : NoStatus, Extra);
    if (C.AfterRecord) C.AfterRecord(E, Data);
    return false;
  };
  auto FailCmd = [&](ECmdException E) {
    if (C.MapError) C.MapError(E);
    return Fail(E);
  };

  try {
    try {
      if (C.Build) C.Build(Data);
      CheckDataLength(Data);
    } catch (const ECmdException& E) {
      return FailCmd(E);
    } catch (const std::exception& E) {
      return Fail(E);
    }

    // From here the command may reach the printer, whatever the transport reports.
    if (!C.ReadOnly) ++FChangingCommandsSent;
    // The transport has set FErrorCode and FErrorText when it fails.
    if (!SendCommand(C.Cmd, Data, C.Retries, Status)) return false;
    Exchanged = true;

    try {
      // The six-byte length comes first, so that no bit test reads beyond the status.
      const bool AnyTest = !C.Before.empty() || C.Check != TStatusCheck::None || !C.After.empty();
      if (AnyTest && Status.size() != kStatusLength)
        throw ECmdException(DeviceError::InvalidAnswer, "[6/" + std::to_string(Status.size()) + "]");
      RunStatusTests(C.Before, Status, Data.empty());
      if (C.Check == TStatusCheck::Basic) CheckStatusBasic(Status);
      if (C.Check == TStatusCheck::Full) CheckStatus(Status);
      RunStatusTests(C.After, Status, Data.empty());
      if (C.Parse) {
        TAnswer Answer(Data, Status);
        C.Parse(Answer);
      }
      return true;
    } catch (const ECmdException& E) {
      // Once a command that may change the printer went out (this one or one before it since
      // the count was reset), an answer that cannot be read is invalid data from the printer:
      // 201 would read as a refusal before anything was sent.
      if (E.Code == DeviceError::InvalidInput && FChangingCommandsSent > 0) {
        ECmdException Invalid = E;
        Invalid.Code = DeviceError::InvalidAnswer;
        return FailCmd(Invalid);
      }
      return FailCmd(E);
    } catch (const std::exception& E) {
      return Fail(E);
    }
  } catch (const std::exception& E) {
    // A failure of the error record itself (memory): the text is all that can be kept.
    FErrorText = E.what();
  } catch (...) {
    FErrorText = "Unknown exception";
  }
  return false;
}

}  // namespace fp
