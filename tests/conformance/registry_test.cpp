// Registry value semantics the saver relies on: opening and creating keys,
// the sizes a query reports, short and long values read into a 4-byte
// buffer, name case, access rights and handle validity. Each test works under
// its own key and removes the values it made; keys stay (they cannot be
// deleted through the calls we have), so names of new keys carry the clock.
#include "conformance.h"

#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override
    {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        base = std::string("Software\\VantrelConformance\\") + info->name();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
    }

    void TearDown() override
    {
        for (const std::string &name : made)
            RegDeleteValueA(key, name.c_str());
        RegCloseKey(key);
    }

    LSTATUS Set(const char *name, DWORD type, std::vector<BYTE> data)
    {
        made.push_back(name);
        return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }

    // A key name no earlier run can have used.
    std::string FreshName(const char *stem)
    {
        static int serial = 0;
        return base + "\\" + stem + std::to_string(GetTickCount()) + "_" + std::to_string(++serial);
    }

    std::string base;
    HKEY key = nullptr;
    std::vector<std::string> made;
};

TEST_F(Registry, AMissingKeyDoesNotOpen)
{
    std::string missing = FreshName("Missing");
    HKEY opened = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_QUERY_VALUE, &opened));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_CURRENT_USER, missing.c_str(), &opened));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key, "Missing\\Deeper", 0, KEY_QUERY_VALUE, &opened));
}

TEST_F(Registry, CreateMakesMissingParentsAndTellsNewFromExisting)
{
    std::string parent = FreshName("Parent");
    std::string child = parent + "\\Child";
    HKEY created;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, child.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &created, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    RegCloseKey(created);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, child.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &created, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    RegCloseKey(created);

    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_QUERY_VALUE, &opened));
    RegCloseKey(opened);
    // Relative to an open key, and without regard to case.
    std::string relative = child.substr(base.size() + 1);
    for (char &c : relative)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(key, relative.c_str(), &opened));
    RegCloseKey(opened);
}

TEST_F(Registry, ADwordReadsBackAsWritten)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("Number", REG_DWORD, {0x78, 0x56, 0x34, 0x12}));
    DWORD type = 0, number = 0, size = sizeof number;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "Number", nullptr, &type, reinterpret_cast<BYTE *>(&number), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0x12345678u, number);

    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "Number"));
    size = sizeof number;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(key, "Number", nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "Number"));
}

TEST_F(Registry, AQueryWithoutTypeOrDataReportsTheSize)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("Six", REG_BINARY, {1, 2, 3, 4, 5, 6}));
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Six", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(6u, size);
}

TEST_F(Registry, ValuesAreReadIntoAFourByteBufferByTheirBytes)
{
    // A string of three digits and its terminator is four bytes like any other.
    ASSERT_EQ(ERROR_SUCCESS, Set("Text", REG_SZ, {'1', '0', '0', 0}));
    DWORD number = 0, size = 4;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(3158065u, number);

    // Longer than the buffer: refused, with the size it would need.
    ASSERT_EQ(ERROR_SUCCESS, Set("Eight", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}));
    size = 4;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryValueExA(key, "Eight", nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size));
    EXPECT_EQ(8u, size);

    // Shorter: only its own bytes are written.
    ASSERT_EQ(ERROR_SUCCESS, Set("Two", REG_BINARY, {0xAB, 0xCD}));
    BYTE buffer[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    size = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Two", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(0xAB, buffer[0]);
    EXPECT_EQ(0xCD, buffer[1]);
    EXPECT_EQ(0xCC, buffer[2]);
    EXPECT_EQ(0xCC, buffer[3]);
}

TEST_F(Registry, ValueNamesIgnoreCase)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("MixedCase", REG_DWORD, {1, 0, 0, 0}));
    ASSERT_EQ(ERROR_SUCCESS, Set("MIXEDCASE", REG_DWORD, {2, 0, 0, 0}));
    DWORD number = 0, size = 4;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "mixedcase", nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size));
    EXPECT_EQ(2u, number);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "mixedCASE"));
    size = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(key, "MixedCase", nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size));
}

TEST_F(Registry, AKeyDoesOnlyWhatItWasOpenedFor)
{
    ASSERT_EQ(ERROR_SUCCESS, Set("Guarded", REG_DWORD, {1, 0, 0, 0}));
    HKEY writeOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_SET_VALUE, &writeOnly));
    DWORD number = 0, size = 4;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegQueryValueExA(writeOnly, "Guarded", nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size));
    RegCloseKey(writeOnly);

    HKEY readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_QUERY_VALUE, &readOnly));
    BYTE two[4] = {2, 0, 0, 0};
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(readOnly, "Guarded", 0, REG_DWORD, two, 4));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(readOnly, "Guarded"));
    RegCloseKey(readOnly);
}

TEST_F(Registry, AClosedKeyIsNoLongerAKey)
{
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_QUERY_VALUE, &opened));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(opened));
}

}  // namespace
