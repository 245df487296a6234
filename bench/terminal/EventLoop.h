// What the terminal benchmarks do between measurements: run the window's event loop for a while
// or until a condition holds (idle, not polling), and read their own "--name=value" flags.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <cstring>
#include <functional>
#include <string>

// Runs the event loop for `ms` milliseconds.
inline void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds or `timeoutMs` passes; looks every `checkMs`.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs, int checkMs = 20)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout,
                     [&]
                     {
                         if (done())
                             loop.quit();
                     });
    check.start(checkMs);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// "--name=value": true, with the value, when `arg` is that flag.
inline bool TakeFlag(const char* arg, const char* name, std::string* value)
{
    const std::size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=')
        return false;
    *value = arg + n + 1;
    return true;
}
