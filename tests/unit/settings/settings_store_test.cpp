#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qmx {
namespace {
namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qmx-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        file_ = dir_ / "settings.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    static void write(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Names in the folder other than the settings file itself (left-over temporaries).
    std::vector<std::string> strays() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            if (e.path() != file_) names.push_back(e.path().filename().string());
        }
        return names;
    }

    fs::path dir_;
    fs::path file_;
};

TEST_F(SettingsFileTest, RoundTripWithChineseKeysAndBothSections) {
    SettingsStore store(file_);
    ASSERT_TRUE(store.load());  // no file yet: a first run
    EXPECT_EQ(store.warning(), "");
    EXPECT_EQ(store.read("Settings", "DeviceProducts", "2"), "2");
    ASSERT_TRUE(store.set("Settings", "DeviceProducts", "7"));
    ASSERT_TRUE(store.set("Settings", "安全锁", "0"));
    ASSERT_TRUE(store.set("Settings", "FilePath", "/home/用户/固件"));
    ASSERT_TRUE(store.set("Auto_Increase", "next_value", "1234"));
    EXPECT_TRUE(store.dirty());
    ASSERT_EQ(store.save(), "");
    EXPECT_FALSE(store.dirty());

    SettingsStore again(file_);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.read("Settings", "DeviceProducts"), "7");
    EXPECT_EQ(again.read("Settings", "安全锁", "2"), "0");
    EXPECT_EQ(again.read("Settings", "FilePath"), "/home/用户/固件");
    EXPECT_EQ(again.read("Auto_Increase", "next_value"), "1234");
    EXPECT_EQ(again.read("Auto_Increase", "DeviceProducts", "none"), "none");
    EXPECT_NE(slurp(file_).find("安全锁=0\n"), std::string::npos);
}

TEST_F(SettingsFileTest, AwkwardValuesSurviveTheFile) {
    const std::string values[] = {
        "  leading and trailing  ",  "back\\slash\\x41",  "two\nlines\r\n", "tab\there",
        std::string("nul\0byte", 8), "\xFF\xFEnot utf-8", "a=b;c#d[e]",     "",
    };
    SettingsStore store(file_);
    for (std::size_t i = 0; i < std::size(values); ++i) {
        ASSERT_TRUE(store.set("S", "k" + std::to_string(i), values[i]));
    }
    ASSERT_EQ(store.save(), "");
    SettingsStore again(file_);
    ASSERT_TRUE(again.load()) << again.warning();
    EXPECT_EQ(again.warning(), "");
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(again.read("S", "k" + std::to_string(i), "?"), values[i]) << i;
    }
}

TEST_F(SettingsFileTest, UnknownKeysSectionsAndCommentsAreKept) {
    write(file_,
          "; written by hand\n"
          "[Other]\n"
          "colour=blue\n"
          "\n"
          "[Settings]\n"
          "DeviceProducts=5\n"
          "FutureKey=kept\n"
          "# note\n");
    SettingsStore store(file_);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.set("Settings", "DeviceProducts", "9"));
    ASSERT_TRUE(store.set("Settings", "COM_port", "1"));
    ASSERT_TRUE(store.set("Auto_Increase", "Length", "4"));
    ASSERT_EQ(store.save(), "");
    const std::string text = slurp(file_);
    EXPECT_EQ(text,
              "; written by hand\n"
              "[Other]\n"
              "colour=blue\n"
              "\n"
              "[Settings]\n"
              "DeviceProducts=9\n"
              "FutureKey=kept\n"
              "COM_port=1\n"
              "# note\n"
              "\n"
              "[Auto_Increase]\n"
              "Length=4\n");
}

TEST_F(SettingsFileTest, TwoWritersKeepEachOthersChanges) {
    // The window and the command line share one file; each save replays only its own changes.
    write(file_, "[Settings]\nDeviceProducts=2\nCOM_port=0\n");
    SettingsStore window(file_), command(file_);
    ASSERT_TRUE(window.load());
    ASSERT_TRUE(command.load());
    window.set("Settings", "COM_port", "3");
    ASSERT_EQ(window.save(), "");
    command.set("Settings", "Write_OK_Count", "12");
    command.remove("Settings", "DeviceProducts");
    ASSERT_EQ(command.save(), "");
    EXPECT_EQ(slurp(file_), "[Settings]\nCOM_port=3\nWrite_OK_Count=12\n");
    EXPECT_EQ(command.read("Settings", "COM_port"), "3");
    window.set("Settings", "DeviceProducts", "5");
    ASSERT_EQ(window.save(), "");
    EXPECT_EQ(window.read("Settings", "Write_OK_Count"), "12");
}

TEST_F(SettingsFileTest, WindowsStyleFileIsRead) {
    write(file_, "\xEF\xBB\xBF[Settings]\r\nDeviceProducts = 11\r\nfillbyte=FF\r\n");
    SettingsStore store(file_);
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.read("Settings", "DeviceProducts"), "11");
    EXPECT_EQ(store.read("Settings", "fillbyte"), "FF");
}

TEST_F(SettingsFileTest, DamagedFileGivesDefaultsAWarningAndABackup) {
    const std::string garbage("\x00\x01\xFF[Settings]\nDeviceProducts=3\n\x00", 30);
    write(file_, garbage);
    SettingsStore store(file_);
    EXPECT_FALSE(store.load());
    EXPECT_NE(store.warning().find("damaged"), std::string::npos) << store.warning();
    EXPECT_EQ(store.read("Settings", "DeviceProducts", "2"), "2");
    ASSERT_TRUE(store.set("Settings", "DeviceProducts", "4"));
    ASSERT_EQ(store.save(), "");
    fs::path backup = file_;
    backup += ".damaged";
    EXPECT_EQ(slurp(backup), garbage);
    SettingsStore again(file_);
    EXPECT_TRUE(again.load());
    EXPECT_EQ(again.read("Settings", "DeviceProducts"), "4");
}

TEST_F(SettingsFileTest, UnreadableLineCostsOnlyItself) {
    // A production line's counter and numbering must survive one bad byte elsewhere.
    const std::string original =
        "[Settings]\nWrite_OK_Count=4711\n# note \xFF\xFE\nFilePath=/home/caf\xE9\n"
        "[Auto_Increase]\nnext_value=00001234\n[\xFF\xFF]\nstray=1\n[Settings]\nCOM_port=3\n";
    write(file_, original);
    SettingsStore store(file_);
    EXPECT_FALSE(store.load());
    EXPECT_NE(store.warning().find("cannot be read as text (lines 3, 7, 8)"), std::string::npos)
        << store.warning();
    EXPECT_EQ(store.read("Settings", "Write_OK_Count"), "4711");
    EXPECT_EQ(store.read("Auto_Increase", "next_value"), "00001234");
    EXPECT_EQ(store.read("Settings", "FilePath"), "/home/caf\xE9");  // bytes kept as they are
    EXPECT_EQ(store.read("Settings", "COM_port"), "3");
    EXPECT_FALSE(store.contains("Auto_Increase", "stray")) << "a key under an unreadable header";

    // The next save keeps the old bytes beside the file and writes only readable text.
    ASSERT_TRUE(store.set("Settings", "Write_OK_Count", "4712"));
    ASSERT_EQ(store.save(), "");
    fs::path backup = file_;
    backup += ".damaged";
    EXPECT_EQ(slurp(backup), original);
    SettingsStore again(file_);
    EXPECT_TRUE(again.load()) << again.warning();
    EXPECT_EQ(again.read("Settings", "Write_OK_Count"), "4712");
    EXPECT_EQ(again.read("Auto_Increase", "next_value"), "00001234");
    EXPECT_EQ(again.read("Settings", "FilePath"), "/home/caf\xE9");
}

TEST_F(SettingsFileTest, FifoInPlaceOfTheFileIsNeitherReadNorReplaced) {
    ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    SettingsStore store(file_);
    EXPECT_FALSE(store.load());  // returns at once: a FIFO is never opened
    EXPECT_NE(store.warning().find("not a regular file"), std::string::npos) << store.warning();
    store.set("Settings", "COM_port", "1");
    EXPECT_NE(store.save().find("not a regular file"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(file_));
}

TEST_F(SettingsFileTest, TemporariesOfKilledSavesAreRemovedOnTheNextSave) {
    const fs::path dead = dir_ / ".settings.ini.tmp-999999999-AbCdEf";  // no such process
    const fs::path live = dir_ / (".settings.ini.tmp-" + std::to_string(::getpid()) + "-x");
    write(dead, "half");
    write(live, "half");
    SettingsStore store(file_);
    store.set("Settings", "COM_port", "1");
    ASSERT_EQ(store.save(), "");
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live)) << "a save still running is left alone";
    fs::last_write_time(live, fs::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_EQ(store.save(), "");
    EXPECT_EQ(strays(), std::vector<std::string>{}) << "an old one is stale in any case";
}

TEST_F(SettingsFileTest, StrayLinesAreReportedAndKept) {
    write(file_, "[Settings]\nDeviceProducts=6\nthis is not a setting\n[broken\n=novalue\n");
    SettingsStore store(file_);
    EXPECT_TRUE(store.load());
    EXPECT_NE(store.warning().find("lines 3, 4, 5"), std::string::npos) << store.warning();
    EXPECT_EQ(store.read("Settings", "DeviceProducts"), "6");
    ASSERT_EQ(store.save(), "");
    EXPECT_EQ(slurp(file_),
              "[Settings]\nDeviceProducts=6\nthis is not a setting\n[broken\n=novalue\n");
}

TEST_F(SettingsFileTest, FolderInPlaceOfTheFile) {
    fs::create_directory(file_);
    SettingsStore store(file_);
    EXPECT_FALSE(store.load());
    EXPECT_NE(store.warning(), "");
    store.set("Settings", "DeviceProducts", "1");
    const std::string err = store.save();
    EXPECT_NE(err, "");
    EXPECT_EQ(err, store.lastError());
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_TRUE(store.dirty());  // the values wait for a later try
}

TEST_F(SettingsFileTest, MissingFoldersAreCreated) {
    SettingsStore store(dir_ / "a" / "b" / "settings.ini");
    store.set("Settings", "COM_port", "2");
    ASSERT_EQ(store.save(), "");
    EXPECT_EQ(slurp(dir_ / "a" / "b" / "settings.ini"), "[Settings]\nCOM_port=2\n");
}

TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFile) {
    write(file_, "[Settings]\nDeviceProducts=3\n");
    SettingsStore store(file_);
    ASSERT_TRUE(store.load());
    store.set("Settings", "FilePath", std::string(64 * 1024, 'x'));

    // Cap the size of files this process may write, as a full disk would.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string err = store.save();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_NE(err, "");
    EXPECT_NE(err.find(file_.string()), std::string::npos) << err;
    EXPECT_EQ(slurp(file_), "[Settings]\nDeviceProducts=3\n");
    EXPECT_TRUE(strays().empty());
    ASSERT_EQ(store.save(), "");  // the next try writes everything
    SettingsStore again(file_);
    again.load();
    EXPECT_EQ(again.read("Settings", "FilePath").size(), 64u * 1024u);
}

TEST_F(SettingsFileTest, ReadOnlyFolderKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind the super-user";
    write(file_, "[Settings]\nDeviceProducts=3\n");
    SettingsStore store(file_);
    ASSERT_TRUE(store.load());
    store.set("Settings", "DeviceProducts", "8");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_NE(store.save(), "");
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(slurp(file_), "[Settings]\nDeviceProducts=3\n");
    EXPECT_TRUE(strays().empty());
}

TEST_F(SettingsFileTest, UnreadableFileIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the super-user";
    write(file_, "[Settings]\nDeviceProducts=3\n");
    fs::permissions(file_, fs::perms::none);
    SettingsStore store(file_);
    EXPECT_FALSE(store.load());
    EXPECT_NE(store.warning().find("cannot be read"), std::string::npos) << store.warning();
    store.set("Settings", "DeviceProducts", "8");
    EXPECT_NE(store.save(), "");
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(slurp(file_), "[Settings]\nDeviceProducts=3\n");
}

TEST_F(SettingsFileTest, SymbolicLinkStaysALink) {
    const fs::path real = dir_ / "real.ini";
    write(real, "[Settings]\nCOM_port=0\n");
    const fs::path link = dir_ / "link.ini";
    fs::create_symlink(real, link);
    SettingsStore store(link);
    ASSERT_TRUE(store.load());
    store.set("Settings", "COM_port", "3");
    ASSERT_EQ(store.save(), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(slurp(real), "[Settings]\nCOM_port=3\n");
}

TEST(SettingsStoreKeys, UnstorableNamesAreRefused) {
    SettingsStore store(fs::path("/nonexistent/never-written.ini"));
    EXPECT_FALSE(store.set("Settings", "", "v"));
    EXPECT_FALSE(store.set("Settings", "a=b", "v"));
    EXPECT_FALSE(store.set("Settings", "a\nb", "v"));
    EXPECT_FALSE(store.set("Settings", " padded", "v"));
    EXPECT_FALSE(store.set("Settings", "[key", "v"));
    EXPECT_FALSE(store.set("Settings", ";key", "v"));
    EXPECT_FALSE(store.set("Sec]tion", "key", "v"));
    EXPECT_FALSE(store.set("", "key", "v"));
    EXPECT_FALSE(store.set("Settings", "\xFFkey", "v"));
    EXPECT_FALSE(store.set("Settings", "\xEF\xBB\xBFkey", "v"));  // a byte-order mark
    EXPECT_FALSE(store.dirty());
    EXPECT_TRUE(store.set("Settings", "安全锁", "0"));
    EXPECT_TRUE(store.remove("Settings", "安全锁"));
    EXPECT_FALSE(store.contains("Settings", "安全锁"));
}

// A stray byte-order mark inside the text is no key: written back first in the file it would
// be taken for the file's own mark and the line would change meaning on the next read.
TEST(SettingsStoreParse, ByteOrderMarkInsideTheTextStaysAStrayLine) {
    SettingsStore store(fs::path("/nonexistent/never-written.ini"));
    store.loadText(" \xEF\xBB\xBF=\nn=1\n");
    const std::string once = store.serialise();
    SettingsStore again(fs::path("/nonexistent/never-written.ini"));
    again.loadText(once);
    EXPECT_EQ(again.serialise(), once);
    EXPECT_EQ(again.read("", "n"), store.read("", "n"));
}

TEST(SettingsStoreParse, FirstOfDuplicateKeysWinsAndSectionsMerge) {
    SettingsStore store(fs::path("/nonexistent/x.ini"));
    EXPECT_TRUE(store.loadText("[A]\nk=1\nk=2\n[B]\nj=3\n[A]\nm=4\n"));
    EXPECT_EQ(store.read("A", "k"), "1");
    EXPECT_EQ(store.read("A", "m"), "4");
    EXPECT_EQ(store.read("B", "j"), "3");
    EXPECT_EQ(store.read("a", "k", "none"), "none");  // names are exact
}

TEST(SettingsStorePath, FollowsXdgConfigHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(SettingsStore::defaultPath(), fs::path("/tmp/xdg-test/qmx-isp/settings.ini"));
    ::unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(SettingsStore::defaultPath(),
                  fs::path(home) / ".config" / "qmx-isp" / "settings.ini");
    }
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
    EXPECT_NE(SettingsStore::defaultPath().string().find(".config/qmx-isp"), std::string::npos);
    if (oldXdg) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace qmx
