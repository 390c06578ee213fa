// The registry backed by a real file in a scratch folder: what a save writes,
// what a fresh process reads back, and what happens to files that are
// damaged, unreadable, changed by another process or interrupted mid-save.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr LSTATUS kWriteFault = 29;  // ERROR_WRITE_FAULT
using Bytes = std::vector<BYTE>;

Bytes Text(const std::string &text, bool terminated = true)
{
    Bytes bytes(text.begin(), text.end());
    if (terminated)
        bytes.push_back(0);
    return bytes;
}

// A UTF-16LE file with its byte-order mark, as regedit exports.
std::string Utf16(const std::u16string &text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The text of a UTF-16LE file, checked from its first byte to its last: a
// byte-order mark, whole units, and every surrogate in its pair.
::testing::AssertionResult DecodesAsUtf16(const std::string &bytes, std::u16string *text)
{
    if (bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0)
        return ::testing::AssertionFailure() << "no mark, or " << bytes.size() << " bytes";
    text->clear();
    for (size_t at = 2; at < bytes.size(); at += 2)
        text->push_back(static_cast<char16_t>(BYTE(bytes[at]) | (BYTE(bytes[at + 1]) << 8)));
    for (size_t i = 0; i < text->size(); ++i) {
        char16_t unit = (*text)[i];
        bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (low || (high && (i + 1 == text->size() || (*text)[i + 1] < 0xDC00 || (*text)[i + 1] > 0xDFFF)))
            return ::testing::AssertionFailure() << "broken surrogate at unit " << i;
        i += high;
    }
    return ::testing::AssertionSuccess();
}

// Whether every line of a text ends in CR LF, or every one in LF alone.
template <typename String>
bool LineEndsAre(const String &text, bool crlf)
{
    for (size_t at = 0; at < text.size(); ++at)
        if (text[at] == '\n' && (at > 0 && text[at - 1] == '\r') != crlf)
            return false;
    return text.empty() || text.back() == '\n';
}

struct Stored {
    const char *name;
    DWORD type;
    Bytes data;
};

class RegistryFileTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        layer::ResetHeadless(64, 48);
        char pattern[] = "/tmp/vantrel-registry-test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
        file = folder + "/registry.reg";
    }

    void TearDown() override
    {
        layer::ResetHeadless(64, 48);
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder, ignored);
    }

    // As a newly started process sees the file.
    void Restart() { layer::UseRegistryFile(file); }

    static LSTATUS Put(const char *path, const char *name, DWORD type, const Bytes &data)
    {
        HKEY key;
        LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        status = RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        return status;
    }

    static LSTATUS PutNumber(const char *path, const char *name, DWORD number)
    {
        return Put(path, name, REG_DWORD, {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)});
    }

    static LSTATUS Delete(const char *path, const char *name)
    {
        HKEY key;
        LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key);
        if (status != ERROR_SUCCESS)
            return status;
        status = RegDeleteValueA(key, name);
        RegCloseKey(key);
        return status;
    }

    // Every value is there under `path`, with its type and bytes.
    static void ExpectValues(const char *path, const std::vector<Stored> &values)
    {
        for (const Stored &value : values) {
            DWORD type = 0xFFFF;
            Bytes data;
            ASSERT_TRUE(Get(path, value.name, &type, &data)) << value.name;
            EXPECT_EQ(value.type, type) << value.name;
            EXPECT_EQ(value.data, data) << value.name;
        }
    }

    // Type and bytes of a value; false when it cannot be read.
    static bool Get(const char *path, const char *name, DWORD *type, Bytes *data)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return false;
        DWORD size = 0;
        bool ok = RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
        data->assign(size, 0xCC);
        ok = ok && RegQueryValueExA(key, name, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
        data->resize(size);
        RegCloseKey(key);
        return ok;
    }

    static bool Has(const char *path, const char *name)
    {
        DWORD type;
        Bytes data;
        return Get(path, name, &type, &data);
    }

    static DWORD Number(const char *path, const char *name)
    {
        DWORD type = 0;
        Bytes data;
        if (!Get(path, name, &type, &data) || data.size() != 4)
            return 0xDEADBEEF;
        return data[0] | (DWORD(data[1]) << 8) | (DWORD(data[2]) << 16) | (DWORD(data[3]) << 24);
    }

    static std::string ReadText(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void WriteText(const std::string &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string folder;
    std::string file;
};

// The forms a file can have, each as it starts out ("" for no file yet)
// and how it begins once saved.
struct Form {
    const char *name;
    std::string start;
    std::string saved;
    bool wide, crlf;
};

const char kHeader5[] = "Windows Registry Editor Version 5.00";

std::vector<Form> EveryForm()
{
    const std::string mark = "\xEF\xBB\xBF";
    return {
        {"a new file", "", "REGEDIT4\n\n", false, false},
        {"REGEDIT4 with CRLF", "REGEDIT4\r\n", "REGEDIT4\r\n\r\n", false, true},
        {"REGEDIT4 with a UTF-8 mark", mark + "REGEDIT4\n", mark + "REGEDIT4\n\n", false, false},
        {"5.00 in UTF-16", Utf16(u"Windows Registry Editor Version 5.00\r\n"),
         Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"), true, true},
        {"5.00 in UTF-8", kHeader5 + "\n"s, kHeader5 + "\n\n"s, false, false},
        {"5.00 in UTF-8 with a mark and CRLF", mark + kHeader5 + "\r\n", mark + kHeader5 + "\r\n\r\n", false,
         true},
    };
}

TEST_F(RegistryFileTest, EveryTypeAndByteSurvivesAFreshLoad)
{
    Bytes longBinary;
    for (int i = 0; i < 300; ++i)
        longBinary.push_back(static_cast<BYTE>(i * 7));
    Bytes everyByte;
    for (int i = 1; i < 256; ++i)
        everyByte.push_back(static_cast<BYTE>(i));
    everyByte.push_back(0);
    const std::vector<Stored> values = {
        {"Answer", REG_DWORD, {0x2A, 0, 0, 0}},
        {"Path", REG_SZ, Text("C:\\dir \"quoted\" \\\\server\\")},
        {"", REG_SZ, Text("the default")},
        {"Empty string", REG_SZ, Text("")},
        {"Unterminated", REG_SZ, Text("abc", false)},
        {"Two lines", REG_SZ, Text("first\r\nsecond")},
        {"Inner NUL", REG_SZ, {'a', 0, 'b', 0}},
        {"Western", REG_SZ, Text("caf\xE9 \x80 \x81\x9D\xFF")},
        {"Every byte", REG_SZ, everyByte},
        {"Odd string", REG_SZ, {'x'}},
        {"Blob", REG_BINARY, {0x00, 0xFF, 0x10, 0x0A, 0x0D}},
        {"Long blob", REG_BINARY, longBinary},
        {"Empty blob", REG_BINARY, {}},
        {"Expand", REG_EXPAND_SZ, Text("%TEMP%\\x\xE9")},
        {"Multi", REG_MULTI_SZ, {'a', 0, 'b', 'c', 0xFC, 0, 0}},
        {"Quad", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"Nothing", REG_NONE, {}},
        {"Odd type", 0x1234, {0xDE, 0xAD}},
        {"Short number", REG_DWORD, {0x2A, 0x00}},
        {"Long number", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"Name with \\ and \" and\nnewline", REG_DWORD, {1, 0, 0, 0}},
        {"@", REG_DWORD, {2, 0, 0, 0}},
        {"Gr\xF6\xDF\xE9 \x80", REG_DWORD, {3, 0, 0, 0}},
    };
    for (const Form &form : EveryForm()) {
        SCOPED_TRACE(form.name);
        fs::remove(file);
        if (!form.start.empty())
            WriteText(file, form.start);
        Restart();
        for (const Stored &value : values)
            ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Vantrel Test\\Types\\\xC9t\xE9", value.name, value.type,
                                         value.data))
                << value.name;

        // The file keeps its form, encoding and line ends.
        const std::string saved = ReadText(file);
        EXPECT_EQ(form.saved, saved.substr(0, form.saved.size()));
        std::u16string text;
        if (form.wide) {
            EXPECT_TRUE(DecodesAsUtf16(saved, &text));
        }
        EXPECT_TRUE(form.wide ? LineEndsAre(text, form.crlf) : LineEndsAre(saved, form.crlf));

        Restart();
        ExpectValues("software\\vantrel test\\TYPES\\\xC9t\xE9", values);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(RegistryFileTest, SavedFileUsesTheReadableFormsWhereTheyFit)
{
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Kestrelix\\Saver", "BombCount", 42));
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Kestrelix\\Saver", "Path", REG_SZ, Text("a\\b \"c\"")));
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Kestrelix\\Saver", "", REG_BINARY, {0x01, 0xAB}));
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Kestrelix\\Saver", "Short", REG_DWORD, {0x2A, 0x00}));
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Kestrelix\\Saver", "Bare", REG_SZ, Text("xy", false)));

    EXPECT_EQ("REGEDIT4\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Kestrelix]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Kestrelix\\Saver]\n"
              "\"BombCount\"=dword:0000002a\n"
              "\"Path\"=\"a\\\\b \\\"c\\\"\"\n"
              "@=hex:01,ab\n"
              "\"Short\"=hex(4):2a,00\n"
              "\"Bare\"=hex(1):78,79\n"
              "\n",
              ReadText(file));
}

TEST_F(RegistryFileTest, HandWrittenFilesAreRead)
{
    WriteText(file, "REGEDIT4\r\n"
                    "\r\n"
                    "[HKEY_CURRENT_USER\\Control Panel\\Desktop]   \r\n"
                    "\"ScreenSaveUsePassword\" = DWORD:1\r\n"
                    "\"Wrapped\"=hex:01,02,\\\r\n"
                    "    03,04\r\n"
                    "[hkey_current_user\\control panel\\desktop]\r\n"
                    "\"Later\"=\"wins\"\r\n"
                    "\"later\"=\"really\"\r\n");
    Restart();
    EXPECT_EQ(1u, Number("Control Panel\\Desktop", "ScreenSaveUsePassword"));
    DWORD type;
    Bytes data;
    ASSERT_TRUE(Get("Control Panel\\Desktop", "Wrapped", &type, &data));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), data);
    ASSERT_TRUE(Get("Control Panel\\Desktop", "LATER", &type, &data));
    EXPECT_EQ(Text("really"), data);
    // A section implies its parents, as an import would create them.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel", 0, KEY_READ, &key));
    RegCloseKey(key);
}

// Value lines of every type as Wine's regedit exports them: a 5.00 file
// in UTF-16 (also read as UTF-8, with and without a mark), and the same
// values as REGEDIT4 writes them in 8-bit text.
#define EXPORTED_LINES                                                                       \
    "[HKEY_CURRENT_USER\\Software\\Kestrelix\\Types]\r\n"                                    \
    "@=\"def\"\r\n"                                                                          \
    "\"Bin\"=hex:01,02,ff\r\n"                                                               \
    "\"BombCount\"=dword:0000007b\r\n"                                                       \
    "\"Exp\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,78,00,00,00\r\n"               \
    "\"LongerNameForTheWrapTest\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,\\\r\n" \
    "  00,6f,00,6f,00,74,00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,\\\r\n"    \
    "  32,00,5c,00,6c,00,69,00,62,00,2e,00,64,00,6c,00,6c,00,00,00\r\n"                      \
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"                                     \
    "\"Q\"=hex(b):05,00,00,00,00,00,00,00\r\n"                                               \
    "\"Text\"=\"caf€ a\\\\b \\\"q\\\"\"\r\n"

TEST_F(RegistryFileTest, RegeditLinesOfEveryTypeAreReadInEachFormAndSavedAsTheyWere)
{
    const std::string ansiLines = "[HKEY_CURRENT_USER\\Software\\Kestrelix\\Types]\r\n"
                                  "@=\"def\"\r\n"
                                  "\"Bin\"=hex:01,02,ff\r\n"
                                  "\"BombCount\"=dword:0000007b\r\n"
                                  "\"Exp\"=hex(2):25,54,45,4d,50,25,5c,78,00\r\n"
                                  "\"LongerNameForTheWrapTest\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,73,79,\\\r\n"
                                  "  73,74,65,6d,33,32,5c,6c,69,62,2e,64,6c,6c,00\r\n"
                                  "\"Multi\"=hex(7):61,00,62,00,00\r\n"
                                  "\"Q\"=hex(b):05,00,00,00,00,00,00,00\r\n"
                                  "\"Text\"=\"caf\x80 a\\\\b \\\"q\\\"\"\r\n";
    const std::string parents = "[HKEY_CURRENT_USER\\Software]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Kestrelix]\r\n\r\n";
    const std::string added = "\"Added\"=dword:00000001\r\n\r\n";
    const std::string mark = "\xEF\xBB\xBF";
    struct Case {
        const char *name;
        std::string file, saved;
    };
    const std::string header5 = kHeader5 + "\r\n\r\n"s;
    const std::vector<Case> cases = {
        {"5.00 in UTF-16", Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n" EXPORTED_LINES u"\r\n"),
         Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
               u"[HKEY_CURRENT_USER\\Software]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Kestrelix]\r\n\r\n" EXPORTED_LINES
               u"\"Added\"=dword:00000001\r\n\r\n")},
        {"5.00 in UTF-8", header5 + EXPORTED_LINES, header5 + parents + EXPORTED_LINES + added},
        {"5.00 in UTF-8 with a mark", mark + header5 + EXPORTED_LINES, mark + header5 + parents + EXPORTED_LINES + added},
        {"REGEDIT4", "REGEDIT4\r\n\r\n" + ansiLines, "REGEDIT4\r\n\r\n" + parents + ansiLines + added},
    };
    const std::vector<Stored> values = {
        {"", REG_SZ, Text("def")},
        {"Bin", REG_BINARY, {1, 2, 0xFF}},
        {"BombCount", REG_DWORD, {0x7B, 0, 0, 0}},
        {"Exp", REG_EXPAND_SZ, Text("%TEMP%\\x")},
        {"LongerNameForTheWrapTest", REG_EXPAND_SZ, Text("%SystemRoot%\\system32\\lib.dll")},
        {"Multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}},
        {"Q", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}},
        {"Text", REG_SZ, Text("caf\x80 a\\b \"q\"")},
    };
    for (const Case &form : cases) {
        SCOPED_TRACE(form.name);
        WriteText(file, form.file);
        Restart();
        ExpectValues("Software\\Kestrelix\\Types", values);
        if (HasFatalFailure())
            return;
        ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Kestrelix\\Types", "Added", 1));
        EXPECT_EQ(form.saved, ReadText(file));
    }
}

// Wine's `regedit /E` of the settings key, byte for byte.
const char16_t kSettingsExport[] = u"Windows Registry Editor Version 5.00\r\n"
                                   u"\r\n"
                                   u"[HKEY_CURRENT_USER\\Software\\Kestrelix\\VantrelScreenSaver]\r\n"
                                   u"\"BombBackdrop\"=dword:00000000\r\n"
                                   u"\"BombCount\"=dword:0000007b\r\n"
                                   u"\"BombsOnly\"=dword:00000001\r\n"
                                   u"\"BombSpeed\"=dword:0000004d\r\n"
                                   u"\"ScreenDelay\"=dword:00000009\r\n"
                                   u"\r\n";

TEST_F(RegistryFileTest, ARegeditExportOfTheSettingsIsReadAndStaysUtf16WhenSaved)
{
    WriteText(file, Utf16(kSettingsExport));
    Restart();
    SaverSettings = SaverSettingsRecord{};
    LoadSettings();
    EXPECT_EQ(123, SaverSettings.BombCount);
    EXPECT_EQ(77, SaverSettings.BombSpeed);
    EXPECT_EQ(9, SaverSettings.ScreenDelay);
    EXPECT_EQ(1, SaverSettings.BombsOnly);
    EXPECT_EQ(0, SaverSettings.BombBackdrop);

    // What OK in the dialog stores, one change made.
    SaverSettings.BombCount = 200;
    SaveSettings();
    std::u16string text;
    ASSERT_TRUE(DecodesAsUtf16(ReadText(file), &text));
    EXPECT_EQ(u"Windows Registry Editor Version 5.00\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software]\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software\\Kestrelix]\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software\\Kestrelix\\VantrelScreenSaver]\r\n"
              u"\"BombBackdrop\"=dword:00000000\r\n"
              u"\"BombCount\"=dword:000000c8\r\n"
              u"\"BombsOnly\"=dword:00000001\r\n"
              u"\"BombSpeed\"=dword:0000004d\r\n"
              u"\"ScreenDelay\"=dword:00000009\r\n"
              u"\r\n",
              text);
}

TEST_F(RegistryFileTest, UnicodeTextIsSeenInTheAnsiCodePageAndKeptUnicode)
{
    WriteText(file, Utf16(u"Windows Registry Editor Version 5.00\r\n"
                          u"\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Ŝnow]\r\n"
                          u"\"☃\"=dword:00000001\r\n"
                          u"\r\n"
                          u"[HKEY_CURRENT_USER\\Software\\Unicode]\r\n"
                          u"\"Name\"=\"Ŝnow ☃ 𝄞 café\"\r\n"
                          u"\"Path\"=hex(2):43,00,3a,00,5c,00,03,26,00,00\r\n"
                          u"\"Größe\"=dword:00000005\r\n"
                          u"\r\n"));
    Restart();
    DWORD type;
    Bytes data;
    // Each UTF-16 unit is one ANSI character; what 1252 lacks reads as '?'.
    ASSERT_TRUE(Get("Software\\Unicode", "Name", &type, &data));
    EXPECT_EQ(Text("?now ? ?? caf\xE9"), data);
    ASSERT_TRUE(Get("Software\\Unicode", "Path", &type, &data));
    EXPECT_EQ(Text("C:\\?"), data);
    EXPECT_EQ(5u, Number("Software\\Unicode", "Gr\xF6\xDF" "e"));
    // '?' is a character of its own, not the one it stands for.
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\?now", 0, KEY_READ, &key));

    // Written back as it was read, the Unicode text stays; ANSI text set
    // through the A calls is stored as the characters it stands for.
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Unicode", "Name", REG_SZ, Text("?now ? ?? caf\xE9")));
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Unicode", "Path", REG_EXPAND_SZ, Text("D:\\\xE9")));
    ASSERT_EQ(ERROR_SUCCESS, Put("Software\\Unicode", "Set", REG_SZ, Text("caf\xE9 \x80")));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Unicode\\K\xFC" "che", "Gr\xF6\xDF" "e", 6));
    std::u16string text;
    ASSERT_TRUE(DecodesAsUtf16(ReadText(file), &text));
    EXPECT_EQ(u"Windows Registry Editor Version 5.00\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software]\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software\\Ŝnow]\r\n"
              u"\"☃\"=dword:00000001\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software\\Unicode]\r\n"
              u"\"Name\"=\"Ŝnow ☃ 𝄞 café\"\r\n"
              u"\"Path\"=hex(2):44,00,3a,00,5c,00,e9,00,00,00\r\n"
              u"\"Größe\"=dword:00000005\r\n"
              u"\"Set\"=\"café €\"\r\n"
              u"\r\n"
              u"[HKEY_CURRENT_USER\\Software\\Unicode\\Küche]\r\n"
              u"\"Größe\"=dword:00000006\r\n"
              u"\r\n",
              text);
    Restart();
    EXPECT_EQ(6u, Number("Software\\Unicode\\K\xFC" "che", "gR\xF6\xDF" "E"));
}

TEST_F(RegistryFileTest, DeletionsInAFileAreCarriedOutAsAnImportWouldAndKept)
{
    WriteText(file, "REGEDIT4\n"
                    "\n"
                    "[HKEY_CURRENT_USER\\Gone]\n"
                    "\"x\"=dword:00000001\n"
                    "[HKEY_CURRENT_USER\\Gone\\Child]\n"
                    "\"y\"=dword:00000002\n"
                    "[HKEY_CURRENT_USER\\Gone Sibling]\n"
                    "\"z\"=dword:00000003\n"
                    "[HKEY_CURRENT_USER\\Kept]\n"
                    "\"a\"=dword:00000001\n"
                    "\"b\"=dword:00000002\n"
                    "\"A\" = -\n"
                    "@=\"default\"\n"
                    "@=-\n"
                    "\"never\"=-\n"
                    "[-HKEY_CURRENT_USER\\gone]\n"
                    "\"under a deleted key\"=dword:00000001\n"
                    "[-HKEY_CURRENT_USER]\n"
                    "[HKEY_CURRENT_USER\\Gone\\Child\\Grandchild]\n"
                    "\"w\"=dword:00000004\n");
    Restart();
    EXPECT_FALSE(Has("Gone", "x"));
    EXPECT_FALSE(Has("Gone\\Child", "y"));
    EXPECT_EQ(4u, Number("Gone\\Child\\Grandchild", "w"));
    EXPECT_EQ(3u, Number("Gone Sibling", "z"));
    EXPECT_FALSE(Has("Kept", "a"));
    EXPECT_EQ(2u, Number("Kept", "b"));
    EXPECT_FALSE(Has("Kept", nullptr));

    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Kept", "a", 7));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Gone", "x", 9));
    EXPECT_EQ("REGEDIT4\n"
              "\n"
              "[HKEY_CURRENT_USER\\Gone Sibling]\n"
              "\"z\"=dword:00000003\n"
              "\n"
              "[HKEY_CURRENT_USER\\Kept]\n"
              "\"b\"=dword:00000002\n"
              "\"A\" = -\n"
              "@=-\n"
              "\"never\"=-\n"
              "\"a\"=dword:00000007\n"
              "\n"
              "[-HKEY_CURRENT_USER\\gone]\n"
              "\"under a deleted key\"=dword:00000001\n"
              "\n"
              "[-HKEY_CURRENT_USER]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Gone]\n"
              "\"x\"=dword:00000009\n"
              "\n"
              "[HKEY_CURRENT_USER\\Gone\\Child]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Gone\\Child\\Grandchild]\n"
              "\"w\"=dword:00000004\n"
              "\n",
              ReadText(file));
    Restart();
    EXPECT_EQ(7u, Number("Kept", "a"));
    EXPECT_EQ(9u, Number("Gone", "x"));
    EXPECT_FALSE(Has("Gone\\Child", "y"));
}

TEST_F(RegistryFileTest, UndecodableFilesAreUnreadableAndLeftByteForByte)
{
    const std::string good = Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                   u"[HKEY_CURRENT_USER\\Software\\Test]\r\n\"Value\"=dword:00000001\r\n");
    const std::string ansi = "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"Value\"=dword:00000001\r\n";
    const std::vector<std::pair<const char *, std::string>> files = {
        {"UTF-16 of an odd length", good + "\n"},
        {"a high surrogate alone", good + Utf16(u"; \xD834 x\r\n").substr(2)},
        {"a low surrogate alone", good + Utf16(u"\"S\"=\"\xDD1E\"\r\n").substr(2)},
        {"a surrogate pair cut off by the end", good + Utf16(u"; \xD834").substr(2)},
        {"a big-endian mark", "\xFE\xFF" + good.substr(2)},
        {"a UTF-16 mark before 8-bit text", "\xFF\xFE" "REGEDIT4\r\n\r\n" + ansi + "\n"},  // of an even length
        {"a UTF-16 mark before REGEDIT4", Utf16(u"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                                                u"\"Value\"=dword:00000001\r\n")},
        {"a UTF-8 mark before no header", "\xEF\xBB\xBF" + ansi},
        {"5.00 that is not UTF-8", kHeader5 + "\r\n\r\n"s + ansi + "\"Text\"=\"caf\xE9\"\r\n"},
        {"5.00 with an overlong UTF-8 slash", "\xEF\xBB\xBF"s + kHeader5 + "\r\n" + ansi + "; \xC0\xAF\r\n"},
    };
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name);
        WriteText(file, bytes);
        Restart();
        EXPECT_FALSE(Has("Software\\Test", "Value"));
        EXPECT_EQ(ERROR_ACCESS_DENIED, PutNumber("Software\\Test", "Value", 2));
        BYTE one[4] = {1, 0, 0, 0};
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(HKEY_CURRENT_USER, "Value", 0, REG_DWORD, one, 4));
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(HKEY_CURRENT_USER, "Value"));
        EXPECT_EQ(bytes, ReadText(file));
        EXPECT_EQ(std::vector<std::string>{"registry.reg"}, FolderEntries());
    }

    // Another program saves a file we cannot decode while we run: our next
    // save is refused and its file stays.
    WriteText(file, good);
    Restart();
    EXPECT_EQ(1u, Number("Software\\Test", "Value"));
    const std::string broken = good + "\n";
    WriteText(file, broken);
    EXPECT_EQ(ERROR_ACCESS_DENIED, PutNumber("Software\\Test", "Value", 2));
    EXPECT_EQ(broken, ReadText(file));
}

TEST_F(RegistryFileTest, DamagedFileGivesWhatCanBeReadAndKeepsTheRestInPlace)
{
    const std::string damaged = "garbage before the header\n"
                                "REGEDIT4\n"
                                "; a comment\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                                "\"NotOurs\"=dword:00000001\n"
                                "\n"
                                "[HKEY_CURRENT_USER\\Kept]\n"
                                "\"Good\"=dword:00000007\n"
                                "\"Overflow\"=dword:123456789\n"
                                "\"Odd\"=hex:1,2,345\n"
                                "\"Open\"=\"no end\n"
                                "\"Escape\"=\"\\q\"\n"
                                "\"Nul\0name\"=dword:00000001\n"
                                "just text\n"
                                "\"Also good\"=\"yes\"\n"
                                "\"Dangling\"=hex:01,\\\n"
                                "[HKEY_CURRENT_USER\\\\Broken\\\\Path]\n"
                                "\"Hidden\"=dword:00000002\n"
                                "[HKEY_CURRENT_USER\\Kept]\n"
                                "\"Dup\"=dword:00000003\n"
                                "[unterminated header\n"s;
    WriteText(file, damaged);
    Restart();
    EXPECT_EQ(7u, Number("Kept", "Good"));
    EXPECT_EQ(3u, Number("Kept", "Dup"));
    EXPECT_FALSE(Has("Kept", "Overflow"));
    EXPECT_FALSE(Has("Kept", "Odd"));
    EXPECT_FALSE(Has("Kept", "Open"));
    EXPECT_FALSE(Has("Kept", "Dangling"));
    EXPECT_TRUE(Has("Kept", "Also good"));
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Broken", 0, KEY_READ, &key));

    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Kept", "Good", 8));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Kept", "New", 9));
    ASSERT_EQ(ERROR_SUCCESS, Delete("Kept", "Also good"));
    EXPECT_EQ("REGEDIT4\n"
              "\n"
              "garbage before the header\n"
              "REGEDIT4\n"
              "; a comment\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
              "\"NotOurs\"=dword:00000001\n"
              "\n"
              "[HKEY_CURRENT_USER\\Kept]\n"
              "\"Good\"=dword:00000008\n"
              "\"Overflow\"=dword:123456789\n"
              "\"Odd\"=hex:1,2,345\n"
              "\"Open\"=\"no end\n"
              "\"Escape\"=\"\\q\"\n"
              "\"Nul\0name\"=dword:00000001\n"
              "just text\n"
              "\"Dangling\"=hex:01,\\\n"
              "\n"
              "\"Dup\"=dword:00000003\n"
              "\"New\"=dword:00000009\n"
              "\n"
              "[HKEY_CURRENT_USER\\\\Broken\\\\Path]\n"
              "\"Hidden\"=dword:00000002\n"
              "\n"
              "[unterminated header\n"
              "\n"s,
              ReadText(file));
}

TEST_F(RegistryFileTest, BinaryGarbageNeitherCrashesNorLoses)
{
    std::string noise;
    unsigned seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise += "[]\"@=\\,:hx0a\n\r\0\xff"[(seed >> 16) % 16];
    }
    noise += std::string(100000, '"');  // one huge unterminated line
    WriteText(file, noise);
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("After noise", "Value", 5));
    Restart();
    EXPECT_EQ(5u, Number("After noise", "Value"));
    // Saved and read again, the noise stays what it was.
    const std::string once = ReadText(file);
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("After noise", "Value", 5));
    EXPECT_EQ(once, ReadText(file));
}

TEST_F(RegistryFileTest, KeysPastTheDepthLimitAreRefusedAndKeptAsText)
{
    std::string deepest = "k";
    for (int i = 1; i < 512; ++i)
        deepest += "\\k";
    const std::string tooDeep = deepest + "\\k";
    WriteText(file, "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + tooDeep + "]\n\"v\"=dword:00000001\n");
    Restart();
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "k", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_CURRENT_USER, tooDeep.c_str(), 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber(deepest.c_str(), "v", 2));
    const std::string saved = ReadText(file);
    EXPECT_NE(std::string::npos, saved.find("[HKEY_CURRENT_USER\\" + tooDeep + "]\n\"v\"=dword:00000001\n"));
    Restart();
    EXPECT_EQ(2u, Number(deepest.c_str(), "v"));
}

TEST_F(RegistryFileTest, OversizedFileIsNotRewritten)
{
    const std::string huge = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Big]\n" + std::string(2 << 20, ';') + "\n";
    WriteText(file, huge);
    Restart();
    EXPECT_EQ(ERROR_ACCESS_DENIED, PutNumber("Big", "v", 1));
    EXPECT_EQ(huge.size(), ReadText(file).size());
}

TEST_F(RegistryFileTest, InterruptedSaveLeavesTheOldFileAndNoTemporaryFile)
{
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "First", 1));
    const std::string before = ReadText(file);

    layer::InjectFault("RegistryRename");
    EXPECT_EQ(kWriteFault, PutNumber("Software\\Test", "Second", 2));
    EXPECT_EQ(before, ReadText(file));
    EXPECT_EQ(std::vector<std::string>{"registry.reg"}, FolderEntries());
    // The change holds for this run, and the next save that works keeps it.
    EXPECT_EQ(2u, Number("Software\\Test", "Second"));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "Third", 3));
    Restart();
    EXPECT_EQ(1u, Number("Software\\Test", "First"));
    EXPECT_EQ(2u, Number("Software\\Test", "Second"));
    EXPECT_EQ(3u, Number("Software\\Test", "Third"));
}

TEST_F(RegistryFileTest, ASignalThatEndsTheProcessMidSaveWaitsForTheSaveToFinish)
{
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "First", 1));
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        // As a second SIGTERM finds it: nothing left to handle it.
        signal(SIGTERM, SIG_DFL);
        layer::SetRegistrySaveHook([] { raise(SIGTERM); });
        PutNumber("Software\\Test", "Second", 2);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(std::vector<std::string>{"registry.reg"}, FolderEntries());
    Restart();
    EXPECT_EQ(2u, Number("Software\\Test", "Second"));
}

TEST_F(RegistryFileTest, ASaveRemovesLeftoversOnlyOfSavesThatCannotStillBeWriting)
{
    auto make = [this](const std::string &name, int ageSeconds) {
        const std::string path = folder + "/" + name;
        WriteText(path, "REGEDIT4\n");
        timespec times[2] = {{time(nullptr) - ageSeconds, 0}, {time(nullptr) - ageSeconds, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        return path;
    };
    make("registry.reg.Ab3xYz", 120);     // a save cut short two minutes ago
    make("registry.reg.Fresh1", 0);       // a save that may be under way
    int held = open(make("registry.reg.Slow42", 120).c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(held, LOCK_EX));   // a live save, stuck in a slow sync
    make("registry.reg.Ab3xY", 120);      // not names our saves make
    make("registry.reg.bak", 120);
    make("other.reg.Ab3xYz", 120);
    make("registry.reg.backup", 120);     // a person's copies
    make("registry.reg.202612", 120);

    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "Value", 1));
    close(held);
    std::vector<std::string> names = FolderEntries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"other.reg.Ab3xYz", "registry.reg", "registry.reg.202612",
                                        "registry.reg.Ab3xY", "registry.reg.Fresh1", "registry.reg.Slow42",
                                        "registry.reg.backup", "registry.reg.bak"}),
              names);
}

TEST_F(RegistryFileTest, FailedKeyCreationSaveIsReported)
{
    // The folder cannot be made: a file stands where it would go.
    WriteText(folder + "/blocker", "x");
    file = folder + "/blocker/registry.reg";
    Restart();
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(kWriteFault, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ("x", ReadText(folder + "/blocker"));
}

TEST_F(RegistryFileTest, UnreadableFileRefusesWritesAndIsLeftAlone)
{
    ASSERT_EQ(0, mkdir(file.c_str(), 0700));  // a folder where the file should be
    ASSERT_EQ(0, mkfifo((folder + "/fifo.reg").c_str(), 0600));
    for (const std::string &path : {file, folder + "/fifo.reg"}) {
        SCOPED_TRACE(path);
        layer::UseRegistryFile(path);
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
        BYTE one[4] = {1, 0, 0, 0};
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(HKEY_CURRENT_USER, "Value", 0, REG_DWORD, one, 4));
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(HKEY_CURRENT_USER, "Value"));
        // Opening the root that always exists still works: only changes are refused.
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                                 nullptr));
    }
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(fs::is_empty(file));
    EXPECT_EQ(2u, FolderEntries().size());  // the two, and nothing new
}

TEST_F(RegistryFileTest, TwoProcessesWritingDifferentValuesBothKeepTheirs)
{
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Shared", "Mine", 1));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Shared", "Doomed", 9));

    // Another process saves in between, without our view knowing.
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        layer::UseRegistryFile(file);
        bool ok = PutNumber("Software\\Shared", "Theirs", 2) == ERROR_SUCCESS &&
                  Delete("Software\\Shared", "Doomed") == ERROR_SUCCESS &&
                  PutNumber("Software\\Other", "Only theirs", 3) == ERROR_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Shared", "Also mine", 4));
    // Our save took in theirs: this process sees it already.
    EXPECT_EQ(2u, Number("Software\\Shared", "Theirs"));
    Restart();
    EXPECT_EQ(1u, Number("Software\\Shared", "Mine"));
    EXPECT_EQ(2u, Number("Software\\Shared", "Theirs"));
    EXPECT_EQ(3u, Number("Software\\Other", "Only theirs"));
    EXPECT_EQ(4u, Number("Software\\Shared", "Also mine"));
    EXPECT_FALSE(Has("Software\\Shared", "Doomed"));
}

TEST_F(RegistryFileTest, MissingFileIsAnEmptyRegistryAndItsFolderIsMadeOnFirstSave)
{
    file = folder + "/config/vantrel/registry.reg";
    Restart();
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    EXPECT_FALSE(fs::exists(folder + "/config"));  // reading writes nothing

    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "Value", 6));
    struct stat info;
    ASSERT_EQ(0, stat((folder + "/config/vantrel").c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777);
    ASSERT_EQ(0, stat(file.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    Restart();
    EXPECT_EQ(6u, Number("Software\\Test", "Value"));
}

TEST_F(RegistryFileTest, SaveKeepsALinkedFileALinkAndItsMode)
{
    std::string target = folder + "/elsewhere.reg";
    WriteText(target, "REGEDIT4\n");
    ASSERT_EQ(0, chmod(target.c_str(), 0644));
    ASSERT_EQ(0, symlink(target.c_str(), file.c_str()));
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "Value", 1));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_NE(std::string::npos, ReadText(target).find("\"Value\"=dword:00000001"));
    struct stat info;
    ASSERT_EQ(0, stat(target.c_str(), &info));
    EXPECT_EQ(0644u, info.st_mode & 0777);
}

TEST_F(RegistryFileTest, ResetGoesBackToMemoryOnly)
{
    Restart();
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "Value", 1));
    const std::string saved = ReadText(file);
    layer::ResetHeadless(64, 48);
    EXPECT_FALSE(Has("Software\\Test", "Value"));
    ASSERT_EQ(ERROR_SUCCESS, PutNumber("Software\\Test", "Value", 2));
    EXPECT_EQ(saved, ReadText(file));
}

TEST(RegistryFilePathTest, ChoosesTheOverrideThenXdgThenHome)
{
    EXPECT_EQ("/tmp/x.reg", layer::RegistryFilePath("/tmp/x.reg", "/cfg", "/home/u"));
    EXPECT_EQ("/cfg/vantrel/registry.reg", layer::RegistryFilePath(nullptr, "/cfg", "/home/u"));
    EXPECT_EQ("/cfg/vantrel/registry.reg", layer::RegistryFilePath("", "/cfg", "/home/u"));
    EXPECT_EQ("/home/u/.config/vantrel/registry.reg", layer::RegistryFilePath(nullptr, nullptr, "/home/u"));
    EXPECT_EQ("/home/u/.config/vantrel/registry.reg", layer::RegistryFilePath(nullptr, "", "/home/u"));
    // A relative XDG_CONFIG_HOME is not a valid one.
    EXPECT_EQ("/home/u/.config/vantrel/registry.reg", layer::RegistryFilePath(nullptr, "cfg", "/home/u"));
    EXPECT_EQ("", layer::RegistryFilePath(nullptr, nullptr, nullptr));
    EXPECT_EQ("", layer::RegistryFilePath(nullptr, "", ""));
}

}  // namespace
