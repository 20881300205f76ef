#pragma once

#include <QThread>
#include <condition_variable>
#include <mutex>

#include "kvm/KvmOperations.h"
#include "ui/qt/CUpgradeDlg.h"

// A dialog whose worker stops at its first log trim until the test lets it
// go on: the run is then certainly in progress, however fast the switch.
class GatedDlg : public CUpgradeDlg {
public:
    using CUpgradeDlg::CUpgradeDlg;
    ~GatedDlg() override
    {
        Release();
        Operations().WaitForWorker();
    }
    void TrimLog() override
    {
        if (QThread::currentThread() != thread()) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_waiting = true;
            m_changed.wait(lock, [this] { return m_open; });
        }
        CUpgradeDlg::TrimLog();
    }
    bool WorkerWaiting()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiting;
    }
    void Release()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_waiting = false;
    bool m_open = false;
};
