#pragma once
// TLocationLoader: opening a location in the main window. It classifies the location in
// MediaWindow, refuses the kinds the program does not handle, loads a local media file for
// inspection, and turns a play list (local, or fetched with the window's HTTP location client)
// into the URL list that Go and Batch download from. A fetched play list may be saved for later.
//
// It plugs itself into the window's Open and OpenLocation entry points and reports the client's
// events to the log. While a fetch runs, Open, Go and Batch are disabled (and refuse a click that
// reaches them anyway), and a request to close the window waits until the fetch has ended.
//
// Everything here runs on the window thread. Destroy it before the main window.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/location_scan.h"
#include "app/main_form.h"

namespace qor {

class TOpenMediaDialog;
class TOptionsDialog;
class THttpPasswordDlg;

// The confirmation asked before a fetched play list is loaded.
inline constexpr const char* kSaveLocationQuestion =
    "Any location data will now be loaded into the URL play list\n"
    "It can be useful to save this file and open it again later\n"
    "if you ever want to return to this session\n\n"
    "Would you like to save this location file?\n";

class TLocationLoader {
 public:
  struct Dialogs {
    TOpenMediaDialog* OpenMediaDialog = nullptr;
    TOptionsDialog* OptionsDialog = nullptr;
    THttpPasswordDlg* HttpPasswordDlg = nullptr;
  };

  // What the last OpenLocation came to.
  enum class Outcome {
    None,         // nothing opened yet, or it ended in an error of the HTTP client
    ListLoaded,   // the URL list now holds the entries of a play list
    UrlReady,     // a stream or media location is the URL to download
    MediaLoaded,  // a local media file's header was read
    LogShown,     // an archived log was handed to the desktop
    Refused,      // refused or failed, with its message posted
  };

  TLocationLoader(TMainForm& form, const Dialogs& dialogs);
  ~TLocationLoader();
  TLocationLoader(const TLocationLoader&) = delete;
  TLocationLoader& operator=(const TLocationLoader&) = delete;

  // The window's HTTP location client.
  THttpClient& HTTPSocket;
  // Milliseconds each step of a fetch may wait.
  uint32_t FetchTimeOut = 45000;

  void Open1Click();
  // Finishes a download still writing, then classifies and opens the location in MediaWindow.
  void OpenLocation();
  // mode 1: the local file named in MediaWindow; mode 2: the web location in MediaWindow.
  bool ParseLocationFile(int32_t mode);
  bool SaveRedirectorFile(const std::string& content);
  static bool IsUrlTerminator(uint8_t ch) { return qor::IsUrlTerminator(ch); }

  // Events of HTTPSocket.
  void HTTPSocketConnect();
  void HTTPSocketConnectionFailed();
  void HTTPSocketAboutToSend();
  void HTTPSocketFailure(int32_t command);
  void HTTPSocketSuccess(int32_t command);
  void HTTPSocketInvalidHost(bool& handled);
  void HTTPSocketRedirect(bool& handled);
  // Saves or drops the HTTP dialog's credentials by the answer of the server that got them.
  void SettleCredentials();
  void HTTPSocketAuthenticationNeeded();

  bool Fetching() const { return fetching_ > 0; }
  // Whether the last scan left entries out because the URL list was full.
  bool ListCut() const { return list_cut_; }
  Outcome LastOutcome() const { return outcome_; }

 private:
  class FetchScope;

  void OpenLocationNow();
  void Post(const std::string& text, uint32_t code);
  void SetupClient();
  // base: the location content came from (empty for a local file).
  bool ScanIntoList(const std::string& content, const std::string& base = std::string());
  std::optional<std::string> FetchNested(const std::string& url, std::string& base);
  void DisableOpenGoBatch();
  void RestoreControls();
  void WrapControls();
  void UnwrapControls();

  TMainForm& form_;
  Dialogs dialogs_;
  int fetching_ = 0;
  bool close_pending_ = false;
  bool list_cut_ = false;
  Outcome outcome_ = Outcome::None;
  // Lets a queued close tell whether the loader still exists.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  // The handlers found on the controls, called through when no fetch runs.
  std::function<void()> connect_click_, single_click_, batch_button_click_, batch_menu_click_,
      drain_tick_;
};

}  // namespace qor
