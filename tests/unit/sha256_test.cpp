#include "framework/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char k448Bit[] = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
const char kMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
const char k448BitMessage[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

TEST(Sha256, PublishedVectors) {
  EXPECT_EQ(Sha256Hex("", 0), kEmpty);
  EXPECT_EQ(Sha256Hex("abc", 3), kAbc);
  EXPECT_EQ(Sha256Hex(k448BitMessage, 56), k448Bit);
  std::string million(1000000, 'a');
  EXPECT_EQ(Sha256Hex(million.data(), million.size()), kMillionA);
}

// A download arrives in pieces of any size: every split of a message must
// give the digest of the whole, including splits at and around the 64-byte
// block edge and the 56-byte padding limit.
TEST(Sha256, PiecesGiveTheSameDigestAsTheWhole) {
  std::string message;
  for (int i = 0; i < 300; ++i) message += static_cast<char>(i * 37 + 11);
  for (size_t total : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    std::string whole = Sha256Hex(message.data(), total);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 100u}) {
      Sha256 sha;
      for (size_t at = 0; at < total; at += piece)
        sha.Update(message.data() + at, std::min(piece, total - at));
      EXPECT_EQ(sha.FinalHex(), whole) << "total " << total << " piece " << piece;
    }
  }
  Sha256 sha;
  for (int i = 0; i < 1000; ++i) sha.Update(std::string(1000, 'a').data(), 1000);
  EXPECT_EQ(sha.FinalHex(), kMillionA);
}

TEST(Sha256, FinalStartsOver) {
  Sha256 sha;
  sha.Update("abc", 3);
  EXPECT_EQ(sha.FinalHex(), kAbc);
  EXPECT_EQ(sha.FinalHex(), kEmpty);
}

TEST(Sha256, PinComparison) {
  EXPECT_TRUE(DigestMatchesPin(kAbc, kAbc));
  std::string upper = kAbc;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  EXPECT_TRUE(DigestMatchesPin(kAbc, upper));
  // No pin, or a malformed one, must never let a file through.
  EXPECT_FALSE(DigestMatchesPin(kAbc, ""));
  EXPECT_FALSE(DigestMatchesPin(kAbc, std::string(kAbc).substr(0, 63)));
  EXPECT_FALSE(DigestMatchesPin(kAbc, std::string(kAbc) + "0"));
  std::string bad = kAbc;
  bad[10] = 'g';
  EXPECT_FALSE(DigestMatchesPin(bad, bad));
  EXPECT_FALSE(DigestMatchesPin(kAbc, kEmpty));
  EXPECT_FALSE(DigestMatchesPin("", ""));
}

TEST(Sha256, PinListAcceptsAnyPinAndFailsClosedOnAnyBadToken) {
  const std::string abc = kAbc, empty = kEmpty;
  const std::pair<std::string, size_t> cases[] = {  // list, usable pins
      {abc, 1}, {abc + "\r\n", 1}, {empty + "\n" + abc + "\n", 2}, {empty + " \t" + abc, 2}, {"\n", 0},
      {abc + "\n" + empty.substr(1), 0}, {abc + "\nx" + empty.substr(1), 0}, {abc + empty, 0},
      {abc + std::string(1, '\0') + empty, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, ParsePins(c.first).size()) << c.first;
    EXPECT_EQ(c.second > 0, DigestMatchesAnyPin(kAbc, c.first)) << c.first;
  }
}

}  // namespace
