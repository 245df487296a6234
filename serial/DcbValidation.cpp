#include "serial/DcbValidation.h"

#include <string>

namespace
{

// The first rule the record breaks, in words, and how it breaks it; Ok and empty words for none.
struct Refusal
{
    DeviceStatus status = DeviceStatus::Ok;
    std::string why;
};

Refusal Check(const DCB& dcb)
{
    const auto invalid = [](std::string why) {
        return Refusal{DeviceStatus::InvalidParameter, why};
    };
    const auto unsupported = [](std::string why) {
        return Refusal{DeviceStatus::NotSupported, why};
    };
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return invalid("a byte has 5 to 8 data bits, not " + std::to_string(dcb.ByteSize));
    if (dcb.StopBits > TWOSTOPBITS)
        return invalid("there is no stop-bits code " + std::to_string(dcb.StopBits));
    if (dcb.Parity > SPACEPARITY)
        return invalid("there is no parity code " + std::to_string(dcb.Parity));
    if (dcb.BaudRate < kMinBaudRate || dcb.BaudRate > kMaxBaudRate)
        return invalid(std::to_string(dcb.BaudRate) + " baud is outside " +
                       std::to_string(kMinBaudRate) + " to " + std::to_string(kMaxBaudRate));
    if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5)
        return invalid("1.5 stop bits need 5 data bits");
    if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5)
        return invalid("2 stop bits do not go with 5 data bits");
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar)
        return invalid("XON and XOFF must be different characters");
    if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE)
        return invalid("there is no DTR control code " + std::to_string(dcb.fDtrControl));
    // Linux's CRTSCTS is RTS/CTS in both directions at once; DTR/DSR handshake, RTS toggling,
    // error-character replacement and NUL stripping have no termios counterpart.
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fOutxDsrFlow || dcb.fDsrSensitivity)
        return unsupported("Linux has no DTR/DSR flow control");
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        return unsupported("Linux cannot toggle RTS around each send");
    if (dcb.fErrorChar || dcb.fNull)
        return unsupported("Linux cannot replace bytes with parity errors or drop NUL bytes");
    if (bool(dcb.fOutxCtsFlow) != (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE))
        return unsupported("Linux has RTS/CTS flow control only in both directions at once");
    return {};
}

} // namespace

DeviceStatus ValidateDcb(const DCB& dcb, std::string* whyNot)
{
    Refusal refusal = Check(dcb);
    if (whyNot)
        *whyNot = std::move(refusal.why);
    return refusal.status;
}
