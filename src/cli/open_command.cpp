#include "cli/open_command.h"

#include <iostream>

#include "app/http_password_dlg.h"
#include "app/options_dialog.h"
#include "cli/cli_options.h"
#include "cli/download_run.h"
#include "cli/exit_status.h"
#include "cli/info_json.h"
#include "platform/settings_store.h"
#include "support/location.h"

namespace qor::cli {

namespace {

struct OpenOptions {
  std::string location;
  std::optional<std::string> saveAs;
  std::optional<std::string> proxyHost, proxyPort;
  std::optional<std::string> user, password;
  std::optional<std::string> configDir;
  bool savePassword = false;
  bool json = false;
};

// The flags are read by the command line's table (cli_options), as every command's are.
std::string ParseOpen(const std::vector<std::string>& args, OpenOptions& o, bool& help) {
  std::vector<std::string> line{"open"};
  line.insert(line.end(), args.begin(), args.end());
  const ParseResult parsed = ParseCommandLine(line);
  const CliOptions& c = parsed.options;
  help = c.help;
  if (help || !parsed.error.empty()) return parsed.error;
  o.location = c.url;
  o.saveAs = c.output;
  o.proxyHost = c.proxyHost;
  o.proxyPort = c.proxyPort;
  o.user = c.user;
  o.password = c.password;
  o.configDir = c.configDir;
  o.savePassword = c.savePassword;
  o.json = c.json;
  return std::string();
}

// The entries of a play list with their places in it (what batch numbers its files by).
nlohmann::ordered_json OpenJson(const std::string& location, const char* kind,
                                const std::vector<std::string>& entries) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (size_t i = 0; i < entries.size(); ++i)
    list.push_back({{"index", i + 1}, {"url", HidePasswords(entries[i])}});
  return {{"location", HidePasswords(location)}, {"kind", kind}, {"entries", std::move(list)}};
}

}  // namespace

int32_t LocationDesktop::MessageBox(const std::string& text, const std::string& caption,
                                    TMsgDlgType type, uint32_t buttons) {
  if (text == kSaveLocationQuestion) return SaveListAs ? mrYes : mrNo;
  return CliDesktop::MessageBox(text, caption, type, buttons);
}

std::optional<std::string> LocationDesktop::SaveFileDialog(const TFileDialogRequest& request) {
  if (request.Title == "Save Redirector File") return SaveListAs;
  return CliDesktop::SaveFileDialog(request);
}

int32_t LocationDesktop::ShowModal(TForm& form) {
  const int32_t result = CliDesktop::ShowModal(form);
  if (dynamic_cast<THttpPasswordDlg*>(&form) && result == mrOk) CredentialsGiven = true;
  return result;
}

namespace {

TLocationLoader::Outcome OpenOnce(TApplication& app, TLocationLoader& loader,
                                  const std::string& location) {
  TMainForm& form = *app.MainForm;
  form.MediaWindow.Caption = location;
  bool done = false;
  app.Window.Queue([&loader, &done] {
    struct Done {
      bool& flag;
      ~Done() { flag = true; }
    } mark{done};
    loader.OpenLocation();
  });
  app.Window.ProcessUntil([&done] { return done; });
  form.Timer3Timer();
  return loader.LastOutcome();
}

}  // namespace

TLocationLoader::Outcome OpenInForms(TApplication& app, TLocationLoader& loader,
                                     LocationDesktop& desktop, const std::string& location) {
  desktop.CredentialsGiven = false;
  TLocationLoader::Outcome outcome = OpenOnce(app, loader, location);
  if (outcome != TLocationLoader::Outcome::ListLoaded && desktop.CredentialsGiven) {
    desktop.CredentialsGiven = false;
    outcome = OpenOnce(app, loader, location);
  }
  return outcome;
}

void LogDrained(TerminalOutput& out, const MessagePair& pair) {
  if (pair.text.empty()) return;
  const Rgb rgb = RgbOf(ColourOf(pair.code));
  out.LogLine("> " + pair.text, TColor{rgb.r, rgb.g, rgb.b});
}

std::string PlayListNote(const std::string& command, const std::string& location) {
  // Its XML saved under a media name would play nowhere; the entries are what was meant.
  if (!(THelper::ClassifyLocation(location) & lcRedirector)) return std::string();
  const std::string shown = HidePasswords(location);
  return shown + " is a play list, which " + command +
         " would save as it is rather than record: 'qor-cli open " + shown +
         "' lists its entries, 'qor-cli batch " + shown + "' downloads them";
}

int RunOpen(const std::vector<std::string>& args) {
  OpenOptions o;
  bool help = false;
  const std::string error = ParseOpen(args, o, help);
  if (help) {
    std::cout << OpenUsage();
    return kExitCompleted;
  }
  if (!error.empty()) {
    std::cerr << "qor-cli: " << error << "\nTry 'qor-cli open --help'.\n";
    return kExitUsage;
  }
  std::unique_ptr<SettingsStore> store;
  if (o.configDir) {
    store = std::make_unique<SettingsStore>(*o.configDir);
    THelper::UseStore(store.get());
  }
  THelper::AllowWritesOnly(WritableSettings(o.savePassword));
  TerminalOutput out(stderr);
  int status = kExitFailed;
  try {
    LocationDesktop desktop;
    desktop.SaveListAs = o.saveAs;
    desktop.User = o.user;
    desktop.Password = o.password;
    desktop.SavePassword = o.savePassword;
    TApplication app(desktop);
    app.CreateForms();
    TLocationLoader& loader = *app.LocationLoader;
    TMainForm& form = *app.MainForm;
    TOptionsDialog& options = *app.OptionsDialog;
    if (o.proxyHost) {
      options.HProxyTick.Checked = true;
      options.HProxyURL.Text = *o.proxyHost;
      options.HProxyPort.Text = *o.proxyPort;
    }
    options.AutoPlayTick.Checked = false;
    form.OnDrained = [&out](const MessagePair& pair, bool) { LogDrained(out, pair); };
    TLocationLoader::Outcome outcome;
    {
      // Ctrl-C cancels a fetch, whose wait wakes at once.
      InstallInterruptHandler();
      THttpClient& client = loader.HTTPSocket;
      InterruptWatch watch([&client] { client.Disconnect(); });
      outcome = OpenInForms(app, loader, desktop, o.location);
    }
    if (Interrupted()) {
      out.Note("interrupted while the location was fetched");
      form.OnDrained = nullptr;
      THelper::UseStore(nullptr);
      THelper::AllowWritesOnly(nullptr);
      return kExitInterrupted;
    }
    std::vector<std::string> entries;
    const char* kind = nullptr;
    switch (outcome) {
      case TLocationLoader::Outcome::ListLoaded:
        kind = "play_list";
        for (int32_t i = 0; i < form.urlCount; ++i)
          entries.push_back(form.urlList[static_cast<size_t>(i)]);
        break;
      case TLocationLoader::Outcome::UrlReady:
        kind = "stream";
        entries.push_back(form.URL.Text);
        break;
      case TLocationLoader::Outcome::MediaLoaded:
        kind = "media_file";
        break;
      default:
        break;
    }
    if (kind != nullptr) {
      status = kExitCompleted;
      if (o.json) {
        std::cout << JsonText(OpenJson(o.location, kind, entries));
      } else {
        for (const std::string& entry : entries) std::cout << HidePasswords(entry) << "\n";
      }
    }
    form.OnDrained = nullptr;
  } catch (const std::exception& e) {
    out.Note(e.what());
    status = kExitFailed;
  }
  THelper::UseStore(nullptr);
  THelper::AllowWritesOnly(nullptr);
  return status;
}

std::string OpenUsage() {
  return std::string(
             "Usage: qor-cli open LOCATION [flags]\n"
             "\n"
             "Opens a location as File -> Open does. A play list (.asx, .wax, .wvx, .wmx, or a\n"
             "script page that returns one), local or on a web server, is scanned for stream\n"
             "addresses: they are printed one a line on stdout. A stream or media address is\n"
             "printed as the URL ready to download. Log lines go to stderr.\n"
             "\n"
             "  -o FILE                 save a fetched play list into FILE as it was received\n"
             "  --proxy HOST:PORT       fetch through this HTTP proxy\n"
             "  --user ID --password PW answer a web server's password request (this run only)\n"
             "  --save-password         keep them for that server once it accepted them\n"
             "  --config-dir DIR        settings folder (default $XDG_CONFIG_HOME/qor)\n"
             "  --json                  print one JSON object: location, kind (play_list,\n"
             "                          stream or media_file) and entries [{index, url}]\n"
             "\n") +
         "Exit status: 0 when the location gave a list, a ready URL or a loaded media file;\n"
         "1 when it was refused or could not be read; 2 on a usage error.\n";
}

}  // namespace qor::cli
