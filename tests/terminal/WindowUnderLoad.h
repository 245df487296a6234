// Shared by the window's device-fault and storm tests: a device that streams from a thread of
// its own, the process's open descriptors and threads, and a shown window on a temporary
// device tree with a pseudo-terminal as COM1 that a test can unplug and replace.
#pragma once

#include "PtyDevice.h"
#include "terminal/ControlIds.h"
#include "terminal/TerminalDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <thread>

// Writes `data` (once, or over and over) in irregular chunks, as a device would, until stopped.
class CStreamFeeder
{
  public:
    CStreamFeeder(CPtyDevice& device, std::vector<std::uint8_t> data, bool repeat)
        : m_data(std::move(data)), m_thread([this, &device, repeat] { Run(device, repeat); })
    {
    }
    ~CStreamFeeder() { Stop(); }
    CStreamFeeder(const CStreamFeeder&) = delete;
    CStreamFeeder& operator=(const CStreamFeeder&) = delete;

    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Done() const { return m_done; }
    std::size_t Sent() const { return m_sent; }

  private:
    void Run(CPtyDevice& device, bool repeat)
    {
        std::size_t offset = 0;
        std::uint32_t chunk = 1;
        while (!m_stop)
        {
            if (offset == m_data.size())
            {
                if (!repeat)
                    break;
                offset = 0;
            }
            // While nobody has the port open the device's end reports a hang-up at once, and
            // waiting for room on it would spin: pace the tries instead.
            pollfd end{device.MasterFd(), POLLOUT, 0};
            if (::poll(&end, 1, 0) == 1 && (end.revents & POLLHUP))
            {
                ::poll(nullptr, 0, 5);
                continue;
            }
            chunk = chunk * 1103515245u + 12345u;
            const std::size_t n =
                std::min<std::size_t>(1 + (chunk >> 16) % 1500, m_data.size() - offset);
            const std::size_t written = device.Write(m_data.data() + offset, n, 100);
            offset += written;
            m_sent += written;
        }
        m_done = true;
    }

    const std::vector<std::uint8_t> m_data;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<std::size_t> m_sent{0};
    std::thread m_thread;
};

// Helper threads of Qt's thread pools: they come and go with painting on their own schedule
// (an idle one ends after 30 s) and belong to no window.
inline int PooledThreads()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    {
        QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("Thread (pooled)"))
            ++count;
    }
    return count;
}

// Threads of this process, without Qt's pooled helpers.
inline int Threads()
{
    const int all = static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                         .size());
    return all - PooledThreads();
}

// Open descriptors of this process, without the one wake-up descriptor each of Qt's pooled
// helpers holds for its event loop.
inline int OpenDescriptors()
{
    const int all = static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
    return all - PooledThreads();
}

class WindowUnderLoad : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_com1->IsValid());
        ASSERT_TRUE(m_tree.Link(1, m_com1->SlavePath()));
        MakeWindow();
    }

    void MakeWindow()
    {
        m_dlg = std::make_unique<CTerminalDlg>(m_tree.Roots());
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    template <class T> T* Item(int id) { return qobject_cast<T*>(m_dlg->GetDlgItem(id)); }
    QComboBox* Choice(int id) { return Item<QComboBox>(id); }
    QString Pane(int id) { return Item<QLabel>(id)->text(); }
    QString PortToolTip() { return Item<QLabel>(IDC_STATUS_PORT)->toolTip(); }
    void Click(int id) { QTest::mouseClick(m_dlg->GetDlgItem(id), Qt::LeftButton); }

    void Open()
    {
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
    }
    std::string LogText() { return m_dlg->ReceiveLog().Copy(0, m_dlg->ReceiveLog().Length()); }
    bool LogEndsWith(const std::string& hex)
    {
        const std::string log = LogText();
        return log.size() >= hex.size() &&
               log.compare(log.size() - hex.size(), hex.size(), hex) == 0;
    }

    CDeviceTree m_tree;
    std::unique_ptr<CPtyDevice> m_com1 = std::make_unique<CPtyDevice>();
    std::unique_ptr<CTerminalDlg> m_dlg;
};
