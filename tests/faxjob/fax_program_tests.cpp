// The fax job end to end: the real KEYPAD32.EXE scans pages from the virtual
// scanner and sends them through the mail library stand-in, which leaves each
// message as an .eml file in the profile's outbox. Judged by the LCD, the
// outbox, the temporary directory and the settings files. The messages of the
// successful cases are kept under C:\Varnel\FAXJOB\ beside their source pages,
// and check_pages.py decodes the attachments natively. One case goes on to
// the mail library's delivery agent and a loopback SMTP server.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "abi/driver_abi.h"
#include "abi/telvex_abi.h"
#include "help/contexts.h"
#include "panel/delivery_outcome.h"
#include "res/resource.h"
#include "program_fixture.h"
#include "smtp_server_process.h"

namespace {

const char *const PageNames[3] = {"source-text.bmp", "source-grey.bmp", "source-colour.bmp"};

std::string KeptFile(const std::string &name) {
    return ProductFile("FAXJOB\\") + name;
}

const std::string &SourcePage(PageKind kind) {
    static std::string paths[3];
    if (paths[kind].empty()) {
        CreateDirectoryA(ProductFile("FAXJOB").c_str(), nullptr);
        paths[kind] = WriteSourcePage(kind, KeptFile(PageNames[kind]));
    }
    return paths[kind];
}

// A page of tests/faxjob/text_pages.py ("sans", "serif-skewed", ...): 300
// dpi, 40 lines of text, written once a run beside what it says (truth.json),
// which check_pages.py reads.
std::string TextSourcePage(const char *name) {
    static int written;
    std::string folder = KeptFile("text\\");
    if (!written) {
        CreateDirectoryA(ProductFile("FAXJOB").c_str(), nullptr);
        CreateDirectoryA(folder.c_str(), nullptr);
        DeleteFileA((folder + "done").c_str());
        written = StartHostScript(TEXT_PAGES_SCRIPT, UnixPath(folder), folder + "done", 300000);
    }
    return folder + name + ".bmp";
}

// The lines of the program's log.
std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string text = ReadFileText(ProductFile("KEYPAD32.LOG"));
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// The attachment names of a message, in order.
std::vector<std::string> Attachments(const std::string &message) {
    std::vector<std::string> names;
    const std::string key = "filename=\"";
    for (size_t at = message.find(key); at != std::string::npos; at = message.find(key, at + 1)) {
        size_t start = at + key.size();
        names.push_back(message.substr(start, message.find('"', start) - start));
    }
    return names;
}

// A file beside the test program.
std::string BesideTests(const char *name) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string path(exe);
    return path.substr(0, path.rfind('\\') + 1) + name;
}

class FaxJob : public ProgramFixture {
  protected:
    FileBackup Product{"C:\\windows\\VARNEL.INI"};
    FileBackup Telephony{"C:\\windows\\telephon.ini"};
    std::vector<FileBackup *> KeyFiles;
    std::string Outbox = ProductFile("OUTBOX\\faxjob\\");
    // What the SMTP server of a delivering case took: NNN.eml and NNN.env.
    std::string Received = ProductFile("OUTBOX\\faxjob-in\\");
    // The mail library; a test may set it aside as Telvex.dll.off for a variant.
    std::string Library = ProductFile("DLL32\\Telvex.dll");

    void SetUp() override {
        for (const char *name : {"2.DES", "2.INF", "17.DES", "17.INF"}) {
            KeyFiles.push_back(new FileBackup(ProductFile(name)));
        }
        ProgramFixture::SetUp();
        CreateDirectoryA(ProductFile("OUTBOX").c_str(), nullptr);
        CreateDirectoryA(Outbox.c_str(), nullptr);
        ClearOutbox();
        WriteKeyFiles(2, {{"Head Office", "FAX:5550102"}});
        WriteKeyFiles(
            17, {{"Ann Example", "SMTP:ann@example.com"}, {"Bob Example", "SMTP:bob@example.com"}});
        UseStore(Outbox);
        UseSettings(1, "Office Fax");
    }
    void TearDown() override {
        ProgramFixture::TearDown();
        // Put back once the program that held the variant has ended.
        MoveFileExA((Library + ".off").c_str(), Library.c_str(), MOVEFILE_REPLACE_EXISTING);
        SetEnvironmentVariableA("KEYPAD32_TODAY", nullptr);
        EXPECT_TRUE(StopSmtpServer(Received));
        EXPECT_TRUE(WaitUntil([] { return !DeliveryAgentRunning(); }, 60000))
            << "the delivery agent did not end";
        ClearOutbox();
        for (FileBackup *file : KeyFiles) {
            delete file;
        }
    }
    void ClearOutbox() {
        for (const std::string &name : FilesMatching(Outbox + "*.*")) {
            DeleteFileA((Outbox + name).c_str());
        }
    }
    // The store with a fax and a mail profile; faxExtra adds keys to the fax profile.
    void UseStore(const std::string &outbox, const std::string &faxExtra = "") {
        std::string profile = "Services=%s\r\nFaxGateway=fax.test.example\r\n"
                              "EmailAddress=scan@varnel.example\r\nFullName=Scan Desk\r\n"
                              "Outbox=" +
                              outbox + "\r\n";
        std::string fax = profile + faxExtra, mail = profile;
        fax.replace(fax.find("%s"), 2, "25");
        mail.replace(mail.find("%s"), 2, "28");
        WriteFileText(ProductFile("TELVEX.INI"), "[Telvex]\r\nAddressBook=ADDRESS.VCF\r\n"
                                                 "[Profile:Office Fax]\r\n" +
                                                     fax + "[Profile:Lan Mail]\r\n" + mail);
    }
    // The program's day is the stored one, also when a run crosses midnight.
    void UseSettings(int destination, const char *faxProfile, int jobId = 40) {
        SetEnvironmentVariableA("KEYPAD32_TODAY", "3-1");
        WriteFileText(
            SettingsFile,
            std::string("[Varnel]\r\nFaxService=1\r\nCopyService=0\r\nDate=3-1") + "\r\nJobID=" +
                std::to_string(jobId) + "\r\n[Varnel FAX]\r\nMS Exchange Fax=" + faxProfile +
                "\r\nMS Exchange Email=Lan Mail\r\nUseProfile=" + std::to_string(destination) +
                "\r\nNumberOfFaxRecip2=1\r\nFaxAlias2=Head Office\r\n"
                "NumberOfEmailRecip3=2\r\nEmailAlias3=Team\r\n");
    }
    // The fax destination, a location dialing 9 for outside lines in area
    // 415, a long-distance number typed and a text page loaded.
    void StartWithATypedNumber() {
        WriteFileText("C:\\windows\\telephon.ini",
                      "[Locations]\r\nCurrentLocation=1,1\r\n"
                      "Location1=1,\"Office\",\"9\",\"1\",\"415\",1\r\n");
        UseSettings(0, "Office Fax");
        Start();
        Device("digits 14155551234");
        Load(TextPage);
    }
    void Press(const char *key) { Device(std::string("press ") + key); }
    void Load(PageKind kind, int count = 1) {
        for (int i = 0; i < count; i++) {
            Device("load " + SourcePage(kind));
        }
    }
    // Presses Fax and waits for the job's last text and the status line after it.
    std::string Fax(DWORD timeout = 120000) {
        return PressJobKey("fax") ? WaitForFaxJobEnd(timeout) : "(the panel did not settle)";
    }
    // Presses Fax, each read of the device 2 s late (or until Stop reaches
    // it), and Stop once the first page is scanned: 1, or 0 when none was.
    bool StopAfterTheFirstPage() {
        Device("fault slow 2000");
        long scanned = DeviceCounter("scanned");
        if (!PressJobKey("fax") ||
            !WaitUntil([&] { return DeviceCounter("scanned") != scanned; }, 120000)) {
            return false;
        }
        PressKey("stop");
        return true;
    }
    // Does the work: the program may end it with two handles and 1 MiB of
    // memory more than it began it with, no more.
    void ExpectNoGrowth(const std::function<void()> &work) {
        DWORD handlesBefore, handlesAfter;
        SIZE_T memoryBefore, memoryAfter;
        ProcessUsage(Keypad, &handlesBefore, &memoryBefore);
        work();
        ProcessUsage(Keypad, &handlesAfter, &memoryAfter);
        EXPECT_LE(handlesAfter, handlesBefore + 2);
        EXPECT_LT(memoryAfter, memoryBefore + 1024 * 1024)
            << "private memory " << memoryBefore / 1024 << " -> " << memoryAfter / 1024 << " KiB";
    }
    // Waits for the job's end with that text, nothing sent and nothing left.
    void ExpectEndSendingNothing(const char *text) {
        EXPECT_EQ(text, WaitForFaxJobEnd(120000));
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(0, PageFilesLeft());
    }
    std::vector<std::string> Messages() { return FilesMatching(Outbox + "*.eml"); }
    std::string Message(size_t index) { return ReadFileText(Outbox + Messages().at(index)); }
    // Moves the only message to the kept folder for the native check.
    std::string KeepMessage(const char *name) {
        std::vector<std::string> messages = Messages();
        EXPECT_EQ(1u, messages.size());
        if (messages.empty()) {
            return "";
        }
        std::string text = ReadFileText(Outbox + messages[0]);
        CopyFileA((Outbox + messages[0]).c_str(), KeptFile(name).c_str(), FALSE);
        ClearOutbox();
        return text;
    }
    // The page files and documents a job made, and what the PDF writer was writing.
    static int PageFilesLeft() {
        return (int)(FilesMatching(TempPath("VNL*.tmp")).size() +
                     FilesMatching(TempPath("PDF*.tmp")).size());
    }
    // Points both profiles at a loopback server started with its options,
    // with these settings of the profiles' own, and clears what an earlier
    // delivery left.
    void DeliverTo(const std::string &options, const std::string &settings = "security=none") {
        for (const std::string &folder : {Outbox + "Sent\\", Outbox + "Failed\\", Received}) {
            ClearFolder(folder);
        }
        int port = FreeLoopbackPort();
        ASSERT_NE(0, port);
        ASSERT_TRUE(StartSmtpServer(Received, port, options));
        for (const char *profile : {"Office Fax", "Lan Mail"}) {
            ASSERT_EQ(0, RunLibraryTool("\"" + std::string(profile) + "\" server=127.0.0.1 port=" +
                                        std::to_string(port) + " " + settings));
        }
    }
    // Waits until the agent has filed count messages in folder and ended,
    // and the program has handled what it posted.
    bool Filed(const char *folder, size_t count) {
        return WaitUntil([&] { return FilesMatching(Outbox + folder + "\\*.eml").size() == count; },
                         60000) &&
               WaitUntil([] { return !DeliveryAgentRunning(); }, 60000) && SettlePanel();
    }
    void SendPagesAsOneDocument(bool searchable = false) {
        WritePrivateProfileStringA(NULL, NULL, NULL, SettingsFile.c_str()); // written anew above
        WritePrivateProfileStringA("Varnel FAX", "SendPagesAs", "1", SettingsFile.c_str());
        WritePrivateProfileStringA("Varnel FAX", "SearchableText", searchable ? "1" : "0",
                                   SettingsFile.c_str());
    }
};

TEST_F(FaxJob, ThreeTextPagesToAnEmailKeyGoInOneMessageWithConsecutiveNames) {
    Start();
    PressKey("speed3");
    Load(TextPage, 3);
    ASSERT_EQ("Xferred to Xchg", Fax());
    std::string message = KeepMessage("text.eml");
    EXPECT_EQ((std::vector<std::string>{"FX-00040.TIF", "FX-00041.TIF", "FX-00042.TIF"}),
              Attachments(message));
    EXPECT_NE(std::string::npos, message.find("ann@example.com"));
    EXPECT_NE(std::string::npos, message.find("bob@example.com"));
    EXPECT_EQ(0, PageFilesLeft());
    // The next job goes on one past the last number used.
    PressKey("speed3");
    Load(TextPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    EXPECT_EQ(std::vector<std::string>{"FX-00043.TIF"}, Attachments(Message(0)));
    EXPECT_EQ(0, ExitProgram(&Keypad));
    Started = false;
    EXPECT_EQ("44", IniValue(SettingsFile, "Varnel", "JobID"));
}

// One PDF document a job: three text pages and three colour pages by e-mail,
// three text pages by fax. check_pages.py reads the documents back: each
// message carries the document alone, as application/pdf named as its first
// page would be, and says how many pages it holds. (Without the key, the test
// above sends files.)
TEST_F(FaxJob, PagesGoAsOnePdfDocumentByEmailAndByFax) {
    const struct {
        std::vector<const char *> Keys;
        PageKind Kind;
        const char *Kept;
    } jobs[] = {{{"speed3"}, TextPage, "text-pdf.eml"},
                {{"mode", "mode", "resolution", "speed3"}, ColourPage, "colour-pdf.eml"},
                {{"mode", "destination", "speed2"}, TextPage, "fax-pdf.eml"}};
    SendPagesAsOneDocument();
    Start();
    for (const auto &job : jobs) {
        for (const char *key : job.Keys) {
            PressKey(key);
        }
        Load(job.Kind, 3);
        ASSERT_EQ("Xferred to Xchg", Fax()) << job.Kept;
        KeepMessage(job.Kept);
        EXPECT_EQ(0, PageFilesLeft()) << job.Kept;
    }
}

// Three pages of text scanned at 300 dpi by e-mail into one searchable PDF
// document, a page's text read while the next one scans: check_pages.py
// reads the text back with poppler (the pages' words, each where it stands
// in the image), finds the font embedded and the PDF/A identification, and
// weighs the text layer against the images. The OCR library is loaded for
// the first page, not at start-up. Nothing is logged, and what the
// OCR engine took is given back when a job ends: a second job leaves the
// program's memory and handles where the first left them.
TEST_F(FaxJob, ThreeTextPagesGoAsOneSearchablePdfDocument) {
    SendPagesAsOneDocument(true);
    DeleteFileA(ProductFile("KEYPAD32.LOG").c_str());
    Start();
    auto ocrLoaded = [&] {
        std::vector<std::string> modules = LoadedModules(Keypad);
        return std::count(modules.begin(), modules.end(), "KPOCR32.DLL") != 0;
    };
    EXPECT_FALSE(ocrLoaded()) << "start-up does not pay for the OCR library";
    PressKey("resolution");
    PressKey("resolution"); // 300 dpi
    PressKey("speed3");
    for (const char *name : {"sans", "serif-skewed", "sans-skewed"}) {
        Device("load " + TextSourcePage(name));
    }
    ASSERT_EQ("Xferred to Xchg", Fax(600000));
    EXPECT_TRUE(ocrLoaded());
    KeepMessage("searchable.eml");
    EXPECT_EQ(0, PageFilesLeft());
    ExpectNoGrowth([&] {
        PressKey("speed3");
        Device("load " + TextSourcePage("serif"));
        ASSERT_EQ("Xferred to Xchg", Fax(600000));
    });
    EXPECT_TRUE(LogLines().empty());
}

// Stop while the second page scans and the first page's text is read, then
// Stop while the last page's text is read: each ends the job as during a
// scan.
TEST_F(FaxJob, StopWhileTheTextIsReadSendsNothing) {
    SendPagesAsOneDocument(true);
    Start();
    PressKey("resolution");
    PressKey("resolution"); // 300 dpi
    PressKey("speed3");
    Device("load " + TextSourcePage("serif"));
    Device("load " + TextSourcePage("sans"));
    ASSERT_TRUE(StopAfterTheFirstPage()) << "the first page was not scanned";
    ExpectEndSendingNothing("User Cancelled!");

    Device("fault clear");
    Device("clear");
    PressKey("speed3");
    Device("load " + TextSourcePage("serif"));
    ASSERT_TRUE(PressJobKey("fax"));
    ASSERT_EQ("Reading Text...", WaitForLcd(2, "Reading Text...", 120000));
    PressKey("stop");
    ExpectEndSendingNothing("User Cancelled!");
}

// Without the OCR library, with another library in its place, and then
// without its data, the job sends its document without text (check_pages.py
// finds none), as it would without the choice, and the log says why in one
// line each time.
TEST_F(FaxJob, WithoutTheOcrLibraryOrItsDataTheDocumentGoesWithoutTextAndTheLogSaysWhy) {
    // The file deleted, or replaced by another library's, which lacks the
    // entries: the next job must bind the real one again, not call what it lacked.
    const struct {
        const char *File, *Replacement, *Kept, *Logged;
        int Pages;
    } cases[] = {
        {"DLL32\\KPOCR32.DLL", nullptr, "no-library.eml", "KPOCR32.DLL cannot be loaded", 1},
        {"DLL32\\KPOCR32.DLL", "DLL32\\accugnt5.dll", "other-library.eml", "lacks an entry", 1},
        {"DLL32\\tessdata\\eng.traineddata", nullptr, "no-data.eml", "eng.traineddata", 2}};
    SendPagesAsOneDocument(true);
    DeleteFileA(ProductFile("KEYPAD32.LOG").c_str());
    Start();
    for (size_t i = 0; i < sizeof cases / sizeof *cases; i++) {
        {
            std::string file = ProductFile(cases[i].File);
            FileBackup kept(file);
            ASSERT_TRUE(cases[i].Replacement ? CopyFileA(ProductFile(cases[i].Replacement).c_str(),
                                                         file.c_str(), FALSE)
                                             : DeleteFileA(file.c_str()));
            PressKey("speed3");
            Load(TextPage, cases[i].Pages);
            ASSERT_EQ("Xferred to Xchg", Fax());
            KeepMessage(cases[i].Kept);
        }
        std::vector<std::string> lines = LogLines();
        ASSERT_EQ(i + 1, lines.size());
        EXPECT_NE(std::string::npos, lines[i].find(cases[i].Logged)) << lines[i];
    }
    EXPECT_EQ(0, PageFilesLeft());
}

// The first page's file spoilt while the second page is scanned (each read
// of the device waits until the file is cut): the document refuses it.
TEST_F(FaxJob, APageFileSpoiltDuringAPdfJobIsAFileErrorAndLeavesNothing) {
    SendPagesAsOneDocument();
    Start();
    PressKey("speed3");
    Load(TextPage, 3);
    Device("fault slow 2000");
    ASSERT_TRUE(PressJobKey("fax"));
    // The second page's file is begun once the first is whole, and is the smaller.
    std::vector<std::string> files;
    ASSERT_TRUE(WaitUntil([&] { return (files = FilesMatching(TempPath("VNL*.tmp"))).size() == 2; },
                          60000));
    std::string first = TempPath(files[0].c_str()), second = TempPath(files[1].c_str());
    if (ReadFileText(first).size() < ReadFileText(second).size()) {
        first.swap(second);
    }
    WriteFileText(first, ReadFileText(first).substr(0, 100));
    Device("fault clear");
    ExpectEndSendingNothing("File I/O Error!");
}

// Both profiles deliver over STARTTLS with AUTH to the loopback server,
// trusting its certificate alone. The destination key picks the profile: the
// fax key's job goes by the fax profile, the e-mail key's by the mail one.
TEST_F(FaxJob, AFaxKeyAndAnEmailKeyAreDeliveredAsQueuedToTheirRecipients) {
    const std::string password = "Panel-Staple-Lantern";
    const char *const profiles[2] = {"Office Fax", "Lan Mail"};
    const char *const envelopes[2] = {"scan@varnel.example\n5550102@fax.test.example\n",
                                      "scan@varnel.example\nann@example.com\nbob@example.com\n"};
    std::string sent = Outbox + "Sent\\", log = ProductFile("OUTBOX\\faxjob.log");
    DeleteFileA(log.c_str());
    DeliverTo("--starttls scan " + password, "security=starttls user=scan password=" + password +
                                                 " certificate=\"" + Received + "cert.pem\"");
    UseSettings(0, "Office Fax");
    Start();
    PressKey("speed2");
    Load(TextPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    PressKey("destination");
    PressKey("speed3");
    Load(TextPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    ASSERT_TRUE(WaitUntil([&] { return FilesMatching(sent + "*.eml").size() == 2; }, 60000))
        << ReadFileText(log);
    // Named by the time they were queued, so in the order they were sent.
    std::vector<std::string> names = FilesMatching(sent + "*.eml");
    std::sort(names.begin(), names.end());
    for (int i = 0; i < 2; i++) {
        std::string filed = sent + names[i].substr(0, names[i].size() - 4);
        std::string got = Received + "00" + std::to_string(i + 1);
        EXPECT_TRUE(ReadFileText(filed + ".eml") == ReadFileText(got + ".eml")) << profiles[i];
        EXPECT_EQ(envelopes[i], ReadFileText(got + ".env"));
        // The envelope filed beside the message names the profile it went by.
        std::string profile = std::string(profiles[i]) + "\r\n";
        EXPECT_EQ(profile, ReadFileText(filed + ".env").substr(0, profile.size()));
    }
    EXPECT_FALSE(FileExists((Received + "003.eml").c_str())) << "delivered twice";
    EXPECT_EQ(std::vector<std::string>(), FilesHolding(ProductDirectory(), password));
    // The mail library's outbox, from the Profiles menu; F1 there opens its page.
    PostMessageA(Keypad.Window, WM_COMMAND, IDM_OUTBOX, 0);
    HWND outbox = WaitForWindow("#32770", "Outbox");
    ASSERT_NE((HWND)NULL, outbox);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(outbox) != 0; }));
    EXPECT_TRUE(PressHelpKey(outbox, FindWindowExA(outbox, NULL, "SysListView32", NULL)));
    EXPECT_TRUE(WaitUntil([&] {
        std::vector<DWORD> asked = Help.Contexts();
        return std::find(asked.begin(), asked.end(), (DWORD)IDH_OUTBOX) != asked.end();
    })) << "F1 in the outbox window did not open its page";
    PostMessageA(outbox, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitForWindowGone(outbox));
}

// What became of a job's message reaches the panel once the server has
// answered: a fax whose only recipient the server refuses, then an e-mail
// whose data the server holds until a key has been pressed after the job.
// The key's label stays until the panel is idle again.
TEST_F(FaxJob, WhatBecameOfAMessageIsShownOnlyWhileThePanelIsIdle) {
    DeliverTo("--refuse 5550102@fax.test.example --hold-data-reply");
    UseSettings(0, "Office Fax");
    Start();
    PressKey("speed2");
    Load(TextPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    EXPECT_EQ("Send Failed!", WaitForLcd(2, "Send Failed!", 60000));
    EXPECT_EQ("LT TXT DFT 050 F", LcdStatus()) << "the status line is the panel's own";

    PressKey("destination");
    PressKey("speed3");
    Load(TextPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    ASSERT_TRUE(WaitUntil([&] { return FileExists((Received + "held1").c_str()); }, 60000));
    PressKey("speed3");
    ASSERT_EQ("Team", WaitForLcd(2, "Team"));
    WriteFileText(Received + "release", "");
    ASSERT_TRUE(Filed("Sent", 1));
    EXPECT_EQ("Team", LcdMessage()) << "the outcome took the place of what the user is doing";
    EXPECT_EQ("Sent OK", WaitForLcd(2, "Sent OK", OutcomeQuietMs + 60000));
}

// A mail library that has neither optional entry: the program runs as it
// did without them, its panel saying nothing after the hand-over.
TEST_F(FaxJob, AMailLibraryWithoutTheOptionalEntriesLeavesThePanelAsItWas) {
    ASSERT_TRUE(
        MoveFileA(Library.c_str(), (Library + ".off").c_str()) &&
        CopyFileA(BesideTests("telvex_test_nooptional.dll").c_str(), Library.c_str(), FALSE));
    DeliverTo("");
    Start();
    PressKey("speed3");
    Load(TextPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    ASSERT_TRUE(Filed("Sent", 1));
    EXPECT_EQ("Xferred to Xchg", LcdMessage());
}

TEST_F(FaxJob, PhotoPagesToAFaxKeyAreJpegsTaggedVkz) {
    UseSettings(0, "Office Fax");
    Start();
    PressKey("mode");
    PressKey("speed2");
    Load(GreyPage, 2);
    ASSERT_EQ("Xferred to Xchg", Fax());
    std::string message = KeepMessage("photo.eml");
    EXPECT_EQ((std::vector<std::string>{"FX-00040.VKZ", "FX-00041.VKZ"}), Attachments(message));
    EXPECT_NE(std::string::npos, message.find("5550102@fax.test.example"));
    EXPECT_EQ("0", IniValue("VARNEL.INI", "Fax Associated Info", "Mode"));
    EXPECT_EQ("1", IniValue("VARNEL.INI", "Fax Associated Info", "Map"));
    EXPECT_EQ("0", IniValue("VARNEL.INI", "Fax Associated Info", "Paper Size"));
    EXPECT_EQ(0, PageFilesLeft());
}

TEST_F(FaxJob, ColourPagesByEmailAreJpegsTaggedJpg) {
    Start();
    PressKey("mode");
    PressKey("mode");
    PressKey("resolution");
    PressKey("speed3");
    Load(ColourPage);
    ASSERT_EQ("Xferred to Xchg", Fax());
    EXPECT_EQ(std::vector<std::string>{"FX-00040.JPG"}, Attachments(KeepMessage("colour.eml")));
}

TEST_F(FaxJob, ATypedNumberIsDialedByTheLocationsRules) {
    StartWithATypedNumber();
    ASSERT_EQ("Xferred to Xchg", Fax());
    std::string message = KeepMessage("typed.eml");
    EXPECT_NE(std::string::npos, message.find("<95551234@fax.test.example>"))
        << message.substr(0, 400);
    EXPECT_EQ(std::vector<std::string>{"FX-00040.VKZ"}, Attachments(message));
}

// The profile page switched to e-mail while a fax is being scanned: the job
// logs on, addresses and names its pages as the fax it started as.
TEST_F(FaxJob, ADestinationSwitchedOnThePageDuringAJobLeavesThatJobAFax) {
    StartWithATypedNumber();
    // The page's read is held until the fault is cleared: the switch comes while the job scans.
    Device("fault slow 600000");
    PressJobKey("fax");
    ASSERT_TRUE(WaitUntil([&] { return DeviceCounter("slow") == 1; }, 60000));
    PostMessageA(Keypad.Window, WM_COMMAND, 1004, 0);
    HWND sheet = WaitForWindow("SoftelGrayDialog32", "Varnel: Fax Configuration");
    ASSERT_NE((HWND)NULL, sheet);
    ASSERT_TRUE(WaitUntil([&] { return FindControl(sheet, 623) != NULL; }));
    SendMessageA(FindControl(sheet, 623), BM_CLICK, 0, 0);
    PostMessageA(sheet, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForWindowGone(sheet));
    Device("fault clear");
    ASSERT_EQ("Xferred to Xchg", WaitForFaxJobEnd(120000));
    EXPECT_EQ("1", IniValue(SettingsFile, "Varnel FAX", "UseProfile"));
    std::vector<std::string> messages = Messages();
    ASSERT_EQ(1u, messages.size());
    std::string message = Message(0);
    EXPECT_NE(std::string::npos, message.find("<95551234@fax.test.example>"))
        << message.substr(0, 400);
    EXPECT_EQ(std::vector<std::string>{"FX-00040.VKZ"}, Attachments(message));
}

// Every refusal and failure: its text, nothing sent, no page file left, and
// the e-mail key's recipients still whole for the send that follows.
TEST_F(FaxJob, EveryFailureShowsItsTextAndSendsNothing) {
    Start();
    // A sheet in the feeder, so that the key finds the device ready.
    Load(TextPage);
    Device("digits 5551234");
    EXPECT_EQ("No Mail Address!", Fax());
    EXPECT_EQ(0, CountRequests(RequestLog(), DrvOpen));
    PressKey("destination");
    EXPECT_EQ("No Fax Number!", Fax());
    EXPECT_EQ(0, CountRequests(RequestLog(), DrvOpen));
    PressKey("destination");

    struct Case {
        const char *Fault;
        const char *Text;
        int Pages;
    };
    const Case cases[] = {{"fault open-refused on", "Scanner in Use!", 1},
                          {"fault read-error 300", "Scanning Error!", 2},
                          {"fault abort 500", "User Cancelled!", 3},
                          {"fault out-of-memory on", "Not Enough Mem!", 1}};
    for (const Case &c : cases) {
        Device("fault clear");
        Device("clear");
        if (c.Fault[0]) {
            Device(c.Fault);
        }
        Load(TextPage, c.Pages);
        PressKey("speed3");
        EXPECT_EQ(c.Text, Fax()) << c.Fault;
        EXPECT_TRUE(Messages().empty()) << c.Text;
        EXPECT_EQ(0, PageFilesLeft()) << c.Text;
    }
    Device("fault clear");
    Device("clear");

    // The image-file library missing: the page cannot be written.
    std::string library = "C:\\Varnel\\DLL32\\accugnt5.dll";
    ASSERT_TRUE(MoveFileA(library.c_str(), (library + ".off").c_str()));
    Load(TextPage);
    PressKey("speed3");
    EXPECT_EQ("File I/O Error!", Fax());
    MoveFileA((library + ".off").c_str(), library.c_str());

    // The outbox cannot be made: the mail library refuses the send.
    UseStore(ProductFile("SYS.INI\\nowhere\\"));
    PressKey("speed3");
    EXPECT_EQ("MS Xchg Error!", Fax());
    EXPECT_EQ(0, PageFilesLeft());
    UseStore(Outbox);

    // After all of that the key still sends to both of its recipients.
    Device("clear");
    Load(TextPage);
    PressKey("speed3");
    ASSERT_EQ("Xferred to Xchg", Fax());
    std::string message = Message(0);
    EXPECT_NE(std::string::npos, message.find("ann@example.com"));
    EXPECT_NE(std::string::npos, message.find("bob@example.com"));
}

TEST_F(FaxJob, ATransportHeldByAnotherProgramIsFaxInUse) {
    Start();
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "faxjob-held");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "faxjob-release");
    std::string holder = BesideTests("telvex_holder.exe faxjob-held faxjob-release");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &holder[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 10000));
    Load(TextPage);
    PressKey("speed3");
    EXPECT_EQ("Fax in Use!", Fax());
    EXPECT_EQ(0, CountRequests(RequestLog(), DrvOpen));
    SetEvent(release);
    WaitForSingleObject(process.hProcess, 10000);
    for (HANDLE handle : {held, release, process.hProcess, process.hThread}) {
        CloseHandle(handle);
    }
    PressKey("speed3");
    ASSERT_EQ("Xferred to Xchg", Fax());
    EXPECT_NE(std::string::npos, Message(0).find("bob@example.com"));
}

// Stop while the second page is being read: the first page's file goes too,
// and nothing is sent.
TEST_F(FaxJob, StopDuringTheSecondPageSendsNothing) {
    Start();
    PressKey("speed3");
    Load(TextPage, 2);
    ASSERT_TRUE(StopAfterTheFirstPage()) << "the first page was not scanned";
    ExpectEndSendingNothing("User Cancelled!");
    EXPECT_EQ(1, CountRequests(RequestLog(), DrvClose));
}

// The fax profile's server cannot be reached: the job gave the profile its
// paper size, resolution and setting 14 before the logon, and puts them back.
TEST_F(FaxJob, ARefusedFaxLogonIsFaxErrorAndRestoresTheProfile) {
    UseStore(Outbox, "Offline=1\r\nPaperSize=2\r\nResolution=2\r\nSetting14=1\r\n");
    UseSettings(0, "Office Fax");
    Start();
    PressKey("speed2");
    Load(TextPage);
    EXPECT_EQ("Fax Error!", Fax());
    EXPECT_EQ(0, CountRequests(RequestLog(), DrvOpen));
    EXPECT_TRUE(Messages().empty());
    std::string store = ProductFile("TELVEX.INI");
    EXPECT_EQ("2", IniValue(store, "Profile:Office Fax", "PaperSize"));
    EXPECT_EQ("2", IniValue(store, "Profile:Office Fax", "Resolution"));
    EXPECT_EQ("1", IniValue(store, "Profile:Office Fax", "Setting14"));

    // A profile the store does not have at all refuses the logon as well.
    ExitProgram(&Keypad);
    UseSettings(0, "Gone Fax");
    Start();
    PressKey("speed2");
    EXPECT_EQ("Fax Error!", Fax());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FaxJob, FiftyJobsLeaveHandlesAndMemoryWhereTheyStarted) {
    Start();
    Load(TextPage);
    PressKey("speed3");
    ASSERT_EQ("Xferred to Xchg", Fax());
    Load(TextPage);
    Device("fault read-error 300");
    PressKey("speed3");
    EXPECT_EQ("Scanning Error!", Fax());
    ClearOutbox();
    std::string unexpected;
    ExpectNoGrowth([&] {
        for (int job = 0; job < 50; job++) {
            if (Device("pages").substr(0, 1) == "0") {
                Load(TextPage);
            }
            // Every third job meets a read error and fails.
            if (job % 3 == 2) {
                Device("fault read-error 300");
            }
            PressKey("speed3");
            std::string text = Fax();
            if (text != (job % 3 == 2 ? "Scanning Error!" : "Xferred to Xchg")) {
                unexpected += std::to_string(job) + ": " + text + "; ";
            }
            ClearOutbox();
        }
    });
    EXPECT_EQ("", unexpected);
    EXPECT_EQ(0, PageFilesLeft());
}

} // namespace
