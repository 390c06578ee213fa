// The generator against the committed art: what it draws today must be
// exactly what is committed, and its own check must tell good art from bad.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int RunArtgen(const std::string& args) {
    std::string command = std::string("'") + ARTGEN_PATH + "' " + args + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ArtGenerator : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = std::string("artgen-test-") + std::to_string(getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

const char* const kOutputs[] = {"title.bmp",    "battlefield.bmp",   "searchlights.bmp", "fortress.bmp",
                                "bomb.bmp",     "backdrop.bmp",      "bomb_mask.bmp",    "config_banner.bmp",
                                "about.bmp",    "bomb.ico",          "contact-sheet.png"};

TEST_F(ArtGenerator, CommittedArtIsExactlyWhatTheGeneratorDraws) {
    ASSERT_EQ(RunArtgen("--out '" + dir_.string() + "'"), 0);
    size_t written = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        ++written;
        std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::vector<char> fresh = Bytes(entry.path()), committed = Bytes(fs::path(RESOURCES_DIR) / name);
        ASSERT_FALSE(committed.empty()) << "not committed; run artgen --out resources";
        EXPECT_TRUE(fresh == committed) << "out of date; run artgen --out resources and commit the result";
    }
    EXPECT_EQ(written, std::size(kOutputs));
    for (const char* name : kOutputs) EXPECT_TRUE(fs::exists(dir_ / name)) << name;
    EXPECT_LT(fs::file_size(dir_ / "contact-sheet.png"), 2u * 1024 * 1024);
}

TEST_F(ArtGenerator, CheckPassesTheCommittedArtAndFailsBrokenSets) {
    EXPECT_EQ(RunArtgen("--check '" + std::string(RESOURCES_DIR) + "'"), 0);

    for (const char* name : kOutputs) fs::copy_file(fs::path(RESOURCES_DIR) / name, dir_ / name);
    ASSERT_EQ(RunArtgen("--check '" + dir_.string() + "'"), 0);

    // A mask that is not the sprite's complement.
    fs::copy_file(dir_ / "bomb.bmp", dir_ / "bomb_mask.bmp", fs::copy_options::overwrite_existing);
    EXPECT_EQ(RunArtgen("--check '" + dir_.string() + "'"), 1);
    fs::copy_file(fs::path(RESOURCES_DIR) / "bomb_mask.bmp", dir_ / "bomb_mask.bmp", fs::copy_options::overwrite_existing);

    // A slideshow picture of the wrong size.
    fs::copy_file(dir_ / "about.bmp", dir_ / "title.bmp", fs::copy_options::overwrite_existing);
    EXPECT_EQ(RunArtgen("--check '" + dir_.string() + "'"), 1);
    fs::copy_file(fs::path(RESOURCES_DIR) / "title.bmp", dir_ / "title.bmp", fs::copy_options::overwrite_existing);

    // A truncated picture: its RLE8 stream stops before the end.
    {
        std::vector<char> bytes = Bytes(dir_ / "fortress.bmp");
        bytes.resize(bytes.size() / 2);
        std::ofstream(dir_ / "fortress.bmp", std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_EQ(RunArtgen("--check '" + dir_.string() + "'"), 1);
    fs::copy_file(fs::path(RESOURCES_DIR) / "fortress.bmp", dir_ / "fortress.bmp", fs::copy_options::overwrite_existing);

    fs::remove(dir_ / "bomb.ico");
    EXPECT_EQ(RunArtgen("--check '" + dir_.string() + "'"), 1);
}

TEST_F(ArtGenerator, RejectsAMalformedCommandLine) {
    EXPECT_EQ(RunArtgen(""), 2);
    EXPECT_EQ(RunArtgen("--draw '" + dir_.string() + "'"), 2);
    EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
