// Saving a fetched play list for later, and opening the saved file again.

#include <filesystem>
#include <fstream>
#include <iterator>

#include "location_fixture.h"

namespace qor::location_test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(LocationTest, SavedPlayListOpensAgainToTheSameList) {
  StartServer();
  const std::string served = AsxOf({"mms://h/live", "http://h/a.wmv", "mmst://h/b.asf"});
  WriteRootFile("show.asx", served);
  std::filesystem::create_directories(folder_.Path("saved"));
  const std::string target = folder_.Path("saved") + "/kept.asx";
  Store("AsxDir", "/somewhere/before/");
  desktop_.MessageAnswers.push_back(mrYes);
  desktop_.FileAnswers.push_back(target);
  Open(ServerUrl("show.asx?seed=7"));
  const std::vector<std::string> fetched = Entries();
  ASSERT_EQ(fetched.size(), 3u) << Dump();
  EXPECT_EQ(ReadAll(target), served) << "the content is saved unchanged";

  const auto dialogs = desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile);
  ASSERT_EQ(dialogs.size(), 1u);
  const TFileDialogRequest& request = dialogs[0].Request;
  EXPECT_EQ(request.Title, "Save Redirector File");
  EXPECT_EQ(request.DefaultExt, "asx");
  EXPECT_EQ(request.Filter, kSaveFilter);
  EXPECT_EQ(request.FilterIndex, 2);
  EXPECT_TRUE(request.OverwritePrompt);
  EXPECT_EQ(request.InitialDir, "/somewhere/before/");
  EXPECT_EQ(request.FileName, "show.asx") << "the query is not part of the proposed name";
  EXPECT_EQ(Stored("AsxDir"), folder_.Path("saved") + "/");

  log_.clear();
  Open(target);
  EXPECT_EQ(Entries(), fetched) << Dump();
  EXPECT_TRUE(Saw("URL list now has data, please select an entry", mcNotice));
}

TEST_F(LocationTest, ASaveThatFailsOrIsCancelledStillLoadsTheList) {
  StartServer();
  WriteRootFile("show.asx", AsxOf({"mms://h/live"}));

  desktop_.MessageAnswers.push_back(mrYes);
  desktop_.FileAnswers.push_back(std::nullopt);
  Open(ServerUrl("show.asx"));
  EXPECT_TRUE(Saw("Redirector file saved cancelled", mcFatal)) << Dump();
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/live"}));
  EXPECT_EQ(Stored("AsxDir"), "");

  log_.clear();
  desktop_.MessageAnswers.push_back(mrYes);
  desktop_.FileAnswers.push_back(folder_.Path("no-such-folder") + "/x.asx");
  Open(ServerUrl("show.asx"));
  EXPECT_TRUE(Saw("There was an error creating the redirector file", mcFatal)) << Dump();
  EXPECT_TRUE(Saw("Redirector file saved cancelled", mcFatal));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/live"}));
}

TEST(LocationFiles, WriteFailuresAreTold) {
  EXPECT_EQ(WriteWholeFile("/dev/full", "some bytes"), LocalFileWrite::CannotWrite);
  EXPECT_EQ(WriteWholeFile("/proc/no/such/dir/x.asx", "a"), LocalFileWrite::CannotCreate);
}

}  // namespace
}  // namespace qor::location_test
