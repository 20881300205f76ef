#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kvm/DialogServices.h"

// Front end for the loader's tests: keeps the warnings it was asked to show,
// does nothing else.
class WarningRecorder : public DialogServices {
public:
    void SetStatus(const std::string&) override {}
    void UpdateData() override {}
    void TrimLog() override {}
    void DisableButtons() override {}
    void EnableButtons() override {}
    void SetProgress(int) override {}
    std::string PortSelection() override { return "AUTO"; }
    bool Confirm(const std::string&, const std::string&) override { return false; }
    void ShowWarning(const std::string& text, const std::string& caption) override
    {
        m_warnings.emplace_back(text, caption);
    }

    std::vector<std::pair<std::string, std::string>> m_warnings;
};
