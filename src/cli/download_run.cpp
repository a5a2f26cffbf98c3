#include "cli/download_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "app/date_time_text.h"
#include "cli/exit_status.h"

namespace qor::cli {

namespace {

// Lock-free, so the handler may set it; atomic, because other threads than the one the signal
// lands on read it.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Written by the handler so that a watcher can sleep until the interrupt instead of polling.
int g_interrupt_pipe[2] = {-1, -1};

extern "C" void OnInterrupt(int) {
  const int saved = errno;  // the interrupted code may be about to read it
  g_interrupted.store(1);
  if (g_interrupt_pipe[1] >= 0) {
    const char mark = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interrupt_pipe[1], &mark, 1);
  }
  errno = saved;
}

// How long the connection may stay down after streaming began before the run counts the stream
// as ended by the server (the MMS over HTTP exchange reconnects in between, so not at once).
constexpr int64_t kIdleGraceMs = 2000;
// A pass of the run's loop ends early on an interruption, the end of the stream or a failure; at
// its length it looks for what raises no event (a connection that stays down, the recording
// window's end) and refreshes the progress, which the window updates every 200 ms.
constexpr int64_t kShownPassMs = 200;
constexpr int64_t kQuietPassMs = 1000;

TColor ColourFor(uint32_t code) {
  const Rgb rgb = RgbOf(ColourOf(code));
  return TColor{rgb.r, rgb.g, rgb.b};
}

}  // namespace

void InstallInterruptHandler() {
  if (g_interrupt_pipe[0] < 0 && ::pipe2(g_interrupt_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    g_interrupt_pipe[0] = g_interrupt_pipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or a logout must not leave a file its header misdescribes.
  sigaction(SIGHUP, &action, nullptr);
}

bool Interrupted() {
  return g_interrupted.load() != 0;
}

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt) {
  if (::pipe2(stop_, O_CLOEXEC) != 0) return;
  thread_ = std::thread([this, onInterrupt = std::move(onInterrupt)] {
    pollfd watch[2] = {{stop_[0], POLLIN, 0}, {g_interrupt_pipe[0], POLLIN, 0}};
    while (!Interrupted()) {
      const int ready = ::poll(watch, 2, -1);
      if (ready < 0 && errno != EINTR) return;
      if (watch[0].revents != 0) return;
    }
    onInterrupt();
  });
}

InterruptWatch::~InterruptWatch() {
  if (stop_[1] >= 0) {
    const char mark = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_[1], &mark, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : stop_)
    if (fd >= 0) ::close(fd);
}

DownloadRun::DownloadRun(const CliOptions& options, TerminalOutput& out)
    : options_(options), out_(out), settings_(options) {}

DownloadRun::~DownloadRun() {
  report_.reset();
  app_.reset();
}

void DownloadRun::Setup() {
  desktop_.SaveFile = options_.output;
  desktop_.Resume = options_.resume      ? CliDesktop::ResumeAnswer::Resume
                    : options_.overwrite ? CliDesktop::ResumeAnswer::Overwrite
                                         : CliDesktop::ResumeAnswer::Refuse;
  app_ = MakeRunForms(options_, desktop_);
  report_ = std::make_unique<RunReport>(options_, out_, *app_);
  TMainForm& form = *app_->MainForm;
  form.OnDrained = [this](const MessagePair& pair, bool acts) { OnDrained(pair, acts); };
  // The next transport starts from the beginning: its connection is not up yet.
  form.OnTransportRollover = [this] { started_ = false; };
  form.OnReconnect = [this] { started_ = false; };
  form.URL.Text = options_.url;
  form.MediaWindow.Caption = options_.url;
  // The window's display tick feeds only the progress line and the JSON progress; without them
  // it would wake the run five times a second for nothing.
  if (!report_->ShowsProgress()) form.Timer1.SetEnabled(false);
}

void DownloadRun::OnDrained(const MessagePair& pair, bool acts) {
  if (!pair.text.empty()) out_.LogLine("> " + pair.text, ColourFor(pair.code));
  if (!acts) return;
  switch (ActionOf(pair.code)) {
    case mcStarted:
      started_ = true;
      break;
    case mcCompleted:
      completed_ = true;
      break;
    case mcFatal:
      if (completed_) {
        fatal_after_completion_ = true;
      } else {
        fatal_ = true;
      }
      break;
    default:
      break;
  }
}

void DownloadRun::ServeFor(int64_t ms) {
  app_->Window.ProcessUntil([this] { return Interrupted() || completed_ || fatal_; }, ms);
}

int64_t DownloadRun::PassMs() const {
  return report_->ShowsProgress() ? kShownPassMs : kQuietPassMs;
}

int DownloadRun::FailedStatus() {
  TMainForm& form = *app_->MainForm;
  // A cut stream whose file is gone (removed by someone else while it was written) kept nothing.
  struct stat info {};
  const std::string& file = form.SaveWindow.Caption;
  const bool onDisk = !file.empty() && ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  // A cut stream whose last attempt to join again failed still finished its files.
  if ((form.Session->Status().StreamCut && onDisk) || form.Cuts().cuts > 0) {
    out_.Note("the stream was cut before its end; the file was finished with what arrived");
    return kExitClosedEarly;
  }
  return kExitFailed;
}

int DownloadRun::CompletedStatus() {
  if (fatal_after_completion_) return kExitFailed;
  return app_->MainForm->Session->Status().LostPackets > 0 ? kExitMissing : kExitCompleted;
}

int DownloadRun::Done(int status) {
  TMainForm& form = *app_->MainForm;
  form.Timer3Timer();
  out_.EndProgress();
  report_->Summary(report_->Current());
  if (options_.logFile && !form.SaveLogFile()) {
    form.Timer3Timer();
    out_.Note("the log could not be saved to " + *options_.logFile);
    if (status == kExitCompleted) status = kExitFailed;
  }
  report_->WriteSummary(status);
  return status;
}

int DownloadRun::Interrupt() {
  TMainForm& form = *app_->MainForm;
  form.DisconnectionClick();
  form.Session->WaitFor();
  form.Timer3Timer();
  out_.EndProgress();
  out_.Note("interrupted; the download was stopped and its file finished");
  return Done(kExitInterrupted);
}

int DownloadRun::Get() {
  if (!PrepareFolder(options_, out_)) return kExitFailed;
  Setup();
  TMainForm& form = *app_->MainForm;
  if (!options_.output) form.unattended = true;
  // Queued, so an exception of the start reaches the window's exception handler.
  app_->Window.Queue([&form] { form.ConnectionSingleClick(); });
  int64_t idle_since = -1;
  for (;;) {
    int64_t pass = PassMs();
    if (idle_since >= 0) {
      const int64_t left = idle_since + kIdleGraceMs - app_->Window.GetClock().MonotonicMs();
      pass = std::clamp<int64_t>(left, 1, pass);
    }
    ServeFor(pass);
    if (Interrupted()) return Interrupt();
    report_->Progress(started_);
    if (completed_) {
      form.Timer3Timer();
      return Done(CompletedStatus());
    }
    if (fatal_) {
      out_.EndProgress();
      if (desktop_.ResumeRefused) {
        out_.Note(desktop_.RefusedFile +
                  " already holds data and was not touched; give --resume to continue it or "
                  "--overwrite to replace it");
      }
      return Done(FailedStatus());
    }
    const int64_t now = app_->Window.GetClock().MonotonicMs();
    // A cut live stream that is being joined again is not the end of the run.
    if (started_ && !form.Session->IsConnected() && !form.Reconnecting()) {
      if (idle_since < 0) idle_since = now;
      if (now - idle_since >= kIdleGraceMs) {
        // The server ended the stream by closing the connection: finish the file as an abort
        // does, and say so.
        form.DisconnectionClick();
        form.Session->WaitFor();
        form.Timer3Timer();
        out_.EndProgress();
        out_.Note(
            "the server closed the connection before the end of the stream; the file was "
            "finished");
        return Done(fatal_ ? kExitFailed : kExitClosedEarly);
      }
    } else {
      idle_since = -1;
    }
  }
}

int DownloadRun::Record() {
  if (!PrepareFolder(options_, out_)) return kExitFailed;
  Setup();
  TMainForm& form = *app_->MainForm;
  desktop_.VcrStart = ParseStoredDateTime(options_.start).value_or(0);
  desktop_.VcrEnd = ParseStoredDateTime(options_.end).value_or(0);
  form.VcrTimeSet1Click();
  form.VCROn1Click();
  form.Timer3Timer();
  out_.Note("waiting for " + options_.start + " to record until " + options_.end);
  bool recorded = false;
  for (;;) {
    ServeFor(PassMs());
    if (Interrupted()) {
      if (form.VcrArmed()) form.VCROn1Click();
      return Interrupt();
    }
    report_->Progress(started_);
    if (form.vcrRecording) recorded = true;
    if (completed_) {
      // Pre-recorded media may end before the end moment: nothing is left to wait for.
      if (form.VcrArmed()) form.VCROn1Click();
      form.Timer3Timer();
      return Done(CompletedStatus());
    }
    if (fatal_ && !form.Reconnecting()) {
      // The download has ended and nothing follows it: no reconnect is left, and the VCR
      // starts only one recording. Waiting for the end moment would only wait.
      if (form.VcrArmed()) form.VCROn1Click();
      form.Timer3Timer();
      return Done(FailedStatus());
    }
    if (recorded && !form.vcrRecording && !form.Timer4.Enabled()) {
      form.Timer3Timer();
      if (form.VcrEndedInACut()) {
        out_.Note("the end moment came while the cut stream was being joined again");
        return Done(kExitClosedEarly);
      }
      return Done(fatal_ ? FailedStatus() : !started_ ? kExitFailed : CompletedStatus());
    }
    if (!recorded && LocalNow(app_->Window.GetClock()) >= form.vcrStop) {
      // The whole window is behind us: nothing will ever start.
      if (form.VcrArmed()) form.VCROn1Click();
      form.Timer3Timer();
      out_.Note("the recording window ended before anything was recorded");
      return Done(kExitFailed);
    }
  }
}

}  // namespace qor::cli
