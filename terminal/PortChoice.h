// CPortChoice: the port choice of the terminal window, a drop-down list like the other
// choices that also tells its owner just before its list opens, so that the owner can refresh
// what each item's tooltip says about the device behind it. User-interface thread only.
#pragma once

#include <QComboBox>
#include <functional>
#include <utility>

class CPortChoice : public QComboBox
{
    Q_OBJECT

  public:
    using QComboBox::QComboBox;

    void SetAboutToOpen(std::function<void()> handler) { m_aboutToOpen = std::move(handler); }

    void showPopup() override
    {
        if (m_aboutToOpen)
            m_aboutToOpen();
        QComboBox::showPopup();
    }

  private:
    std::function<void()> m_aboutToOpen;
};
