// Win32 serial port: CreateFileW, DCB, COMMTIMEOUTS, PurgeComm. The read
// time-out rule of CommTimeouts is the driver's own here; writes go out in
// time-limited slices so that a stop can end them.
#include "SerialPort.h"
#include "platform/Win32Text.h"

#include <windows.h>

namespace kestrune {
namespace {

class Win32SerialPort final : public SerialPort {
public:
  ~Win32SerialPort() override { Close(); }

  bool Open(const std::string &portText) override {
    Close();
    std::string name = WindowsPortPath(portText);
    Handle = CreateFileW(WideFromUtf8(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (Handle == INVALID_HANDLE_VALUE)
      return Fail();
    HaveDcb = false;
    return true;
  }

  bool IsOpen() const override { return Handle != INVALID_HANDLE_VALUE; }

  void Close() override {
    if (Handle == INVALID_HANDLE_VALUE)
      return;
    CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
  }

  bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) override {
    return SetupComm(Handle, inputBytes, outputBytes) ? true : Fail();
  }

  bool GetSettings(PortSettings &settings) override {
    Dcb = {};
    Dcb.DCBlength = sizeof(Dcb);
    if (!GetCommState(Handle, &Dcb))
      return Fail();
    HaveDcb = true;
    settings.BaudRate = Dcb.BaudRate;
    settings.ByteSize = Dcb.ByteSize;
    settings.StopBits = Dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    settings.ParityCheck = Dcb.fParity != 0;
    settings.OutxCtsFlow = Dcb.fOutxCtsFlow != 0;
    settings.OutxDsrFlow = Dcb.fOutxDsrFlow != 0;
    settings.DtrOn = Dcb.fDtrControl != DTR_CONTROL_DISABLE;
    settings.RtsOn = Dcb.fRtsControl != RTS_CONTROL_DISABLE;
    settings.OutX = Dcb.fOutX != 0;
    settings.InX = Dcb.fInX != 0;
    return true;
  }

  bool AcceptsRate(uint32_t rate) override {
    DCB present{};
    present.DCBlength = sizeof(present);
    if (!GetCommState(Handle, &present))
      return Fail();
    DCB trial = present;
    trial.BaudRate = rate;
    if (!SetCommState(Handle, &trial))
      return Fail();
    return SetCommState(Handle, &present) ? true : Fail();
  }

  bool ApplySettings(const PortSettings &s) override {
    if (!HaveDcb) {
      PortSettings ignored;
      if (!GetSettings(ignored))
        return false;
    }
    Dcb.BaudRate = s.BaudRate;
    Dcb.ByteSize = s.ByteSize;
    Dcb.StopBits = s.StopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    Dcb.fBinary = 1;
    Dcb.fParity = s.ParityCheck ? 1 : 0;
    Dcb.fOutxCtsFlow = s.OutxCtsFlow ? 1 : 0;
    Dcb.fOutxDsrFlow = s.OutxDsrFlow ? 1 : 0;
    Dcb.fDtrControl = s.DtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    Dcb.fDsrSensitivity = 0;
    Dcb.fTXContinueOnXoff = 0;
    Dcb.fOutX = s.OutX ? 1 : 0;
    Dcb.fInX = s.InX ? 1 : 0;
    Dcb.fErrorChar = 0;
    Dcb.fNull = 0;
    Dcb.fRtsControl = s.RtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    Dcb.fAbortOnError = 0;
    return SetCommState(Handle, &Dcb) ? true : Fail();
  }

  // Writes always run with a short total time-out: Write repeats them until
  // every byte is out, so the caller still sees a write without time-out,
  // yet one that a stop can end between two slices.
  bool ApplyTimeouts(const CommTimeouts &t) override {
    COMMTIMEOUTS native{t.ReadInterval, t.ReadTotalMultiplier, t.ReadTotalConstant, 0,
                        DWORD(WriteSliceMs)};
    return SetCommTimeouts(Handle, &native) ? true : Fail();
  }

  bool Purge(bool output, bool input) override {
    DWORD flags = (output ? PURGE_TXCLEAR : 0) | (input ? PURGE_RXCLEAR : 0);
    return PurgeComm(Handle, flags) ? true : Fail();
  }

  bool Drain() override { return FlushFileBuffers(Handle) ? true : Fail(); }

  void ClearErrors() override {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(Handle, &errors, &status);
  }

  // A slice that ran out leaves part of the bytes written (some drivers
  // report it as a time-out error); the rest goes in the next slice.
  bool Write(const void *data, uint32_t count, uint32_t &written) override {
    written = 0;
    auto *bytes = static_cast<const BYTE *>(data);
    while (written < count) {
      DWORD n = 0;
      if (!WriteFile(Handle, bytes + written, count - written, &n, nullptr)) {
        DWORD err = GetLastError();
        if (err != ERROR_TIMEOUT && err != ERROR_SEM_TIMEOUT) {
          LastErrorCode = err;
          return false;
        }
      }
      written += n;
      if (written < count && StopWanted()) {
        LastErrorCode = ERROR_OPERATION_ABORTED;
        return false;
      }
    }
    return true;
  }

  bool Read(void *data, uint32_t count, uint32_t &received) override {
    DWORD n = 0;
    BOOL ok = ReadFile(Handle, data, count, &n, nullptr);
    received = ok ? n : 0;
    return ok ? true : Fail();
  }

private:
  bool Fail() {
    LastErrorCode = GetLastError();
    return false;
  }

  HANDLE Handle = INVALID_HANDLE_VALUE;
  DCB Dcb{};
  bool HaveDcb = false;
};

} // namespace

std::unique_ptr<SerialPort> CreateSerialPort() { return std::make_unique<Win32SerialPort>(); }

} // namespace kestrune
