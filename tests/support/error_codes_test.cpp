#include "support/error_codes.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(ErrorCodes, WinSockRangeGivesTheWinSockNumber) {
  TErrorCodeHandler handler;
  EXPECT_EQ(handler.GetErrorText(0x8007274D), "Error encountered in WinSock, code = 10061");
  EXPECT_EQ(handler.GetErrorText(0x80072711), "Error encountered in WinSock, code = 10001");
  EXPECT_EQ(handler.GetErrorText(0x80072AFC), "Error encountered in WinSock, code = 11004");
  // Just outside the range the table or the unknown text answers.
  EXPECT_EQ(handler.GetErrorText(0x80072710).find("WinSock"), std::string::npos);
  EXPECT_EQ(handler.GetErrorText(0x80072AFD).find("WinSock"), std::string::npos);
}

TEST(ErrorCodes, TableTexts) {
  TErrorCodeHandler handler;
  EXPECT_EQ(handler.GetErrorText(0x80004001), "Instruction not implemented");
  EXPECT_EQ(handler.GetErrorText(0x80070057), "A parameter in the location given is incorrect");
  EXPECT_EQ(handler.GetErrorText(0xC00D2EE2), "There was a server internal error");
  EXPECT_EQ(handler.GetErrorText(0xC00D0BBE),
            "You need a licence to perform the requested operation on this media file");
  // Shared texts.
  EXPECT_EQ(handler.GetErrorText(0x80004005), handler.GetErrorText(0xC00D001D));
  EXPECT_EQ(handler.GetErrorText(0xC00D0026), handler.GetErrorText(0xC00D07E2));
}

TEST(ErrorCodes, RefusedConnectionIsThreeLines) {
  TErrorCodeHandler handler;
  EXPECT_EQ(handler.GetErrorText(0xFFFFB003),
            "The server is refusing to connect.\n"
            "This could possibly be caused by a server that requires\n"
            "another open client port or a player plugin to be installed.");
}

TEST(ErrorCodes, UnknownCodesShowTheirNumber) {
  TErrorCodeHandler handler;
  const std::string prefix =
      "\n ### Unknown server error code ###\nPlease report this number to Qor:\n";
  EXPECT_EQ(handler.GetErrorText(0xC00D0001), prefix + "0xC00D0001");
  EXPECT_EQ(handler.GetErrorText(0x80070006), prefix + "0x80070006");
  EXPECT_EQ(handler.GetErrorText(0xC00D0011), prefix + "0xC00D0011");
  EXPECT_EQ(handler.GetErrorText(0xabc), prefix + "0x0ABC");
  EXPECT_EQ(handler.GetErrorText(0), prefix + "0x0000");
  EXPECT_EQ(handler.GetErrorText(0x1ABCD), prefix + "0x1ABCD");
}

}  // namespace
}  // namespace qor
