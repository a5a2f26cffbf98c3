// Watching a download: the counter, graph and drain timers, finishing the save file, and the
// state of the buttons and labels.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/app_constants.h"
#include "app/convert_error.h"
#include "app/main_form.h"
#include "app/main_info_dialog.h"
#include "app/options_dialog.h"
#include "session/carry_over.h"
#include "support/location.h"

namespace qor {

namespace {

std::string LowerExtension(const std::string& name) {
  const std::string file = THelper::FileNameOf(name);
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos) return std::string();
  return THelper::LowerCase(file.substr(dot));
}

// A name the desktop may be asked to play: a local file whose last extension is a media one.
bool IsLocalMediaName(const std::string& text) {
  if (text.empty()) return false;
  const uint32_t flags = THelper::ClassifyLocation(text);
  const bool local = (flags & lcLocalFile) != 0 ||
                     ((flags & lcNetwork) == 0 && text.find("://") == std::string::npos);
  if (!local) return false;
  const std::string ext = LowerExtension(text);
  return ext == ".asf" || ext == ".wmv" || ext == ".wma" || ext == ".wm";
}

TColor ColourFor(uint32_t code) {
  const Rgb rgb = RgbOf(ColourOf(code));
  return TColor{rgb.r, rgb.g, rgb.b};
}

}  // namespace

// ---- Timers ----

void TMainForm::Timer1Timer() {
  const SessionStatus s = Session->Status();
  const uint32_t sendTime = s.SendTime;
  SendTime.Text = THelper::FormatTime(sendTime);
  Recovered.Text = THelper::IntText(s.RecoveredPackets);
  Lost.Text = THelper::IntText(s.LostPackets);
  const TASF::Totals totals = Asf.ReadTotals();
  const double play = totals.PlayDuration;
  const std::string total = THelper::FormatTime(play != 0 && play != 4294967295.0 ? play : 0);
  TimeTotal.Text = total;
  const uint32_t packet = static_cast<uint32_t>(s.PacketNumber);
  if (peers_.InfoDialog) {
    MediaInfoReport& r = peers_.InfoDialog->Report;
    r.SendTime = SendTime.Text;
    r.TotalTime = total;
    r.Packets = THelper::IntText(packet);
    r.Acks = THelper::IntText(s.Acknowledgements);
    r.SingleMaxStreamRate = THelper::IntText(s.MaxStreamRate / 1000);
    r.ClientID = THelper::IntText(s.ClientId);
  }
  // 64-bit product: a long download cannot wrap the percentage.
  if (gauge_complete_) return;
  const uint64_t packets = totals.TotalDataPackets;
  uint64_t percent = packets > 0 ? static_cast<uint64_t>(packet) * 100 / packets : 0;
  ProgBar.Gauge.SetProgress(static_cast<int32_t>(std::min<uint64_t>(percent, 100)));
}

void TMainForm::Timer2Timer() {
  const TMMS::TickCounts tick = Session->TakeTickCounts();
  const uint32_t receives = tick.receives;
  const uint32_t bytes = tick.bytes;
  PerformanceGraph1.DataPoint(clYellow, receives > 0 ? static_cast<int32_t>(bytes / receives) : 50);
  PerformanceGraph1.DataPoint(clRed, static_cast<int32_t>(Session->Status().PacketSize) + 50);
  PerformanceGraph1.Update();
  if (InfoShown()) peers_.InfoDialog->FollowGrowingFile();
}

bool TMainForm::ActsOn(const MessagePair& pair) const {
  return pair.source == kWindowSource || pair.source == Session->Source;
}

void TMainForm::Timer3Timer() {
  // Waiting for a session thread inside an action serves the loop; the drain that waits is
  // already running, so a nested tick leaves the queue to it.
  if (draining_) return;
  draining_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{draining_};
  Drain();
}

void TMainForm::Drain() {
  MessagePair pair;
  while (Messages.Take(pair)) {
    if (pair.code == kLogSeparator) {
      AppendSeparator(pair.text);
      continue;
    }
    // A password written in a location is never shown: not in the log, a saved or printed log,
    // nor on a terminal.
    if (pair.text.find("://") != std::string::npos) pair.text = HidePasswords(pair.text);
    // Said before what the rejoined stream goes on to report (its end, perhaps).
    if (pair.source == Session->Source) NoteMediaAgain();
    NoteProgressPastCut();
    // A session the window has moved on from (stopped for the next entry, or the one that carried
    // a new track over) reports its own end; said as it is, it reads as the recording's end.
    if (!ActsOn(pair) && pair.text == "Disconnected") pair.text = kPreviousConnectionClosed;
    if (!pair.text.empty()) {
      LogWindow.CurrentColor = ColourFor(pair.code);
      // Every line of a message carries the mark, so a saved log reads line by line.
      LogWindow.Append("> ", pair.text);
    }
    // A transport that failed before any media arrived hands over to the next one Auto tries:
    // its failure ends nothing.
    const bool rollsOver = ActsOn(pair) && pair.source != kWindowSource &&
                           ActionOf(pair.code) == mcFatal && CanRollOver();
    // A live stream that was cut is joined again: its failure ends nothing either.
    const bool joinsAgain = ActsOn(pair) && pair.source != kWindowSource &&
                            ActionOf(pair.code) == mcFatal && !rollsOver && ShouldReconnect();
    if (OnDrained) OnDrained(pair, ActsOn(pair) && !rollsOver && !joinsAgain);
    // A stale session's lines are logged, but only the current one's (and the window's own)
    // codes act.
    if (!ActsOn(pair)) continue;
    if (rollsOver) {
      RollOver();
      continue;
    }
    if (joinsAgain) {
      ScheduleReconnect();
      continue;
    }
    switch (ActionOf(pair.code)) {
      case mcStarted:
        ShowReceivingProtocol();
        break;
      case mcCompleted:
        DownloadCompleted();
        StopSession();
        if (batchActive) NextPlaylistTrack();
        break;
      case mcNewTrack:
        NewTrackDetected();
        break;
      case mcFatal:
        // A failure of the download (not of an action of the window's, such as Preview).
        if (!pair.text.empty() &&
            (batchActive || saveFile || (Session->Started() && !Session->Finished())))
          NotifyUnattended("Recording failed", pair.text + "\n" + SaveWindow.Caption);
        FinishSaveFile();
        HTTPSocket.Disconnect();
        StopSession();
        if (batchActive) NextPlaylistTrack();
        break;
      default:
        break;
    }
  }
  EndPreviousSession(false);
  NoteMediaAgain();
  if (Session->IsConnected()) {
    SetRunningControls();
  } else {
    SetIdleControls();
  }
}

// ---- Finishing ----

bool TMainForm::FinishSaveFile() {
  SetStatusLabel(0);
  bool sound = true;
  if (saveFile) {
    const SessionStatus s = Session->Status();
    const int32_t kind = s.StreamKind;
    // A stream download that never saved a media packet holds at most a header: nothing to play
    // or resume, and in the way of the retry.
    const bool nothingRecorded =
        !saveFile->AnyPacketWritten() && (kind & skProgressive) == 0 && s.Progressive == 0;
    const bool fixUps = s.PacketNumber > 0 && kind != 0 && (kind & skProgressive) == 0;
    // Someone removed the file while it was being written: what it held goes with its descriptor,
    // and calling that a completed recording would lose it without a word.
    const bool unlinked = saveFile->Unlinked();
    const TSaveFile::FinishResult result = saveFile->Finish(Asf, fixUps);
    if (unlinked) {
      Messages.Post("The save file was deleted during the download: " + SaveWindow.Caption,
                    mcFatal);
      sound = false;
    }
    if (!result.packetsWritten) {
      Messages.Post("Could not access local file to write data packet", mcFatal);
      sound = false;
    }
    if (result.fixedUp && !(result.header && result.timecode && result.index)) sound = false;
    if (result.fixedUp) {
      if (result.header) {
        Messages.Post("- ASF header was successfully updated", mcNotice);
      } else {
        Messages.Post("- Error updating ASF file header", mcFatal);
      }
      if (result.timecode) {
        Messages.Post("- ASF end resume timecode written", mcNotice);
      } else {
        Messages.Post("- Error writing end timecode to file", mcFatal);
      }
      if (result.index) {
        Messages.Post("- ASF index seeking object written", mcNotice);
      } else {
        Messages.Post("- Error writing ASF file index object to file", mcFatal);
      }
      Session->ForgetStreamKind();
    }
    RemoveEmptyCreatedSaveFile(nothingRecorded);
    struct stat info {};
    if (::stat(SaveWindow.Caption.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      last_kept_file_ = SaveWindow.Caption;
  }
  created_save_path_.clear();
  const bool followed = saveFile && InfoShown() && peers_.InfoDialog->Growing();
  saveFile.reset();
  // The file is whole now: the dialog shows its finished header instead of the growing figures.
  if (followed) LoadInfoDialog();
  return sound;
}

void TMainForm::RemoveEmptyCreatedSaveFile(bool nothingRecorded) {
  // A connection that failed before any media arrived leaves nothing worth keeping; a file that
  // was there before, or that holds media, is never touched.
  if (created_save_path_.empty()) return;
  struct stat info {};
  if (::lstat(created_save_path_.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      (info.st_size == 0 || nothingRecorded))
    ::unlink(created_save_path_.c_str());
}

SessionTimeouts TMainForm::StoredTimeouts() const {
  SessionTimeouts t;
  const auto read = [this](const char* name, int32_t& target) {
    const std::string text = Helper.ReadSetting(kSettingsKeyPath, name);
    if (text.empty()) return;
    if (auto value = TryStrToInt(text); value && *value >= 0 && *value <= 86400) target = *value;
  };
  read("ConnectTimeout", t.ConnectSeconds);
  read("AnswerTimeout", t.AnswerSeconds);
  read("FirstDataTimeout", t.FirstDataSeconds);
  read("StallTimeout", t.StallSeconds);
  return t;
}

void TMainForm::DownloadCompleted() {
  // A file that could not be written or finished is not a completed download; the failure is
  // posted and ends it.
  if (!FinishSaveFile()) return;
  const uint32_t missing = Session->Status().LostPackets;
  Messages.Post(missing == 0 ? std::string("- ** DOWNLOAD COMPLETED ** -")
                             : "- ** DOWNLOAD COMPLETED ** - (" + THelper::IntText(missing) +
                                   " packets missing)",
                mcNotice);
  NotifyUnattended(
      "Recording completed",
      SaveWindow.Caption +
          (missing == 0 ? std::string() : "\n" + THelper::IntText(missing) + " packets missing"));
  ProgBar.Gauge.SetProgress(100);
  gauge_complete_ = true;
  if (unattended) return;
  TOptionsDialog* options = peers_.OptionsDialog;
  if (options && options->AutoLogTick.Checked) SaveLog1Click();
  if (options && options->AutoPlayTick.Checked) {
    Messages.Post("Media Loaded -> Player activated", mcNotice);
    OpenMonitor1Click();
  }
}

void TMainForm::ShowReceivingProtocol() {
  const uint32_t flags = Session->ProtocolFlags;
  const char* name = (flags & pfHttp)                    ? "HTTP"
                     : (flags & (pfRtspUdp | pfRtspTcp)) ? "RTSP"
                     : (flags & pfMmsUdp)                ? "MMS via UDP"
                     : (flags & pfMmsTcp)                ? "MMS via TCP"
                                                         : "unknown";
  Messages.Post(std::string("- Receiving ") + name + " protocol streams -", mcNotice);
  ProgBar.Gauge.SetShowText(Asf.ReadTotals().TotalDataPackets != 0);
  // An open information dialog turns to the download that has just begun.
  if (InfoShown()) LoadInfoDialog();
  const int32_t kind = Session->Status().StreamKind;
  SetStatusLabel((kind & skLive) ? 2 : (kind & skPrerecorded) ? 1 : (kind & skProgressive) ? 4 : 0);
}

void TMainForm::NewTrackDetected() {
  SeparateLog();
  Messages.Post("Media changing.. new track detected", mcMedia);
  unattended = true;
  // The old file is finished now (its session writes nothing after the change), but the session
  // goes on receiving: what the server sends meanwhile is the next entry's start, which a new
  // connection joins too late to see.
  EndPreviousSession(true);
  FinishSaveFile();
  next_entry_ = Session->NextEntry;
  previous_session_ = std::move(Session);
  Session = std::make_unique<TMMS>();
  Session->Messages = &Messages;
  continuing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{continuing_};
  ConnectionSingleClick();
  next_entry_.reset();
}

void TMainForm::EndPreviousSession(bool force) {
  if (!previous_session_) return;
  const bool taken = !previous_session_->NextEntry || previous_session_->NextEntry->Taken();
  // Kept receiving only while the next session may still take what it keeps.
  if (!force && !taken && Session->Started() && !Session->Finished() && !Session->Terminated())
    return;
  previous_session_->Stop();
  std::unique_ptr<TMMS> ending = std::move(previous_session_);
  ending.reset();  // waits for its threads, serving the window's handovers meanwhile
}

void TMainForm::NextPlaylistTrack() {
  if (batchIndex < urlCount) {
    URL.Text = urlList[static_cast<size_t>(batchIndex)];
    SeparateLog();
    Messages.Post("Media changing.. new playlist track", mcMedia);
    // Counted before the start: a start that throws must not replay the same entry forever.
    const int32_t entry = batchIndex;
    batchIndex = entry + 1;
    ConnectionSingleClick();
  } else {
    unattended = false;
    batchActive = false;
  }
}

// ---- Labels and controls ----

void TMainForm::SetStatusLabel(int32_t n) {
  TLabel* labels[] = {&Standby, &PreRec, &Live, &VCR, &Progressive};
  for (TLabel* label : labels) label->Visible = false;
  if (n >= 0 && n <= 4) {
    labels[n]->Visible = true;
  } else {
    Messages.Post("Qor Main APP: bad status bar value internal error", mcFatal);
  }
}

void TMainForm::SetRunningControls() {
  for (TMenuItem* item : {&ConnectionSingle, &ConnectionBatch, &Open1}) item->Enabled = false;
  for (TButton* button : {&ConnectBatch, &Connect, &Open}) button->Enabled = false;
  Abort.Enabled = true;
  Disconnection.Enabled = true;
  const uint32_t flags = Session->ProtocolFlags;
  ProtoDisp.Text = (flags & pfMmsUdp) ? "UDP" : (flags & pfMmsTcp) ? "TCP" : "HTTP";
}

void TMainForm::SetIdleControls() {
  for (TMenuItem* item : {&ConnectionSingle, &ConnectionBatch, &Open1}) item->Enabled = true;
  for (TButton* button : {&ConnectBatch, &Connect, &Open}) button->Enabled = true;
  Abort.Enabled = false;
  Disconnection.Enabled = false;
  ProtoDisp.Text.clear();
}

void TMainForm::ResetSessionDisplay() {
  Asf.Reset();
  // Every way a download ends has finished the file already (a restart finishes it first).
  saveFile.reset();
  resumeSave = false;
  hostText.clear();
  pathText.clear();
  SetStatusLabel(0);
  ProgBar.Gauge.SetProgress(0);
  gauge_complete_ = false;
  ProgBar.Gauge.SetShowText(false);
  TimeTotal.Text.clear();
  SendTime.Text.clear();
  ProtoDisp.Text.clear();
  // What an open information dialog shows belongs to what went before.
  if (InfoShown()) peers_.InfoDialog->Clear();
}

// ---- Actions ----

void TMainForm::DisconnectionClick() {
  desktop_.Repaint();
  CancelReconnect();
  FinishSaveFile();
  StopSession();
  attempts_.clear();
  batchActive = false;
  unattended = false;
}

std::string TMainForm::LocalMediaFile() const {
  if (IsLocalMediaName(SaveWindow.Caption)) return SaveWindow.Caption;
  if (IsLocalMediaName(MediaWindow.Caption)) return MediaWindow.Caption;
  return std::string();
}

void TMainForm::ShowFileProperties1Click() {
  desktop_.Repaint();
  if (!peers_.InfoDialog) return;
  LoadInfoDialog();
  desktop_.ShowModeless(*peers_.InfoDialog);
}

bool TMainForm::InfoShown() const {
  return peers_.InfoDialog && peers_.InfoDialog->Visible;
}

void TMainForm::LoadInfoDialog() {
  TInfoDialog& dialog = *peers_.InfoDialog;
  const std::string file = LocalMediaFile();
  const bool started = Session->Started();
  // Nothing to describe (no file named and no download): the pages stay empty rather than show a
  // header left over from something else.
  if (file.empty() && !started) {
    dialog.Clear();
    return;
  }
  // While a session thread runs, the shared model is its own to parse into and to read from; the
  // file's header is read into a model of the dialog's instead.
  const bool sessionRuns = started && !Session->Finished();
  const bool growing = sessionRuns && saveFile && file == SaveWindow.Caption;
  TASF fileModel;
  // A file still being written may not hold its header yet: no failure to report then, the
  // download's own model describes it.
  if (!growing) fileModel.Messages = &Messages;
  TASF& model = sessionRuns && !file.empty() ? fileModel : Asf;
  const bool read = !file.empty() && model.ReadHeaderFromFile(file);
  TASF& shown = growing && !read ? Asf : model;
  // The site is where the media came from: the location being (or last) downloaded, which in a
  // batch is an entry of the play list named in MediaWindow.
  const std::string site = started ? downloading_location_ : file;
  const std::string unfinished = read && !growing ? UnfinishedRecordingNote(file) : std::string();
  dialog.Load(shown, Session.get(), site, growing ? file : std::string(), unfinished);
}

void TMainForm::OpenMonitor1Click() {
  desktop_.Repaint();
  const std::string file = LocalMediaFile();
  if (file.empty()) {
    Messages.Post("No valid media type to open player", mcFatal);
    return;
  }
  OpenWithShell(file);
}

void TMainForm::OpenWithShell(const std::string& location) {
  if (desktop_.OpenWithShell(location) > 32) return;
  desktop_.MessageBox("The following file failed to open:  " + location +
                          "\n\nNo application is associated with this location or file on your "
                          "computer\nYou can try opening this file manually, or associate your "
                          "own software",
                      kProductName, TMsgDlgType::Warning, mbOK);
}

void TMainForm::Exit1Click() {
  desktop_.Repaint();
  RequestClose();
}

bool TMainForm::RequestClose() {
  if (closed_) return true;
  if (OnCloseQuery && !OnCloseQuery()) return false;
  // Closing finishes the file, so the recording is safe either way; the question is whether the
  // user meant to end it.
  if ((saveFile || Session->IsConnected() || Reconnecting()) &&
      !desktop_.Confirm(kQuitWhileRecordingQuestion))
    return false;
  Close();
  return closed_;
}

void TMainForm::GridGroupClick() {
  const int32_t i = GridGroup.ItemIndex;
  if (i < 0 || i >= GridGroup.Items.Count()) return;
  if (GridGroup.Items[i] == "Grid On") PerformanceGraph1.SetGridlines(true);
  if (GridGroup.Items[i] == "Grid Off") PerformanceGraph1.SetGridlines(false);
}

void TMainForm::StyleGroupClick() {
  const int32_t i = StyleGroup.ItemIndex;
  if (i < 0 || i >= StyleGroup.Items.Count()) return;
  if (StyleGroup.Items[i] == "Lines") PerformanceGraph1.SetKind(pgLine);
  if (StyleGroup.Items[i] == "Bars") PerformanceGraph1.SetKind(pgBar);
}

void TMainForm::LogWindowChange() {
  // The newest line is where the user looks; a front end without focus ignores it.
  LogWindow.SetFocus();
}

}  // namespace qor
