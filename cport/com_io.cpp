// Reading, writing, queue counts and line control, from any thread. Who
// holds the device and a transfer's record, and what a Close does to
// transfers in flight: the notes at the head of com_port.cpp.
#include "cport/internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarnby {

using namespace tarnby::detail;

// ---- TAsync --------------------------------------------------------------------

void InitAsync(PAsync& async)
{
    async = new TAsync;
    // Until an operation starts, a record counts as a finished write of
    // nothing: waiting on it returns 0 and touches no device.
    async->Kind = okWrite;
}

void DoneAsync(PAsync& async)
{
    if (async == nullptr)
        return;
    std::free(async->Data);
    delete async;
    async = nullptr;
}

namespace {
// Releases a blocking call's record whatever happens.
struct AsyncScope {
    AsyncScope() { InitAsync(async); }
    ~AsyncScope() { DoneAsync(async); }
    PAsync async = nullptr;
};

int32_t StartedBytes(int result, TAsync& async)
{
    if (result == comm::kIoPending)
        return 0;
    int32_t bytes = 0;
    async.Overlapped.Result(false, bytes);
    return bytes;
}
}

// ---- writing -----------------------------------------------------------------------

int32_t TCustomComPort::WriteAsync(const void* buffer, int32_t count, PAsync& async)
{
    if (async == nullptr)
        throw EComPort(errInvalidAsync);
    if (count < 0 || (buffer == nullptr && count > 0))
        throw EComPort(errWrite, EINVAL, DevicePath());
    async->Kind = okWrite;
    std::free(async->Data);
    async->Data = nullptr;
    async->Size = 0;
    if (count > 0) {
        async->Data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(count)));
        if (async->Data == nullptr)
            throw EComPort(errWrite, ENOMEM, DevicePath());
        std::memcpy(async->Data, buffer, static_cast<size_t>(count));
        async->Size = count;
    }
    int result = DeviceRef()->WriteFile(buffer, count, async->Overlapped);
    if (result != 0 && result != comm::kIoPending)
        Check(result, errWrite, *this);
    SendSignalToLink(leTx, true);
    return StartedBytes(result, *async);
}

int32_t TCustomComPort::Write(const void* buffer, int32_t count)
{
    AsyncScope scope;
    WriteAsync(buffer, count, scope.async);
    return WaitForAsync(scope.async);
}

int32_t TCustomComPort::WriteStrAsync(const std::string& str, PAsync& async)
{
    if (str.empty())
        return 0;
    return WriteAsync(str.data(), static_cast<int32_t>(str.size()), async);
}

int32_t TCustomComPort::WriteStr(const std::string& str)
{
    AsyncScope scope;
    WriteStrAsync(str, scope.async);
    return WaitForAsync(scope.async);
}

// ---- reading -----------------------------------------------------------------------

int32_t TCustomComPort::ReadAsync(void* buffer, int32_t count, PAsync& async)
{
    if (async == nullptr)
        throw EComPort(errInvalidAsync);
    if (count < 0 || (buffer == nullptr && count > 0))
        throw EComPort(errRead, EINVAL, DevicePath());
    async->Kind = okRead;
    int result = DeviceRef()->ReadFile(buffer, count, async->Overlapped);
    if (result != 0 && result != comm::kIoPending)
        Check(result, errRead, *this);
    return StartedBytes(result, *async);
}

int32_t TCustomComPort::Read(void* buffer, int32_t count)
{
    AsyncScope scope;
    ReadAsync(buffer, count, scope.async);
    return WaitForAsync(scope.async);
}

int32_t TCustomComPort::ReadStrAsync(std::string& str, int32_t count, PAsync& async)
{
    str.assign(static_cast<size_t>(std::max(count, 0)), '\0');
    if (count <= 0)
        return 0;
    return ReadAsync(str.data(), count, async);
}

int32_t TCustomComPort::ReadStr(std::string& str, int32_t count)
{
    AsyncScope scope;
    ReadStrAsync(str, count, scope.async);
    int32_t n = WaitForAsync(scope.async);
    str.resize(static_cast<size_t>(std::max(n, 0)));
    return n;
}

// ---- completion --------------------------------------------------------------------

int32_t TCustomComPort::WaitForAsync(PAsync& async)
{
    if (async == nullptr)
        throw EComPort(errInvalidAsync);
    int32_t bytes = 0;
    int result = async->Overlapped.Result(true, bytes);
    if (result != 0)
        throw EComPort(async->Kind == okWrite ? errWrite : errRead, result, DevicePath());
    // The queue is only looked at for the links' sake: the query resets the
    // device's error state, which nobody else should lose to a read.
    if (async->Kind == okRead && !links_.empty() && InputCount() == 0)
        SendSignalToLink(leRx, false);
    else if (async->Data != nullptr)
        TxNotifyLink(async->Data, async->Size);
    return bytes;
}

bool TCustomComPort::IsAsyncCompleted(PAsync async)
{
    if (async == nullptr)
        throw EComPort(errInvalidAsync);
    int32_t bytes = 0;
    int result = async->Overlapped.Result(false, bytes);
    if (result == comm::kIoIncomplete)
        return false;
    if (result != 0)
        throw EComPort(errAsyncStatus, result, DevicePath());
    return true;
}

void TCustomComPort::AbortAllAsync()
{
    Check(DeviceRef()->PurgeComm(comm::PURGE_TXABORT | comm::PURGE_RXABORT), errPurge, *this);
}

void TCustomComPort::ClearBuffer(bool input, bool output)
{
    uint32_t flags = 0;
    if (input)
        flags |= comm::PURGE_RXCLEAR;
    if (output)
        flags |= comm::PURGE_TXCLEAR;
    Check(DeviceRef()->PurgeComm(flags), errPurge, *this);
}

bool TCustomComPort::DrainOutput(int32_t margin_ms)
{
    const int result = DeviceRef()->DrainOutput(margin_ms);
    if (result == ETIMEDOUT || result == EAGAIN)
        return false;
    Check(result, errWrite, *this);
    return true;
}

// ---- queries ---------------------------------------------------------------------------

int32_t TCustomComPort::InputCount()
{
    uint32_t errors = 0;
    comm::COMSTAT stat;
    Check(DeviceRef()->ClearCommError(errors, stat), errClearCommError, *this);
    return static_cast<int32_t>(stat.cbInQue);
}

int32_t TCustomComPort::OutputCount()
{
    uint32_t errors = 0;
    comm::COMSTAT stat;
    Check(DeviceRef()->ClearCommError(errors, stat), errClearCommError, *this);
    return static_cast<int32_t>(stat.cbOutQue);
}

TComStateFlags TCustomComPort::StateFlags()
{
    uint32_t errors = 0;
    comm::COMSTAT stat;
    Check(DeviceRef()->ClearCommError(errors, stat), errClearCommError, *this);
    return TComStateFlags::FromBits(static_cast<uint8_t>(stat.Flags & 0x7F));
}

TComErrors TCustomComPort::LastErrors()
{
    uint32_t errors = 0;
    comm::COMSTAT stat;
    Check(DeviceRef()->ClearCommError(errors, stat), errClearCommError, *this);
    TComErrors result;
    if (errors & comm::CE_FRAME)
        result.Include(ceFrame);
    if ((errors & comm::CE_RXPARITY) && parity_->Check())
        result.Include(ceRxParity);
    if (errors & comm::CE_OVERRUN)
        result.Include(ceOverrun);
    if (errors & comm::CE_RXOVER)
        result.Include(ceRxOver);
    if (errors & comm::CE_TXFULL)
        result.Include(ceTxFull);
    if (errors & comm::CE_BREAK)
        result.Include(ceBreak);
    if (errors & comm::CE_IOE)
        result.Include(ceIO);
    if (errors & comm::CE_MODE)
        result.Include(ceMode);
    return result;
}

TComSignals TCustomComPort::Signals()
{
    uint32_t status = 0;
    Check(DeviceRef()->GetCommModemStatus(status), errModemStatus, *this);
    return TComSignals::FromBits(static_cast<uint8_t>((status >> 4) & 0xF));
}

// ---- line control ---------------------------------------------------------------------

void TCustomComPort::SetBreak(bool on_off)
{
    Check(DeviceRef()->EscapeCommFunction(on_off ? comm::SETBREAK : comm::CLRBREAK), errEscapeComm, *this);
}

void TCustomComPort::SetDTR(bool on_off)
{
    Check(DeviceRef()->EscapeCommFunction(on_off ? comm::SETDTR : comm::CLRDTR), errEscapeComm, *this);
}

void TCustomComPort::SetRTS(bool on_off)
{
    Check(DeviceRef()->EscapeCommFunction(on_off ? comm::SETRTS : comm::CLRRTS), errEscapeComm, *this);
}

void TCustomComPort::SetXonXoff(bool on_off)
{
    Check(DeviceRef()->EscapeCommFunction(on_off ? comm::SETXON : comm::SETXOFF), errEscapeComm, *this);
}

void TCustomComPort::TransmitChar(char ch) { Check(DeviceRef()->TransmitCommChar(ch), errTransmitChar, *this); }

void TCustomComPort::WaitForEvent(TComEvents& events, const comm::ComStopEvent* stop, int32_t timeout)
{
    if (event_thread_)
        throw EComPort(errEventThreadExists);
    // Held for the whole wait: a Close on another thread ends it with an error.
    std::shared_ptr<comm::ComDevice> device = DeviceRef();
    uint32_t mask = 0;
    int result = device->SetCommMask(ComEventsToMask(events));
    if (result == 0)
        result = device->WaitCommEvent(mask, stop, timeout < 0 ? -1 : timeout);
    // Clearing the mask ends a wait still pending; a failure here changes
    // nothing about what was seen.
    device->SetCommMask(0);
    Check(result, errWaitForEvent, *this);
    events = MaskToComEvents(mask);
}

} // namespace tarnby
