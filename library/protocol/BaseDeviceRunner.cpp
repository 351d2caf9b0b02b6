// The generic command operation: build, send, status tests, answer fields, error record.
#include "library/protocol/BaseDeviceCommands.h"
#include "library/protocol/BaseDeviceUnit.h"
#include "library/protocol/WireNumbers.h"
#include "platform/ScopeExit.h"

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
  int64_t v = 0;
  if (!ParseWireInteger(Field(), v)) throw ECmdException(DeviceError::InvalidInput, Label);
  return v;
}

int32_t TAnswer::Int32Field(const std::string& Label) {
  int32_t v = 0;
  if (!device_commands::ParseInt32(Field(), v)) throw ECmdException(DeviceError::InvalidInput, Label);
  return v;
}

double TAnswer::NumberField(const std::string& Label) {
  double v = 0;
  if (!ParseWireNumber(Field(), v)) throw ECmdException(DeviceError::InvalidInput, Label);
  return v;
}

double TAnswer::HundredthsField(const std::string& Label) { return NumberField(Label) / 100; }

int64_t TAnswer::IntFieldOr(int64_t Default) {
  int64_t v = Default;
  return ParseWireInteger(Field(), v) ? v : Default;
}

double TAnswer::NumberFieldOr(double Default) {
  double v = Default;
  return ParseWireNumber(Field(), v) ? v : Default;
}

double TAnswer::HundredthsFieldOr(double Default) {
  double v = 0;
  return ParseWireNumber(Field(), v) ? v / 100 : Default;
}

// ---------------------------------------------------------------------------------------
// RunCommand.

namespace {

void RunStatusTests(const std::vector<TStatusTest>& Tests, const TDataBuffer& Status, bool AnswerEmpty) {
  for (const TStatusTest& t : Tests) {
    if (t.OnlyEmptyAnswer && !AnswerEmpty) continue;
    if (IsStatusBitSet(Status, t.Byte, t.Bit) == t.WhenSet)
      throw ECmdException(t.Code, "[" + std::to_string(t.Byte) + "/" + std::to_string(t.Bit) + "]");
  }
}

}  // namespace

bool TBaseDevice::RunCommand(const TCommand& C) {
  TDataBuffer data = C.Data;
  TDataBuffer status;
  bool exchanged = false;

  // Records a failure caught in the guard as the command declares it; the result is false.
  auto fail = [&](const std::exception& E) {
    const TDataBuffer noStatus;
    std::string extra;
    if (C.Extra == TRecordExtra::AnswerText && exchanged) extra = BufferToText(data);
    RecordError(E, C.Record == TRecordStatus::WithStatus ? status : noStatus, extra);
    if (C.AfterRecord) C.AfterRecord(E, data);
    return false;
  };
  auto failCmd = [&](ECmdException E) {
    if (C.MapError) C.MapError(E);
    return fail(E);
  };

  try {
    try {
      if (C.Build) C.Build(data);
      CheckDataLength(data);
    } catch (const ECmdException& e) {
      return failCmd(e);
    } catch (const std::exception& e) {
      return fail(e);
    }

    if (FCheckOnly) return true;
    // From here the command may reach the printer, whatever the transport reports.
    if (!C.ReadOnly) ++FChangingCommandsSent;
    // The transport has set FErrorCode and FErrorText when it fails.
    if (!SendCommand(C.Cmd, data, C.Retries, status)) return false;
    exchanged = true;

    try {
      // The six-byte length comes first, so that no bit test reads beyond the status.
      const bool anyTest = !C.Before.empty() || C.Check != TStatusCheck::None || !C.After.empty();
      if (anyTest && status.size() != kStatusLength)
        throw ECmdException(DeviceError::InvalidAnswer, "[6/" + std::to_string(status.size()) + "]");
      RunStatusTests(C.Before, status, data.empty());
      if (C.Check == TStatusCheck::Basic) CheckStatusBasic(status);
      if (C.Check == TStatusCheck::Full) CheckStatus(status);
      RunStatusTests(C.After, status, data.empty());
      if (C.Parse) {
        TAnswer answer(data, status);
        C.Parse(answer);
      }
      return true;
    } catch (const ECmdException& e) {
      // Once a command that may change the printer went out (this one or one before it since
      // the count was reset), an answer that cannot be read is invalid data from the printer:
      // 201 would read as a refusal before anything was sent.
      if (e.Code == DeviceError::InvalidInput && FChangingCommandsSent > 0) {
        ECmdException invalid = e;
        invalid.Code = DeviceError::InvalidAnswer;
        return failCmd(invalid);
      }
      return failCmd(e);
    } catch (const std::exception& e) {
      return fail(e);
    }
  } catch (const std::exception& e) {
    // A failure of the error record itself (memory): the text is all that can be kept.
    FErrorText = e.what();
  } catch (...) {
    FErrorText = "Unknown exception";
  }
  return false;
}

bool TBaseDevice::CheckOnly(const std::function<bool()>& Op) {
  TScopeExit restore([this, was = FCheckOnly] { FCheckOnly = was; });
  FCheckOnly = true;
  return Op();
}

}  // namespace fp
