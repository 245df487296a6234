#include "serial/LineSettings.h"

namespace
{

// A choice with nothing selected (an index outside its table) counts as its default.
int Pick(int index, std::size_t size, int fallback)
{
    return index >= 0 && static_cast<std::size_t>(index) < size ? index : fallback;
}

} // namespace

void MapLineSettings(const LineChoices& choices, DCB* dcb)
{
    if (!dcb)
        return;
    const bool deviceRtsHandshake = dcb->fRtsControl == RTS_CONTROL_HANDSHAKE;
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = g_baudRates[Pick(choices.baudIndex, g_baudRates.size(), kDefaultBaudIndex)];
    dcb->ByteSize = static_cast<std::uint8_t>(
        kFirstByteSize + Pick(choices.byteSizeIndex, kByteSizeCount, kDefaultByteSizeIndex));
    dcb->StopBits = static_cast<std::uint8_t>(
        Pick(choices.stopBitsIndex, g_stopBitsNames.size(), kDefaultStopBitsIndex));
    dcb->Parity = static_cast<std::uint8_t>(
        Pick(choices.parityIndex, g_parityNames.size(), kDefaultParityIndex));
    dcb->fDtrControl = choices.dtrChecked ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb->fRtsControl = choices.rtsChecked ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;

    switch (choices.flowIndex)
    {
    case kFlowNone:
        dcb->fOutxCtsFlow = 0;
        dcb->fOutxDsrFlow = 0;
        dcb->fOutX = 0;
        dcb->fInX = 0;
        break;
    case kFlowHardware:
        // RTS/CTS both ways: the driver owns RTS, so the RTS box has no effect.
        dcb->fOutxCtsFlow = 1;
        dcb->fOutxDsrFlow = 0;
        dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
        dcb->fOutX = 0;
        dcb->fInX = 0;
        break;
    case kFlowSoftware:
        dcb->fOutxCtsFlow = 0;
        dcb->fOutxDsrFlow = 0;
        dcb->fOutX = 1;
        dcb->fInX = 1;
        dcb->XonChar = 0x11;
        dcb->XoffChar = 0x13;
        break;
    default:
        // Custom: the flow fields stay as the device reported them, RTS handshake included
        // (it is flow control, not a level the RTS box could set).
        if (deviceRtsHandshake)
            dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
    }
}
