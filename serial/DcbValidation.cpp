#include "serial/DcbValidation.h"

DeviceStatus ValidateDcb(const DCB& dcb)
{
    const bool invalid = dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.StopBits > TWOSTOPBITS ||
                         dcb.Parity > SPACEPARITY || dcb.BaudRate < kMinBaudRate ||
                         dcb.BaudRate > kMaxBaudRate ||
                         (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
                         (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) ||
                         ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) ||
                         dcb.fDtrControl > DTR_CONTROL_HANDSHAKE;
    if (invalid)
        return DeviceStatus::InvalidParameter;
    // Linux's CRTSCTS is RTS/CTS in both directions at once; DTR/DSR handshake, RTS toggling,
    // error-character replacement and NUL stripping have no termios counterpart.
    const bool unsupported = dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fOutxDsrFlow ||
                             dcb.fDsrSensitivity || dcb.fRtsControl == RTS_CONTROL_TOGGLE ||
                             dcb.fErrorChar || dcb.fNull ||
                             bool(dcb.fOutxCtsFlow) != (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    return unsupported ? DeviceStatus::NotSupported : DeviceStatus::Ok;
}
