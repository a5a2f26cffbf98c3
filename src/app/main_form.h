#pragma once
// TMainForm: the main window's logic without a window. It holds its controls as plain objects, the
// four window timers, the queue, the ASF model and always one session object (replaced for each
// download), and reacts to what the session reports only through the queue drain.
//
// Everything here runs on the window thread. The other forms are created after this one and are
// handed in through Attach before the first handler runs.

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop_services.h"
#include "app/download_location.h"
#include "app/form_controls.h"
#include "asf/asf.h"
#include "controls/performance_graph.h"
#include "http/http_client.h"
#include "platform/window_thread.h"
#include "session/save_file.h"
#include "session/session.h"
#include "support/helper.h"
#include "support/message_queue.h"

namespace qor {

class TAboutDialog;
class TDateTimeDlg;
class THttpPasswordDlg;
class TInfoDialog;
class TMmsPasswordDlg;
class TOpenMediaDialog;
class TOptionsDialog;
class TResumeDlg;

inline constexpr int32_t kUrlListSize = 50;
inline constexpr const char* kPreviousConnectionClosed = "- The previous connection has closed";
inline constexpr const char* kQuitWhileRecordingQuestion =
    "A recording is running.\n\nFinish the recording and quit?";
inline constexpr const char* kSaveFilter =
    "Windows Media Files|*.asf;*.wmv;*.wma;*.wm|WM Redirector Files|*.asx; *.wmx; *.wax; "
    "*.wvx|Qor log files|*.txt|All Files|*.*";

// The other forms of the program, as the main window reaches them.
struct TMainFormPeers {
  TAboutDialog* AboutDialog = nullptr;
  TInfoDialog* InfoDialog = nullptr;
  TOpenMediaDialog* OpenMediaDialog = nullptr;
  THttpPasswordDlg* HttpPasswordDlg = nullptr;
  TDateTimeDlg* DateTimeDlg = nullptr;
  TOptionsDialog* OptionsDialog = nullptr;
  TResumeDlg* ResumeDlg = nullptr;
};

class TMainForm : public TForm {
 public:
  explicit TMainForm(DesktopServices& desktop, WindowThread& window);
  ~TMainForm() override;

  void Attach(const TMainFormPeers& peers) { peers_ = peers; }
  DesktopServices& Desktop() { return desktop_; }

  // ---- Controls ----
  TComboBox URL;
  TLabel MediaWindow;
  TLabel SaveWindow;
  TGaugeControl ProgBar;
  TLabel Standby, PreRec, Live, VCR, Progressive;
  TEdit TimeTotal, SendTime, ProtoDisp;
  TEdit Lost, Recovered;
  TRichEdit LogWindow;
  TPerformanceGraph PerformanceGraph1;
  TRadioGroup GridGroup, StyleGroup;
  TLabel StatusBar;
  // While the VCR is armed: how long until it starts or stops recording (empty and hidden when it
  // is not armed).
  TLabel VcrCountdown;
  TButton Open, Connect, ConnectBatch, Abort, Info, Preview, VcrSet, VcrPower, Exit;
  TMenuItem Open1, ConnectionSingle, ConnectionBatch, Disconnection;
  // Checked while the VCR is armed.
  TMenuItem VCROn1;
  TTimer Timer1, Timer2, Timer3, Timer4;
  // Waits out the pause before a live stream that was cut is joined again.
  TTimer ReconnectTimer;
  THttpClient HTTPSocket;
  // Window geometry as restored and stored.
  int32_t Height = 560, Width = 640, Left = 0, Top = 0;
  int32_t MinHeight = 0, MinWidth = 0;

  // ---- Objects kept for the window's whole life ----
  THelper Helper;
  TMessageClass Messages;
  TASF Asf;
  std::unique_ptr<TMMS> Session;

  // ---- Window state ----
  std::string hostText, pathText;
  std::array<std::string, kUrlListSize> urlList;
  int32_t urlCount = 0;
  std::shared_ptr<TSaveFile> saveFile;  // null: none open
  bool resumeSave = false;
  bool unattended = false;
  bool batchActive = false;
  int32_t batchIndex = 0;
  bool vcrRecording = false;
  TDateTime vcrStart = 0, vcrStop = 0;

  // A front end may put this run's automatically named files into a folder of its own; otherwise
  // the stored AsfDir is used.
  std::optional<std::string> AutoSaveDir;
  // Streams chosen by number or audio only, for the downloads that follow (the command line's
  // choices); the rate limit comes from the options dialog at each start.
  StreamRequest StreamChoice;
  // Called by the drain for every pair it takes, before acting on it; acts tells whether its code
  // acts (a pair of the current session or of the window) or is only logged.
  std::function<void(const MessagePair& pair, bool acts)> OnDrained;
  // The session time-outs come from the stored options (StoredTimeouts); a front end may change
  // them for its own runs here.
  std::function<void(SessionTimeouts& timeouts)> AdjustTimeouts;
  SessionTimeouts StoredTimeouts() const;
  // The transport of this front end's downloads whatever their schemes say (the command line's
  // --protocol); unset: the scheme's, else the options' choice.
  std::optional<int32_t> ForcedTransport;
  // Whether credentials written in a location are saved once the server accepts them (the
  // command line's --save-password); by default they serve the download alone.
  bool SaveLocationCredentials = false;
  // Called when the Auto transport choice gave up on one transport and started the next one for
  // the same save file.
  std::function<void()> OnTransportRollover;

  // ---- Reconnecting after a live stream was cut ----
  // Attempts in a row after a cut (0: a cut ends the recording). Unset: the stored Reconnects,
  // else kDefaultReconnects for a download started unattended and none for one the user started.
  std::optional<int32_t> ReconnectOverride;
  static constexpr int32_t kDefaultReconnects = 3;
  // The longest pause between two attempts; the pauses double from one second up to it.
  static constexpr int32_t kMaxReconnectPauseMs = 30000;
  // Called when a reconnect starts a new session (its connection is not up yet).
  std::function<void()> OnReconnect;
  struct CutCounts {
    int32_t cuts = 0;
    int64_t lostMs = 0;  // from each cut until media flowed again (or until now)
  };
  CutCounts Cuts() const;
  // The last save file finished with something in it (a reconnect that failed before it wrote a
  // byte leaves no file of its own).
  const std::string& LastKeptFile() const { return last_kept_file_; }
  // A cut stream waits for its next attempt, or an attempt runs that has not brought media yet.
  bool Reconnecting() const { return cut_at_ms_ >= 0; }
  // The VCR's end moment came while a cut stream was waiting to be joined again.
  bool VcrEndedInACut() const { return vcr_ended_in_cut_; }
  void ReconnectTimerTimer();
  // Forgets a pending reconnect (the user aborted, the VCR ended, the window closes).
  void CancelReconnect();

  // ---- Session start (window creation, Go, Batch, closing) ----
  void FormCreate();
  void FormClose() override;
  void ConnectionSingleClick();
  void ConnectionBatchClick();
  bool CreateAutoSaveFile();
  bool CreateOrResumeSaveFile();

  // ---- Monitoring and completion ----
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  // False when a write or a fix-up failed (its message is posted).
  bool FinishSaveFile();
  void DownloadCompleted();
  void ShowReceivingProtocol();
  void NewTrackDetected();
  void NextPlaylistTrack();
  void SetStatusLabel(int32_t n);
  void SetRunningControls();
  void SetIdleControls();
  void ResetSessionDisplay();
  void DisconnectionClick();
  void ShowFileProperties1Click();
  // File → Repair…: a saved recording that was cut (killed, a full disk, an old unfinished one)
  // made a finished file, as `qor-cli repair` does; the outcome goes to the log.
  void Repair1Click();
  void OpenMonitor1Click();
  void Exit1Click();
  // The one way the window closes (the close box, Exit1Click and the Exit button): asks
  // OnCloseQuery, which may put the close off (a location fetch runs), then closes, which finishes
  // the download and stores the geometry and the URL list. True when the window closed.
  bool RequestClose();
  std::function<bool()> OnCloseQuery;
  void ViewSetupClick();
  void About1Click();
  void GridGroupClick();
  void StyleGroupClick();
  void LogWindowChange();
  void OpenWithShell(const std::string& location);
  void QorHandleException(const std::string& sender, const std::exception_ptr& error);

  // Toolbar buttons.
  void OpenClick();
  void ConnectClick();
  void ConnectBatchClick();
  void AbortClick();
  void InfoClick();
  void PreviewClick();
  void VcrSetClick();
  void VcrPowerClick();
  void ExitClick();
  void URLKeyDown(uint16_t key);

  // ---- Location loading (built on these entry points) ----
  std::function<void()> OnOpen1Click;
  std::function<void()> OnOpenLocation;
  void Open1Click();
  void OpenLocation();

  // ---- VCR ----
  void VcrTimeSet1Click();
  void VCROn1Click();
  void Timer4Timer();
  void StartVcrRecording();
  void StopVcrRecording();
  bool VcrArmed() const;

  // ---- Log, printing and help ----
  // The log is kept across downloads; each new one starts under a separator line (time of day).
  static constexpr uint32_t kLogSeparator = 256;
  void ClearLog1Click();
  void SaveLog1Click();
  bool SaveLogFile();
  void Print1Click();
  void PrintSetup1Click();
  void ReadMe1Click();
  void VisitQorWebSite1Click();
  void QorMediatestSite1Click();
  void OpenHelpPage(const std::string& address);

  // ---- Beyond the window's own handlers ----
  // Finishes a save file that is still open: stops the session, waits for its thread (serving
  // handovers) and finishes the file, so no download is left unfinished.
  void FinishOpenSaveFile();
  // Stops the session and cancels a password request it may be waiting on.
  void StopSession();
  // Whether the window is closing or closed (FormClose ran).
  bool Closed() const { return closed_; }
  // The file Info and Preview would describe: the save file, else the media location, when it is
  // a local media file; empty otherwise.
  std::string LocalMediaFile() const;

 private:
  void PostNormal(const std::string& text) { Messages.Post(text, mcNormal); }
  bool ActsOn(const MessagePair& pair) const;
  std::optional<std::string> AskMmsCredentials(MessageSource source, const std::string& host,
                                               const std::string& challenge);
  // The user and password written in the location of the current download, the first time
  // session source asks; none after that or when the location has none.
  std::optional<std::pair<std::string, std::string>> LocationCredentials(MessageSource source);
  MessageSource location_credentials_given_to_ = 0;
  void HttpCredentialsAnswered(MessageSource source, bool accepted);
  // A 401 of HTTP streaming: the HTTP password dialog for the site, as location loading shows it.
  std::optional<std::pair<std::string, std::string>> AskHttpCredentials(MessageSource source,
                                                                        const std::string& site);
  void ConfigureSession(TMMS& session);
  // Replaces the session with a fresh one, configured for the current transport attempt, and
  // starts it.
  void StartSession();
  // The transports the Auto choice tries, in order, for the download started last (empty: the
  // chosen transport alone); a zero port is the configured HTTP port.
  struct TransportAttempt {
    uint32_t flags = 0;
    int32_t httpPort = 0;
  };
  std::vector<TransportAttempt> attempts_;
  // The location and transport of the download started last.
  DownloadLocation target_;
  int32_t transport_ = -1;
  size_t attempt_ = 0;
  // The current session failed before any media arrived and another transport is left to try.
  bool CanRollOver() const;
  // The session that asked the user for credentials last: a refusal after the user answered (or
  // declined) is the server's word on the location, not a transport that failed to answer.
  MessageSource credentials_asked_by_ = 0;
  void RollOver();
  // The current session's failure is a cut of a live stream, or a failed attempt to join it
  // again, and attempts are left.
  bool ShouldReconnect() const;
  void ScheduleReconnect();
  void NoteMediaAgain();
  int32_t ReconnectLimit() const;
  bool started_unattended_ = false;  // the download the user or the VCR started last
  bool reconnect_attempt_ = false;   // the current session is an attempt to join again
  bool continuing_ = false;          // a new track of the same recording is being started
  int32_t reconnect_tries_ = 0;      // attempts since media last flowed
  int64_t cut_at_ms_ = -1;           // when the stream was cut; -1 while media flows
  // The last packet a clip resumed in its own file held at its cuts; the attempts count again
  // from none once the file goes past it. -1: no such clip.
  int64_t index_at_cut_ = -1;
  void NoteProgressPastCut();
  // A pre-recorded download that was cut goes on in its own file, by the resume path.
  std::string resume_again_path_;
  bool ReopenForResume();
  CutCounts cuts_;
  void RemoveEmptyCreatedSaveFile(bool nothingRecorded);
  void Drain();
  // Asks for a separator line before the next download's lines (at most one in a row); a batch
  // entry or a new track asks before its "Media changing" line, so the start that follows does
  // not ask again.
  void SeparateLog();
  bool log_separated_ = false;
  void AppendSeparator(const std::string& text);
  void ShowVcrCountdown();
  // Tells the desktop that a download started without the user has ended (completed, failed,
  // cut): nobody may be watching the window.
  void NotifyUnattended(const std::string& summary, const std::string& body);
  // Fills the information dialog with what Info describes now: the local media file (the save
  // file a download is still writing, followed as it grows) or the download's own model.
  void LoadInfoDialog();
  bool InfoShown() const;

  DesktopServices& desktop_;
  WindowThread& window_;
  TMainFormPeers peers_;
  MessageSource next_source_ = 1;
  TMmsPasswordDlg* password_dlg_ = nullptr;
  // Credentials the user asked to save, held until the server of that session accepts them.
  struct PendingCredentials {
    MessageSource source = 0;
    std::string encoded;
    std::string site;
  };
  std::optional<PendingCredentials> pending_mms_credentials_;
  std::optional<PendingCredentials> pending_http_credentials_;
  bool closed_ = false;
  // Set by completion: the counter timer still runs once more and would recompute the gauge from
  // the last packet counted, below the 100 % completion showed.
  bool gauge_complete_ = false;
  bool draining_ = false;
  // The location of the download started last (URL at its start), for the media information.
  std::string downloading_location_;
  // The save file's path when this download created it (empty for a file that was there before):
  // only such a file is removed when the download ends without a byte in it.
  std::string created_save_path_;
  bool vcr_ended_in_cut_ = false;
  std::string last_kept_file_;
  // A live play list's change: the next entry's first packets, kept by the session that reported
  // the change, which goes on receiving (as previous_session_) until the session recording the
  // next entry has taken them. Last member: it goes first, while everything it uses still exists.
  std::shared_ptr<CarryOver> next_entry_;
  std::unique_ptr<TMMS> previous_session_;
  void EndPreviousSession(bool force);
};

}  // namespace qor
