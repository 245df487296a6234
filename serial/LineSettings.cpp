#include "serial/LineSettings.h"

#include <vector>

namespace
{

// A choice with nothing selected (an index outside its table) counts as its default.
int Pick(int index, std::size_t size, int fallback)
{
    return index >= 0 && static_cast<std::size_t>(index) < size ? index : fallback;
}

const char* FlowWords(const DCB& d)
{
    const bool rtsCts = d.fOutxCtsFlow != 0;
    const bool xonXoff = d.fOutX || d.fInX;
    return rtsCts && xonXoff ? "RTS/CTS and XON/XOFF flow control"
           : rtsCts          ? "RTS/CTS flow control"
           : xonXoff         ? "XON/XOFF flow control"
                             : "no flow control";
}

bool SameRate(std::uint32_t a, std::uint32_t b)
{
    const std::uint64_t difference = a > b ? a - b : b - a;
    return difference <= std::uint64_t{a} / 50;
}

} // namespace

std::string SettingsThatDiffer(const DCB& described, const DCB& other)
{
    constexpr const char* kStopWords[] = {"1 stop bit", "1.5 stop bits", "2 stop bits"};
    constexpr const char* kParityWords[] = {"no parity", "odd parity", "even parity", "mark parity",
                                            "space parity"};
    const DCB& d = described;
    std::vector<std::string> words;
    if (d.ByteSize != other.ByteSize)
        words.push_back(std::to_string(d.ByteSize) + " data bits");
    if (d.StopBits != other.StopBits && d.StopBits < std::size(kStopWords))
        words.push_back(kStopWords[d.StopBits]);
    if (d.Parity != other.Parity && d.Parity < std::size(kParityWords))
        words.push_back(kParityWords[d.Parity]);
    if (!SameRate(d.BaudRate, other.BaudRate))
        words.push_back(std::to_string(d.BaudRate) + " baud");
    if (std::string(FlowWords(d)) != FlowWords(other))
        words.push_back(FlowWords(d));
    if (d.fDtrControl != other.fDtrControl)
        words.push_back(d.fDtrControl == DTR_CONTROL_DISABLE ? "DTR off" : "DTR on");
    const bool handshake =
        d.fRtsControl == RTS_CONTROL_HANDSHAKE || other.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (!handshake && d.fRtsControl != other.fRtsControl)
        words.push_back(d.fRtsControl == RTS_CONTROL_DISABLE ? "RTS off" : "RTS on");
    std::string list;
    for (std::size_t i = 0; i < words.size(); ++i)
        list += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
    return list;
}

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
