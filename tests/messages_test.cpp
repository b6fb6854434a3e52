// Messages and questions: the texts from the string table, formatting with
// the file name, buttons, icons, captions and owners, and texts cut to their
// buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/messages.h"
#include "platform/string_table.h"
#include "platform/posix_platform.h"
#include "platform/text.h"
#include "tests/support/fault_platform.h"
#include "tests/support/scripted_ui.h"

using namespace zv;

namespace {

struct MessagesTest : ::testing::Test {
    zvtest::ScriptedUi ui;
    RunContext run;
    void SetUp() override {
        run.ui = &ui;
        std::strcpy(run.titleText, "Zarvel Udpater");
    }
    const zvtest::RecordedMessage& Last() { return ui.messages.back(); }
};

const WindowRef kPage = 0x1234;

}  // namespace

TEST(StringTable, HoldsEveryTextExactly) {
    struct Case {
        unsigned id;
        const char* text;
    } cases[] = {
        {32, "Window problem..."},
        {33, "%s is missing!"},
        {34, "%s: read error!"},
        {35, "%s: write error!"},
        {36, "%s: Cannot remove this file because it is write protected."},
        {37, "Not enough memory!"},
        {38, "Invalid directory!"},
        {39, "%s in use! Please, close all applications and retry."},
        {40, "There is not enough disk space in the target directory."},
        {41, "Disk full!"},
        {48, "None"}, {49, "Unknown"}, {50, "Minimal"}, {51, "Normal"}, {52, "Full"},
        {64, "This program cannot update your installed version of Zarvel. The version on your hard disk "
             "has a higher or equal version number to this updater."},
        {65, "This program cannot update your translated version of Zarvel."},
        {66, "This program cannot update Zarvel on the CD Drive. You must re-install Zarvel using the "
             "\"Normal\" installation before you can update it."},
        {67, "This program cannot update your version of Zarvel."},
        {68, "PLMR.DLL is in use! Please close all running applications, then restart this program."},
        {69, "PLMR32.DLL is in use! Please close all running applications, then restart this program."},
        {70, "This program cannot update Zarvel: its update package is damaged. Please get a new copy of this "
             "updater."},
        {71, "%s: the update package is damaged. Zarvel has been left as it was. Please get a new copy of this "
             "updater."},
        {72, "An earlier update of Zarvel was cut short and cannot be undone now. Please close all applications, "
             "then run this program again."},
        {76, "%s is a link to another place, or is in the way of the update. Zarvel has been left as it was. "
             "Please have it removed, then run this program again."},
        {80, "Click &Next to update Zarvel on your hard disk."},
        {81, "Click &Quit to return to Windows."},
        {96, "Zarvel Udpater"},
        {97, "Zarvel Updater - %s"},
        {98, "Insert disk %d in drive %s."},
        {112, "Welcome"}, {113, "File Detection"}, {114, "File Transfer"}, {115, "End"},
        {120, "%s, the record of an earlier update of Zarvel, is damaged. Nothing has been changed. If no other "
              "copy of this program is running, delete that file, then run this program again."},
        {121, "An earlier update of Zarvel was cut short. %s had been changed since, so it was left as it is. If "
              "Zarvel does not work, please install it again."},
        {128, "This updater is damaged: its digital signature does not match its contents. Zarvel has been left "
              "as it was. Please get a new copy of this updater."},
        {129, "This updater is signed, but its update package cannot be checked against the signature (its check "
              "data is missing or of a newer kind). Zarvel has been left as it was. Please get a new copy of this "
              "updater."},
        {130, "The files of the update package cannot be checked: Windows does not provide SHA-256 on this "
              "computer. Zarvel has been left as it was."},
        // The switches (/?) and the refusal of an unknown one.
        {140, "Usage: zvupdate.exe [/quiet | /passive] [/norestart] [/log FILE] [/?]"},
        {141, "/quiet      No window at all. Every question ends the run and Zarvel is left as it was."},
        {142, "/passive    Only the progress of the transfer is shown. Questions are answered as with /quiet."},
        {143, "/log FILE   The log of the run goes to FILE (without it, to the temporary folder)."},
        {144, "/norestart  Accepted for deployment tools: this updater never restarts Windows."},
        {145, "/?          Shows this list."},
        {146, "Exit codes:"},
        {147, "%s is not a switch of this program. Run it with /? to see its switches."},
        {160, "%s is in use by %s. Please close it and retry."},
        {161, "Zarvel has been left as it was: none of its files has been changed."},
    };
    EXPECT_EQ(kStringTableSize, sizeof cases / sizeof cases[0]);
    for (const Case& c : cases) {
        char text[300];
        LoadText(c.id, text, sizeof text);
        EXPECT_STREQ(text, c.text) << "string " << c.id;
    }
    char text[8] = "x";
    EXPECT_EQ(LoadText(99, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(MessagesTest, ReportErrorFormatsTheFileNameOnlyForItsFormats) {
    ReportError(run, kPage, 34, "C:\\UPDATE\\SETUP.EXE");
    EXPECT_EQ(Last().text, "C:\\UPDATE\\SETUP.EXE: read error!");
    EXPECT_EQ(Last().style, BOX_OK | BOX_ICONEXCLAMATION);
    EXPECT_FALSE(Last().hasCaption);
    EXPECT_EQ(Last().owner, kPage);
    EXPECT_EQ(Last().stringId, 34u);

    // 37 is shown as it stands, whatever the file name holds.
    char unterminated[kMaxPath];
    std::memset(unterminated, 'x', sizeof unterminated);  // no terminating zero at all
    ReportError(run, kNoWindow, 37, unterminated);
    EXPECT_EQ(Last().text, "Not enough memory!");
    EXPECT_EQ(Last().style, BOX_OK | BOX_ICONEXCLAMATION);
    EXPECT_EQ(Last().owner, kNoWindow);
}

TEST_F(MessagesTest, EachOperationHasItsButtonsIconAndCaption) {
    ui.Script({ANSWER_RETRY, ANSWER_IGNORE});
    EXPECT_EQ(AskRetryCancel(run, kPage, 39, "PLMR.DLL"), ANSWER_RETRY);
    EXPECT_EQ(Last().text, "PLMR.DLL in use! Please, close all applications and retry.");
    EXPECT_EQ(Last().style, BOX_RETRYCANCEL | BOX_ICONEXCLAMATION);
    EXPECT_FALSE(Last().hasCaption);

    EXPECT_EQ(AskAbortRetryIgnore(run, kPage, 36, "C:\\ZV\\zvact.exe"), ANSWER_IGNORE);
    EXPECT_EQ(Last().text, "C:\\ZV\\zvact.exe: Cannot remove this file because it is write protected.");
    EXPECT_EQ(Last().style, BOX_ABORTRETRYIGNORE | BOX_ICONEXCLAMATION);

    // A format without "%s" ignores its argument.
    EXPECT_EQ(AskRetryCancel(run, kPage, 41, "C:\\ZV\\zvact.exe"), ANSWER_CANCEL);
    EXPECT_EQ(Last().text, "Disk full!");
    EXPECT_EQ(ui.unscripted, 1);

    ShowTitledMessage(run, kNoWindow, 37, BOX_OK | BOX_ICONINFORMATION);
    EXPECT_TRUE(Last().hasCaption);
    EXPECT_EQ(Last().caption, "Zarvel Udpater");
    EXPECT_EQ(Last().style, BOX_OK | BOX_ICONINFORMATION);

    // Unformatted: a "%s" shows as it stands.
    ShowWarning(run, kNoWindow, 34);
    EXPECT_EQ(Last().text, "%s: read error!");
    EXPECT_FALSE(Last().hasCaption);
    EXPECT_EQ(Last().style, BOX_OK | BOX_ICONEXCLAMATION);

    SetItemString(run, kPage, 103, 51);
    ASSERT_EQ(ui.items.size(), 1u);
    EXPECT_EQ(ui.items[0].item, 103);
    EXPECT_EQ(ui.items[0].text, "Normal");
}

// The question about a file in use names the programs that hold it when the
// system can tell, and asks to close every program when it cannot, or when
// it knows of none (a file that cannot be moved is held all the same).
TEST_F(MessagesTest, AFileInUseNamesItsHoldersWhenTheSystemKnowsThem) {
    zv::PosixPlatform posix;
    zvtest::FaultPlatform os(posix);
    os.scriptHolders = true;
    os.holders["zvact32.exe"] = "zvact32.exe";
    os.holders["map05.dat"] = "holdfile.exe, notepad.exe";
    os.holders["readme.txt"] = "";  // the system knows of nobody
    os.holders["zvsa.bin"] = "?";   // held by a program it does not name
    run.os = &os;
    const std::string everyone = " in use! Please, close all applications and retry.";
    struct Case {
        const char* shown;
        const char* path;
        unsigned id;
        std::string text;
    } cases[] = {
        {"C:\\ZARVEL\\zvact32.exe", "C:\\ZARVEL\\zvact32.exe", IDS_FILE_IN_USE_BY,
         "C:\\ZARVEL\\zvact32.exe is in use by zvact32.exe. Please close it and retry."},
        {"C:\\ZARVEL\\data\\map05.dat", "C:\\ZARVEL\\data\\map05.dat", IDS_FILE_IN_USE_BY,
         "C:\\ZARVEL\\data\\map05.dat is in use by holdfile.exe, notepad.exe. Please close it and retry."},
        // The shown text and the file looked up differ: the bare name of a
        // shared file, an old copy kept under its backup name.
        {"PLMR32.DLL", "C:\\WINDOWS\\SYSTEM\\~zvo0000.tmp", IDS_FILE_IN_USE, "PLMR32.DLL" + everyone},
        {"C:\\ZARVEL\\zvact.exe", "C:\\ZARVEL\\~zvo0001.tmp", IDS_FILE_IN_USE, "C:\\ZARVEL\\zvact.exe" + everyone},
        {"C:\\ZARVEL\\readme.txt", "C:\\ZARVEL\\readme.txt", IDS_FILE_IN_USE, "C:\\ZARVEL\\readme.txt" + everyone},
        {"C:\\ZARVEL\\zvact32.exe", "", IDS_FILE_IN_USE, "C:\\ZARVEL\\zvact32.exe" + everyone},
        {"C:\\ZARVEL\\zvsa.bin", "C:\\ZARVEL\\zvsa.bin", IDS_FILE_IN_USE, "C:\\ZARVEL\\zvsa.bin" + everyone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ui.Script({ANSWER_RETRY});
        EXPECT_EQ(AskFileInUse(run, kPage, c.shown, c.path), ANSWER_RETRY);
        EXPECT_EQ(Last().stringId, c.id);
        EXPECT_EQ(Last().text, c.text);
        EXPECT_EQ(Last().style, BOX_RETRYCANCEL | BOX_ICONEXCLAMATION);
        EXPECT_FALSE(Last().hasCaption);
        EXPECT_EQ(Last().owner, kPage);
    }
    // The backup name was asked about, not the name shown.
    EXPECT_NE(std::find(os.holdersAsked.begin(), os.holdersAsked.end(), "C:\\ZARVEL\\~zvo0001.tmp"),
              os.holdersAsked.end());

    // A platform that cannot tell (the portable one) keeps question 39.
    run.os = &posix;
    EXPECT_EQ(AskFileInUse(run, kPage, "C:\\ZARVEL\\zvact32.exe", "C:\\ZARVEL\\zvact32.exe"), ANSWER_CANCEL);
    EXPECT_EQ(Last().stringId, static_cast<unsigned>(IDS_FILE_IN_USE));

    // A long path and a long list of holders are cut, never overrun.
    run.os = &os;
    const std::string longPath = "C:\\" + std::string(250, 'p');
    os.holders[std::string(250, 'p')] = std::string(300, 'h');
    AskFileInUse(run, kPage, longPath.c_str(), longPath.c_str());
    EXPECT_EQ(Last().stringId, static_cast<unsigned>(IDS_FILE_IN_USE_BY));
    EXPECT_EQ(Last().text.rfind(longPath + " is in use by hhh", 0), 0u) << Last().text;
    EXPECT_LT(Last().text.size(), 2 * kMaxPath);
}

TEST_F(MessagesTest, TooLongTextsAreCutToTheirBuffers) {
    std::string longPath = "C:\\" + std::string(400, 'd');
    ReportError(run, kPage, 35, longPath.c_str());
    EXPECT_EQ(Last().text.size(), 259u);
    EXPECT_EQ(Last().text.substr(0, 3), "C:\\");

    AskRetryCancel(run, kPage, 39, longPath.c_str());
    EXPECT_EQ(Last().text.size(), 259u);

    AskAbortRetryIgnore(run, kPage, 36, longPath.c_str());
    EXPECT_EQ(Last().text.size(), 255u);  // a 256-character buffer

    // String 64 is longer than the 127 characters the question loads.
    AskAbortRetryIgnore(run, kPage, 64, "");
    EXPECT_EQ(Last().text.size(), 126u);
}

TEST(Text, FormatCopyAppendAndCompare) {
    char small[8];
    EXPECT_EQ(FormatText(small, sizeof small, "%s!", "abcdefghij"), 7);
    EXPECT_STREQ(small, "abcdefg");
    char number[16];
    FormatText(number, sizeof number, "%.3d", 2);
    EXPECT_STREQ(number, "002");
    FormatText(number, sizeof number, "%u.%.2u", 1u, 1u);
    EXPECT_STREQ(number, "1.01");

    char path[10] = "C:\\ZV\\";
    EXPECT_TRUE(AppendText(path, sizeof path, "ab"));
    EXPECT_FALSE(AppendText(path, sizeof path, "cdef"));
    EXPECT_STREQ(path, "C:\\ZV\\abc");

    EXPECT_TRUE(EqualNoCase("PLMR.DLL", "plmr.dll"));
    EXPECT_FALSE(EqualNoCase("PLMR.DLL", "plmr.dl"));
    EXPECT_FALSE(EqualNoCase("\xC4", "\xE4")) << "only A to Z fold";
}
