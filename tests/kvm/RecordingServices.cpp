#include "RecordingServices.h"

#include <algorithm>

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"

void RecordingServices::Record(const char* name)
{
    m_calls.emplace_back(name);
    m_changed.notify_all();
}

void RecordingServices::SetPortSelection(const std::string& selection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_portSelection = selection;
}

void RecordingServices::SetConfirmAnswer(bool answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_confirmAnswer = answer;
}

void RecordingServices::SetStatus(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = text;
    m_statuses.push_back(text);
    Record("status");
}

void RecordingServices::UpdateData()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_snapshots.push_back({m_status, m_state.logText, m_progress});
    Record("update");
}

void RecordingServices::TrimLog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Record("trim");
    }
    ApplyTrimLog(m_state, *this);
}

void RecordingServices::DisableButtons()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Record("disable");
}

void RecordingServices::EnableButtons()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_workerRunningAtEnable = m_operations != nullptr && m_operations->WorkerRunning();
    m_portOpenAtEnable = m_state.port != nullptr && m_state.port->IsOpen();
    Record("enable");
}

void RecordingServices::SetProgress(int percent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = percent;
    m_progressValues.push_back(percent);
    Record("progress");
}

std::string RecordingServices::PortSelection()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_portSelection;
}

bool RecordingServices::Confirm(const std::string& text, const std::string& caption)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_confirmations.push_back(caption + "|" + text);
    Record("confirm");
    return m_confirmAnswer;
}

void RecordingServices::ShowWarning(const std::string&, const std::string&)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Record("warning");
}

std::vector<std::string> RecordingServices::Calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int RecordingServices::CallCount(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), name));
}

std::vector<std::string> RecordingServices::Statuses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses;
}

std::string RecordingServices::Status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

std::vector<ServiceSnapshot> RecordingServices::Snapshots() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_snapshots;
}

std::vector<int> RecordingServices::ProgressValues() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progressValues;
}

std::vector<std::string> RecordingServices::Confirmations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_confirmations;
}

bool RecordingServices::WorkerRunningAtLastEnable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_workerRunningAtEnable;
}

bool RecordingServices::PortOpenAtLastEnable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_portOpenAtEnable;
}

bool RecordingServices::WaitForEnable(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::count(m_calls.begin(), m_calls.end(), "enable") >= count;
    });
}

void RecordingServices::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
    m_statuses.clear();
    m_snapshots.clear();
    m_progressValues.clear();
    m_confirmations.clear();
}
