// The program's resources through FindResourceA and its companions, over
// hand-built .res files: good ones, and ones damaged the ways a file can be.
#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/kernel/resource_file.h"
#include "resources/resource.h"
#include "tests/unit/res_builder.h"

namespace {

using namespace resbuild;

class LayerResources : public ::testing::Test {
protected:
    void SetUp() override { layer::ResetHeadless(640, 480); }
    void TearDown() override { layer::ResetHeadless(640, 480); }

    // The data of a resource, or "<missing>" and the error.
    static std::string Read(LPCSTR name, LPCSTR type, DWORD *error = nullptr) {
        SetLastError(0);
        HRSRC info = FindResourceA(nullptr, name, type);
        if (error) *error = GetLastError();
        if (!info) return "<missing>";
        const char *data = static_cast<const char *>(LockResource(LoadResource(nullptr, info)));
        DWORD size = SizeofResource(nullptr, info);
        return data ? std::string(data, size) : "<unloadable>";
    }
};

std::vector<uint8_t> Bytes(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Three records: an integer-named bitmap, a string-named dialog, a
// zero-length version resource.
std::vector<uint8_t> SampleFile() {
    std::vector<uint8_t> file = NewResFile();
    AddRecord(file, Ord(2), Ord(118), Bytes("bomb"));
    AddRecord(file, Ord(5), Named("Config"), Bytes("dialog!"));
    AddRecord(file, Ord(16), Ord(1), {});
    return file;
}

TEST_F(LayerResources, IntegerAndStringNamesAreFound) {
    layer::UseResources(SampleFile());
    EXPECT_EQ("bomb", Read(MAKEINTRESOURCEA(118), RT_BITMAP));
    EXPECT_EQ("bomb", Read("#118", RT_BITMAP));
    EXPECT_EQ("dialog!", Read("CONFIG", RT_DIALOG));
    EXPECT_EQ("dialog!", Read("config", "#5")) << "names and string types ignore case";
    EXPECT_EQ("", Read(MAKEINTRESOURCEA(1), RT_VERSION)) << "zero-length data is still a resource";
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_VERSION);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(0u, SizeofResource(nullptr, info));
    EXPECT_NE(nullptr, LoadResource(nullptr, info));
}

TEST_F(LayerResources, MissingResourcesReportTypeOrName) {
    layer::UseResources(SampleFile());
    DWORD error = 0;
    EXPECT_EQ("<missing>", Read(MAKEINTRESOURCEA(119), RT_BITMAP, &error));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, error);
    EXPECT_EQ("<missing>", Read(MAKEINTRESOURCEA(118), RT_ICON, &error));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_TYPE_NOT_FOUND, error);
    EXPECT_EQ("<missing>", Read("CONFIGX", RT_DIALOG, &error));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, error);
    EXPECT_EQ("<missing>", Read("#118x", RT_BITMAP, &error)) << "not a number, so a name";

    // Another module's resources are not the program's.
    layer::RegisterLibrary("MPR.DLL", {});
    HMODULE library = LoadLibraryA("MPR.DLL");
    ASSERT_NE(nullptr, library);
    SetLastError(0);
    EXPECT_EQ(nullptr, FindResourceA(library, MAKEINTRESOURCEA(118), RT_BITMAP));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_DATA_NOT_FOUND, GetLastError());
    EXPECT_NE(nullptr, FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(118), RT_BITMAP));

    layer::UseResources({});
    EXPECT_EQ("<missing>", Read(MAKEINTRESOURCEA(118), RT_BITMAP, &error));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_DATA_NOT_FOUND, error) << "a program without resources";
}

TEST_F(LayerResources, BadHandlesGiveNothing) {
    layer::UseResources(SampleFile());
    EXPECT_EQ(nullptr, LoadResource(nullptr, nullptr));
    EXPECT_EQ(nullptr, LoadResource(nullptr, (HRSRC)(uintptr_t)0x1234));
    EXPECT_EQ(0u, SizeofResource(nullptr, (HRSRC)(uintptr_t)0x40000000 + 99));
    EXPECT_EQ(nullptr, LockResource(nullptr));
    // A handle from resources since replaced names nothing now.
    HRSRC old = FindResourceA(nullptr, MAKEINTRESOURCEA(118), RT_BITMAP);
    ASSERT_NE(nullptr, old);
    layer::UseResources(SampleFile());
    EXPECT_EQ(nullptr, LoadResource(nullptr, old));
    EXPECT_EQ(0u, SizeofResource(nullptr, old));
}

TEST_F(LayerResources, DamageEndsTheUsableData) {
    std::vector<uint8_t> good = SampleFile();
    std::vector<uint8_t> one = NewResFile();
    AddRecord(one, Ord(2), Ord(118), Bytes("bomb"));
    size_t secondStart = one.size();

    // The second record's data size reaches past the end of the file.
    std::vector<uint8_t> oversized = good;
    oversized[secondStart] = 0xFF;
    oversized[secondStart + 3] = 0x7F;
    // Its header size is below the minimum, misaligned, or past the end.
    std::vector<uint8_t> shortHeader = good, oddHeader = good, hugeHeader = good;
    shortHeader[secondStart + 4] = 16;
    oddHeader[secondStart + 4] += 2;
    hugeHeader[secondStart + 7] = 0x10;
    // Its name string has no terminator inside the header.
    std::vector<uint8_t> unterminated = NewResFile();
    AddRecord(unterminated, Ord(2), Ord(118), Bytes("bomb"));
    AddRecord(unterminated, Ord(5), Named("Config"), Bytes("dialog!"));
    uint32_t headerSize = unterminated[secondStart + 4];
    for (size_t i = secondStart + 12; i < secondStart + headerSize; ++i) unterminated[i] = 'A';
    // The file stops inside the second record's header.
    std::vector<uint8_t> truncated(good.begin(), good.begin() + (long)secondStart + 20);

    for (const auto &damaged : {oversized, shortHeader, oddHeader, hugeHeader, unterminated, truncated}) {
        layer::UseResources(damaged);
        EXPECT_EQ("bomb", Read(MAKEINTRESOURCEA(118), RT_BITMAP)) << "what comes before the damage stays";
        EXPECT_EQ("<missing>", Read("CONFIG", RT_DIALOG));
        EXPECT_EQ("<missing>", Read(MAKEINTRESOURCEA(1), RT_VERSION));
    }
    layer::ResourceFile parsed = layer::ParseResourceFile(truncated.data(), truncated.size());
    EXPECT_TRUE(parsed.damaged);
    EXPECT_EQ(1u, parsed.entries.size());

    // Damage in the very first record leaves nothing; a file of a few stray
    // bytes likewise.
    std::vector<uint8_t> brokenStart = good;
    brokenStart[4] = 3;
    layer::UseResources(brokenStart);
    EXPECT_EQ("<missing>", Read(MAKEINTRESOURCEA(118), RT_BITMAP));
    layer::UseResources({1, 2, 3});
    EXPECT_EQ("<missing>", Read(MAKEINTRESOURCEA(118), RT_BITMAP));
}

TEST_F(LayerResources, RecordFieldsAreReadAsStored) {
    std::vector<uint8_t> file = NewResFile();
    AddRecord(file, Named("PNGDATA"), Named("Z"), Bytes("xyz"), 0x0407);  // odd lengths, then padding
    AddRecord(file, Ord(14), Ord(139), Bytes("icon"));
    layer::ResourceFile parsed = layer::ParseResourceFile(file.data(), file.size());
    ASSERT_EQ(2u, parsed.entries.size());
    EXPECT_FALSE(parsed.damaged);
    EXPECT_TRUE(parsed.entries[0].type.isString);
    EXPECT_EQ(u"PNGDATA", parsed.entries[0].type.text);
    EXPECT_EQ(u"Z", parsed.entries[0].name.text);
    EXPECT_EQ(0x0407, parsed.entries[0].language);
    EXPECT_EQ(0x1030, parsed.entries[0].memoryFlags);
    EXPECT_EQ(3u, parsed.entries[0].size);
    EXPECT_EQ(0u, parsed.entries[1].offset % 4) << "data starts DWORD-aligned";
    EXPECT_EQ(139, parsed.entries[1].name.ordinal);

    // The last record may end right after its data, without padding.
    std::vector<uint8_t> tight = NewResFile();
    AddRecord(tight, Ord(2), Ord(7), Bytes("abc"));
    tight.pop_back();
    parsed = layer::ParseResourceFile(tight.data(), tight.size());
    EXPECT_FALSE(parsed.damaged);
    ASSERT_EQ(1u, parsed.entries.size());
    EXPECT_EQ(3u, parsed.entries[0].size);
}

TEST_F(LayerResources, ProgramResourcesComeBackAfterAReset) {
    layer::UseResources({});
    layer::ResetHeadless(640, 480);
    // The built-in script always carries the version resource.
    EXPECT_NE("<missing>", Read(MAKEINTRESOURCEA(1), RT_VERSION));
    // The manifest (type 24) is Windows' alone; the records after it still
    // count, and it reads back as the XML it is.
    EXPECT_EQ("<?xml", Read(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)).substr(0, 5));
    EXPECT_NE("<missing>", Read(MAKEINTRESOURCEA(IDD_CONFIG), RT_DIALOG));
}

}  // namespace
