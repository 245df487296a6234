#include "serial/SerialPort.h"

#include "serial/LineTime.h"
#include "serial/SerialDevice.h"

#include <algorithm>
#include <chrono>

namespace
{
// The most a Write hands the kernel in one call: a page, the size of most drivers' output queue.
constexpr std::uint32_t kWriteSlice = 4096;
} // namespace

// One call's hold on the open device: Close waits until every hold is let go before the device
// (and its descriptor) is destroyed.
class CSerialPort::Use
{
  public:
    explicit Use(CSerialPort& port) : m_port(port)
    {
        std::lock_guard lock(port.m_mx);
        if (port.m_device && !port.m_closing)
        {
            m_device = port.m_device.get();
            ++port.m_inFlight;
        }
    }
    ~Use()
    {
        if (!m_device)
            return;
        std::lock_guard lock(m_port.m_mx);
        if (--m_port.m_inFlight == 0)
            m_port.m_changed.notify_all();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    explicit operator bool() const { return m_device != nullptr; }
    SerialDevice* operator->() const { return m_device; }
    SerialDevice& operator*() const { return *m_device; }

  private:
    CSerialPort& m_port;
    SerialDevice* m_device = nullptr;
};

// The port lock around one transfer, taken with no time limit as Lock(INFINITE) would, but
// given up when Close runs. Without a lock the transfer runs unserialised.
class CSerialPort::Transfer
{
  public:
    explicit Transfer(CSerialPort& port) : m_port(port)
    {
        std::unique_lock lock(port.m_mx);
        const auto me = std::this_thread::get_id();
        port.m_changed.wait(lock,
                            [&]
                            {
                                return port.m_closing || !port.m_lockExists ||
                                       port.m_lockDepth == 0 || port.m_lockOwner == me;
                            });
        if (port.m_closing)
            return;
        m_go = true;
        if (port.m_lockExists)
        {
            port.m_lockOwner = me;
            ++port.m_lockDepth;
            m_held = true;
            m_generation = port.m_lockGeneration;
        }
    }
    ~Transfer()
    {
        if (m_held)
            m_port.ReleaseLock(m_generation);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    explicit operator bool() const { return m_go; }

  private:
    CSerialPort& m_port;
    bool m_go = false;
    bool m_held = false;
    std::uint64_t m_generation = 0;
};

// One Write at a time, so that each write's bytes stay together on the line. A Write waiting
// for another gives up when Close runs.
class CSerialPort::Writer
{
  public:
    explicit Writer(CSerialPort& port) : m_port(port)
    {
        std::unique_lock lock(port.m_mx);
        port.m_changed.wait(lock, [&] { return port.m_closing || !port.m_writing; });
        if (port.m_closing)
            return;
        port.m_writing = true;
        m_go = true;
    }
    ~Writer()
    {
        if (!m_go)
            return;
        std::lock_guard lock(m_port.m_mx);
        m_port.m_writing = false;
        m_port.m_changed.notify_all();
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    explicit operator bool() const { return m_go; }

  private:
    CSerialPort& m_port;
    bool m_go = false;
};

CSerialPort::CSerialPort() : CSerialPort(SerialDeviceRoots{}) {}

CSerialPort::CSerialPort(SerialDeviceRoots roots) : m_roots(std::move(roots)) {}

CSerialPort::~CSerialPort()
{
    Close();
    DestroyLock();
}

int CSerialPort::CreateLock()
{
    std::lock_guard lock(m_mx);
    // A new mutex: whoever held the old one no longer holds this one.
    m_lockExists = true;
    m_lockOwner = {};
    m_lockDepth = 0;
    ++m_lockGeneration;
    m_changed.notify_all();
    return 1;
}

int CSerialPort::DestroyLock()
{
    std::lock_guard lock(m_mx);
    if (m_lockExists)
    {
        m_lockExists = false;
        m_lockOwner = {};
        m_lockDepth = 0;
        ++m_lockGeneration;
        m_changed.notify_all();
    }
    return 1;
}

int CSerialPort::HasLock() const
{
    std::lock_guard lock(m_mx);
    return m_lockExists ? 1 : 0;
}

int CSerialPort::Lock(std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mx);
    if (!m_lockExists)
        return 0;
    const auto me = std::this_thread::get_id();
    const auto available = [&] { return !m_lockExists || m_lockDepth == 0 || m_lockOwner == me; };
    if (timeoutMs == MAXDWORD)
        m_changed.wait(lock, available);
    else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), available))
        return 0;
    if (!m_lockExists)
        return 0;
    m_lockOwner = me;
    ++m_lockDepth;
    return 1;
}

int CSerialPort::Unlock()
{
    std::lock_guard lock(m_mx);
    if (!m_lockExists || m_lockDepth == 0 || m_lockOwner != std::this_thread::get_id())
        return 0;
    if (--m_lockDepth == 0)
    {
        m_lockOwner = {};
        m_changed.notify_all();
    }
    return 1;
}

void CSerialPort::ReleaseLock(std::uint64_t generation)
{
    std::lock_guard lock(m_mx);
    if (generation != m_lockGeneration || m_lockDepth == 0 ||
        m_lockOwner != std::this_thread::get_id())
        return;
    if (--m_lockDepth == 0)
    {
        m_lockOwner = {};
        m_changed.notify_all();
    }
}

int CSerialPort::Open(int portNumber)
{
    Close();
    const std::string name = "COM" + std::to_string(portNumber);
    std::string whyNot;
    auto device = SerialDevice::Open(name, m_roots, &whyNot);
    std::lock_guard lock(m_mx);
    if (!device)
    {
        m_lastOpenError = whyNot;
        return 0;
    }
    m_lastOpenError.clear();
    m_device = std::move(device);
    return m_device->SetupQueues(256, 256) ? 1 : 0;
}

int CSerialPort::Close()
{
    std::unique_ptr<SerialDevice> device;
    {
        std::unique_lock lock(m_mx);
        if (!m_device)
            return 1;
        m_closing = true;
        m_closeDrainEnd = std::chrono::steady_clock::now() + kCloseDrainLimit;
        m_device->Wake();
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_inFlight == 0; });
        // A Close on another thread that waited beside this one may have taken the device.
        if (!m_device)
            return 1;
        device = std::move(m_device);
        m_closing = false;
    }
    // A write that this Close cut short has already given the line its chance; this one is for
    // output left queued by a write that stopped at its bound.
    const std::uint32_t discarded = DrainForClose(*device);
    const std::uint32_t held = device->HeldByTransmitter();
    device.reset(); // here, outside the lock: on return the descriptor and its flock are gone
    std::lock_guard lock(m_mx);
    m_discardedAtClose = discarded;
    m_heldAtClose = held;
    return 1;
}

// Lets queued output leave for as long as it needs on the line, but not past the close's limit;
// returns what is still queued then, which closing the device discards.
std::uint32_t CSerialPort::DrainForClose(SerialDevice& device)
{
    std::uint32_t queued = 0;
    if (device.OutputQueued(&queued) != DeviceStatus::Ok || queued == 0)
        return queued;
    std::chrono::steady_clock::time_point end;
    {
        std::lock_guard lock(m_mx);
        end = m_closeDrainEnd;
    }
    end = std::min(end, std::chrono::steady_clock::now() + device.DrainWait(queued));
    device.WaitUntilSent(end, /*wakeable=*/false, &queued);
    return queued;
}

int CSerialPort::IsOpen() const
{
    std::lock_guard lock(m_mx);
    return m_device ? 1 : 0;
}

int CSerialPort::GetState(DCB* dcb)
{
    Use device(*this);
    return device && dcb && device->GetState(dcb) == DeviceStatus::Ok ? 1 : 0;
}

int CSerialPort::SetState(DCB dcb)
{
    Use device(*this);
    if (!device)
        return 0;
    dcb.DCBlength = sizeof(DCB);
    std::string whyNot;
    const DeviceStatus status = device->SetState(dcb, &whyNot);
    std::lock_guard lock(m_mx);
    m_lastSettingsError = status == DeviceStatus::Gone ? std::string() : std::move(whyNot);
    return status == DeviceStatus::Ok ? 1 : 0;
}

int CSerialPort::SetTimeouts(std::uint32_t readConstantMs, std::uint32_t writeConstantMs)
{
    Use device(*this);
    if (!device)
        return 0;
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = writeConstantMs;
    return device->SetTimeouts(timeouts) == DeviceStatus::Ok ? 1 : 0;
}

int CSerialPort::Read(void* buffer, std::uint32_t count, std::uint32_t* countRead)
{
    Use device(*this);
    if (!device || !countRead || (!buffer && count > 0))
        return 0;
    *countRead = 0;
    if (count == 0)
        return 1;
    const auto deadline = std::chrono::steady_clock::now() + device->ReadWait();
    for (;;)
    {
        const DeviceStatus waited = device->WaitForInput(deadline);
        if (waited == DeviceStatus::TimedOut)
            return 1;
        if (waited != DeviceStatus::Ok)
            return 0;
        Transfer transfer(*this);
        if (!transfer || device->ReadQueued(buffer, count, countRead) != DeviceStatus::Ok)
            return 0;
        if (*countRead > 0)
            return 1;
    }
}

int CSerialPort::Write(const void* buffer, std::uint32_t count, std::uint32_t* countWritten,
                       const WriteProgress& progress)
{
    Use device(*this);
    if (!device || !countWritten || (!buffer && count > 0))
        return 0;
    *countWritten = 0;
    Writer writer(*this);
    if (!writer)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + device->WriteWait(count);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t written = 0;
    // What had surely left the kernel when its queue was last looked at: the count a hang-up
    // leaves us with, since the queue is lost with the device.
    std::uint32_t surelySent = 0;
    std::uint32_t queued = 0;
    DeviceStatus status = DeviceStatus::Ok;
    while (written < count)
    {
        // A slice at a time, with a look at the queue after each: a fast adapter takes a write of
        // megabytes in one call, and once it has gone its queue cannot be read, so without the
        // looks a hang-up would leave nothing counted.
        const std::uint32_t slice = std::min(count - written, kWriteSlice);
        std::uint32_t taken = 0;
        {
            Transfer transfer(*this);
            status = transfer ? device->WriteQueued(bytes + written, slice, &taken)
                              : DeviceStatus::Cancelled;
        }
        written += taken;
        if (taken > 0 && progress)
            progress(written);
        if (status != DeviceStatus::Ok)
            break;
        status = device->OutputQueued(&queued);
        if (status != DeviceStatus::Ok)
            break;
        surelySent = std::max(surelySent, SentOf(written, queued));
        if (written == count || taken == slice)
            continue;
        status = std::chrono::steady_clock::now() < deadline ? device->WaitForRoom(deadline)
                                                             : DeviceStatus::TimedOut;
        if (status != DeviceStatus::Ok)
            break;
    }
    // Sent means on the line: what the kernel still holds has not gone out yet.
    queued = written - surelySent; // until looked at again, the worst case
    if (status == DeviceStatus::Ok || status == DeviceStatus::TimedOut)
    {
        const DeviceStatus drained = device->WaitUntilSent(deadline, /*wakeable=*/true, &queued);
        if (drained == DeviceStatus::TimedOut && queued > 0)
        {
            // The line has stopped (flow control holds it, or the device does not read). The
            // rest would leave whenever it resumed, after this write was reported short and in
            // front of the next one's bytes: it goes, and counts as not sent.
            std::uint32_t dropped = 0;
            status = device->DiscardQueued(&dropped);
            if (status == DeviceStatus::Ok)
            {
                status = DeviceStatus::TimedOut;
                queued = dropped;
            }
        }
        else if (drained != DeviceStatus::Ok && drained != DeviceStatus::TimedOut)
            status = drained;
    }
    surelySent = std::max(surelySent, SentOf(written, queued));
    if (status == DeviceStatus::Cancelled)
        queued = DrainForClose(*device);
    if (status == DeviceStatus::Gone || status == DeviceStatus::Failed)
        *countWritten = surelySent; // what the queue held then is lost with the device
    else
        *countWritten = SentOf(written, queued);
    return status == DeviceStatus::Ok || status == DeviceStatus::TimedOut ? 1 : 0;
}

std::uint32_t CSerialPort::GetDiscardedAtClose() const
{
    std::lock_guard lock(m_mx);
    return m_discardedAtClose;
}

std::uint32_t CSerialPort::GetHeldByTransmitterAtClose() const
{
    std::lock_guard lock(m_mx);
    return m_heldAtClose;
}

std::string CSerialPort::GetLastOpenError() const
{
    std::lock_guard lock(m_mx);
    return m_lastOpenError;
}

std::string CSerialPort::GetLastSettingsError() const
{
    std::lock_guard lock(m_mx);
    return m_lastSettingsError;
}

std::string CSerialPort::DescribePort(int portNumber) const
{
    return ResolvePortName("COM" + std::to_string(portNumber), m_roots);
}

bool CSerialPort::IsSystemConsole(const std::string& devicePath) const
{
    return ::IsSystemConsole(devicePath, m_roots);
}

LinkState CSerialPort::GetLinkState() const
{
    std::lock_guard lock(m_mx);
    if (!m_device)
        return LinkState::Closed;
    return m_device->IsConnected() ? LinkState::Connected : LinkState::DeviceGone;
}

std::string CSerialPort::GetDevicePath() const
{
    std::lock_guard lock(m_mx);
    return m_device ? m_device->Path() : std::string();
}
