// Builds the media information report.

#include "asf/media_info.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "support/helper.h"

namespace qor {

namespace {

std::string Decimal(uint64_t value) {
  return std::to_string(value);
}
std::string Signed(uint32_t value) {
  return std::to_string(static_cast<int32_t>(value));
}

}  // namespace

std::string StreamDescription(const TASF& asf, uint32_t k) {
  const uint8_t kind = asf.StreamKinds[k];
  if ((kind & skVideo) != 0)
    return "[Video]\tWidth = " + Signed(asf.VideoWidths[k]) +
           "\tHeight = " + Signed(asf.VideoHeights[k]);
  if ((kind & skAudio) != 0) {
    std::string text = "[Audio] ";
    if ((kind & skErrorCorrected) != 0) text += "\tAudio Correction";
    return text + "\tRate = " + Signed(asf.AudioSampleRates[k]) +
           "\tChannels = " + std::to_string(asf.AudioChannels[k]);
  }
  if ((kind & skCommand) != 0) return "[Command] ";
  if ((kind & skOther) != 0) return "[unknown type - script?] ";
  return "[fault] ";
}

MediaInfoReport BuildMediaInfo(const TASF& asf, const MediaInfoSession& session) {
  MediaInfoReport r;

  r.Clip = asf.Title;
  r.Author = asf.Author;
  r.Copyright = asf.Copyright;
  r.Rating = asf.Rating;
  r.Description = asf.Description;
  r.Location = session.location;
  r.ServerVer = session.serverVersion;
  r.ToolVer = session.toolVersion;
  r.UpdateUrl = session.updateUrl;
  r.EncryptionType = session.encryptionType;

  r.ASFPacket = Decimal(asf.PacketSize);
  r.ASFHead = Decimal(asf.HeaderLength);
  r.ASFTotalPackets = session.live ? "Live" : Decimal(asf.TotalDataPackets);
  r.AllMaxBitRate = Decimal(asf.MaxBitrate / 1000);

  const uint32_t extended = std::min(asf.ExtendedCount, kAsfSlots);
  for (uint32_t k = 0; k < extended; ++k)
    r.ExtContent.push_back(asf.ExtendedNames[k] + ":\t" + asf.ExtendedValues[k]);

  const uint32_t codecs = std::min(asf.CodecCount, kAsfSlots);
  for (uint32_t k = 0; k < codecs; ++k) {
    const uint32_t kind = asf.CodecKinds[k];
    if ((kind & ckAudio) != 0) r.Codecs.push_back("------- AUDIO CODEC ------");
    if ((kind & ckVideo) != 0) r.Codecs.push_back("------- VIDEO CODEC ------");
    if ((kind & ckUnknown) != 0) r.Codecs.push_back("------ INVALID CODEC -----");
    r.Codecs.push_back("Codec Name:\t" + asf.CodecNames[k]);
    r.Codecs.push_back("Codec Desc:\t" + asf.CodecDescriptions[k]);
    r.Codecs.push_back("Codec Info:\t" + asf.CodecInformation[k]);
  }

  r.TotalStreams = Decimal(asf.StreamCount);
  const uint32_t streams = std::min(asf.StreamCount, kAsfSlots);
  if (streams == 0) r.StreamProp.push_back("Invalid streams, there must be at least one");
  for (uint32_t k = 0; k < streams; ++k)
    r.StreamProp.push_back("Stream ID: " + Decimal(asf.StreamNumbers[k]) + "\t" +
                           StreamDescription(asf, k));

  const uint32_t bitrates = std::min(asf.BitrateCount, kAsfSlots);
  if (bitrates == 0) r.MBR.push_back("None available");
  for (uint32_t k = 0; k < bitrates; ++k)
    r.MBR.push_back("Stream ID: " + Decimal(asf.BitrateStreamNumbers[k]) +
                    "\tBitrate: " + Signed(asf.AverageBitrates[k]) + " bps");

  r.FileSize = session.live ? "Live" : Decimal(asf.FileSize) + " bytes";
  // A file still being written holds what has arrived so far; one cut short (a download that was
  // killed, a copy that stopped) is not what its header says: show what is there.
  if (!session.live && asf.FileLength > 0 && session.growing) {
    r.FileSize = Decimal(asf.FileLength) + " of " + Decimal(asf.FileSize) + " bytes so far";
    const uint64_t first = asf.FirstPacketOffset();
    if (asf.DataObjectOffset > 0 && asf.PacketSize > 0 && asf.FileLength > first)
      r.ASFTotalPackets = Decimal((asf.FileLength - first) / asf.PacketSize) + " of " +
                          Decimal(asf.TotalDataPackets) + " so far";
  } else if (!session.live && asf.FileLength > 0) {
    if (asf.FileLength < asf.FileSize) {
      r.FileSize = Decimal(asf.FileLength) + " bytes (truncated: the header gives " +
                   Decimal(asf.FileSize) + " bytes)";
    }
    const uint64_t first = asf.FirstPacketOffset();
    if (asf.DataObjectOffset > 0 && asf.PacketSize > 0) {
      const uint64_t present =
          asf.FileLength > first ? (asf.FileLength - first) / asf.PacketSize : 0;
      if (present < asf.TotalDataPackets) {
        r.ASFTotalPackets = Decimal(present) + " (truncated: the header gives " +
                            Decimal(asf.TotalDataPackets) + ")";
      }
    }
  }
  r.PlayDuration = THelper::FormatTime(asf.PlayDuration);
  r.SendDuration = THelper::FormatTime(asf.SendDuration);
  char preroll[48];
  std::snprintf(preroll, sizeof preroll, "%.0f", std::trunc(asf.Preroll));
  r.PreRollDuration = std::string(preroll) + " mS";
  if ((asf.FileFlags & ffBroadcast) != 0)
    r.Flag = "Live or non-seekable media";
  else if ((asf.FileFlags & ffSeekable) != 0)
    r.Flag = "Pre-recorded or seekable media";
  else
    r.Flag = "unknown";
  r.Created_Asf = asf.CreationText;
  r.Created_File = asf.FileWrittenText;
  return r;
}

}  // namespace qor
