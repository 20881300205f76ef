#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "kvm/DialogServices.h"

struct SharedState;
class KvmOperations;

// What the screen showed at one UpdateData().
struct ServiceSnapshot {
    std::string status;
    std::string log;
    int progress = 0;
};

// A front end that remembers every call the operations make, from whichever
// thread they come.
class RecordingServices : public DialogServices {
public:
    explicit RecordingServices(SharedState& state) : m_state(state) {}

    // Lets EnableButtons() note whether the worker still counted as running.
    void Watch(const KvmOperations* operations) { m_operations = operations; }
    void SetPortSelection(const std::string& selection);
    void SetConfirmAnswer(bool answer);

    void SetStatus(const std::string& text) override;
    void UpdateData() override;
    void TrimLog() override;
    void DisableButtons() override;
    void EnableButtons() override;
    void SetProgress(int percent) override;
    std::string PortSelection() override;
    bool Confirm(const std::string& text, const std::string& caption) override;
    void ShowWarning(const std::string& text, const std::string& caption) override;

    // Call names in order: "status", "update", "trim", "disable", "enable",
    // "progress", "confirm", "warning".
    std::vector<std::string> Calls() const;
    int CallCount(const std::string& name) const;
    std::vector<std::string> Statuses() const;
    std::string Status() const;
    std::vector<ServiceSnapshot> Snapshots() const;
    std::vector<int> ProgressValues() const;
    std::vector<std::string> Confirmations() const; // "caption|text"
    bool WorkerRunningAtLastEnable() const;
    bool PortOpenAtLastEnable() const;

    bool WaitForEnable(int count, std::chrono::milliseconds timeout) const;
    void Clear();

private:
    void Record(const char* name);

    SharedState& m_state;
    const KvmOperations* m_operations = nullptr;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::string m_portSelection = "AUTO";
    bool m_confirmAnswer = true;
    std::string m_status;
    int m_progress = 0;
    std::vector<std::string> m_calls;
    std::vector<std::string> m_statuses;
    std::vector<ServiceSnapshot> m_snapshots;
    std::vector<int> m_progressValues;
    std::vector<std::string> m_confirmations;
    bool m_workerRunningAtEnable = false;
    bool m_portOpenAtEnable = false;
};
