#pragma once
// The program's forms with the location loader, a scripted desktop and a real clock, opening
// locations from local files, the real qor-server and canned loopback servers. Every pair the
// window drains is recorded with its code.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/location_file.h"
#include "app/location_loader.h"
#include "common/server_process.h"
#include "dialogs_store.h"
#include "scripted_desktop.h"

namespace qor::location_test {

struct Logged {
  std::string text;
  uint32_t code = 0;
};

class LocationTest : public StoreTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  TMainForm& Form() { return *app_->MainForm; }
  TLocationLoader& Loader() { return *app_->LocationLoader; }

  // qor-server over the files of a private root folder (the sample clips are copied in).
  void StartServer(const std::vector<std::string>& extra = {});
  std::string ServerUrl(const std::string& name) const;
  // Writes a file into the server's root (or any folder) and gives its path.
  std::string WriteRootFile(const std::string& name, const std::string& content);
  std::string Root() const { return folder_.Path("root"); }

  // Opens location as the window's loop would run the handler: an exception that escapes it
  // reaches the window's exception handler. Then drains the queue.
  void Open(const std::string& location);
  std::vector<std::string> Entries() const;
  // Drained pairs.
  bool Saw(const std::string& text) const;
  bool Saw(const std::string& text, uint32_t code) const;
  int Count(const std::string& text) const;
  std::string Dump() const;

  ScriptedDesktop desktop_;
  std::unique_ptr<TApplication> app_;
  std::unique_ptr<testing::ServerProcess> server_;
  std::vector<Logged> log_;
};

// An .asx play list with one entry per address.
std::string AsxOf(const std::vector<std::string>& addresses);

}  // namespace qor::location_test
