// HTTP sign-in answers checked against published values, so the client and qor-server (which
// share this code) cannot agree on a wrong digest between themselves.

#include "support/http_auth.h"

#include <gtest/gtest.h>

namespace qor {
namespace {

TEST(HttpAuth, DigestMatchesPublishedValues) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"),
            "9e107d9d372bb6826bd81d3542a419d6");
  // 56 bytes: the length no longer fits the first block's end.
  EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  // The worked example of RFC 2617, section 3.5.
  EXPECT_EQ(DigestResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "GET",
                           "/dir/index.html", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001",
                           "0a4f113b", "auth"),
            "6629fae49393a05397450978507c4ef1");
}

TEST(HttpAuth, DigestIsChosenOverBasicAndAnsweredInFull) {
  std::vector<AuthChallenge> offered(2);
  ASSERT_TRUE(ParseAuthChallenge(" Basic realm=\"media, inc\"", offered[0]));
  EXPECT_EQ(offered[0].Param("realm"), "media, inc");
  ASSERT_TRUE(ParseAuthChallenge(
      "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
      offered[1]));
  AuthChallenge chosen;
  ASSERT_TRUE(ChooseAuthChallenge(offered, chosen));
  EXPECT_EQ(chosen.scheme, "digest");
  EXPECT_EQ(AuthorizationValue(chosen, "Mufasa", "Circle Of Life", "GET", "/dir/index.html", 1,
                               "0a4f113b"),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
            "response=\"6629fae49393a05397450978507c4ef1\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", qop=auth, nc=00000001, "
            "cnonce=\"0a4f113b\"");
  // Only Basic (or a Digest we cannot answer): Basic.
  AuthChallenge sha;
  ASSERT_TRUE(ParseAuthChallenge("Digest nonce=\"n\", algorithm=SHA-256", sha));
  ASSERT_TRUE(ChooseAuthChallenge({sha, offered[0]}, chosen));
  EXPECT_EQ(AuthorizationValue(chosen, "Aladdin", "open sesame", "GET", "/", 1, "c"),
            "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_FALSE(ChooseAuthChallenge({sha}, chosen));
  // A value cut inside its quotes reads what is there and no further.
  ASSERT_TRUE(ParseAuthChallenge("Digest realm=\"unfinished", chosen));
  EXPECT_EQ(chosen.Param("realm"), "unfinished");
  EXPECT_FALSE(ParseAuthChallenge("   ", chosen));
}

}  // namespace
}  // namespace qor
