#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "cli/CliServices.h"
#include "kvm/SharedState.h"

namespace {

class CliServicesTest : public ::testing::Test {
protected:
    CliServices& Services(bool errIsTerminal = false, bool inIsTerminal = false)
    {
        m_services = std::make_unique<CliServices>(*m_state, m_out, m_err, m_in, errIsTerminal,
                                                   inIsTerminal);
        return *m_services;
    }

    std::unique_ptr<SharedState> m_state = std::make_unique<SharedState>();
    std::ostringstream m_out;
    std::ostringstream m_err;
    std::istringstream m_in;
    std::unique_ptr<CliServices> m_services;
};

TEST_F(CliServicesTest, UpdateDataPrintsEachPartOfTheLogOnce)
{
    CliServices& services = Services();
    const struct {
        std::string log;
        std::string printed; // what this step adds to the output
    } steps[] = {
        {"Searching COM1 ... ", "Searching COM1 ... "},
        {"Searching COM1 ... [   OK   ]\n", "[   OK   ]\n"},
        {"Searching COM1 ... [   OK   ]\n", ""},
        {"Version", "Version"},           // replaced, at the start of a line
        {"Other text", "\nOther text"},   // replaced in the middle of a line
        {"", "\n"},                       // emptied by the trim rule
        {"", ""},
        {"Next\t[ Passed ]", "Next\t[ Passed ]"},
    };
    std::string expected;
    for (const auto& step : steps) {
        m_state->logText = step.log;
        services.UpdateData();
        expected += step.printed;
        EXPECT_EQ(m_out.str(), expected) << "after the log \"" << step.log << "\"";
    }
    EXPECT_EQ(m_err.str(), "");
}

TEST_F(CliServicesTest, StatusGoesToTheErrorStreamWhenItChanges)
{
    CliServices& services = Services();
    const struct {
        std::string status;
        std::string printed;
    } steps[] = {
        {"", ""},
        {"Searching for KVM...", "Searching for KVM...\n"},
        {"Searching for KVM...", ""},
        {"Upgrade complete!", "Upgrade complete!\n"},
    };
    std::string expected;
    for (const auto& step : steps) {
        services.SetStatus(step.status);
        EXPECT_EQ(m_err.str(), expected) << "shown only at UpdateData";
        services.UpdateData();
        expected += step.printed;
        EXPECT_EQ(m_err.str(), expected) << step.status;
    }
    EXPECT_EQ(services.Status(), "Upgrade complete!");
}

TEST_F(CliServicesTest, ProgressWithoutATerminalIsALinePerTenPercent)
{
    CliServices& services = Services(false);
    for (int percent : {0, 1, 5, 9, 10, 11, 19, 37, 38, 99, 100, 100, 0, 3, 20})
        services.SetProgress(percent);
    EXPECT_EQ(m_err.str(),
              "Progress: 10 %\nProgress: 37 %\nProgress: 99 %\nProgress: 100 %\nProgress: 20 %\n");
}

TEST_F(CliServicesTest, ProgressOnATerminalRedrawsOneBar)
{
    CliServices& services = Services(true);
    services.SetProgress(0);
    services.SetProgress(50);
    services.SetProgress(50);
    const std::string bar = m_err.str();
    EXPECT_EQ(std::count(bar.begin(), bar.end(), '\r'), 2);
    EXPECT_EQ(bar.find('\n'), std::string::npos);
    EXPECT_NE(bar.find(" 50 %"), std::string::npos);

    // Other output ends the bar's line first.
    m_state->logText = "....";
    services.SetStatus("Sending");
    services.UpdateData();
    EXPECT_EQ(m_err.str(), bar + "\nSending\n");

    services.SetProgress(100);
    const std::string done = m_err.str().substr(bar.size() + 9);
    EXPECT_EQ(done.front(), '\r');
    EXPECT_EQ(done.substr(done.size() - 6), "100 %\n");
}

TEST_F(CliServicesTest, ConfirmAsksOnlyOnATerminal)
{
    const struct {
        bool assumeYes;
        bool inIsTerminal;
        std::string input;
        bool confirmed;
    } cases[] = {
        {true, false, "", true},
        {true, true, "n\n", true},
        {false, false, "y\n", false},
        {false, true, "y\n", true},
        {false, true, "yes\n", true},
        {false, true, "Y\n", true},
        {false, true, "n\n", false},
        {false, true, "\n", false},
        {false, true, "", false},
        {false, true, "yep\n", false},
    };
    for (const auto& c : cases) {
        m_err.str("");
        m_in.clear();
        m_in.str(c.input);
        CliServices& services = Services(false, c.inIsTerminal);
        services.SetAssumeYes(c.assumeYes);
        EXPECT_EQ(services.Confirm("Do you want to upgrade?", "Confirm"), c.confirmed)
            << "input \"" << c.input << "\" yes " << c.assumeYes << " terminal " << c.inIsTerminal;
        EXPECT_EQ(m_err.str().rfind("Confirm: Do you want to upgrade?\n", 0), 0u) << m_err.str();
    }
}

TEST_F(CliServicesTest, WarningAndPortSelection)
{
    CliServices& services = Services();
    EXPECT_EQ(services.PortSelection(), "AUTO");
    services.SetPortSelection("COM7");
    EXPECT_EQ(services.PortSelection(), "COM7");
    services.ShowWarning("File not exists!", "Warning");
    EXPECT_EQ(m_err.str(), "Warning: File not exists!\n");
    EXPECT_EQ(m_out.str(), "");
}

TEST_F(CliServicesTest, TrimLogEmptiesTheLogFromSevenEntries)
{
    CliServices& services = Services();
    m_state->logText = "six entries";
    services.UpdateData();
    m_state->logLineCount = 6;
    services.TrimLog();
    EXPECT_EQ(m_state->logText, "six entries");

    m_state->logLineCount = 7;
    services.TrimLog();
    EXPECT_EQ(m_state->logText, "");
    EXPECT_EQ(m_state->logLineCount, 0);
    m_state->logText = "fresh";
    services.UpdateData();
    EXPECT_EQ(m_out.str(), "six entries\nfresh");
}

TEST_F(CliServicesTest, WorkerThreadOutputIsNeitherLostNorRepeated)
{
    CliServices& services = Services(true);
    constexpr int kAppends = 300;
    std::thread worker([&] {
        for (int i = 0; i < kAppends; ++i) {
            m_state->logText += "x";
            services.UpdateData();
        }
    });
    for (int i = 0; i < kAppends; ++i) {
        services.SetProgress(i % 101);
        services.SetStatus(i % 2 ? "odd" : "even");
        (void)services.PortSelection();
    }
    worker.join();
    EXPECT_EQ(m_out.str(), std::string(kAppends, 'x'));
}

} // namespace
