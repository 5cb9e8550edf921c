#include "platform/notice_id_store.h"
#include "tests/support/notification_bus.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace ventaro {
namespace {

using testing::ScopedEnvironmentVariable;
using testing::TemporaryDirectory;

const SavedNotice kNotice{42, "0123456789abcdef0123456789abcdef", ":1.7"};

class NoticeIdStoreTest : public ::testing::Test {
protected:
  TemporaryDirectory temp;
  NoticeIdStore store{temp.path() / "runtime" / "ventaro"};

  void writeRaw(const std::string& identifier, const std::string& contents) {
    std::filesystem::create_directories(store.directory());
    std::ofstream(store.fileFor(identifier)) << contents;
  }
};

TEST_F(NoticeIdStoreTest, KeepsEachIdentifierApartWhateverItsCharacters) {
  const std::vector<std::string> identifiers = {"Ventaro Start",
                                                "Ventaro Result",
                                                "",
                                                ".",
                                                "..",
                                                "../escape",
                                                "a/b",
                                                "%2F",
                                                "a%2Fb",
                                                "Ventaro\nStart",
                                                std::string("nul\0byte", 8),
                                                "Grüße",
                                                std::string(300, 'x'),
                                                std::string(301, 'x'),
                                                "%sha256-abc"};
  std::set<std::filesystem::path> files;
  for (std::size_t i = 0; i < identifiers.size(); ++i) {
    SCOPED_TRACE(i);
    const std::filesystem::path file = store.fileFor(identifiers[i]);
    EXPECT_EQ(file.parent_path(), store.directory());
    EXPECT_LT(file.filename().string().size(), 256u);
    files.insert(file);
    store.save(identifiers[i],
               SavedNotice{static_cast<std::uint32_t>(i + 1), kNotice.busGuid, kNotice.serverName});
  }
  EXPECT_EQ(files.size(), identifiers.size());
  for (std::size_t i = 0; i < identifiers.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(store.load(identifiers[i]).has_value());
    EXPECT_EQ(store.load(identifiers[i])->id, i + 1);
  }
  // Nothing was written outside the store's own directory.
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(temp.path())) {
    entries += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(entries, identifiers.size());
}

TEST_F(NoticeIdStoreTest, SavesReplacesAndForgets) {
  EXPECT_FALSE(store.load("Ventaro Start").has_value());
  store.save("Ventaro Start", kNotice);
  EXPECT_EQ(store.load("Ventaro Start"), kNotice);

  const SavedNotice later{4294967295u, kNotice.busGuid, ":1.1234"};
  store.save("Ventaro Start", later);
  EXPECT_EQ(store.load("Ventaro Start"), later);

  store.forget("Ventaro Start");
  EXPECT_FALSE(store.load("Ventaro Start").has_value());
  store.forget("never saved"); // no complaint
}

TEST_F(NoticeIdStoreTest, CreatesAPrivateDirectoryAndPrivateFiles) {
  store.save("Ventaro Start", kNotice);
  struct stat info {};
  ASSERT_EQ(stat(store.directory().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(store.fileFor("Ventaro Start").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(NoticeIdStoreTest, IgnoresContentsItDidNotWrite) {
  const std::string bus = "Bus=" + kNotice.busGuid + "\n";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"binary", std::string("\x00\xff\xfe", 3)},
      {"no group", "Id=1\n" + bus + "Server=:1.7\n"},
      {"id zero", "[Notice]\nId=0\n" + bus + "Server=:1.7\n"},
      {"id negative", "[Notice]\nId=-1\n" + bus + "Server=:1.7\n"},
      {"id too large", "[Notice]\nId=4294967296\n" + bus + "Server=:1.7\n"},
      {"id not a number", "[Notice]\nId=seven\n" + bus + "Server=:1.7\n"},
      {"id with trailing text", "[Notice]\nId=7x\n" + bus + "Server=:1.7\n"},
      {"well-known server name", "[Notice]\nId=7\n" + bus + "Server=org.example.Notify\n"},
      {"missing server", "[Notice]\nId=7\n" + bus},
      {"bus not a guid", "[Notice]\nId=7\nBus=xyz\nServer=:1.7\n"},
      {"missing bus", "[Notice]\nId=7\nServer=:1.7\n"},
  };
  for (const auto& [name, contents] : cases) {
    SCOPED_TRACE(name);
    writeRaw("Ventaro Start", contents);
    EXPECT_FALSE(store.load("Ventaro Start").has_value());
  }
  writeRaw("Ventaro Start", "[Notice]\nId=7\n" + bus + "Server=:1.7\n");
  EXPECT_EQ(store.load("Ventaro Start"), (SavedNotice{7, kNotice.busGuid, ":1.7"}));
}

TEST_F(NoticeIdStoreTest, SaveIntoAnImpossibleDirectoryFailsQuietly) {
  std::ofstream(temp.path() / "file") << "not a directory";
  const NoticeIdStore blocked(temp.path() / "file" / "ventaro");
  blocked.save("Ventaro Start", kNotice);
  EXPECT_FALSE(blocked.load("Ventaro Start").has_value());
}

TEST(NoticeIdStoreDirectory, FollowsTheRuntimeDirectoryElseTheCacheDirectory) {
  {
    ScopedEnvironmentVariable runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(NoticeIdStore::defaultDirectory(), "/run/user/1000/ventaro");
  }
  for (const std::optional<std::string>& unusable :
       {std::optional<std::string>(), std::optional<std::string>("relative/dir")}) {
    ScopedEnvironmentVariable runtime("XDG_RUNTIME_DIR", unusable);
    const std::filesystem::path fallback = NoticeIdStore::defaultDirectory();
    EXPECT_TRUE(fallback.is_absolute()) << fallback;
    EXPECT_EQ(fallback.filename(), "ventaro");
  }
}

} // namespace
} // namespace ventaro
