// The administrator's command line, the exit codes, the unattended answers and
// the run's log file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/posix_platform.h"
#include "platform/run_log.h"
#include "platform/ui.h"
#include "string_ids.h"
#include "tests/support/temp_dir.h"
#include "transfer/run_options.h"

using namespace zv;

namespace {

struct SwitchCase {
    const char* line;
    CommandLineResult result;
    UiLevel ui;
    bool noRestart;
    bool help;
    const char* logPath;
    const char* badWord;
};

TEST(CommandLine, SwitchesAreReadCaseInsensitivelyWithSlashOrDash) {
    const SwitchCase cases[] = {
        {"zvupdate.exe", CommandLineResult::Ok, UiLevel::Full, false, false, "", ""},
        {"", CommandLineResult::Ok, UiLevel::Full, false, false, "", ""},
        {"\"C:\\Program Files\\zv update.exe\"", CommandLineResult::Ok, UiLevel::Full, false, false, "", ""},
        {"\"C:\\a b\\zvupdate.exe\" /quiet", CommandLineResult::Ok, UiLevel::Quiet, false, false, "", ""},
        {"zvupdate.exe -QUIET", CommandLineResult::Ok, UiLevel::Quiet, false, false, "", ""},
        {"zvupdate.exe /Passive", CommandLineResult::Ok, UiLevel::Passive, false, false, "", ""},
        {"zvupdate.exe /quiet /passive", CommandLineResult::Ok, UiLevel::Passive, false, false, "", ""},
        {"zvupdate.exe /passive -quiet", CommandLineResult::Ok, UiLevel::Quiet, false, false, "", ""},
        {"zvupdate.exe\t/NoRestart  ", CommandLineResult::Ok, UiLevel::Full, true, false, "", ""},
        {"zvupdate.exe /?", CommandLineResult::Ok, UiLevel::Full, false, true, "", ""},
        {"zvupdate.exe -?", CommandLineResult::Ok, UiLevel::Full, false, true, "", ""},
        {"zvupdate.exe /quiet /norestart /LOG C:\\update\\zv.log", CommandLineResult::Ok, UiLevel::Quiet, true,
         false, "C:\\update\\zv.log", ""},
        {"zvupdate.exe -log \"C:\\my logs\\zv.log\" /quiet", CommandLineResult::Ok, UiLevel::Quiet, false, false,
         "C:\\my logs\\zv.log", ""},
        // Refusals: /quiet read before the refused word still holds.
        {"zvupdate.exe /quiet /S", CommandLineResult::UnknownSwitch, UiLevel::Quiet, false, false, "", "/S"},
        {"zvupdate.exe /qn", CommandLineResult::UnknownSwitch, UiLevel::Full, false, false, "", "/qn"},
        {"zvupdate.exe quiet", CommandLineResult::UnknownSwitch, UiLevel::Full, false, false, "", "quiet"},
        {"zvupdate.exe \"\"", CommandLineResult::UnknownSwitch, UiLevel::Full, false, false, "", "\"\""},
        {"zvupdate.exe /", CommandLineResult::UnknownSwitch, UiLevel::Full, false, false, "", "/"},
        {"zvupdate.exe /quietly", CommandLineResult::UnknownSwitch, UiLevel::Full, false, false, "", "/quietly"},
        {"zvupdate.exe /quiet /log", CommandLineResult::MissingLogFile, UiLevel::Quiet, false, false, "", "/log"},
        {"zvupdate.exe /log   ", CommandLineResult::MissingLogFile, UiLevel::Full, false, false, "", "/log"},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.line);
        RunOptions options;
        EXPECT_EQ(ParseCommandLine(c.line, &options), c.result);
        EXPECT_EQ(options.ui, c.ui);
        EXPECT_EQ(options.noRestart, c.noRestart);
        EXPECT_EQ(options.help, c.help);
        EXPECT_STREQ(options.logPath, c.logPath);
        EXPECT_STREQ(options.badWord, c.badWord);
    }
}

TEST(CommandLine, AWordLongerThanAPathIsRefusedNotCut) {
    const std::string longName(kMaxPath + 10, 'x');
    const std::string lines[] = {"zvupdate.exe /log " + longName, "zvupdate.exe /" + longName};
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 20));
        RunOptions options;
        EXPECT_EQ(ParseCommandLine(line.c_str(), &options), CommandLineResult::TooLong);
        EXPECT_STREQ(options.logPath, "");
        EXPECT_EQ(std::strlen(options.badWord), kMaxPath - 1u);
    }
    RunOptions options;
    EXPECT_EQ(ParseCommandLine(nullptr, &options), CommandLineResult::Ok);
}

TEST(ExitCodes, EachHasItsOwnValueNameAndMeaning) {
    struct Row {
        ExitCode code;
        int value;
    };
    // The Windows Installer's values that deployment tools map.
    const Row rows[] = {
        {ExitCode::Success, 0},         {ExitCode::RestartNeeded, 3010},     {ExitCode::UserCancel, 1602},
        {ExitCode::Failed, 1603},       {ExitCode::NotInstalled, 1605},      {ExitCode::AlreadyCurrent, 1638},
        {ExitCode::WrongInstallation, 1642}, {ExitCode::AnotherCopy, 1618}, {ExitCode::PackageInvalid, 1620},
        {ExitCode::InvalidCommandLine, 1639}, {ExitCode::NoWindow, -1},
    };
    ASSERT_EQ(kExitCodeCount, sizeof rows / sizeof rows[0]);
    std::set<int> values;
    std::set<std::string> names;
    for (size_t k = 0; k < kExitCodeCount; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(kExitCodes[k], rows[k].code);
        EXPECT_EQ(static_cast<int>(kExitCodes[k]), rows[k].value);
        values.insert(static_cast<int>(kExitCodes[k]));
        names.insert(ExitCodeName(kExitCodes[k]));
        EXPECT_STRNE(ExitCodeName(kExitCodes[k]), "?");
        EXPECT_GT(std::strlen(ExitCodeMeaning(kExitCodes[k])), 10u);
    }
    EXPECT_EQ(values.size(), kExitCodeCount);
    EXPECT_EQ(names.size(), kExitCodeCount);
}

TEST(ExitCodes, RefusalsAndTransferResultsMapToTheirCodes) {
    const struct {
        unsigned messageId;
        ExitCode code;
    } refusals[] = {
        {0, ExitCode::Success},
        {IDS_VERSION_BLOCKED, ExitCode::AlreadyCurrent},
        {IDS_LANGUAGE_REFUSED, ExitCode::WrongInstallation},
        {IDS_CD_INSTALL, ExitCode::WrongInstallation},
        {IDS_PLMR16_IN_USE, ExitCode::WrongInstallation},
        {IDS_PLMR32_IN_USE, ExitCode::WrongInstallation},
        {IDS_PACKAGE_DAMAGED, ExitCode::PackageInvalid},
        {IDS_NO_MEMORY, ExitCode::Failed},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.messageId);
        EXPECT_EQ(ExitCodeOfRefusal(r.messageId), r.code);
    }
    const struct {
        int32_t result;
        bool byUser;
        ExitCode code;
    } transfers[] = {
        {0, false, ExitCode::Success},
        {0, true, ExitCode::Success},
        {-1, true, ExitCode::UserCancel},  // halted
        {-1, false, ExitCode::Failed},  // Abort, the unattended answer to write protection
        {ANSWER_CANCEL, true, ExitCode::UserCancel},  // the user's Cancel at a question
        {ANSWER_CANCEL, false, ExitCode::Failed},  // the unattended run's own Cancel, or OK after a failure
        {IDS_MEMBER_DAMAGED, false, ExitCode::Failed},
        {IDS_MEMBER_DAMAGED, true, ExitCode::Failed},
        {IDS_LINK_REFUSED, false, ExitCode::Failed},
        {IDS_WRITE_ERROR, true, ExitCode::Failed},
    };
    for (const auto& t : transfers) {
        SCOPED_TRACE(std::to_string(t.result) + (t.byUser ? " user's Cancel" : ""));
        EXPECT_EQ(ExitCodeOfTransfer(t.result, t.byUser), t.code);
    }
}

TEST(Unattended, EveryQuestionIsAnsweredSoThatTheRunEnds) {
    const struct {
        unsigned style;
        int answer;
    } cases[] = {
        {BOX_OK | BOX_ICONEXCLAMATION, ANSWER_OK},
        {BOX_OK | BOX_ICONSTOP, ANSWER_OK},
        {BOX_RETRYCANCEL | BOX_ICONEXCLAMATION, ANSWER_CANCEL},  // in use, write error, no space
        {BOX_ABORTRETRYIGNORE | BOX_ICONEXCLAMATION, ANSWER_ABORT},  // write protected
        {BOX_OKCANCEL, ANSWER_CANCEL},  // the disk prompt
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        EXPECT_EQ(UnattendedAnswer(c.style), c.answer);
    }
}

TEST(LogName, SaysTheProductAndTheTime) {
    char name[kMaxPath] = {};
    const struct {
        const char* dir;
        unsigned attempt;
        const char* expected;
    } cases[] = {
        {"C:\\TEMP\\", 1, "C:\\TEMP\\ZarvelUpdate-20261211-040509.log"},
        {"C:\\TEMP", 1, "C:\\TEMP\\ZarvelUpdate-20261211-040509.log"},
        {"C:\\TEMP\\", 3, "C:\\TEMP\\ZarvelUpdate-20261211-040509-3.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(ComposeLogName(c.dir, 2026, 12, 11, 4, 5, 9, c.attempt, name, sizeof name),
                  static_cast<int>(std::strlen(c.expected)));
        EXPECT_STREQ(name, c.expected);
    }
    const std::string deep(kMaxPath - 10, 'd');
    EXPECT_EQ(ComposeLogName(deep.c_str(), 2026, 12, 11, 4, 5, 9, 1, name, sizeof name), 0);
    EXPECT_EQ(ComposeLogName("C:\\", 2026, 12, 11, 4, 5, 9, 1, name, 10), 0);
}

struct RunLogTest : ::testing::Test {
    zvtest::TempDir dir;
    PosixPlatform os;
    std::string Read(const std::string& name) {
        const std::vector<uint8_t> bytes = zvtest::ReadFileBytes(dir / name);
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(RunLogTest, EachLineIsInTheFileAsSoonAsItIsWritten) {
    RunLog log;
    ASSERT_TRUE(OpenRunLog(os, (dir / "zv.log").c_str(), false, &log));
    const struct {
        const char* stamp;
        const char* text;
        const char* line;
    } lines[] = {
        {"04:05:09.120", "zvupdate: start", "04:05:09.120 zvupdate: start\r\n"},
        {"", "no stamp\n", "no stamp\r\n"},
        {nullptr, "two\nlines\r\n", "two lines\r\n"},
        {"t", "", "t \r\n"},
    };
    std::string expected;
    for (const auto& l : lines) {
        SCOPED_TRACE(l.line);
        WriteRunLogLine(log, l.stamp, l.text);
        expected += l.line;
        // Not held back in a buffer: a killed run leaves what it wrote.
        EXPECT_EQ(Read("zv.log"), expected);
    }
    const std::string longText(3000, 'x');
    WriteRunLogLine(log, "s", longText.c_str());
    CloseRunLog(log);
    EXPECT_EQ(Read("zv.log"), expected + "s " + std::string(1021, 'x') + "\r\n");
    // A closed log writes nothing.
    WriteRunLogLine(log, "", "after");
    EXPECT_EQ(Read("zv.log").find("after"), std::string::npos);
}

TEST_F(RunLogTest, AnExistingFileIsAppendedToOnlyWhenNamedAndALinkIsNeverFollowed) {
    zvtest::WriteFileText(dir / "old.log", "earlier run\r\n");
    RunLog log;
    EXPECT_FALSE(OpenRunLog(os, (dir / "old.log").c_str(), false, &log));
    WriteRunLogLine(log, "", "lost");
    ASSERT_TRUE(OpenRunLog(os, (dir / "old.log").c_str(), true, &log));
    WriteRunLogLine(log, "", "this run");
    CloseRunLog(log);
    EXPECT_EQ(Read("old.log"), "earlier run\r\nthis run\r\n");

    // A link planted where the log goes, to a file the run must not write.
    zvtest::WriteFileText(dir / "precious", "keep");
    ASSERT_EQ(symlink((dir / "precious").c_str(), (dir / "planted.log").c_str()), 0);
    for (bool append : {false, true}) {
        SCOPED_TRACE(append);
        EXPECT_FALSE(OpenRunLog(os, (dir / "planted.log").c_str(), append, &log));
        WriteRunLogLine(log, "", "through the link");
    }
    EXPECT_EQ(Read("precious"), "keep");
    // A folder that is not there gives no log, and nothing fails after.
    EXPECT_FALSE(OpenRunLog(os, (dir / "missing/zv.log").c_str(), true, &log));
    WriteRunLogLine(log, "", "nowhere");
    CloseRunLog(log);
}

}  // namespace
