#include "res/Icons.h"

#include <array>

QIcon VorlantiIcon()
{
    // The resources live in a static library: naming their initialiser here makes the linker
    // keep them in every program that asks for the icon.
    static const bool registered = []
    {
        Q_INIT_RESOURCE(vorlanti);
        return true;
    }();
    Q_UNUSED(registered);

    QIcon icon;
    for (const int size : std::array{16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/vorlanti-%1.png").arg(size), QSize(size, size));
    return icon;
}
