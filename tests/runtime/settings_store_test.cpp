// The per-user settings store: typed values, keys, the file and its failure cases.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "runtime/format.h"
#include "runtime/messages.h"
#include "runtime/settings_store.h"
#include "support/temp_dir.h"

namespace trelvix::runtime {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr char kKey[] = "\\Software\\Trelvix\\iPhone";

class SettingsStore : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string file_ = dir_.File("cfg/Trelvix/registry.ini");
  TSettingsStore store_{file_};

  TSettingsKey Key(const char* path = kKey) {
    auto key = store_.OpenKey(path, true);
    EXPECT_TRUE(key) << store_.LastError();
    return *key;
  }
};

TEST_F(SettingsStore, EveryTypeRoundTripsThroughTheFile) {
  const std::string texts[] = {"",
                               "Trelvix to iPhone",
                               "a=b;[c]%41%",
                               "line 1\nline 2\r\n",
                               "\ttab ",
                               "Zażółć gęślą jaźń",
                               std::string("nul\0inside", 10),
                               "[\\Software\\Fake]"};
  const std::int32_t integers[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
  std::vector<std::uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(255 - i);
  const double date = 41234.567890123;  // a date-time in days

  TSettingsKey key = Key();
  for (size_t i = 0; i < std::size(texts); ++i)
    ASSERT_TRUE(key.WriteString("text=[" + std::to_string(i) + "];", texts[i]));
  for (size_t i = 0; i < std::size(integers); ++i)
    ASSERT_TRUE(key.WriteInteger("int" + std::to_string(i), integers[i]));
  ASSERT_TRUE(key.WriteBinary("FontStyle", bytes));
  ASSERT_TRUE(key.WriteBinary("empty", {}));
  ASSERT_TRUE(key.WriteDouble("LastLU", date));

  TSettingsStore other(file_);  // reads only what reached the file
  const auto read = other.OpenKey(kKey, false);
  ASSERT_TRUE(read);
  for (size_t i = 0; i < std::size(texts); ++i)
    EXPECT_EQ(read->ReadString("text=[" + std::to_string(i) + "];"), texts[i]) << i;
  for (size_t i = 0; i < std::size(integers); ++i)
    EXPECT_EQ(read->ReadInteger("int" + std::to_string(i)), integers[i]);
  EXPECT_EQ(read->ReadBinary("FontStyle"), bytes);
  EXPECT_EQ(read->ReadBinary("empty"), std::vector<std::uint8_t>());
  EXPECT_EQ(read->ReadDouble("LastLU"), date);
  EXPECT_EQ(read->ReadBinary("LastLU")->size(), 8u);
}

TEST_F(SettingsStore, ValueOfAnotherTypeOrMissingCannotBeRead) {
  TSettingsKey key = Key();
  ASSERT_TRUE(key.WriteInteger("FontType", 2));
  ASSERT_TRUE(key.WriteString("EFontName", "Arial"));
  ASSERT_TRUE(key.WriteBinary("Short", std::vector<std::uint8_t>{1, 2, 3, 4}));

  EXPECT_EQ(key.ValueType("FontType"), TValueType::vtInteger);
  EXPECT_EQ(key.ValueType("EFontName"), TValueType::vtString);
  EXPECT_EQ(key.ValueType("Short"), TValueType::vtBinary);
  EXPECT_EQ(key.ReadString("FontType"), std::nullopt);
  EXPECT_EQ(key.ReadBinary("FontType"), std::nullopt);
  EXPECT_EQ(key.ReadInteger("EFontName"), std::nullopt);
  EXPECT_EQ(key.ReadDouble("EFontName"), std::nullopt);
  EXPECT_EQ(key.ReadDouble("Short"), std::nullopt) << "a double is exactly 8 bytes";
  EXPECT_EQ(key.ReadInteger("Missing"), std::nullopt);
  EXPECT_FALSE(key.ValueExists("Missing"));

  // Writing another type replaces the value; names ignore letter case.
  ASSERT_TRUE(key.WriteString("fonttype", "x"));
  EXPECT_EQ(key.ReadInteger("FontType"), std::nullopt);
  EXPECT_EQ(key.ReadString("FONTTYPE"), "x");
  ASSERT_TRUE(key.DeleteValue("FontType"));
  EXPECT_FALSE(key.ValueExists("FontType"));
  EXPECT_TRUE(key.DeleteValue("FontType"));
}

TEST_F(SettingsStore, KeysPathsAndExistence) {
  EXPECT_FALSE(store_.KeyExists("\\Software\\Dorvane\\Quendal\\"));
  EXPECT_FALSE(store_.OpenKey("\\Software\\Dorvane\\Quendal\\", false));
  EXPECT_EQ(store_.LastError(), Format(msg::kSettingsKeyMissing, "\\Software\\Dorvane\\Quendal"));
  EXPECT_FALSE(std::filesystem::exists(file_)) << "reading creates no file";

  const auto key = store_.OpenKey("\\Software\\Dorvane\\Quendal\\", true);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Path(), "\\Software\\Dorvane\\Quendal");
  EXPECT_TRUE(std::filesystem::exists(file_)) << "a created key is saved";
  for (const char* path : {"\\Software\\Dorvane\\Quendal", "Software\\dorvane\\QUENDAL\\",
                           "\\\\Software\\\\Dorvane\\Quendal", "\\Software\\Dorvane", "\\", ""})
    EXPECT_TRUE(store_.KeyExists(path)) << path;
  for (const char* path : {"\\Software\\Dorv", "\\Software\\Dorvane\\Quendal\\Sub", "\\Other"})
    EXPECT_FALSE(store_.KeyExists(path)) << path;

  ASSERT_TRUE(Key("\\Software\\Dorvane\\Quendal\\Sub").WriteInteger("x", 1));
  ASSERT_TRUE(store_.DeleteKey("\\software\\dorvane"));
  EXPECT_FALSE(store_.KeyExists("\\Software\\Dorvane\\Quendal\\Sub"));
  EXPECT_FALSE(store_.KeyExists("\\Software\\Dorvane"));
}

TEST_F(SettingsStore, HandWrittenFileReads) {
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
  WriteFile(file_,
            "; comment\r\n"
            "[\\Software\\Dorvane\\Quendal\\]\r\n"
            "EFontName=sz:Liberation Sans\r\n"
            "\r\n"
            "FontColor=dword:65535\r\n"
            "FontStyle=hex:03\r\n"
            "FontType=dword:1\r\n"
            "FontType=dword:3\r\n"
            "[\\Software\\Trelvix\\iPhone]\n"
            "Path=sz:/opt/trelvix/trelvix%0Ax\n");
  const auto q = store_.OpenKey("\\Software\\Dorvane\\Quendal", false);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->ReadString("EFontName"), "Liberation Sans");
  EXPECT_EQ(q->ReadInteger("FontColor"), 0xFFFF);
  EXPECT_EQ(q->ReadBinary("FontStyle"), std::vector<std::uint8_t>{3});
  EXPECT_EQ(q->ReadInteger("FontType"), 3) << "the later of two lines holds";
  EXPECT_EQ(store_.OpenKey(kKey, false)->ReadString("Path"), "/opt/trelvix/trelvix\nx");
}

TEST_F(SettingsStore, DamagedFileReadsAsNoKeyAndIsNeverOverwritten) {
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
  const std::string damaged[] = {
      "Name=sz:value before any key\n",
      "[\\Software\\Trelvix\\iPhone]\nFWidth=real:95\n",
      "[\\Software\\Trelvix\\iPhone]\nName=sz:bad escape %4\n",
      "[\\Software\\Trelvix\\iPhone]\nLastLU=hex:123\n",
      "[\\Software\\Trelvix\\iPhone]\nFontType=dword:4294967296\n",
      "[\\Software\\Trelvix\\iPhone]\nFontType=dword: 1\n",
      "[\\Software\\Trelvix\\iPhone\nName=sz:x\n",
      "[\\Software\\Trelvix\\iPhone]\nno equals sign\n",
      std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    WriteFile(file_, text);
    EXPECT_FALSE(store_.KeyExists(kKey));
    EXPECT_FALSE(store_.OpenKey(kKey, false));
    EXPECT_FALSE(store_.OpenKey(kKey, true));
    EXPECT_EQ(store_.LastError(), Format(msg::kSettingsDamaged, file_.c_str()));
    EXPECT_FALSE(store_.DeleteKey(kKey));
    EXPECT_EQ(ReadFile(file_), text) << "the file is left as it was";
  }
  // A key opened before the damage cannot write over it either.
  std::filesystem::remove(file_);
  TSettingsKey key = Key();
  WriteFile(file_, damaged[1]);
  EXPECT_FALSE(key.WriteString("Name", "Trelvix to iPhone"));
  EXPECT_EQ(ReadFile(file_), damaged[1]);
}

TEST_F(SettingsStore, UnreadableFileReadsAsNoKeyAndIsKept) {
  // A folder where the file should be cannot be read (a permission test would not work as root).
  std::filesystem::create_directories(file_);
  WriteFile(file_ + "/inside", "x");
  EXPECT_FALSE(store_.KeyExists("\\Software"));
  EXPECT_FALSE(store_.OpenKey(kKey, true));
  EXPECT_EQ(store_.LastError(), Format(msg::kSettingsUnreadable, file_.c_str()));
  EXPECT_EQ(ReadFile(file_ + "/inside"), "x");
}

TEST_F(SettingsStore, FolderThatCannotBeMadeFailsTheWrite) {
  WriteFile(dir_.File("cfg"), "a file, not a folder");
  EXPECT_FALSE(store_.OpenKey(kKey, true));
  EXPECT_NE(store_.LastError().find(file_), std::string::npos) << store_.LastError();
}

TEST_F(SettingsStore, SavesAtomicallyAndLeavesNoTemporaryFiles) {
  const std::string a(20000, 'a');
  const std::string b(30000, 'b');
  TSettingsKey key = Key();
  ASSERT_TRUE(key.WriteString("Long", a));
  std::atomic<bool> stop{false};
  std::atomic<int> bad_reads{0};
  std::thread reader([&] {
    TSettingsStore other(file_);
    while (!stop) {
      const auto k = other.OpenKey(kKey, false);
      const auto v = k ? k->ReadString("Long") : std::nullopt;
      if (!v || (*v != a && *v != b)) ++bad_reads;
    }
  });
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(key.WriteString("Long", i % 2 ? a : b));
  stop = true;
  reader.join();
  EXPECT_EQ(bad_reads, 0) << "a reader sees the old file or the new one, never a part";
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path() / "cfg/Trelvix"))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"registry.ini"});
}

TEST_F(SettingsStore, ConcurrentWritersLoseNothing) {
  Key();
  auto write = [&](const char* prefix) {
    TSettingsStore own(file_);  // as another program would
    TSettingsKey key = *own.OpenKey(kKey, true);
    for (int i = 0; i < 15; ++i) EXPECT_TRUE(key.WriteInteger(prefix + std::to_string(i), i));
  };
  std::thread t1(write, "a");
  std::thread t2(write, "b");
  std::thread t3([&] {
    TSettingsKey key = *store_.OpenKey(kKey, false);
    for (int i = 0; i < 15; ++i) EXPECT_TRUE(key.WriteInteger("c" + std::to_string(i), i));
  });
  t1.join();
  t2.join();
  t3.join();
  const TSettingsKey key = Key();
  for (const char* prefix : {"a", "b", "c"})
    for (int i = 0; i < 15; ++i) EXPECT_EQ(key.ReadInteger(prefix + std::to_string(i)), i);
}

TEST(SettingsStoreFile, DefaultFileFollowsXdgConfigHome) {
  const char* old_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old_xdg ? old_xdg : "";
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
  EXPECT_EQ(TSettingsStore::DefaultFile(), "/tmp/xdg-test/Trelvix/registry.ini");
  ::setenv("XDG_CONFIG_HOME", "", 1);
  const char* home = std::getenv("HOME");
  EXPECT_EQ(TSettingsStore::DefaultFile(),
            std::string(home ? home : ".") + "/.config/Trelvix/registry.ini");
  if (old_xdg)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace trelvix::runtime
