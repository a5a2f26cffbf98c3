// Joining a cut stream again: a live one into the next file, a pre-recorded one by resuming its
// own, with pauses that double between attempts.

#include <algorithm>

#include "app/convert_error.h"
#include "app/main_form.h"
#include "app/options_dialog.h"

namespace qor {

int32_t TMainForm::ReconnectLimit() const {
  if (ReconnectOverride) return *ReconnectOverride;
  // The options dialog's edit is the live setting; empty means the default.
  const std::optional<int32_t> stored =
      peers_.OptionsDialog ? TryStrToInt(peers_.OptionsDialog->Reconnects.Text) : std::nullopt;
  if (stored && *stored >= 0) return *stored;
  return started_unattended_ ? kDefaultReconnects : 0;
}

bool TMainForm::ShouldReconnect() const {
  if (closed_ || reconnect_tries_ >= ReconnectLimit()) return false;
  // An attempt that has not brought media back failed on its way in: try again.
  if (reconnect_attempt_ && !Session->MediaArrived()) return true;
  // A live stream that was streaming and was closed, reset or went silent. A pre-recorded one
  // resumes into its own file instead (the resume path); a failure of our own (the disk) is no
  // cut.
  const SessionStatus status = Session->Status();
  return (status.StreamKind & (skLive | skPrerecorded)) != 0 && status.MediaArrived &&
         status.StreamCut;
}

void TMainForm::ScheduleReconnect() {
  // An attempt that brought media back and was cut before the drain noticed: that earlier cut
  // is over, and this is a new one.
  NoteMediaAgain();
  const int64_t now = window_.GetClock().MonotonicMs();
  if (cut_at_ms_ < 0) {
    cut_at_ms_ = now;
    ++cuts_.cuts;
    resume_again_path_ =
        (Session->Status().StreamKind & skPrerecorded) != 0 ? SaveWindow.Caption : std::string();
  }
  if (!resume_again_path_.empty() && saveFile)
    index_at_cut_ = std::max(index_at_cut_, saveFile->HighestIndex());
  // The file holds what arrived; the next one goes on from where the stream is found again.
  FinishSaveFile();
  StopSession();
  const int32_t pause =
      std::min(kMaxReconnectPauseMs, 1000 << std::min(reconnect_tries_, int32_t{15}));
  ++reconnect_tries_;
  Messages.Post(std::string(resume_again_path_.empty() ? "- The live stream" : "- The stream") +
                    " was cut (" + THelper::IntText(cuts_.cuts) +
                    " so far): " + "reconnecting in " + THelper::IntText(pause / 1000) +
                    " s (attempt " + THelper::IntText(reconnect_tries_) + " of " +
                    THelper::IntText(ReconnectLimit()) + ")",
                mcWarning);
  ReconnectTimer.SetInterval(pause);
  ReconnectTimer.SetEnabled(true);
  NotifyUnattended("Stream cut", "Reconnecting in " + THelper::IntText(pause / 1000) +
                                     " s (attempt " + THelper::IntText(reconnect_tries_) + " of " +
                                     THelper::IntText(ReconnectLimit()) + ")");
}

void TMainForm::NotifyUnattended(const std::string& summary, const std::string& body) {
  if (unattended || started_unattended_) desktop_.Notify(summary, body);
}

void TMainForm::ReconnectTimerTimer() {
  ReconnectTimer.SetEnabled(false);
  if (closed_ || cut_at_ms_ < 0) return;
  // A live recording goes on into the next automatically named file, as after a new track; a
  // pre-recorded clip resumes in its own file.
  if (resume_again_path_.empty()) unattended = true;
  reconnect_attempt_ = true;
  ConnectionSingleClick();
  if (OnReconnect) OnReconnect();
}

void TMainForm::NoteMediaAgain() {
  if (cut_at_ms_ < 0 || !reconnect_attempt_ || !Session->MediaArrived()) return;
  const int64_t lost = window_.GetClock().MonotonicMs() - cut_at_ms_;
  cuts_.lostMs += lost;
  cut_at_ms_ = -1;
  // A clip resumed in its own file is back only once it goes on past the cut: a server that
  // sends the same packets again and stalls must not be joined for ever.
  if (resume_again_path_.empty()) {
    reconnect_tries_ = 0;
    index_at_cut_ = -1;
  }
  reconnect_attempt_ = false;
  resume_again_path_.clear();
  Messages.Post("- Reconnected: " + THelper::FormatTime(static_cast<double>(lost)) +
                    " lost at this cut, " + THelper::IntText(cuts_.cuts) + " cuts in all",
                mcNotice);
}

void TMainForm::NoteProgressPastCut() {
  if (index_at_cut_ < 0 || cut_at_ms_ >= 0 || !saveFile) return;
  if (saveFile->HighestIndex() <= index_at_cut_) return;
  reconnect_tries_ = 0;
  index_at_cut_ = -1;
}

void TMainForm::CancelReconnect() {
  ReconnectTimer.SetEnabled(false);
  if (cut_at_ms_ >= 0) cuts_.lostMs += window_.GetClock().MonotonicMs() - cut_at_ms_;
  cut_at_ms_ = -1;
  reconnect_attempt_ = false;
  resume_again_path_.clear();
}

TMainForm::CutCounts TMainForm::Cuts() const {
  CutCounts counts = cuts_;
  if (cut_at_ms_ >= 0) counts.lostMs += window_.GetClock().MonotonicMs() - cut_at_ms_;
  return counts;
}

}  // namespace qor
