#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// What a terminal shows for the bytes written to it: "\r" goes back to the
// line's start, ESC [ K clears the rest of the line, "\n" starts a new line.
std::vector<std::string> Screen(const std::string& bytes)
{
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string& line = lines.back();
        const char c = bytes[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else if (c == '\033' && bytes.compare(i, 3, "\033[K") == 0) {
            line.erase(std::min(column, line.size()));
            i += 2;
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line.append(column - line.size(), ' ').push_back(c);
            ++column;
        }
    }
    return lines;
}

// The bar on the error stream's last line, redrawn in place; other lines
// clear it and it is drawn again below them.
TEST_F(CliServicesTest, ProgressOnATerminalIsOneBarBelowTheStatusLines)
{
    CliServices& services = Services(true);
    services.SetProgress(0);
    services.SetProgress(50);
    services.SetProgress(50);
    EXPECT_EQ(Screen(m_err.str()), (std::vector<std::string>{
                                       "[####################--------------------]  50 %"}));
    services.SetStatus("Sending");
    services.UpdateData();
    services.SetProgress(75);
    EXPECT_EQ(Screen(m_err.str()), (std::vector<std::string>{
                                       "Sending", "[##############################----------]  75 %"}));
    services.ShowWarning("Careful", "Warning");
    services.Finish();
    EXPECT_EQ(Screen(m_err.str()),
              (std::vector<std::string>{"Sending", "Warning: Careful",
                                        "[##############################----------]  75 %", ""}));
    EXPECT_EQ(m_out.str(), "");
}

// One terminal for both streams: a status line never splits a log entry;
// the entry's unfinished part is shown beside the bar on the last line, which
// always fits the terminal's width.
TEST_F(CliServicesTest, OneTerminalForBothStreamsKeepsEntriesWhole)
{
    std::ostringstream terminal;
    std::istringstream noInput;
    CliServices services(*m_state, terminal, terminal, noInput, true, false);
    services.SetSharedDestination(true);
    services.SetColumns(60);

    m_state->logText = "Connecting to KVM................";
    services.UpdateData();
    EXPECT_EQ(Screen(terminal.str()).back(), "Connecting to KVM................");
    services.SetStatus("Searching KVM..Plesase Wait");
    services.UpdateData();
    m_state->logText += "[   OK   ]\nUpgrading in progress";
    services.SetStatus("Do not remove cable or power..");
    for (int percent = 0; percent <= 50; percent += 10) {
        m_state->logText += ".";
        services.SetProgress(percent);
        services.UpdateData();
        const std::string last = Screen(terminal.str()).back();
        EXPECT_LE(last.size(), 59u) << last;
        EXPECT_EQ(last.rfind("Upgrading in progress", 0), 0u) << last;
        EXPECT_NE(last.find(std::to_string(percent) + " %"), std::string::npos) << last;
    }
    services.SetProgress(100);
    m_state->logText += "[   OK   ]";
    services.SetStatus("Upgrade complete!");
    services.UpdateData();
    services.Finish();
    const std::vector<std::string> screen = Screen(terminal.str());
    ASSERT_EQ(screen.size(), 7u) << terminal.str();
    EXPECT_EQ(std::vector<std::string>(screen.begin(), screen.begin() + 5),
              (std::vector<std::string>{"Searching KVM..Plesase Wait", "Connecting to KVM................[   OK   ]",
                                        "Do not remove cable or power..", "Upgrade complete!",
                                        "Upgrading in progress......[   OK   ]"}));
    EXPECT_EQ(screen[5], "[########################################] 100 %");
    EXPECT_EQ(screen[6], "");
}

// One file for both streams (2>&1): no bar, no line drawn twice, and the
// output's lines reach the file whole.
TEST_F(CliServicesTest, OneFileForBothStreamsGetsWholeLines)
{
    std::ostringstream file;
    std::istringstream noInput;
    CliServices services(*m_state, file, file, noInput, false, false);
    services.SetSharedDestination(true);

    m_state->logText = "Checking COM1 ...";
    services.SetStatus("Searching");
    services.UpdateData();
    EXPECT_EQ(file.str(), "Searching\n");
    m_state->logText += "[   OK   ]\nConnecting..";
    services.SetProgress(20);
    services.UpdateData();
    services.Finish();
    EXPECT_EQ(file.str(), "Searching\nProgress: 20 %\nChecking COM1 ...[   OK   ]\nConnecting..\n");
}

// A reason queued while a log entry is open follows that entry's line,
// whether the entry was appended or started a new log.
TEST_F(CliServicesTest, NotesFollowTheEntryTheyExplain)
{
    std::ostringstream both;
    std::istringstream noInput;
    CliServices services(*m_state, both, both, noInput, false, false);

    m_state->logText = "Press Check KVM to compare version date.";
    services.UpdateData();
    m_state->logText = "Checking COM1 ...";
    services.QueueNote("COM1: no such device");
    m_state->logText += "[ Failed ]\n";
    m_state->logText += "No KVM response.";
    services.UpdateData();
    EXPECT_EQ(both.str(), "Press Check KVM to compare version date.\nChecking COM1 ...[ Failed ]\n"
                          "COM1: no such device\nNo KVM response.");

    m_state->logText = "Opening COM2 ...";
    services.UpdateData();
    services.QueueNote("COM2: device busy");
    services.QueueNote("(second reason)");
    m_state->logText += "[ Failed ]\nOpening COM3 ...";
    services.UpdateData();
    EXPECT_TRUE(both.str().ends_with("\nOpening COM2 ...[ Failed ]\nCOM2: device busy\n(second reason)\n"
                                     "Opening COM3 ..."))
        << both.str();

    services.QueueNote("COM3: not a serial line");
    services.Finish();
    EXPECT_TRUE(both.str().ends_with("Opening COM3 ...\nCOM3: not a serial line\n")) << both.str();
}

// After an interrupt's last word nothing more is written, from any thread.
TEST_F(CliServicesTest, AbandonEndsTheLinesAndSilencesTheRest)
{
    CliServices& services = Services(true);
    m_state->logText = "Upgrading in progress...";
    services.SetProgress(40);
    services.UpdateData();
    services.Abandon("Upgrade aborted.");
    const std::string out = m_out.str();
    const std::string err = m_err.str();
    EXPECT_EQ(out, "Upgrading in progress...\n");
    EXPECT_EQ(Screen(err), (std::vector<std::string>{"Upgrade aborted.", ""}));

    m_state->logText += "....[   OK   ]";
    services.SetStatus("Upgrade complete!");
    services.SetProgress(100);
    services.UpdateData();
    services.ShowWarning("late", "Warning");
    services.Finish();
    EXPECT_EQ(m_out.str(), out);
    EXPECT_EQ(m_err.str(), err);
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

TEST_F(CliServicesTest, ConfirmShowsTheLogsUnfinishedLineFirst)
{
    std::ostringstream both;
    std::istringstream noInput;
    CliServices services(*m_state, both, both, noInput, false, false);
    services.SetSharedDestination(true);
    services.SetAssumeYes(true);
    m_state->logText = "Version : 7-12-25\n\nPress Check KVM to compare version date.";
    services.UpdateData();
    EXPECT_TRUE(services.Confirm("Go?", "Confirm"));
    m_state->logText = "Checking COM1 ...";
    services.UpdateData();
    services.Finish();
    EXPECT_EQ(both.str(), "Version : 7-12-25\n\nPress Check KVM to compare version date.\n"
                          "Confirm: Go?\n(--yes given: going ahead)\nChecking COM1 ...\n");
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

    // A verdict appended without UpdateData is shown before the trim.
    m_state->logText += "[ Failed ]\n";
    m_state->logLineCount = 7;
    services.TrimLog();
    EXPECT_EQ(m_state->logText, "");
    EXPECT_EQ(m_state->logLineCount, 0);
    m_state->logText = "fresh";
    services.UpdateData();
    EXPECT_EQ(m_out.str(), "six entries[ Failed ]\nfresh");
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
