#pragma once
// The media information report: every text the media information dialog shows, built from the
// ASF model and the session's values. Front ends only display it.

#include <string>
#include <vector>

#include "asf/asf.h"

namespace qor {

// What the report needs of the session object.
struct MediaInfoSession {
  std::string location;
  std::string serverVersion;
  std::string toolVersion;
  std::string updateUrl;
  std::string encryptionType;
  bool live = false;  // the session's stream kind is live
  // The file described is the one a running download is still writing: shorter than its header
  // says because the rest has not arrived yet, not because it was cut.
  bool growing = false;
};

// One field per control of the dialog, named after it. Memos are lists of lines.
struct MediaInfoReport {
  // "Clip"
  std::string Clip, Author, Copyright, Rating, Description, Location;
  // What a reader should know of the file as a whole: empty, or that it is an unfinished
  // recording and how to mend it (set by the dialog, which knows the file).
  std::string State;
  // "Time/Length"
  std::string FileSize, Created_Asf, Created_File, Flag, PlayDuration, SendDuration,
      PreRollDuration;
  // "Extended Data and Codecs"
  std::vector<std::string> ExtContent, Codecs;
  // "Network" (the live statistics SendTime, TotalTime, Packets, Acks, ClientID and
  // SingleMaxStreamRate are written by the progress timer while a download runs; cleared here)
  std::string ASFPacket, ASFHead, ASFTotalPackets, AllMaxBitRate, ServerVer, ToolVer, UpdateUrl,
      EncryptionType;
  std::string SendTime, TotalTime, Packets, Acks, ClientID, SingleMaxStreamRate;
  // "Stream Properties"
  std::string TotalStreams;
  std::vector<std::string> StreamProp;
  // "MBR Properties"
  std::vector<std::string> MBR;
};

// The dialog's fixed texts: caption, page titles and the captions of labelled fields.
struct MediaInfoCaptions {
  static constexpr const char* kCaption = "Media Information";
  static constexpr const char* kPages[6] = {
      "Clip",    "Time/Length",       "Extended Data and Codecs",
      "Network", "Stream Properties", "MBR Properties"};
  static constexpr const char* kLocation = "Site:";
  static constexpr const char* kCreatedAsf = "Created 1:";
  static constexpr const char* kCreatedFile = "Created 2:";
  static constexpr const char* kFlag = "Media Flag:";
  static constexpr const char* kPreRoll = "Pre-Roll:";
  static constexpr const char* kAllMaxBitRate = "All streams max rate";
  static constexpr const char* kEncryptionType = "Password Enc:";
  static constexpr const char* kOk = "&Ok";
};

// The text shown for one stream (after "Stream ID: n\t").
std::string StreamDescription(const TASF& asf, uint32_t k);

MediaInfoReport BuildMediaInfo(const TASF& asf, const MediaInfoSession& session);

}  // namespace qor
