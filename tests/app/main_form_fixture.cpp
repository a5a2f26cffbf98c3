#include "main_form_fixture.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qor {

std::string SampleMedia(const std::string& name) {
  return std::string(QOR_SAMPLE_MEDIA_DIR) + "/" + name;
}

std::unique_ptr<testing::ServerProcess> StartServer(const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<testing::ServerProcess>(QOR_SERVER_PROGRAM, args);
}

double ProbeDuration(const std::string& path) {
  const std::string command =
      "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[256] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
  const int status = ::pclose(pipe);
  if (status != 0 || n == 0) return -1;
  return std::atof(buffer);
}

int64_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<int64_t>(size);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void MainFormTest::SetUp() {
  StoreTest::SetUp();
  app_ = std::make_unique<TApplication>(desktop_, &clock_);
  app_->CreateForms();
}

void MainFormTest::TearDown() {
  app_.reset();
  if (server_) server_->Stop();
  StoreTest::TearDown();
}

bool MainFormTest::RunUntil(const std::function<bool()>& pred, int64_t realTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    app_->Window.ProcessUntil(pred, 10);
    if (pred()) break;
    app_->Window.Advance(50);
  }
  return true;
}

void MainFormTest::Advance(int64_t ms) {
  for (int64_t done = 0; done < ms; done += 50) {
    app_->Window.ProcessMessages();
    app_->Window.Advance(50);
  }
}

void MainFormTest::Location(const std::string& url, int32_t protocol) {
  Form().URL.Text = url;
  Form().MediaWindow.Caption = url;
  Options().ProtoGroup.ItemIndex = protocol;
}

std::vector<std::string> MainFormTest::LogTexts() const {
  std::vector<std::string> texts;
  for (const TLogLine& line : app_->MainForm->LogWindow.Lines()) {
    texts.push_back(line.Text.rfind("> ", 0) == 0 ? line.Text.substr(2) : line.Text);
  }
  return texts;
}

int MainFormTest::CountLog(const std::string& text) const {
  int n = 0;
  for (const std::string& line : LogTexts()) n += line == text;
  return n;
}

bool MainFormTest::RunToCompletion() {
  return RunUntil([this] {
    return Logged("- ** DOWNLOAD COMPLETED ** -") ||
           (!Form().saveFile && !Form().Session->IsConnected() && Form().Session->Started() &&
            Form().Session->Finished());
  });
}

}  // namespace qor
