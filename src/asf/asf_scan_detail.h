#pragma once
// Pieces of the file scan shared by its reading and its judging halves.

#include <cstddef>
#include <cstdint>

#include "asf/asf_scan.h"

namespace qor::asf_scan_detail {

enum class SlotKind : uint8_t { Media, Empty, Unreadable, PaddingOnly };

// What one packet slot holds; times are filled when it parses.
SlotKind ClassifySlot(const uint8_t* packet, size_t size, AsfPacketTimes& times);

// Turns what was read into findings, one per defect, in words a user can act on.
void JudgeScan(AsfFileScan& scan);

}  // namespace qor::asf_scan_detail
