#include "location_fixture.h"

#include <filesystem>
#include <fstream>

namespace qor::location_test {

void LocationTest::SetUp() {
  StoreTest::SetUp();
  std::filesystem::create_directories(Root());
  app_ = std::make_unique<TApplication>(desktop_);
  app_->CreateForms();
  ASSERT_TRUE(app_->LocationLoader) << "the application makes the loader with its forms";
  Form().OnDrained = [this](const MessagePair& pair, bool) {
    log_.push_back({pair.text, pair.code});
  };
}

void LocationTest::TearDown() {
  app_.reset();
  if (server_) server_->Stop();
  StoreTest::TearDown();
}

void LocationTest::StartServer(const std::vector<std::string>& extra) {
  for (const char* clip : {"clip.wmv", "audio.wma", "twovideo.asf"}) {
    std::filesystem::copy_file(std::string(QOR_SAMPLE_MEDIA_DIR) + "/" + clip, Root() + "/" + clip,
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::vector<std::string> args{"--root", Root(), "--mms-port", "-1", "--rate", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  server_ = std::make_unique<testing::ServerProcess>(QOR_SERVER_PROGRAM, args);
  ASSERT_TRUE(server_->Running());
}

std::string LocationTest::ServerUrl(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
}

std::string LocationTest::WriteRootFile(const std::string& name, const std::string& content) {
  const std::string path = name.find('/') == 0 ? name : Root() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return path;
}

void LocationTest::Open(const std::string& location) {
  Form().MediaWindow.Caption = location;
  bool done = false;
  app_->Window.Queue([this, &done] {
    struct Done {
      bool& flag;
      ~Done() { flag = true; }
    } mark{done};
    Loader().OpenLocation();
  });
  ASSERT_TRUE(app_->Window.ProcessUntil([&done] { return done; }, 120000));
  Form().Timer3Timer();
}

std::vector<std::string> LocationTest::Entries() const {
  const TMainForm& form = *app_->MainForm;
  return std::vector<std::string>(form.urlList.begin(), form.urlList.begin() + form.urlCount);
}

bool LocationTest::Saw(const std::string& text) const {
  return Count(text) > 0;
}

bool LocationTest::Saw(const std::string& text, uint32_t code) const {
  for (const Logged& line : log_) {
    if (line.text == text && line.code == code) return true;
  }
  return false;
}

int LocationTest::Count(const std::string& text) const {
  int n = 0;
  for (const Logged& line : log_) n += line.text == text;
  return n;
}

std::string LocationTest::Dump() const {
  std::string all;
  for (const Logged& line : log_) all += "[" + std::to_string(line.code) + "] " + line.text + "\n";
  return all;
}

std::string AsxOf(const std::vector<std::string>& addresses) {
  std::string text = "<ASX version=\"3.0\">\r\n  <TITLE>Play list</TITLE>\r\n";
  for (const std::string& address : addresses) {
    text += "  <ENTRY><REF HREF=\"" + address + "\"/></ENTRY>\r\n";
  }
  return text + "</ASX>\r\n";
}

}  // namespace qor::location_test
